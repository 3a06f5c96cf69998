// The analysis as a terminal shows it and as JSON: the lines of the verdict,
// the suggested command line and the editor's labels, and one JSON object
// written with the library that reads plans.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "analyze/analyze.h"

namespace pelta_cli {

namespace {

using Json = nlohmann::ordered_json;

std::string fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// A figure as the text prints it (to `places` decimals), as a JSON number.
double printed(double v, int places) { return std::stod(fmt(places == 2 ? "%.2f" : "%.3f", v)); }

void put_settings(Json& j, const SegmentSettings& s) {
    j["tff"] = s.tff;
    j["left"] = s.left;
    j["width"] = s.width;
    j["shift"] = s.shift;
    j["lpf"] = s.lpf;
}

const char* kOn = "\xe3\x82\xaa\xe3\x83\xb3";   // オン
const char* kOff = "\xe3\x82\xaa\xe3\x83\x95";  // オフ

std::string frames_of(const Segment& g) {
    return std::to_string(g.start) + ".." + std::to_string(g.start + g.frames - 1);
}

}  // namespace

std::string suggested_command(const SegmentSettings& s) {
    return "pelta --left " + std::to_string(s.left) + " --width " + std::to_string(s.width) + " --shift " +
           std::to_string(s.shift) + " --tff " + std::to_string(s.tff) + " --lpf " + std::to_string(s.lpf);
}

std::string editor_settings(const SegmentSettings& s) {
    return "\xe5\xb7\xa6 " + std::to_string(s.left) + ", \xe5\xb9\x85 " + std::to_string(s.width) + ", 1/60 " +
           std::to_string(s.shift) + ", TFF " + (s.tff ? kOn : kOff) + ", LPF " + (s.lpf ? kOn : kOff);
}

Plan Analysis::plan() const {
    Plan p;
    for (const SegmentAnalysis& s : segments) p.push_back(s.segment);
    return p;
}

const Figure* find_figure(const Words& words, const std::string& key) {
    for (const Figure& f : words.figures)
        if (f.key == key) return &f;
    return nullptr;
}

std::vector<std::pair<long, long>> combed_ranges(const Analysis& a, size_t i) {
    std::vector<std::pair<long, long>> ranges;
    if (i >= a.segments.size()) return ranges;
    const Segment& g = a.segments[i].segment;
    std::vector<long> frames;
    const ReportCurves& cv = a.curves;
    for (size_t k = 0; k < cv.frame_numbers.size() && k < cv.frame_output.size(); ++k) {
        const long f = cv.frame_numbers[k];
        if (f >= g.start && f - g.start < g.frames && cv.frame_output[k] >= 1.0) frames.push_back(f);
    }
    std::sort(frames.begin(), frames.end());
    for (long f : frames) {
        if (!ranges.empty() && ranges.back().second + 1 >= f)
            ranges.back().second = std::max(ranges.back().second, f);
        else
            ranges.emplace_back(f, f);
    }
    return ranges;
}

std::string analysis_json(const Analysis& a) {
    const SegmentAnalysis& m = a.main();
    Json j;
    j["kind"] = kind_name(m.segment.kind);
    put_settings(j, m.segment.settings);
    j["confidence"] = printed(m.words.confidence, 2);
    j["verdict"] = m.words.verdict;
    j["evidence"] = m.words.evidence;
    j["warnings"] = m.words.warnings;
    j["command"] = suggested_command(m.segment.settings);
    j["advice"] = m.words.advice;
    j["start"] = a.start;
    j["frames"] = a.frames;
    j["span"] = a.span;
    j["frame_width"] = a.w;
    j["frame_height"] = a.h;
    // The figures as the text prints them, from the same fields.
    auto figure_json = [](const Figure* f) { return f && f->told() ? Json(f->printed()) : Json(nullptr); };
    j["input_comb"] = figure_json(find_figure(m.words, "input"));
    j["output_comb"] = figure_json(find_figure(m.words, "output"));
    j["figures"] = Json::object();
    for (const Figure& f : m.words.figures) j["figures"][f.key] = figure_json(&f);
    j["segments"] = Json::array();
    for (const SegmentAnalysis& s : a.segments) {
        const Segment& g = s.segment;
        Json o;
        o["start"] = g.start;
        o["frames"] = g.frames;
        o["kind"] = kind_name(g.kind);
        put_settings(o, g.settings);
        o["confidence"] = printed(g.confidence, 2);
        o["warnings"] = s.words.warnings;
        o["figures"] = Json::object();
        for (const Figure& f : s.words.figures) o["figures"][f.key] = figure_json(&f);
        o["combed"] = Json::array();
        for (const auto& [first, last] : combed_ranges(a, static_cast<size_t>(&s - a.segments.data())))
            o["combed"].push_back(Json::array({first, last}));
        j["segments"].push_back(std::move(o));
    }
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string analysis_text(const Analysis& a) {
    const SegmentAnalysis& m = a.main();
    const SegmentSettings& s = m.segment.settings;
    std::string t = "verdict:    " + m.words.verdict + "\n";
    t += "evidence:   " + m.words.evidence + "\n";
    if (is_pelta_kind(m.segment.kind)) {
        t += "command:    " + suggested_command(s) + "\n";
        t += "editor:     " + editor_settings(s) + "\n";
    } else {
        t += "use instead: " + m.words.advice + "\n";
        t += "if you must: " + suggested_command(s) + " (what --auto --force would use)\n";
    }
    for (const std::string& w : m.words.warnings) t += "warning:    " + w + "\n";
    if (a.segments.size() > 1)
        for (const SegmentAnalysis& sa : a.segments) {
            const Segment& g = sa.segment;
            t += "segment:    frames " + frames_of(g) + ": " + kind_name(g.kind);
            if (is_pelta_kind(g.kind)) t += ", " + suggested_command(g.settings);
            t += " (confidence " + fmt("%.2f", g.confidence) + ")\n";
        }
    t += "confidence: " + fmt("%.2f", m.words.confidence) + " (" + std::to_string(a.frames) +
         " frames looked at, over frames " + std::to_string(a.start) + ".." + std::to_string(a.start + a.span - 1) +
         " of a " + std::to_string(a.w) + "x" + std::to_string(a.h) + " clip)\n";
    return t;
}

}  // namespace pelta_cli
