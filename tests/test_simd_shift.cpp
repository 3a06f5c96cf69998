// The interpolated field shift at every tier up to the machine's
// (tier_harness.h): whole frames through the dispatch against the scalar
// kernel, and every interior moved row against the Q15 sum of the four taps,
// (acc + 0x4000) >> 15 kept to its low 16 bits, for every window width (every
// tail length) and fraction, and for taps that the packed path leaves to the
// plain loop; then the row kernel against the scalar reference at every
// length.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "abi/controls.h"
#include "window/shift.h"
#include "tier_harness.h"

using namespace pelta;
using namespace tier_harness;

namespace {

class ShiftTier : public KernelTierTest<ShiftKernels, shift_kernels_for> {
protected:
    // TRACK_SHIFT `shift` with `taps` on random frames of samples within
    // -limit-1 .. limit, for window widths 1..21 in both field cases.
    void check_frames(const int32_t taps[4], int shift, int limit);
};

void ShiftTier::check_frames(const int32_t taps[4], int shift, int limit) {
    const Values samples = limit == 32767 ? kAnySample : Values{-limit - 1, limit, {}};
    const int h = 19, q = shift >> 4;
    for (int n = 1; n <= 21; ++n) {
        const int left = n % 4, w = left + n + 1, max_w = w + 2;
        for (int frame = 0; frame < 2; ++frame) {
            int track[TRACK_COUNT] = {}, check[CHECK_COUNT] = {};
            track[TRACK_LEFT] = left;
            track[TRACK_WIDTH] = n;
            track[TRACK_SHIFT] = shift;
            check[CHECK_TFF] = 1;
            FILTER fp{};
            fp.track = track;
            fp.check = check;
            FILTER_PROC_INFO fpip{};
            fpip.w = w, fpip.h = h, fpip.max_w = max_w;
            fpip.frame = frame;  // 1: Case A (even rows move down); 0: Case B
            const size_t size = static_cast<size_t>(max_w) * h;
            const std::vector<PIXEL_YC> src = random_row<PIXEL_YC>(size, samples, rng);
            // The frame through the dispatch (capped to the tier) and with the
            // scalar kernel, edge rows included; nothing written around it.
            Guarded<PIXEL_YC> dst(size, rng);
            call_ref([&] { shift_window_interp_with(&ref(), dst.want(), src.data(), &fp, &fpip, taps); });
            call_new([&] { shift_window_interp(dst.got(), src.data(), &fp, &fpip, taps); });
            ASSERT_EQ(dst.difference(), "") << "shift " << shift << " n " << n << " frame " << frame;
            // Interior moved rows by the formula; unmoved rows and the
            // columns outside the window as they were.
            const int sigma = frame == 1 ? 1 : -1;
            for (int y = 0; y < h; ++y) {
                const bool moved = (y % 2 == 0) == (frame == 1);
                const int f = y + sigma * 2 * q;
                const int rows[4] = {f, f + 2 * sigma, f - 2 * sigma, f + 4 * sigma};
                bool interior = true;
                for (int r : rows) interior = interior && r >= 0 && r < h;
                if (moved && !interior) continue;  // edge rows: the row rules, tested elsewhere
                for (int x = 0; x < max_w; ++x)
                    for (int c = 0; c < 3; ++c) {
                        auto at = [&](const PIXEL_YC* p, int yy) { return (&p[static_cast<size_t>(yy) * max_w + x].y)[c]; };
                        int16_t want;
                        if (x < left || x >= left + n) {
                            want = at(dst.original(), y);
                        } else if (!moved) {
                            want = at(src.data(), y);
                        } else {
                            int64_t acc = 0;
                            for (int k = 0; k < 4; ++k) acc += int64_t{taps[k]} * at(src.data(), rows[k]);
                            want = static_cast<int16_t>(static_cast<uint16_t>((acc + 0x4000) >> 15));
                        }
                        ASSERT_EQ(at(dst.got(), y), want) << "shift " << shift << " n " << n << " frame " << frame
                                                          << " row " << y << " x " << x << " comp " << c;
                    }
            }
        }
    }
}

TEST_P(ShiftTier, EveryFractionOverFullRangeSamples) {
    for (int shift = 1; shift < 48; ++shift) {
        if (shift % 16 == 0) continue;
        int32_t taps[4];
        make_shift_taps(taps, shift);
        check_frames(taps, shift, 32767);
    }
}

// Taps the packed path leaves to the plain loop (tap 0 .. 3 beyond 16 bits,
// or magnitudes adding up past 65535), and taps right at its limit (the
// fifth and seventh: magnitudes adding up to exactly 65535).
const int32_t kOddTaps[][4] = {
    {32768, 0, 0, 0},           {40000, -7232, 0, 0},   {-32769, 65537, 0, 0},       {30000, 30000, 3000, 3000},
    {32767, -32768, 0, 0},      {-32768, -32768, 0, 0}, {20000, 20000, -20000, 5535}, {20000, 20000, -20000, 5536},
};

TEST_P(ShiftTier, TapsBeyondSixteenBitsTakeThePlainPath) {
    // Odd taps with samples small enough that no 32-bit sum overflows; the
    // taps at the limit over the whole sample range, where the sums still fit.
    for (const auto& taps : kOddTaps) check_frames(taps, 5, 4096);
    check_frames(kOddTaps[4], 5, 32767);
    check_frames(kOddTaps[6], 5, 32767);
}

TEST_P(ShiftTier, RowsMatchTheReferenceAtEveryLength) {
    // The row kernel on its own: every sample count 0..100 (every tail after
    // the 16-, 8- and 4-sample steps) at several output offsets, the four
    // source rows in buffers of their own ending right after the run; the
    // taps of every fraction and the odd taps on both sides of the packed
    // limit (samples whose 32-bit sums cannot overflow under them).
    std::vector<std::vector<int32_t>> tap_sets;
    for (int b = 1; b < 16; ++b) {
        int32_t t[4];
        make_shift_taps(t, b);
        tap_sets.push_back({t[0], t[1], t[2], t[3]});
    }
    for (const auto& t : kOddTaps) tap_sets.push_back({t[0], t[1], t[2], t[3]});
    for (const auto& taps : tap_sets) {
        const Values samples = shift_taps_fit_packed(taps.data()) ? kAnySample : Values{-4097, 4096, {}};
        for (int n = 0; n <= 100; ++n)
            for (int offset = 0; offset < 16; offset += 7) {
                std::vector<PIXEL_YC> in[4];
                ShiftRows rows;
                for (int k = 0; k < 4; ++k) {
                    in[k] = random_row<PIXEL_YC>(static_cast<size_t>(n + offset + 2) / 3 + 1, samples, rng);
                    rows.v[k] = reinterpret_cast<const int16_t*>(in[k].data()) + 3 * in[k].size() - n;
                }
                rows.n = n;
                ASSERT_TRUE(same_output<int16_t>(static_cast<size_t>(n), [&](const ShiftKernels& k, int16_t* out) {
                    rows.out = out;
                    k.interp_row(&rows, taps.data());
                }, static_cast<size_t>(offset)))
                    << "n " << n << " offset " << offset << " taps " << taps[0] << " " << taps[1] << " " << taps[2]
                    << " " << taps[3];
            }
    }
}

PELTA_TIER_TESTS(ShiftTier);

}  // namespace
