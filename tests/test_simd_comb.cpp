// Every tier's comb kernels (comb_kernels_for) against the scalar references,
// entry by entry, on every tier up to the machine's: random and extreme
// samples over the whole 16-bit range, settings far outside the track bars
// (scores that wrap), every span length and start column, rows in separate
// buffers, the narrow kernels' limits; then the whole count over every window
// position, with each tier's kernels and through the dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <utility>
#include <vector>

#include "base/cpu.h"
#include "abi/controls.h"
#include "match/comb.h"
#include "test_simd_tiers.h"

using namespace pelta;

namespace {


// The kernels of one tier and the scalar references; tiers above
// the machine's are skipped.
class CombTier : public SimdTierTest {
protected:
    const CombKernels tier = *comb_kernels_for(GetParam());
    const CombKernels scalar = *comb_kernels_for(SIMD_SCALAR);
};

// A kernel over n pixels from c of a frame whose rows lie `stride` apart.
int span(CombSpanFn fn, const PIXEL_YC* c, ptrdiff_t stride, int n, const CombParams* p) {
    CombRows rows;
    for (int k = 0; k < 5; ++k) rows.row[k] = c + (k - 2) * stride;
    return fn(&rows, 0, n, p);
}

constexpr int16_t kExtremes[] = {-32768, 32767, 0, 16384, -16384, 20000, -20000, 1, -1};

// Samples of one kind per call: full-range noise with extremes mixed in, or
// small values near a smooth level (whose scores land near the thresholds,
// so that some pixels comb and others not).
void fill(std::vector<PIXEL_YC>& v, std::mt19937& rng, bool full_range) {
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::uniform_int_distribution<int> small(-300, 300);
    std::uniform_int_distribution<int> pick(0, 15);
    std::uniform_int_distribution<int> extreme(0, static_cast<int>(std::size(kExtremes)) - 1);
    for (PIXEL_YC& p : v) {
        int16_t* s = &p.y;
        for (int c = 0; c < 3; ++c) {
            if (full_range)
                s[c] = pick(rng) < 3 ? kExtremes[extreme(rng)] : static_cast<int16_t>(full(rng));
            else
                s[c] = static_cast<int16_t>(small(rng));
        }
    }
}

// Settings: mostly within the track bars, sometimes anywhere in 32 bits,
// including weights whose products wrap and thresholds at the int limits.
CombParams random_params(std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_int_distribution<int32_t> any(INT_MIN, INT_MAX);
    const int32_t odd_weights[] = {65536,      -65536,  32767,   -32768,  32768,
                                   0x40000000, INT_MIN, INT_MAX, 0x12345, -0x10001};
    const int32_t odd_thresholds[] = {INT_MIN, INT_MAX, 0,      -1,      1,
                                      32767,   32768,   -32768, 1 << 20, -(1 << 20)};
    auto weight = [&]() -> int32_t {
        const int k = pick(rng);
        if (k < 6) return std::uniform_int_distribution<int>(0, 8)(rng);
        if (k < 8) return odd_weights[std::uniform_int_distribution<int>(0, 9)(rng)];
        return any(rng);
    };
    auto threshold = [&](int lo, int hi) -> int32_t {
        const int k = pick(rng);
        if (k < 7) return std::uniform_int_distribution<int>(lo, hi)(rng);
        if (k < 9) return odd_thresholds[std::uniform_int_distribution<int>(0, 9)(rng)];
        return any(rng);
    };
    CombParams p;
    p.th_y = threshold(-256, 256);
    p.th_c = threshold(0, 256);
    p.high = weight();
    p.mid = weight();
    return p;
}

TEST_P(CombTier, RandomSpansMatchScalar) {
    // Every span length 0..70 at several start columns, rows `stride` apart,
    // the span sometimes ending at the very end of the buffer.
    std::mt19937 rng(0xc0b5u);
    int partly_combed = 0;
    for (int n = 0; n <= 70; ++n) {
        for (int trial = 0; trial < 24; ++trial) {
            const int start = trial % 3 == 0 ? 0 : std::uniform_int_distribution<int>(0, 9)(rng);
            const int stride =
                start + n + (trial % 2 ? 0 : std::uniform_int_distribution<int>(0, 5)(rng));
            std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * (stride > 0 ? stride : 1));
            fill(frame, rng, trial % 4 == 0);
            const CombParams p = random_params(rng);
            const PIXEL_YC* c = frame.data() + 2 * stride + start;
            const int want = span(scalar.span, c, stride, n, &p);
            ASSERT_EQ(span(tier.span, c, stride, n, &p), want)
                << "n " << n << " start " << start << " stride " << stride << " th_y " << p.th_y
                << " th_c " << p.th_c << " high " << p.high << " mid " << p.mid;
            if (want > 0 && want < n) ++partly_combed;
        }
    }
    // The comparison is only worth something if many spans mix combed and
    // clean pixels.
    EXPECT_GT(partly_combed, 300);
}

void fill_narrow(std::vector<PIXEL_YC>& v, std::mt19937& rng);
CombParams narrow_params(std::mt19937& rng);

TEST_P(CombTier, RowsFromSeparateBuffersAtAnyColumn) {
    // The five rows as a candidate counted from two frames gives them: each
    // in a buffer of its own, the span starting at any column. The narrow
    // kernel of the same tier, on narrow samples, agrees as well.
    std::mt19937 rng(0x5ca7u);
    for (int n = 0; n <= 50; ++n) {
        for (int trial = 0; trial < 12; ++trial) {
            const int x0 = std::uniform_int_distribution<int>(0, 9)(rng);
            std::vector<PIXEL_YC> rows_data[5];
            CombRows rows;
            for (int k = 0; k < 5; ++k) {
                rows_data[k].resize(static_cast<size_t>(x0 + n + 1));
                if (trial % 2)
                    fill(rows_data[k], rng, trial % 4 == 1);
                else
                    fill_narrow(rows_data[k], rng);
                rows.row[k] = rows_data[k].data();
            }
            const CombParams p = trial % 2 ? random_params(rng) : narrow_params(rng);
            const int want = scalar.span(&rows, x0, n, &p);
            ASSERT_EQ(tier.span(&rows, x0, n, &p), want) << "n " << n << " x0 " << x0;
            if (trial % 2 == 0) {
                ASSERT_EQ(tier.narrow_span(&rows, x0, n, &p), want) << "narrow n " << n << " x0 " << x0;
            }
        }
    }
}

TEST_P(CombTier, EachComponentCombsItsPixelAlone) {
    // One sample combed in one pixel of a clean span: the count is exactly 1,
    // whichever of the 48 sample positions (three components, sixteen
    // pixels) it sits at. A kernel that tested the wrong lane, or mixed
    // neighbouring pixels, miscounts.
    const CombParams p = {50, 70, 3, 1};
    for (int n : {8, 16, 23, 32, 40}) {
        for (int x = 0; x < n; ++x) {
            for (int comp = 0; comp < 3; ++comp) {
                // A flat 100 scores 0. c = 3000 over it: hi = 17400 >> 6 = 271,
                // mid = -5800 >> 4 = -363, score = 3*271 - 363 = 450, which combs
                // luma (>= 50) and chroma (|450| >= 70) alike.
                std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * n, PIXEL_YC{100, 100, 100});
                (&frame[static_cast<size_t>(2) * n + x].y)[comp] = 3000;
                const PIXEL_YC* c = frame.data() + 2 * n;
                ASSERT_EQ(span(scalar.span, c, n, n, &p), 1)
                    << "n " << n << " x " << x << " comp " << comp;
                ASSERT_EQ(span(tier.span, c, n, n, &p), 1)
                    << "n " << n << " x " << x << " comp " << comp;
            }
        }
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
    const PIXEL_YC* c = frame.data() + 2 * n;
    struct Case {
        CombParams p;
        int want;
    };
    const Case cases[] = {
        {{INT_MAX, 1, 0x40000000, 0}, 0},        // |INT_MIN| = INT_MIN < 1
        {{INT_MAX, INT_MIN, 0x40000000, 0}, n},  // ... but >= INT_MIN
        {{INT_MAX, 131074, 65537, 0}, n},        // 65537 * 2 = 131074
        {{INT_MAX, 131075, 65537, 0}, 0},
        {{INT_MAX, 196608, 0, -65536}, n},  // -65536 * -3 = 196608
        {{INT_MAX, 196609, 0, -65536}, 0},
        {{INT_MAX, 1, INT_MIN, 0}, 0},  // INT_MIN * 2 wraps to 0
        {{INT_MAX, 0, INT_MIN, 0}, n},
    };
    for (const Case& c5 : cases) {
        ASSERT_EQ(span(scalar.span, c, n, n, &c5.p), c5.want)
            << "high " << c5.p.high << " mid " << c5.p.mid;
        ASSERT_EQ(span(tier.span, c, n, n, &c5.p), c5.want)
            << "high " << c5.p.high << " mid " << c5.p.mid << " th_c " << c5.p.th_c;
    }
}

// Narrow kernels: samples within -4095 .. 4096 and |HIGH| + |MID| <= 31.

constexpr int16_t kNarrowExtremes[] = {COMB_NARROW_LO, COMB_NARROW_HI, 0, 4095, -4094,
                                       2048,           -2048,          1, -1};

void fill_narrow(std::vector<PIXEL_YC>& v, std::mt19937& rng) {
    std::uniform_int_distribution<int> any(COMB_NARROW_LO, COMB_NARROW_HI);
    std::uniform_int_distribution<int> small(-200, 200);
    std::uniform_int_distribution<int> pick(0, 15);
    std::uniform_int_distribution<int> extreme(0, static_cast<int>(std::size(kNarrowExtremes)) - 1);
    const bool smooth = pick(rng) < 8;  // near-threshold scores, or the whole range
    for (PIXEL_YC& p : v)
        for (int c = 0; c < 3; ++c) {
            const int k = pick(rng);
            (&p.y)[c] = static_cast<int16_t>(k < 3    ? kNarrowExtremes[extreme(rng)]
                                             : smooth ? small(rng)
                                                      : any(rng));
        }
}

CombParams narrow_params(std::mt19937& rng) {
    std::uniform_int_distribution<int> high(-31, 31);
    const int32_t hw = high(rng);
    const int32_t room = 31 - (hw < 0 ? -hw : hw);
    const int32_t mw = std::uniform_int_distribution<int>(-room, room)(rng);
    const int32_t odd_thresholds[] = {INT_MIN, INT_MAX, -32768, 32767, -32769,
                                      32768,   31744,   -31744, 31745, 0};
    std::uniform_int_distribution<int> pick(0, 9);
    auto threshold = [&](int lo, int hi) -> int32_t {
        if (pick(rng) < 8) return std::uniform_int_distribution<int>(lo, hi)(rng);
        return odd_thresholds[pick(rng)];
    };
    return CombParams{threshold(-1200, 1200), threshold(-50, 1200), hw, mw};
}

TEST_P(CombTier, RandomNarrowSpansMatchScalar) {
    std::mt19937 rng(0xa11u);
    int partly_combed = 0;
    for (int n = 0; n <= 70; ++n) {
        for (int trial = 0; trial < 24; ++trial) {
            const int start = trial % 3 == 0 ? 0 : std::uniform_int_distribution<int>(0, 9)(rng);
            const int stride = start + n + (trial % 2 ? 0 : 3);
            std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * (stride > 0 ? stride : 1));
            fill_narrow(frame, rng);
            const CombParams p = narrow_params(rng);
            const PIXEL_YC* c = frame.data() + 2 * stride + start;
            const int want = span(scalar.narrow_span, c, stride, n, &p);
            ASSERT_EQ(want, span(scalar.span, c, stride, n, &p));
            ASSERT_EQ(span(tier.narrow_span, c, stride, n, &p), want)
                << "n " << n << " start " << start << " th_y " << p.th_y << " th_c " << p.th_c
                << " high " << p.high << " mid " << p.mid;
            if (want > 0 && want < n) ++partly_combed;
        }
    }
    EXPECT_GT(partly_combed, 300);
}

TEST_P(CombTier, NarrowLargestDifferencesAndWeights) {
    // The five-row patterns with the largest fourth and second differences
    // the narrow range allows, each sign, under the weights at the limit.
    const int16_t lo = COMB_NARROW_LO, hi = COMB_NARROW_HI;
    const int16_t patterns[][5] = {
        {hi, lo, hi, lo, hi}, {lo, hi, lo, hi, lo}, {hi, hi, lo, hi, hi}, {lo, lo, hi, lo, lo},
        {hi, lo, lo, lo, hi}, {lo, hi, hi, hi, lo}, {hi, 0, lo, 0, hi},   {lo, 0, hi, 0, lo},
    };
    const int32_t weights[][2] = {{31, 0},  {-31, 0},  {0, 31},   {0, -31},
                                  {16, 15}, {-16, 15}, {15, -16}, {-1, -30}};
    const int32_t thresholds[] = {INT_MIN, -31745, -31744, -16384, -1,     0,
                                  1,       16384,  31744,  31745,  INT_MAX};
    const int n = 19;
    for (const auto& pat : patterns) {
        for (int comp = 0; comp < 3; ++comp) {
            std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * n, PIXEL_YC{0, 0, 0});
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < n; ++x)
                    if (x % 3 != 1) (&frame[static_cast<size_t>(y) * n + x].y)[comp] = pat[y];
            const PIXEL_YC* c = frame.data() + 2 * n;
            for (const auto& wgt : weights)
                for (int32_t th : thresholds) {
                    const CombParams p = {th, th, wgt[0], wgt[1]};
                    ASSERT_EQ(span(tier.narrow_span, c, n, n, &p), span(scalar.span, c, n, n, &p))
                        << "comp " << comp << " th " << th << " weights " << wgt[0] << ","
                        << wgt[1];
                }
        }
    }
}

TEST_P(CombTier, NarrowWideSampleInLastRowIsReported) {
    // Rows a..d narrow; one sample of row e just outside the range, at any
    // position of the span, makes the kernel answer -1. The range's own ends
    // are inside.
    const CombParams p = {50, 70, 3, 1};
    std::mt19937 rng(5u);
    for (int n : {1, 7, 8, 9, 16, 17, 31, 40}) {
        for (int j = 0; j < 3 * n; ++j) {
            for (int16_t v :
                 {int16_t{COMB_NARROW_LO - 1}, int16_t{COMB_NARROW_HI + 1}, int16_t{-32768},
                  int16_t{32767}, int16_t{COMB_NARROW_LO}, int16_t{COMB_NARROW_HI}}) {
                std::vector<PIXEL_YC> frame(static_cast<size_t>(5) * n);
                fill_narrow(frame, rng);
                reinterpret_cast<int16_t*>(frame.data() + 4 * n)[j] = v;
                const PIXEL_YC* c = frame.data() + 2 * n;
                const bool inside = v >= COMB_NARROW_LO && v <= COMB_NARROW_HI;
                ASSERT_EQ(span(tier.narrow_span, c, n, n, &p), inside ? span(scalar.span, c, n, n, &p) : -1)
                    << "n " << n << " sample " << j << " value " << v;
            }
        }
    }
}

TEST_P(CombTier, NarrowRangeCheckMatchesScalar) {
    std::mt19937 rng(11u);
    const int16_t probes[] = {COMB_NARROW_LO - 1,
                              COMB_NARROW_LO,
                              COMB_NARROW_HI,
                              COMB_NARROW_HI + 1,
                              -32768,
                              32767,
                              8192,
                              -8193};
    for (int n = 0; n <= 40; ++n) {
        std::vector<PIXEL_YC> row(static_cast<size_t>(n > 0 ? n : 1));
        fill_narrow(row, rng);
        ASSERT_TRUE(tier.in_narrow_range(row.data(), n)) << "n " << n;
        for (int j = 0; j < 3 * n; ++j)
            for (int16_t v : probes) {
                std::vector<PIXEL_YC> probe = row;
                reinterpret_cast<int16_t*>(probe.data())[j] = v;
                ASSERT_EQ(tier.in_narrow_range(probe.data(), n), scalar.in_narrow_range(probe.data(), n))
                    << "n " << n << " sample " << j << " value " << v;
            }
    }
}

// Kernel wrappers that check how count_comb_with schedules them: a narrow
// kernel only on rows whose four rows a..d are narrow, answering -1 exactly
// when row e is not; a general kernel only where some row is wide or the
// weights are out of the narrow kernels' reach.
struct Schedule {
    CombSpanFn narrow;
    CombSpanFn general;
    int narrow_calls = 0;
    int general_calls = 0;
    int broken_preconditions = 0;
    int general_on_narrow_rows = 0;
    bool narrow_weights = false;
    // The frame size and window of the count.
    int w = 0, left = 0, right = 0;
};
Schedule* schedule = nullptr;

bool rows_narrow(const CombRows* rows, int x, int n, int from, int to) {
    for (int k = from; k <= to; ++k)
        if (!comb_in_narrow_range_scalar(rows->row[k] + x, n)) return false;
    return true;
}

int watched_narrow(const CombRows* rows, int x, int n, const CombParams* p) {
    ++schedule->narrow_calls;
    if (!rows_narrow(rows, x, n, 0, 3)) ++schedule->broken_preconditions;
    const int got = schedule->narrow(rows, x, n, p);
    const bool e_narrow = rows_narrow(rows, x, n, 4, 4);
    EXPECT_EQ(got, e_narrow ? count_comb_span_scalar(rows, x, n, p) : -1);
    return got;
}

// Whether the five rows are narrow outside the window.
bool frame_rows_narrow(const CombRows* rows) {
    const Schedule& s = *schedule;
    for (const PIXEL_YC* row : rows->row)
        if (!comb_in_narrow_range_scalar(row, s.left) ||
            !comb_in_narrow_range_scalar(row + s.right, s.w - s.right))
            return false;
    return true;
}

int watched_general(const CombRows* rows, int x, int n, const CombParams* p) {
    ++schedule->general_calls;
    if (schedule->narrow_weights && frame_rows_narrow(rows)) ++schedule->general_on_narrow_rows;
    return schedule->general(rows, x, n, p);
}

// Frames of nominal samples in which some rows hold a wide sample, placed in
// or out of the window (a wide sample inside the window does not count).
TEST_P(CombTier, NarrowKernelsOnlyWhereEveryRowIsNarrow) {
    std::mt19937 rng(0x5c4edu);
    int track[TRACK_COUNT] = {};
    FILTER filter{};
    filter.track = track;
    FILTER_PROC_INFO fpip{};
    Schedule sched;
    sched.narrow = tier.narrow_span;
    sched.general = tier.span;
    schedule = &sched;
    const CombKernels watched = {watched_general, watched_narrow, tier.in_narrow_range};
    for (int trial = 0; trial < 300; ++trial) {
        const int h = std::uniform_int_distribution<int>(5, 30)(rng);
        const int w = std::uniform_int_distribution<int>(1, 60)(rng);
        const int max_w = w + 2;
        // The candidate of two frames, woven with either parity (one
        // frame alone when both are the same).
        std::vector<PIXEL_YC> frames[2];
        for (auto& frame : frames) {
            frame.resize(static_cast<size_t>(max_w) * h);
            fill_narrow(frame, rng);
        }
        const int wide_rows = std::uniform_int_distribution<int>(0, 3)(rng);
        for (int i = 0; i < wide_rows; ++i) {
            const int y = std::uniform_int_distribution<int>(0, h - 1)(rng);
            const int j = std::uniform_int_distribution<int>(0, 3 * w - 1)(rng);
            std::vector<PIXEL_YC>& frame = frames[std::uniform_int_distribution<int>(0, 1)(rng)];
            reinterpret_cast<int16_t*>(frame.data() + static_cast<size_t>(y) * max_w)[j] =
                trial % 2 ? int16_t{COMB_NARROW_HI + 1} : int16_t{-20000};
        }
        const PIXEL_YC* earlier = frames[0].data();
        const PIXEL_YC* later = trial % 3 == 0 ? earlier : frames[1].data();
        const int parity = trial / 3 % 2;
        const CombParams p = trial % 5 == 0 ? random_params(rng) : narrow_params(rng);
        sched.narrow_weights = int64_t{p.high < 0 ? -int64_t{p.high} : p.high} +
                                   (p.mid < 0 ? -int64_t{p.mid} : p.mid) <=
                               COMB_NARROW_WEIGHTS;
        track[TRACK_LEFT] = std::uniform_int_distribution<int>(0, w)(rng);
        track[TRACK_WIDTH] = std::uniform_int_distribution<int>(0, w / 2)(rng);
        track[TRACK_TH_Y] = p.th_y;
        track[TRACK_TH_C] = p.th_c;
        track[TRACK_HIGH] = p.high;
        track[TRACK_MID] = p.mid;
        fpip.w = w;
        fpip.h = h;
        fpip.max_w = max_w;
        sched.w = w;
        sched.left = std::min(track[TRACK_LEFT], w);
        sched.right = std::min(sched.left + track[TRACK_WIDTH], w);
        const CombKernels plain = {count_comb_span_scalar, nullptr, nullptr};
        ASSERT_EQ(count_comb_weave_with(&watched, earlier, later, parity, &filter, &fpip),
                  count_comb_weave_with(&plain, earlier, later, parity, &filter, &fpip))
            << "trial " << trial;
    }
    schedule = nullptr;
    EXPECT_EQ(sched.broken_preconditions, 0);
    EXPECT_EQ(sched.general_on_narrow_rows, 0);
    EXPECT_GT(sched.narrow_calls, 1000);
    EXPECT_GT(sched.general_calls, 100);
}

INSTANTIATE_TEST_SUITE_P(Tiers, CombTier, ::testing::ValuesIn(kSimdTiers), simd_tier_name);

// Weights one beyond the narrow kernels' reach, on the largest differences
// narrow samples allow: a 16-bit score would wrap there, so the count must
// not use the narrow kernels.
TEST(CombDispatch, WeightsBeyondTheNarrowLimitOnLargestDifferences) {
    const int w = 40, h = 9;
    int track[TRACK_COUNT] = {};
    FILTER filter{};
    filter.track = track;
    FILTER_PROC_INFO fpip{};
    fpip.w = w;
    fpip.h = h;
    fpip.max_w = w;
    const int16_t lo = COMB_NARROW_LO, hi = COMB_NARROW_HI;
    // Rows alternate so that every counted row sees a = c = e on one side
    // of the range and b = d on the other: hi = -1024 or 1023, mid = 0; and
    // columns where c is flipped give mid = -1024 or 1023 as well.
    std::vector<PIXEL_YC> frame(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int16_t v = (y % 2 == 0) == (x % 2 == 0) ? lo : hi;
            frame[static_cast<size_t>(y) * w + x] = PIXEL_YC{v, v, v};
        }
    const CombKernels plain = {count_comb_span_scalar, nullptr, nullptr};
    track[TRACK_LEFT] = w;
    for (const auto& wgt : {std::pair{-32, 0}, std::pair{32, 0}, std::pair{0, -32},
                            std::pair{0, 32}, std::pair{-16, -16}, std::pair{31, 1}}) {
        for (int th : {-100, 50, 32767}) {
            track[TRACK_HIGH] = wgt.first;
            track[TRACK_MID] = wgt.second;
            track[TRACK_TH_Y] = th;
            track[TRACK_TH_C] = th;
            const int want = count_comb_with(&plain, frame.data(), &filter, &fpip);
            for (SimdLevel cap : kSimdTiers) {
                set_simd_cap(cap);
                EXPECT_EQ(count_comb(frame.data(), &filter, &fpip), want)
                    << simd_level_name(cap) << " weights " << wgt.first << "," << wgt.second
                    << " th " << th;
            }
            set_simd_cap(SIMD_AVX2);
        }
    }
}

// The whole count with each tier's kernels (general spans alone, and with the
// narrow ones) and through the dispatch pinned to each tier, against the
// plain kernel, for every window position and width on frames of many sizes:
// spans start at every column.
TEST(CombDispatch, EveryWindowPositionMatchesPlainKernel) {
    std::mt19937 rng(0x5eedu);
    int track[TRACK_COUNT] = {};
    FILTER filter{};
    filter.track = track;
    FILTER_PROC_INFO fpip{};
    const CombKernels plain = {count_comb_span_scalar, nullptr, nullptr};
    std::vector<CombKernels> sets;
    for (SimdLevel level : kSimdTiers) {
        if (level > cpu_simd_level()) continue;
        const CombKernels k = *comb_kernels_for(level);
        sets.push_back(CombKernels{k.span, nullptr, nullptr});
        sets.push_back(k);
    }
    for (int h : {0, 4, 5, 6, 9, 14}) {
        for (int w : {0, 1, 7, 8, 9, 16, 17, 33, 50}) {
            const int max_w = w + 3;
            std::vector<PIXEL_YC> frame(static_cast<size_t>(max_w) * h + 1);
            std::vector<PIXEL_YC> other(frame.size());
            for (auto* v : {&frame, &other}) {
                if (w % 3 == 0)
                    fill(*v, rng, true);
                else
                    fill_narrow(*v, rng);
            }
            // The two candidates of frame (earlier) and other (later) woven
            // row by row: rows of parity p from frame, the others (the last
            // row of an odd height included) from other.
            std::vector<PIXEL_YC> woven[2];
            for (int parity = 0; parity < 2; ++parity) {
                woven[parity] = other;
                for (int y = parity; y < h; y += 2)
                    std::copy_n(frame.begin() + static_cast<ptrdiff_t>(y) * max_w, max_w,
                                woven[parity].begin() + static_cast<ptrdiff_t>(y) * max_w);
            }
            fpip.w = w;
            fpip.h = h;
            fpip.max_w = max_w;
            for (int left = 0; left <= w + 1; ++left) {
                for (int width : {0, 1, 2, 5, 9, 16, 1000}) {
                    const CombParams p = width % 2 ? random_params(rng) : narrow_params(rng);
                    track[TRACK_LEFT] = left;
                    track[TRACK_WIDTH] = width;
                    track[TRACK_TH_Y] = p.th_y;
                    track[TRACK_TH_C] = p.th_c;
                    track[TRACK_HIGH] = p.high;
                    track[TRACK_MID] = p.mid;
                    const int want = count_comb_with(&plain, frame.data(), &filter, &fpip);
                    for (size_t i = 0; i < sets.size(); ++i) {
                        ASSERT_EQ(count_comb_with(&sets[i], frame.data(), &filter, &fpip), want)
                            << "set " << i << " h " << h << " w " << w << " left " << left
                            << " width " << width;
                    }
                    for (SimdLevel cap : kSimdTiers) {
                        set_simd_cap(cap);
                        ASSERT_EQ(count_comb(frame.data(), &filter, &fpip), want)
                            << simd_level_name(cap) << " h " << h << " w " << w
                            << " left " << left << " width " << width;
                    }
                    set_simd_cap(SIMD_AVX2);
                    // Counted straight from the two frames: the count of the
                    // woven candidate, with every kernel set.
                    for (int parity = 0; parity < 2; ++parity) {
                        const int want_woven =
                            count_comb_with(&plain, woven[parity].data(), &filter, &fpip);
                        ASSERT_EQ(count_comb_weave_with(&plain, frame.data(), other.data(),
                                                        parity, &filter, &fpip),
                                  want_woven)
                            << "plain parity " << parity << " h " << h << " w " << w;
                        for (size_t i = 0; i < sets.size(); ++i) {
                            ASSERT_EQ(count_comb_weave_with(&sets[i], frame.data(), other.data(),
                                                            parity, &filter, &fpip),
                                      want_woven)
                                << "set " << i << " parity " << parity << " h " << h << " w "
                                << w << " left " << left << " width " << width;
                        }
                        ASSERT_EQ(count_comb_weave(frame.data(), other.data(), parity, &filter,
                                                   &fpip),
                                  want_woven);
                    }
                }
            }
        }
    }
}

}  // namespace
