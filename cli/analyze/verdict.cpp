// The verdict on a run of frames, from the survey alone. Every bar it
// draws is a comparison between pictures of the same content (the frame
// against the weaves of its neighbours, the window rebuilt against field
// matching), so that grain and a codec's losses, which add to all of them
// alike, cancel; what is left to chance is judged by how often and how
// surely the difference shows over many blocks and frames.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#include "analyze/passes.h"
#include "window/shift.h"

namespace pelta_cli::analysis {

namespace {

// A block's change since the frame before, per profile row, below which it
// counts as still whatever the grain: a quarter of an 8-bit code per pixel,
// the same over the block's columns (the 0..4096 scale: 16 a code).
constexpr double kStillChange = 4.0 * kBlock;
// The mean change white grain of standard deviation 1 gives a profile row:
// the difference of two sums of kBlock samples, sqrt(2 * kBlock) * sqrt(2/pi).
const double kGrainChange = std::sqrt(4.0 * kBlock / std::numbers::pi);
// Mean luma below which a still stretch is black (10 codes above black on
// the 8-bit scale).
constexpr double kBlackLuma = 10.0 * 4096.0 / 219.0;
// A picture whose block means spread less than this (two 8-bit codes) shows
// nothing: black, a blue screen. Whatever changes in it from frame to frame
// (grain, a codec's block flicker) is not motion that combing could show.
constexpr double kBlankSpread = 2.0 * 4096.0 / 219.0;

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

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    const size_t m = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(m), v.end());
    return v[m];
}

// Which blocks of a frame moved, and whether the frame did.
struct Motion {
    std::vector<bool> block;
    long blocks = 0;
    bool frame = false;
};

Motion motion_of(const Survey& s, const FrameRecord& r, double floor) {
    Motion m;
    m.block.assign(static_cast<size_t>(s.blocks), false);
    if (!r.has_prev) return m;
    for (int b = 0; b < s.blocks; ++b) {
        const size_t i = 2 * static_cast<size_t>(b);
        if (std::max(r.moved[i], r.moved[i + 1]) > floor) {
            m.block[static_cast<size_t>(b)] = true;
            ++m.blocks;
        }
    }
    // Grain of deviation sigma spreads block means by sigma / sqrt(kBlock);
    // a picture holds something only well beyond that.
    const bool blank = r.spread < std::max(kBlankSpread, 3.0 * s.noise / std::sqrt(double(kBlock)));
    m.frame = !blank && m.blocks >= std::max<long>(2, s.blocks / 32);
    return m;
}

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

// A block moved when its change stands half again above what the grain
// alone gives: a change averaged over a block's rows scatters by a few
// percent of its mean, so grain reaches that only where the estimate of it
// falls short.
double still_change(const Survey& s) { return std::max(kStillChange, 1.5 * kGrainChange * s.noise); }

bool frame_moves(const Survey& s, const FrameRecord& r) { return motion_of(s, r, still_change(s)).frame; }

Verdict judge(const Survey& s, const FrameSet& set) {
    Verdict v;
    v.frames = static_cast<long>(set.size());
    const double grain = kGrainChange * s.noise;
    const double still = still_change(s);
    const int nb = s.blocks;

    // Motion, and repeated fields.
    long dups = 0;
    double luma = 0;
    for (size_t i : set) {
        const FrameRecord& r = s.frames[i];
        luma += r.luma;
        const Motion m = motion_of(s, r, still);
        if (!m.frame) continue;
        ++v.moving;
        // A frame repeats one field of the frame before when that field
        // changed by little more than the grain while the other moved.
        double change[2] = {0, 0};
        for (int b = 0; b < nb; ++b)
            if (m.block[static_cast<size_t>(b)])
                for (int p = 0; p < 2; ++p)
                    change[p] += std::max(0.0, r.moved[2 * static_cast<size_t>(b) + static_cast<size_t>(p)] - grain);
        if (std::min(change[0], change[1]) < 0.25 * std::max(change[0], change[1])) ++dups;
    }
    v.dup_share = v.moving ? static_cast<double>(dups) / static_cast<double>(v.moving) : 0;
    // The cadence of pulldown, however slow the motion against the grain:
    // which field changed more since the frame before, (top - bottom) /
    // (top + bottom), averaged over the frames of each phase of five. Film
    // telecined 3:2 repeats the top field in one phase and the bottom field
    // in another, and those phases lean apart frame after frame; otherwise
    // the phases differ only by chance.
    {
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
        // ratio; by chance about 1), and how far the extreme phases lean.
        // In 3:2 pulldown the top field repeats two frames after the bottom
        // one, or three: phases two apart. Fields out of step lean apart
        // too, wherever the picture changes once in five frames (a clock, a
        // counter), but in neighbouring phases: the change shows in one
        // field a frame before the other.
        const int apart = std::abs(hi_at - lo_at);
        const double var = within / std::max(1.0, count - 5);
        v.cadence = count >= 20 && var > 0 && std::min(apart, 5 - apart) == 2 ? (between / 4) / var : 0;
        v.cadence_lean = count >= 20 ? hi - lo : 0;
    }
    if (v.moving < std::max<long>(4, v.frames / 5)) {
        v.kind = set.empty() || luma / static_cast<double>(set.size()) >= kBlackLuma ? ClipKind::Still : ClipKind::Black;
        v.black = set.empty() ? 0 : luma / static_cast<double>(set.size());
        v.confidence = 1.0 - static_cast<double>(v.moving) / std::max<long>(1, v.frames);
        return v;
    }
    if (v.dup_share >= 0.2 || (v.cadence >= kCadence && v.cadence_lean >= 0.1)) {
        v.kind = ClipKind::Pulldown;
        v.confidence = std::max(std::min(1.0, v.dup_share / 0.4), std::min(1.0, v.cadence / (2 * kCadence)));
        return v;
    }

    // On the sampled pairs' even frames, for every TFF and coarse shift:
    // the rebuilt window's gain over field matching's weave, block by
    // block and pair by pair.
    std::vector<bool> in_set(s.frames.size(), false);
    for (size_t i : set) in_set[i] = true;
    std::vector<const PairRecord*> pairs;
    for (const PairRecord& p : s.pairs)
        if (in_set[p.record] && motion_of(s, s.frames[p.record], still).frame) pairs.push_back(&p);
    const size_t cells = 2 * static_cast<size_t>(kCoarseShifts) * static_cast<size_t>(nb);
    std::vector<double> n(cells, 0), sum(cells, 0), rsum(cells, 0), rsum2(cells, 0), matched(cells, 0);
    std::vector<float> gain_of(pairs.size() * cells, 0.f), both_of(pairs.size() * cells, 0.f);
    // The grain's share of a block's comb energy, the part that
    // interpolation averages: 6 times a profile row's grain power per row.
    const double grain_energy = 6.0 * kBlock * s.noise * s.noise * std::max(1, s.h - 4);
    for (size_t pi = 0; pi < pairs.size(); ++pi) {
        const PairRecord* p = pairs[pi];
        for (int t = 0; t < 2; ++t) {
            const long chosen_n = foreseen_match(s, p->record, t, 0, 0);
            const std::vector<float>* chosen = chosen_n > 0 ? weave_comb(s, p->record, chosen_n, t) : nullptr;
            if (!chosen) continue;
            for (int kk = 0; kk < kCoarseShifts; ++kk) {
                const double bias = smoothing_share(coarse_shift(kk)) * grain_energy;
                for (int b = 0; b < nb; ++b) {
                    const size_t cell = (static_cast<size_t>(t) * kCoarseShifts + static_cast<size_t>(kk)) *
                                            static_cast<size_t>(nb) +
                                        static_cast<size_t>(b);
                    const double m = (*chosen)[static_cast<size_t>(b)], wc = s.pair_comb(*p, t, kk, b);
                    const double d = m - wc - bias;
                    // How surely: the difference as a share of both, which
                    // keeps frames of much motion from swamping the rest.
                    const double rel = d / (m + wc + 1e-9 * (m + 1.0));
                    gain_of[pi * cells + cell] = static_cast<float>(d);
                    both_of[pi * cells + cell] = static_cast<float>(m + wc);
                    n[cell] += 1;
                    sum[cell] += d;
                    rsum[cell] += rel;
                    rsum2[cell] += rel * rel;
                    matched[cell] += m;
                }
            }
        }
    }

    // The band: for each TFF, the run of blocks where the rebuilt window is
    // surely and clearly less combed than field matching that gains most.
    struct Band {
        int tff = 1, k = 0, lb = 0, rb = 0;
        double gain = 0, matched = 0, z = 0;
    };
    Band best_by_tff[2];
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < kCoarseShifts; ++k) {
            const size_t row = (static_cast<size_t>(t) * kCoarseShifts + static_cast<size_t>(k)) * static_cast<size_t>(nb);
            // Each block's lean: +1 toward the window, -1 against, 0 none.
            std::vector<int> lean(static_cast<size_t>(nb), 0);
            for (int b = 0; b < nb; ++b) {
                const size_t c = row + static_cast<size_t>(b);
                if (n[c] < 4) continue;
                const double mean = rsum[c] / n[c];
                const double var = std::max(0.0, rsum2[c] / n[c] - mean * mean);
                const double z = mean / (std::sqrt(var / (n[c] - 1)) + 1e-6);
                lean[static_cast<size_t>(b)] = z >= kLean && sum[c] >= kMinGain * matched[c] ? 1 : (z < 0 ? -1 : 0);
            }
            // Runs of leaning blocks, a single block without a lean between
            // two leaning ones bridged; each run judged as a whole, pair by
            // pair.
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
                if (end - start >= 2) {
                    Band band{t, k, start, end, 0, 0, 0};
                    double rs = 0, rs2 = 0;
                    for (size_t pi = 0; pi < pairs.size(); ++pi) {
                        double g = 0, both = 0;
                        for (int b = start; b < end; ++b) {
                            g += gain_of[pi * cells + row + static_cast<size_t>(b)];
                            both += both_of[pi * cells + row + static_cast<size_t>(b)];
                        }
                        const double r = both > 0 ? g / both : 0;
                        rs += r;
                        rs2 += r * r;
                    }
                    for (int b = start; b < end; ++b) {
                        band.gain += sum[row + static_cast<size_t>(b)];
                        band.matched += matched[row + static_cast<size_t>(b)];
                    }
                    const double np = static_cast<double>(pairs.size());
                    if (np >= 4) {
                        const double mean = rs / np, var = std::max(0.0, rs2 / np - mean * mean);
                        band.z = mean / (std::sqrt(var / (np - 1)) + 1e-6);
                    }
                    // ... and it must leave the band less combed than the
                    // frames themselves are there: a window that only beats
                    // field matching where the picture needs nothing (a
                    // progressive clip, whose weaves comb) is none.
                    double rebuilt = 0, as_is = 0;
                    for (const PairRecord* p : pairs)
                        for (int b = start; b < end; ++b) {
                            rebuilt += s.pair_comb(*p, t, k, b);
                            as_is += s.frames[p->record].in_comb[static_cast<size_t>(b)];
                        }
                    if (band.z >= kSure && band.gain >= kMinGain * band.matched && rebuilt <= 0.9 * as_is &&
                        band.gain > best_by_tff[t].gain)
                        best_by_tff[t] = band;
                }
                start = end;
            }
        }

    // The kind, outside any band: which of the frame itself and its two
    // weaves with the next frame is least combed, frame by frame, and how
    // far the second-best stands from it. The sums over a frame's blocks
    // weigh blocks by their detail: grain in flat blocks favours nothing.
    // (A "band" over most of the picture is no band: the kind is then the
    // whole picture's.)
    std::vector<bool> banded(static_cast<size_t>(nb), false);
    for (const Band& band : best_by_tff)
        if (2 * (band.rb - band.lb) < nb)
            for (int b = band.lb; b < band.rb; ++b) banded[static_cast<size_t>(b)] = true;
    // Each moving frame reads as one of three: the frame itself least
    // combed, its weaves with the next frame alike (a whole picture:
    // progressive); the frame itself least combed but one weave nearly as
    // little, the other far more (each field between the fields before and
    // after it: interlaced; a codec's losses, lighter within a frame than
    // across frames, keep the frame ahead); a weave with the next frame
    // least combed and standing alone (out of step: match), or tied with
    // the next best (interlaced again).
    long counted = 0, input_won = 0, reads[3] = {0, 0, 0};  // progressive, interlaced, match
    long crisp_ties = 0;
    std::vector<double> gaps, input_measures, contrasts;
    for (size_t i : set) {
        const FrameRecord& r = s.frames[i];
        if (!r.has_next || !motion_of(s, r, still).frame) continue;
        double c[3] = {0, 0, 0}, field = 0;
        int blocks = 0;
        for (int b = 0; b < nb; ++b) {
            const size_t k = static_cast<size_t>(b);
            if (banded[k]) continue;
            c[0] += r.in_comb[k];
            c[1] += r.next_comb[0][k];
            c[2] += r.next_comb[1][k];
            field += r.in_field[k];
            ++blocks;
        }
        const int winner = static_cast<int>(std::min_element(c, c + 3) - c);
        const double measure = picture_measure(c[0], field, energy_floor(blocks, s.h));
        std::sort(c, c + 3);
        if (c[2] <= c[0]) continue;
        ++counted;
        input_won += winner == 0;
        const double gap = (c[1] - c[0]) / (c[2] - c[0]);
        contrasts.push_back(c[2] / c[0]);
        gaps.push_back(gap);
        input_measures.push_back(measure);
        if (winner == 0)
            ++reads[gap < 0.5 ? 1 : 0];
        else
            ++reads[gap < kTie ? 1 : 2];
        crisp_ties += gap < kTie;
    }
    v.input_share = counted ? static_cast<double>(input_won) / static_cast<double>(counted) : 0;
    v.gap = median(gaps);
    v.input_measure = median(input_measures);
    // How clearly the frames read: where the most combed of the three
    // weaves combs less than ten times what the least does, grain and a
    // codec's losses can tip the reading, and the verdict says so in its
    // confidence (log 1 to log 10 mapped to 0 to 1).
    const double clear = std::clamp(std::log(std::max(1.0, median(contrasts))) / std::log(10.0), 0.0, 1.0);
    const double evidence = std::min(1.0, static_cast<double>(counted) / 20.0) * clear;
    if (counted < 4) {
        // Movement too slight against the grain to tell any weave from
        // another: nothing to repair that can be seen.
        v.kind = ClipKind::Progressive;
        v.confidence = 0.2;
        return v;
    }
    const double share[3] = {static_cast<double>(reads[0]) / counted, static_cast<double>(reads[1]) / counted,
                             static_cast<double>(reads[2]) / counted};
    // How clearly the leading reading leads: 0.5 at a tie with the next.
    auto lead = [&](int k) {
        double other = 0;
        for (int j = 0; j < 3; ++j)
            if (j != k) other = std::max(other, share[j]);
        return evidence * std::min(1.0, 0.5 + (share[k] - other));
    };
    // Field matching under each TFF, and each TFF's band with its window:
    // the comb energy each leaves on the pairs, against the input's.
    double input = 0, matching[2] = {0, 0}, window[2] = {INFINITY, INFINITY};
    for (int t = 0; t < 2; ++t) {
        const Band& band = best_by_tff[t];
        if (band.rb > band.lb) window[t] = 0;
    }
    for (const PairRecord* p : pairs) {
        const FrameRecord& r = s.frames[p->record];
        input += std::accumulate(r.in_comb.begin(), r.in_comb.end(), 0.0);
        for (int t = 0; t < 2; ++t) {
            const long all = foreseen_match(s, p->record, t, 0, 0);
            const std::vector<float>* chosen = all > 0 ? weave_comb(s, p->record, all, t) : nullptr;
            if (chosen) matching[t] += std::accumulate(chosen->begin(), chosen->end(), 0.0);
            const Band& band = best_by_tff[t];
            if (band.rb <= band.lb) continue;
            const long outside = foreseen_match(s, p->record, t, band.lb, band.rb);
            const std::vector<float>* around = outside > 0 ? weave_comb(s, p->record, outside, t) : nullptr;
            for (int b = 0; b < nb; ++b)
                if (b >= band.lb && b < band.rb)
                    window[t] += s.pair_comb(*p, t, band.k, b);
                else if (around)
                    window[t] += (*around)[static_cast<size_t>(b)];
        }
    }
    // The settings that leave least; a sure band's window wins where it
    // leaves no more than that (within a trace of the input's combing), for
    // its gain in the band is sure by then.
    const double least = std::min({matching[0], matching[1], window[0], window[1]});
    const int mt = matching[1] <= matching[0] ? 1 : 0, wt = window[1] <= window[0] ? 1 : 0;
    const bool with_window = window[wt] <= 1.05 * least + 0.01 * input;
    v.left = input > 0 ? (with_window ? window[wt] : matching[mt]) / input : 0;
    v.tff = mt;
    // Interlacing ties the best weave with the next best; a sure band's
    // window is pelta's kind unless the rest of the picture ties crisply,
    // for where the rest moves too slowly to read clearly a codec's lighter
    // losses within a frame pass for a loose tie.
    const bool window_kind = with_window && 2 * crisp_ties < counted;
    if (!window_kind) {
        if (share[1] >= share[0] && share[1] >= share[2]) {
            v.kind = ClipKind::Interlaced;
            v.confidence = lead(1);
            return v;
        }
        if (share[0] > share[2]) {
            // A whole picture; where it is visibly combed all the same,
            // fields each of their own moment.
            v.kind = v.input_measure >= 1.0 ? ClipKind::Interlaced : ClipKind::Progressive;
            v.confidence = lead(0);
            return v;
        }
    }
    v.kind = ClipKind::Match;
    v.confidence = std::min(lead(2), evidence * std::min(1.0, 2.0 * (1.0 - v.left)));
    if (window_kind) {
        const Band& best = best_by_tff[wt];
        v.kind = ClipKind::Window;
        v.tff = best.tff;
        v.lb = best.lb;
        v.rb = best.rb;
        v.shift = coarse_shift(best.k);
        v.band_gain = best.matched > 0 ? best.gain / best.matched : 0;
        v.band_z = best.z;
        const Band& other = best_by_tff[1 - best.tff];
        v.tff_ambiguous = other.gain >= 0.8 * best.gain && other.rb > best.lb && other.lb < best.rb;
        // Out of step or not around it, the band is the evidence.
        v.confidence = std::min(1.0, static_cast<double>(counted) / 20.0) * std::min(1.0, best.z / (2 * kSure));
    }
    return v;
}

}  // namespace pelta_cli::analysis
