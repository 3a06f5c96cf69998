// The combing of the segments a plan filters (`pelta --plan`, `--auto`),
// measured before and after the filter as the filter run goes, on the
// analysis's own measure (comb energy across the fields against that within
// them, on block profiles): over the whole frame and, for a window, in its
// columns and in the rest apart. A filtered segment that came out more
// combed than it went in, anywhere of those, is reported, so that a plan
// never makes a clip worse unseen.
#pragma once

#include <string>
#include <vector>

#include "analyze/profiles.h"
#include "host/host.h"

namespace pelta_cli {

// How much more combed a segment may come out before it counts as worse:
// 2%, so that rounding and grain do not flag combing that stayed the same.
constexpr double kWorseTolerance = 0.02;

// Comb and field energy of one picture, or of many summed: [0] the whole
// frame, [1] the window's columns, [2] the rest.
struct PlaceEnergy {
    double comb[3] = {0, 0, 0}, field[3] = {0, 0, 0};
    int blocks[3] = {0, 0, 0};  // column groups of kBlock columns (or fewer, at an edge) in each place
    long frames = 0;
    void add(const PlaceEnergy& e);
    // The measure of place p over the frames added; defined() false where
    // their field energy is too small to mean anything.
    double measure(int p, int h) const;
    bool defined(int p, int h) const;
};

// Measures pictures w x h with the window [left, right) (clamped to the
// picture; empty: no window), reusing its buffers from picture to picture.
class PlaceMeter {
public:
    PlaceMeter(int w, int h) : w_(w), h_(h) {}
    PlaceEnergy measure(const PIXEL_YC* pixels, int stride, int left, int right);

private:
    int w_, h_;
    analysis::Profiles profiles_;
    std::vector<double> comb_, field_;
};

// One filtered segment, before and after, where it came out more combed.
struct CombingChange {
    size_t stretch = 0;
    long first = 0, last = 0;  // its frames, as the run saw them
    int left = 0, right = 0;   // the window's columns [left, right); empty: none
    // Per place (whole, window, rest): the measure before and after, whether
    // it could be told, and whether it got worse.
    double before[3] = {0, 0, 0}, after[3] = {0, 0, 0};
    bool told[3] = {false, false, false}, worse[3] = {false, false, false};
    bool any_worse() const { return worse[0] || worse[1] || worse[2]; }
};

// Whether `after` is more combed than `before`, beyond kWorseTolerance.
inline bool more_combed(double before, double after) { return after > before * (1.0 + kWorseTolerance); }

// The probe the filter run shows its stretches to: it measures filtered
// frames' input on the reader's side and their output on the writer's side,
// into sums of their own, so the two sides share nothing while the run
// goes. Read changes() after the run.
class CombingCheck : public StretchProbe {
public:
    CombingCheck(const FilterSchedule& schedule, int w, int h);
    void input(size_t stretch, long frame, const PIXEL_YC* pixels, int stride) override;
    void output(size_t stretch, long frame, const PIXEL_YC* pixels, int stride) override;
    // Every stretch that saw frames, in order.
    std::vector<CombingChange> changes() const;

    // The frames measured: every frame of a segment's first
    // kEveryFrameUpTo, then every kThenEvery-th, the same frames before and
    // after, so that a long segment costs a quarter of its frames' measures.
    static constexpr long kEveryFrameUpTo = 16, kThenEvery = 4;

private:
    bool measured(size_t stretch, long frame) const;
    struct Side {
        explicit Side(int w, int h) : meter(w, h) {}
        PlaceMeter meter;
        std::vector<PlaceEnergy> sums;  // per stretch
        std::vector<long> first, last;  // per stretch: frames seen (-1 none)
    };
    void add(Side& side, size_t stretch, long frame, const PIXEL_YC* pixels, int stride);
    int h_;
    std::vector<std::pair<int, int>> windows_;  // per stretch, clamped to the picture
    std::vector<long> starts_;                   // per stretch, its first frame
    Side in_, out_;
};

// The lines a run prints for the segments that came out more combed, one a
// segment: "frames 0..149 (match) came out more combed than they went in:
// the whole frame 0.12 -> 0.95". `kinds` names each stretch's segment.
std::vector<std::string> worse_lines(const std::vector<CombingChange>& changes,
                                     const std::vector<std::string>& kinds);

}  // namespace pelta_cli
