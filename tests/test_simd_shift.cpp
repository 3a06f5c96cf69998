// The interpolated field shift with the row kernel of every tier up to the
// machine's (shift_kernels_for): on rows whose four source rows all lie
// inside the frame, every output sample is the Q15 sum of the four taps,
// (acc + 0x4000) >> 15 kept to its low 16 bits, over full-range samples, for
// every window width (every tail length) and tap set, with taps that the
// packed path takes and taps that it leaves to the plain loop; the row
// kernels against the scalar reference on rows in separate buffers; and the
// dispatch pinned to each tier.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "base/cpu.h"
#include "abi/controls.h"
#include "window/shift.h"
#include "test_simd_tiers.h"

using namespace pelta;

namespace {

constexpr int16_t kExtremes[] = {-32768, 32767, 0, 16384, -16384, 20000, -20000};
constexpr int16_t kUntouched = 0x2B2B;

struct ShiftRig {
    int track[TRACK_COUNT] = {};
    int check[CHECK_COUNT] = {};
    FILTER filter{};
    FILTER_PROC_INFO fpip{};
    std::vector<PIXEL_YC> src, dst;

    ShiftRig(int w, int h, int max_w) {
        filter.track = track;
        filter.check = check;
        fpip.w = w;
        fpip.h = h;
        fpip.max_w = max_w;
        src.resize(static_cast<size_t>(max_w) * h);
        dst.assign(src.size(), PIXEL_YC{kUntouched, kUntouched, kUntouched});
    }
    int16_t at(const std::vector<PIXEL_YC>& f, int x, int y, int comp) const {
        return (&f[static_cast<size_t>(y) * fpip.max_w + x].y)[comp];
    }
};

void fill(std::vector<PIXEL_YC>& v, std::mt19937& rng, int16_t limit) {
    std::uniform_int_distribution<int> sample(-limit - 1, limit);
    std::uniform_int_distribution<int> pick(0, 15);
    std::uniform_int_distribution<int> extreme(0, static_cast<int>(std::size(kExtremes)) - 1);
    for (PIXEL_YC& p : v)
        for (int c = 0; c < 3; ++c) {
            int16_t s = static_cast<int16_t>(sample(rng));
            if (limit == 32767 && pick(rng) < 3) s = kExtremes[extreme(rng)];
            (&p.y)[c] = s;
        }
}

// Runs the shift with `kernels` and `taps` for TRACK_SHIFT `shift` on random
// frames and checks every interior moved row against the formula and every
// unmoved row against the source.
void check_interior_rows(const ShiftKernels& kernels, const int32_t taps[4], int shift,
                         int16_t limit, std::mt19937& rng) {
    const int h = 19;
    for (int n = 1; n <= 21; ++n) {
        const int left = n % 4, w = left + n + 1, max_w = w + 2;
        for (int frame = 0; frame < 2; ++frame) {
            ShiftRig rig(w, h, max_w);
            fill(rig.src, rng, limit);
            rig.track[TRACK_LEFT] = left;
            rig.track[TRACK_WIDTH] = n;
            rig.track[TRACK_SHIFT] = shift;
            rig.check[CHECK_TFF] = 1;
            rig.fpip.frame = frame;  // frame 1: Case A (even rows move down); 0: Case B
            shift_window_interp_with(&kernels, rig.dst.data(), rig.src.data(), &rig.filter,
                                     &rig.fpip, taps);
            const bool case_a = frame == 1;
            const int q = shift >> 4;
            for (int y = 0; y < h; ++y) {
                const bool moved = (y % 2 == 0) == case_a;
                int rows[4];
                if (case_a) {
                    rows[0] = y + 2 * q, rows[1] = y + 2 * q + 2, rows[2] = y + 2 * q - 2,
                    rows[3] = y + 2 * q + 4;
                } else {
                    rows[0] = y - 2 * q, rows[1] = y - 2 * q - 2, rows[2] = y - 2 * q + 2,
                    rows[3] = y - 2 * q - 4;
                }
                bool interior = true;
                for (int r : rows) interior = interior && r >= 0 && r < h;
                if (moved && !interior) continue;  // edge rows: the row rules, tested elsewhere
                for (int x = 0; x < max_w; ++x)
                    for (int c = 0; c < 3; ++c) {
                        int16_t want;
                        if (x < left || x >= left + n) {
                            want = kUntouched;
                        } else if (!moved) {
                            want = rig.at(rig.src, x, y, c);
                        } else {
                            int64_t acc = 0;
                            for (int k = 0; k < 4; ++k)
                                acc += int64_t{taps[k]} * rig.at(rig.src, x, rows[k], c);
                            want =
                                static_cast<int16_t>(static_cast<uint16_t>((acc + 0x4000) >> 15));
                        }
                        ASSERT_EQ(rig.at(rig.dst, x, y, c), want)
                            << "shift " << shift << " n " << n << " frame " << frame << " row " << y
                            << " x " << x << " comp " << c;
                    }
            }
        }
    }
}

// The kernels of one tier and the scalar reference; tiers above the
// machine's are skipped.
class ShiftTier : public SimdTierTest {
protected:
    const ShiftKernels tier = *shift_kernels_for(GetParam());
    const ShiftKernels scalar = *shift_kernels_for(SIMD_SCALAR);
};

TEST_P(ShiftTier, EveryFractionOverFullRangeSamples) {
    std::mt19937 rng(0x5f1u);
    for (int shift = 1; shift < 48; ++shift) {
        if (shift % 16 == 0) continue;
        int32_t taps[4];
        make_shift_taps(taps, shift);
        check_interior_rows(tier, taps, shift, 32767, rng);
    }
}

// Taps the packed path leaves to the plain loop (tap 0 .. 3 beyond 16 bits,
// or magnitudes adding up past 65535), and taps right at its limit (the
// fifth and seventh: magnitudes adding up to exactly 65535).
const int32_t kOddTaps[][4] = {
    {32768, 0, 0, 0},
    {40000, -7232, 0, 0},
    {-32769, 65537, 0, 0},
    {30000, 30000, 3000, 3000},
    {32767, -32768, 0, 0},
    {-32768, -32768, 0, 0},
    {20000, 20000, -20000, 5535},
    {20000, 20000, -20000, 5536},
};

TEST_P(ShiftTier, TapsBeyondSixteenBitsTakeThePlainPath) {
    // Odd taps with samples small enough that no 32-bit sum overflows.
    std::mt19937 rng(0x5f2u);
    for (const auto& taps : kOddTaps) check_interior_rows(tier, taps, 5, 4096, rng);
    // Taps at the limit over the whole sample range, where the sums still fit.
    check_interior_rows(tier, kOddTaps[4], 5, 32767, rng);
    check_interior_rows(tier, kOddTaps[6], 5, 32767, rng);
}

TEST_P(ShiftTier, RandomRowsMatchScalarAtEveryLength) {
    // The row kernel on its own, against the scalar reference: every sample
    // count 0..100 (every tail after the 16-, 8- and 4-sample steps) at
    // several start offsets, the four source rows in buffers of their own
    // ending right after the run, a guard after the output run; the taps of
    // every fraction and the odd taps on both sides of the packed limit.
    std::mt19937 rng(0x5f3u);
    std::vector<std::vector<int32_t>> tap_sets;
    for (int b = 1; b < 16; ++b) {
        int32_t t[4];
        make_shift_taps(t, b);
        tap_sets.push_back({t[0], t[1], t[2], t[3]});
    }
    for (const auto& t : kOddTaps) tap_sets.push_back({t[0], t[1], t[2], t[3]});
    for (const auto& taps : tap_sets) {
        // Samples whose 32-bit sums cannot overflow under these taps.
        const bool fits = shift_taps_fit_packed(taps.data());
        for (int n = 0; n <= 100; ++n) {
            for (int offset = 0; offset < 16; offset += 7) {
                std::vector<PIXEL_YC> in[4];
                ShiftRows rows;
                for (int k = 0; k < 4; ++k) {
                    in[k].resize(static_cast<size_t>(n + offset + 2) / 3 + 1);
                    fill(in[k], rng, fits ? 32767 : 4096);
                    const int16_t* s = reinterpret_cast<const int16_t*>(in[k].data());
                    rows.v[k] = s + 3 * in[k].size() - n;
                }
                std::vector<int16_t> want(static_cast<size_t>(n + offset + 16), kUntouched);
                std::vector<int16_t> got(want);
                rows.n = n;
                rows.out = want.data() + offset;
                scalar.interp_row(&rows, taps.data());
                rows.out = got.data() + offset;
                tier.interp_row(&rows, taps.data());
                ASSERT_EQ(got, want) << "n " << n << " offset " << offset << " taps " << taps[0]
                                     << " " << taps[1] << " " << taps[2] << " " << taps[3];
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tiers, ShiftTier, ::testing::ValuesIn(kSimdTiers), simd_tier_name);

TEST(ShiftDispatch, EveryCapGivesTheScalarResult) {
    // shift_window_interp takes the kernels of simd_level(); pinned to each
    // tier it gives the scalar kernel's frame, edge rows included.
    const int w = 45, h = 23, max_w = 48;
    std::mt19937 rng(0x5f4u);
    for (int shift : {3, 8, 21, 37}) {
        int32_t taps[4];
        make_shift_taps(taps, shift);
        for (int frame = 0; frame < 2; ++frame) {
            ShiftRig rig(w, h, max_w);
            fill(rig.src, rng, 32767);
            rig.track[TRACK_LEFT] = 5;
            rig.track[TRACK_WIDTH] = 37;
            rig.track[TRACK_SHIFT] = shift;
            rig.check[CHECK_TFF] = 1;
            rig.fpip.frame = frame;
            const ShiftKernels scalar = *shift_kernels_for(SIMD_SCALAR);
            shift_window_interp_with(&scalar, rig.dst.data(), rig.src.data(), &rig.filter,
                                     &rig.fpip, taps);
            const std::vector<PIXEL_YC> want = rig.dst;
            for (SimdLevel cap : kSimdTiers) {
                set_simd_cap(cap);
                std::fill(rig.dst.begin(), rig.dst.end(), PIXEL_YC{kUntouched, kUntouched, kUntouched});
                shift_window_interp(rig.dst.data(), rig.src.data(), &rig.filter, &rig.fpip, taps);
                EXPECT_TRUE(std::equal(rig.dst.begin(), rig.dst.end(), want.begin(),
                                       [](const PIXEL_YC& a, const PIXEL_YC& b) {
                                           return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
                                       }))
                    << simd_level_name(cap) << " shift " << shift << " frame " << frame;
            }
            set_simd_cap(SIMD_AVX2);
        }
    }
}

}  // namespace
