// The settings analysis behind `pelta analyze` and `pelta --auto`: runs the
// filter itself over a sample of the clip under candidate settings, measures
// the combing left in each column of every result, and from that tells what
// kind of footage the clip is and which settings restore it.
//
// Combing is measured without the filter's own thresholds: per column, the
// energy of a vertical second difference across the two fields (rows y-1, y,
// y+1) against the same difference within one field (rows y-2, y, y+2). A
// woven picture whose fields belong together has little energy at the field
// rate; fields from different moments add much. The field's own ratio (rows
// y-2, y, y+2 against y-4, y, y+4) tells what a clean picture of the same
// content measures.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/plan.h"

namespace pelta_cli {

// A picture of the sample kept for the report: one frame before and after
// the suggested settings, w x h pixels, rows w apart.
struct ReportFrame {
    long frame = -1;  // clip frame number; -1: none kept
    std::vector<PIXEL_YC> before, after;
};

// The figures of one segment, on the analysis's own measure (comb energy
// across the fields against that within them, on block profiles; a clean
// picture measures well below 1, visible combing 1 and more), over its
// sampled frames.
struct SegmentFigures {
    // From the result pass: every sampled frame of the segment.
    double input = 0;                 // the frames as they are
    double matched = 0;               // field matching alone (no window), low-pass off
    double band_matched = 0, rest_matched = 0;  // ... in the window's columns and the rest
    double output = 0;                // with the settings, the low-pass as suggested
    long frames = 0;                  // frames measured
    long visible = 0;                 // of them left visibly combed by the settings
    bool defined = true;              // false: the frames' energies were too small to mean anything
    // From the refinement: the filter under both TFF settings, low-pass
    // off, on up to a hundred frames of the segment.
    double tff_comb[2] = {0, 0};      // the settings under TFF off and on, the whole frame
    double band_comb[2] = {0, 0}, rest_comb[2] = {0, 0};  // ... in the window's columns and the rest
    long filtered = 0;                // frames it ran on
    long visible_unfiltered = 0;      // of them left visibly combed without the low-pass
    long lowpassed = 0, lowpassed_clean = 0;  // frames the low-pass would filter, and of them not visibly combed
    long torn = 0, moving = 0;        // moving frames whose window shows other frames than its surroundings
    long misled = 0;                  // frames where the filter wove fields that luma says do not belong together
    double chroma_disagree = 0;       // colour's votes against luma's weave
    bool chroma_judged = false;
    // From the verdict.
    double dup_share = 0;             // moving frames that repeat one field of the frame before
    double input_share = 0;           // moving frames whose own weave is the least combed picture
    double gap = 0;                   // how far the second-best weave stands from the best
};

struct Analysis {
    ClipKind kind = ClipKind::Progressive;
    SegmentSettings settings;  // for pelta's kinds; for the others, what --auto --force would use
    double confidence = 0;     // 0..1: how clearly the measurements passed the bars of the verdict
    std::string verdict;       // one sentence
    std::string evidence;      // one or two sentences of figures
    std::string advice;        // for the kinds that are not pelta's: what to use instead
    std::vector<std::string> warnings;  // what to check or do, one sentence each
    long start = 0;            // first clip frame looked at
    long frames = 0;           // frames looked at
    long span = 0;             // frames of the clip the sample was spread over (start .. start+span-1)
    int w = 0, h = 0;
    double input_comb = 0, output_comb = 0;  // the sample's combing, as the figures above
    SegmentFigures figures;    // of the segment whose settings these are
    std::vector<Segment> segments;
    size_t focus = 0;          // the segment whose kind, settings and figures these are
    // For the report, per block of columns (kBlock wide) and per sampled
    // frame: the input, field matching alone (no window, no low-pass) with
    // the suggested TFF, and the suggested settings.
    int block_width = 8;
    std::vector<double> column_input, column_matched, column_output;
    std::vector<long> frame_numbers;
    std::vector<double> frame_input, frame_matched, frame_output;
    ReportFrame picture;
};

// Where the analysis reads the clip. A file is read where the analysis
// wants, by seeking: every pass opens a reader at the first frame it needs.
// A pipe is read once, front to back, through next(): the analysis keeps the
// frames its later passes will read again (keep), which the reader holds in
// a scratch file, and forgets those it no longer needs; open() then reads
// kept frames only, and ends at the first frame not kept.
class ClipReader {
public:
    virtual ~ClipReader() = default;
    // Whether open() may start anywhere: a file.
    virtual bool seekable() const = 0;
    // The clip's frames, where known before reading it (a file), else -1.
    virtual long length() const = 0;
    // A reader of the clip from frame `first` on; null with `error` set on
    // failure.
    virtual std::unique_ptr<FrameInput> open(long first, std::string& error) = 0;
    // A pipe: its next frame into `frame` (w x h pixels, rows w apart; the
    // buffer grows when a frame has arrived, not before), kept for later
    // passes when `keep`.
    virtual ReadStatus next(std::vector<PIXEL_YC>& frame, bool keep, std::string& error) = 0;
    // A pipe: kept frames [first, end) are no longer needed.
    virtual void forget(long first, long end) = 0;
};

struct AnalysisRequest {
    const FILTER_DLL* desc = nullptr;
    int w = 0, h = 0;
    long start = 0;    // first clip frame to look at
    long frames = -1;  // frames from `start` to spread the sample over; -1: to the clip's end
    ClipReader* clip = nullptr;
    // Called with a short stage name and 0..1 while the analysis runs.
    std::function<void(const char* stage, double done)> progress;
    // Opens a reader at clip frame `first` (clip->open).
    std::unique_ptr<FrameInput> open(long first, std::string& error) const { return clip->open(first, error); }
};

// The fewest frames the analysis can judge.
constexpr long kMinAnalysisFrames = 10;

// Runs the analysis. False with a one-line `error` when the clip cannot be
// read or judged (too few frames, no motion).
bool analyze_clip(const AnalysisRequest& request, Analysis& out, std::string& error);

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

// Measures of one frame's luma, per column, added into the sums: comb
// (second difference across the fields), field (the same within a field) and,
// when `field4` is not null, the within-field difference at twice the
// distance.
void add_column_energy(const PIXEL_YC* frame, int stride, int w, int h, double* comb, double* field,
                       double* field4);

}  // namespace pelta_cli
