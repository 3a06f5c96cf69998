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

// The settings the analysis suggests, as option values.
struct SuggestedSettings {
    int tff = 1;
    int left = 0;
    int width = 0;
    int shift = 0;
};

// A picture of the sample kept for the report: one frame before and after
// the suggested settings, w x h pixels, rows w apart.
struct ReportFrame {
    long frame = -1;  // clip frame number; -1: none kept
    std::vector<PIXEL_YC> before, after;
};

struct Analysis {
    ClipKind kind = ClipKind::Progressive;
    SuggestedSettings settings;
    double confidence = 0;  // 0..1: how clearly the measurements passed the bars of the verdict
    std::string verdict;    // one sentence
    std::string evidence;   // one or two sentences of figures
    std::string advice;     // for the kinds that are not pelta's: what to use instead
    long start = 0;         // first clip frame looked at
    long frames = 0;        // frames looked at
    int w = 0, h = 0;
    // Whole-sample combing (the measure above, 1 is about where combing
    // begins to show) of the input and of the output with the settings.
    double input_comb = 0, output_comb = 0;
    // Per column: the input, after field matching alone (no window) with the
    // suggested TFF, and with the suggested settings.
    std::vector<double> column_input, column_matched, column_output;
    // Per frame of the sample: the input and the output with the settings.
    std::vector<double> frame_input, frame_output;
    ReportFrame picture;
};

// Where the analysis reads its frames: a fresh reader of the clip that
// starts at clip frame `first` each time it is called (the analysis reads
// the sample up to three times). Null with `error` set on failure.
using SampleOpener = std::function<std::unique_ptr<FrameInput>(long first, std::string& error)>;

struct AnalysisRequest {
    const FILTER_DLL* desc = nullptr;
    int w = 0, h = 0;
    long start = 0;     // first clip frame of the sample
    long frames = 300;  // frames to look at (fewer when the clip is shorter)
    SampleOpener open;
    // Called with a short stage name and 0..1 while the analysis runs.
    std::function<void(const char* stage, double done)> progress;
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

// The command line that filters with the suggested settings.
std::string suggested_command(const SuggestedSettings& s);

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
