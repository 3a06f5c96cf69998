// The survey: one reading of the sampled stretches. Each frame is measured
// on its block profiles, with the frame before it (how far each field moved)
// and the frame after it (the two weaves they form); on frame pairs spread
// over the sample, the window is rebuilt over every column under both TFF
// settings and every coarse shift. Nothing here runs the filter: every
// candidate picture is a mix of two frames' rows, and so is its profile.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <memory>

#include "analyze/passes.h"
#include "analyze/sampling.h"

namespace pelta_cli::analysis {

namespace {

// The grain's standard deviation on one frame, per pixel: Immerkaer's
// estimate (the mean magnitude of a 3x3 difference that cancels flat
// shading and slopes, times sqrt(pi/2)/6) on each field by itself, taken
// per tile of 16 columns by 8 field lines; detail only adds to a tile's
// estimate, so the tiles of least detail tell the grain: the tenth
// percentile of them.
// How much the picture's luma varies from place to place: the standard
// deviation of its block means (every row, every whole block of kBlock
// columns). Grain averaged over a block keeps 1/sqrt(kBlock) of its
// deviation, so a picture of nothing but grain (black, a blue screen, a
// codec's flicker on them) spreads little however heavy the grain is.
double block_spread(const Profiles& p, int w) {
    const int whole = w / kBlock;
    double sum = 0, sum2 = 0;
    long n = 0;
    for (int y = 0; y < p.h; ++y)
        for (int i = 0; i < whole; ++i) {
            const double m = p.y[static_cast<size_t>(y) * static_cast<size_t>(p.n) + static_cast<size_t>(i)] / kBlock;
            sum += m;
            sum2 += m * m;
            ++n;
        }
    if (n == 0) return 0;
    const double mean = sum / static_cast<double>(n);
    return std::sqrt(std::max(0.0, sum2 / static_cast<double>(n) - mean * mean));
}

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


// The mean absolute change of luma from one frame to the next, per pixel,
// on every other row and every fourth column: what tells a cut.
class ChangeMeter {
public:
    // Frame f's change from frame f-1, or -1 when that was not read.
    double measure(long f, const PIXEL_YC* frame, int stride, int w, int h) {
        std::vector<int16_t>& now = buf_[f & 1];
        now.clear();
        for (int y = 0; y < h; y += 2)
            for (int x = 0; x < w; x += 4)
                now.push_back(frame[static_cast<size_t>(y) * static_cast<size_t>(stride) + static_cast<size_t>(x)].y);
        const std::vector<int16_t>& before = buf_[(f & 1) ^ 1];
        const bool follows = last_ == f - 1 && before.size() == now.size() && !now.empty();
        last_ = f;
        if (!follows) return -1;
        double sum = 0;
        for (size_t i = 0; i < now.size(); ++i) sum += std::abs(now[i] - before[i]);
        return sum / static_cast<double>(now.size());
    }

private:
    std::vector<int16_t> buf_[2];
    long last_ = -2;
};

// Builds the survey from frames read in order: each frame of a stretch is
// recorded, with the frame before it for its motion and the frame after it
// for its weaves; a frame that is only a stretch's neighbour is measured for
// those and not recorded.
class SurveyBuilder {
public:
    SurveyBuilder(const AnalysisRequest& rq, Survey& out) : rq_(rq), out_(out), nb_(static_cast<size_t>(block_count(rq.w))) {
        out_.w = rq.w;
        out_.h = rq.h;
        out_.blocks = block_count(rq.w);
        // Pairs for the window search: about kPairPixels pixels of them, at
        // least 16 pairs, spread evenly over what the stretches hold: every
        // pair at first, and every other one of those kept whenever they
        // grow to twice as many (a pipe does not tell its length in advance).
        constexpr double kPairPixels = 64.0 * 720 * 480;
        want_pairs_ = std::max<size_t>(16, static_cast<size_t>(kPairPixels / (double(rq.w) * rq.h)));
        for (int t = 0; t < 2; ++t)
            for (int k = 0; k < kCoarseShifts; ++k) maps_.push_back(rebuild_map(rq.h, 0, t, coarse_shift(k)));
    }

    // The next frame read, f: `record` when it belongs to a stretch,
    // `needed` when it or a neighbour does (otherwise only its change from
    // the frame before is kept, for the cuts).
    // ... and answers the frame's change from the one before (-1 where that
    // was not read), kept in the survey unless `keep_change` is false.
    double add(long f, const PIXEL_YC* frame, int stride, bool record, bool needed, bool keep_change = true) {
        const double change = meter_.measure(f, frame, stride, rq_.w, rq_.h);
        if (change >= 0 && keep_change) out_.frame_change.emplace_back(f, static_cast<float>(change));
        if (!needed) {
            cur_.frame = -1;
            recorded_last_ = false;
            return change;
        }
        remember(f, frame, stride);
        const bool after_prev = prev_.frame >= 0 && prev_.frame == f - 1;
        // The frame before now has its next frame: its weaves, and the
        // window rebuilt on it when it opens a sampled pair.
        if (after_prev && recorded_last_ && !out_.frames.empty() && out_.frames.back().frame == prev_.frame)
            link_next(out_.frames.size() - 1);
        recorded_last_ = record;
        if (!record) return change;
        FrameRecord r;
        r.frame = f;
        double luma = 0;
        for (float v : cur_.p.y) luma += v;
        r.luma = luma / (static_cast<double>(rq_.w) * rq_.h);
        r.spread = block_spread(cur_.p, rq_.w);
        if (recorded_++ % kNoiseEvery == 0) r.noise = estimate_noise(frame, stride, rq_.w, rq_.h);
        weave_blocks(cur_.p, cur_.p, 0, r.in_comb, &r.in_field, &r.chroma_in);
        if (after_prev) {
            r.has_prev = true;
            r.moved.resize(2 * nb_);
            field_change(cur_.p.y.data(), prev_.p.y.data(), out_.blocks, rq_.h, r.moved.data());
            for (size_t b = 0; b < nb_; ++b)
                for (int p = 0; p < 2; ++p) r.change[p] += r.moved[2 * b + static_cast<size_t>(p)];
            for (double& c : r.change) c /= static_cast<double>(nb_);
            if (prev2_.frame >= 0 && prev2_.frame == f - 2) {
                r.moved2.resize(2 * nb_);
                field_change(cur_.p.y.data(), prev2_.p.y.data(), out_.blocks, rq_.h, r.moved2.data());
            }
        }
        out_.frames.push_back(std::move(r));
        return change;
    }

    // The records of frames [first, end) and their pairs are no longer
    // wanted (a pipe's stretch thinned out).
    void drop(long first, long end) {
        std::vector<long> moved_to(out_.frames.size(), -1);
        size_t kept = 0;
        for (size_t i = 0; i < out_.frames.size(); ++i) {
            const long f = out_.frames[i].frame;
            if (f >= first && f < end) continue;
            moved_to[i] = static_cast<long>(kept);
            if (kept != i) out_.frames[kept] = std::move(out_.frames[i]);
            ++kept;
        }
        out_.frames.resize(kept);
        std::vector<PairRecord> pairs;
        for (PairRecord& p : out_.pairs)
            if (moved_to[p.record] >= 0) {
                p.record = static_cast<size_t>(moved_to[p.record]);
                pairs.push_back(std::move(p));
            }
        out_.pairs = std::move(pairs);
    }

    void finish(const std::vector<Stretch>& stretches) {
        out_.stretches.insert(out_.stretches.end(), stretches.begin(), stretches.end());
        std::sort(out_.stretches.begin(), out_.stretches.end(),
                  [](const Stretch& a, const Stretch& b) { return a.start < b.start; });
        for (FrameRecord& r : out_.frames)
            for (size_t i = 0; i < out_.stretches.size(); ++i)
                if (r.frame >= out_.stretches[i].start && r.frame < out_.stretches[i].start + out_.stretches[i].frames)
                    r.stretch = static_cast<int>(i);
        std::sort(out_.frame_change.begin(), out_.frame_change.end());
        out_.frame_change.erase(std::unique(out_.frame_change.begin(), out_.frame_change.end(),
                                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                                out_.frame_change.end());
        sort_records();
        std::vector<double> noise;
        for (const FrameRecord& r : out_.frames)
            if (r.noise >= 0) noise.push_back(r.noise);
        if (!noise.empty()) {
            std::nth_element(noise.begin(), noise.begin() + static_cast<long>(noise.size() / 2), noise.end());
            out_.noise = noise[noise.size() / 2];
        }
        out_.quiet = quiet_change(out_);
    }

    long recorded() const { return recorded_; }

private:
    // The records in frame order (a stretch surveyed later may lie before
    // those read earlier), the pairs following their frames' records.
    void sort_records() {
        std::vector<size_t> order(out_.frames.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return out_.frames[a].frame < out_.frames[b].frame; });
        std::vector<size_t> moved_to(order.size());
        std::vector<FrameRecord> sorted;
        sorted.reserve(order.size());
        for (size_t k = 0; k < order.size(); ++k) {
            moved_to[order[k]] = k;
            sorted.push_back(std::move(out_.frames[order[k]]));
        }
        out_.frames = std::move(sorted);
        for (PairRecord& p : out_.pairs) p.record = moved_to[p.record];
        std::sort(out_.pairs.begin(), out_.pairs.end(),
                  [](const PairRecord& a, const PairRecord& b) { return a.record < b.record; });
    }

    // The grain on every fourth recorded frame.
    static constexpr long kNoiseEvery = 4;

    void remember(long f, const PIXEL_YC* frame, int stride) {
        std::swap(prev2_, prev_);
        std::swap(prev_, cur_);
        cur_.frame = f;
        make_profiles(frame, stride, 0, rq_.w, rq_.h, kBlock, true, cur_.p);
    }

    void link_next(size_t index) {
        FrameRecord& r = out_.frames[index];
        r.has_next = true;
        for (int p = 0; p < 2; ++p) weave_blocks(prev_.p, cur_.p, p, r.next_comb[p], nullptr, &r.chroma_next[p]);
        if (r.frame % 2 != 0 || pairs_seen_++ % pair_every_ != 0) return;
        PairRecord pr;
        pr.record = index;
        pr.comb.resize(maps_.size() * nb_);
        energy_f_.resize(nb_);
        for (size_t m = 0; m < maps_.size(); ++m) {
            rebuild_comb(maps_[m], prev_.p.y.data(), cur_.p.y.data(), out_.blocks, rebuilt_, energy_f_.data());
            for (size_t b = 0; b < nb_; ++b) pr.comb[m * nb_ + b] = pack_energy(energy_f_[b]);
        }
        out_.pairs.push_back(std::move(pr));
        // However long the clip, at least one pair in four is kept, so that
        // every stretch of it has pairs of its own to show a band.
        // (Only this reading's own pairs: those of an earlier one stay.)
        const size_t own = out_.pairs.size() - first_pair_;
        if (own >= 2 * std::max(want_pairs_, static_cast<size_t>(pairs_seen_))) {
            for (size_t i = 1; 2 * i < own; ++i) out_.pairs[first_pair_ + i] = std::move(out_.pairs[first_pair_ + 2 * i]);
            out_.pairs.resize(first_pair_ + (own + 1) / 2);
            pair_every_ *= 2;
        }
    }

    const AnalysisRequest& rq_;
    Survey& out_;
    size_t nb_;
    size_t want_pairs_ = 16;
    size_t first_pair_ = out_.pairs.size();  // the pairs of earlier readings come before
    long pair_every_ = 1, pairs_seen_ = 0, recorded_ = 0;
    bool recorded_last_ = false;
    Seen prev2_, prev_, cur_;
    ChangeMeter meter_;
    std::vector<RebuildMap> maps_;  // [tff * kCoarseShifts + k], for an even frame
    std::vector<float> rebuilt_;
    std::vector<float> energy_f_;
};

}  // namespace

uint16_t pack_energy(double e) {
    const double v = std::round(std::log1p(std::max(0.0, e)) * 2048.0);
    return static_cast<uint16_t>(std::clamp(v, 0.0, 65535.0));
}

float unpack_energy(uint16_t v) {
    static const std::vector<float> table = [] {
        std::vector<float> t(65536);
        for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<float>(std::expm1(static_cast<double>(i) / 2048.0));
        return t;
    }();
    return table[v];
}

bool run_survey(const AnalysisRequest& rq, const std::vector<Stretch>& stretches, Survey& out, std::string& error,
                bool append) {
    if (!append) out = Survey{};
    SurveyBuilder b(rq, out);
    long total = 0;
    for (const Stretch& s : stretches) total += s.frames;
    std::vector<PIXEL_YC> pixels(static_cast<size_t>(rq.w) * static_cast<size_t>(rq.h));
    std::vector<Stretch> read;
    for (const Stretch& st : stretches) {
        // One frame before the stretch, for the motion of its first frame,
        // and one after it, for the weave of its last.
        const long first = std::max<long>(0, st.start - 1);
        std::unique_ptr<FrameInput> in = rq.open(first, error);
        if (!in) return false;
        long f = first;
        for (; f <= st.start + st.frames; ++f) {
            const ReadStatus status = in->next(pixels.data(), rq.w, error);
            if (status == ReadStatus::Error) return false;
            if (status == ReadStatus::End) break;
            b.add(f, pixels.data(), rq.w, f >= st.start && f < st.start + st.frames, true);
            if (rq.progress && b.recorded() % 8 == 0)
                rq.progress("survey", 0.4 * static_cast<double>(b.recorded()) / std::max<long>(1, total));
        }
        const long got = std::min(f, st.start + st.frames) - st.start;
        if (got > 0) read.push_back(Stretch{st.start, got});
    }
    b.finish(read);
    return true;
}

namespace {

// How far from a kept stretch a long pipe's frame-to-frame changes are all
// kept: where its boundary with a neighbour of another kind is sought.
constexpr long kNearCut = 45;

// The frame-to-frame changes of a long pipe's frames between its sampled
// stretches, where a cut between two of them may lie: the largest change in
// each stretch of the sampler's spacing, so that they stay as few as the
// stretches however long the pipe runs.
class CutCandidates {
public:
    void add(long f, long spacing, float change) {
        const long slot = f / spacing;
        if (!kept_.empty() && kept_.back().first / spacing == slot) {
            if (change > kept_.back().second) kept_.back() = {f, change};
            return;
        }
        kept_.push_back({f, change});
    }
    // After the spacing doubled: the larger of each two neighbours.
    void thin(long spacing) {
        std::vector<std::pair<long, float>> out;
        for (const auto& c : kept_) {
            if (!out.empty() && out.back().first / spacing == c.first / spacing) {
                if (c.second > out.back().second) out.back() = c;
            } else {
                out.push_back(c);
            }
        }
        kept_ = std::move(out);
    }
    const std::vector<std::pair<long, float>>& kept() const { return kept_; }

private:
    std::vector<std::pair<long, float>> kept_;
};

}  // namespace

bool survey_stream(const AnalysisRequest& rq, Survey& out, long& length, std::string& error) {
    out = Survey{};
    SurveyBuilder b(rq, out);
    const long end = rq.frames < 0 ? -1 : rq.start + rq.frames;
    const long whole = whole_up_to(rq.w, rq.h);
    StreamSampler sampler(rq.start, -1, whole);
    // Up to `whole` frames from the start every frame is read and kept, as
    // a file of that length is read; a longer pipe is then thinned to the
    // stretches the sampler keeps, and read on as it samples.
    bool dense = true;
    CutCandidates candidates;
    std::vector<PIXEL_YC> pixels;  // grows with the first frame that arrives
    long f = 0;
    for (;; ++f) {
        if (end >= 0 && f >= end) break;
        if (dense && f >= rq.start + whole) {
            dense = false;
            for (long g = rq.start; g < f; ++g) {
                if (!sampler.in_stretch(g)) b.drop(g, g + 1);
                if (!sampler.keep(g)) rq.clip->forget(g, g + 1);
            }
        }
        const bool keep = dense ? f >= rq.start - kAround : sampler.keep(f);
        const ReadStatus status = rq.clip->next(pixels, keep, error);
        if (status == ReadStatus::Error) return false;
        if (status == ReadStatus::End) break;
        // The changes near kept stretches are all kept; elsewhere only cut
        // candidates.
        const bool near = dense || sampler.keep(f - kNearCut) || sampler.keep(f + kNearCut) || keep;
        const double change = b.add(f, pixels.data(), rq.w, dense ? f >= rq.start : sampler.in_stretch(f), keep, near);
        const long spacing = sampler.spacing();
        if (!near && change >= 0) candidates.add(f, spacing, static_cast<float>(change));
        const std::vector<Stretch> dropped = sampler.read(f);
        if (!dense)
            for (const Stretch& d : dropped) {
                b.drop(d.start, d.start + d.frames);
                // Its frames and neighbours, but those a kept stretch beside
                // it still reads.
                for (long g = d.start - kAround; g < d.start + d.frames + kAround; ++g)
                    if (!sampler.keep(g)) rq.clip->forget(g, g + 1);
            }
        if (sampler.spacing() != spacing) candidates.thin(sampler.spacing());
        if (rq.progress && f % 32 == 0) rq.progress("reading", 0.0);
    }
    length = f;
    for (const auto& c : candidates.kept()) out.frame_change.push_back(c);
    b.finish(f <= rq.start ? std::vector<Stretch>{}
             : dense       ? std::vector<Stretch>{Stretch{rq.start, f - rq.start}}
                           : sampler.stretches(f - 1));
    return true;
}

bool scan_changes(const AnalysisRequest& rq, long first, long end, Survey& out, std::string& error) {
    if (end <= first) return true;
    std::unique_ptr<FrameInput> in = rq.open(std::max<long>(0, first - 1), error);
    if (!in) return false;
    std::vector<PIXEL_YC> pixels(static_cast<size_t>(rq.w) * static_cast<size_t>(rq.h));
    ChangeMeter meter;
    for (long f = std::max<long>(0, first - 1); f < end; ++f) {
        const ReadStatus status = in->next(pixels.data(), rq.w, error);
        if (status == ReadStatus::Error) return false;
        if (status == ReadStatus::End) break;
        const double change = meter.measure(f, pixels.data(), rq.w, rq.w, rq.h);
        if (change >= 0 && f >= first) out.frame_change.emplace_back(f, static_cast<float>(change));
    }
    std::sort(out.frame_change.begin(), out.frame_change.end());
    out.frame_change.erase(std::unique(out.frame_change.begin(), out.frame_change.end(),
                                       [](const auto& a, const auto& b) { return a.first == b.first; }),
                           out.frame_change.end());
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
