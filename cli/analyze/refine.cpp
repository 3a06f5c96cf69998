// The refinement of a segment of pelta's kinds: its frames read again. For a
// window, the shift to the sixteenth (on the band's profiles) and the band's
// edges to the column (on single columns, over every frame pair); then the
// filter itself, under both TFF settings with the low-pass off, shows what
// the settings leave, which weaves it chose and which frames it would
// low-pass.
#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include "analyze/passes.h"
#include "analyze/tear.h"

namespace pelta_cli::analysis {

namespace {

// Shifts either side of the survey's coarse one that the fine search tries,
// and columns either side of the band's block edges that the edge search
// weighs.
constexpr int kFineReach = 8;
// The survey sees the band block by block, and blocks where the band shows
// little (less detail, or less motion) may fall outside it: each edge is
// sought from 24 columns inside the survey's band to 128 outside it.
constexpr int kEdgeInside = 24, kEdgeOutside = 128;

// The window as the refinement settles it: TFF, the shift that fits best
// under each TFF setting, and the band's columns [left, right).
struct WindowGuess {
    int tff = 1, left = 0, right = 0;
    int shifts[2] = {0, 0};
    int shift() const { return shifts[tff]; }
};

// At most this many of a segment's frame pairs are read again for the shift
// and the edges, spread over it.
constexpr size_t kRefinePairs = 48;

// The frames of a segment whose pair partner is in it too, and of them those
// the refinement reads: both frames of up to kRefinePairs pairs.
struct PairFrames {
    const Survey& s;
    std::map<long, size_t> record_of;
    std::vector<long> frames;  // ascending
    bool has(long f) const { return record_of.count(f) > 0; }
    bool usable(long f) const { return has(f) && has(f ^ 1) && s.frames.at(record_of.at(f)).has_prev; }
    void choose() {
        std::vector<long> pairs;
        for (const auto& [f, index] : record_of)
            if ((f & 1) == 0 && usable(f) && usable(f + 1)) pairs.push_back(f);
        const size_t every = (pairs.size() + kRefinePairs - 1) / std::max<size_t>(1, kRefinePairs);
        for (size_t i = 0; i < pairs.size(); i += std::max<size_t>(1, every)) {
            frames.push_back(pairs[i]);
            frames.push_back(pairs[i] + 1);
        }
    }
};

// The shift to the sixteenth under each TFF setting: the band's blocks of
// the frame pairs rebuilt under every shift near the survey's coarse one for
// that setting; the one whose moved field fits the kept one best. Where the
// picture moves straight up or down, the other setting with another shift
// can fit as well (the partner's field then comes from another moment, which
// the filter's output shows as a tear): both are kept for the filter to
// tell apart. TFF becomes the setting that fits best.
bool fine_shift(const AnalysisRequest& rq, const PairFrames& pf, const Verdict& v, WindowGuess& w,
                std::string& error) {
    const int h = rq.h;
    int centre[2];
    centre[v.tff] = v.shift;
    centre[1 - v.tff] = v.other_shift >= 0 ? v.other_shift : v.shift;
    int s0[2], shifts[2];
    std::vector<RebuildMap> maps[2][2];  // [tff][frame parity][shift]
    for (int t = 0; t < 2; ++t) {
        s0[t] = std::max(0, centre[t] - kFineReach);
        shifts[t] = std::min(kShiftMax, centre[t] + kFineReach) - s0[t] + 1;
        for (int parity = 0; parity < 2; ++parity)
            for (int k = 0; k < shifts[t]; ++k) maps[t][parity].push_back(rebuild_map(h, parity, t, s0[t] + k));
    }
    std::vector<double> residual[2] = {std::vector<double>(static_cast<size_t>(shifts[0]), 0.0),
                                       std::vector<double>(static_cast<size_t>(shifts[1]), 0.0)};
    const int x0 = v.lb * kBlock, x1 = std::min(rq.w, v.rb * kBlock);
    Profiles own, partner;
    std::vector<float> rebuilt;
    std::vector<double> comb;
    auto per_frame = [&](SampleRunner& r, long f) {
        if ((f ^ 1) >= r.loaded()) return;
        make_profiles(r.input(f), r.stride(), x0, x1, h, kBlock, false, own);
        make_profiles(r.input(f ^ 1), r.stride(), x0, x1, h, kBlock, false, partner);
        rebuilt.resize(own.y.size());
        comb.assign(static_cast<size_t>(own.n), 0.0);
        for (int t = 0; t < 2; ++t)
            for (int k = 0; k < shifts[t]; ++k) {
                apply_rebuild(maps[t][f & 1][static_cast<size_t>(k)], own.y.data(), partner.y.data(), own.n,
                              rebuilt.data());
                std::fill(comb.begin(), comb.end(), 0.0);
                smoothed_comb(rebuilt.data(), own.n, h, comb.data());
                for (double c : comb) residual[t][static_cast<size_t>(k)] += c;
            }
    };
    if (!read_frames(rq, pf.frames, per_frame, error)) return false;
    double least[2];
    for (int t = 0; t < 2; ++t) {
        size_t best = static_cast<size_t>(centre[t] - s0[t]);
        for (size_t k = 0; k < residual[t].size(); ++k)
            if (residual[t][k] < residual[t][best]) best = k;
        w.shifts[t] = s0[t] + static_cast<int>(best);
        least[t] = residual[t][best];
    }
    // Only where the survey found the band under both settings may the
    // other one take over here.
    w.tff = v.tff_ambiguous && least[1 - v.tff] < least[v.tff] ? 1 - v.tff : v.tff;
    return true;
}

// Per column, over the frames: the mean of a difference, and how surely it
// stands out of the frame-to-frame scatter (standard errors, at most 5 each
// way, so that no single column outweighs a run of them).
struct Tally {
    double n = 0, sum = 0, sum2 = 0;
    void add(double d) {
        n += 1;
        sum += d;
        sum2 += d * d;
    }
    double mean() const { return n > 0 ? sum / n : 0; }
    double sure() const {
        if (n < 2) return 0;
        const double m = sum / n, var = std::max(0.0, sum2 / n - m * m);
        return std::clamp(m / (std::sqrt(var / (n - 1)) + 1e-9 * (std::fabs(m) + 1.0)), -5.0, 5.0);
    }
};

// The band's edges to the column: near each of its block edges, every
// column of every frame pair as field matching weaves it and as the window
// rebuilds it; in each zone, the column from which on (left) or up to which
// (right) the window's mean gain over field matching adds up most.
bool band_edges(const AnalysisRequest& rq, const PairFrames& pf, const Verdict& v, WindowGuess& guess,
                std::string& error) {
    const int w = rq.w, h = rq.h, tff = guess.tff, shift = guess.shift();
    int& left = guess.left;
    int& right = guess.right;
    const int lz0 = std::max(0, left - kEdgeOutside), lz1 = std::min(w, left + kEdgeInside);
    const int rz0 = std::max(lz1, right - kEdgeInside), rz1 = std::min(w, right + kEdgeOutside);
    struct Zone {
        int x0, x1;
        std::vector<Tally> gain, matched;
        Profiles own, partner, earlier, later;
    } zones[2] = {{lz0, lz1, {}, {}, {}, {}, {}, {}}, {rz0, rz1, {}, {}, {}, {}, {}, {}}};
    for (Zone& z : zones) {
        z.gain.resize(static_cast<size_t>(std::max(0, z.x1 - z.x0)));
        z.matched.resize(z.gain.size());
    }
    const RebuildMap maps[2] = {rebuild_map(h, 0, tff, shift), rebuild_map(h, 1, tff, shift)};
    // Interpolation averages the moved field's grain: what that alone takes
    // off a column's comb energy.
    const double bias = smoothing_share(shift) * 6.0 * pf.s.noise * pf.s.noise * std::max(1, h - 4);
    std::vector<float> rebuilt;
    std::vector<double> m, c;
    auto per_frame = [&](SampleRunner& r, long f) {
        if ((f ^ 1) >= r.loaded()) return;
        const long n = foreseen_match(pf.s, pf.record_of.at(f), tff, v.lb, v.rb);
        if (n <= 0 || n - 1 < r.loaded() - 6 || n >= r.loaded()) return;
        const int weave_parity = (tff ^ static_cast<int>(n & 1)) & 1;
        for (Zone& z : zones) {
            if (z.x1 <= z.x0) continue;
            make_profiles(r.input(f), r.stride(), z.x0, z.x1, h, 1, false, z.own);
            make_profiles(r.input(f ^ 1), r.stride(), z.x0, z.x1, h, 1, false, z.partner);
            make_profiles(r.input(n - 1), r.stride(), z.x0, z.x1, h, 1, false, z.earlier);
            make_profiles(r.input(n), r.stride(), z.x0, z.x1, h, 1, false, z.later);
            const size_t cols = static_cast<size_t>(z.own.n);
            m.assign(cols, 0.0);
            c.assign(cols, 0.0);
            weave_energy(z.earlier.y.data(), z.later.y.data(), weave_parity, z.own.n, h, m.data(), nullptr);
            rebuilt.resize(z.own.y.size());
            apply_rebuild(maps[f & 1], z.own.y.data(), z.partner.y.data(), z.own.n, rebuilt.data());
            weave_energy(rebuilt.data(), rebuilt.data(), 0, z.own.n, h, c.data(), nullptr);
            for (size_t i = 0; i < cols; ++i) {
                z.gain[i].add(m[i] - c[i] - bias);
                z.matched[i].add(m[i]);
            }
        }
    };
    if (!read_frames(rq, pf.frames, per_frame, error)) return false;
    if (zones[0].gain.empty() || zones[0].gain[0].n == 0) return true;
    std::vector<double> inner;
    for (int x = left; x < std::min(lz1, right); ++x) inner.push_back(zones[0].gain[static_cast<size_t>(x - lz0)].mean());
    for (int x = std::max(rz0, left); x < right; ++x) inner.push_back(zones[1].gain[static_cast<size_t>(x - rz0)].mean());
    std::nth_element(inner.begin(), inner.begin() + static_cast<long>(inner.size() / 2), inner.end());
    const double typical = inner.empty() ? 0 : inner[inner.size() / 2];
    std::vector<EdgeColumn> cols[2];
    for (int k = 0; k < 2; ++k)
        for (size_t i = 0; i < zones[k].gain.size(); ++i)
            cols[k].push_back({zones[k].gain[i].mean(), zones[k].gain[i].sure(), zones[k].matched[i].mean()});
    const int l = edge_in_zone(cols[0], lz0, typical, true, left);
    const int r = edge_in_zone(cols[1], rz0, typical, false, right);
    if (r - l >= kBlock) {
        left = l;
        right = r;
    }
    return true;
}

// The frames the filter runs on: at most kFilterFrames of the segment's,
// spread over it.
std::map<long, size_t> frames_to_filter(const std::map<long, size_t>& record_of) {
    constexpr size_t kFilterFrames = 96;
    const size_t every = (record_of.size() + kFilterFrames - 1) / kFilterFrames;
    std::map<long, size_t> filtered;
    size_t i = 0;
    for (const auto& [frame, index] : record_of)
        if (i++ % every == 0) filtered[frame] = index;
    return filtered;
}

// Whether the band keeps one picture through each frame pair, changing
// between pairs but not within them; then the frames either side of the
// pair show its moment too, and only a weave further off tears.
bool pair_steady(const Survey& s, const std::map<long, size_t>& record_of, int lb, int rb) {
    double within = 0, across = 0;
    const double still = still_change(s);
    for (const auto& [frame, index] : record_of) {
        const FrameRecord& rec = s.frames[index];
        if (!rec.has_prev) continue;
        double c = 0;
        for (int bl = lb; bl < rb; ++bl)
            c += std::max(0.0, rec.moved[2 * static_cast<size_t>(bl)] + rec.moved[2 * static_cast<size_t>(bl) + 1] -
                                   still);
        (frame & 1 ? within : across) += c;
    }
    return across > 0 && within < 0.25 * across;
}

// What the filter under each TFF setting left, summed over the frames it
// ran on.
struct TffTally {
    double comb[2][3] = {{0, 0, 0}, {0, 0, 0}}, field[2][3] = {{0, 0, 0}, {0, 0, 0}};  // whole, band, rest
    long visible[2] = {0, 0}, lowpassed[2] = {0, 0}, lowpassed_clean[2] = {0, 0}, torn[2] = {0, 0};
    long misled[2] = {0, 0}, off_pair[2] = {0, 0};
    long seen_torn[2] = {0, 0};  // moving frames whose output shows a tear at the window's edges
    long frames = 0, moving = 0;
    // Each frame's whole-picture measure, in the input and under each TFF
    // (low-pass off).
    std::vector<double> input_frames, output_frames[2];
    std::vector<long> frame_numbers;
};

// The columns of one frame's output: its comb and field energy over the
// whole frame, the band's blocks [lb, rb) and the rest.
void split_energy(const PIXEL_YC* out, int stride, int w, int h, int lb, int rb, Profiles& p, double c[3],
                  double fe[3]) {
    const int nb = block_count(w);
    make_profiles(out, stride, 0, w, h, kBlock, false, p);
    std::vector<double> bc(static_cast<size_t>(nb), 0.0), bf(static_cast<size_t>(nb), 0.0);
    weave_energy(p.y.data(), p.y.data(), 0, nb, h, bc.data(), bf.data());
    for (int bl = 0; bl < nb; ++bl) {
        const int side = bl >= lb && bl < rb ? 1 : 2;
        c[0] += bc[static_cast<size_t>(bl)];
        fe[0] += bf[static_cast<size_t>(bl)];
        c[side] += bc[static_cast<size_t>(bl)];
        fe[side] += bf[static_cast<size_t>(bl)];
    }
}

// Whether the filter's weave (match `chosen`) misled it against luma's: luma
// combs clearly more in the weave it chose than in the one luma prefers.
bool misled_by(const Survey& s, size_t index, long chosen, int tff, int lb, int rb) {
    const long want = foreseen_match(s, index, tff, lb, rb);
    const std::vector<float>* a = weave_comb(s, index, chosen, tff);
    const std::vector<float>* b = want > 0 ? weave_comb(s, index, want, tff) : nullptr;
    if (!a || !b || chosen == want) return false;
    double ca = 0, cb = 0;
    for (int bl = 0; bl < s.blocks; ++bl)
        if (bl < lb || bl >= rb) {
            ca += (*a)[static_cast<size_t>(bl)];
            cb += (*b)[static_cast<size_t>(bl)];
        }
    return ca > 1.5 * cb;
}

// The filter itself on the frames chosen, under both TFF settings, the
// low-pass off: what each leaves, which weaves it chose, which frames it
// would low-pass.
bool filter_both_tff(const AnalysisRequest& rq, const Survey& s, const std::map<long, size_t>& record_of,
                     const WindowGuess& win, TffTally& out, std::string& error) {
    const int w = rq.w, h = rq.h, nb = block_count(w);
    const Controls base = default_controls(rq.desc);
    const Controls controls[2] = {controls_for(base, 0, win.left, win.right - win.left, win.shifts[0], 0),
                                  controls_for(base, 1, win.left, win.right - win.left, win.shifts[1], 0)};
    const bool window = win.right > win.left;
    const int lb = win.left / kBlock, rb = window ? (win.right + kBlock - 1) / kBlock : lb;
    const std::map<long, size_t> filtered = frames_to_filter(record_of);
    const bool steady = window && pair_steady(s, record_of, lb, rb);
    Profiles p;
    auto per_frame = [&](SampleRunner& r, long f) {
        ++out.frames;
        out.frame_numbers.push_back(f);
        const size_t index = record_of.at(f);
        const bool moves = frame_moves(s, s.frames[index]);
        out.moving += moves;
        {
            double c[3] = {0, 0, 0}, fe[3] = {0, 0, 0};
            split_energy(r.input(f), r.stride(), w, h, lb, rb, p, c, fe);
            out.input_frames.push_back(picture_measure(c[0], fe[0], energy_floor(nb, h)));
        }
        for (int t = 0; t < 2; ++t) {
            Decision d;
            double c[3] = {0, 0, 0}, fe[3] = {0, 0, 0};
            const PIXEL_YC* output = r.run(controls[t], f, &d);
            split_energy(output, r.stride(), w, h, lb, rb, p, c, fe);
            for (int k = 0; k < 3; ++k) {
                out.comb[t][k] += c[k];
                out.field[t][k] += fe[k];
            }
            out.output_frames[t].push_back(picture_measure(c[0], fe[0], energy_floor(nb, h)));
            const bool combed = out.output_frames[t].back() >= 1.0;
            out.visible[t] += combed;
            if (d.known && d.comb >= d.comb_th) {
                ++out.lowpassed[t];
                out.lowpassed_clean[t] += !combed;
            }
            // The window rebuilds the frame from its pair (2k, 2k+1), the
            // weave of match 2k+1; another match around it is another
            // moment.
            const long pair = f | 1;
            if (window && moves && d.known) {
                out.off_pair[t] += d.match != pair;
                out.torn[t] += steady ? (d.match < pair - 1 || d.match > pair + 1) : d.match != pair;
            }
            if (window && moves)
                out.seen_torn[t] += torn_frame(r.input(f), output, r.stride(), w, h, win.left, win.right, s.noise);
            if (moves && d.known) out.misled[t] += misled_by(s, index, d.match, t, lb, rb);
        }
    };
    std::vector<long> frames;
    for (const auto& [f, index] : filtered) frames.push_back(f);
    return read_frames(rq, frames, per_frame, error);
}

// The TFF its own figures favour; where they are alike (within 3%), the one
// whose window keeps step with the picture around it: whose window and
// surroundings come from the same frames more often. A tear seen in the
// output under one setting (in a tenth of the moving frames) and not under
// the other decides first, where the other combs no more than half again as
// much: a tear is the plainer fault.
int settle_tff(const Refinement& r, const TffTally& t, int tff) {
    const bool tears[2] = {t.seen_torn[0] * 10 >= std::max<long>(1, t.moving), t.seen_torn[1] * 10 >= std::max<long>(1, t.moving)};
    if (tears[0] != tears[1]) {
        const int clean = tears[0] ? 1 : 0;
        if (r.tff_comb[clean] <= 1.5 * r.tff_comb[1 - clean] + 0.05) return clean;
    }
    const double a = r.tff_comb[tff], b = r.tff_comb[1 - tff];
    if (std::fabs(a - b) <= kAlike * std::max(a, b)) {
        if (t.torn[1 - tff] < t.torn[tff] || (t.torn[1 - tff] == t.torn[tff] && t.off_pair[1 - tff] < t.off_pair[tff]))
            return 1 - tff;
        return tff;
    }
    return b < a ? 1 - tff : tff;
}

// Colour against luma: where luma clearly prefers the weave field matching
// chooses over the frame itself, does colour agree? Colour converted without
// regard to the fields belongs to neither field, and then prefers the frame
// as it is.
void colour_vote(const Survey& s, const FrameSet& set, int tff, int lb, int rb, Refinement& out) {
    double luma_for = 0, chroma_for = 0, chroma_against = 0;
    for (size_t i : set) {
        const FrameRecord& r = s.frames[i];
        const long n = foreseen_match(s, i, tff, lb, rb);
        const std::vector<float>* chosen = n > 0 ? weave_comb(s, i, n, tff) : nullptr;
        if (!chosen || !r.has_prev) continue;
        const long at = static_cast<long>(i) + (n - r.frame) - 1;
        const FrameRecord& wr = s.frames[static_cast<size_t>(at)];
        const std::vector<float>& cc = wr.chroma_next[(tff ^ static_cast<int>(n & 1)) & 1];
        for (int bl = 0; bl < s.blocks; ++bl) {
            if (bl >= lb && bl < rb) continue;
            const size_t k = static_cast<size_t>(bl);
            if ((*chosen)[k] * 2 > r.in_comb[k]) continue;  // luma not clear
            luma_for += 1;
            const double ci = r.chroma_in[k], cw = cc[k];
            if (std::max(ci, cw) < 1.5 * std::min(ci, cw) || std::max(ci, cw) <= 0) continue;
            (cw < ci ? chroma_for : chroma_against) += 1;
        }
    }
    out.chroma_judged = chroma_for + chroma_against >= std::max(20.0, 0.05 * luma_for);
    out.chroma_disagree = out.chroma_judged ? chroma_against / (chroma_for + chroma_against) : 0;
}

}  // namespace

// A column belongs to the band where the window's gain there stands a
// standard error out of the frame-to-frame scatter and is a good part (a
// quarter) of its typical gain inside the survey's band, or takes off what a
// window must of field matching's combing in that column (where the band's
// picture holds less detail towards its edge, as much as inside it); a
// column without such evidence counts against it. (Outside a band the
// window may gain a little too, where field matching is not quite right;
// that is no band.) The edge is where the count, from the zone's inner end
// outward, adds up most; where it never comes above 0, it stays.
int edge_in_zone(const std::vector<EdgeColumn>& cols, int x0, double typical, bool left_edge, int edge) {
    auto score = [&](const EdgeColumn& c) {
        return c.sure >= 1.0 && c.gain >= std::min(0.25 * typical, kWindowGain * c.matched) ? 1.0 : -1.0;
    };
    const int n = static_cast<int>(cols.size());
    double run = 0, top = 0;
    for (int k = 0; k < n; ++k) {
        const int i = left_edge ? n - 1 - k : k;
        run += score(cols[static_cast<size_t>(i)]);
        if (run > top) {
            top = run;
            edge = x0 + i + (left_edge ? 0 : 1);
        }
    }
    return edge;
}

bool refine(const AnalysisRequest& rq, const Survey& s, const FoundSegment& segment, Refinement& out,
            std::string& error, int forced_tff) {
    out = Refinement{};
    const Verdict& v = segment.verdict;
    const int w = rq.w, h = rq.h, nb = block_count(w);
    PairFrames pf{s, {}, {}};
    for (size_t i : segment.records) pf.record_of[s.frames[i].frame] = i;
    pf.choose();

    WindowGuess win;
    win.tff = v.tff;
    if (v.rb > v.lb) {
        win.left = v.lb * kBlock;
        win.right = std::min(w, v.rb * kBlock);
        if (!fine_shift(rq, pf, v, win, error) || !band_edges(rq, pf, v, win, error)) return false;
    }
    TffTally t;
    if (!filter_both_tff(rq, s, pf.record_of, win, t, error)) return false;
    const int lb = win.left / kBlock, rb = win.right > win.left ? (win.right + kBlock - 1) / kBlock : lb;
    const double n = static_cast<double>(std::max<long>(1, t.frames));
    for (int k = 0; k < 2; ++k) {
        out.tff_comb[k] = picture_measure(t.comb[k][0], t.field[k][0], n * energy_floor(nb, h));
        out.band_comb[k] = picture_measure(t.comb[k][1], t.field[k][1], n * energy_floor(rb - lb, h));
        out.rest_comb[k] = picture_measure(t.comb[k][2], t.field[k][2], n * energy_floor(nb - (rb - lb), h));
    }
    for (int k = 0; k < 2; ++k)
        for (size_t f = 0; f < t.input_frames.size(); ++f) {
            out.better[k] += t.output_frames[k][f] < t.input_frames[f];
            out.worse[k] += t.output_frames[k][f] > t.input_frames[f];
        }
    out.input_typical = median_of(t.input_frames);
    const int tff = forced_tff >= 0 ? forced_tff : settle_tff(out, t, win.tff);
    out.misled = t.misled[tff];
    out.frames = t.frames;
    for (size_t f = 0; f < t.frame_numbers.size(); ++f) out.left_by_frame.emplace_back(t.frame_numbers[f], t.output_frames[tff][f]);
    out.moving = t.moving;
    out.visible = t.visible[tff];
    out.lowpassed = t.lowpassed[tff];
    out.lowpassed_clean = t.lowpassed_clean[tff];
    out.torn = t.torn[tff];
    // The low-pass helps where field matching leaves frames visibly
    // combed, and then only if it reaches them; it blurs for nothing the
    // frames that it filters clean.
    const long combed_reached = out.lowpassed - out.lowpassed_clean;
    const bool lpf = out.visible * 20 >= t.frames && out.visible > 0 && 2 * combed_reached >= out.visible;
    const bool window = win.right > win.left;
    out.settings = SegmentSettings{tff, window ? win.left : 0, win.right - win.left, window ? win.shifts[tff] : 0, lpf ? 1 : 0};
    colour_vote(s, segment.records, tff, lb, rb, out);
    return true;
}

bool repairs(const Refinement& r) {
    const int t = r.settings.tff & 1;
    const long lead = r.better[t] - r.worse[t];
    return lead > 0 && static_cast<double>(lead) * static_cast<double>(lead) > 4.0 * static_cast<double>(r.better[t] + r.worse[t]);
}

Verdict unrepaired(const Verdict& v, const Refinement& r) {
    Verdict out = v;
    out.kind = r.input_typical >= 1.0 ? ClipKind::Interlaced : ClipKind::Progressive;
    out.lb = out.rb = out.shift = 0;
    out.other_shift = -1;
    out.tff_ambiguous = false;
    return out;
}

}  // namespace pelta_cli::analysis
