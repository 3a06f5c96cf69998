// The analysis in words: the verdict and evidence sentences, the suggested
// command line, the JSON object and the lines for a terminal.
#include <cstdio>

#include "analyze/analyzer.h"

namespace pelta_cli {

namespace analysis {

namespace {

std::string fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// "41%": a share as people read it.
std::string percent(double v) { return fmt("%.0f%%", 100.0 * v); }
std::string on_off(int tff) { return tff ? "on" : "off"; }

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

}  // namespace

void Analyzer::describe(Analysis& a) const {
    const SuggestedSettings& s = a.settings;
    const int l = s.left, r = s.left + s.width;
    const std::string columns = "columns " + std::to_string(l) + ".." + std::to_string(r - 1);
    switch (a.kind) {
        case ClipKind::Window:
            a.verdict = "window: the fields are out of step, and " + columns +
                        " hold a band whose fields are displaced against each other; pelta repairs both with the "
                        "settings below.";
            a.evidence = "field matching alone leaves combing " + fmt("%.2f", band_matched_) + " in " + columns +
                         " and " + fmt("%.2f", rest_matched_) + " in the rest; with this window (shift " +
                         std::to_string(s.shift) + ", TFF " + on_off(s.tff) + ") " + fmt("%.2f", band_output_) +
                         " and " + fmt("%.2f", rest_output_) + ", against " + fmt("%.2f", a.input_comb) +
                         " in the input (a clean picture measures well below 1).";
            break;
        case ClipKind::Match:
            a.verdict = "match: the fields are out of step; pelta's field matching repairs them without a window.";
            a.evidence = "field matching with TFF " + on_off(s.tff) + " leaves combing " +
                         fmt("%.2f", tff_comb_[s.tff]) + " (TFF " + on_off(1 - s.tff) + ": " +
                         fmt("%.2f", tff_comb_[1 - s.tff]) + "), against " + fmt("%.2f", a.input_comb) +
                         " in the input (a clean picture measures well below 1).";
            break;
        case ClipKind::Pulldown:
            a.verdict = "pulldown: this is telecined film, a cadence of repeated fields; that is not pelta's job.";
            a.evidence = percent(dup_share_) +
                         " of the moving frames repeat one field of the frame before, the cadence of pulldown.";
            a.advice = "a pulldown remover: ffmpeg -vf fieldmatch,decimate; in the editor, an inverse-telecine "
                       "plug-in";
            break;
        case ClipKind::Interlaced:
            a.verdict = "interlaced: each field is its own moment, and no weave of neighbouring fields removes the "
                        "combing; that is not pelta's job.";
            a.evidence = "the best weaves and windows leave " + percent(1.0 - repaired_) +
                         " of the input's combing (combing " + fmt("%.2f", a.input_comb) +
                         " in the input); only a blurring low-pass would hide the rest.";
            a.advice = "a deinterlacer: ffmpeg -vf bwdif; in the editor, its own deinterlacing";
            break;
        case ClipKind::Still:
        case ClipKind::Black:
        case ClipKind::Progressive:
            a.verdict = "progressive: the frames are not combed, so there is nothing for pelta to repair (its "
                        "weaves would comb them).";
            a.evidence = "the moving frames measure " + fmt("%.2f", input_over_fields_) +
                         " times what the content of their fields does (combed footage measures " +
                         fmt("%.1f", kProgressive) +
                         " and more): they are whole pictures, and pelta would replace one field of each with a "
                         "neighbour's.";
            a.advice = "nothing: use the clip as it is, or filter only a stretch that is combed";
            break;
    }
}

}  // namespace analysis

using analysis::fmt;
using analysis::json_string;

std::string suggested_command(const SuggestedSettings& s) {
    return "pelta --left " + std::to_string(s.left) + " --width " + std::to_string(s.width) + " --shift " +
           std::to_string(s.shift) + " --tff " + std::to_string(s.tff);
}

std::string analysis_json(const Analysis& a) {
    const SuggestedSettings& s = a.settings;
    std::string j = "{";
    j += "\"kind\": " + json_string(kind_name(a.kind));
    j += ", \"tff\": " + std::to_string(s.tff);
    j += ", \"left\": " + std::to_string(s.left);
    j += ", \"width\": " + std::to_string(s.width);
    j += ", \"shift\": " + std::to_string(s.shift);
    j += ", \"confidence\": " + fmt("%.2f", a.confidence);
    j += ", \"verdict\": " + json_string(a.verdict);
    j += ", \"evidence\": " + json_string(a.evidence);
    j += ", \"command\": " + json_string(suggested_command(s));
    j += ", \"advice\": " + json_string(a.advice);
    j += ", \"start\": " + std::to_string(a.start);
    j += ", \"frames\": " + std::to_string(a.frames);
    j += ", \"frame_width\": " + std::to_string(a.w);
    j += ", \"frame_height\": " + std::to_string(a.h);
    j += ", \"input_comb\": " + fmt("%.3f", a.input_comb);
    j += ", \"output_comb\": " + fmt("%.3f", a.output_comb);
    return j + "}";
}

std::string analysis_text(const Analysis& a) {
    const SuggestedSettings& s = a.settings;
    std::string t = "verdict:    " + a.verdict + "\n";
    t += "evidence:   " + a.evidence + "\n";
    if (a.kind == ClipKind::Match || a.kind == ClipKind::Window) {
        t += "command:    " + suggested_command(s) + "\n";
        t += "editor:     \xe5\xb7\xa6 " + std::to_string(s.left) + ", \xe5\xb9\x85 " + std::to_string(s.width) +
             ", 1/60 " + std::to_string(s.shift) + ", TFF " + (s.tff ? "\xe3\x82\xaa\xe3\x83\xb3" : "\xe3\x82\xaa\xe3\x83\x95") +
             "\n";
    } else {
        t += "use instead: " + a.advice + "\n";
        t += "if you must: " + suggested_command(s) + " (what --auto --force would use)\n";
    }
    t += "confidence: " + fmt("%.2f", a.confidence) + " (frames " + std::to_string(a.start) + ".." +
         std::to_string(a.start + a.frames - 1) + " of a " + std::to_string(a.w) + "x" + std::to_string(a.h) +
         " clip)\n";
    return t;
}

}  // namespace pelta_cli
