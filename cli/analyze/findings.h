// What the analysis finds and hands on: the combing the result pass measures
// on each segment, a segment in words, and the report's curves and picture.
// The passes return these; the analysis's public face (analyze.h) carries
// them to the text, the JSON and the page.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "abi/host_records.h"

namespace pelta_cli {

// A tear at the window's edges as the filtered output shows it (tear.h):
// the moving frames whose output steps across an edge beyond what the input
// shows there, and what removes it.
struct Tear {
    long torn = 0, moving = 0;  // moving frames torn, of the moving frames measured
    bool remedy_tried = false;  // the other settings were tried (where it tears in a tenth or more)
    std::string remedy;         // the options that remove it, "--tff 0"; empty: none of those tried
};

// The combing of one segment's sampled frames, on the analysis's own measure
// (comb energy across the fields against that within them, on block
// profiles; a clean picture measures well below 1, visible combing 1 and
// more), as the result pass measured it.
struct Combing {
    double input = 0;                           // the frames as they are
    double matched = 0;                         // field matching alone (no window), low-pass off
    double band_matched = 0, rest_matched = 0;  // ... in the window's columns and the rest
    double output = 0;                          // with the settings, the low-pass as suggested
    double band_output = 0, rest_output = 0;    // ... in the window's columns and the rest
    long frames = 0;                            // frames measured
    long visible = 0;                           // of them left visibly combed by the settings
    bool defined = true;  // false: the frames' energies were too small to mean anything
    Tear tear;            // a window's segment: the tear at its edges
};

// A figure of the measure as the text, the JSON and the page all show it,
// from this one place: two decimals, or "cannot tell" where the energies
// behind it were too small to mean anything.
struct Figure {
    std::string key;    // its name in the JSON: "input", "matched_band", ...
    std::string label;  // what it is and over which frames, for the page
    double value = 0;
    bool defined = true;
    bool told() const { return defined && std::isfinite(value); }
    std::string text() const {
        if (!told()) return "cannot tell";
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", value);
        return buf;
    }
    // The value as text() prints it, for the JSON (told() only).
    double printed() const { return std::stod(text()); }
};

// A segment in words, and the confidence the words leave it.
struct Words {
    std::string verdict;                // one sentence
    std::string evidence;               // one or two sentences of figures
    std::string advice;                 // for the kinds that are not pelta's: what to use instead
    std::vector<std::string> warnings;  // what to check or do, one sentence each
    std::vector<Figure> figures;        // every figure the evidence quotes, and the result's
    double confidence = 0;              // 0..1: how clearly the measurements passed the verdict's bars
};

// The report's curves: per block of columns (block_width wide) over one
// segment's sampled frames, each block's measure as the figures take theirs
// (its comb energy summed over the frames against its field energy summed);
// and per sampled frame of the whole sample, in the order read, each frame's
// measure over the whole frame. Each for the input, field matching alone (no
// window, no low-pass), and the suggested settings (per frame: as --plan
// gives the frame).
struct ReportCurves {
    int block_width = 8;
    std::vector<double> column_input, column_matched, column_output;
    std::vector<long> frame_numbers;
    std::vector<double> frame_input, frame_matched, frame_output;
};

// A picture of the sample kept for the report: one frame before and after
// the suggested settings, w x h pixels, rows w apart.
struct ReportFrame {
    long frame = -1;  // clip frame number; -1: none kept
    std::vector<PIXEL_YC> before, after;
};

}  // namespace pelta_cli
