// Each frame read by itself, from the survey's records: whether it moves,
// whether one of its fields repeats the frame before's, and which of the
// pictures its fields can make is least combed: the frame as it is, or a
// weave of one of its fields with a neighbour's other field. Where a run of
// columns stays combed in every one of them while the rest is clean in one,
// the frame shows a band. The segments are cut where these readings change
// (segments.cpp); each reading is weighed by how clearly its pictures stand
// apart.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "analyze/passes.h"

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
// The typical block's change over two frames against its change over one
// from which on a frame's picture moves; and a change so far above the
// grain's that it is motion whatever the two say.
constexpr double kMovesOn = 1.3, kFarAbove = 4.0;
// Two pictures tie when the second-best stands less than this share of the
// way from the best to the worst (as the verdict reads frames).
constexpr double kTie = 0.12;

// The record of frame f-1 just before record i, where the survey holds it.
const FrameRecord* previous(const Survey& s, size_t i) {
    if (i == 0) return nullptr;
    const FrameRecord& p = s.frames[i - 1];
    return p.frame == s.frames[i].frame - 1 && p.has_next ? &p : nullptr;
}

// Per block, the comb energy of the frame itself (c[0]) and of the weaves
// with a neighbour that take the field of parity 0 (c[1]) or 1 (c[2]) from
// the earlier frame: the less combed of the weave with the frame before and
// the one with the frame after, where they were measured.
struct Candidates {
    std::vector<float> c[3];
    bool any_weave = false;
};

Candidates candidates_of(const Survey& s, size_t i) {
    const FrameRecord& r = s.frames[i];
    const FrameRecord* p = previous(s, i);
    const size_t nb = static_cast<size_t>(s.blocks);
    Candidates k;
    k.c[0] = r.in_comb;
    for (int parity = 0; parity < 2; ++parity) {
        std::vector<float>& w = k.c[1 + parity];
        w.assign(nb, INFINITY);
        for (size_t b = 0; b < nb; ++b) {
            if (r.has_next) w[b] = std::min(w[b], r.next_comb[parity][b]);
            if (p) w[b] = std::min(w[b], p->next_comb[parity][b]);
        }
    }
    k.any_weave = r.has_next || p;
    return k;
}

// A run of blocks that stays visibly combed in every picture while most of
// the rest is clean in one: [lb, rb), empty where none.
void find_band(const Survey& s, const FrameRecord& r, const Candidates& k, int& lb, int& rb) {
    const int nb = s.blocks;
    const double floor = energy_floor(1, s.h);
    std::vector<bool> combed(static_cast<size_t>(nb));
    int outside_combed = 0;
    for (int b = 0; b < nb; ++b) {
        const size_t i = static_cast<size_t>(b);
        const double least = std::min({k.c[0][i], k.c[1][i], k.c[2][i]});
        combed[i] = picture_measure(least, r.in_field[i], floor) >= 1.0;
    }
    lb = rb = 0;
    for (int start = 0; start < nb;) {
        if (!combed[static_cast<size_t>(start)]) {
            ++start;
            continue;
        }
        int end = start + 1;
        while (end < nb && (combed[static_cast<size_t>(end)] ||
                            (end + 1 < nb && combed[static_cast<size_t>(end + 1)])))
            ++end;
        if (end - start > rb - lb) lb = start, rb = end;
        start = end;
    }
    for (int b = 0; b < nb; ++b)
        if ((b < lb || b >= rb) && combed[static_cast<size_t>(b)]) ++outside_combed;
    // A band is narrower than three quarters of the picture, two blocks
    // wide at least, and stands in a picture that is otherwise clean.
    if (rb - lb < 2 || 4 * (rb - lb) > 3 * nb || 10 * outside_combed > nb - (rb - lb)) lb = rb = 0;
}

}  // namespace

bool frame_pictures(const Survey& s, size_t i, const std::vector<bool>* skip, double c[3], double* field) {
    const Candidates k = candidates_of(s, i);
    c[0] = c[1] = c[2] = 0;
    if (field) *field = 0;
    if (!k.any_weave) return false;
    const FrameRecord& r = s.frames[i];
    for (int b = 0; b < s.blocks; ++b) {
        const size_t j = static_cast<size_t>(b);
        if (skip && (*skip)[j]) continue;
        for (int n = 0; n < 3; ++n) c[n] += k.c[n][j];
        if (field) *field += r.in_field[j];
    }
    return std::isfinite(c[1]) && std::isfinite(c[2]);
}

// The frames where the picture cuts: a change from the frame before that
// stands several times above the changes around it (the median of the 20
// nearest), and above a quarter of an 8-bit code on average.
std::vector<long> cuts_between(const Survey& s, long first, long end) {
    std::vector<long> cuts;
    const auto& ch = s.frame_change;
    for (size_t i = 0; i < ch.size(); ++i) {
        const auto& [f, change] = ch[i];
        if (f < first || f >= end || change < 8.0) continue;
        std::vector<float> around;
        for (size_t j = i >= 10 ? i - 10 : 0; j < std::min(ch.size(), i + 11); ++j)
            if (j != i && std::labs(ch[j].first - f) <= 15) around.push_back(ch[j].second);
        if (around.size() < 4) continue;
        std::nth_element(around.begin(), around.begin() + static_cast<long>(around.size() / 2), around.end());
        if (change >= 4.0 * around[around.size() / 2]) cuts.push_back(f);
    }
    return cuts;
}

// A block moved when its change stands half again above what the grain
// alone gives: a change averaged over a block's rows scatters by a few
// percent of its mean, so grain reaches that only where the estimate of it
// falls short.
double still_change(const Survey& s) { return std::max(kStillChange, 1.5 * kGrainChange * s.noise); }

bool is_dark(double luma) { return luma < kBlackLuma; }

namespace {

double larger(const std::vector<float>& v, int b) {
    const size_t i = 2 * static_cast<size_t>(b);
    return std::max(v[i], v[i + 1]);
}

// Whether a frame's picture moves on: over its blocks above the still
// floor, the typical one changes over two frames at least kMovesOn times
// what it does over one (true where the survey did not read two frames
// back, or no block stands above the floor).
bool moves_on(const Survey& s, const FrameRecord& r, double floor) {
    if (r.moved2.empty()) return true;
    std::vector<double> ratios;
    for (int b = 0; b < s.blocks; ++b) {
        const double one = larger(r.moved, b);
        if (one > floor) ratios.push_back(larger(r.moved2, b) / one);
    }
    return ratios.empty() || median_of(ratios) >= kMovesOn;
}

// A frame's typical block change since the frame before: the median over
// its blocks of the larger field's.
double typical_change(const Survey& s, const FrameRecord& r) {
    std::vector<double> ones;
    for (int b = 0; b < s.blocks; ++b) ones.push_back(larger(r.moved, b));
    return median_of(ones);
}

}  // namespace

double quiet_change(const Survey& s) {
    const double floor = still_change(s);
    // Frames that do not move on, each with its typical change, or -1.
    std::vector<double> typical(s.frames.size(), -1.0);
    for (size_t i = 0; i < s.frames.size(); ++i) {
        const FrameRecord& r = s.frames[i];
        if (!r.has_prev || r.moved2.empty()) continue;
        if (moves_on(s, r, floor)) continue;
        const double t = typical_change(s, r);
        if (t <= kFarAbove * floor) typical[i] = t;
    }
    // Only where the frame before or after does not move on either: a
    // picture repeated by pulldown stops a moving frame alone from moving
    // on, where nothing moves it stops frames on end.
    auto quiet_at = [&](size_t i, long frame) {
        return i < s.frames.size() && s.frames[i].frame == frame && typical[i] >= 0;
    };
    std::vector<double> quiet;
    for (size_t i = 0; i < s.frames.size(); ++i) {
        const long f = s.frames[i].frame;
        if (typical[i] >= 0 && ((i > 0 && quiet_at(i - 1, f - 1)) || quiet_at(i + 1, f + 1)))
            quiet.push_back(typical[i]);
    }
    return static_cast<long>(quiet.size()) >= kFewestMoving ? median_of(quiet) : 0.0;
}

Motion motion_of(const Survey& s, const FrameRecord& r) {
    const double floor = still_change(s);
    Motion m;
    m.block.assign(static_cast<size_t>(s.blocks), false);
    if (!r.has_prev) return m;
    // Where the grain's estimate falls short (a codec smooths the grain
    // within a frame, not from one frame to the next, and flickers on a
    // still picture), change alone is not motion: a picture that moves
    // changes more over two frames than over one, noise alike over both.
    // So a block moved where it stands half again above what the clip's
    // frames change where nothing moves, as above the grain; and, where the
    // frame's blocks typically change no more over two frames than over
    // one, where the block itself changes more over two frames, or stands
    // far above that floor (a change so large is motion whatever the two
    // say). A codec's groups of pictures make neighbouring frames of a
    // still picture alike by turns, so that a frame of it can seem to
    // change more over two frames than over one: the floor keeps its grain
    // out.
    const bool frame_moves_on = moves_on(s, r, floor);
    const double clip_floor = std::max(floor, 1.5 * s.quiet);
    for (int b = 0; b < s.blocks; ++b) {
        const double one = larger(r.moved, b);
        if (one <= clip_floor) continue;
        const bool block_moves_on = r.moved2.empty() || larger(r.moved2, b) >= kMovesOn * one;
        if (!frame_moves_on && !block_moves_on && one <= kFarAbove * clip_floor) continue;
        m.block[static_cast<size_t>(b)] = true;
        ++m.blocks;
    }
    // Grain of deviation sigma spreads block means by sigma / sqrt(kBlock);
    // a picture holds something only well beyond that.
    const bool blank = r.spread < std::max(kBlankSpread, 3.0 * s.noise / std::sqrt(double(kBlock)));
    m.frame = !blank && m.blocks >= std::max<long>(2, s.blocks / 32);
    return m;
}

bool frame_moves(const Survey& s, const FrameRecord& r) { return motion_of(s, r).frame; }

bool repeats_a_field(const Survey& s, const FrameRecord& r, const Motion& m) {
    // A frame repeats one field of the frame before when that field changed
    // by little more than the grain while the other moved.
    const double grain = kGrainChange * s.noise;
    double change[2] = {0, 0};
    for (int b = 0; b < s.blocks; ++b)
        if (m.block[static_cast<size_t>(b)])
            for (int p = 0; p < 2; ++p)
                change[p] += std::max(0.0, r.moved[2 * static_cast<size_t>(b) + static_cast<size_t>(p)] - grain);
    return std::min(change[0], change[1]) < 0.25 * std::max(change[0], change[1]);
}

double band_contrast(const Survey& s, size_t i, int lb, int rb) {
    const FrameRecord& r = s.frames[i];
    const Candidates k = candidates_of(s, i);
    const double floor = energy_floor(1, s.h);
    double inside = 0;
    std::vector<double> outside;
    for (int b = 0; b < s.blocks; ++b) {
        const size_t j = static_cast<size_t>(b);
        const double least = std::min({k.c[0][j], k.c[1][j], k.c[2][j]});
        const double q = picture_measure(least, r.in_field[j], floor);
        if (b >= lb && b < rb)
            inside += q;
        else
            outside.push_back(q);
    }
    if (rb <= lb || outside.empty()) return 0;
    std::nth_element(outside.begin(), outside.begin() + static_cast<long>(outside.size() / 2), outside.end());
    return std::log((inside / (rb - lb) + 0.01) / (outside[outside.size() / 2] + 0.01));
}

FrameReading read_frame(const Survey& s, size_t i) {
    const FrameRecord& r = s.frames[i];
    FrameReading out;
    const Motion m = motion_of(s, r);
    if (!m.frame) {
        out.reading = r.has_prev && is_dark(r.luma) ? Reading::Dark : Reading::Still;
        out.weight = r.has_prev ? 1.f : 0.f;
        return out;
    }
    if (repeats_a_field(s, r, m)) {
        out.reading = Reading::Repeat;
        return out;
    }
    const Candidates k = candidates_of(s, i);
    if (!k.any_weave) {
        out.reading = Reading::Unclear;
        out.weight = 0;
        return out;
    }
    int lb = 0, rb = 0;
    find_band(s, r, k, lb, rb);
    double c[3] = {0, 0, 0};
    for (int b = 0; b < s.blocks; ++b)
        if (b < lb || b >= rb)
            for (int j = 0; j < 3; ++j) c[j] += k.c[j][static_cast<size_t>(b)];
    const int winner = static_cast<int>(std::min_element(c, c + 3) - c);
    std::sort(c, c + 3);
    if (!(c[2] > c[0]) || !std::isfinite(c[2])) {
        out.reading = Reading::Unclear;
        out.weight = 0;
        return out;
    }
    const double gap = (c[1] - c[0]) / (c[2] - c[0]);
    if (winner == 0)
        out.reading = gap < 0.5 ? Reading::Tie : Reading::Whole;
    else
        out.reading = gap < kTie ? Reading::Tie : Reading::Weave;
    // How clearly: the most combed picture against the least, log 1 to
    // log 10 mapped to 0 to 1.
    out.weight = static_cast<float>(std::clamp(std::log(c[2] / std::max(c[0], 1e-9)) / std::log(10.0), 0.0, 1.0));
    if (out.reading == Reading::Weave && rb > lb) {
        out.band_lb = static_cast<int16_t>(lb);
        out.band_rb = static_cast<int16_t>(rb);
    }
    return out;
}

}  // namespace pelta_cli::analysis
