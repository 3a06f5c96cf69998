// The survey: one pass over the whole sample that keeps every frame's block
// energies, the weaves with the next frame, its motion, and, on frame pairs
// spread over the sample, the window rebuilt under every coarse shift; and
// from those records, the combing a way of filtering would leave.
#include <cmath>

#include "analyze/analyzer.h"

namespace pelta_cli::analysis {

bool Analyzer::survey(std::string& error) {
    const long every = pair_stride(kCoarsePairs);
    FrameEnergy e(w_);
    std::vector<double> comb(static_cast<size_t>(w_)), field(static_cast<size_t>(w_));
    return pass("survey", 0.0, 0.55,
                [&](SampleRunner& r, long i, long f) {
                    FrameRecord rec;
                    rec.frame = f;
                    const PIXEL_YC* in = r.input(f);
                    e.measure(in, r.stride(), w_, h_, true);
                    rec.input = to_blocks(e.comb, e.field);
                    rec.field4 = block_sums(e.field4);
                    frame_input_.push_back(e.whole(1.0));
                    if (f > r.first()) rec.motion = field_motion(in, r.input(f - 1), r.stride(), w_, h_);
                    if (f + 1 < r.loaded()) {
                        rec.has_next = true;
                        for (int p = 0; p < 2; ++p)
                            rec.next[p] = weave_blocks(in, r.input(f + 1), p, r.stride(), w_, h_, comb, field);
                    }
                    records_.push_back(std::move(rec));
                    // The window rebuilds a frame from its pair (2k, 2k+1);
                    // the pair's even frame shows what a shift does to both.
                    if (f % 2 == 0 && (f / 2) % every == 0) {
                        sampled_.push_back(i);
                        rebuilt_.emplace_back();
                        for (int t = 0; t < 2; ++t)
                            for (int k = 0; k < kCoarseShifts; ++k) {
                                const PIXEL_YC* o = r.run(controls_for(base_, t, 0, w_, coarse_shift(k), 0), f);
                                e.measure(o, r.stride(), w_, h_, false);
                                rebuilt_.back()[static_cast<size_t>(t)][static_cast<size_t>(k)] =
                                    to_blocks(e.comb, e.field);
                            }
                    }
                },
                error);
}

// The candidate of match index n (frames n-1 and n) as the survey measured it.
const Blocks* Analyzer::weave_of(long index, long n, int tff) const {
    // Match n is the weave of frames n-1 and n, rows of parity (tff ^ n) & 1
    // from frame n-1: the record of frame n-1 holds it.
    const long at = index + (n - records_[static_cast<size_t>(index)].frame) - 1;
    if (at < 0 || at >= static_cast<long>(records_.size())) return nullptr;
    const FrameRecord& r = records_[static_cast<size_t>(at)];
    if (!r.has_next) return nullptr;
    return &r.next[(tff ^ static_cast<int>(n & 1)) & 1];
}

double Analyzer::combed_after(long index, const Option& o, const Blocks* window) const {
    const FrameRecord& rec = records_[static_cast<size_t>(index)];
    const long f = rec.frame;
    // The filter's choice, foreseen with this measure in place of its own
    // count: the better of matches f and f+1 outside the window, then a third
    // on the same side while the better one still combs.
    auto outside = [&](const Blocks* b, double& comb, double& field) {
        comb = field = 0;
        for (int k = 0; k < blocks_; ++k)
            if (k < o.lb || k >= o.rb) {
                comb += b->comb[static_cast<size_t>(k)];
                field += b->field[static_cast<size_t>(k)];
            }
    };
    const Blocks* c0 = weave_of(index, f, o.tff);
    const Blocks* c1 = weave_of(index, f + 1, o.tff);
    double e0 = INFINITY, e1 = INFINITY, fd = 0;
    if (c0) outside(c0, e0, fd);
    if (c1) outside(c1, e1, fd);
    const Blocks* chosen = e1 < e0 ? c1 : c0;
    double best = std::min(e0, e1);
    if (!chosen) chosen = c1;
    if (!chosen) return 0;
    double cf = 0, ff = 0;
    outside(chosen, cf, ff);
    if (cf / (ff + block_floor_ * blocks_) > kCombFloor) {
        const Blocks* third = weave_of(index, e1 < e0 ? f + 2 : f - 1, o.tff);
        double e3 = INFINITY;
        if (third) outside(third, e3, fd);
        if (third && e3 < best) chosen = third;
    }
    double combed = 0;
    for (int k = 0; k < blocks_; ++k) {
        const size_t b = static_cast<size_t>(k);
        if (!textured(rec, b)) continue;
        const bool in_window = k >= o.lb && k < o.rb;
        const Blocks* src = in_window ? window : chosen;
        if (!src) continue;
        combed += excess(block_ratio(src->comb[b], src->field[b]), base_ratio(rec, b));
    }
    return combed;
}

}  // namespace pelta_cli::analysis
