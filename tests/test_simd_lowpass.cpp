// The vertical low-pass with the row kernel of every tier up to the
// machine's (lowpass_kernels_for): the scalar reference, SSE2 and AVX2. Edge
// cases of the filter itself run on each tier; randomized frames and rows
// compare each tier's kernel with the scalar reference sample for sample.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "base/cpu.h"
#include "match/lowpass.h"
#include "test_simd_tiers.h"

using namespace pelta;

namespace {


constexpr int16_t kUntouched = 0x3C3C;
constexpr int16_t kExtremes[] = {-32768, 32767, 0, 16384, -16384, 20000, -20000, 16383, -16385};

// A frame of h rows, max_w pixels apart, as a flat run of int16 samples.
struct Frame16 {
    int h, max_w;
    std::vector<int16_t> s;
    Frame16(int h_, int max_w_, int16_t fill)
        : h(h_), max_w(max_w_), s(static_cast<size_t>(3) * max_w_ * (h_ > 0 ? h_ : 0), fill) {}
    int16_t& at(int y, int j) { return s[static_cast<size_t>(y) * 3 * max_w + j]; }
    PIXEL_YC* pixels() { return reinterpret_cast<PIXEL_YC*>(s.data()); }
    const PIXEL_YC* pixels() const { return reinterpret_cast<const PIXEL_YC*>(s.data()); }
    // Every sample of row y (all 3 * max_w) set to v.
    void row(int y, int16_t v) {
        for (int j = 0; j < 3 * max_w; ++j) at(y, j) = v;
    }
};

// Fills with full-range samples, about one in eight of them an extreme value.
void fill_random(std::vector<int16_t>& v, std::mt19937& rng) {
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_int_distribution<int> pick(0, 15);
    std::uniform_int_distribution<int> extreme(0, static_cast<int>(std::size(kExtremes)) - 1);
    for (int16_t& x : v)
        x = pick(rng) < 2 ? kExtremes[extreme(rng)] : static_cast<int16_t>(sample(rng));
}

int expected_q15(int64_t acc) {
    const int64_t r = (acc + 16384) >> 15;
    return static_cast<int>(r < -32768 ? -32768 : (r > 32767 ? 32767 : r));
}

// The kernels of one tier and the scalar reference; tiers above
// the machine's are skipped.
class LowpassTier : public SimdTierTest {
protected:
    void run(Frame16& dst, const Frame16& src, int h, int w) {
        EXPECT_EQ(vertical_lowpass_with(tier.row, dst.pixels(), src.pixels(), h, src.max_w, w), 0);
    }
    const LowpassKernels tier = *lowpass_kernels_for(GetParam());
    const LowpassKernels scalar = *lowpass_kernels_for(SIMD_SCALAR);
};

TEST_P(LowpassTier, ShortFramesAreCopiedOrLeftAlone) {
    // h = 0: nothing written. h = 1: row 0 only. h = 2: both rows whole.
    for (int h = 0; h <= 2; ++h) {
        const int max_w = 9, w = 5;
        Frame16 src(3, max_w, 0);
        std::mt19937 rng(h);
        fill_random(src.s, rng);
        Frame16 dst(3, max_w, kUntouched);
        run(dst, src, h, w);
        for (int y = 0; y < 3; ++y)
            for (int j = 0; j < 3 * max_w; ++j)
                ASSERT_EQ(dst.at(y, j), y < h ? src.at(y, j) : kUntouched)
                    << "h " << h << " row " << y << " sample " << j;
    }
}

TEST_P(LowpassTier, ThreeRowsKeepTheMiddleRow) {
    // Row 1 is its own neighbour ten times over; rows 0 and 2 do not feed it.
    const int w = 11;
    Frame16 src(3, w, 0);
    src.row(0, 32767);
    src.row(2, -32768);
    for (int j = 0; j < 3 * w; ++j) src.at(1, j) = static_cast<int16_t>(-16384 + j * 997 % 32768);
    Frame16 dst(3, w, kUntouched);
    run(dst, src, 3, w);
    for (int j = 0; j < 3 * w; ++j) ASSERT_EQ(dst.at(1, j), src.at(1, j)) << "sample " << j;
}

TEST_P(LowpassTier, ConstantColumnsPassUnchanged) {
    // The taps sum to 32768: a column of x comes out as x, near the clamped
    // top and bottom rows as well as in the middle.
    const int w = 13, h = 24;
    const int16_t values[] = {-16384, -1, 0, 1, 4096, 16383, -2048, 2048};
    Frame16 src(h, w, 0);
    for (int y = 0; y < h; ++y)
        for (int j = 0; j < 3 * w; ++j) src.at(y, j) = values[j % std::size(values)];
    Frame16 dst(h, w, kUntouched);
    run(dst, src, h, w);
    for (int y = 0; y < h; ++y)
        for (int j = 0; j < 3 * w; ++j)
            ASSERT_EQ(dst.at(y, j), src.at(y, j)) << "row " << y << " sample " << j;
}

TEST_P(LowpassTier, AlternatingRowsAreNearlyCancelled) {
    // Rows of +A and -A: away from the clamped rows, the half-cycle response
    // of 4/32768 leaves (+-4A + 16384) >> 15.
    const int w = 7, h = 30;
    for (int a : {1000, 4095, 8000, 16383}) {
        Frame16 src(h, w, 0);
        for (int y = 0; y < h; ++y) src.row(y, static_cast<int16_t>(y % 2 ? -a : a));
        Frame16 dst(h, w, kUntouched);
        run(dst, src, h, w);
        for (int y = 6; y <= h - 7; ++y) {
            const int s = y % 2 ? -1 : 1;
            for (int j = 0; j < 3 * w; ++j)
                ASSERT_EQ(dst.at(y, j), expected_q15(int64_t{4} * s * a))
                    << "A " << a << " row " << y;
        }
        if (a < 4096) {
            for (int j = 0; j < 3 * w; ++j) EXPECT_EQ(dst.at(10, j), 0);
        }
    }
}

TEST_P(LowpassTier, PairSumsSaturate) {
    // Two neighbours of +-20000 at offset k make a pair of 32767 / -32768,
    // not +-40000. Row 6 of 13 sees every offset unclamped.
    const int w = 5, h = 13;
    for (int k = 1; k <= 5; ++k) {
        for (int sign : {1, -1}) {
            Frame16 src(h, w, 0);
            src.row(6 - k, static_cast<int16_t>(sign * 20000));
            src.row(6 + k, static_cast<int16_t>(sign * 20000));
            Frame16 dst(h, w, kUntouched);
            run(dst, src, h, w);
            const int pair = sign > 0 ? 32767 : -32768;
            const int want = expected_q15(int64_t{LOWPASS_TAPS[k]} * pair);
            ASSERT_NE(want, expected_q15(int64_t{LOWPASS_TAPS[k]} * sign * 40000));
            for (int j = 0; j < 3 * w; ++j)
                ASSERT_EQ(dst.at(6, j), want) << "k " << k << " sign " << sign;
        }
    }
}

TEST_P(LowpassTier, OutputSaturates) {
    // Positive taps on +32767 and negative taps on -32768 push acc past what
    // 16 bits hold; the result is clamped, in both directions.
    const int w = 6, h = 13;
    for (int sign : {1, -1}) {
        Frame16 src(h, w, 0);
        for (int k = 0; k <= 5; ++k) {
            const bool positive_tap = LOWPASS_TAPS[k] > 0;
            const int16_t v = (positive_tap == (sign > 0)) ? int16_t{32767} : int16_t{-32768};
            src.row(6 - k, v);
            src.row(6 + k, v);
        }
        Frame16 dst(h, w, kUntouched);
        run(dst, src, h, w);
        for (int j = 0; j < 3 * w; ++j)
            ASSERT_EQ(dst.at(6, j), sign > 0 ? 32767 : -32768) << "sign " << sign;
    }
}

TEST_P(LowpassTier, NarrowRowsAndColumnsBeyondWidth) {
    // w = 0 writes no filtered sample; w = 1 and widths whose 3w is not a
    // multiple of 4 (or 8, or 16) match the plain kernel. Rows 0 and h-1 go
    // whole; columns w .. max_w-1 of the rows between keep their content.
    for (int w : {0, 1, 2, 3, 5, 6, 7, 11}) {
        const int max_w = w + 4, h = 9;
        Frame16 src(h, max_w, 0);
        std::mt19937 rng(w);
        fill_random(src.s, rng);
        Frame16 dst(h, max_w, kUntouched);
        Frame16 ref(h, max_w, kUntouched);
        run(dst, src, h, w);
        vertical_lowpass_with(scalar.row, ref.pixels(), src.pixels(), h, max_w, w);
        for (int y = 0; y < h; ++y)
            for (int j = 0; j < 3 * max_w; ++j) {
                const bool whole = y == 0 || y == h - 1;
                if (whole)
                    ASSERT_EQ(dst.at(y, j), src.at(y, j)) << "w " << w << " row " << y;
                else if (j >= 3 * w)
                    ASSERT_EQ(dst.at(y, j), kUntouched) << "w " << w << " row " << y;
                else
                    ASSERT_EQ(dst.at(y, j), ref.at(y, j))
                        << "w " << w << " row " << y << " sample " << j;
            }
    }
    // w = 1 by hand: row 2 of 5 has neighbours clamped to rows 1..3.
    Frame16 src(5, 1, 0);
    for (int y = 1; y <= 3; ++y)
        for (int j = 0; j < 3; ++j) src.at(y, j) = static_cast<int16_t>(1000 * y + 100 * j);
    Frame16 dst(5, 1, kUntouched);
    run(dst, src, 5, 1);
    for (int j = 0; j < 3; ++j) {
        const int64_t up = src.at(1, j), mid = src.at(2, j), down = src.at(3, j);
        // Offsets 1..5 all reach rows 1 and 3 once clamped.
        int64_t acc = LOWPASS_TAPS[0] * mid;
        for (int k = 1; k <= 5; ++k) acc += LOWPASS_TAPS[k] * (up + down);
        EXPECT_EQ(dst.at(2, j), expected_q15(acc)) << "sample " << j;
    }
}

TEST_P(LowpassTier, RandomFramesMatchPlainKernel) {
    std::mt19937 rng(0x51a7u);
    std::uniform_int_distribution<int> extra(0, 9);
    for (int h = 0; h <= 40; ++h) {
        for (int w = 0; w <= 70; w += (h % 3) + 1) {
            const int max_w = w + extra(rng);
            Frame16 src(h, max_w, 0);
            fill_random(src.s, rng);
            Frame16 dst(h, max_w, kUntouched);
            Frame16 ref(h, max_w, kUntouched);
            run(dst, src, h, w);
            vertical_lowpass_with(scalar.row, ref.pixels(), src.pixels(), h, max_w, w);
            ASSERT_EQ(dst.s, ref.s) << "h " << h << " w " << w << " max_w " << max_w;
        }
    }
}

TEST_P(LowpassTier, RandomRowsMatchPlainKernelAtEveryLength) {
    // The row kernel on its own, for every sample count 0..100 (not only
    // multiples of 3) and every start offset 0..15 (each alignment), with
    // the input rows ending right at the end of their buffers and a guard
    // after the output run.
    std::mt19937 rng(7u);
    for (int n = 0; n <= 100; ++n) {
        for (int offset = 0; offset < 16; offset += 5) {
            std::vector<std::vector<int16_t>> in(
                11, std::vector<int16_t>(static_cast<size_t>(n + offset)));
            for (auto& r : in) fill_random(r, rng);
            // Some rows repeat, as the clamped neighbours do at the frame edges.
            if (n % 4 == 1) in[3] = in[1];
            LowpassRows rows;
            rows.centre = in[0].data() + offset;
            rows.above[0] = rows.below[0] = nullptr;
            for (int k = 1; k <= 5; ++k) {
                rows.above[k] = in[k].data() + offset;
                rows.below[k] = in[5 + k].data() + offset;
            }
            rows.n = n;
            std::vector<int16_t> got(static_cast<size_t>(n + offset + 16), kUntouched);
            std::vector<int16_t> want(got);
            rows.out = want.data() + offset;
            scalar.row(&rows);
            rows.out = got.data() + offset;
            tier.row(&rows);
            ASSERT_EQ(got, want) << "n " << n << " offset " << offset;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tiers, LowpassTier, ::testing::ValuesIn(kSimdTiers), simd_tier_name);

TEST(LowpassDispatch, EveryDispatchGivesThePlainResult) {
    // vertical_lowpass takes the kernels of simd_level(); pinned to each tier,
    // it filters as the plain kernel does.
    const int h = 37, w = 67, max_w = 70;
    Frame16 src(h, max_w, 0);
    std::mt19937 rng(99u);
    fill_random(src.s, rng);
    Frame16 ref(h, max_w, kUntouched);
    vertical_lowpass_with(vertical_lowpass_row_scalar, ref.pixels(), src.pixels(), h, max_w, w);
    for (SimdLevel cap : kSimdTiers) {
        set_simd_cap(cap);
        Frame16 dst(h, max_w, kUntouched);
        EXPECT_EQ(vertical_lowpass(dst.pixels(), src.pixels(), h, max_w, w), 0);
        EXPECT_EQ(dst.s, ref.s) << simd_level_name(cap);
    }
    set_simd_cap(SIMD_AVX2);
}

}  // namespace
