// The verdict on a run of frames, from the survey alone. Every bar it
// draws is a comparison between pictures of the same content (the frame
// against the weaves of its neighbours, the window rebuilt against field
// matching), so that grain and a codec's losses, which add to all of them
// alike, cancel; what is left to chance is judged by how often and how
// surely the difference shows over many blocks and frames.
#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>
#include <numeric>

#include "analyze/passes.h"
#include "window/shift.h"

namespace pelta_cli::analysis {

namespace {

// The phases of five frames lean apart this many times more than chance
// makes them (the F ratio of their means): the cadence of pulldown.
constexpr double kCadence = 12.0;
// Two weaves tie when the second-best stands less than this share of the
// way from the best to the worst. True interlacing gives a tie (the fields
// before and after a field are equally far from it); field matching's weave
// stands alone, the second-best at least a quarter of the way (combing
// grows at most fourfold when the fields' distance doubles).
constexpr double kTie = 0.12;
// A window's gain over a run of blocks counts when it stands out of the
// pair-to-pair scatter by this many standard errors (the search tries some
// thousand runs: by chance, one in tens of thousands reaches it), and is at
// least this share of what field matching leaves there. A run is made of
// blocks that each lean that way (kLean standard errors).
constexpr double kSure = 4.0;
constexpr double kLean = 1.0;
constexpr double kMinGain = 0.1;

}  // namespace

double energy_floor(int blocks, int h) {
    const double per_row = 4.0 * kBlock;
    return per_row * per_row * std::max(1, h - 4) * std::max(1, blocks);
}

// For the taps a2 a0 a1 a3 (in the order of their rows), the moved field's
// grain keeps g = sum a^2 of its power and c = a2 a0 + a0 a1 + a1 a3 of
// correlation between neighbouring lines; the second difference across the
// fields then holds 4 + 2g + 2c (on a kept row) and 2 + 4g (on a moved one)
// of the 6 it holds on woven fields.
double smoothing_share(int shift) {
    if ((shift & 15) == 0) return 0;
    int32_t t[4];
    pelta::make_shift_taps(t, shift);
    const double a0 = t[0] / 32768.0, a1 = t[1] / 32768.0, a2 = t[2] / 32768.0, a3 = t[3] / 32768.0;
    const double g = a0 * a0 + a1 * a1 + a2 * a2 + a3 * a3, c = a2 * a0 + a0 * a1 + a1 * a3;
    return 1.0 - (4 + 2 * g + 2 * c + 2 + 4 * g) / 12.0;
}

long foreseen_match(const Survey& s, size_t index, int tff, int lb, int rb) {
    const FrameRecord& r = s.frames[index];
    // Which of two weaves the filter takes: the one fewer blocks comb more
    // in (clearly, by half again). The filter counts combed pixels, so a
    // stretch of columns that combs very much in one weave weighs as much as
    // any as wide that combs less; by energy alone it would outweigh all.
    // Blocks alike both ways, or too few that differ, leave it to energy.
    auto better = [&](const std::vector<float>* a, const std::vector<float>* b) {
        if (!a) return false;
        if (!b) return true;
        long for_a = 0, for_b = 0;
        double ea = 0, eb = 0;
        for (int k = 0; k < s.blocks; ++k) {
            if (k >= lb && k < rb) continue;
            const double ca = (*a)[static_cast<size_t>(k)], cb = (*b)[static_cast<size_t>(k)];
            ea += ca;
            eb += cb;
            if (cb >= 1.5 * ca && cb > 0) ++for_a;
            else if (ca >= 1.5 * cb && ca > 0) ++for_b;
        }
        if (for_a + for_b >= 4 && for_a != for_b) return for_a > for_b;
        return ea < eb;
    };
    const long f = r.frame;
    const std::vector<float>* c0 = weave_comb(s, index, f, tff);
    const std::vector<float>* c1 = weave_comb(s, index, f + 1, tff);
    if (!c0 && !c1) return 0;
    const bool second = better(c1, c0);
    long n = second ? f + 1 : f;
    const std::vector<float>* chosen = second ? c1 : c0;
    double comb = 0, field = 0;
    int blocks = 0;
    for (int b = 0; b < s.blocks; ++b)
        if (b < lb || b >= rb) {
            comb += (*chosen)[static_cast<size_t>(b)];
            field += r.in_field[static_cast<size_t>(b)];
            ++blocks;
        }
    // While the better still combs, a third on the same side.
    if (picture_measure(comb, field, energy_floor(blocks, s.h)) >= 1.0) {
        const long third = second ? f + 2 : f - 1;
        if (better(weave_comb(s, index, third, tff), chosen)) n = third;
    }
    return n;
}


namespace {

// ---- motion and repeats --------------------------------------------------------

// How many of the frames move, how many of those repeat one field of the
// frame before, and their mean luma.
struct MotionCount {
    long moving = 0, repeats = 0;
    double luma = 0;
};

MotionCount motion_and_repeats(const Survey& s, const FrameSet& set) {
    MotionCount m;
    for (size_t i : set) {
        const FrameRecord& r = s.frames[i];
        m.luma += r.luma;
        const Motion mo = motion_of(s, r);
        if (!mo.frame) continue;
        ++m.moving;
        m.repeats += repeats_a_field(s, r, mo);
    }
    return m;
}

// ---- cadence -------------------------------------------------------------------

// The cadence of pulldown, however slow the motion against the grain: which
// field changed more since the frame before, (top - bottom) / (top +
// bottom), averaged over the frames of each phase of five. Film telecined
// 3:2 repeats the top field in one phase and the bottom field in another,
// and those phases lean apart frame after frame; otherwise the phases differ
// only by chance. Sets v.cadence and v.cadence_lean.
void pulldown_cadence(const Survey& s, const FrameSet& set, Verdict& v) {
    double n[5] = {0, 0, 0, 0, 0}, sum[5] = {0, 0, 0, 0, 0}, sum2 = 0, all = 0, count = 0;
    for (size_t i : set) {
        const FrameRecord& r = s.frames[i];
        if (!r.has_prev || r.change[0] + r.change[1] <= 0) continue;
        const double a = (r.change[0] - r.change[1]) / (r.change[0] + r.change[1]);
        const size_t ph = static_cast<size_t>(r.frame % 5);
        n[ph] += 1;
        sum[ph] += a;
        sum2 += a * a;
        all += a;
        count += 1;
    }
    double within = sum2, between = 0, lo = INFINITY, hi = -INFINITY;
    int lo_at = 0, hi_at = 0;
    for (int ph = 0; ph < 5; ++ph) {
        if (n[ph] == 0) continue;
        const double mean = sum[ph] / n[ph];
        within -= n[ph] * mean * mean;
        between += n[ph] * (mean - all / std::max(1.0, count)) * (mean - all / std::max(1.0, count));
        if (mean < lo) lo = mean, lo_at = ph;
        if (mean > hi) hi = mean, hi_at = ph;
    }
    // The phases' spread against the frames' scatter within them (an F
    // ratio; by chance about 1), and how far the extreme phases lean. In 3:2
    // pulldown the top field repeats two frames after the bottom one, or
    // three: phases two apart. Fields out of step lean apart too, wherever
    // the picture changes once in five frames (a clock, a counter), but in
    // neighbouring phases: the change shows in one field a frame before the
    // other.
    const int apart = std::abs(hi_at - lo_at);
    const double var = within / std::max(1.0, count - 5);
    v.cadence = count >= 20 && var > 0 && std::min(apart, 5 - apart) == 2 ? (between / 4) / var : 0;
    v.cadence_lean = count >= 20 ? hi - lo : 0;
}

// ---- band search ---------------------------------------------------------------

// A run of blocks where the rebuilt window beats field matching, under one
// TFF setting and coarse shift.
struct Band {
    int tff = 1, k = 0, lb = 0, rb = 0;
    double gain = 0, matched = 0, z = 0;
};

// The rebuilt window's gain over field matching's weave, block by block and
// pair by pair, on the sampled pairs' even frames, for every TFF and coarse
// shift: cell (tff * kCoarseShifts + k) * blocks + b.
struct GainTable {
    std::vector<const PairRecord*> pairs;  // the moving pairs
    size_t cells = 0;
    std::vector<double> n, sum, rsum, rsum2, matched;  // per cell
    std::vector<float> gain_of, both_of;               // per pair and cell
    size_t row(int t, int k, int nb) const {
        return (static_cast<size_t>(t) * kCoarseShifts + static_cast<size_t>(k)) * static_cast<size_t>(nb);
    }
};

GainTable gain_table(const Survey& s, const FrameSet& set) {
    GainTable g;
    const int nb = s.blocks;
    std::vector<bool> in_set(s.frames.size(), false);
    long first = LONG_MAX, last = LONG_MIN;
    for (size_t i : set) {
        in_set[i] = true;
        first = std::min(first, s.frames[i].frame);
        last = std::max(last, s.frames[i].frame);
    }
    // A pair whose frames lie either side of a cut shows two scenes under
    // any window: no evidence of a band, and its energies would swamp the
    // rest. Nor does a pair whose second frame lies beyond the set: that
    // frame is other footage's, as at a segment's end on an even frame.
    const std::vector<long> cuts = set.empty() ? std::vector<long>{} : cuts_between(s, first, last + 2);
    for (const PairRecord& p : s.pairs)
        if (in_set[p.record] && s.frames[p.record].frame < last && motion_of(s, s.frames[p.record]).frame &&
            !std::binary_search(cuts.begin(), cuts.end(), s.frames[p.record].frame + 1))
            g.pairs.push_back(&p);
    g.cells = 2 * static_cast<size_t>(kCoarseShifts) * static_cast<size_t>(nb);
    g.n.assign(g.cells, 0);
    g.sum.assign(g.cells, 0);
    g.rsum.assign(g.cells, 0);
    g.rsum2.assign(g.cells, 0);
    g.matched.assign(g.cells, 0);
    g.gain_of.assign(g.pairs.size() * g.cells, 0.f);
    g.both_of.assign(g.pairs.size() * g.cells, 0.f);
    // The grain's share of a block's comb energy, the part that
    // interpolation averages: 6 times a profile row's grain power per row.
    const double grain_energy = 6.0 * kBlock * s.noise * s.noise * std::max(1, s.h - 4);
    for (size_t pi = 0; pi < g.pairs.size(); ++pi) {
        const PairRecord* p = g.pairs[pi];
        for (int t = 0; t < 2; ++t) {
            const long chosen_n = foreseen_match(s, p->record, t, 0, 0);
            const std::vector<float>* chosen = chosen_n > 0 ? weave_comb(s, p->record, chosen_n, t) : nullptr;
            if (!chosen) continue;
            for (int kk = 0; kk < kCoarseShifts; ++kk) {
                const double bias = smoothing_share(coarse_shift(kk)) * grain_energy;
                for (int b = 0; b < nb; ++b) {
                    const size_t cell = g.row(t, kk, nb) + static_cast<size_t>(b);
                    const double m = (*chosen)[static_cast<size_t>(b)], wc = s.pair_comb(*p, t, kk, b);
                    const double d = m - wc - bias;
                    // How surely: the difference as a share of both, which
                    // keeps frames of much motion from swamping the rest.
                    const double rel = d / (m + wc + 1e-9 * (m + 1.0));
                    g.gain_of[pi * g.cells + cell] = static_cast<float>(d);
                    g.both_of[pi * g.cells + cell] = static_cast<float>(m + wc);
                    g.n[cell] += 1;
                    g.sum[cell] += d;
                    g.rsum[cell] += rel;
                    g.rsum2[cell] += rel * rel;
                    g.matched[cell] += m;
                }
            }
        }
    }
    return g;
}

// How surely a mean of n values stands out of their scatter: the mean in
// standard errors, from the values' sum and sum of squares.
double surety(double sum, double sum2, double n) {
    const double mean = sum / n, var = std::max(0.0, sum2 / n - mean * mean);
    return mean / (std::sqrt(var / (n - 1)) + 1e-6);
}

// Each block's lean under one TFF and shift: +1 toward the window, -1
// against, 0 none.
std::vector<int> block_leans(const GainTable& g, size_t row, int nb) {
    std::vector<int> lean(static_cast<size_t>(nb), 0);
    for (int b = 0; b < nb; ++b) {
        const size_t c = row + static_cast<size_t>(b);
        if (g.n[c] < 4) continue;
        const double z = surety(g.rsum[c], g.rsum2[c], g.n[c]);
        lean[static_cast<size_t>(b)] = z >= kLean && g.sum[c] >= kMinGain * g.matched[c] ? 1 : (z < 0 ? -1 : 0);
    }
    return lean;
}

// A run of leaning blocks judged as a whole, pair by pair: its gain, and
// how surely it stands out of the pair-to-pair scatter.
Band judge_run(const Survey& s, const GainTable& g, int t, int k, int start, int end) {
    const size_t row = g.row(t, k, s.blocks);
    Band band{t, k, start, end, 0, 0, 0};
    double rs = 0, rs2 = 0;
    for (size_t pi = 0; pi < g.pairs.size(); ++pi) {
        double gain = 0, both = 0;
        for (int b = start; b < end; ++b) {
            gain += g.gain_of[pi * g.cells + row + static_cast<size_t>(b)];
            both += g.both_of[pi * g.cells + row + static_cast<size_t>(b)];
        }
        const double r = both > 0 ? gain / both : 0;
        rs += r;
        rs2 += r * r;
    }
    for (int b = start; b < end; ++b) {
        band.gain += g.sum[row + static_cast<size_t>(b)];
        band.matched += g.matched[row + static_cast<size_t>(b)];
    }
    const double np = static_cast<double>(g.pairs.size());
    if (np >= 4) band.z = surety(rs, rs2, np);
    return band;
}

// Whether a band's window leaves the band less combed than the frames
// themselves are there: a window that only beats field matching where the
// picture needs nothing (a progressive clip, whose weaves comb) is none.
bool beats_the_input(const Survey& s, const GainTable& g, const Band& band) {
    double rebuilt = 0, as_is = 0;
    for (const PairRecord* p : g.pairs)
        for (int b = band.lb; b < band.rb; ++b) {
            rebuilt += s.pair_comb(*p, band.tff, band.k, b);
            as_is += s.frames[p->record].in_comb[static_cast<size_t>(b)];
        }
    return rebuilt <= 0.9 * as_is;
}

// Whether field matching leaves a band inside the picture more combed than
// the picture around it, each against its own detail: the band as matching
// over the whole frame leaves it (what the window's gain is counted
// against), the rest as the weave chosen outside the band leaves it (what
// the window's settings give there). A band whose fields are displaced
// combs where the weave restores the picture around it. Where matching
// already leaves the band as clean as the rest, the window's gain there is
// only a pattern that a field moved by some lines happens to fit (a test
// pattern's stripes under a vertical pan), and there is nothing to repair.
bool combs_more_than_the_rest(const Survey& s, const GainTable& g, const Band& band) {
    const int nb = s.blocks;
    // A run at one edge of the picture may be the rest of it, found where
    // the band is the larger part (weigh_the_other_part): the true band
    // beside it combs more under any weave, and the run must stand to be
    // weighed against it.
    if (band.lb <= 0 || band.rb >= nb) return true;
    const size_t row = g.row(band.tff, band.k, nb);
    double comb[2] = {0, 0}, field[2] = {0, 0};
    const int blocks[2] = {band.rb - band.lb, nb - (band.rb - band.lb)};
    for (int b = band.lb; b < band.rb; ++b) comb[0] += g.matched[row + static_cast<size_t>(b)];
    for (const PairRecord* p : g.pairs) {
        const FrameRecord& r = s.frames[p->record];
        const long outside = foreseen_match(s, p->record, band.tff, band.lb, band.rb);
        const std::vector<float>* around = outside > 0 ? weave_comb(s, p->record, outside, band.tff) : nullptr;
        for (int b = 0; b < nb; ++b) {
            const int in = b >= band.lb && b < band.rb ? 0 : 1;
            field[in] += r.in_field[static_cast<size_t>(b)];
            if (in == 1 && around) comb[1] += (*around)[static_cast<size_t>(b)];
        }
    }
    const double np = static_cast<double>(g.pairs.size());
    return picture_measure(comb[0], field[0], np * energy_floor(blocks[0], s.h)) >
           picture_measure(comb[1], field[1], np * energy_floor(blocks[1], s.h));
}

// For each TFF, the run of blocks where the rebuilt window is surely and
// clearly less combed than field matching that gains most.
void band_search(const Survey& s, const GainTable& g, Band best[2]) {
    const int nb = s.blocks;
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < kCoarseShifts; ++k) {
            const std::vector<int> lean = block_leans(g, g.row(t, k, nb), nb);
            // Runs of leaning blocks, a single block without a lean between
            // two leaning ones bridged.
            for (int start = 0; start < nb;) {
                if (lean[static_cast<size_t>(start)] != 1) {
                    ++start;
                    continue;
                }
                int end = start + 1;
                while (end < nb && (lean[static_cast<size_t>(end)] == 1 ||
                                    (lean[static_cast<size_t>(end)] == 0 && end + 1 < nb &&
                                     lean[static_cast<size_t>(end + 1)] == 1)))
                    ++end;
                // Two blocks at the least, and no more than three quarters of
                // the picture: a "band" over most of it is a whole picture
                // that a neighbour's field, moved, happens to fit (a pan
                // straight up or down).
                if (end - start >= 2 && 4 * (end - start) <= 3 * nb) {
                    const Band band = judge_run(s, g, t, k, start, end);
                    if (band.z >= kSure && band.gain >= kMinGain * band.matched && beats_the_input(s, g, band) &&
                        combs_more_than_the_rest(s, g, band) && band.gain > best[t].gain)
                        best[t] = band;
                }
                start = end;
            }
        }
}

// ---- frame readings ------------------------------------------------------------

// Each moving frame read as one of three, outside any band: progressive,
// interlaced or out of step (match).
struct Readings {
    long counted = 0, input_won = 0, crisp_ties = 0;
    long reads[3] = {0, 0, 0};  // progressive, interlaced, match
    std::vector<double> gaps, input_measures, contrasts;
};

// The kind, outside any band: which of the frame itself and its two weaves
// with the next frame is least combed, frame by frame, and how far the
// second-best stands from it. The sums over a frame's blocks weigh blocks by
// their detail: grain in flat blocks favours nothing. (A "band" over most of
// the picture is no band: the kind is then the whole picture's.)
//
// The frame itself least combed, its weaves with the next frame alike: a
// whole picture (progressive). The frame itself least combed but one weave
// nearly as little, the other far more: each field between the fields
// before and after it (interlaced; a codec's losses, lighter within a frame
// than across frames, keep the frame ahead). A weave with the next frame
// least combed and standing alone: out of step (match); tied with the next
// best: interlaced again.
Readings frame_readings(const Survey& s, const FrameSet& set, const Band best[2]) {
    const int nb = s.blocks;
    std::vector<bool> banded(static_cast<size_t>(nb), false);
    for (int t = 0; t < 2; ++t)
        if (2 * (best[t].rb - best[t].lb) < nb)
            for (int b = best[t].lb; b < best[t].rb; ++b) banded[static_cast<size_t>(b)] = true;
    Readings rd;
    const int blocks = static_cast<int>(std::count(banded.begin(), banded.end(), false));
    for (size_t i : set) {
        const FrameRecord& r = s.frames[i];
        if (!motion_of(s, r).frame) continue;
        double c[3], field = 0;
        if (!frame_pictures(s, i, &banded, c, &field)) continue;
        const int winner = static_cast<int>(std::min_element(c, c + 3) - c);
        const double measure = picture_measure(c[0], field, energy_floor(blocks, s.h));
        std::sort(c, c + 3);
        if (c[2] <= c[0]) continue;
        ++rd.counted;
        rd.input_won += winner == 0;
        const double gap = (c[1] - c[0]) / (c[2] - c[0]);
        rd.contrasts.push_back(c[2] / c[0]);
        rd.gaps.push_back(gap);
        rd.input_measures.push_back(measure);
        if (winner == 0)
            ++rd.reads[gap < 0.5 ? 1 : 0];
        else
            ++rd.reads[gap < kTie ? 1 : 2];
        rd.crisp_ties += gap < kTie;
    }
    return rd;
}

// ---- choice of kind ------------------------------------------------------------

// Field matching under each TFF, and each TFF's band with its window: the
// comb energy each leaves on the pairs, against the input's.
struct Leftovers {
    double input = 0, matching[2] = {0, 0}, window[2] = {INFINITY, INFINITY};
};

// What one pair keeps under a window over blocks [lb, rb) with TFF t and
// coarse shift k, field matching scored on the columns outside it: the
// window's comb energy in the band, the chosen weave's around it.
double window_leaves(const Survey& s, const PairRecord& p, int t, int k, int lb, int rb) {
    const long outside = foreseen_match(s, p.record, t, lb, rb);
    const std::vector<float>* around = outside > 0 ? weave_comb(s, p.record, outside, t) : nullptr;
    double left = 0;
    for (int b = 0; b < s.blocks; ++b)
        if (b >= lb && b < rb)
            left += s.pair_comb(p, t, k, b);
        else if (around)
            left += (*around)[static_cast<size_t>(b)];
    return left;
}

Leftovers leftovers(const Survey& s, const GainTable& g, const Band best[2]) {
    Leftovers o;
    for (int t = 0; t < 2; ++t)
        if (best[t].rb > best[t].lb) o.window[t] = 0;
    for (const PairRecord* p : g.pairs) {
        const FrameRecord& r = s.frames[p->record];
        o.input += std::accumulate(r.in_comb.begin(), r.in_comb.end(), 0.0);
        for (int t = 0; t < 2; ++t) {
            const long all = foreseen_match(s, p->record, t, 0, 0);
            const std::vector<float>* chosen = all > 0 ? weave_comb(s, p->record, all, t) : nullptr;
            if (chosen) o.matching[t] += std::accumulate(chosen->begin(), chosen->end(), 0.0);
            const Band& band = best[t];
            if (band.rb > band.lb) o.window[t] += window_leaves(s, *p, t, band.k, band.lb, band.rb);
        }
    }
    return o;
}

// Field matching over the whole frame restores whichever part of the
// picture weighs more in its count. Where the band is the larger part, the
// weave that matching picks restores the band, and what the window then
// beats it in is the rest of the picture, mostly at shift 0: the band found
// is a piece of the rest, and its settings leave the true band combed. The
// rest reaches the picture's edge on at least one side, and the true band
// then lies against the found one's inner edge. So a band at the picture's
// edge is weighed against every band that starts at its inner edge, as the
// window under every TFF and shift with field matching scored around it:
// whichever leaves the whole picture less combed, pair by pair surely (the
// standard a band's own gain meets), stands.
void weigh_the_other_part(const Survey& s, const GainTable& g, Band best[2]) {
    const int nb = s.blocks;
    const size_t np = g.pairs.size();
    if (np < 4) return;
    // The found band that leaves least, and what each pair keeps under it.
    int found = -1;
    double found_total = INFINITY;
    std::vector<double> found_left;
    for (int t = 0; t < 2; ++t) {
        const Band& b = best[t];
        if (b.rb <= b.lb) continue;
        std::vector<double> left(np);
        double total = 0;
        for (size_t pi = 0; pi < np; ++pi) total += left[pi] = window_leaves(s, *g.pairs[pi], t, b.k, b.lb, b.rb);
        if (total < found_total) found = t, found_total = total, found_left = std::move(left);
    }
    if (found < 0) return;
    const Band found_band = best[found];
    const bool at_left = found_band.lb == 0;
    if (at_left == (found_band.rb == nb)) return;
    // Each TFF and shift's comb energy per block, over the pairs.
    std::vector<double> col(2 * static_cast<size_t>(kCoarseShifts) * static_cast<size_t>(nb), 0.0);
    for (const PairRecord* p : g.pairs)
        for (int t = 0; t < 2; ++t)
            for (int k = 0; k < kCoarseShifts; ++k)
                for (int b = 0; b < nb; ++b) col[g.row(t, k, nb) + static_cast<size_t>(b)] += s.pair_comb(*p, t, k, b);
    Band other;
    double other_total = found_total;
    for (int far = 0; far <= nb; ++far) {
        const int lb = at_left ? found_band.rb : far, rb = at_left ? far : found_band.lb;
        if (rb - lb < 2 || 4 * (rb - lb) > 3 * nb) continue;
        for (int t = 0; t < 2; ++t) {
            double around = 0;
            for (const PairRecord* p : g.pairs) {
                const long outside = foreseen_match(s, p->record, t, lb, rb);
                const std::vector<float>* w = outside > 0 ? weave_comb(s, p->record, outside, t) : nullptr;
                if (!w) continue;
                for (int b = 0; b < nb; ++b)
                    if (b < lb || b >= rb) around += (*w)[static_cast<size_t>(b)];
            }
            for (int k = 0; k < kCoarseShifts; ++k) {
                double total = around;
                for (int b = lb; b < rb; ++b) total += col[g.row(t, k, nb) + static_cast<size_t>(b)];
                if (total < other_total) other_total = total, other = Band{t, k, lb, rb, 0, 0, 0};
            }
        }
    }
    if (other.rb <= other.lb) return;
    double sum = 0, sum2 = 0;
    for (size_t pi = 0; pi < np; ++pi) {
        const double f = found_left[pi], o = window_leaves(s, *g.pairs[pi], other.tff, other.k, other.lb, other.rb);
        const double r = f + o > 0 ? (f - o) / (f + o) : 0;
        sum += r;
        sum2 += r * r;
    }
    if (surety(sum, sum2, static_cast<double>(np)) < kSure) return;
    best[other.tff] = judge_run(s, g, other.tff, other.k, other.lb, other.rb);
}

// Whether a band shows for itself: on the median moving pair its columns
// are visibly combed as they come (the picture measure reaches 1), while
// field matching leaves the rest of the picture clean (below 1). Then the
// rest reading as whole pictures says nothing against the window: its
// motion (a slow pan, one straight up or down) hides its fields being out
// of step, and field matching combs it no more visibly than it came.
bool band_shows_for_itself(const Survey& s, const GainTable& g, const Band& band) {
    const int width = band.rb - band.lb;
    const double band_floor = energy_floor(width, s.h), rest_floor = energy_floor(s.blocks - width, s.h);
    std::vector<double> in_band, rest;
    for (const PairRecord* p : g.pairs) {
        const FrameRecord& r = s.frames[p->record];
        const long outside = foreseen_match(s, p->record, band.tff, band.lb, band.rb);
        const std::vector<float>* around = outside > 0 ? weave_comb(s, p->record, outside, band.tff) : nullptr;
        if (!around) continue;
        double comb[2] = {0, 0}, field[2] = {0, 0};
        for (int b = 0; b < s.blocks; ++b) {
            const size_t j = static_cast<size_t>(b);
            const int inside = b >= band.lb && b < band.rb ? 0 : 1;
            comb[inside] += inside == 0 ? r.in_comb[j] : (*around)[j];
            field[inside] += r.in_field[j];
        }
        in_band.push_back(picture_measure(comb[0], field[0], band_floor));
        rest.push_back(picture_measure(comb[1], field[1], rest_floor));
    }
    return static_cast<long>(in_band.size()) >= kFewestMoving && median_of(in_band) >= 1.0 && median_of(rest) < 1.0;
}

// From the readings and what the candidate settings leave: the kind, TFF,
// the band and the confidence.
void choose_kind(const Survey& s, const GainTable& g, const Band best[2], const Readings& rd, double evidence,
                 Verdict& v) {
    const double counted = static_cast<double>(rd.counted);
    const double share[3] = {rd.reads[0] / counted, rd.reads[1] / counted, rd.reads[2] / counted};
    // How clearly the leading reading leads: 0.5 at a tie with the next.
    auto lead = [&](int k) {
        double other = 0;
        for (int j = 0; j < 3; ++j)
            if (j != k) other = std::max(other, share[j]);
        return evidence * std::min(1.0, 0.5 + (share[k] - other));
    };
    // The settings that leave least; a sure band's window wins where it
    // leaves no more than that (within a trace of the input's combing), for
    // its gain in the band is sure by then.
    const Leftovers o = leftovers(s, g, best);
    const double least = std::min({o.matching[0], o.matching[1], o.window[0], o.window[1]});
    const int mt = o.matching[1] <= o.matching[0] ? 1 : 0, wt = o.window[1] <= o.window[0] ? 1 : 0;
    const bool with_window = o.window[wt] <= 1.05 * least + 0.01 * o.input;
    v.comb_left = o.input > 0 ? (with_window ? o.window[wt] : o.matching[mt]) / o.input : 0;
    v.tff = mt;
    // Interlacing ties the best weave with the next best; a sure band's
    // window is pelta's kind unless the rest of the picture ties crisply,
    // for where the rest moves too slowly to read clearly a codec's lighter
    // losses within a frame pass for a loose tie. Nor where the rest reads
    // as whole pictures more often than out of step: field matching would
    // comb them, and a picture that a weave with a neighbour and a shift
    // also restores (a pan straight up or down) needs nothing. A band that
    // shows for itself outweighs both: its columns come visibly combed
    // while matching leaves the rest clean, and the window takes that
    // combing away, so the footage is pelta's whatever the rest reads as (a
    // slow out-of-step pan around the band ties as crisply as interlacing).
    const Band& fit = best[wt];
    const bool window_kind =
        with_window && fit.gain >= kWindowGain * fit.matched &&
        ((2 * rd.crisp_ties < rd.counted && share[2] > share[0]) || band_shows_for_itself(s, g, fit));
    if (!window_kind) {
        if (share[1] >= share[0] && share[1] >= share[2]) {
            v.kind = ClipKind::Interlaced;
            v.confidence = lead(1);
            return;
        }
        if (share[0] > share[2]) {
            // A whole picture; where it is visibly combed all the same,
            // fields each of their own moment.
            v.kind = v.input_measure >= 1.0 ? ClipKind::Interlaced : ClipKind::Progressive;
            v.confidence = lead(0);
            return;
        }
    }
    v.kind = ClipKind::Match;
    v.confidence = std::min(lead(2), evidence * std::min(1.0, 2.0 * (1.0 - v.comb_left)));
    if (!window_kind) return;
    const Band& chosen = best[wt];
    v.kind = ClipKind::Window;
    v.tff = chosen.tff;
    v.lb = chosen.lb;
    v.rb = chosen.rb;
    v.shift = coarse_shift(chosen.k);
    v.band_gain = chosen.matched > 0 ? chosen.gain / chosen.matched : 0;
    v.band_z = chosen.z;
    const Band& other = best[1 - chosen.tff];
    v.tff_ambiguous = other.gain >= 0.8 * chosen.gain && other.rb > chosen.lb && other.lb < chosen.rb;
    if (other.rb > chosen.lb && other.lb < chosen.rb) v.other_shift = coarse_shift(other.k);
    // Out of step or not around it, the band is the evidence.
    v.confidence = std::min(1.0, counted / static_cast<double>(kFullEvidence)) * std::min(1.0, chosen.z / (2 * kSure));
}

}  // namespace

Verdict judge(const Survey& s, const FrameSet& set) {
    Verdict v;
    v.frames = static_cast<long>(set.size());
    const MotionCount m = motion_and_repeats(s, set);
    v.moving = m.moving;
    v.dup_share = v.moving ? static_cast<double>(m.repeats) / static_cast<double>(v.moving) : 0;
    pulldown_cadence(s, set, v);
    if (v.moving < std::max(kFewestMoving, v.frames / 5)) {
        v.kind = set.empty() || !is_dark(m.luma / static_cast<double>(set.size())) ? ClipKind::Still
                                                                                       : ClipKind::Black;
        v.black = set.empty() ? 0 : m.luma / static_cast<double>(set.size());
        // The share of frames that stand still, weighed by the frames as a
        // moving kind's evidence is: two frames that do not move say little.
        v.confidence = (1.0 - static_cast<double>(v.moving) / std::max<long>(1, v.frames)) *
                       std::min(1.0, static_cast<double>(v.frames) / static_cast<double>(kFullEvidence));
        return v;
    }
    if (v.dup_share >= 0.2 || (v.cadence >= kCadence && v.cadence_lean >= 0.1)) {
        v.kind = ClipKind::Pulldown;
        v.confidence = std::max(std::min(1.0, v.dup_share / 0.4), std::min(1.0, v.cadence / (2 * kCadence)));
        return v;
    }
    const GainTable g = gain_table(s, set);
    Band best[2];
    band_search(s, g, best);
    weigh_the_other_part(s, g, best);
    const Readings rd = frame_readings(s, set, best);
    v.input_share = rd.counted ? static_cast<double>(rd.input_won) / static_cast<double>(rd.counted) : 0;
    v.gap = median_of(rd.gaps);
    v.input_measure = median_of(rd.input_measures);
    // How clearly the frames read: where the most combed of the three
    // weaves combs less than ten times what the least does, grain and a
    // codec's losses can tip the reading, and the verdict says so in its
    // confidence (log 1 to log 10 mapped to 0 to 1).
    const double clear = std::clamp(std::log(std::max(1.0, median_of(rd.contrasts))) / std::log(10.0), 0.0, 1.0);
    const double evidence = std::min(1.0, static_cast<double>(rd.counted) / static_cast<double>(kFullEvidence)) * clear;
    if (rd.counted < 4) {
        // Movement too slight against the grain to tell any weave from
        // another: nothing to repair that can be seen.
        v.kind = ClipKind::Progressive;
        v.confidence = 0.2;
        return v;
    }
    choose_kind(s, g, best, rd, evidence, v);
    return v;
}

}  // namespace pelta_cli::analysis
