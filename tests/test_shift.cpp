// The vertical field shift inside the processing window: interpolation taps,
// whole-line and interpolated moves, the edge rows, the window bounds, and
// the taps cache as the frame procedure keeps it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fake_host.h"
#include "abi/controls.h"
#include "pipeline/filter_proc.h"
#include "window/shift.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>

using namespace pelta;
#define GUARD_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define GUARD_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define GUARD_POISON(p, n) ((void)(p), (void)(n))
#define GUARD_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

using Taps = std::array<int32_t, 4>;

Taps taps_for(int shift) {
    Taps t{};
    make_shift_taps(t.data(), shift);
    return t;
}

// The kernel sinc(pi t) * sinc(pi t / 2) at t = x / 16, normalised over the
// four taps and rounded each by itself, worked out here with the library's pi.
Taps kernel_taps(int b) {
    auto kernel = [](int x) {
        const double t = x * std::numbers::pi / 16.0;
        const double u = x * std::numbers::pi / 32.0;
        return (std::sin(t) / t) * (std::sin(u) / u);
    };
    const double w[4] = {kernel(b), kernel(16 - b), kernel(16 + b), kernel(32 - b)};
    const double sum = w[0] + w[1] + w[2] + w[3];
    Taps t{};
    for (int i = 0; i < 4; ++i) t[i] = static_cast<int32_t>(std::floor(w[i] / sum * 32768.0 + 0.5));
    return t;
}

// The host records the shift operations read, set up directly.
struct Rig {
    int track[TRACK_COUNT] = {};
    int check[CHECK_COUNT] = {};
    FILTER fp{};
    FILTER_PROC_INFO fpip{};

    Rig(int w, int h, int max_w) {
        fp.track = track;
        fp.check = check;
        fpip.w = w;
        fpip.h = h;
        fpip.max_w = max_w;
        fpip.max_h = h;
        window(0, w);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void window(int left, int width) {
        track[TRACK_LEFT] = left;
        track[TRACK_WIDTH] = width;
    }
    // Case A moves the even rows down the frame, Case B the odd rows up.
    // `variant` picks one of the frame / top-field-first combinations giving
    // that case (only bit 0 of the check box counts).
    void field_case(bool case_a, int variant = 0) {
        static const int tff_values[4] = {0, 1, 2, 3};
        const int tff = tff_values[variant & 3];
        check[CHECK_TFF] = tff;
        const int frame = 2 * (variant + 1);
        fpip.frame = case_a ? frame + (tff & 1) : frame + 1 - (tff & 1);
    }

    // What the frame procedure does for the window: the interpolated shift
    // when TRACK_SHIFT has a fraction, else the whole-line one.
    void shift(PIXEL_YC* dst, const PIXEL_YC* src, int s) {
        track[TRACK_SHIFT] = s;
        if (s & 15) {
            const Taps t = taps_for(s);
            shift_window_interp(dst, src, &fp, &fpip, t.data());
        } else {
            shift_window_whole(dst, src, &fp, &fpip);
        }
    }
};

int16_t sample(const PIXEL_YC& p, int k) { return k == 0 ? p.y : k == 1 ? p.cb : p.cr; }
void set_sample(PIXEL_YC& p, int k, int v) {
    const int16_t s = static_cast<int16_t>(v);
    if (k == 0)
        p.y = s;
    else if (k == 1)
        p.cb = s;
    else
        p.cr = s;
}

// The window as it must come out: every window pixel of dst worked out from
// src one sample at a time. A single-row frame in Case A keeps its row as it
// stands in src (there is no row of the other field to average).
std::vector<PIXEL_YC> expected_shift(const std::vector<PIXEL_YC>& dst_before, const PIXEL_YC* src, int w,
                                     int h, int max_w, int left, int width, int s, bool case_a) {
    std::vector<PIXEL_YC> out = dst_before;
    if (left < 0 || left >= w) return out;
    const int right = std::clamp(left + width, 0, w);
    const int sigma = case_a ? 1 : -1;
    const int moved = case_a ? 0 : 1;
    const Taps taps = kernel_taps(s & 15);
    auto v = [&](int row, int x, int k) -> int64_t { return sample(src[row * max_w + x], k); };
    for (int y = 0; y < h; ++y) {
        for (int x = left; x < right; ++x) {
            for (int k = 0; k < 3; ++k) {
                int64_t value = 0;
                bool average = false;
                if (y % 2 != moved) {
                    value = v(y, x, k);
                } else if (s % 16 == 0) {
                    const int r = y + sigma * 2 * (s / 16);
                    if (r >= 0 && r < h)
                        value = v(r, x, k);
                    else
                        average = true;
                } else {
                    const int q = s / 16;
                    const int F = y + sigma * (2 * q + 2);
                    if (F < 0 || F >= h) {
                        average = true;
                    } else {
                        int rows[4] = {F - 2 * sigma, F, F - 4 * sigma, F + 2 * sigma};
                        int64_t acc = 0;
                        for (int i = 0; i < 4; ++i) {
                            while (rows[i] < 0 || rows[i] >= h) rows[i] += rows[i] < F ? 2 : -2;
                            acc += taps[i] * v(rows[i], x, k);
                        }
                        value = (acc + 0x4000) >> 15;
                    }
                }
                if (average) {
                    const int up = y == 0 ? y + 1 : y - 1;
                    const int down = y + 1 == h ? y - 1 : y + 1;
                    if (h == 1)
                        value = v(0, x, k);
                    else
                        value = (v(up, x, k) + v(down, x, k) + 1) / 2;
                }
                set_sample(out[y * max_w + x], k, static_cast<int>(value));
            }
        }
    }
    return out;
}

std::string where(size_t i, int max_w) {
    return "row " + std::to_string(i / max_w) + " column " + std::to_string(i % max_w);
}

// Index of the first pixel that differs, or -1.
long first_difference(const std::vector<PIXEL_YC>& a, const PIXEL_YC* b) {
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].y != b[i].y || a[i].cb != b[i].cb || a[i].cr != b[i].cr) return static_cast<long>(i);
    return -1;
}

// A frame of max_w * h pixels with guard zones on both sides holding a
// marker. Under AddressSanitizer the guards are poisoned as well, so a read
// of them is reported where it happens.
class GuardedFrame {
public:
    static constexpr size_t kGuard = 64;  // pixels on each side; 384 bytes, a multiple of 8

    GuardedFrame(size_t pixels, PIXEL_YC guard) : pixels_(pixels), buf_(pixels + 2 * kGuard) {
        set_guards(guard);
    }
    ~GuardedFrame() { GUARD_UNPOISON(buf_.data(), buf_.size() * sizeof(PIXEL_YC)); }
    GuardedFrame(const GuardedFrame&) = delete;
    GuardedFrame& operator=(const GuardedFrame&) = delete;

    PIXEL_YC* data() { return buf_.data() + kGuard; }
    size_t size() const { return pixels_; }
    std::vector<PIXEL_YC> contents() const {
        return std::vector<PIXEL_YC>(buf_.begin() + kGuard, buf_.begin() + kGuard + pixels_);
    }
    void load(const std::vector<PIXEL_YC>& v) { std::copy(v.begin(), v.end(), data()); }

    void set_guards(PIXEL_YC g) {
        unpoison();
        for (size_t i = 0; i < kGuard; ++i) buf_[i] = buf_[kGuard + pixels_ + i] = g;
        poison();
    }
    bool guards_hold(PIXEL_YC g) {
        unpoison();
        bool ok = true;
        for (size_t i = 0; i < kGuard; ++i) {
            const PIXEL_YC& a = buf_[i];
            const PIXEL_YC& b = buf_[kGuard + pixels_ + i];
            ok = ok && a.y == g.y && a.cb == g.cb && a.cr == g.cr && b.y == g.y && b.cb == g.cb && b.cr == g.cr;
        }
        poison();
        return ok;
    }

private:
    void poison() {
        GUARD_POISON(buf_.data(), kGuard * sizeof(PIXEL_YC));
        GUARD_POISON(buf_.data() + kGuard + pixels_, kGuard * sizeof(PIXEL_YC));
    }
    void unpoison() { GUARD_UNPOISON(buf_.data(), buf_.size() * sizeof(PIXEL_YC)); }

    size_t pixels_;
    std::vector<PIXEL_YC> buf_;
};

std::vector<PIXEL_YC> random_frame(std::mt19937& rng, size_t pixels, bool nominal) {
    std::uniform_int_distribution<int> luma(nominal ? 0 : -32768, nominal ? 4096 : 32767);
    std::uniform_int_distribution<int> chroma(nominal ? -2048 : -32768, nominal ? 2048 : 32767);
    std::vector<PIXEL_YC> f(pixels);
    for (PIXEL_YC& p : f) p = px(luma(rng), chroma(rng), chroma(rng));
    return f;
}

// ---------------------------------------------------------------- taps

TEST(ShiftTaps, KnownTapSets) {
    EXPECT_EQ(taps_for(1), (Taps{32477, 1466, -1141, -34}));
    EXPECT_EQ(taps_for(4), (Taps{28462, 7635, -2749, -581}));
    EXPECT_EQ(taps_for(8), (Taps{18432, 18432, -2048, -2048}));
    EXPECT_EQ(taps_for(15), (Taps{1466, 32477, -34, -1141}));
    EXPECT_EQ(taps_for(17), taps_for(1));
}

TEST(ShiftTaps, EveryFractionFollowsTheKernel) {
    for (int b = 1; b <= 15; ++b) {
        const Taps t = taps_for(b);
        EXPECT_EQ(t, kernel_taps(b)) << "fraction " << b;
        // Only the fraction counts.
        for (int s = b + 16; s <= 256; s += 16) EXPECT_EQ(taps_for(s), t) << "TRACK_SHIFT " << s;
        // Nearer and farther rows swap roles at 16 - b.
        const Taps m = taps_for(16 - b);
        EXPECT_EQ(m, (Taps{t[1], t[0], t[3], t[2]})) << "fraction " << b;
        EXPECT_GT(t[0], 0);
        EXPECT_GT(t[1], 0);
        EXPECT_LT(t[2], 0);
        EXPECT_LT(t[3], 0);
        const int sum = t[0] + t[1] + t[2] + t[3];
        EXPECT_EQ(sum, (b == 4 || b == 12) ? 32767 : 32768) << "fraction " << b;
    }
}

// ---------------------------------------------------------------- whole-line and interpolated moves

// Luma 1000 + y * y names the source row of a copy; the square keeps the
// average of two neighbours apart from the row between them.
std::vector<PIXEL_YC> numbered_rows(int h, int max_w) {
    std::vector<PIXEL_YC> f(static_cast<size_t>(h) * max_w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < max_w; ++x) f[static_cast<size_t>(y) * max_w + x] = px(1000 + y * y, y - 20, x - 3);
    return f;
}

TEST(ShiftWhole, ZeroShiftCopiesTheWindowExactly) {
    std::mt19937 rng(7);
    for (int h : {1, 2, 5, 10}) {
        for (bool a : {true, false}) {
            Rig rig(9, h, 12);
            rig.field_case(a);
            rig.window(2, 5);
            const auto src = random_frame(rng, 12 * h, false);
            auto dst = random_frame(rng, 12 * h, false);
            auto expected = dst;
            for (int y = 0; y < h; ++y)
                for (int x = 2; x < 7; ++x) expected[y * 12 + x] = src[y * 12 + x];
            rig.shift(dst.data(), src.data(), 0);
            EXPECT_EQ(first_difference(expected, dst.data()), -1) << "h " << h << (a ? " Case A" : " Case B");
        }
    }
}

TEST(ShiftWhole, SixteenMovesByTwoRows) {
    const int h = 8, w = 4, mw = 4;
    const auto src = numbered_rows(h, mw);
    {
        Rig rig(w, h, mw);
        rig.field_case(true);
        std::vector<PIXEL_YC> dst(h * mw, px(-1, -1, -1));
        rig.shift(dst.data(), src.data(), 16);
        for (int y : {0, 2, 4}) EXPECT_EQ(dst[y * mw + 1].y, 1000 + (y + 2) * (y + 2)) << "Case A row " << y;
        for (int y : {1, 3, 5, 7}) EXPECT_EQ(dst[y * mw + 1].y, 1000 + y * y) << "Case A row " << y;
        // Row 6 has no row 8: the average of rows 5 and 7.
        EXPECT_EQ(dst[6 * mw + 1].y, 1037);  // (1025 + 1049 + 1) / 2
        EXPECT_EQ(dst[6 * mw + 1].cb, -13);  // (-15 + -13 + 1) / 2 = -13.5 truncated
    }
    {
        Rig rig(w, h, mw);
        rig.field_case(false);
        std::vector<PIXEL_YC> dst(h * mw, px(-1, -1, -1));
        rig.shift(dst.data(), src.data(), 16);
        for (int y : {3, 5, 7}) EXPECT_EQ(dst[y * mw + 2].y, 1000 + (y - 2) * (y - 2)) << "Case B row " << y;
        for (int y : {0, 2, 4, 6}) EXPECT_EQ(dst[y * mw + 2].y, 1000 + y * y) << "Case B row " << y;
        EXPECT_EQ(dst[1 * mw + 2].y, 1002);  // (1000 + 1004 + 1) / 2
        EXPECT_EQ(dst[1 * mw + 2].cb, -18);  // (-20 + -18 + 1) / 2 = -18.5 truncated
    }
}

TEST(ShiftWhole, MaximumShiftAveragesEveryRowWithoutASource) {
    for (int h : {40, 32, 33}) {
        const int mw = 3;
        const auto src = numbered_rows(h, mw);
        for (bool a : {true, false}) {
            Rig rig(mw, h, mw);
            rig.field_case(a);
            std::vector<PIXEL_YC> dst(h * mw, px(-1, -1, -1));
            rig.shift(dst.data(), src.data(), 256);
            for (int y = a ? 0 : 1; y < h; y += 2) {
                const int from = a ? y + 32 : y - 32;
                const int got = dst[y * mw].y;
                if (from >= 0 && from < h) {
                    EXPECT_EQ(got, 1000 + from * from) << "h " << h << " row " << y;
                } else {
                    const int up = y == 0 ? 1 : y - 1;
                    const int down = y + 1 == h ? y - 1 : y + 1;
                    EXPECT_EQ(got, (2000 + up * up + down * down + 1) / 2) << "h " << h << " row " << y;
                }
            }
        }
    }
}

TEST(ShiftLineAverage, RoundsHalfUpAndTruncatesTowardZero) {
    // Case A, h = 6: row 4 has no source for a move of 16 (row 6) nor for any
    // fraction (F = 6); it takes rows 3 and 5.
    const int h = 6, mw = 3;
    for (int s : {16, 5, 8, 15}) {
        std::vector<PIXEL_YC> src(h * mw, px(50, 50, 50));
        for (int x = 0; x < mw; ++x) {
            src[3 * mw + x] = px(3, -3, -2);
            src[5 * mw + x] = px(4, -4, -2);
        }
        Rig rig(mw, h, mw);
        rig.field_case(true);
        std::vector<PIXEL_YC> dst(h * mw, px(0, 0, 0));
        rig.shift(dst.data(), src.data(), s);
        for (int x = 0; x < mw; ++x) {
            EXPECT_EQ(dst[4 * mw + x].y, 4) << "3 and 4, TRACK_SHIFT " << s;
            EXPECT_EQ(dst[4 * mw + x].cb, -3) << "-3 and -4, TRACK_SHIFT " << s;
            EXPECT_EQ(dst[4 * mw + x].cr, -1) << "-2 and -2, TRACK_SHIFT " << s;
        }
    }
}

TEST(ShiftInterp, CaseATopRowWeightsAtHalfALine) {
    // TRACK_SHIFT 8: row 0 weighs row 0 with 16384 (taps 0 and 2), row 2
    // with 18432 and row 4 with -2048.
    const int h = 8, mw = 2;
    std::vector<PIXEL_YC> src(h * mw, px(0, 0, 0));
    const PIXEL_YC r0 = px(1000, -700, 301), r2 = px(3000, 1200, -55), r4 = px(40, 2000, -2048);
    const PIXEL_YC r6 = px(4096, -2048, 2048);
    for (int x = 0; x < mw; ++x) {
        src[0 * mw + x] = r0;
        src[2 * mw + x] = r2;
        src[4 * mw + x] = r4;
        src[6 * mw + x] = r6;
    }
    Rig rig(mw, h, mw);
    rig.field_case(true);
    std::vector<PIXEL_YC> dst(h * mw, px(0, 0, 0));
    rig.shift(dst.data(), src.data(), 8);
    for (int k = 0; k < 3; ++k) {
        const int expected = (16384 * sample(r0, k) + 18432 * sample(r2, k) - 2048 * sample(r4, k) + 0x4000) >> 15;
        EXPECT_EQ(sample(dst[0], k), expected) << "sample " << k;
    }
    // Row 2 has all four rows inside: 0, 2, 4, 6 with the plain taps.
    for (int k = 0; k < 3; ++k) {
        const int expected = (18432 * sample(r2, k) + 18432 * sample(r4, k) - 2048 * sample(r0, k) -
                              2048 * sample(r6, k) + 0x4000) >> 15;
        EXPECT_EQ(sample(dst[2 * mw], k), expected) << "sample " << k;
    }
}

TEST(ShiftInterp, EdgeRowsInBothCases) {
    const int mw = 1;
    std::mt19937 rng(11);
    for (int b = 1; b <= 15; ++b) {
        const Taps t = kernel_taps(b);
        auto mix = [&](int64_t w0, int64_t v0, int64_t w1, int64_t v1, int64_t w2, int64_t v2, int64_t w3,
                       int64_t v3) { return static_cast<int>((w0 * v0 + w1 * v1 + w2 * v2 + w3 * v3 + 0x4000) >> 15); };
        // Case A, h = 8: row 4 takes row 2 (tap 2), row 4 (tap 0) and row 6
        // with taps 1 and 3 (row 8 is outside); row 6 is an average.
        {
            const int h = 8;
            const auto src = random_frame(rng, h * mw, true);
            Rig rig(mw, h, mw);
            rig.field_case(true, b & 3);
            std::vector<PIXEL_YC> dst(h * mw, px(0, 0, 0));
            rig.shift(dst.data(), src.data(), b);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(sample(dst[4], k), mix(t[0], sample(src[4], k), t[1] + t[3], sample(src[6], k), t[2],
                                                 sample(src[2], k), 0, 0))
                    << "Case A row 4, fraction " << b;
                EXPECT_EQ(sample(dst[6], k), (sample(src[5], k) + sample(src[7], k) + 1) / 2)
                    << "Case A row 6, fraction " << b;
                EXPECT_EQ(sample(dst[0], k), mix(t[0] + t[2], sample(src[0], k), t[1], sample(src[2], k), t[3],
                                                 sample(src[4], k), 0, 0))
                    << "Case A row 0, fraction " << b;
            }
        }
        // Case B, h = 8: row 1 is an average of rows 0 and 2; row 3 weighs
        // row 3 with tap 0, row 5 with tap 2 and row 1 with taps 1 and 3;
        // row 7 weighs row 7 with taps 0 and 2 (row 9 is outside).
        {
            const int h = 8;
            const auto src = random_frame(rng, h * mw, true);
            Rig rig(mw, h, mw);
            rig.field_case(false, b & 3);
            std::vector<PIXEL_YC> dst(h * mw, px(0, 0, 0));
            rig.shift(dst.data(), src.data(), b);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(sample(dst[1], k), (sample(src[0], k) + sample(src[2], k) + 1) / 2)
                    << "Case B row 1, fraction " << b;
                EXPECT_EQ(sample(dst[3], k), mix(t[0], sample(src[3], k), t[1] + t[3], sample(src[1], k), t[2],
                                                 sample(src[5], k), 0, 0))
                    << "Case B row 3, fraction " << b;
                EXPECT_EQ(sample(dst[5], k), mix(t[0], sample(src[5], k), t[1], sample(src[3], k), t[2],
                                                 sample(src[7], k), t[3], sample(src[1], k)))
                    << "Case B row 5, fraction " << b;
                EXPECT_EQ(sample(dst[7], k), mix(t[0] + t[2], sample(src[7], k), t[1], sample(src[5], k), t[3],
                                                 sample(src[3], k), 0, 0))
                    << "Case B row 7, fraction " << b;
            }
        }
    }
}

TEST(ShiftInterp, WholeLinesPlusAFraction) {
    // TRACK_SHIFT 37 = 2 lines + 5/16: Case A row 2 samples between rows 6
    // (tap 0) and 8 (tap 1), with rows 4 and 10 beyond.
    const int h = 14, mw = 1;
    std::mt19937 rng(5);
    const auto src = random_frame(rng, h, true);
    const Taps t = kernel_taps(5);
    Rig rig(mw, h, mw);
    rig.field_case(true);
    std::vector<PIXEL_YC> dst(h, px(0, 0, 0));
    rig.shift(dst.data(), src.data(), 37);
    for (int k = 0; k < 3; ++k) {
        const int64_t acc = t[0] * int64_t{sample(src[6], k)} + t[1] * int64_t{sample(src[8], k)} +
                            t[2] * int64_t{sample(src[4], k)} + t[3] * int64_t{sample(src[10], k)};
        EXPECT_EQ(sample(dst[2], k), (acc + 0x4000) >> 15);
    }
    // Case B row 11 samples between rows 7 (tap 0) and 5 (tap 1), with 9 and 3.
    rig.field_case(false);
    rig.shift(dst.data(), src.data(), 37);
    for (int k = 0; k < 3; ++k) {
        const int64_t acc = t[0] * int64_t{sample(src[7], k)} + t[1] * int64_t{sample(src[5], k)} +
                            t[2] * int64_t{sample(src[9], k)} + t[3] * int64_t{sample(src[3], k)};
        EXPECT_EQ(sample(dst[11], k), (acc + 0x4000) >> 15);
    }
}

TEST(ShiftInterp, ResultsAreNotClamped) {
    // Row 0 of Case A at TRACK_SHIFT 8: 16384 * 4096 + 18432 * 4096 - 2048 * 0
    // is 4352 after the shift, past the nominal luma range.
    const int h = 6, mw = 1;
    std::vector<PIXEL_YC> src(h, px(0, 0, 0));
    src[0] = src[2] = px(4096, 2048, -2048);
    src[4] = px(0, -2048, 2048);
    Rig rig(mw, h, mw);
    rig.field_case(true);
    std::vector<PIXEL_YC> dst(h, px(0, 0, 0));
    rig.shift(dst.data(), src.data(), 8);
    EXPECT_EQ(dst[0].y, 4352);
    EXPECT_EQ(dst[0].cb, 2304);
    EXPECT_EQ(dst[0].cr, -2304);
}

TEST(ShiftInterp, EqualSamplesComeOutUnchanged) {
    // Every value of the nominal ranges, one per sample, in every row.
    const int w = 2049, h = 12;
    std::vector<PIXEL_YC> src(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) src[static_cast<size_t>(y) * w + x] = px(x * 2, x - 2048, std::min(x * 2, 4096) - 2048);
    for (int s = 1; s < 256; ++s) {
        if ((s & 15) == 0) continue;
        for (bool a : {true, false}) {
            Rig rig(w, h, w);
            rig.field_case(a);
            std::vector<PIXEL_YC> dst(src.size(), px(0, 0, 0));
            rig.shift(dst.data(), src.data(), s);
            const int q = s >> 4;
            for (int y = a ? 0 : 1; y < h; y += 2) {
                const int F = a ? y + 2 * q + 2 : y - 2 * q - 2;
                if (F < 0 || F >= h) continue;  // an average, not an interpolation
                const long d = first_difference(std::vector<PIXEL_YC>(src.begin() + y * w, src.begin() + (y + 1) * w),
                                                dst.data() + static_cast<size_t>(y) * w);
                ASSERT_EQ(d, -1) << "TRACK_SHIFT " << s << (a ? " Case A" : " Case B") << " row " << y
                                 << " column " << d;
            }
        }
    }
}

TEST(ShiftProperty, RampMovesSteadilyWithTheShift) {
    // Luma 100 * row: away from the edges the output is within 7 of
    // 100 * (y + sigma * s / 8) and moves one way only as s grows.
    const int h = 80, mw = 2;
    std::vector<PIXEL_YC> src(h * mw);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < mw; ++x) src[y * mw + x] = px(100 * y, 0, 0);
    for (bool a : {true, false}) {
        const int sigma = a ? 1 : -1;
        // inside[s][y]: no source row of row y was moved or missing at s.
        std::vector<std::vector<int>> out(257, std::vector<int>(h, 0));
        std::vector<std::vector<bool>> inside(257, std::vector<bool>(h, false));
        for (int s = 0; s <= 256; ++s) {
            Rig rig(mw, h, mw);
            rig.field_case(a, s & 3);
            std::vector<PIXEL_YC> dst(h * mw, px(-1, -1, -1));
            rig.shift(dst.data(), src.data(), s);
            for (int y = a ? 0 : 1; y < h; y += 2) {
                out[s][y] = dst[y * mw + 1].y;
                bool ok;
                if (s % 16 == 0) {
                    const int r = y + sigma * (s / 8);
                    ok = r >= 0 && r < h;
                } else {
                    const int F = y + sigma * (2 * (s / 16) + 2);
                    const int lo = std::min(F - 4 * sigma, F + 2 * sigma), hi = std::max(F - 4 * sigma, F + 2 * sigma);
                    ok = lo >= 0 && hi < h;
                }
                inside[s][y] = ok;
                if (!ok) continue;
                const double ideal = 100.0 * (y + sigma * s / 8.0);
                EXPECT_LE(std::abs(out[s][y] - ideal), 7.0) << "TRACK_SHIFT " << s << " row " << y;
                EXPECT_EQ(dst[y * mw].y, out[s][y]);
            }
        }
        int compared = 0;
        for (int s = 0; s < 256; ++s) {
            for (int y = a ? 0 : 1; y < h; y += 2) {
                if (!inside[s][y] || !inside[s + 1][y]) continue;
                ++compared;
                if (a)
                    EXPECT_GT(out[s + 1][y], out[s][y]) << "Case A row " << y << " TRACK_SHIFT " << s << " to " << s + 1;
                else
                    EXPECT_LT(out[s + 1][y], out[s][y]) << "Case B row " << y << " TRACK_SHIFT " << s << " to " << s + 1;
            }
        }
        EXPECT_GT(compared, 256 * 10);
    }
}

// ---------------------------------------------------------------- short frames

TEST(ShiftShortFrames, TwoRowsAverageTheOneRowOfTheOtherField) {
    // h = 2: the average takes the single row of the unmoved field twice;
    // samples of 0 or more stay, negative ones come out one higher.
    const int mw = 4;
    std::vector<PIXEL_YC> src(2 * mw);
    src[0] = px(100, -7, 0);
    src[1] = px(0, -1, 2048);
    src[2] = px(-3, 5, -2048);
    src[3] = px(4096, -2048, 1);
    src[4] = px(9, 9, 9);
    src[5] = px(8, 8, 8);
    src[6] = px(7, 7, 7);
    src[7] = px(6, 6, 6);
    for (int s : {16, 1, 8, 200, 256}) {
        for (bool a : {true, false}) {
            Rig rig(mw, 2, mw);
            rig.field_case(a);
            std::vector<PIXEL_YC> dst(2 * mw, px(1, 1, 1));
            rig.shift(dst.data(), src.data(), s);
            const int moved = a ? 0 : 1, kept = 1 - moved;
            for (int x = 0; x < mw; ++x) {
                for (int k = 0; k < 3; ++k) {
                    const int v = sample(src[kept * mw + x], k);
                    EXPECT_EQ(sample(dst[moved * mw + x], k), v >= 0 ? v : v + 1)
                        << "TRACK_SHIFT " << s << (a ? " Case A" : " Case B") << " column " << x;
                    EXPECT_EQ(sample(dst[kept * mw + x], k), v);
                }
            }
        }
    }
}

TEST(ShiftShortFrames, OddHeightLastRowAveragesTheRowAbove) {
    for (int h : {3, 5, 7, 9}) {
        const int mw = 2;
        std::mt19937 rng(h);
        const auto src = random_frame(rng, h * mw, true);
        for (int s : {5, 16, 9, 32}) {
            Rig rig(mw, h, mw);
            rig.field_case(true);
            std::vector<PIXEL_YC> dst(h * mw, px(0, 0, 0));
            rig.shift(dst.data(), src.data(), s);
            for (int x = 0; x < mw; ++x)
                for (int k = 0; k < 3; ++k) {
                    const int v = sample(src[(h - 2) * mw + x], k);
                    EXPECT_EQ(sample(dst[(h - 1) * mw + x], k), v >= 0 ? v : v + 1) << "h " << h << " TRACK_SHIFT " << s;
                }
        }
    }
}

TEST(ShiftShortFrames, SingleRowKeepsItsPictureAndReadsNothingElse) {
    // h = 1 in Case A with a shift: there is no row of the other field, so
    // row 0 keeps the window as it stands in the source frame.
    const int w = 6, mw = 8;
    std::mt19937 rng(3);
    const auto pic = random_frame(rng, mw, false);
    for (int s : {1, 8, 15, 16, 17, 100, 256}) {
        for (bool a : {true, false}) {
            GuardedFrame src(mw, px(0x5A5A, 0x5A5A, 0x5A5A));
            GuardedFrame dst(mw, px(-0x5A5B, -0x5A5B, -0x5A5B));
            src.load(pic);
            dst.load(std::vector<PIXEL_YC>(mw, px(77, 77, 77)));
            Rig rig(w, 1, mw);
            rig.field_case(a);
            rig.window(1, 4);
            rig.shift(dst.data(), src.data(), s);
            const auto got = dst.contents();
            for (int x = 0; x < mw; ++x) {
                const PIXEL_YC e = (x >= 1 && x < 5) ? pic[x] : px(77, 77, 77);
                EXPECT_TRUE(got[x].y == e.y && got[x].cb == e.cb && got[x].cr == e.cr)
                    << "TRACK_SHIFT " << s << (a ? " Case A" : " Case B") << " column " << x;
            }
            EXPECT_TRUE(src.guards_hold(px(0x5A5A, 0x5A5A, 0x5A5A)));
            EXPECT_TRUE(dst.guards_hold(px(-0x5A5B, -0x5A5B, -0x5A5B)));
        }
    }
}

// ---------------------------------------------------------------- window bounds

TEST(ShiftWindow, ColumnsOutsideTheWindowAreNeverWritten) {
    const int w = 20, mw = 23, h = 10;
    std::mt19937 rng(17);
    const auto src = random_frame(rng, mw * h, true);
    for (int s = 0; s <= 256; s += 3) {
        for (bool a : {true, false}) {
            Rig rig(w, h, mw);
            rig.field_case(a);
            rig.window(6, 7);
            std::vector<PIXEL_YC> dst(mw * h, px(0x1234, 0x1234, 0x1234));
            rig.shift(dst.data(), src.data(), s);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < mw; ++x) {
                    const bool in = x >= 6 && x < 13;
                    const PIXEL_YC& p = dst[y * mw + x];
                    const bool marker = p.y == 0x1234 && p.cb == 0x1234 && p.cr == 0x1234;
                    EXPECT_TRUE(in || marker) << "TRACK_SHIFT " << s << " row " << y << " column " << x;
                }
            // Every window pixel was written.
            for (int y = 0; y < h; ++y)
                for (int x = 6; x < 13; ++x) EXPECT_NE(dst[y * mw + x].y, 0x1234) << "TRACK_SHIFT " << s;
        }
    }
}

TEST(ShiftWindow, EmptyOrOutsideWindowLeavesTheDestinationAlone) {
    const int w = 12, mw = 15, h = 8;
    std::mt19937 rng(23);
    const auto src = random_frame(rng, mw * h, true);
    const auto before = random_frame(rng, mw * h, true);
    struct Win {
        int left, width;
    };
    for (Win win : {Win{4, 0}, Win{0, 0}, Win{12, 5}, Win{13, 1}, Win{200, 320}, Win{-1, 5}, Win{5, -2}}) {
        for (int s : {0, 16, 7, 256, 255}) {
            for (bool a : {true, false}) {
                Rig rig(w, h, mw);
                rig.field_case(a);
                rig.window(win.left, win.width);
                auto dst = before;
                rig.shift(dst.data(), src.data(), s);
                EXPECT_EQ(first_difference(before, dst.data()), -1)
                    << "left " << win.left << " width " << win.width << " TRACK_SHIFT " << s;
            }
        }
    }
}

TEST(ShiftWindow, WindowPastTheRightEdgeIsCutAtTheWidth) {
    const int w = 12, mw = 16, h = 6;
    std::mt19937 rng(29);
    const auto src = random_frame(rng, mw * h, true);
    for (int s : {0, 16, 3, 8}) {
        Rig rig(w, h, mw);
        rig.field_case(s & 1);
        rig.window(9, 100);
        std::vector<PIXEL_YC> dst(mw * h, px(0x4321, 0x4321, 0x4321));
        rig.shift(dst.data(), src.data(), s);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < mw; ++x) {
                const bool written = dst[y * mw + x].y != 0x4321;
                EXPECT_EQ(written, x >= 9 && x < 12) << "TRACK_SHIFT " << s << " row " << y << " column " << x;
            }
        }
    }
}

// ---------------------------------------------------------------- every height, window and shift

TEST(ShiftProperty, StaysInsideBothFramesAndMatchesTheRowRules) {
    const int w = 8, mw = 11;
    const PIXEL_YC guard1 = px(0x5A5A, -0x5A5B, 0x2D2D), guard2 = px(-0x7001, 0x6EEE, -0x1111);
    struct Win {
        int left, width;
    };
    const Win windows[] = {{0, 8}, {0, 0}, {3, 2}, {5, 100}, {7, 1}, {8, 4}, {-1, 5}, {2, -3}, {0, 320}};
    std::mt19937 rng(101);
    for (int h = 0; h <= 12; ++h) {
        const size_t n = static_cast<size_t>(mw) * h;
        const bool nominal = h % 2 == 0;
        const auto src_pic = random_frame(rng, n, nominal);
        const auto dst_pic = random_frame(rng, n, nominal);
        // The same picture with other values in the columns beyond w.
        auto src_pic2 = src_pic;
        for (int y = 0; y < h; ++y)
            for (int x = w; x < mw; ++x) src_pic2[y * mw + x] = px(-32768, 32767, -32768);
        for (int variant = 0; variant < 4; ++variant) {
            for (bool a : {true, false}) {
                for (const Win& win : windows) {
                    for (int s = 0; s <= 256; ++s) {
                        GuardedFrame src(n, guard1), dst(n, guard2);
                        src.load(src_pic);
                        dst.load(dst_pic);
                        Rig rig(w, h, mw);
                        rig.field_case(a, variant);
                        rig.window(win.left, win.width);
                        rig.shift(dst.data(), src.data(), s);
                        const auto got = dst.contents();
                        const auto expected = expected_shift(dst_pic, src_pic.data(), w, h, mw, win.left, win.width, s, a);
                        const long d = first_difference(expected, got.data());
                        ASSERT_EQ(d, -1) << "h " << h << (a ? " Case A" : " Case B") << " left " << win.left
                                         << " width " << win.width << " TRACK_SHIFT " << s << " at "
                                         << where(d < 0 ? 0 : d, mw);
                        ASSERT_TRUE(src.guards_hold(guard1)) << "h " << h << " TRACK_SHIFT " << s;
                        ASSERT_TRUE(dst.guards_hold(guard2)) << "h " << h << " TRACK_SHIFT " << s << " wrote outside";

                        // Other guards and other columns beyond w: the same result.
                        GuardedFrame src2(n, guard2), dst2(n, guard1);
                        src2.load(src_pic2);
                        dst2.load(dst_pic);
                        rig.shift(dst2.data(), src2.data(), s);
                        ASSERT_EQ(first_difference(got, dst2.data()), -1)
                            << "h " << h << " TRACK_SHIFT " << s << ": result depends on memory outside the picture";
                        ASSERT_TRUE(dst2.guards_hold(guard1));
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------- inside the frame procedure

class ShiftInPipeline : public ::testing::Test {
protected:
    // The taps are module state; tests below mark them to see whether they
    // were rebuilt. Put back the true taps for the current key afterwards.
    void TearDown() override {
        const int32_t key = filter_shift_taps_key();
        if (key & 15) make_shift_taps(taps(), key);
    }
    static int32_t* taps() { return const_cast<int32_t*>(filter_shift_taps()); }
    static Taps current() {
        const int32_t* t = filter_shift_taps();
        return Taps{t[0], t[1], t[2], t[3]};
    }
    static void mark() {
        int32_t* t = taps();
        t[0] = 11;
        t[1] = 22;
        t[2] = 33;
        t[3] = 44;
    }
    static bool marked() { return current() == Taps{11, 22, 33, 44}; }

    static void setup(FakeHost& host) {
        host.check[CHECK_LPF] = 0;
        host.track[TRACK_LEFT] = 4;
        host.track[TRACK_WIDTH] = 8;
    }
};

TEST_F(ShiftInPipeline, WholeLineShiftLeavesTapsAndKeyAlone) {
    FakeHost host(24, 12, 8);
    setup(host);
    host.track[TRACK_SHIFT] = 5;
    ASSERT_TRUE(host.run(2));
    EXPECT_EQ(filter_shift_taps_key(), 5);
    EXPECT_EQ(current(), taps_for(5));
    mark();
    host.track[TRACK_SHIFT] = 16;
    ASSERT_TRUE(host.run(3));
    EXPECT_EQ(filter_shift_taps_key(), 5);
    EXPECT_TRUE(marked()) << "a whole-line shift rebuilt the taps";
    host.track[TRACK_SHIFT] = 5;
    ASSERT_TRUE(host.run(4));
    EXPECT_EQ(filter_shift_taps_key(), 5);
    EXPECT_TRUE(marked()) << "taps rebuilt for the value they were made for";
    host.track[TRACK_SHIFT] = 0;
    ASSERT_TRUE(host.run(5));
    EXPECT_EQ(filter_shift_taps_key(), 5);
    EXPECT_TRUE(marked());
}

TEST_F(ShiftInPipeline, KeyIsTheWholeShiftValue) {
    FakeHost host(24, 12, 8);
    setup(host);
    host.track[TRACK_SHIFT] = 1;
    ASSERT_TRUE(host.run(2));
    EXPECT_EQ(filter_shift_taps_key(), 1);
    mark();
    host.track[TRACK_SHIFT] = 17;
    ASSERT_TRUE(host.run(3));
    EXPECT_EQ(filter_shift_taps_key(), 17);
    EXPECT_EQ(current(), taps_for(1)) << "17 must rebuild, to the taps of 1";
    mark();
    host.track[TRACK_SHIFT] = 32;
    ASSERT_TRUE(host.run(4));
    EXPECT_EQ(filter_shift_taps_key(), 17);
    host.track[TRACK_SHIFT] = 17;
    ASSERT_TRUE(host.run(5));
    EXPECT_EQ(filter_shift_taps_key(), 17);
    EXPECT_TRUE(marked()) << "17 after 32 rebuilt the taps";
    host.track[TRACK_SHIFT] = 4;
    ASSERT_TRUE(host.run(2));
    EXPECT_EQ(filter_shift_taps_key(), 4);
    EXPECT_EQ(current(), taps_for(4));
}

TEST_F(ShiftInPipeline, OutputWindowHoldsThePartnerFieldMoved) {
    // The moved field is the one taken from the partner frame; the other is
    // the current frame's own. Both frames of a pair, both field orders.
    const int w = 24, h = 14;
    FakeHost host(w, h, 8);
    host.fill_random(9);
    for (int s : {0, 16, 5, 40, 256}) {
        for (int tff : {0, 1}) {
            for (int f : {2, 3, 4, 5}) {
                setup(host);
                host.track[TRACK_SHIFT] = s;
                host.check[CHECK_TFF] = tff;
                ASSERT_TRUE(host.run(f));
                const int partner = f % 2 == 0 ? f + 1 : f - 1;
                const int replaced = (tff ^ f) & 1;
                std::vector<PIXEL_YC> edit = host.clip[f];
                for (int y = replaced; y < h; y += 2)
                    for (int x = 0; x < host.max_w; ++x) edit[y * host.max_w + x] = host.clip[partner][y * host.max_w + x];
                const bool case_a = (f & 1) == tff;
                EXPECT_EQ(case_a, replaced == 0);
                std::vector<PIXEL_YC> out(host.output(), host.output() + host.edit.size());
                const auto expected = expected_shift(out, edit.data(), w, h, host.max_w, 4, 8, s, case_a);
                const long d = first_difference(expected, out.data());
                EXPECT_EQ(d, -1) << "frame " << f << " TFF " << tff << " TRACK_SHIFT " << s << " at "
                                 << where(d < 0 ? 0 : d, host.max_w);
            }
        }
    }
}

}  // namespace
