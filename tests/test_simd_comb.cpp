// The comb kernels at every tier up to the machine's (tier_harness.h), entry
// by entry against the scalar references: random and extreme samples over the
// whole 16-bit range and the narrow range, settings far outside the track bars
// (scores that wrap), every span length and start column, rows in one frame
// or in separate buffers, the narrow kernels' limits and schedule; then the
// whole count over every window position, with the tier's kernels and through
// the dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "abi/controls.h"
#include "match/comb.h"
#include "tier_harness.h"

using namespace pelta;
using namespace tier_harness;

namespace {

// Samples: full-range noise with extremes mixed in, small values near a
// smooth level (whose scores land near the thresholds, so that some pixels
// comb and others not), or narrow ones (near a level or anywhere in the
// range, with its ends mixed in).
enum class Fill { Full, Small, Narrow };
const Values kSmall{-300, 300, {}};
const std::vector<int> kNarrowEnds = {COMB_NARROW_LO, COMB_NARROW_HI, 0, 4095, -4094, 2048, -2048, 1, -1};
const Values kNarrowSmooth{-200, 200, kNarrowEnds};
const Values kNarrowAny{COMB_NARROW_LO, COMB_NARROW_HI, kNarrowEnds};

void fill_rows(std::vector<PIXEL_YC>& v, Fill kind, std::mt19937& rng) {
    if (kind == Fill::Narrow) return fill(v, rng() % 2 ? kNarrowSmooth : kNarrowAny, rng);
    fill(v, kind == Fill::Full ? kAnySample : kSmall, rng);
}

int32_t pick(std::mt19937& rng, std::initializer_list<int32_t> values) {
    return values.begin()[rng() % values.size()];
}
int32_t uniform(std::mt19937& rng, int lo, int hi) { return Values{lo, hi, {}}.draw(rng); }

// Settings: mostly within the track bars, sometimes anywhere in 32 bits,
// including weights whose products wrap and thresholds at the int limits.
CombParams random_params(std::mt19937& rng) {
    auto weight = [&]() -> int32_t {
        const uint32_t k = rng() % 10;
        if (k < 6) return uniform(rng, 0, 8);
        if (k < 8) return pick(rng, {65536, -65536, 32767, -32768, 32768, 0x40000000, INT_MIN, INT_MAX, 0x12345, -0x10001});
        return static_cast<int32_t>(rng());
    };
    auto threshold = [&](int lo, int hi) -> int32_t {
        const uint32_t k = rng() % 10;
        if (k < 7) return uniform(rng, lo, hi);
        if (k < 9) return pick(rng, {INT_MIN, INT_MAX, 0, -1, 1, 32767, 32768, -32768, 1 << 20, -(1 << 20)});
        return static_cast<int32_t>(rng());
    };
    const int32_t th_y = threshold(-256, 256), th_c = threshold(0, 256);
    const int32_t high = weight();
    return CombParams{th_y, th_c, high, weight()};
}

// Weights with |HIGH| + |MID| <= 31, thresholds near the narrow scores'
// reach and around the 16-bit limits.
CombParams narrow_params(std::mt19937& rng) {
    const int32_t high = uniform(rng, -31, 31);
    const int32_t room = 31 - std::abs(high);
    const int32_t mid = uniform(rng, -room, room);
    auto threshold = [&](int lo, int hi) -> int32_t {
        if (rng() % 10 < 8) return uniform(rng, lo, hi);
        return pick(rng, {INT_MIN, INT_MAX, -32768, 32767, -32769, 32768, 31744, -31744, 31745, 0});
    };
    const int32_t th_y = threshold(-1200, 1200);
    return CombParams{th_y, threshold(-50, 1200), high, mid};
}

// The five rows of a frame around row c, `stride` pixels apart.
CombRows frame_rows(const PIXEL_YC* c, ptrdiff_t stride) {
    CombRows rows;
    for (int k = 0; k < 5; ++k) rows.row[k] = c + (k - 2) * stride;
    return rows;
}

// The count of a candidate with given settings.
struct CountRig {
    int track[TRACK_COUNT] = {};
    FILTER filter{};
    FILTER_PROC_INFO fpip{};
    CountRig(int w, int h, int max_w) {
        filter.track = track;
        fpip.w = w, fpip.h = h, fpip.max_w = max_w;
    }
    void set(const CombParams& p) {
        track[TRACK_TH_Y] = p.th_y, track[TRACK_TH_C] = p.th_c;
        track[TRACK_HIGH] = p.high, track[TRACK_MID] = p.mid;
    }
};
const CombKernels kPlain = {count_comb_span_scalar, nullptr, nullptr};

using CombTier = KernelTierTest<CombKernels, comb_kernels_for>;

TEST_P(CombTier, RandomSpansMatchTheReference) {
    // Every span length 0..70 at several start columns. The five rows lie in
    // one frame `stride` apart (the span sometimes ending at the very end of
    // the buffer), or each in a buffer of its own, as a candidate counted
    // from two frames gives them. Odd trials: any samples and settings, with
    // the general kernel; even trials: narrow samples and weights, with the
    // narrow kernel as well.
    int partly_combed[2] = {};
    for (int n = 0; n <= 70; ++n)
        for (int trial = 0; trial < 48; ++trial) {
            const bool narrow = trial % 2 == 0;
            const Fill kind = narrow ? Fill::Narrow : trial % 8 == 1 ? Fill::Full : Fill::Small;
            const int x0 = trial % 3 == 0 ? 0 : uniform(rng, 0, 9);
            std::vector<PIXEL_YC> data[5];
            CombRows rows;
            if (trial % 6 < 2) {
                for (int k = 0; k < 5; ++k) {
                    data[k].resize(static_cast<size_t>(std::max(x0 + n, 1)));
                    fill_rows(data[k], kind, rng);
                    rows.row[k] = data[k].data();
                }
            } else {
                const int stride = x0 + n + (trial % 4 < 2 ? 0 : uniform(rng, 0, 5));
                data[0].resize(static_cast<size_t>(5) * std::max(stride, 1));
                fill_rows(data[0], kind, rng);
                rows = frame_rows(data[0].data() + 2 * stride, stride);
            }
            const CombParams p = narrow ? narrow_params(rng) : random_params(rng);
            const int want = call_ref([&] { return ref().span(&rows, x0, n, &p); });
            const auto where = [&] {
                return "n " + std::to_string(n) + " trial " + std::to_string(trial) + " x0 " + std::to_string(x0) +
                       " th_y " + std::to_string(p.th_y) + " th_c " + std::to_string(p.th_c) + " high " +
                       std::to_string(p.high) + " mid " + std::to_string(p.mid);
            };
            ASSERT_EQ(call_new([&] { return tested().span(&rows, x0, n, &p); }), want) << where();
            if (narrow) {
                ASSERT_EQ(ref().narrow_span(&rows, x0, n, &p), want) << where();
                ASSERT_EQ(call_new([&] { return tested().narrow_span(&rows, x0, n, &p); }), want) << where();
            }
            if (want > 0 && want < n) ++partly_combed[narrow];
        }
    // The comparison is only worth something if many spans mix combed and
    // clean pixels.
    EXPECT_GT(partly_combed[0], 300);
    EXPECT_GT(partly_combed[1], 300);
}

TEST_P(CombTier, EachComponentCombsItsPixelAlone) {
    // One sample combed in one pixel of a clean span: the count is exactly 1,
    // whichever of the 48 sample positions (three components, sixteen
    // pixels) it sits at. A kernel that tested the wrong lane, or mixed
    // neighbouring pixels, miscounts. A flat 100 scores 0; c = 3000 over it:
    // hi = 17400 >> 6 = 271, mid = -5800 >> 4 = -363, score 3*271 - 363 =
    // 450, which combs luma (>= 50) and chroma (|450| >= 70) alike.
    const CombParams p = {50, 70, 3, 1};
    for (int n : {8, 16, 23, 32, 40})
        for (int j = 0; j < 3 * n; ++j) {
            std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * n, PIXEL_YC{100, 100, 100});
            reinterpret_cast<int16_t*>(frame.data() + 2 * n)[j] = 3000;
            const CombRows rows = frame_rows(frame.data() + 2 * n, n);
            ASSERT_EQ(ref().span(&rows, 0, n, &p), 1) << "n " << n << " sample " << j;
            ASSERT_EQ(tested().span(&rows, 0, n, &p), 1) << "n " << n << " sample " << j;
        }
}

TEST_P(CombTier, WrappedScoresAndTheMostNegativeMagnitude) {
    // cb column with c = 22, all else 0: hi = 132 >> 6 = 2, mid = -44 >> 4 = -3.
    // HIGH = 2^30 makes the cb score 2^31, which wraps to INT_MIN; its
    // magnitude stays INT_MIN, below any TH_C above INT_MIN. With HIGH =
    // 65536 + 1 the upper half of the weight matters: score 131074.
    const int n = 37;
    std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * n, PIXEL_YC{0, 0, 0});
    for (int x = 0; x < n; ++x) frame[static_cast<size_t>(2) * n + x].cb = 22;
    const CombRows rows = frame_rows(frame.data() + 2 * n, n);
    const struct {
        CombParams p;
        int want;
    } cases[] = {
        {{INT_MAX, 1, 0x40000000, 0}, 0},        // |INT_MIN| = INT_MIN < 1
        {{INT_MAX, INT_MIN, 0x40000000, 0}, n},  // ... but >= INT_MIN
        {{INT_MAX, 131074, 65537, 0}, n},        // 65537 * 2 = 131074
        {{INT_MAX, 131075, 65537, 0}, 0},
        {{INT_MAX, 196608, 0, -65536}, n},  // -65536 * -3 = 196608
        {{INT_MAX, 196609, 0, -65536}, 0},
        {{INT_MAX, 1, INT_MIN, 0}, 0},  // INT_MIN * 2 wraps to 0
        {{INT_MAX, 0, INT_MIN, 0}, n},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(ref().span(&rows, 0, n, &c.p), c.want) << "high " << c.p.high << " mid " << c.p.mid;
        ASSERT_EQ(tested().span(&rows, 0, n, &c.p), c.want) << "high " << c.p.high << " mid " << c.p.mid;
    }
}

// Narrow kernels: samples within -4095 .. 4096 and |HIGH| + |MID| <= 31.

TEST_P(CombTier, NarrowLargestDifferencesAndWeights) {
    // The five-row patterns with the largest fourth and second differences
    // the narrow range allows, each sign, under the weights at the limit.
    const int16_t lo = COMB_NARROW_LO, hi = COMB_NARROW_HI;
    const int16_t patterns[][5] = {
        {hi, lo, hi, lo, hi}, {lo, hi, lo, hi, lo}, {hi, hi, lo, hi, hi}, {lo, lo, hi, lo, lo},
        {hi, lo, lo, lo, hi}, {lo, hi, hi, hi, lo}, {hi, 0, lo, 0, hi},   {lo, 0, hi, 0, lo},
    };
    const int32_t weights[][2] = {{31, 0}, {-31, 0}, {0, 31}, {0, -31}, {16, 15}, {-16, 15}, {15, -16}, {-1, -30}};
    const int32_t thresholds[] = {INT_MIN, -31745, -31744, -16384, -1, 0, 1, 16384, 31744, 31745, INT_MAX};
    const int n = 19;
    for (const auto& pat : patterns)
        for (int comp = 0; comp < 3; ++comp) {
            std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * n, PIXEL_YC{0, 0, 0});
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < n; ++x)
                    if (x % 3 != 1) (&frame[static_cast<size_t>(y) * n + x].y)[comp] = pat[y];
            const CombRows rows = frame_rows(frame.data() + 2 * n, n);
            for (const auto& wgt : weights)
                for (int32_t th : thresholds) {
                    const CombParams p = {th, th, wgt[0], wgt[1]};
                    ASSERT_EQ(tested().narrow_span(&rows, 0, n, &p), ref().span(&rows, 0, n, &p))
                        << "comp " << comp << " th " << th << " weights " << wgt[0] << "," << wgt[1];
                }
        }
}

TEST_P(CombTier, NarrowRangeProbes) {
    // Five narrow rows of every length 0..40 (exactly as long as they are
    // read), then one sample of row e, at every position, set to each probe:
    // just outside the range makes the narrow kernel answer -1, the range's
    // own ends are inside; the range check of that row agrees with the
    // reference.
    const CombParams p = {50, 70, 3, 1};
    for (int n = 0; n <= 40; ++n) {
        std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * std::max(n, 1));
        fill_rows(frame, Fill::Narrow, rng);
        const CombRows rows = frame_rows(frame.data() + 2 * n, n);
        ASSERT_TRUE(tested().in_narrow_range(rows.row[4], n)) << "n " << n;
        for (int j = 0; j < 3 * n; ++j)
            for (int v : {COMB_NARROW_LO - 1, COMB_NARROW_LO, COMB_NARROW_HI, COMB_NARROW_HI + 1, -32768, 32767, 8192,
                          -8193}) {
                int16_t& sample = reinterpret_cast<int16_t*>(frame.data() + 4 * n)[j];
                const int16_t kept = sample;
                sample = static_cast<int16_t>(v);
                const bool inside = v >= COMB_NARROW_LO && v <= COMB_NARROW_HI;
                ASSERT_EQ(tested().narrow_span(&rows, 0, n, &p), inside ? ref().span(&rows, 0, n, &p) : -1)
                    << "n " << n << " sample " << j << " value " << v;
                ASSERT_EQ(call_new([&] { return tested().in_narrow_range(rows.row[4], n); }),
                          call_ref([&] { return ref().in_narrow_range(rows.row[4], n); }))
                    << "n " << n << " sample " << j << " value " << v;
                sample = kept;
            }
    }
}

// Kernel wrappers that check how count_comb_weave_with schedules them: a
// narrow kernel only on rows whose four rows a..d are narrow, answering -1
// exactly when row e is not; a general kernel only where some row is wide or
// the weights are out of the narrow kernels' reach.
struct Schedule {
    const CombKernels* tier;
    int narrow_calls, general_calls, broken_preconditions, general_on_narrow_rows;
    bool narrow_weights;
    int w, left, right;  // the frame width and window of the count
} schedule;

bool rows_narrow(const CombRows* rows, int x, int n, int from, int to) {
    for (int k = from; k <= to; ++k)
        if (!comb_in_narrow_range_scalar(rows->row[k] + x, n)) return false;
    return true;
}

int watched_narrow(const CombRows* rows, int x, int n, const CombParams* p) {
    ++schedule.narrow_calls;
    if (!rows_narrow(rows, x, n, 0, 3)) ++schedule.broken_preconditions;
    const int got = schedule.tier->narrow_span(rows, x, n, p);
    EXPECT_EQ(got, rows_narrow(rows, x, n, 4, 4) ? count_comb_span_scalar(rows, x, n, p) : -1);
    return got;
}

int watched_general(const CombRows* rows, int x, int n, const CombParams* p) {
    Schedule& s = schedule;
    ++s.general_calls;
    bool all_narrow = true;  // the five rows, outside the window
    for (const PIXEL_YC* row : rows->row)
        all_narrow = all_narrow && comb_in_narrow_range_scalar(row, s.left) &&
                     comb_in_narrow_range_scalar(row + s.right, s.w - s.right);
    if (s.narrow_weights && all_narrow) ++s.general_on_narrow_rows;
    return s.tier->span(rows, x, n, p);
}

TEST_P(CombTier, NarrowKernelsOnlyWhereEveryRowIsNarrow) {
    // Candidates of two frames of narrow samples, woven with either parity
    // (one frame alone when both are the same), in which some rows hold a
    // wide sample, in or out of the window (where it does not count).
    Schedule& sched = schedule;
    sched = Schedule{&tested(), 0, 0, 0, 0, false, 0, 0, 0};
    const CombKernels watched = {watched_general, watched_narrow, tested().in_narrow_range};
    for (int trial = 0; trial < 300; ++trial) {
        const int h = uniform(rng, 5, 30), w = uniform(rng, 1, 60), max_w = w + 2;
        std::vector<PIXEL_YC> frames[2];
        for (auto& frame : frames) {
            frame.resize(static_cast<size_t>(max_w) * h);
            fill_rows(frame, Fill::Narrow, rng);
        }
        for (int i = uniform(rng, 0, 3); i > 0; --i) {
            const int y = uniform(rng, 0, h - 1), j = uniform(rng, 0, 3 * w - 1);
            reinterpret_cast<int16_t*>(frames[rng() % 2].data() + static_cast<size_t>(y) * max_w)[j] =
                trial % 2 ? int16_t{COMB_NARROW_HI + 1} : int16_t{-20000};
        }
        const PIXEL_YC* earlier = frames[0].data();
        const PIXEL_YC* later = trial % 3 == 0 ? earlier : frames[1].data();
        const int parity = trial / 3 % 2;
        const CombParams p = trial % 5 == 0 ? random_params(rng) : narrow_params(rng);
        sched.narrow_weights = std::abs(int64_t{p.high}) + std::abs(int64_t{p.mid}) <= COMB_NARROW_WEIGHTS;
        CountRig rig(w, h, max_w);
        rig.set(p);
        rig.track[TRACK_LEFT] = uniform(rng, 0, w);
        rig.track[TRACK_WIDTH] = uniform(rng, 0, w / 2);
        sched.w = w;
        sched.left = std::min(rig.track[TRACK_LEFT], w);
        sched.right = std::min(sched.left + rig.track[TRACK_WIDTH], w);
        ASSERT_EQ(count_comb_weave_with(&watched, earlier, later, parity, &rig.filter, &rig.fpip),
                  count_comb_weave_with(&kPlain, earlier, later, parity, &rig.filter, &rig.fpip))
            << "trial " << trial;
    }
    EXPECT_EQ(sched.broken_preconditions, 0);
    EXPECT_EQ(sched.general_on_narrow_rows, 0);
    EXPECT_GT(sched.narrow_calls, 1000);
    EXPECT_GT(sched.general_calls, 100);
}

TEST_P(CombTier, WeightsBeyondTheNarrowLimitOnLargestDifferences) {
    // Weights one beyond the narrow kernels' reach, on the largest
    // differences narrow samples allow: a 16-bit score would wrap there, so
    // the count (through the dispatch) must not use the narrow kernels. Rows
    // alternate so that every counted row sees a = c = e on one side of the
    // range and b = d on the other: hi = -1024 or 1023, mid = 0; and columns
    // where c is flipped give mid = -1024 or 1023 as well.
    const int w = 40, h = 9;
    CountRig rig(w, h, w);
    std::vector<PIXEL_YC> frame(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int16_t v = (y % 2 == 0) == (x % 2 == 0) ? COMB_NARROW_LO : COMB_NARROW_HI;
            frame[static_cast<size_t>(y) * w + x] = PIXEL_YC{v, v, v};
        }
    rig.track[TRACK_LEFT] = w;
    for (const auto& wgt : {std::pair{-32, 0}, std::pair{32, 0}, std::pair{0, -32}, std::pair{0, 32},
                            std::pair{-16, -16}, std::pair{31, 1}})
        for (int th : {-100, 50, 32767}) {
            rig.set(CombParams{th, th, wgt.first, wgt.second});
            EXPECT_EQ(count_comb(frame.data(), &rig.filter, &rig.fpip),
                      count_comb_with(&kPlain, frame.data(), &rig.filter, &rig.fpip))
                << "weights " << wgt.first << "," << wgt.second << " th " << th;
        }
}

TEST_P(CombTier, EveryWindowPositionMatchesThePlainKernel) {
    // The whole count with the tier's kernels (general spans alone, and with
    // the narrow ones) and through the dispatch, against the plain kernel,
    // for every window position and width on frames of many sizes, so that
    // spans start at every column; and counted straight from two frames,
    // against the count of the candidate they weave.
    const CombKernels general_only = {tested().span, nullptr, nullptr};
    for (int h : {0, 4, 5, 6, 9, 14})
        for (int w : {0, 1, 7, 8, 9, 16, 17, 33, 50}) {
            const int max_w = w + 3;
            std::vector<PIXEL_YC> frame(static_cast<size_t>(max_w) * h + 1), other(frame.size());
            fill_rows(frame, w % 3 == 0 ? Fill::Full : Fill::Narrow, rng);
            fill_rows(other, w % 3 == 0 ? Fill::Full : Fill::Narrow, rng);
            // The two candidates of frame (earlier) and other (later): rows of
            // parity p from frame, the others (the last row of an odd height
            // included) from other.
            std::vector<PIXEL_YC> woven[2] = {other, other};
            for (int parity = 0; parity < 2; ++parity)
                for (int y = parity; y < h; y += 2)
                    std::copy_n(frame.begin() + static_cast<ptrdiff_t>(y) * max_w, max_w,
                                woven[parity].begin() + static_cast<ptrdiff_t>(y) * max_w);
            CountRig rig(w, h, max_w);
            for (int left = 0; left <= w + 1; ++left)
                for (int width : {0, 1, 2, 5, 9, 16, 1000}) {
                    rig.set(width % 2 ? random_params(rng) : narrow_params(rng));
                    rig.track[TRACK_LEFT] = left;
                    rig.track[TRACK_WIDTH] = width;
                    FILTER* fp = &rig.filter;
                    FILTER_PROC_INFO* fpip = &rig.fpip;
                    const std::string where = "h " + std::to_string(h) + " w " + std::to_string(w) + " left " +
                                              std::to_string(left) + " width " + std::to_string(width);
                    const int want = call_ref([&] { return count_comb_with(&kPlain, frame.data(), fp, fpip); });
                    ASSERT_EQ(count_comb_with(&general_only, frame.data(), fp, fpip), want) << where;
                    ASSERT_EQ(count_comb_with(&tested(), frame.data(), fp, fpip), want) << where;
                    ASSERT_EQ(call_new([&] { return count_comb(frame.data(), fp, fpip); }), want) << where;
                    for (int parity = 0; parity < 2; ++parity) {
                        const int want_woven = count_comb_with(&kPlain, woven[parity].data(), fp, fpip);
                        for (const CombKernels* k : {&kPlain, &general_only, &tested()})
                            ASSERT_EQ(count_comb_weave_with(k, frame.data(), other.data(), parity, fp, fpip),
                                      want_woven)
                                << where << " parity " << parity;
                        ASSERT_EQ(count_comb_weave(frame.data(), other.data(), parity, fp, fpip), want_woven)
                            << where << " parity " << parity;
                    }
                }
        }
}

PELTA_TIER_TESTS(CombTier);

}  // namespace
