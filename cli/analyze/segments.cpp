// The segments pass: where the clip changes from one kind of footage (or one
// band) to another. Every frame the survey read has a reading of its own
// (readings.cpp); within each run of consecutive frames the pass finds the
// cut into pieces whose readings are each most alike (a change-point search
// over the readings' counts, each boundary paid for, less at a scene cut),
// judges each piece on its frames, and joins neighbours that the judgement
// finds of one kind and band. Where a window meets field matching or another
// window, the edge is placed again on the band's own figures, pair by pair;
// an unsure piece too short to judge goes to its neighbours.
// Between two runs the survey did not join (a
// long file sampled in stretches), it asks for the frames between them to be
// read where their kinds differ, narrowing the gap until the change lies in
// frames it read.
#include <algorithm>
#include <cmath>
#include <map>

#include "analyze/passes.h"
#include "analyze/sampling.h"

namespace pelta_cli::analysis {

namespace {

// A reading's category: the readings themselves, Unclear last.
constexpr int kUnclear = static_cast<int>(Reading::Unclear);
constexpr int kCategories = kUnclear + 1;

int category_of(const FrameReading& r) { return static_cast<int>(r.reading); }

// What a boundary costs, in the units of the readings' log-likelihood: a
// piece must explain its frames this much better than its neighbours do to
// stand apart. At a scene cut, where footage is most often joined, half.
constexpr double kBoundary = 12.0;
constexpr double kBoundaryAtCut = 6.0;

// A segment's frames from the survey: its records in frame order.
FrameSet frames_in(const Survey& s, long first, long end) {
    FrameSet set;
    for (size_t i = 0; i < s.frames.size(); ++i)
        if (s.frames[i].frame >= first && s.frames[i].frame < end) set.push_back(i);
    std::sort(set.begin(), set.end(), [&](size_t a, size_t b) { return s.frames[a].frame < s.frames[b].frame; });
    return set;
}

// The survey's records over [first, end) as runs of consecutive frames.
std::vector<FrameSet> runs_of_frames(const Survey& s, long first, long end) {
    std::vector<FrameSet> runs;
    for (size_t i : frames_in(s, first, end)) {
        if (runs.empty() || s.frames[runs.back().back()].frame + 1 != s.frames[i].frame) runs.emplace_back();
        runs.back().push_back(i);
    }
    return runs;
}

// Prefix sums of the readings' categories over a run: a frame counts its
// weight to its category and the rest to Unclear.
struct Counts {
    std::vector<double> sum;  // [(k * kCategories) + c]: frames 0..k-1 of the run
    double n(size_t a, size_t b, int c) const { return sum[b * kCategories + c] - sum[a * kCategories + c]; }
    // The readings of frames [a, b) explained by their own mix: minus their
    // log-likelihood under it.
    double cost(size_t a, size_t b) const {
        const double total = static_cast<double>(b - a);
        double h = 0;
        for (int c = 0; c < kCategories; ++c) {
            const double k = n(a, b, c);
            if (k > 1e-9) h -= k * std::log(k / total);
        }
        return h;
    }
};

Counts count_readings(const Survey& s, const FrameSet& run) {
    Counts c;
    c.sum.assign((run.size() + 1) * kCategories, 0.0);
    for (size_t k = 0; k < run.size(); ++k) {
        const FrameReading r = read_frame(s, run[k]);
        double* row = &c.sum[(k + 1) * kCategories];
        std::copy(row - kCategories, row, row);
        row[category_of(r)] += r.weight;
        row[kUnclear] += 1.0 - r.weight;
    }
    return c;
}

// The boundaries within a run (indices into it, ascending) that explain its
// readings best: optimal partitioning, pruned as PELT prunes it (a start
// that can no longer win is dropped).
std::vector<size_t> change_points(const Survey& s, const FrameSet& run) {
    const size_t n = run.size();
    const Counts counts = count_readings(s, run);
    const std::vector<long> cuts = cuts_between(s, s.frames[run.front()].frame, s.frames[run.back()].frame + 1);
    auto penalty = [&](size_t k) {
        const long f = s.frames[run[k]].frame;
        return std::binary_search(cuts.begin(), cuts.end(), f) ? kBoundaryAtCut : kBoundary;
    };
    std::vector<double> best(n + 1, 0.0);
    std::vector<size_t> from(n + 1, 0);
    std::vector<size_t> starts{0};
    for (size_t b = 1; b <= n; ++b) {
        double top = INFINITY;
        for (size_t a : starts) {
            const double v = (a == 0 ? 0.0 : best[a] + penalty(a)) + counts.cost(a, b);
            if (v < top) top = v, from[b] = a;
        }
        best[b] = top;
        std::vector<size_t> kept;
        for (size_t a : starts)
            if ((a == 0 ? 0.0 : best[a]) + counts.cost(a, b) <= top + kBoundary) kept.push_back(a);
        kept.push_back(b);
        starts = std::move(kept);
    }
    std::vector<size_t> bounds;
    for (size_t b = from[n]; b > 0; b = from[b]) bounds.push_back(b);
    std::reverse(bounds.begin(), bounds.end());
    return bounds;
}

// Whether two neighbours found of one kind hold one band (or neither has
// one): then they are one segment.
// Two bands of blocks [lb, rb) are one where both are empty, or where they
// overlap over half the wider of them at least.
bool same_band(int alb, int arb, int blb, int brb) {
    if (arb <= alb || brb <= blb) return arb <= alb && brb <= blb;
    return std::min(arb, brb) - std::max(alb, blb) >= (std::max(arb - alb, brb - blb) + 1) / 2;
}

bool same_kind_and_band(const Verdict& a, const Verdict& b) {
    return a.kind == b.kind && same_band(a.lb, a.rb, b.lb, b.rb);
}

// Records [a, b) of a run as a segment: its frames, judged together.
FoundSegment segment_of(const Survey& s, const FrameSet& run, size_t a, size_t b) {
    FoundSegment seg;
    seg.records.assign(run.begin() + static_cast<long>(a), run.begin() + static_cast<long>(b));
    const long f0 = s.frames[seg.records.front()].frame;
    seg.stretch = Stretch{f0, s.frames[seg.records.back()].frame + 1 - f0};
    seg.verdict = judge(s, seg.records);
    return seg;
}

// The pieces of a run between its change points, each judged on its own
// frames.
std::vector<FoundSegment> judged_pieces(const Survey& s, const FrameSet& run) {
    std::vector<FoundSegment> out;
    std::vector<size_t> bounds = change_points(s, run);
    bounds.push_back(run.size());
    size_t a = 0;
    for (size_t b : bounds) {
        out.push_back(segment_of(s, run, a, b));
        a = b;
    }
    return out;
}

// ---- bands within out-of-step footage ------------------------------------------

// Frames a band is judged over at a time, and how far apart those windows
// start: a band must hold for some windows on end to count.
constexpr size_t kBandWindow = 40, kBandStep = 10;
constexpr size_t kBandRun = 3;

// The band a window of frames shows, as blocks [lb, rb); empty where it
// shows none.
struct BandLabel {
    int lb = 0, rb = 0;
    int tff = 1, k = 0;  // the TFF setting and coarse shift (its index) that restore it
    bool none() const { return rb <= lb; }
    bool same(const BandLabel& o) const { return same_band(lb, rb, o.lb, o.rb); }
};

BandLabel band_of(const Verdict& v) {
    if (v.kind != ClipKind::Window) return {};
    BandLabel b{v.lb, v.rb, v.tff, 0};
    while (b.k + 1 < kCoarseShifts && coarse_shift(b.k) < v.shift) ++b.k;
    return b;
}

// How much the band's window takes off field matching's combing in its
// blocks on the pair whose even frame is record i (as the band search weighs
// each pair), or NaN where the survey holds no such pair.
double pair_gain(const Survey& s, size_t i, const BandLabel& band) {
    if (band.none()) return 0;
    const auto p = std::lower_bound(s.pairs.begin(), s.pairs.end(), i,
                                    [](const PairRecord& r, size_t at) { return r.record < at; });
    if (p == s.pairs.end() || p->record != i) return NAN;
    const long n = foreseen_match(s, i, band.tff, 0, 0);
    const std::vector<float>* chosen = n > 0 ? weave_comb(s, i, n, band.tff) : nullptr;
    if (!chosen) return NAN;
    double m = 0, wc = 0;
    for (int b = band.lb; b < band.rb; ++b) {
        m += (*chosen)[static_cast<size_t>(b)];
        wc += s.pair_comb(*p, band.tff, band.k, b);
    }
    return m + wc > 0 ? (m - wc) / (m + wc) : 0;
}

// Where within records [from, to) of a segment the band `before` gives way
// to `after` (either may be none): on the frame pairs there, the split that
// loses least, where a pair loses what the other band's window would have
// taken off field matching's combing beyond its own side's. Only the pairs
// on the wrong side count, by how far: a band that restores some pictures
// far better than others cannot pull the split towards them, as it would
// a split by the gains' means. Snapped to a cut within two frames.
size_t band_change(const Survey& s, const FrameSet& recs, size_t from, size_t to, const BandLabel& before,
                   const BandLabel& after) {
    std::vector<double> y;
    std::vector<size_t> at;  // the record index (into recs) of each pair
    for (size_t k = from; k < to; ++k) {
        const double g = pair_gain(s, recs[k], before) - pair_gain(s, recs[k], after);
        if (!std::isfinite(g)) continue;
        y.push_back(g);
        at.push_back(k);
    }
    if (y.size() < 2) return from + (to - from) / 2;
    // lost_before[t]: what the first t pairs lose on the first band's side;
    // lost_after[t]: what the others lose on the second's.
    std::vector<double> lost_before(y.size() + 1, 0.0), lost_after(y.size() + 1, 0.0);
    for (size_t k = 0; k < y.size(); ++k) lost_before[k + 1] = lost_before[k] + std::max(0.0, -y[k]);
    for (size_t k = y.size(); k-- > 0;) lost_after[k] = lost_after[k + 1] + std::max(0.0, y[k]);
    size_t best = 1;
    double least = INFINITY;
    for (size_t t = 1; t < y.size(); ++t)
        if (lost_before[t] + lost_after[t] < least) least = lost_before[t] + lost_after[t], best = t;
    // At the first pair of the second band (a pair is frames 2k and 2k+1:
    // where the change falls on an odd frame, one frame early).
    const size_t split = at[best];
    const long f = s.frames[recs[split]].frame;
    for (long cut : cuts_between(s, f - 2, f + 3))
        for (size_t k = from + 1; k < to; ++k)
            if (s.frames[recs[k]].frame == cut) return k;
    return split;
}

// A segment of out-of-step footage cut where a band appears, ends or moves:
// windows of its frames judged one by one, runs of windows that agree on
// the band, and each change placed on the frame.
std::vector<FoundSegment> split_by_band(const Survey& s, FoundSegment seg) {
    const FrameSet& recs = seg.records;
    std::vector<FoundSegment> out;
    if (recs.size() < 2 * kBandWindow) {
        out.push_back(std::move(seg));
        return out;
    }
    std::vector<BandLabel> labels;
    for (size_t w = 0; w + kBandWindow <= recs.size(); w += kBandStep) {
        const Verdict v = judge(s, FrameSet(recs.begin() + static_cast<long>(w), recs.begin() + static_cast<long>(w + kBandWindow)));
        labels.push_back(band_of(v));
    }
    // Runs of windows of one label; a run too short to count takes the
    // label of the run before it, or at the segment's start of the run
    // after it.
    std::vector<std::pair<size_t, BandLabel>> runs;  // first window, label
    for (size_t w = 0; w < labels.size(); ++w)
        if (runs.empty() || !runs.back().second.same(labels[w])) runs.push_back({w, labels[w]});
    std::vector<std::pair<size_t, BandLabel>> kept;
    for (size_t i = 0; i < runs.size(); ++i) {
        const size_t end = i + 1 < runs.size() ? runs[i + 1].first : labels.size();
        if (end - runs[i].first < kBandRun && !kept.empty()) continue;
        if (end - runs[i].first < kBandRun && i + 1 < runs.size()) {
            runs[i + 1].first = runs[i].first;
            continue;
        }
        if (!kept.empty() && kept.back().second.same(runs[i].second)) continue;
        kept.push_back(runs[i]);
    }
    std::vector<size_t> cuts;  // record indices where a new part begins
    for (size_t i = 1; i < kept.size(); ++i) {
        const BandLabel& a = kept[i - 1].second;
        const BandLabel& b = kept[i].second;
        // The change lies between the last window of the run before and the
        // first of this one.
        const size_t from = (kept[i].first - 1) * kBandStep, to = std::min(recs.size(), kept[i].first * kBandStep + kBandWindow);
        cuts.push_back(band_change(s, recs, from, to, a, b));
    }
    size_t a = 0;
    cuts.push_back(recs.size());
    for (size_t b : cuts) {
        if (b <= a) continue;
        out.push_back(segment_of(s, recs, a, b));
        a = b;
    }
    return out;
}

// A piece too short to judge surely: fewer than kSliver frames, and unsure.
// The first frames after a cut make such pieces, for their motion is
// measured against frames before the cut.
bool too_short_to_judge(const FoundSegment& seg) {
    return seg.stretch.frames < kSliver && seg.verdict.confidence < 0.5;
}

// Neighbours found of one kind and band joined, and judged together; but a
// piece too short to judge does not join a neighbour across a cut between
// them, for the cut says where the footage changes (absorb_slivers gives it
// to its neighbours once all are found). Nor do two that each make a
// segment of their own, one sure of its kind and the other not
// (sure_beside_unsure).
void join_alike(const Survey& s, std::vector<FoundSegment>& segs) {
    std::vector<FoundSegment> out;
    for (FoundSegment& seg : segs) {
        const bool apart = !out.empty() && (((too_short_to_judge(out.back()) || too_short_to_judge(seg)) &&
                                             !cuts_between(s, seg.stretch.start, seg.stretch.start + 1).empty()) ||
                                            sure_beside_unsure(out.back(), seg));
        if (!out.empty() && !apart && same_kind_and_band(out.back().verdict, seg.verdict)) {
            out.back() = joined(s, out.back(), seg);
            continue;
        }
        out.push_back(std::move(seg));
    }
    segs = std::move(out);
}

// Two neighbours of pelta's kinds, one of them or both a window: where one
// band gives way to the other (field matching's counting as none) placed
// again on the pairs of both. The readings the segments were cut on do not
// see a band, and a band that moves little reads like field matching; its
// window's gain over field matching does show it, pair by pair.
void place_band_edges(const Survey& s, std::vector<FoundSegment>& segs) {
    for (size_t i = 0; i + 1 < segs.size(); ++i) {
        FoundSegment &a = segs[i], &b = segs[i + 1];
        if (!is_pelta_kind(a.verdict.kind) || !is_pelta_kind(b.verdict.kind)) continue;
        const BandLabel first = band_of(a.verdict), second = band_of(b.verdict);
        if (first.none() && second.none()) continue;
        FrameSet recs = a.records;
        recs.insert(recs.end(), b.records.begin(), b.records.end());
        const size_t k = band_change(s, recs, 0, recs.size(), first, second);
        // A side left with less than a judging stretch would be too few
        // frames to judge, and is more likely the split's error than a
        // piece of its own: the edge stays where it was.
        const size_t least = static_cast<size_t>(kStretchFrames);
        if (k == a.records.size() || k < least || recs.size() - k < least) continue;
        const long start = a.stretch.start, end = b.stretch.end(), at = s.frames[recs[k]].frame;
        FoundSegment moved_a = segment_of(s, recs, 0, k), moved_b = segment_of(s, recs, k, recs.size());
        // The edge moves the sides' frames, not what they are: where a side
        // judged again reads another kind or band, the move took frames
        // that were not its own, and the edge stays.
        if (!same_kind_and_band(moved_a.verdict, a.verdict) || !same_kind_and_band(moved_b.verdict, b.verdict))
            continue;
        a = std::move(moved_a);
        b = std::move(moved_b);
        a.stretch = Stretch{start, at - start};
        b.stretch = Stretch{at, end - at};
    }
}

// Where in the gap between frames a (the end of what one kind's run read)
// and b (the start of the next's) the boundary lies, where the gap cannot be
// read: at the clearest cut in it, else midway.
long boundary_in_gap(const Survey& s, long a, long b) {
    const std::vector<long> cuts = cuts_between(s, a, b + 1);
    long at = -1;
    float most = -1;
    for (const auto& [f, change] : s.frame_change)
        if (std::binary_search(cuts.begin(), cuts.end(), f) && change > most) most = change, at = f;
    return at >= 0 ? at : a + (b - a) / 2;
}

// A segment judged in thirds (of 60 frames at the least): the first third
// whose own verdict, sure in itself, names another kind or band than the
// whole, where either is pelta's: a change the segments could not place,
// which the segment's confidence must not hide.
void judge_thirds(const Survey& s, FoundSegment& seg) {
    constexpr size_t kThird = 2 * kStretchFrames;
    const size_t n = seg.records.size();
    if (!moving_kind(seg.verdict.kind) || n < 3 * kThird) return;
    for (size_t k = 0; k < 3; ++k) {
        const FrameSet part(seg.records.begin() + static_cast<long>(k * n / 3),
                            seg.records.begin() + static_cast<long>((k + 1) * n / 3));
        const Verdict v = judge(s, part);
        if (!moving_kind(v.kind) || v.confidence < 0.5 || same_kind_and_band(v, seg.verdict)) continue;
        if (!is_pelta_kind(v.kind) && !is_pelta_kind(seg.verdict.kind)) continue;
        const long first = s.frames[part.front()].frame, last = s.frames[part.back()].frame;
        seg.verdict.unlike = Stretch{first, last + 1 - first};
        seg.verdict.unlike_kind = v.kind;
        return;
    }
}

// How the band of a window segment fares on the pairs of its neighbour: the
// mean gain of its window over field matching there (-1 .. 1), NaN where
// no pair was measured.
// With `near` > 0, only on the neighbour's frames within `near` frames of
// the window segment.
double band_gain_in(const Survey& s, const FoundSegment& window, const FoundSegment& other, long near = 0) {
    const BandLabel band = band_of(window.verdict);
    const bool before = other.stretch.start < window.stretch.start;
    double sum = 0;
    long n = 0;
    for (size_t i : other.records) {
        const long f = s.frames[i].frame;
        if (near > 0 && (before ? f < window.stretch.start - near : f >= window.stretch.end() + near)) continue;
        const double g = pair_gain(s, i, band);
        if (std::isfinite(g)) sum += g, ++n;
    }
    return n > 0 ? sum / static_cast<double>(n) : NAN;
}

// The mean pair gain, (m - w) / (m + w) for field matching's combing m and
// the window's w in the band, at which the band holds: the window takes off
// at least kWindowGain of field matching's combing, as a window segment's
// must.
constexpr double kBandHolds = kWindowGain / (2 - kWindowGain);

// Whether a segment beside a window may be the band's footage that its own
// judgement missed: field matching's, or frames read unsurely as true
// interlacing, as a band's frames read where no weave restores its columns
// and the band itself was not found in them.
bool may_hold_the_band(const Verdict& v) {
    return v.kind == ClipKind::Match || (v.kind == ClipKind::Interlaced && v.confidence < 0.5);
}

// A segment of field matching (or an unsure interlaced one) beside a window
// segment whose band, on that segment's own pairs, still takes off what a
// window must: the band goes on there (its runs of windows missed it, where
// it moved little), and the segment joins the window's, judged again.
void absorb_unseen_bands(const Survey& s, std::vector<FoundSegment>& segs) {
    for (size_t i = 0; i + 1 < segs.size();) {
        FoundSegment &a = segs[i], &b = segs[i + 1];
        const bool a_window = a.verdict.kind == ClipKind::Window, b_window = b.verdict.kind == ClipKind::Window;
        const FoundSegment* window = a_window && may_hold_the_band(b.verdict)   ? &a
                                     : b_window && may_hold_the_band(a.verdict) ? &b
                                                                                 : nullptr;
        const FoundSegment& match = window == &a ? b : a;
        const double near = window ? band_gain_in(s, *window, match, 2 * kStretchFrames) : NAN;
        if (!(near > 0)) {
            ++i;
            continue;
        }
        // The window combs the match frames next to it no more than field
        // matching does: where they part is unsure, whether or not they
        // join.
        a.verdict.unsure = b.stretch;
        b.verdict.unsure = a.stretch;
        if (!(band_gain_in(s, *window, match) >= kBandHolds)) {
            ++i;
            continue;
        }
        FoundSegment both = joined(s, a, b);
        if (!same_kind_and_band(both.verdict, window->verdict)) {
            ++i;
            continue;
        }
        segs[i] = std::move(both);
        segs.erase(segs.begin() + static_cast<long>(i) + 1);
        if (i > 0) --i;
    }
}

// Frames of a gap read at once: the whole gap where it is this short, else
// a stretch in its middle.
constexpr long kReadWhole = 3 * kStretchFrames;

}  // namespace

bool sure_beside_unsure(const FoundSegment& a, const FoundSegment& b) {
    return a.stretch.frames >= kOwnSegment && b.stretch.frames >= kOwnSegment &&
           (a.verdict.confidence >= 0.5) != (b.verdict.confidence >= 0.5);
}

// The median of what two refinements leave on the frames [first, end) that
// both filtered: false where they share fewer than kFewestMoving there.
bool left_on_shared(const Refinement& a, const Refinement& b, long first, long end, double& left_a, double& left_b) {
    std::map<long, double> of_b;
    for (const auto& [f, left] : b.left_by_frame)
        if (f >= first && f < end) of_b[f] = left;
    std::vector<double> va, vb;
    for (const auto& [f, left] : a.left_by_frame) {
        const auto it = of_b.find(f);
        if (it == of_b.end()) continue;
        va.push_back(left);
        vb.push_back(it->second);
    }
    if (static_cast<long>(va.size()) < kFewestMoving) return false;
    left_a = median_of(va);
    left_b = median_of(vb);
    return true;
}

// Whether the settings refined over a and b together serve each as well as
// its own did.
bool serves_both(const Refinement& together, const FoundSegment* part[2], const Refinement* own[2]) {
    for (int k = 0; k < 2; ++k) {
        double joint = 0, alone = 0;
        if (!left_on_shared(together, *own[k], part[k]->stretch.start, part[k]->stretch.end(), joint, alone) ||
            joint > (1 + kAlike) * alone)
            return false;
    }
    return true;
}

bool join_refined_alike(const Survey& s, std::vector<FoundSegment>& found, std::vector<Refinement>& refs,
                        const RefineOne& refine_one) {
    for (size_t i = 1; i < found.size();) {
        const FoundSegment &a = found[i - 1], &b = found[i];
        const ClipKind kind = b.verdict.kind;
        const SegmentSettings &sa = refs[i - 1].settings, &sb = refs[i].settings;
        const bool overlap = kind != ClipKind::Window ||
                             std::min(sa.left + sa.width, sb.left + sb.width) > std::max(sa.left, sb.left);
        if (!is_pelta_kind(kind) || a.verdict.kind != kind || !overlap) {
            ++i;
            continue;
        }
        FoundSegment all = joined(s, a, b);
        const bool was_sure = a.verdict.confidence >= 0.5 || b.verdict.confidence >= 0.5;
        Refinement r;
        if (all.verdict.kind == kind && !refine_one(all, r)) return false;
        const FoundSegment* part[2] = {&a, &b};
        const Refinement* own[2] = {&refs[i - 1], &refs[i]};
        if (all.verdict.kind != kind || !repairs(r) || (was_sure && all.verdict.confidence < 0.5) ||
            !serves_both(r, part, own)) {
            ++i;
            continue;
        }
        found[i - 1] = std::move(all);
        refs[i - 1] = std::move(r);
        found.erase(found.begin() + static_cast<long>(i));
        refs.erase(refs.begin() + static_cast<long>(i));
    }
    return true;
}

// Segments a and b (a before b) as one, judged together.
FoundSegment joined(const Survey& s, const FoundSegment& a, const FoundSegment& b) {
    FoundSegment out;
    out.stretch = Stretch{a.stretch.start, b.stretch.end() - a.stretch.start};
    out.records = a.records;
    out.records.insert(out.records.end(), b.records.begin(), b.records.end());
    out.verdict = judge(s, out.records);
    return out;
}

// Slivers go to their neighbours (passes.h).
void absorb_slivers(const Survey& s, std::vector<FoundSegment>& segs) {
    for (size_t i = 1; i + 1 < segs.size(); ++i) {
        const FoundSegment &a = segs[i - 1], &mid = segs[i], &b = segs[i + 1];
        if (is_pelta_kind(mid.verdict.kind) || mid.verdict.confidence >= 0.5) continue;
        const bool a_pelta = is_pelta_kind(a.verdict.kind), b_pelta = is_pelta_kind(b.verdict.kind);
        const bool cut = !cuts_between(s, mid.stretch.start, mid.stretch.end() + 1).empty();
        if (!a_pelta && !b_pelta) {
            // Neighbours of one kind join whether or not a cut parts them.
            if (mid.stretch.frames >= kOwnSegment || !same_kind_and_band(a.verdict, b.verdict)) continue;
        } else if (mid.stretch.frames >= kSliver || (a_pelta != b_pelta && !cut)) {
            continue;
        }
        // Two of one kind and band take it in, unless a cut may part two
        // of pelta's kinds there.
        const bool joins = same_kind_and_band(a.verdict, b.verdict) && (!cut || !a_pelta);
        if (joins) {
            FoundSegment all = joined(s, joined(s, a, mid), b);
            if (!same_kind_and_band(all.verdict, a.verdict)) continue;
            segs[i - 1] = std::move(all);
            segs.erase(segs.begin() + static_cast<long>(i), segs.begin() + static_cast<long>(i) + 2);
            --i;
            continue;
        }
        // Each side keeps its own verdict: the sliver's frames, a pair of them
        // perhaps across the change, would only blur it.
        const long at = boundary_in_gap(s, mid.stretch.start, mid.stretch.end());
        FoundSegment &first = segs[i - 1], &second = segs[i + 1];
        FrameSet later;
        for (size_t r : mid.records) (s.frames[r].frame < at ? first.records : later).push_back(r);
        second.records.insert(second.records.begin(), later.begin(), later.end());
        first.stretch.frames = at - first.stretch.start;
        second.stretch = Stretch{at, second.stretch.end() - at};
        segs.erase(segs.begin() + static_cast<long>(i));
        --i;
    }
    // At an end of the clip a sliver has one neighbour. Where that is of
    // pelta's kinds and no cut parts them, the sliver is its footage that
    // its own few frames could not show (the first frame has none before it
    // to measure motion against): it joins, judged again with it.
    if (segs.size() < 2) return;
    for (const bool front : {true, false}) {
        const size_t i = front ? 0 : segs.size() - 1, n = front ? 1 : segs.size() - 2;
        const FoundSegment &sliver = segs[i], &next = segs[n];
        if (!too_short_to_judge(sliver) || is_pelta_kind(sliver.verdict.kind) || !is_pelta_kind(next.verdict.kind) ||
            !cuts_between(s, sliver.stretch.start, sliver.stretch.end() + 1).empty())
            continue;
        FoundSegment all = front ? joined(s, sliver, next) : joined(s, next, sliver);
        if (!same_kind_and_band(all.verdict, next.verdict)) continue;
        segs[std::min(i, n)] = std::move(all);
        segs.erase(segs.begin() + static_cast<long>(std::max(i, n)));
        if (segs.size() < 2) return;
    }
}

Parts find_parts(const Survey& s, long first, long end, const MayRead& may) {
    Parts parts;
    std::vector<std::vector<FoundSegment>> found;
    for (const FrameSet& run : runs_of_frames(s, first, end)) {
        std::vector<FoundSegment> pieces = judged_pieces(s, run);
        join_alike(s, pieces);
        std::vector<FoundSegment> split;
        for (FoundSegment& p : pieces) {
            if (!is_pelta_kind(p.verdict.kind)) {
                split.push_back(std::move(p));
                continue;
            }
            for (FoundSegment& q : split_by_band(s, std::move(p))) split.push_back(std::move(q));
        }
        join_alike(s, split);
        found.push_back(std::move(split));
    }
    if (found.empty()) return parts;
    // Gaps between runs whose kinds differ: read more of them where the clip
    // allows, the whole gap where it is short, else a stretch in its middle.
    for (size_t i = 1; i < found.size(); ++i) {
        const FoundSegment& before = found[i - 1].back();
        const FoundSegment& after = found[i].front();
        if (same_kind_and_band(before.verdict, after.verdict)) continue;
        const long a = before.stretch.end(), b = after.stretch.start;
        const long mid = a + (b - a - kStretchFrames) / 2;
        if (may.probes)
            parts.survey.push_back(b - a <= kReadWhole ? Stretch{a, b - a} : Stretch{mid + (mid & 1), kStretchFrames});
        else if (may.changes)
            parts.changes.push_back(Stretch{a, b + 1 - a});
    }
    if (parts.wants_reading()) return parts;
    // The runs' segments in order, each gap closed: at its cut (or midway)
    // between kinds that differ, and by joining them where they do not.
    std::vector<FoundSegment>& all = parts.segments;
    for (std::vector<FoundSegment>& segs : found) {
        if (!all.empty()) {
            FoundSegment& before = all.back();
            FoundSegment& after = segs.front();
            const long a = before.stretch.end(), b = after.stretch.start;
            const long at = same_kind_and_band(before.verdict, after.verdict) ? b : boundary_in_gap(s, a, b);
            before.stretch.frames = at - before.stretch.start;
            after.stretch.frames = after.stretch.end() - at;
            after.stretch.start = at;
        }
        for (FoundSegment& seg : segs) all.push_back(std::move(seg));
    }
    join_alike(s, all);
    place_band_edges(s, all);
    join_alike(s, all);
    all.back().stretch.frames = end - all.back().stretch.start;
    all.front().stretch.frames += all.front().stretch.start - first;
    all.front().stretch.start = first;
    absorb_slivers(s, all);
    absorb_unseen_bands(s, all);
    for (FoundSegment& seg : all) judge_thirds(s, seg);
    return parts;
}

}  // namespace pelta_cli::analysis
