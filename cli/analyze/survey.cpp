// The survey: one reading of the sampled stretches. Each frame is measured
// on its block profiles, with the frame before it (how far each field moved)
// and the frame after it (the two weaves they form); on frame pairs spread
// over the sample, the window is rebuilt over every column under both TFF
// settings and every coarse shift. Nothing here runs the filter: every
// candidate picture is a mix of two frames' rows, and so is its profile.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <memory>

#include "analyze/passes.h"

namespace pelta_cli::analysis {

namespace {

// The grain's standard deviation on one frame, per pixel: Immerkaer's
// estimate (the mean magnitude of a 3x3 difference that cancels flat
// shading and slopes, times sqrt(pi/2)/6) on each field by itself, taken
// per tile of 16 columns by 8 field lines; detail only adds to a tile's
// estimate, so the tiles of least detail tell the grain: the tenth
// percentile of them.
double estimate_noise(const PIXEL_YC* frame, int stride, int w, int h) {
    constexpr int kTileW = 16, kTileH = 8;
    std::vector<double> tiles;
    for (int parity = 0; parity < 2; ++parity) {
        const int lines = (h - parity + 1) / 2;
        auto row = [&](int line) {
            return frame + static_cast<size_t>(parity + 2 * line) * static_cast<size_t>(stride);
        };
        for (int l0 = 1; l0 + kTileH + 1 <= lines; l0 += kTileH)
            for (int x0 = 1; x0 + kTileW + 1 <= w; x0 += kTileW) {
                double sum = 0;
                for (int l = l0; l < l0 + kTileH; ++l) {
                    const PIXEL_YC *a = row(l - 1), *b = row(l), *c = row(l + 1);
                    for (int x = x0; x < x0 + kTileW; ++x) {
                        const double r = a[x - 1].y - 2.0 * a[x].y + a[x + 1].y - 2.0 * (b[x - 1].y - 2.0 * b[x].y + b[x + 1].y) +
                                         c[x - 1].y - 2.0 * c[x].y + c[x + 1].y;
                        sum += std::fabs(r);
                    }
                }
                tiles.push_back(sum / (kTileW * kTileH));
            }
    }
    if (tiles.empty()) return 0;
    const size_t at = tiles.size() / 10;
    std::nth_element(tiles.begin(), tiles.begin() + static_cast<long>(at), tiles.end());
    return tiles[at] * std::sqrt(std::numbers::pi / 2) / 6.0;
}

// A frame the survey has read: its clip number and profiles.
struct Seen {
    long frame = -1;
    Profiles p;
};

// The comb energy per block of the weave of a and b (rows of parity p from
// a), of luma and, where asked, of the colour.
void weave_blocks(const Profiles& a, const Profiles& b, int parity, std::vector<float>& comb,
                  std::vector<float>* field, std::vector<float>* chroma) {
    const size_t n = static_cast<size_t>(a.n);
    std::vector<double> c(n, 0.0), f(field ? n : 0, 0.0);
    weave_energy(a.y.data(), b.y.data(), parity, a.n, a.h, c.data(), field ? f.data() : nullptr);
    comb.assign(c.begin(), c.end());
    if (field) field->assign(f.begin(), f.end());
    if (chroma) {
        std::fill(c.begin(), c.end(), 0.0);
        weave_energy(a.cb.data(), b.cb.data(), parity, a.n, a.h, c.data(), nullptr);
        weave_energy(a.cr.data(), b.cr.data(), parity, a.n, a.h, c.data(), nullptr);
        chroma->assign(c.begin(), c.end());
    }
}

}  // namespace

bool run_survey(const AnalysisRequest& rq, const std::vector<Stretch>& stretches, Survey& out, std::string& error) {
    out = Survey{};
    out.w = rq.w;
    out.h = rq.h;
    out.blocks = block_count(rq.w);
    out.stretches = stretches;
    long total = 0;
    for (const Stretch& s : stretches) total += s.frames;
    const size_t nb = static_cast<size_t>(out.blocks);

    // Pairs for the window search: about kPairPixels pixels of them, at
    // least 16 pairs, spread evenly over what the stretches hold: every pair
    // at first, and every other one of those kept whenever they grow to
    // twice as many (a pipe does not tell its length in advance).
    constexpr double kPairPixels = 64.0 * 720 * 480;
    const size_t want_pairs = std::max<size_t>(16, static_cast<size_t>(kPairPixels / (double(rq.w) * rq.h)));
    long pair_every = 1, pairs_seen = 0;
    // The grain on every fourth frame.
    constexpr long kNoiseEvery = 4;

    const int stride = rq.w;
    std::vector<PIXEL_YC> pixels(static_cast<size_t>(rq.w) * static_cast<size_t>(rq.h));
    std::vector<RebuildMap> maps;  // [tff * kCoarseShifts + k], for an even frame
    maps.reserve(2 * kCoarseShifts);
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < kCoarseShifts; ++k) maps.push_back(rebuild_map(rq.h, 0, t, coarse_shift(k)));
    std::vector<float> rebuilt(nb * static_cast<size_t>(rq.h));
    std::vector<double> energy(nb);

    long done = 0;
    for (size_t si = 0; si < stretches.size(); ++si) {
        const Stretch& st = stretches[si];
        // One frame before the stretch, for the motion of its first frame,
        // and one after it, for the weave of its last.
        const long first = std::max<long>(0, st.start - 1);
        std::unique_ptr<FrameInput> in = rq.open(first, error);
        if (!in) return false;
        Seen prev, cur;
        const size_t base = out.frames.size();
        for (long f = first; f <= st.start + st.frames; ++f) {
            const ReadStatus status = in->next(pixels.data(), stride, error);
            if (status == ReadStatus::Error) return false;
            if (status == ReadStatus::End) break;
            std::swap(prev, cur);
            cur.frame = f;
            make_profiles(pixels.data(), stride, 0, rq.w, rq.h, kBlock, true, cur.p);
            const bool after_prev = prev.frame >= 0 && prev.frame == f - 1;
            // The frame before now has its next frame: its weaves, and the
            // window rebuilt on it when it opens a sampled pair.
            if (after_prev && out.frames.size() > base && out.frames.back().frame == prev.frame) {
                FrameRecord& r = out.frames.back();
                r.has_next = true;
                for (int p = 0; p < 2; ++p) weave_blocks(prev.p, cur.p, p, r.next_comb[p], nullptr, &r.chroma_next[p]);
                if (prev.frame % 2 == 0 && pairs_seen++ % pair_every == 0) {
                    PairRecord pr;
                    pr.record = out.frames.size() - 1;
                    pr.comb.resize(maps.size() * nb);
                    for (size_t m = 0; m < maps.size(); ++m) {
                        apply_rebuild(maps[m], prev.p.y.data(), cur.p.y.data(), out.blocks, rebuilt.data());
                        std::fill(energy.begin(), energy.end(), 0.0);
                        weave_energy(rebuilt.data(), rebuilt.data(), 0, out.blocks, rq.h, energy.data(), nullptr);
                        std::copy(energy.begin(), energy.end(), pr.comb.begin() + static_cast<long>(m * nb));
                    }
                    out.pairs.push_back(std::move(pr));
                    if (out.pairs.size() >= 2 * want_pairs) {
                        for (size_t i = 0; 2 * i < out.pairs.size(); ++i) out.pairs[i] = std::move(out.pairs[2 * i]);
                        out.pairs.resize((out.pairs.size() + 1) / 2);
                        pair_every *= 2;
                    }
                }
            }
            if (f >= st.start + st.frames) break;
            if (f < st.start) continue;
            FrameRecord r;
            r.frame = f;
            r.stretch = static_cast<int>(si);
            double luma = 0;
            for (float v : cur.p.y) luma += v;
            r.luma = luma / (static_cast<double>(rq.w) * rq.h);
            if ((f - st.start) % kNoiseEvery == 0) r.noise = estimate_noise(pixels.data(), stride, rq.w, rq.h);
            weave_blocks(cur.p, cur.p, 0, r.in_comb, &r.in_field, &r.chroma_in);
            if (after_prev) {
                r.has_prev = true;
                r.moved.resize(2 * nb);
                field_change(cur.p.y.data(), prev.p.y.data(), out.blocks, rq.h, r.moved.data());
                for (size_t b = 0; b < nb; ++b)
                    for (int p = 0; p < 2; ++p) r.change[p] += r.moved[2 * b + static_cast<size_t>(p)];
                for (double& c : r.change) c /= static_cast<double>(nb);
            }
            out.frames.push_back(std::move(r));
            ++done;
            if (rq.progress && done % 8 == 0) rq.progress("survey", 0.4 * static_cast<double>(done) / std::max<long>(1, total));
        }
    }
    std::vector<double> noise;
    for (const FrameRecord& r : out.frames)
        if (r.noise >= 0) noise.push_back(r.noise);
    if (!noise.empty()) {
        std::nth_element(noise.begin(), noise.begin() + static_cast<long>(noise.size() / 2), noise.end());
        out.noise = noise[noise.size() / 2];
    }
    return true;
}

const std::vector<float>* weave_comb(const Survey& s, size_t index, long n, int tff) {
    const long at = static_cast<long>(index) + (n - s.frames[index].frame) - 1;
    if (at < 0 || at >= static_cast<long>(s.frames.size())) return nullptr;
    const FrameRecord& r = s.frames[static_cast<size_t>(at)];
    if (r.frame != n - 1 || !r.has_next) return nullptr;
    return &r.next_comb[(tff ^ static_cast<int>(n & 1)) & 1];
}

}  // namespace pelta_cli::analysis
