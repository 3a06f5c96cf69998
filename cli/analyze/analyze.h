// The settings analysis behind `pelta analyze` and `pelta --auto`: runs the
// filter itself over a sample of the clip under candidate settings, measures
// the combing left in each column of every result, and from that tells what
// kind of footage each stretch of the clip is and which settings restore it.
//
// Combing is measured without the filter's own thresholds: per column, the
// energy of a vertical second difference across the two fields (rows y-1, y,
// y+1) against the same difference within one field (rows y-2, y, y+2). A
// woven picture whose fields belong together has little energy at the field
// rate; fields from different moments add much.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "analyze/clip_reader.h"
#include "analyze/findings.h"
#include "host/plan.h"

namespace pelta_cli {

// One segment of the clip as the analysis found it: its frames, kind,
// settings and confidence (the plan's segment), in words, and the combing
// measured on its sampled frames.
struct SegmentAnalysis {
    Segment segment;
    Words words;
    Combing combing;
};

struct Analysis {
    long start = 0;  // first clip frame looked at
    long frames = 0;  // frames looked at
    long span = 0;   // frames of the clip the sample was spread over (start .. start+span-1)
    int w = 0, h = 0;
    std::vector<SegmentAnalysis> segments;  // in frame order, covering the span
    size_t focus = 0;  // the segment whose kind and settings the clip's are
    ReportCurves curves;
    ReportFrame picture;
    const SegmentAnalysis& main() const { return segments[focus]; }
    // The segments as a plan (what --plan and --auto filter by).
    Plan plan() const;
};

// Runs the analysis. False with a one-line `error` when the clip cannot be
// read or judged (too few frames, no motion).
bool analyze_clip(const AnalysisRequest& request, Analysis& out, std::string& error);

// A segment's figure by its key (Figure::key), or null.
const Figure* find_figure(const Words& words, const std::string& key);

// The frames looked at in segment `i` that stay visibly combed as --plan
// gives them (the segments of pelta's kinds filtered with their settings,
// the others as they came): those whose per-frame curve (frame_output)
// reaches 1, as ranges [first, last] of consecutive frames.
std::vector<std::pair<long, long>> combed_ranges(const Analysis& a, size_t i);

// The analysis as one JSON object (no trailing newline).
std::string analysis_json(const Analysis& a);

// The analysis as plain lines for a terminal: verdict, evidence, command line,
// the editor's labels, confidence.
std::string analysis_text(const Analysis& a);

// The command line that filters with these settings.
std::string suggested_command(const SegmentSettings& s);
// The same settings by the labels of the editor's settings window.
std::string editor_settings(const SegmentSettings& s);

// Writes the self-contained HTML report page; false with `error` on failure.
bool write_analysis_report(const Analysis& a, const std::string& input_name, const std::string& path,
                           std::string& error);

}  // namespace pelta_cli
