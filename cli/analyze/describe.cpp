// The analysis in words: the verdict and evidence sentences, the warnings
// and the confidence they bound, the suggested command line, the JSON
// object and the lines for a terminal.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analyze/passes.h"

namespace pelta_cli {

namespace analysis {

namespace {

std::string fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// A figure of the measure, or "cannot tell" where its energies were too
// small to mean anything.
std::string figure(double v, bool defined) { return defined && std::isfinite(v) ? fmt("%.2f", v) : "cannot tell"; }

// "41%": a share as people read it.
std::string percent(double v) { return fmt("%.0f%%", 100.0 * v); }
std::string on_off(int v) { return v ? "on" : "off"; }
std::string of(long n, long m) { return std::to_string(n) + " of " + std::to_string(m); }

// The most confidence a verdict keeps with a warning beside it.
constexpr double kWarned = 0.45;

}  // namespace

void describe(const Verdict& v, const SegmentFigures& g, Analysis& a) {
    const SegmentSettings& s = a.settings;
    const bool def = g.defined;
    const std::string clean = " (a clean picture measures well below 1)";
    const int l = s.left, r = s.left + s.width;
    const std::string columns = "columns " + std::to_string(l) + ".." + std::to_string(r - 1);
    a.warnings.clear();
    double confidence = v.confidence;
    auto warn = [&](const std::string& w) {
        a.warnings.push_back(w);
        confidence = std::min(confidence, kWarned);
    };
    // What the low-pass would do with these settings, by the filter's own
    // runs: it filters the frames whose comb count reaches its threshold.
    const std::string lowpass =
        !is_pelta_kind(a.kind) ? ""
        : s.lpf ? " The low-pass stays on (--lpf 1): without it these settings leave " +
                      of(g.visible_unfiltered, g.filtered) + " frames visibly combed, and it filters " +
                      std::to_string(g.lowpassed - g.lowpassed_clean) + " of them."
                : " The low-pass is off (--lpf 0): these settings leave " + of(g.visible_unfiltered, g.filtered) +
                      " frames visibly combed without it, and it would soften " + of(g.lowpassed, g.filtered) + ".";
    // Where both TFF settings comb alike, the choice rests on other ground,
    // and the figures say so.
    const double ta = g.tff_comb[s.tff], tb = g.tff_comb[1 - s.tff];
    const bool alike = is_pelta_kind(a.kind) && std::fabs(ta - tb) <= 0.03 * std::max(ta, tb);
    const std::string tie =
        !alike ? ""
        : a.kind == ClipKind::Window
            ? " Both TFF settings comb alike (within 3% over the whole frame); with TFF " + on_off(s.tff) +
                  " the window is rebuilt from the frames the picture around it shows most often."
            : " Both TFF settings comb alike (within 3%): either restores the clip.";
    switch (a.kind) {
        case ClipKind::Window:
            a.verdict = "window: the fields are out of step, and " + columns +
                        " hold a band whose fields are displaced against each other; pelta repairs both with the "
                        "settings below.";
            a.evidence = "field matching alone leaves combing " + figure(g.band_matched, def) + " in " + columns +
                         " and " + figure(g.rest_matched, def) + " in the rest; with this window (shift " +
                         std::to_string(s.shift) + ", TFF " + on_off(s.tff) + ") " + figure(g.band_comb[s.tff], def) +
                         " and " + figure(g.rest_comb[s.tff], def) + " (TFF " + on_off(1 - s.tff) + ": " +
                         figure(g.band_comb[1 - s.tff], def) + " and " + figure(g.rest_comb[1 - s.tff], def) +
                         "), against " + figure(g.input, def) + " in the input (low-pass off throughout; a clean picture measures well below 1)." + tie + lowpass;
            break;
        case ClipKind::Match:
            a.verdict = "match: the fields are out of step; pelta's field matching repairs them without a window.";
            a.evidence = "field matching with TFF " + on_off(s.tff) + " leaves combing " +
                         figure(g.tff_comb[s.tff], def) + " (TFF " + on_off(1 - s.tff) + ": " +
                         figure(g.tff_comb[1 - s.tff], def) + "), against " + figure(g.input, def) +
                         " in the input (low-pass off; a clean picture measures well below 1)." + tie + lowpass;
            break;
        case ClipKind::Pulldown:
            a.verdict = "pulldown: this is telecined film, a cadence of repeated fields; that is not pelta's job.";
            a.evidence = percent(g.dup_share) +
                         " of the moving frames repeat one field of the frame before, the cadence of pulldown.";
            a.advice = "a pulldown remover: ffmpeg -vf fieldmatch,decimate; in the editor, an inverse-telecine "
                       "plug-in";
            break;
        case ClipKind::Interlaced:
            a.verdict = "interlaced: each field is its own moment, and no weave of neighbouring fields removes the "
                        "combing; that is not pelta's job.";
            a.evidence = "each field combs about as much woven with the field before it as with the one after it "
                         "(the second-best weave stands " +
                         fmt("%.2f", g.gap) +
                         " of the way from the best to the worst; out-of-step fields give 0.25 and more): field "
                         "matching alone leaves combing " +
                         figure(g.matched, def) + " (low-pass off), against " + figure(g.input, def) +
                         " in the input" + clean + ".";
            a.advice = "a deinterlacer: ffmpeg -vf bwdif; in the editor, its own deinterlacing";
            break;
        case ClipKind::Progressive:
            a.verdict = "progressive: the frames are not combed, so there is nothing for pelta to repair (its "
                        "weaves would comb them).";
            a.evidence = "in " + percent(g.input_share) +
                         " of the moving frames the frame as it is combs less than either weave with the next frame; "
                         "field matching would leave combing " +
                         figure(g.matched, def) + ", against " + figure(g.input, def) +
                         " in the input: they are whole pictures, and pelta would replace one field of each with a "
                         "neighbour's.";
            a.advice = "nothing: use the clip as it is, or filter only a stretch that is combed";
            break;
        case ClipKind::Still:
        case ClipKind::Black:
            a.verdict = std::string(a.kind == ClipKind::Black ? "black" : "still") +
                        ": the frames do not move, so no setting can be told from another; they need nothing.";
            a.evidence = "fewer than one in five frames moved by more than the grain.";
            a.advice = "nothing: pass these frames through";
            break;
    }

    // What the figures themselves cast doubt on.
    if (!def)
        warn("the frames hold too little detail to measure combing (flat or nearly black pictures), so the figures "
             "cannot tell; analyse a stretch with detail and motion (--start, --frames)");
    if (is_pelta_kind(a.kind) && g.frames > 0 && g.visible * 10 >= g.frames)
        warn("the settings leave " + of(g.visible, g.frames) +
             " sampled frames visibly combed (measure 1 or more): look at them (--report), and analyse a stretch "
             "that combs by itself (--start, --frames) if the clip changes kind");
    if (a.kind == ClipKind::Window && g.moving > 0 && g.torn * 10 >= g.moving)
        warn("in " + of(g.torn, g.moving) +
             " moving frames the window shows other frames than the picture around it (a tear at its edges): the "
             "band does not keep step with the rest of the picture; check its edges by eye, or filter without the "
             "window (--width 0)");
    if (g.chroma_judged && g.chroma_disagree >= 0.5 && g.moving > 0 && g.misled * 10 >= g.moving)
        warn("the colour disagrees with luma about which fields belong together (" + percent(g.chroma_disagree) +
             " of the colour's votes), and misled field matching in " + of(g.misled, g.moving) +
             " moving frames: the colour was probably converted without regard to the fields, as ffmpeg's -pix_fmt "
             "yuv420p does from 4:2:2; decode again with -vf scale=interl=1,format=yuv420p, or keep 4:2:2");
    if (a.warnings.empty() && confidence < 0.5)
        warn("the evidence is slight: too few frames move clearly, or the weaves of neighbouring fields differ too "
             "little, to tell the kinds apart surely (grain and a codec's losses can tip them); analyse a stretch with "
             "more motion (--start, --frames) or check the result by eye");
    a.confidence = std::clamp(confidence, 0.0, 1.0);
}

std::string json_string(const std::string& s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': o += "\\\""; break;
            case '\\': o += "\\\\"; break;
            case '\n': o += "\\n"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    o += buf;
                } else {
                    o += static_cast<char>(c);
                }
        }
    }
    return o + "\"";
}

}  // namespace analysis

using analysis::fmt;
using analysis::json_string;

std::string suggested_command(const SegmentSettings& s) {
    return "pelta --left " + std::to_string(s.left) + " --width " + std::to_string(s.width) + " --shift " +
           std::to_string(s.shift) + " --tff " + std::to_string(s.tff) + " --lpf " + std::to_string(s.lpf);
}

namespace {

std::string settings_json(const SegmentSettings& s) {
    return "\"tff\": " + std::to_string(s.tff) + ", \"left\": " + std::to_string(s.left) +
           ", \"width\": " + std::to_string(s.width) + ", \"shift\": " + std::to_string(s.shift) +
           ", \"lpf\": " + std::to_string(s.lpf);
}

const char* kOn = "\xe3\x82\xaa\xe3\x83\xb3";   // オン
const char* kOff = "\xe3\x82\xaa\xe3\x83\x95";  // オフ

}  // namespace

std::string editor_settings(const SegmentSettings& s) {
    return "\xe5\xb7\xa6 " + std::to_string(s.left) + ", \xe5\xb9\x85 " + std::to_string(s.width) + ", 1/60 " +
           std::to_string(s.shift) + ", TFF " + (s.tff ? kOn : kOff) + ", LPF " + (s.lpf ? kOn : kOff);
}

std::string analysis_json(const Analysis& a) {
    const SegmentSettings& s = a.settings;
    std::string j = "{";
    j += "\"kind\": " + json_string(kind_name(a.kind));
    j += ", " + settings_json(s);
    j += ", \"confidence\": " + fmt("%.2f", a.confidence);
    j += ", \"verdict\": " + json_string(a.verdict);
    j += ", \"evidence\": " + json_string(a.evidence);
    j += ", \"warnings\": [";
    for (size_t i = 0; i < a.warnings.size(); ++i) j += (i ? ", " : "") + json_string(a.warnings[i]);
    j += "]";
    j += ", \"command\": " + json_string(suggested_command(s));
    j += ", \"advice\": " + json_string(a.advice);
    j += ", \"start\": " + std::to_string(a.start);
    j += ", \"frames\": " + std::to_string(a.frames);
    j += ", \"span\": " + std::to_string(a.span);
    j += ", \"frame_width\": " + std::to_string(a.w);
    j += ", \"frame_height\": " + std::to_string(a.h);
    j += ", \"input_comb\": " + (a.figures.defined ? fmt("%.3f", a.input_comb) : std::string("null"));
    j += ", \"output_comb\": " + (a.figures.defined ? fmt("%.3f", a.output_comb) : std::string("null"));
    j += ", \"segments\": [";
    for (size_t i = 0; i < a.segments.size(); ++i) {
        const Segment& g = a.segments[i];
        j += std::string(i ? ", " : "") + "{\"start\": " + std::to_string(g.start) +
             ", \"frames\": " + std::to_string(g.frames) + ", \"kind\": " + json_string(kind_name(g.kind)) + ", " +
             settings_json(g.settings) + ", \"confidence\": " + fmt("%.2f", g.confidence) + "}";
    }
    j += "]";
    return j + "}";
}

std::string analysis_text(const Analysis& a) {
    const SegmentSettings& s = a.settings;
    std::string t = "verdict:    " + a.verdict + "\n";
    t += "evidence:   " + a.evidence + "\n";
    if (is_pelta_kind(a.kind)) {
        t += "command:    " + suggested_command(s) + "\n";
        t += "editor:     " + editor_settings(s) + "\n";
    } else {
        t += "use instead: " + a.advice + "\n";
        t += "if you must: " + suggested_command(s) + " (what --auto --force would use)\n";
    }
    for (const std::string& w : a.warnings) t += "warning:    " + w + "\n";
    if (a.segments.size() > 1)
        for (const Segment& g : a.segments) {
            t += "segment:    frames " + std::to_string(g.start) + ".." + std::to_string(g.start + g.frames - 1) + ": " +
                 kind_name(g.kind);
            if (is_pelta_kind(g.kind)) t += ", " + suggested_command(g.settings);
            t += " (confidence " + fmt("%.2f", g.confidence) + ")\n";
        }
    t += "confidence: " + fmt("%.2f", a.confidence) + " (" + std::to_string(a.frames) + " frames looked at, over frames " +
         std::to_string(a.start) + ".." + std::to_string(a.start + a.span - 1) + " of a " + std::to_string(a.w) + "x" +
         std::to_string(a.h) + " clip)\n";
    return t;
}

}  // namespace pelta_cli
