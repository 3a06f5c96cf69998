// The interpolated field shift's packed arithmetic: on rows whose four source
// rows all lie inside the frame, every output sample is the Q15 sum of the
// four taps, (acc + 0x4000) >> 15 kept to its low 16 bits, over full-range
// samples, for every window width (every tail length) and tap set, with taps
// that the packed path takes and taps that it leaves to the plain loop.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "host/controls.h"
#include "window/shift.h"

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

// Runs the shift with `taps` for TRACK_SHIFT `shift` on random frames and
// checks every interior moved row against the formula and every unmoved
// row against the source.
void check_interior_rows(const int32_t taps[4], int shift, int16_t limit, std::mt19937& rng) {
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
            shift_window_interp(rig.dst.data(), rig.src.data(), &rig.filter, &rig.fpip, taps);
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

TEST(ShiftPacked, EveryFractionOverFullRangeSamples) {
    std::mt19937 rng(0x5f1u);
    for (int shift = 1; shift < 48; ++shift) {
        if (shift % 16 == 0) continue;
        int32_t taps[4];
        make_shift_taps(taps, shift);
        check_interior_rows(taps, shift, 32767, rng);
    }
}

TEST(ShiftPacked, TapsBeyondSixteenBitsTakeThePlainPath) {
    // Taps the 16-bit multipliers cannot hold, or whose magnitudes add up
    // past 65535, with samples small enough that no 32-bit sum overflows.
    std::mt19937 rng(0x5f2u);
    const int32_t sets[][4] = {
        {32768, 0, 0, 0},
        {40000, -7232, 0, 0},
        {-32769, 65537, 0, 0},
        {30000, 30000, 3000, 3000},
        {32767, -32768, 0, 0},
        {-32768, -32768, 0, 0},
        {20000, 20000, -20000, 5535},
    };
    for (const auto& taps : sets) check_interior_rows(taps, 5, 4096, rng);
    // The same taps over the whole sample range, where the sums still fit.
    check_interior_rows(sets[4], 5, 32767, rng);
    check_interior_rows(sets[6], 5, 32767, rng);
}

}  // namespace
