// Filtering by a plan: `pelta --plan PLAN.json` reads one (the JSON of
// `pelta analyze --json`, or written by hand) and checks it; `pelta --auto`
// hands over the plan of its own analysis. Either way the filter run then
// filters the segments of pelta's kinds, each with its own settings, and
// passes every other frame through as it came.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "abi/host_records.h"
#include "app/options.h"
#include "host/host.h"
#include "host/plan.h"

namespace pelta_cli {

// A plan as a file gives it.
struct PlanFile {
    Plan plan;
    int frame_width = 0, frame_height = 0;  // 0: the file does not say
};

// Reads a plan from JSON text: the array "segments" and, when present,
// "frame_width" and "frame_height"; every other key, of the object and of
// each segment, is ignored. Each segment needs "start", "frames" and "kind";
// one of pelta's kinds (match, window) also "tff", "left", "width" and
// "shift", and takes "lpf" from the filter's default when it is absent.
// Values are whole numbers checked against the ranges of the options of the
// same names (the descriptor's); segments must be in frame order without
// overlapping. False with one line in `error` naming what is wrong, after
// `name` ("plan 'p.json'").
bool parse_plan(std::string_view text, const std::string& name, const FILTER_DLL* desc, PlanFile& out,
                std::string& error);

// The same from a file, or from standard input for "-".
bool read_plan_file(const std::string& path, const FILTER_DLL* desc, PlanFile& out, std::string& error);

// How messages name a plan file: "plan 'p.json'", "the plan on standard
// input".
std::string plan_name(const std::string& path);

// "segment 3 (frames 40..59)", counting segments from 1.
std::string describe_segment(const Plan& plan, size_t index);

// The first segment that reaches beyond a clip of `frames` frames, or -1.
// A segment that runs through the end (kThroughEnd) never does.
long first_segment_beyond(const Plan& plan, long frames);

// Makes the filter run go by `plan` (segments in frame order, none
// overlapping another, as the analysis gives them; the last may run
// kThroughEnd): the segments of pelta's kinds are filtered with their own
// settings, except where the command line gave a setting, and every other
// frame passes through. When no segment is of pelta's kinds, with opt.force
// every segment is filtered with its own settings (what --auto --force
// does); without, nothing is changed and the answer is false: the caller
// refuses the clip (exit status 1).
bool filter_by_plan(Options& opt, Plan plan);

// The least confidence at which --auto filters a segment of pelta's kinds;
// below it the segment is doubtful and passes through, unless --force.
constexpr double kSureConfidence = 0.5;

// What a filter run by a plan does with one of its segments, and why.
enum class SegmentFate {
    Filter,         // of pelta's kinds (with --auto: at kSureConfidence or above)
    FilterForced,   // --auto --force: doubtful, or of a clip with no segment of pelta's kinds
    PassOtherKind,  // not of pelta's kinds
    PassDoubtful,   // --auto: of pelta's kinds, below kSureConfidence
};
inline bool is_filtered(SegmentFate f) { return f == SegmentFate::Filter || f == SegmentFate::FilterForced; }

// The fate of a segment of opt.plan. A plan file's segments of pelta's kinds
// are all filtered (the file's confidence is not read: whoever wrote or kept
// the plan chose them); --auto's only where its analysis is sure of them.
SegmentFate segment_fate(const Options& opt, const Segment& segment);

// The kinds of the segments that opt.plan filters, in order: one for each
// stretch of plan_schedule(opt).
std::vector<std::string> filtered_kinds(const Options& opt);

// The controls a segment is filtered with: opt.controls, with the segment's
// settings where the command line gave none.
Controls segment_controls(const Options& opt, const Segment& segment);

// The host's schedule for opt.plan: a stretch for each segment that is
// filtered.
FilterSchedule plan_schedule(const Options& opt);

}  // namespace pelta_cli
