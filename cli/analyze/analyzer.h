// The analysis inside cli/analyze/: the Analyzer and what its passes share.
// A pass reads the sample (a fresh reader each time) and runs the filter on
// it under candidate settings (SampleRunner). The passes, in order:
// survey.cpp (block energies of every frame, the weaves, the window rebuilt
// under coarse shifts), verdict.cpp (the kind of clip and the first
// settings), refine.cpp (the fine shift, the band's edges, the field order),
// and the result pass in analyze.cpp; describe.cpp puts it into words.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/measures.h"
#include "analyze/sample_runner.h"

namespace pelta_cli::analysis {

// Shifts tried first, across the whole range: every fourth up to four field
// lines, where small displacements need a near shift to show clean, every
// eighth beyond; then every one near the best.
constexpr int kShiftMax = 256;
constexpr int kFineShiftEnd = 64;
constexpr int kCoarseShifts = kFineShiftEnd / 4 + (kShiftMax - kFineShiftEnd) / 8 + 1;
constexpr int coarse_shift(int k) { return k <= kFineShiftEnd / 4 ? 4 * k : kFineShiftEnd + 8 * (k - kFineShiftEnd / 4); }
constexpr int kFineReach = 7;
// Frame pairs the shift search looks at, at most, spread over the sample.
constexpr long kCoarsePairs = 16;
constexpr long kFinePairs = 48;
// Columns either side of a band's edge that the edge pass re-examines.
constexpr int kEdgeReach = 12;

// The verdict's bars, on the measure (comb energy against field energy). A
// woven picture is clean where it measures no more than the fields' own
// content does, with some room; a whole frame that measures above
// kCombFloor shows combing.
constexpr double kCleanFactor = 1.6, kCleanFloor = 0.3;
constexpr double kCombFloor = 0.5;
// A clip is progressive when its frames measure less than this many times
// what the content of their fields does.
constexpr double kProgressive = 1.4;
// Mean luma change between frames (on the filter's 0..4096 scale) below
// which a frame counts as still.
constexpr double kStill = 4.0;

inline bool is_clean(double measure, double base) { return measure <= std::max(kCleanFactor * base, kCleanFloor); }
// How far past clean a block measures, in multiples of its clean level (0
// for clean, at most kCap): combing that is slight but spread over many
// blocks adds up.
inline double excess(double measure, double base) {
    const double clean = std::max(kCleanFactor * base, kCleanFloor);
    return std::min(kCap, std::max(0.0, measure / clean - 1.0));
}

// What the survey keeps of one frame of the sample: block energies of the
// input and of the weaves it forms with the next frame, and its motion.
struct FrameRecord {
    long frame = 0;
    Blocks input;
    std::vector<float> field4;  // the input's within-field energy at twice the distance, per block
    Blocks next[2];             // weave of this frame and the next, rows of parity p from this one
    bool has_next = false;
    FieldMotion motion;
};

// A way of filtering the sampled pairs, as the survey can foresee it.
struct Option {
    int tff = 1;
    int lb = 0, rb = 0;  // window in blocks, [lb, rb); empty: field matching alone
    int shift = 0;
    double combed = 0;  // combing left over the sampled frames: excess summed over blocks
};

class Analyzer {
public:
    explicit Analyzer(const AnalysisRequest& rq)
        : rq_(rq), w_(rq.w), h_(rq.h), blocks_((rq.w + kBlock - 1) / kBlock) {
        base_ = default_controls(rq.desc);
        lead_ = std::min<long>(rq.start, 2);
    }

    bool run(Analysis& out, std::string& error);

private:
    // One pass over the sample: opens the clip two frames before it (where
    // there are frames), keeps frames f+1 and f+2 read while frame f is
    // worked on, and calls per_frame(runner, index in the sample, clip frame).
    template <typename PerFrame>
    bool pass(const char* stage, double from, double to, PerFrame per_frame, std::string& error);

    bool survey(std::string& error);
    void judge();
    bool refine_shift(std::string& error);
    bool refine_edges(std::string& error);
    bool confirm_tff(std::string& error);
    bool result(Analysis& out, std::string& error);
    void describe(Analysis& out) const;

    // Block measures.
    double block_ratio(float comb, float field) const { return comb / (field + block_floor_); }
    double base_ratio(const FrameRecord& r, size_t b) const { return r.input.field[b] / (r.field4[b] + block_floor_); }
    bool textured(const FrameRecord& r, size_t b) const { return r.input.field[b] > texture_floor_; }
    const Blocks* weave_of(long index, long n, int tff) const;
    // The combing left in frame `index` filtered as `o`, with the window's blocks
    // from `window` (the rebuilt frame) or, when null, not counted.
    double combed_after(long index, const Option& o, const Blocks* window) const;

    // Every how many frame pairs a pass looks at, for about `pairs` of them
    // across the sample.
    long pair_stride(long pairs) const { return std::max<long>(1, (rq_.frames + 1) / 2 / pairs); }

    void report_progress(const char* stage, double done) const {
        if (rq_.progress) rq_.progress(stage, done);
    }

    const AnalysisRequest& rq_;
    int w_, h_, blocks_;
    Controls base_;
    long lead_ = 0;
    long frames_ = 0;
    double floor_ = 1, block_floor_ = 1, texture_floor_ = 0;

    std::vector<FrameRecord> records_;
    // The window rebuilt over every column, on the sampled pairs' even frame:
    // [sampled pair][tff][coarse shift].
    std::vector<long> sampled_;  // sample indices of those frames
    std::vector<std::array<std::array<Blocks, kCoarseShifts>, 2>> rebuilt_;

    // Verdict.
    ClipKind kind_ = ClipKind::Progressive;
    Option chosen_;
    Option no_window_[2];
    double input_combed_ = 0;  // the input's combing on the sampled frames, as Option::combed
    double dup_share_ = 0, repaired_ = 0;
    double input_over_fields_ = 0;
    double tff_comb_[2] = {0, 0};  // the chosen settings' combing under each TFF, without the low-pass  // the input's measure against that of its fields' content
    double confidence_ = 0;
    int left_ = 0, right_ = 0, shift_ = 0, tff_ = 1;

    // Result.
    std::vector<double> frame_input_, frame_output_;
    long picture_frame_ = -1;
    ColumnMeans column_input_, column_matched_, column_output_;
    double band_matched_ = 0, rest_matched_ = 0, band_output_ = 0, rest_output_ = 0;
    double input_comb_ = 0, output_comb_ = 0;
};

template <typename PerFrame>
bool Analyzer::pass(const char* stage, double from, double to, PerFrame per_frame, std::string& error) {
    const long first = rq_.start - lead_;
    std::unique_ptr<FrameInput> in = rq_.open(first, error);
    if (!in) return false;
    SampleRunner runner(rq_.desc, w_, h_, first);
    const long end = rq_.start + rq_.frames;
    long f = rq_.start;
    for (; f < end; ++f) {
        while (!runner.ended() && runner.loaded() <= f + 2)
            if (!runner.advance(*in, error) && !runner.ended()) return false;
        if (f >= runner.loaded()) break;
        per_frame(runner, f - rq_.start, f);
        if ((f - rq_.start) % 8 == 0)
            report_progress(stage, from + (to - from) * static_cast<double>(f - rq_.start + 1) /
                                              static_cast<double>(std::max<long>(1, rq_.frames)));
    }
    frames_ = f - rq_.start;
    return true;
}

}  // namespace pelta_cli::analysis
