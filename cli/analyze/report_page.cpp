// The analysis as one self-contained HTML page: no network, the two pictures
// embedded as PNG data, the curves and the segments as inline SVG.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "io/output_file.h"
#include "io/png.h"

namespace pelta_cli {

namespace {

std::string base64(const std::string& in) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= static_cast<uint8_t>(in[i + 2]);
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < in.size() ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < in.size() ? digits[v & 63] : '=';
    }
    return out;
}

uint8_t to_byte(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v * 255.0), 0L, 255L)); }

// The filter's YC samples (luma 0..4096, colour differences -2048..2048) as
// RGB, with the window's edges drawn as dashed lines.
std::vector<uint8_t> to_rgb(const std::vector<PIXEL_YC>& yc, int w, int h, int left, int right) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const PIXEL_YC& p = yc[static_cast<size_t>(y) * w + x];
            const double Y = p.y / 4096.0, cb = p.cb / 4096.0, cr = p.cr / 4096.0;
            uint8_t* o = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            const bool edge = right > left && (x == left || x == right - 1) && (y / 6) % 2 == 0;
            if (edge) {
                o[0] = 255;
                o[1] = 210;
                o[2] = 0;
                continue;
            }
            o[0] = to_byte(Y + 1.402 * cr);
            o[1] = to_byte(Y - 0.344136 * cb - 0.714136 * cr);
            o[2] = to_byte(Y + 1.772 * cb);
        }
    return rgb;
}

std::string html_escape(const std::string& s) {
    std::string o;
    for (char c : s) {
        switch (c) {
            case '&': o += "&amp;"; break;
            case '<': o += "&lt;"; break;
            case '>': o += "&gt;"; break;
            case '"': o += "&quot;"; break;
            default: o += c;
        }
    }
    return o;
}

std::string num(double v, const char* format = "%.1f") {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// A line chart of several series on a logarithmic scale of the measure, with
// an optional shaded range of x.
struct Series {
    const std::vector<double>* values;
    const char* colour;
    const char* label;
};

// x runs over 0..n-1 of each series, drawn at x_scale times its index (a
// block's values at its first column); band_lo..band_hi (in the same units
// as x_scale * index) is shaded when not empty.
std::string chart(const std::vector<Series>& series, const char* x_label, double x_scale, double x_end, int band_lo,
                  int band_hi) {
    const double W = 900, H = 260, L = 50, R = 10, T = 10, B = 40;
    size_t n = 0;
    double hi = 1.0, lo = 0.01;
    for (const Series& s : series) {
        n = std::max(n, s.values->size());
        for (double v : *s.values)
            if (std::isfinite(v)) hi = std::max(hi, v);
    }
    const double l0 = std::log10(lo), l1 = std::log10(hi) + 0.1;
    const double span = std::max(1.0, x_end);
    auto xs = [&](double x) { return L + (W - L - R) * std::clamp(x / span, 0.0, 1.0); };
    auto ys = [&](double v) {
        const double lv = std::log10(std::clamp(v, lo, hi));
        return T + (H - T - B) * (1.0 - (lv - l0) / (l1 - l0));
    };
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 900 260\" class=\"chart\">";
    if (band_hi > band_lo)
        svg += "<rect class=\"band\" x=\"" + num(xs(band_lo)) + "\" y=\"" + num(T) + "\" width=\"" +
               num(std::max(1.0, xs(band_hi) - xs(band_lo))) + "\" height=\"" + num(H - T - B) +
               "\" fill=\"#ffe9a8\"/>";
    for (double g = std::ceil(l0); g <= l1; g += 1) {
        const double y = ys(std::pow(10.0, g));
        svg += "<line x1=\"" + num(L) + "\" x2=\"" + num(W - R) + "\" y1=\"" + num(y) + "\" y2=\"" + num(y) +
               "\" stroke=\"" + (g == 0 ? "#999" : "#ddd") + "\"/><text x=\"" + num(L - 6) + "\" y=\"" +
               num(y + 4) + "\" text-anchor=\"end\" font-size=\"11\">" + num(std::pow(10.0, g), "%g") + "</text>";
    }
    svg += "<text x=\"" + num((W + L) / 2) + "\" y=\"" + num(H - 8) + "\" text-anchor=\"middle\" font-size=\"12\">" +
           x_label + "</text>";
    for (const Series& s : series) {
        std::string pts;
        for (size_t i = 0; i < s.values->size(); ++i)
            pts += num(xs(x_scale * static_cast<double>(i))) + "," + num(ys((*s.values)[i])) + " ";
        svg += "<polyline fill=\"none\" stroke-width=\"1.3\" stroke=\"" + std::string(s.colour) + "\" points=\"" +
               pts + "\"/>";
    }
    svg += "</svg><p class=\"legend\">";
    for (const Series& s : series)
        svg += "<span style=\"color:" + std::string(s.colour) + "\">&#9632;</span> " + s.label + " &nbsp; ";
    return svg + "</p>";
}

// The segments on a line of the frames looked over, coloured by kind, and
// listed below it.
std::string timeline(const Analysis& a) {
    const double W = 900, L = 10, R = 10;
    const double first = static_cast<double>(a.start), span = std::max(1.0, static_cast<double>(a.span));
    auto xs = [&](double f) { return L + (W - L - R) * std::clamp((f - first) / span, 0.0, 1.0); };
    auto colour = [](ClipKind k) {
        switch (k) {
            case ClipKind::Window: return "#2a6fdb";
            case ClipKind::Match: return "#4aa3df";
            case ClipKind::Progressive: return "#9c9c9c";
            case ClipKind::Pulldown: return "#c48a2a";
            case ClipKind::Interlaced: return "#c0392b";
            case ClipKind::Still: return "#d5d5d5";
            case ClipKind::Black: return "#333333";
        }
        return "#999";
    };
    std::string h = "<h2>Segments</h2>\n<p>What each stretch of the clip is, frames " + std::to_string(a.start) + ".." +
                    std::to_string(a.start + a.span - 1) +
                    ". pelta filters the segments of its kinds (match, window) with their own settings "
                    "(<code>pelta --plan</code>, <code>pelta --auto</code>); the others pass through.</p>\n";
    h += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 900 46\" class=\"chart\" id=\"timeline\">";
    for (const SegmentAnalysis& sa : a.segments) {
        const Segment& g = sa.segment;
        const double x0 = xs(static_cast<double>(g.start)), x1 = xs(static_cast<double>(g.start + g.frames));
        h += "<rect class=\"segment\" data-kind=\"" + std::string(kind_name(g.kind)) + "\" x=\"" + num(x0) +
             "\" y=\"4\" width=\"" + num(std::max(1.0, x1 - x0)) + "\" height=\"22\" fill=\"" + colour(g.kind) +
             "\"><title>" + std::string(kind_name(g.kind)) + "</title></rect>";
        h += "<text x=\"" + num(x0 + 2) + "\" y=\"40\" font-size=\"11\">" + std::to_string(g.start) + "</text>";
    }
    h += "</svg>\n<table id=\"segments\">\n<tr><th>frames</th><th>kind</th><th>settings</th><th>confidence</th></tr>\n";
    for (const SegmentAnalysis& sa : a.segments) {
        const Segment& g = sa.segment;
        h += "<tr><td>" + std::to_string(g.start) + ".." + std::to_string(g.start + g.frames - 1) + "</td><td>" +
             "<span style=\"color:" + colour(g.kind) + "\">&#9632;</span> " + kind_name(g.kind) + "</td><td><code>" +
             (is_pelta_kind(g.kind) ? html_escape(suggested_command(g.settings)) : std::string("passed through")) +
             "</code></td><td>" + num(g.confidence, "%.2f") + "</td></tr>\n";
    }
    return h + "</table>\n";
}

// The page's head, with its style, and the clip it is about.
std::string page_head(const Analysis& a, const std::string& input_name) {
    std::string h = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>pelta analyze: " +
                    html_escape(input_name) + "</title>\n";
    // The editor's labels are Japanese: a CJK font first for them, then
    // what the system has.
    h += "<style>body{font-family:sans-serif;max-width:960px;margin:1em auto;padding:0 1em;color:#222}"
         "code,.settings{font-family:monospace}table{border-collapse:collapse}td,th{border:1px solid #ccc;"
         "padding:2px 8px;text-align:left}img{max-width:100%;border:1px solid #999}.chart{width:100%;height:auto}"
         ".legend{font-size:12px;margin-top:0}.kind{font-size:1.4em;font-weight:bold}"
         ".ja{font-family:'Noto Sans CJK JP','Noto Sans JP','Hiragino Sans','Yu Gothic','Meiryo','MS Gothic',"
         "'IPAGothic','Droid Sans Fallback',sans-serif}"
         ".warning{background:#fff3cd;border-left:4px solid #e0a800;padding:4px 8px}</style>\n</head><body>\n";
    h += "<h1>pelta analyze</h1>\n<p>Clip <code>" + html_escape(input_name) + "</code>, " + std::to_string(a.w) +
         "x" + std::to_string(a.h) + ", " + std::to_string(a.frames) + " frames looked at, from frame " +
         std::to_string(a.start) + ".</p>\n";
    return h;
}

// The verdict, the evidence, the warnings and the advice.
std::string verdict_section(const SegmentAnalysis& m) {
    const Words& w = m.words;
    std::string h = "<p class=\"kind\">Verdict: <span id=\"kind\">" + std::string(kind_name(m.segment.kind)) +
                    "</span></p>\n";
    h += "<p id=\"verdict\">" + html_escape(w.verdict) + "</p>\n<p id=\"evidence\">" + html_escape(w.evidence) +
         "</p>\n";
    if (!w.warnings.empty()) {
        h += "<div id=\"warnings\">\n";
        for (const std::string& text : w.warnings) h += "<p class=\"warning\">Warning: " + html_escape(text) + "</p>\n";
        h += "</div>\n";
    }
    if (!is_pelta_kind(m.segment.kind)) h += "<p>Use instead: <b id=\"advice\">" + html_escape(w.advice) + "</b></p>\n";
    return h;
}

// The settings as options and as the editor's labels, and the command line.
std::string settings_section(const SegmentAnalysis& m) {
    const SegmentSettings& s = m.segment.settings;
    const char* on = "\xe3\x82\xaa\xe3\x83\xb3";
    const char* off = "\xe3\x82\xaa\xe3\x83\x95";
    std::string h = "<h2>Settings</h2>\n<table>\n<tr><th>option</th><th>editor</th><th>value</th></tr>\n";
    h += "<tr><td>--left</td><td class=\"ja\">\xe5\xb7\xa6</td><td id=\"left\">" + std::to_string(s.left) + "</td></tr>\n";
    h += "<tr><td>--width</td><td class=\"ja\">\xe5\xb9\x85</td><td id=\"width\">" + std::to_string(s.width) +
         "</td></tr>\n";
    h += "<tr><td>--shift</td><td>1/60</td><td id=\"shift\">" + std::to_string(s.shift) + "</td></tr>\n";
    h += "<tr><td>--tff</td><td>TFF</td><td><span id=\"tff\">" + std::to_string(s.tff) + "</span> <span class=\"ja\">(" +
         (s.tff ? on : off) + ")</span></td></tr>\n";
    h += "<tr><td>--lpf</td><td>LPF</td><td><span id=\"lpf\">" + std::to_string(s.lpf) + "</span> <span class=\"ja\">(" +
         (s.lpf ? on : off) + ")</span></td></tr>\n</table>\n";
    h += "<p>Command line: <code id=\"command\">" + html_escape(suggested_command(s)) + "</code>" +
         (is_pelta_kind(m.segment.kind) ? "" : " (what <code>--auto --force</code> would use)") + "</p>\n";
    return h;
}

// The confidence and the figures of combing, of the segment named by
// `of_segment` where there are several.
std::string figures_section(const SegmentAnalysis& m, const std::string& of_segment) {
    const Combing& c = m.combing;
    const std::string note = c.defined ? "" : " (too little detail to measure: cannot tell)";
    return "<p>Confidence: <span id=\"confidence\">" + num(m.segment.confidence, "%.2f") +
           "</span>. Combing of the frames looked at" + of_segment +
           " (comb energy across the fields against that within them)" + note + ": input " + num(c.input, "%.2f") +
           ", field matching alone (no window, low-pass off) " + num(c.matched, "%.2f") +
           ", with these settings (low-pass " + (m.segment.settings.lpf ? "on" : "off") + ") " +
           num(c.output, "%.2f") + ".</p>\n";
}

// The picture before and after, with the window's edges marked.
std::string picture_section(const Analysis& a, const SegmentSettings& s) {
    const int left = s.left, right = s.left + s.width;
    std::string h = "<h2>Frame " + std::to_string(a.picture.frame) + ", before and after</h2>\n";
    if (right > left)
        h += "<p>The dashed lines mark the processing window, columns " + std::to_string(left) + ".." +
             std::to_string(right - 1) + ".</p>\n";
    const std::string before = encode_png(to_rgb(a.picture.before, a.w, a.h, left, right), a.w, a.h);
    const std::string after = encode_png(to_rgb(a.picture.after, a.w, a.h, left, right), a.w, a.h);
    h += "<p>Before (the input):<br><img id=\"before\" alt=\"frame before\" src=\"data:image/png;base64," +
         base64(before) + "\"></p>\n";
    h += std::string("<p>After (with the settings above, low-pass ") + (s.lpf ? "on" : "off") +
         "):<br><img id=\"after\" alt=\"frame after\" src=\"data:image/png;base64," + base64(after) + "\"></p>\n";
    return h;
}

// The curves per column and per frame.
std::string curves_section(const Analysis& a, const SegmentSettings& s, const std::string& of_segment) {
    const ReportCurves& cv = a.curves;
    const int left = s.left, right = s.left + s.width;
    const bool window = right > left;
    const std::string lpf_label = std::string("with the settings (low-pass ") + (s.lpf ? "on" : "off") + ")";
    const std::string plan_label = a.segments.size() > 1
                                       ? "as --plan and --auto filter it (each segment of pelta's kinds with its "
                                         "settings, the others as they came)"
                                       : lpf_label;
    std::string h = "<h2>Combing per column</h2>\n<p>Over the frames looked at" + of_segment + ", per block of " +
                    std::to_string(cv.block_width) + " columns" +
                    (window ? "; the shaded columns are the window." : "; there is no window.") + "</p>\n";
    h += chart({{&cv.column_input, "#999", "input"},
                {&cv.column_matched, "#c33", "field matching alone (no window, low-pass off)"},
                {&cv.column_output, "#26a", lpf_label.c_str()}},
               "column", cv.block_width, a.w, window ? left : 0, window ? right : 0);
    h += "<h2>Combing per frame</h2>\n";
    h += chart({{&cv.frame_input, "#999", "input"},
                {&cv.frame_matched, "#c33", "field matching alone (no window, low-pass off)"},
                {&cv.frame_output, "#26a", plan_label.c_str()}},
               "frame looked at, in order", 1.0, static_cast<double>(std::max<size_t>(1, cv.frame_input.size()) - 1),
               0, 0);
    return h;
}

}  // namespace

bool write_analysis_report(const Analysis& a, const std::string& input_name, const std::string& path,
                           std::string& error) {
    const SegmentAnalysis& m = a.main();
    // With several segments, the figures and the curve of the columns are
    // those of the one whose settings these are.
    std::string of_segment;
    if (a.segments.size() > 1)
        of_segment = " in frames " + std::to_string(m.segment.start) + ".." +
                     std::to_string(m.segment.start + m.segment.frames - 1) +
                     " (the segment whose settings these are)";
    std::string h = page_head(a, input_name) + verdict_section(m) + settings_section(m) + figures_section(m, of_segment);
    if (!a.segments.empty()) h += timeline(a);
    if (a.picture.frame >= 0) h += picture_section(a, m.segment.settings);
    h += curves_section(a, m.segment.settings, of_segment);
    h += "<p>Made by pelta analyze. Around 1 and above, combing shows; a clean picture measures well below 1.</p>\n";
    h += "</body></html>\n";

    // Written as the video outputs are: under a temporary name, moved into
    // place once complete.
    OutputFile page;
    return page.open(path, error) && page.write(h.data(), h.size(), error) && page.finish(error) &&
           page.publish(error);
}

}  // namespace pelta_cli
