// The vertical low-pass at every tier up to the machine's (tier_harness.h):
// the filter's own edge cases with the tier's row kernel, the row kernel
// against the scalar reference at every length and alignment, and whole
// random frames through the dispatch against the scalar kernel.
#include <gtest/gtest.h>

#include <vector>

#include "match/lowpass.h"
#include "tier_harness.h"

using namespace pelta;
using namespace tier_harness;

namespace {

constexpr int16_t kUntouched = 0x3C3C;

// A frame of h rows, max_w pixels apart, as a flat run of int16 samples.
struct Frame16 {
    int h, max_w;
    std::vector<int16_t> s;
    Frame16(int h_, int max_w_, int16_t fill)
        : h(h_), max_w(max_w_), s(static_cast<size_t>(3) * max_w_ * (h_ > 0 ? h_ : 0), fill) {}
    int16_t& at(int y, int j) { return s[static_cast<size_t>(y) * 3 * max_w + j]; }
    const PIXEL_YC* pixels() const { return reinterpret_cast<const PIXEL_YC*>(s.data()); }
    // Every sample of row y (all 3 * max_w) set to v.
    void row(int y, int v) {
        for (int j = 0; j < 3 * max_w; ++j) at(y, j) = static_cast<int16_t>(v);
    }
};

int expected_q15(int64_t acc) {
    const int64_t r = (acc + 16384) >> 15;
    return static_cast<int>(r < -32768 ? -32768 : (r > 32767 ? 32767 : r));
}

class LowpassTier : public KernelTierTest<LowpassKernels, lowpass_kernels_for> {
protected:
    // The first h rows of src filtered over w columns with the tier's row
    // kernel, into a frame of src's size that starts out kUntouched.
    Frame16 filter(const Frame16& src, int h, int w) {
        Frame16 dst(src.h, src.max_w, kUntouched);
        EXPECT_EQ(vertical_lowpass_with(tested().row, reinterpret_cast<PIXEL_YC*>(dst.s.data()), src.pixels(), h,
                                        src.max_w, w),
                  0);
        return dst;
    }
};

TEST_P(LowpassTier, ShortFramesAreCopiedOrLeftAlone) {
    // h = 0: nothing written. h = 1: row 0 only. h = 2: both rows whole.
    for (int h = 0; h <= 2; ++h) {
        Frame16 src(3, 9, 0);
        fill(src.s, kAnySample, rng);
        Frame16 dst = filter(src, h, 5);
        for (int y = 0; y < 3; ++y)
            for (int j = 0; j < 27; ++j)
                ASSERT_EQ(dst.at(y, j), y < h ? src.at(y, j) : kUntouched) << "h " << h << " row " << y;
    }
}

TEST_P(LowpassTier, FramesThatPassUnchanged) {
    // Three rows: row 1 is its own neighbour ten times over; rows 0 and 2 do
    // not feed it.
    Frame16 three(3, 11, 0);
    three.row(0, 32767);
    three.row(2, -32768);
    for (int j = 0; j < 33; ++j) three.at(1, j) = static_cast<int16_t>(-16384 + j * 997 % 32768);
    Frame16 out = filter(three, 3, 11);
    for (int j = 0; j < 33; ++j) ASSERT_EQ(out.at(1, j), three.at(1, j)) << "sample " << j;
    // The taps sum to 32768: a column of x comes out as x, near the clamped
    // top and bottom rows as well as in the middle.
    const int16_t values[] = {-16384, -1, 0, 1, 4096, 16383, -2048, 2048};
    Frame16 flat(24, 13, 0);
    for (int y = 0; y < 24; ++y)
        for (int j = 0; j < 39; ++j) flat.at(y, j) = values[j % 8];
    out = filter(flat, 24, 13);
    ASSERT_EQ(out.s, flat.s);
}

TEST_P(LowpassTier, AlternatingRowsAreNearlyCancelled) {
    // Rows of +A and -A: away from the clamped rows, the half-cycle response
    // of 4/32768 leaves (+-4A + 16384) >> 15 (0 while A < 4096).
    for (int a : {1000, 4095, 8000, 16383}) {
        Frame16 src(30, 7, 0);
        for (int y = 0; y < 30; ++y) src.row(y, y % 2 ? -a : a);
        Frame16 dst = filter(src, 30, 7);
        for (int y = 6; y <= 23; ++y)
            for (int j = 0; j < 21; ++j)
                ASSERT_EQ(dst.at(y, j), expected_q15(int64_t{4} * (y % 2 ? -a : a))) << "A " << a << " row " << y;
        if (a < 4096) {
            EXPECT_EQ(dst.at(10, 0), 0);
        }
    }
}

TEST_P(LowpassTier, PairSumsAndTheOutputSaturate) {
    // Row 6 of 13 sees every offset unclamped.
    for (int sign : {1, -1}) {
        // Two neighbours of +-20000 at offset k make a pair of 32767 /
        // -32768, not +-40000.
        for (int k = 1; k <= 5; ++k) {
            Frame16 src(13, 5, 0);
            src.row(6 - k, sign * 20000);
            src.row(6 + k, sign * 20000);
            const int want = expected_q15(int64_t{LOWPASS_TAPS[k]} * (sign > 0 ? 32767 : -32768));
            ASSERT_NE(want, expected_q15(int64_t{LOWPASS_TAPS[k]} * sign * 40000));
            Frame16 dst = filter(src, 13, 5);
            for (int j = 0; j < 15; ++j) ASSERT_EQ(dst.at(6, j), want) << "k " << k << " sign " << sign;
        }
        // Positive taps on +32767 and negative taps on -32768 (or the other
        // way round) push acc past what 16 bits hold: the result clamps.
        Frame16 src(13, 6, 0);
        for (int k = 0; k <= 5; ++k) {
            const int v = (LOWPASS_TAPS[k] > 0) == (sign > 0) ? 32767 : -32768;
            src.row(6 - k, v);
            src.row(6 + k, v);
        }
        Frame16 dst = filter(src, 13, 6);
        for (int j = 0; j < 18; ++j) ASSERT_EQ(dst.at(6, j), sign > 0 ? 32767 : -32768) << "sign " << sign;
    }
}

TEST_P(LowpassTier, NeighboursClampToTheFilteredRows) {
    // w = 1 by hand: row 2 of 5 has neighbours clamped to rows 1..3, so
    // offsets 1..5 all reach rows 1 and 3.
    Frame16 src(5, 1, 0);
    for (int y = 1; y <= 3; ++y)
        for (int j = 0; j < 3; ++j) src.at(y, j) = static_cast<int16_t>(1000 * y + 100 * j);
    Frame16 dst = filter(src, 5, 1);
    for (int j = 0; j < 3; ++j) {
        int64_t acc = LOWPASS_TAPS[0] * int64_t{src.at(2, j)};
        for (int k = 1; k <= 5; ++k) acc += LOWPASS_TAPS[k] * int64_t{src.at(1, j) + src.at(3, j)};
        EXPECT_EQ(dst.at(2, j), expected_q15(acc)) << "sample " << j;
    }
}

TEST_P(LowpassTier, RowsMatchTheReferenceAtEveryLength) {
    // The row kernel on its own: every sample count 0..100 (not only
    // multiples of 3) at output offsets 0..15 (each alignment), the input rows
    // ending right at the end of their buffers; some rows repeat, as the
    // clamped neighbours do at the frame edges.
    for (int n = 0; n <= 100; ++n)
        for (int offset = 0; offset < 16; offset += 5) {
            std::vector<int16_t> in[11];
            for (auto& r : in) r = random_row<int16_t>(static_cast<size_t>(n + offset), kAnySample, rng);
            if (n % 4 == 1) in[3] = in[1];
            LowpassRows rows{};
            rows.centre = in[0].data() + offset;
            for (int k = 1; k <= 5; ++k) {
                rows.above[k] = in[k].data() + offset;
                rows.below[k] = in[5 + k].data() + offset;
            }
            rows.n = n;
            ASSERT_TRUE(same_output<int16_t>(static_cast<size_t>(n), [&](const LowpassKernels& k, int16_t* out) {
                rows.out = out;
                k.row(&rows);
            }, static_cast<size_t>(offset))) << "n " << n << " offset " << offset;
        }
}

TEST_P(LowpassTier, RandomFramesThroughTheDispatchMatchTheReference) {
    // vertical_lowpass, capped to the tier, against the scalar kernel on
    // every height 0..40 and many widths (w = 0 writes no filtered sample),
    // rows with slack: rows 0 and h-1 are copied whole, columns w .. max_w-1
    // of the rows between keep their content, nothing is written around the
    // frame.
    for (int h = 0; h <= 40; ++h)
        for (int w = 0; w <= 70; w += (h % 3) + 1) {
            const int max_w = w + static_cast<int>(rng() % 10);
            Frame16 src(h, max_w, 0);
            fill(src.s, kAnySample, rng);
            Guarded<int16_t> out(src.s.size(), rng);
            call_ref([&] { vertical_lowpass_with(ref().row, reinterpret_cast<PIXEL_YC*>(out.want()), src.pixels(), h, max_w, w); });
            call_new([&] { vertical_lowpass(reinterpret_cast<PIXEL_YC*>(out.got()), src.pixels(), h, max_w, w); });
            ASSERT_EQ(out.difference(), "") << "h " << h << " w " << w << " max_w " << max_w;
            for (int y = 0; y < h; ++y)
                for (int j = 0; j < 3 * max_w; ++j) {
                    const size_t i = static_cast<size_t>(y) * 3 * max_w + j;
                    const bool whole = y == 0 || y == h - 1;
                    if (whole || j >= 3 * w) {
                        ASSERT_EQ(out.got()[i], whole ? src.s[i] : out.original()[i])
                            << "h " << h << " w " << w << " row " << y << " sample " << j;
                    }
                }
        }
}

PELTA_TIER_TESTS(LowpassTier);

}  // namespace
