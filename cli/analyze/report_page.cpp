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

// A line chart of several series on a logarithmic scale of the measure,
// over an x axis in the clip's own units (frames, columns) with ticks and
// their numbers.
struct Series {
    const std::vector<double>* values;
    const char* colour;
    const char* label;
};

// A figure drawn as a dashed level over a range of x, named by its key.
struct Level {
    const Figure* figure;
    double x0, x1;
    const char* colour;
};

// Ticks for [lo, hi]: a step of 1, 2 or 5 times a power of ten, about eight
// of them, on multiples of the step.
std::vector<long> ticks(double lo, double hi) {
    const double raw = std::max(1.0, (hi - lo) / 8.0);
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double step = mag;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * mag >= raw) {
            step = m * mag;
            break;
        }
    std::vector<long> t;
    for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9; v += step) t.push_back(std::lround(v));
    return t;
}

struct ChartSpec {
    std::string id;                 // the chart's id on the page
    const char* x_label = "";
    std::vector<double> x;          // each value's x, in the axis's units
    double x_lo = 0, x_hi = 1;      // the axis's range
    double gap = 0;                 // consecutive x further apart than this break the line (0: never)
    double band_lo = 0, band_hi = 0;  // shaded range of x (the window), empty: none
    std::vector<Level> levels;
    // Marked points: (x, value) of the frames that stay combed.
    std::vector<std::pair<double, double>> marks;
};

std::string chart(const std::vector<Series>& series, const ChartSpec& c) {
    const double W = 900, H = 270, L = 50, R = 10, T = 10, B = 48;
    double hi = 1.0;
    const double lo = 0.01;
    for (const Series& s : series)
        for (double v : *s.values)
            if (std::isfinite(v)) hi = std::max(hi, v);
    const double l0 = std::log10(lo), l1 = std::log10(hi) + 0.1;
    const double span = std::max(1e-9, c.x_hi - c.x_lo);
    auto xs = [&](double x) { return L + (W - L - R) * std::clamp((x - c.x_lo) / span, 0.0, 1.0); };
    auto ys = [&](double v) {
        const double lv = std::log10(std::clamp(v, lo, hi));
        return T + (H - T - B) * (1.0 - (lv - l0) / (l1 - l0));
    };
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 900 270\" class=\"chart\" id=\"" + c.id +
                      "\">";
    if (c.band_hi > c.band_lo)
        svg += "<rect class=\"band\" x=\"" + num(xs(c.band_lo)) + "\" y=\"" + num(T) + "\" width=\"" +
               num(std::max(1.0, xs(c.band_hi) - xs(c.band_lo))) + "\" height=\"" + num(H - T - B) +
               "\" fill=\"#ffe9a8\"/>";
    for (double g = std::ceil(l0); g <= l1; g += 1) {
        const double y = ys(std::pow(10.0, g));
        svg += "<line x1=\"" + num(L) + "\" x2=\"" + num(W - R) + "\" y1=\"" + num(y) + "\" y2=\"" + num(y) +
               "\" stroke=\"" + (g == 0 ? "#999" : "#ddd") + "\"/><text x=\"" + num(L - 6) + "\" y=\"" +
               num(y + 4) + "\" text-anchor=\"end\" font-size=\"11\">" + num(std::pow(10.0, g), "%g") + "</text>";
    }
    // The x axis: a line, and ticks with the clip's numbers.
    const double axis_y = H - B;
    svg += "<line x1=\"" + num(L) + "\" x2=\"" + num(W - R) + "\" y1=\"" + num(axis_y) + "\" y2=\"" + num(axis_y) +
           "\" stroke=\"#666\"/>";
    for (long t : ticks(c.x_lo, c.x_hi)) {
        const double x = xs(static_cast<double>(t));
        svg += "<line x1=\"" + num(x) + "\" x2=\"" + num(x) + "\" y1=\"" + num(axis_y) + "\" y2=\"" + num(axis_y + 5) +
               "\" stroke=\"#666\"/><text class=\"tick\" data-value=\"" + std::to_string(t) + "\" x=\"" + num(x) +
               "\" y=\"" + num(axis_y + 17) + "\" text-anchor=\"middle\" font-size=\"11\">" + std::to_string(t) +
               "</text>";
    }
    svg += "<text x=\"" + num((W + L) / 2) + "\" y=\"" + num(H - 6) + "\" text-anchor=\"middle\" font-size=\"12\">" +
           c.x_label + "</text>";
    for (const Series& s : series) {
        std::string pts;
        auto flush = [&] {
            if (!pts.empty())
                svg += "<polyline fill=\"none\" stroke-width=\"1.3\" stroke=\"" + std::string(s.colour) +
                       "\" points=\"" + pts + "\"/>";
            pts.clear();
        };
        for (size_t i = 0; i < s.values->size() && i < c.x.size(); ++i) {
            if (i > 0 && c.gap > 0 && c.x[i] - c.x[i - 1] > c.gap) flush();
            pts += num(xs(c.x[i])) + "," + num(ys((*s.values)[i])) + " ";
        }
        flush();
    }
    for (const Level& l : c.levels) {
        if (!l.figure || !l.figure->told() || l.x1 <= l.x0) continue;
        const double y = ys(l.figure->value);
        svg += "<line class=\"level\" data-figure=\"" + l.figure->key + "\" x1=\"" + num(xs(l.x0)) + "\" x2=\"" +
               num(xs(l.x1)) + "\" y1=\"" + num(y) + "\" y2=\"" + num(y) + "\" stroke=\"" + l.colour +
               "\" stroke-width=\"1.5\" stroke-dasharray=\"6 3\"><title>" + html_escape(l.figure->label) + ": " +
               l.figure->text() + "</title></line>";
    }
    for (const auto& [x, v] : c.marks)
        svg += "<circle class=\"combed\" data-frame=\"" + std::to_string(std::lround(x)) + "\" cx=\"" + num(xs(x)) +
               "\" cy=\"" + num(ys(v)) + "\" r=\"3\" fill=\"none\" stroke=\"#d00\" stroke-width=\"1.2\"/>";
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

// The confidence, and every figure of the segment: those the evidence
// quotes and the result pass's, each with what it is and over which frames,
// printed as the text and the JSON print them.
std::string figures_section(const SegmentAnalysis& m, const std::string& of_segment) {
    std::string h = "<p>Confidence: <span id=\"confidence\">" + num(m.segment.confidence, "%.2f") + "</span>.</p>\n";
    if (m.words.figures.empty()) return h;
    h += "<h2>Figures</h2>\n<p>Combing" + of_segment +
         ", on the analysis's measure: comb energy across the fields against that within them, summed over the "
         "frames and columns named (a clean picture measures well below 1, visible combing 1 and more). The "
         "evidence above quotes these.</p>\n<table id=\"figures\">\n<tr><th>what</th><th>measure</th></tr>\n";
    for (const Figure& f : m.words.figures)
        h += "<tr><td>" + html_escape(f.label) + "</td><td class=\"figure\" data-figure=\"" + f.key + "\">" + f.text() +
             "</td></tr>\n";
    return h + "</table>\n";
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

// "120..125, 130": ranges of frames.
std::string ranges_text(const std::vector<std::pair<long, long>>& ranges) {
    std::string t;
    for (const auto& [a, b] : ranges)
        t += (t.empty() ? "" : ", ") + std::to_string(a) + (b > a ? ".." + std::to_string(b) : "");
    return t;
}

// The curves per column and per frame, and the frames that stay combed.
std::string curves_section(const Analysis& a, const SegmentAnalysis& m, const std::string& of_segment) {
    const ReportCurves& cv = a.curves;
    const SegmentSettings& s = m.segment.settings;
    const int left = s.left, right = std::min(a.w, s.left + s.width);
    const bool window = right > left && is_pelta_kind(m.segment.kind);
    const std::string lpf_label = std::string("with the settings (low-pass ") + (s.lpf ? "on" : "off") + ")";
    const std::string plan_label = "as --plan filters it (each match or window segment with its settings, the "
                                   "other frames as they came)";
    std::string h = "<h2>Combing per column</h2>\n<p>Over the frames looked at" + of_segment + ": each block of " +
                    std::to_string(cv.block_width) +
                    " columns' measure, its comb energy summed over the frames against its field energy summed, as "
                    "the figures take theirs; the dashed lines are the figures of the table above over their "
                    "columns" +
                    (window ? "; the shaded columns are the window." : "; there is no window.") + "</p>\n";
    ChartSpec columns;
    columns.id = "columns-chart";
    columns.x_label = "column";
    for (size_t b = 0; b < cv.column_input.size(); ++b) columns.x.push_back(static_cast<double>(b) * cv.block_width);
    columns.x_lo = 0;
    columns.x_hi = a.w;
    if (window) {
        columns.band_lo = left;
        columns.band_hi = right;
    }
    const Words& words = m.words;
    if (window) {
        for (const auto& [key, colour] : {std::pair<const char*, const char*>{"matched_band", "#c33"}, {"output_band", "#26a"}})
            columns.levels.push_back({find_figure(words, key), static_cast<double>(left), static_cast<double>(right), colour});
        for (const auto& [key, colour] : {std::pair<const char*, const char*>{"matched_rest", "#c33"}, {"output_rest", "#26a"}}) {
            columns.levels.push_back({find_figure(words, key), 0.0, static_cast<double>(left), colour});
            columns.levels.push_back({find_figure(words, key), static_cast<double>(right), static_cast<double>(a.w), colour});
        }
    } else {
        columns.levels.push_back({find_figure(words, "matched"), 0.0, static_cast<double>(a.w), "#c33"});
        columns.levels.push_back({find_figure(words, "output"), 0.0, static_cast<double>(a.w), "#26a"});
    }
    h += chart({{&cv.column_input, "#999", "input"},
                {&cv.column_matched, "#c33", "field matching alone (no window, low-pass off)"},
                {&cv.column_output, "#26a", lpf_label.c_str()}},
               columns);

    // Per frame, in the clip's frame numbers: the points in frame order,
    // the line broken between sampled stretches.
    std::vector<size_t> order(cv.frame_numbers.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return cv.frame_numbers[x] < cv.frame_numbers[y]; });
    std::vector<double> input, matched, output;
    ChartSpec frames;
    frames.id = "frames-chart";
    frames.x_label = "frame";
    frames.x_lo = static_cast<double>(a.start);
    frames.x_hi = static_cast<double>(a.start + std::max(1L, a.span) - 1);
    frames.gap = 1;
    for (size_t i : order) {
        if (i >= cv.frame_input.size() || i >= cv.frame_matched.size() || i >= cv.frame_output.size()) continue;
        frames.x.push_back(static_cast<double>(cv.frame_numbers[i]));
        input.push_back(cv.frame_input[i]);
        matched.push_back(cv.frame_matched[i]);
        output.push_back(cv.frame_output[i]);
        if (cv.frame_output[i] >= 1.0) frames.marks.emplace_back(static_cast<double>(cv.frame_numbers[i]), cv.frame_output[i]);
    }
    h += "<h2>Combing per frame</h2>\n<p>Each frame looked at, at its number in the clip (the gaps are frames not "
         "looked at): its measure over the whole frame. The circles mark the frames that stay visibly combed "
         "(1 or more) " + plan_label + ".</p>\n";
    h += chart({{&input, "#999", "input"},
                {&matched, "#c33", "field matching alone (no window, low-pass off)"},
                {&output, "#26a", plan_label.c_str()}},
               frames);

    // The same frames listed, by segment.
    h += "<h2>Frames that stay combed</h2>\n<p>Of the frames looked at, those that measure 1 or more " + plan_label +
         ", by segment:</p>\n<ul id=\"combed\">\n";
    for (size_t i = 0; i < a.segments.size(); ++i) {
        const Segment& g = a.segments[i].segment;
        const auto ranges = combed_ranges(a, i);
        long looked = 0, combed = 0;
        for (long f : cv.frame_numbers) looked += f >= g.start && f - g.start < g.frames;
        for (const auto& [x, y] : ranges) combed += y - x + 1;
        h += "<li data-segment=\"" + std::to_string(i) + "\">frames " + std::to_string(g.start) + ".." +
             std::to_string(g.start + g.frames - 1) + " (" + kind_name(g.kind) +
             (is_pelta_kind(g.kind) ? ", filtered" : ", passed through") + "): ";
        if (ranges.empty())
            h += "none";
        else
            h += "<span class=\"frames\">" + ranges_text(ranges) + "</span>";
        h += " (" + std::to_string(combed) + " of " + std::to_string(looked) + " frames looked at)</li>\n";
    }
    return h + "</ul>\n";
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
    h += curves_section(a, m, of_segment);
    h += "<p>Made by pelta analyze. Around 1 and above, combing shows; a clean picture measures well below 1.</p>\n";
    h += "</body></html>\n";

    // Written as the video outputs are: under a temporary name, moved into
    // place once complete.
    OutputFile page;
    return page.open(path, error) && page.write(h.data(), h.size(), error) && page.finish(error) &&
           page.publish(error);
}

}  // namespace pelta_cli
