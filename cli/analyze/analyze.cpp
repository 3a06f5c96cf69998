#include "analyze/analyze.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "native/host_side.h"

namespace pelta_cli {

using namespace pelta;

const char* kind_name(ClipKind kind) {
    switch (kind) {
        case ClipKind::Progressive: return "progressive";
        case ClipKind::Pulldown: return "pulldown";
        case ClipKind::Interlaced: return "interlaced";
        case ClipKind::Match: return "match";
        case ClipKind::Window: return "window";
    }
    return "?";
}

namespace {

// The energies of a picture whose row y starts at row(y), per column, added
// into the sums (see add_column_energy).
template <typename Row>
void add_energy(Row row, int w, int h, double* comb, double* field, double* field4) {
    // Each square is below 2^29 and a column's sum over any frame height is
    // far below 2^53, so adding them as doubles is exact.
    for (int y = 2; y + 2 < h; ++y) {
        const PIXEL_YC* m2 = row(y - 2);
        const PIXEL_YC* m1 = row(y - 1);
        const PIXEL_YC* p0 = row(y);
        const PIXEL_YC* p1 = row(y + 1);
        const PIXEL_YC* p2 = row(y + 2);
        for (int x = 0; x < w; ++x) {
            const int32_t a = 2 * p0[x].y;
            const int32_t d1 = m1[x].y + p1[x].y - a;
            const int32_t d2 = m2[x].y + p2[x].y - a;
            comb[x] += static_cast<double>(d1 * d1);
            field[x] += static_cast<double>(d2 * d2);
        }
        if (field4 && y >= 4 && y + 4 < h) {
            const PIXEL_YC* m4 = row(y - 4);
            const PIXEL_YC* p4 = row(y + 4);
            for (int x = 0; x < w; ++x) {
                const int32_t d4 = m4[x].y + p4[x].y - 2 * p0[x].y;
                field4[x] += static_cast<double>(d4 * d4);
            }
        }
    }
}

}  // namespace

void add_column_energy(const PIXEL_YC* frame, int stride, int w, int h, double* comb, double* field,
                       double* field4) {
    add_energy([&](int y) { return frame + static_cast<size_t>(y) * static_cast<size_t>(stride); }, w, h, comb,
               field, field4);
}

namespace {

// ---- running the filter over the sample ------------------------------------

// A small in-memory host: the last five frames of the sample in a ring, and
// the filter run on any of them under any settings. Settings that differ from
// the last call's are announced to the filter first, as the editor does when
// a control moves, which also empties its match cache.
class SampleRunner {
public:
    SampleRunner(const FILTER_DLL* desc, int w, int h, long first)
        : w_(w), h_(h), max_w_((w + 31) / 32 * 32), first_(first), loaded_(first) {
        pixels_ = static_cast<size_t>(max_w_) * static_cast<size_t>(h_);
        for (auto& f : ring_) f.assign(pixels_, PIXEL_YC{0, 0, 0});
        edit_.assign(pixels_, PIXEL_YC{0, 0, 0});
        temp_.assign(pixels_, PIXEL_YC{0, 0, 0});
        exfunc_.is_saving = svc_is_saving;
        exfunc_.set_ycp_filtering_cache_size = svc_set_cache_size;
        exfunc_.get_ycp_filtering_cache_ex = svc_get_frame;
        current_ = default_controls(desc);
        filter_ = filter_record_for(desc, current_.track, current_.check, &exfunc_, &hwnd_token_);
        if (filter_.func_update) filter_.func_update(&filter_, 0);
    }
    ~SampleRunner() {
        if (filter_.func_exit) filter_.func_exit(&filter_);
    }
    SampleRunner(const SampleRunner&) = delete;
    SampleRunner& operator=(const SampleRunner&) = delete;

    // Reads the next frame of the clip into the ring. False at the end of the
    // clip (ended() true) or on a read error (`error` set).
    bool advance(FrameInput& in, std::string& error) {
        if (ended_) return false;
        switch (in.next(slot(loaded_), max_w_, error)) {
            case ReadStatus::Frame: ++loaded_; return true;
            case ReadStatus::End: ended_ = true; return false;
            case ReadStatus::Error: return false;
        }
        return false;
    }
    bool ended() const { return ended_; }
    long loaded() const { return loaded_; }  // clip frames first() .. loaded()-1 have been read
    long first() const { return first_; }
    const PIXEL_YC* input(long f) { return slot(f); }
    int stride() const { return max_w_; }

    // Runs the filter on clip frame f (read, with the two after it read or
    // the clip's end seen) under `c`; answers the output frame.
    const PIXEL_YC* run(const Controls& c, long f) {
        if (std::memcmp(&c, &current_, sizeof c) != 0) {
            current_ = c;
            if (filter_.func_update) filter_.func_update(&filter_, 0);
        }
        current_frame_ = f;
        std::copy(slot(f), slot(f) + pixels_, edit_.begin());
        // What a host that had read through frame f+2 would tell: the
        // filter's choices depend on frame_n only through whether f+1 and
        // f+2 exist.
        const long frame_n = std::min(loaded_, f + 3);
        FILTER_PROC_INFO fpip = proc_info_for(edit_.data(), temp_.data(), w_, h_, max_w_, static_cast<int>(f),
                                              static_cast<int>(frame_n), this);
        if (filter_.func_proc(&filter_, &fpip) == FALSE) return slot(f);
        return fpip.ycp_edit;
    }

private:
    PIXEL_YC* slot(long f) { return ring_[static_cast<size_t>(f % kRing)].data(); }

    PELTA_HOST_SERVICE static BOOL svc_is_saving(void*) { return TRUE; }
    PELTA_HOST_SERVICE static BOOL svc_set_cache_size(void*, int, int, int, int) { return TRUE; }
    // Frames outside what was read get the nearest one read, as the
    // command-line host answers beyond the ends of a clip.
    PELTA_HOST_SERVICE static PIXEL_YC* svc_get_frame(void* fp, void* editp, int n, int* w_out, int* h_out) {
        auto* self = static_cast<SampleRunner*>(editp);
        if (!self || fp != &self->filter_) return nullptr;
        long k = std::max<long>(n, self->first_);
        const long last = std::min(self->loaded_, self->current_frame_ + 3) - 1;
        if (k > last) k = last;
        if (k < self->loaded_ - kRing || k < self->first_) return nullptr;
        if (w_out) *w_out = self->w_;
        if (h_out) *h_out = self->h_;
        return self->slot(k);
    }

    static constexpr long kRing = 6;
    int w_, h_, max_w_;
    size_t pixels_;
    long first_, loaded_;
    bool ended_ = false;
    long current_frame_ = 0;
    std::vector<PIXEL_YC> ring_[kRing];
    std::vector<PIXEL_YC> edit_, temp_;
    Controls current_{};
    EXFUNC exfunc_{};
    FILTER filter_{};
    int hwnd_token_ = 0;
};


// ---- measures ----------------------------------------------------------------------

// Columns are judged in blocks of this many: enough detail to measure in most
// blocks, fine enough to find a band within a block, which the edge pass then
// narrows to the column.
constexpr int kBlock = 8;

// One picture's energies per block.
struct Blocks {
    std::vector<float> comb, field;
};

// Per-column energies summed into blocks.
// Per-column sums summed again per block.
std::vector<float> block_sums(const std::vector<double>& columns) {
    std::vector<float> b((columns.size() + kBlock - 1) / kBlock, 0.f);
    for (size_t x = 0; x < columns.size(); ++x) b[x / kBlock] += static_cast<float>(columns[x]);
    return b;
}

Blocks to_blocks(const std::vector<double>& comb, const std::vector<double>& field) {
    return Blocks{block_sums(comb), block_sums(field)};
}

// Per column of one picture: the measure over the column and its neighbours
// (5 columns), at most kCap; summed over the frames of a pass, divided by
// their number at the end. Averaging capped per-frame values keeps a few
// badly combed frames from outweighing many clean ones in columns with little
// detail.
constexpr int kSmooth = 2;
constexpr double kCap = 8.0;
struct ColumnMeans {
    std::vector<double> sum;
    long frames = 0;
    explicit ColumnMeans(int w = 0) : sum(static_cast<size_t>(w), 0.0) {}
    void add(const std::vector<double>& comb, const std::vector<double>& field, double floor) {
        const int w = static_cast<int>(sum.size());
        double c = 0, f = 0;
        // Running sums over the window x-2 .. x+2.
        for (int x = 0; x < std::min(w, kSmooth); ++x) {
            c += comb[static_cast<size_t>(x)];
            f += field[static_cast<size_t>(x)];
        }
        for (int x = 0; x < w; ++x) {
            if (x + kSmooth < w) {
                c += comb[static_cast<size_t>(x + kSmooth)];
                f += field[static_cast<size_t>(x + kSmooth)];
            }
            if (x - kSmooth - 1 >= 0) {
                c -= comb[static_cast<size_t>(x - kSmooth - 1)];
                f -= field[static_cast<size_t>(x - kSmooth - 1)];
            }
            sum[static_cast<size_t>(x)] += std::min(kCap, std::max(0.0, c) / (std::max(0.0, f) + floor));
        }
        ++frames;
    }
    std::vector<double> means() const {
        std::vector<double> m(sum);
        for (double& v : m) v /= static_cast<double>(std::max<long>(1, frames));
        return m;
    }
};

// Energies of one picture per column, and the picture's whole-frame measure.
struct FrameEnergy {
    std::vector<double> comb, field, field4;
    explicit FrameEnergy(int w) : comb(static_cast<size_t>(w)), field(static_cast<size_t>(w)), field4(static_cast<size_t>(w)) {}
    void measure(const PIXEL_YC* frame, int stride, int w, int h, bool with_field4) {
        std::fill(comb.begin(), comb.end(), 0.0);
        std::fill(field.begin(), field.end(), 0.0);
        std::fill(field4.begin(), field4.end(), 0.0);
        add_column_energy(frame, stride, w, h, comb.data(), field.data(), with_field4 ? field4.data() : nullptr);
    }
    double whole(double floor) const {
        double c = 0, f = 0;
        for (size_t x = 0; x < comb.size(); ++x) {
            c += comb[x];
            f += field[x];
        }
        return c / (f + floor * static_cast<double>(comb.size()));
    }
};

// The weave of two frames as the filter makes it: rows of parity p from
// `earlier`, the others from `later`; its energies per block.
Blocks weave_blocks(const PIXEL_YC* earlier, const PIXEL_YC* later, int parity, int stride, int w, int h,
                    std::vector<double>& comb, std::vector<double>& field) {
    std::fill(comb.begin(), comb.end(), 0.0);
    std::fill(field.begin(), field.end(), 0.0);
    add_energy(
        [&](int y) {
            return ((y & 1) == parity ? earlier : later) + static_cast<size_t>(y) * static_cast<size_t>(stride);
        },
        w, h, comb.data(), field.data(), nullptr);
    return to_blocks(comb, field);
}

// The segment [l, r) of highest total score (each place +1 for, -1 against,
// 0 for no evidence), trimmed of places without evidence at its ends; its
// score.
int best_segment(const std::vector<int>& score, int& l, int& r) {
    int best = 0, sum = 0, start = 0;
    l = r = 0;
    for (int x = 0; x < static_cast<int>(score.size()); ++x) {
        if (sum <= 0) {
            sum = 0;
            start = x;
        }
        sum += score[static_cast<size_t>(x)];
        if (sum > best) {
            best = sum;
            l = start;
            r = x + 1;
        }
    }
    while (l < r && score[static_cast<size_t>(l)] == 0) ++l;
    while (r > l && score[static_cast<size_t>(r - 1)] == 0) --r;
    return best;
}

// Controls for a run: the descriptor's defaults with these changed.
Controls controls_for(const Controls& base, int tff, int left, int width, int shift, int lpf) {
    Controls c = base;
    c.track[TRACK_LEFT] = left;
    c.track[TRACK_WIDTH] = width;
    c.track[TRACK_SHIFT] = shift;
    c.check[CHECK_TFF] = tff;
    c.check[CHECK_LPF] = lpf;
    return c;
}

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

bool is_clean(double measure, double base) { return measure <= std::max(kCleanFactor * base, kCleanFloor); }
// How far past clean a block measures, in multiples of its clean level (0
// for clean, at most kCap): combing that is slight but spread over many
// blocks adds up.
double excess(double measure, double base) {
    const double clean = std::max(kCleanFactor * base, kCleanFloor);
    return std::min(kCap, std::max(0.0, measure / clean - 1.0));
}

struct FieldMotion {
    double frame = 0, top = 0, bottom = 0;  // mean absolute luma change from the frame before
};

FieldMotion field_motion(const PIXEL_YC* a, const PIXEL_YC* b, int stride, int w, int h) {
    double sums[2] = {0, 0};
    long counts[2] = {0, 0};
    for (int y = 0; y < h; ++y) {
        const PIXEL_YC* ra = a + static_cast<size_t>(y) * static_cast<size_t>(stride);
        const PIXEL_YC* rb = b + static_cast<size_t>(y) * static_cast<size_t>(stride);
        long s = 0;
        for (int x = 0; x < w; ++x) s += std::abs(ra[x].y - rb[x].y);
        sums[y & 1] += static_cast<double>(s);
        counts[y & 1] += w;
    }
    FieldMotion m;
    m.top = counts[0] ? sums[0] / static_cast<double>(counts[0]) : 0;
    m.bottom = counts[1] ? sums[1] / static_cast<double>(counts[1]) : 0;
    m.frame = (counts[0] + counts[1]) ? (sums[0] + sums[1]) / static_cast<double>(counts[0] + counts[1]) : 0;
    return m;
}

std::string fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// "41x", "1.1x": a factor as people read it.
std::string percent(double v) { return fmt("%.0f%%", 100.0 * v); }
std::string on_off(int tff) { return tff ? "on" : "off"; }

// ---- the analysis -------------------------------------------------------------------

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

void Analyzer::judge() {
    // Floors: a small share of a typical block's field energy, so that blocks
    // with almost no detail read as clean rather than as noise.
    std::vector<float> fields;
    for (const FrameRecord& r : records_) fields.insert(fields.end(), r.input.field.begin(), r.input.field.end());
    std::nth_element(fields.begin(), fields.begin() + static_cast<long>(fields.size() / 2), fields.end());
    const double median = fields.empty() ? 0 : fields[fields.size() / 2];
    block_floor_ = std::max(1.0, 0.01 * median);
    floor_ = block_floor_ / kBlock;
    texture_floor_ = 0.05 * median;

    // Motion and repeated fields.
    long moving = 0, dups = 0;
    for (const FrameRecord& r : records_) {
        const FieldMotion& m = r.motion;
        if (m.frame < kStill) continue;
        ++moving;
        const double hi = std::max(m.top, m.bottom), lo = std::min(m.top, m.bottom);
        if (hi >= kStill && lo < 0.25 * hi) ++dups;
    }
    dup_share_ = moving ? static_cast<double>(dups) / static_cast<double>(moving) : 0;

    // The input's measure over the moving frames, against the fields' own
    // content: progressive footage measures about what its fields do.
    double c1 = 0, c2 = 0, c4 = 0;
    for (const FrameRecord& r : records_) {
        if (r.motion.frame < kStill) continue;
        for (size_t b = 0; b < static_cast<size_t>(blocks_); ++b) {
            c1 += r.input.comb[b];
            c2 += r.input.field[b];
            c4 += r.field4[b];
        }
    }
    input_over_fields_ = (c1 / (c2 + 1.0)) / std::max(1e-6, c2 / (c4 + 1.0));

    // The input's combing on the sampled frames.
    input_combed_ = 0;
    for (long i : sampled_) {
        const FrameRecord& r = records_[static_cast<size_t>(i)];
        for (size_t b = 0; b < static_cast<size_t>(blocks_); ++b)
            if (textured(r, b)) input_combed_ += excess(block_ratio(r.input.comb[b], r.input.field[b]), base_ratio(r, b));
    }

    // Field matching alone, under each TFF, on the sampled frames.
    for (int t = 0; t < 2; ++t) {
        Option& o = no_window_[t];
        o.tff = t;
        for (long i : sampled_) o.combed += combed_after(i, o, nullptr);
    }
    Option best = no_window_[no_window_[1].combed <= no_window_[0].combed ? 1 : 0];
    const Option matching = best;

    // Windows: for each TFF and coarse shift, the runs of blocks that the
    // rebuilt window leaves clean on (nearly) every sampled frame; each is
    // tried as the window, the filter's choice outside it foreseen.
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < kCoarseShifts; ++k) {
            std::vector<int> score(static_cast<size_t>(blocks_), 0);
            for (int bl = 0; bl < blocks_; ++bl) {
                const size_t b = static_cast<size_t>(bl);
                long seen = 0, clean = 0;
                for (size_t j = 0; j < sampled_.size(); ++j) {
                    const FrameRecord& r = records_[static_cast<size_t>(sampled_[j])];
                    if (!textured(r, b) || r.motion.frame < kStill) continue;
                    ++seen;
                    const Blocks& wb = rebuilt_[j][static_cast<size_t>(t)][static_cast<size_t>(k)];
                    clean += is_clean(block_ratio(wb.comb[b], wb.field[b]), base_ratio(r, b));
                }
                if (seen >= 2) score[b] = 10 * clean >= 9 * seen ? 1 : -1;
            }
            // Every run of clean blocks (gaps of one block bridged).
            for (int start = 0; start < blocks_;) {
                if (score[static_cast<size_t>(start)] != 1) {
                    ++start;
                    continue;
                }
                int end = start + 1;
                while (end < blocks_ && (score[static_cast<size_t>(end)] == 1 ||
                                         (end + 1 < blocks_ && score[static_cast<size_t>(end)] == 0) ||
                                         (end + 1 < blocks_ && score[static_cast<size_t>(end + 1)] == 1)))
                    ++end;
                while (end > start && score[static_cast<size_t>(end - 1)] != 1) --end;
                if (end - start >= 2) {
                    Option o;
                    o.tff = t;
                    o.lb = start;
                    o.rb = end;
                    o.shift = coarse_shift(k);
                    for (size_t j = 0; j < sampled_.size(); ++j)
                        o.combed += combed_after(sampled_[j], o,
                                                 &rebuilt_[j][static_cast<size_t>(t)][static_cast<size_t>(k)]);
                    // A first window must remove most of what matching alone
                    // leaves, and that must be more than a trace of the
                    // input's combing; later ones need only do better.
                    const bool first = best.rb <= best.lb;
                    const bool worth = o.combed < 0.5 * best.combed &&
                                       best.combed - o.combed >= std::max(0.5, 0.001 * input_combed_);
                    // Among windows that leave about the same, the
                    // narrower: columns the measure cannot tell apart are
                    // no evidence for the band.
                    const double tie = 0.05 + 0.02 * best.combed;
                    const bool better = o.combed < best.combed - tie ||
                                        (o.combed <= best.combed + tie && o.rb - o.lb < best.rb - best.lb);
                    if (first ? worth : better) best = o;
                }
                start = end + 1;
            }
        }
    chosen_ = best;
    tff_ = best.tff;
    shift_ = best.shift;
    left_ = best.lb * kBlock;
    right_ = std::min(w_, best.rb * kBlock);
    repaired_ = input_combed_ > 0 ? 1.0 - best.combed / input_combed_ : 1.0;
    const double matching_repaired = input_combed_ > 0 ? 1.0 - matching.combed / input_combed_ : 1.0;

    if (dup_share_ >= 0.2) {
        kind_ = ClipKind::Pulldown;
        confidence_ = std::min(1.0, dup_share_ / 0.4);
    } else if (input_over_fields_ < kProgressive || input_combed_ < 0.5 * matching.combed) {
        // Progressive: the frames measure about what their fields do, or
        // the frames as they are comb less than any weave of neighbours.
        kind_ = ClipKind::Progressive;
        confidence_ = std::max(std::min(1.0, 2.0 * (kProgressive / input_over_fields_ - 1.0)),
                               matching.combed > 0 ? 1.0 - input_combed_ / matching.combed : 0.0);
    } else if (repaired_ < 0.75) {
        kind_ = ClipKind::Interlaced;
        confidence_ = 1.0 - repaired_;
    } else if (right_ > left_) {
        kind_ = ClipKind::Window;
        confidence_ = repaired_;
    } else {
        kind_ = ClipKind::Match;
        confidence_ = matching_repaired;
    }
}

// How far the rows of one field stray from the middle of the rows of the
// other field around them, over columns [x0, x1): the residual of the moved
// field against the kept one. Each field is first blurred alike, summed over
// runs of kBlock columns and smoothed [1 2 1] along its own lines: that keeps
// the vertical structure a shift must match, and outweighs the softening that
// a fractional shift's interpolation gives the moved field alone, which would
// otherwise favour the softest shift.
double moved_residual(const PIXEL_YC* frame, int stride, int h, int parity, int x0, int x1) {
    const int groups = (x1 - x0) / kBlock;
    if (groups <= 0 || h < 8) return 0;
    // Column-group sums of every row.
    std::vector<double> sums(static_cast<size_t>(groups) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
        const PIXEL_YC* row = frame + static_cast<size_t>(y) * static_cast<size_t>(stride) + x0;
        for (int g = 0; g < groups; ++g) {
            int32_t s = 0;
            for (int k = 0; k < kBlock; ++k) s += row[g * kBlock + k].y;
            sums[static_cast<size_t>(y) * static_cast<size_t>(groups) + static_cast<size_t>(g)] = s;
        }
    }
    // Each row smoothed with its field's lines above and below.
    auto at = [&](int y, int g) {
        return sums[static_cast<size_t>(y) * static_cast<size_t>(groups) + static_cast<size_t>(g)];
    };
    auto smooth = [&](int y, int g) { return at(y - 2, g) + 2 * at(y, g) + at(y + 2, g); };
    double sum = 0;
    for (int y = (parity == 0 ? 4 : 3); y + 3 < h; y += 2)
        for (int g = 0; g < groups; ++g) {
            const double d = smooth(y - 1, g) + smooth(y + 1, g) - 2 * smooth(y, g);
            sum += d * d;
        }
    return sum;
}

bool Analyzer::refine_shift(std::string& error) {
    // Every shift near the coarse best, on more frame pairs, with the window
    // where the survey found it: the one whose moved field fits the kept one
    // best. On a pair's even frame the filter moves the odd rows with TFF on
    // and the even rows with it off.
    const int lo = std::max(0, shift_ - kFineReach), hi = std::min(kShiftMax, shift_ + kFineReach);
    std::vector<double> residual(static_cast<size_t>(hi - lo + 1), 0.0);
    const long every = pair_stride(kFinePairs);
    if (!pass("shift", 0.55, 0.7,
              [&](SampleRunner& r, long, long f) {
                  if (f % 2 != 0 || (f / 2) % every != 0) return;
                  for (int s = lo; s <= hi; ++s)
                      residual[static_cast<size_t>(s - lo)] +=
                          moved_residual(r.run(controls_for(base_, tff_, left_, right_ - left_, s, 0), f), r.stride(),
                                         h_, tff_, left_, right_);
              },
              error))
        return false;
    shift_ = lo + static_cast<int>(std::min_element(residual.begin(), residual.end()) - residual.begin());
    return true;
}

bool Analyzer::refine_edges(std::string& error) {
    // Each column near an edge, filtered both ways: inside a window (a wider
    // one, or the found one) and outside (the found one, or a narrower one).
    // It belongs to the band where the window leaves it less combed.
    const int wide_l = std::max(0, left_ - kEdgeReach), wide_r = std::min(w_, right_ + kEdgeReach);
    const int narrow_l = std::min(left_ + kEdgeReach, right_), narrow_r = std::max(right_ - kEdgeReach, narrow_l);
    ColumnMeans wide(w_), found(w_), narrow(w_);
    const long every = pair_stride(kFinePairs);
    FrameEnergy e(w_);
    auto measure = [&](SampleRunner& r, long f, int l, int rr, ColumnMeans& into) {
        e.measure(r.run(controls_for(base_, tff_, l, rr - l, shift_, 0), f), r.stride(), w_, h_, false);
        into.add(e.comb, e.field, floor_);
    };
    if (!pass("edges", 0.7, 0.8,
              [&](SampleRunner& r, long, long f) {
                  if ((f / 2) % every != 0) return;
                  measure(r, f, wide_l, wide_r, wide);
                  measure(r, f, left_, right_, found);
                  measure(r, f, narrow_l, narrow_r, narrow);
              },
              error))
        return false;
    const std::vector<double> mw = wide.means(), mf = found.means(), mn = narrow.means();
    std::vector<int> score(static_cast<size_t>(w_), 0);
    for (int x = wide_l; x < wide_r; ++x) {
        const size_t i = static_cast<size_t>(x);
        double in_window, outside;
        if (x < left_ || x >= right_) {
            in_window = mw[i];
            outside = mf[i];
        } else if (x < narrow_l || x >= narrow_r) {
            in_window = mf[i];
            outside = mn[i];
        } else {
            score[i] = 1;
            continue;
        }
        // For the band: the window leaves the column far less combed than
        // matching does. Against: the window combs it more. A window's
        // interpolation softens any column a little, and columns whose
        // content hides the fields' displacement look alike both ways: no
        // evidence either way.
        if (in_window < 0.45 * outside)
            score[i] = 1;
        else if (in_window > 1.1 * outside)
            score[i] = -1;
    }
    int l, r;
    best_segment(score, l, r);
    // Columns without evidence at the band's ends go with the band, up to
    // the first column that the window harms.
    while (l > wide_l && score[static_cast<size_t>(l - 1)] == 0) --l;
    while (r < wide_r && score[static_cast<size_t>(r)] == 0) ++r;
    if (r - l >= kBlock) {
        left_ = l;
        right_ = r;
    }
    return true;
}

bool Analyzer::confirm_tff(std::string& error) {
    // The survey foresaw the filter's choice of weave with this measure in
    // place of the filter's own count, which grain can mislead. The filter
    // itself settles the TFF: the chosen settings under both, without the
    // low-pass (which would hide what is left), on frames across the sample.
    const long every = pair_stride(kFinePairs);
    FrameEnergy e(w_);
    double comb[2] = {0, 0}, field[2] = {0, 0};
    if (!pass("tff", 0.8, 0.85,
              [&](SampleRunner& r, long, long f) {
                  if ((f / 2) % every != 0) return;
                  for (int t = 0; t < 2; ++t) {
                      e.measure(r.run(controls_for(base_, t, left_, right_ - left_, shift_, 0), f), r.stride(), w_,
                                h_, false);
                      for (size_t x = 0; x < e.comb.size(); ++x) {
                          comb[t] += e.comb[x];
                          field[t] += e.field[x];
                      }
                  }
              },
              error))
        return false;
    for (int t = 0; t < 2; ++t) tff_comb_[t] = comb[t] / (field[t] + 1.0);
    if (tff_comb_[1 - tff_] < 0.8 * tff_comb_[tff_]) tff_ = 1 - tff_;
    return true;
}

bool Analyzer::result(Analysis& out, std::string& error) {
    const Controls chosen = controls_for(base_, tff_, left_, right_ - left_, shift_, base_.check[CHECK_LPF]);
    const Controls matching = controls_for(base_, tff_, 0, 0, 0, 0);
    column_input_ = ColumnMeans(w_);
    column_matched_ = ColumnMeans(w_);
    column_output_ = ColumnMeans(w_);
    FrameEnergy e(w_);
    double sums[4] = {0, 0, 0, 0};  // comb and field energy, with the settings: in the band, outside it
    double msums[4] = {0, 0, 0, 0};  // the same after field matching alone
    double total[4] = {0, 0, 0, 0};  // input comb, field; output comb, field
    auto split = [&](double* into) {
        for (int x = 0; x < w_; ++x) {
            const int side = (x >= left_ && x < right_) ? 0 : 2;
            into[side] += e.comb[static_cast<size_t>(x)];
            into[side + 1] += e.field[static_cast<size_t>(x)];
        }
    };
    const bool ok = pass("result", 0.85, 1.0,
                         [&](SampleRunner& r, long, long f) {
                             e.measure(r.input(f), r.stride(), w_, h_, false);
                             column_input_.add(e.comb, e.field, floor_);
                             for (size_t x = 0; x < e.comb.size(); ++x) {
                                 total[0] += e.comb[x];
                                 total[1] += e.field[x];
                             }
                             e.measure(r.run(matching, f), r.stride(), w_, h_, false);
                             column_matched_.add(e.comb, e.field, floor_);
                             split(msums);
                             const PIXEL_YC* o = r.run(chosen, f);
                             e.measure(o, r.stride(), w_, h_, false);
                             column_output_.add(e.comb, e.field, floor_);
                             split(sums);
                             for (size_t x = 0; x < e.comb.size(); ++x) {
                                 total[2] += e.comb[x];
                                 total[3] += e.field[x];
                             }
                             frame_output_.push_back(e.whole(1.0));
                             if (f == picture_frame_) {
                                 auto copy = [&](const PIXEL_YC* src, std::vector<PIXEL_YC>& dst) {
                                     dst.resize(static_cast<size_t>(w_) * static_cast<size_t>(h_));
                                     for (int y = 0; y < h_; ++y)
                                         std::copy(src + static_cast<size_t>(y) * static_cast<size_t>(r.stride()),
                                                   src + static_cast<size_t>(y) * static_cast<size_t>(r.stride()) + w_,
                                                   dst.begin() + static_cast<long>(y) * w_);
                                 };
                                 out.picture.frame = f;
                                 copy(r.input(f), out.picture.before);
                                 copy(o, out.picture.after);
                             }
                         },
                         error);
    const double n = static_cast<double>(std::max<long>(1, frames_));
    auto measure = [&](double c, double fe, int columns) { return c / (fe + floor_ * n * std::max(1, columns)); };
    const int band = right_ - left_;
    band_output_ = measure(sums[0], sums[1], band);
    rest_output_ = measure(sums[2], sums[3], w_ - band);
    band_matched_ = measure(msums[0], msums[1], band);
    rest_matched_ = measure(msums[2], msums[3], w_ - band);
    input_comb_ = measure(total[0], total[1], w_);
    output_comb_ = measure(total[2], total[3], w_);
    return ok;
}

void Analyzer::describe(Analysis& a) const {
    const SuggestedSettings& s = a.settings;
    const int l = s.left, r = s.left + s.width;
    const std::string columns = "columns " + std::to_string(l) + ".." + std::to_string(r - 1);
    switch (a.kind) {
        case ClipKind::Window:
            a.verdict = "window: the fields are out of step, and " + columns +
                        " hold a band whose fields are displaced against each other; pelta repairs both with the "
                        "settings below.";
            a.evidence = "field matching alone leaves combing " + fmt("%.2f", band_matched_) + " in " + columns +
                         " and " + fmt("%.2f", rest_matched_) + " in the rest; with this window (shift " +
                         std::to_string(s.shift) + ", TFF " + on_off(s.tff) + ") " + fmt("%.2f", band_output_) +
                         " and " + fmt("%.2f", rest_output_) + ", against " + fmt("%.2f", a.input_comb) +
                         " in the input (a clean picture measures well below 1).";
            break;
        case ClipKind::Match:
            a.verdict = "match: the fields are out of step; pelta's field matching repairs them without a window.";
            a.evidence = "field matching with TFF " + on_off(s.tff) + " leaves combing " +
                         fmt("%.2f", tff_comb_[s.tff]) + " (TFF " + on_off(1 - s.tff) + ": " +
                         fmt("%.2f", tff_comb_[1 - s.tff]) + "), against " + fmt("%.2f", a.input_comb) +
                         " in the input (a clean picture measures well below 1).";
            break;
        case ClipKind::Pulldown:
            a.verdict = "pulldown: this is telecined film, a cadence of repeated fields; that is not pelta's job.";
            a.evidence = percent(dup_share_) +
                         " of the moving frames repeat one field of the frame before, the cadence of pulldown.";
            a.advice = "a pulldown remover: ffmpeg -vf fieldmatch,decimate; in the editor, an inverse-telecine "
                       "plug-in";
            break;
        case ClipKind::Interlaced:
            a.verdict = "interlaced: each field is its own moment, and no weave of neighbouring fields removes the "
                        "combing; that is not pelta's job.";
            a.evidence = "the best weaves and windows leave " + percent(1.0 - repaired_) +
                         " of the input's combing (combing " + fmt("%.2f", a.input_comb) +
                         " in the input); only a blurring low-pass would hide the rest.";
            a.advice = "a deinterlacer: ffmpeg -vf bwdif; in the editor, its own deinterlacing";
            break;
        case ClipKind::Progressive:
            a.verdict = "progressive: the frames are not combed, so there is nothing for pelta to repair (its "
                        "weaves would comb them).";
            a.evidence = "the moving frames measure " + fmt("%.2f", input_over_fields_) +
                         " times what the content of their fields does (combed footage measures " +
                         fmt("%.1f", kProgressive) +
                         " and more): they are whole pictures, and pelta would replace one field of each with a "
                         "neighbour's.";
            a.advice = "nothing: use the clip as it is, or filter only a stretch that is combed";
            break;
    }
}

bool Analyzer::run(Analysis& out, std::string& error) {
    out = Analysis{};
    out.start = rq_.start;
    out.w = w_;
    out.h = h_;
    if (!survey(error)) return false;
    if (frames_ < kMinAnalysisFrames) {
        error = "the analysis needs at least " + std::to_string(kMinAnalysisFrames) + " frames from frame " +
                std::to_string(rq_.start) + ", and the clip has " + std::to_string(frames_) + " there";
        return false;
    }
    long moving = 0;
    for (const FrameRecord& r : records_) moving += r.motion.frame >= kStill;
    if (moving < 4) {
        error = "cannot tell: frames " + std::to_string(rq_.start) + ".." + std::to_string(rq_.start + frames_ - 1) +
                " hold no motion, and without motion the fields of neighbouring frames look alike; analyse a "
                "stretch with motion (--start)";
        return false;
    }
    judge();
    if (right_ > left_) {
        if (!refine_shift(error) || !refine_edges(error)) return false;
    }
    if ((kind_ == ClipKind::Match || kind_ == ClipKind::Window) && !confirm_tff(error)) return false;
    // The picture for the report: the frame whose input combs most where the
    // settings work (the window, or the whole frame).
    {
        const int lb = right_ > left_ ? left_ / kBlock : 0, rb = right_ > left_ ? (right_ - 1) / kBlock + 1 : blocks_;
        double best = -1;
        for (const FrameRecord& r : records_) {
            double c = 0;
            for (int b = lb; b < rb; ++b) c += r.input.comb[static_cast<size_t>(b)];
            if (c > best) {
                best = c;
                picture_frame_ = r.frame;
            }
        }
    }
    if (!result(out, error)) return false;
    out.kind = kind_;
    out.settings = SuggestedSettings{tff_, right_ > left_ ? left_ : 0, right_ - left_, right_ > left_ ? shift_ : 0};
    out.frames = frames_;
    out.input_comb = input_comb_;
    out.output_comb = output_comb_;
    out.column_input = column_input_.means();
    out.column_matched = column_matched_.means();
    out.column_output = column_output_.means();
    out.frame_input = frame_input_;
    out.frame_output = frame_output_;
    out.confidence = std::clamp(confidence_, 0.0, 1.0);
    describe(out);
    return true;
}

std::string json_string(const std::string& s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': o += "\\\""; break;
            case '\\': o += "\\\\"; break;
            case '\n': o += "\\n"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    o += buf;
                } else {
                    o += static_cast<char>(c);
                }
        }
    }
    return o + "\"";
}

}  // namespace

bool analyze_clip(const AnalysisRequest& request, Analysis& out, std::string& error) {
    // The measure needs rows two field lines either side, and a block of
    // columns.
    if (request.w < 8 || request.h < 12) {
        error = "cannot tell: frames of " + std::to_string(request.w) + "x" + std::to_string(request.h) +
                " are too small to measure combing (the analysis needs at least 8x12)";
        return false;
    }
    Analyzer analyzer(request);
    return analyzer.run(out, error);
}

std::string suggested_command(const SuggestedSettings& s) {
    return "pelta --left " + std::to_string(s.left) + " --width " + std::to_string(s.width) + " --shift " +
           std::to_string(s.shift) + " --tff " + std::to_string(s.tff);
}

std::string analysis_json(const Analysis& a) {
    const SuggestedSettings& s = a.settings;
    std::string j = "{";
    j += "\"kind\": " + json_string(kind_name(a.kind));
    j += ", \"tff\": " + std::to_string(s.tff);
    j += ", \"left\": " + std::to_string(s.left);
    j += ", \"width\": " + std::to_string(s.width);
    j += ", \"shift\": " + std::to_string(s.shift);
    j += ", \"confidence\": " + fmt("%.2f", a.confidence);
    j += ", \"verdict\": " + json_string(a.verdict);
    j += ", \"evidence\": " + json_string(a.evidence);
    j += ", \"command\": " + json_string(suggested_command(s));
    j += ", \"advice\": " + json_string(a.advice);
    j += ", \"start\": " + std::to_string(a.start);
    j += ", \"frames\": " + std::to_string(a.frames);
    j += ", \"frame_width\": " + std::to_string(a.w);
    j += ", \"frame_height\": " + std::to_string(a.h);
    j += ", \"input_comb\": " + fmt("%.3f", a.input_comb);
    j += ", \"output_comb\": " + fmt("%.3f", a.output_comb);
    return j + "}";
}

std::string analysis_text(const Analysis& a) {
    const SuggestedSettings& s = a.settings;
    std::string t = "verdict:    " + a.verdict + "\n";
    t += "evidence:   " + a.evidence + "\n";
    if (a.kind == ClipKind::Match || a.kind == ClipKind::Window) {
        t += "command:    " + suggested_command(s) + "\n";
        t += "editor:     \xe5\xb7\xa6 " + std::to_string(s.left) + ", \xe5\xb9\x85 " + std::to_string(s.width) +
             ", 1/60 " + std::to_string(s.shift) + ", TFF " + (s.tff ? "\xe3\x82\xaa\xe3\x83\xb3" : "\xe3\x82\xaa\xe3\x83\x95") +
             "\n";
    } else {
        t += "use instead: " + a.advice + "\n";
        t += "if you must: " + suggested_command(s) + " (what --auto --force would use)\n";
    }
    t += "confidence: " + fmt("%.2f", a.confidence) + " (frames " + std::to_string(a.start) + ".." +
         std::to_string(a.start + a.frames - 1) + " of a " + std::to_string(a.w) + "x" + std::to_string(a.h) +
         " clip)\n";
    return t;
}

}  // namespace pelta_cli
