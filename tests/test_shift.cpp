// The vertical field shift inside the processing window: interpolation taps,
// whole-line and interpolated moves, the edge rows, the window bounds, and
// the taps cache as the frame procedure keeps it. A model of the row rules
// (expected_shift) is checked against the filter over every small height,
// window and shift; hand-worked rows pin the model itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "host_rig.h"
#include "pipeline/filter_proc.h"
#include "window/shift.h"

using namespace pelta;

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

// The records the shift operations read.
struct Rig : StageRecords {
    Rig(int w, int h, int max_w) : StageRecords(w, h, max_w) { window(0, w); }

    void window(int left, int width) {
        track[TRACK_LEFT] = left;
        track[TRACK_WIDTH] = width;
    }
    // Case A moves the even rows down the frame, Case B the odd rows up.
    // `variant` picks one of the frame / top-field-first combinations giving
    // that case (only bit 0 of the check box counts).
    void field_case(bool case_a, int variant = 0) {
        const int tff = variant & 3;
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
Frame expected_shift(const Frame& dst_before, const PIXEL_YC* src, int w, int h, int max_w, int left, int width,
                     int s, bool case_a) {
    Frame out = dst_before;
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
                    const int F = y + sigma * (2 * (s / 16) + 2);
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

std::string where(long i, int max_w) {
    if (i < 0) return "nowhere";
    return "row " + std::to_string(i / max_w) + " column " + std::to_string(i % max_w);
}

// Index of the first pixel that differs, or -1.
long first_difference(const Frame& a, const PIXEL_YC* b) {
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].y != b[i].y || a[i].cb != b[i].cb || a[i].cr != b[i].cr) return static_cast<long>(i);
    return -1;
}

// Luma 1000 + y * y names the source row of a copy; the square keeps the
// average of two neighbours apart from the row between them. Chroma:
// cb = y - 20, cr = x - 3.
Frame numbered_rows(int h, int max_w) {
    Frame f(static_cast<size_t>(h) * max_w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < max_w; ++x) f[static_cast<size_t>(y) * max_w + x] = px(1000 + y * y, y - 20, x - 3);
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
        EXPECT_EQ(taps_for(16 - b), (Taps{t[1], t[0], t[3], t[2]})) << "fraction " << b;
        EXPECT_TRUE(t[0] > 0 && t[1] > 0 && t[2] < 0 && t[3] < 0) << "fraction " << b;
        EXPECT_EQ(t[0] + t[1] + t[2] + t[3], (b == 4 || b == 12) ? 32767 : 32768) << "fraction " << b;
    }
}

// ---------------------------------------------------------------- rows worked out by hand

TEST(ShiftRows, WholeLineMovesAndAveragesOfNumberedRows) {
    // Column 1 of numbered rows after the shift: luma and cb of each moved
    // row, worked out by hand. A moved row whose source is outside the frame
    // averages the rows above and below it, or the one row of the other field
    // beside it at an edge; the sum rounds half up and the quotient
    // truncates toward zero.
    const struct {
        int h;
        bool case_a;
        int s, row, luma, cb;
    } rows[] = {
        {8, true, 16, 0, 1004, -18},   {8, true, 16, 2, 1016, -16},  {8, true, 16, 4, 1036, -14},
        {8, true, 16, 6, 1037, -13},   // rows 5 and 7: (1025 + 1049 + 1) / 2, (-15 - 13 + 1) / 2
        {8, false, 16, 3, 1001, -19},  {8, false, 16, 5, 1009, -17}, {8, false, 16, 7, 1025, -15},
        {8, false, 16, 1, 1002, -18},  // rows 0 and 2: (1000 + 1004 + 1) / 2, (-20 - 18 + 1) / 2
        {40, true, 256, 0, 2024, 12},  {40, true, 256, 6, 2444, 18},  // rows 32 and 38
        {40, true, 256, 8, 1065, -11},   // rows 7 and 9
        {40, false, 256, 39, 1049, -13}, {40, false, 256, 31, 1962, 11},  // row 7; rows 30 and 32
        {33, true, 256, 0, 2024, 12},  {33, true, 256, 2, 1005, -17},  // row 32; rows 1 and 3
        {32, false, 256, 31, 1000 + 30 * 30, 10},                      // rows 30 (twice) at the bottom
        {2, true, 16, 0, 1001, -18},   {2, true, 1, 0, 1001, -18},    // row 1 twice
        {2, false, 256, 1, 1000, -19}, {2, false, 8, 1, 1000, -19},  // row 0 twice
        {3, true, 16, 2, 1001, -18},   {3, true, 5, 2, 1001, -18},    // the last row: row 1 twice
        {1, true, 8, 0, 1000, -20},    {1, true, 256, 0, 1000, -20},  // a single row keeps its picture
    };
    for (const auto& r : rows) {
        const int mw = 4;
        const Frame src = numbered_rows(r.h, mw);
        Rig rig(mw, r.h, mw);
        rig.field_case(r.case_a);
        Frame dst(src.size(), px(-1, -1, -1));
        rig.shift(dst.data(), src.data(), r.s);
        const PIXEL_YC& got = dst[static_cast<size_t>(r.row) * mw + 1];
        EXPECT_EQ(got.y, r.luma) << "h " << r.h << (r.case_a ? " Case A" : " Case B") << " TRACK_SHIFT " << r.s
                                 << " row " << r.row;
        EXPECT_EQ(got.cb, r.cb) << "h " << r.h << " TRACK_SHIFT " << r.s << " row " << r.row;
    }
}

TEST(ShiftRows, LineAverageRoundsHalfUpAndTruncatesTowardZero) {
    // Case A, h = 6: row 4 has no source for a move of 16 (row 6) nor for any
    // fraction (F = 6); it takes rows 3 and 5.
    const int h = 6, mw = 3;
    for (int s : {16, 5, 8, 15}) {
        Frame src(h * mw, px(50, 50, 50));
        for (int x = 0; x < mw; ++x) {
            src[3 * mw + x] = px(3, -3, -2);
            src[5 * mw + x] = px(4, -4, -2);
        }
        Rig rig(mw, h, mw);
        rig.field_case(true);
        Frame dst(h * mw, px(0, 0, 0));
        rig.shift(dst.data(), src.data(), s);
        for (int x = 0; x < mw; ++x) {
            EXPECT_EQ(dst[4 * mw + x].y, 4) << "3 and 4, TRACK_SHIFT " << s;
            EXPECT_EQ(dst[4 * mw + x].cb, -3) << "-3 and -4, TRACK_SHIFT " << s;
            EXPECT_EQ(dst[4 * mw + x].cr, -1) << "-2 and -2, TRACK_SHIFT " << s;
        }
    }
}

TEST(ShiftRows, InterpolatedRowsWeighTheirFourRows) {
    // For every fraction b and TRACK_SHIFT 16 q + b: the source rows of taps
    // 0..3 of a moved row, a row beyond an edge standing for the row of its
    // field nearest that edge; or the two rows a row without a source
    // averages.
    const struct {
        int h;
        bool case_a;
        int q, row;
        int taps[4];  // source rows of taps 0..3, or {up, down, -1, -1} for an average
    } rows[] = {
        {8, true, 0, 0, {0, 2, 0, 4}},   {8, true, 0, 2, {2, 4, 0, 6}},  {8, true, 0, 4, {4, 6, 2, 6}},
        {8, true, 0, 6, {5, 7, -1, -1}}, {8, false, 0, 1, {0, 2, -1, -1}}, {8, false, 0, 3, {3, 1, 5, 1}},
        {8, false, 0, 5, {5, 3, 7, 1}},  {8, false, 0, 7, {7, 5, 7, 3}},
        {14, true, 2, 2, {6, 8, 4, 10}}, {14, false, 2, 11, {7, 5, 9, 3}},  // two lines and a fraction
    };
    std::mt19937 rng(11);
    for (int b = 1; b <= 15; ++b) {
        const Taps t = kernel_taps(b);
        for (const auto& r : rows) {
            const Frame src = random_pixels(rng, static_cast<size_t>(r.h), true);
            Rig rig(1, r.h, 1);
            rig.field_case(r.case_a, b & 3);
            Frame dst(src.size(), px(0, 0, 0));
            rig.shift(dst.data(), src.data(), 16 * r.q + b);
            for (int k = 0; k < 3; ++k) {
                int64_t want;
                if (r.taps[2] < 0) {
                    want = (sample(src[r.taps[0]], k) + sample(src[r.taps[1]], k) + 1) / 2;
                } else {
                    int64_t acc = 0x4000;
                    for (int i = 0; i < 4; ++i) acc += t[i] * int64_t{sample(src[r.taps[i]], k)};
                    want = acc >> 15;
                }
                EXPECT_EQ(sample(dst[r.row], k), want) << "h " << r.h << (r.case_a ? " Case A" : " Case B")
                                                       << " TRACK_SHIFT " << 16 * r.q + b << " row " << r.row;
            }
        }
    }
}

TEST(ShiftRows, ResultsAreNotClamped) {
    // Row 0 of Case A at TRACK_SHIFT 8: 16384 * 4096 + 18432 * 4096 - 2048 * 0
    // is 4352 after the shift, past the nominal luma range.
    const int h = 6;
    Frame src(h, px(0, 0, 0));
    src[0] = src[2] = px(4096, 2048, -2048);
    src[4] = px(0, -2048, 2048);
    Rig rig(1, h, 1);
    rig.field_case(true);
    Frame dst(h, px(0, 0, 0));
    rig.shift(dst.data(), src.data(), 8);
    EXPECT_EQ(dst[0].y, 4352);
    EXPECT_EQ(dst[0].cb, 2304);
    EXPECT_EQ(dst[0].cr, -2304);
}

// ---------------------------------------------------------------- properties

TEST(ShiftProperty, EqualSamplesComeOutUnchanged) {
    // Every value of the nominal ranges, one per sample, in every row.
    const int w = 2049, h = 12;
    Frame src(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) src[static_cast<size_t>(y) * w + x] = px(x * 2, x - 2048, std::min(x * 2, 4096) - 2048);
    for (int s = 1; s < 256; ++s) {
        if ((s & 15) == 0) continue;
        for (bool a : {true, false}) {
            Rig rig(w, h, w);
            rig.field_case(a);
            Frame dst(src.size(), px(0, 0, 0));
            rig.shift(dst.data(), src.data(), s);
            const int q = s >> 4;
            for (int y = a ? 0 : 1; y < h; y += 2) {
                const int F = a ? y + 2 * q + 2 : y - 2 * q - 2;
                if (F < 0 || F >= h) continue;  // an average, not an interpolation
                const long d = first_difference(Frame(src.begin() + y * w, src.begin() + (y + 1) * w),
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
    Frame src(h * mw);
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
            Frame dst(h * mw, px(-1, -1, -1));
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

TEST(ShiftProperty, StaysInsideBothFramesAndMatchesTheRowRules) {
    // Every height up to 12 and some taller ones, every shift, both cases in
    // every frame / field-order combination, windows inside, across the
    // right edge, empty and outside the frame. Both frames are guarded (and
    // poisoned under AddressSanitizer); the columns outside the window and
    // beyond w must not be read or written.
    const int w = 8, mw = 11;
    const PIXEL_YC guard1 = px(0x5A5A, -0x5A5B, 0x2D2D), guard2 = px(-0x7001, 0x6EEE, -0x1111);
    const struct {
        int left, width;
    } windows[] = {{0, 8}, {0, 0}, {3, 2}, {5, 100}, {7, 1}, {8, 4}, {9, 1}, {200, 320}, {-1, 5}, {2, -3}, {0, 320}};
    std::vector<int> heights;
    for (int h = 0; h <= 12; ++h) heights.push_back(h);
    for (int h : {33, 40}) heights.push_back(h);
    std::mt19937 rng(101);
    for (int h : heights) {
        const size_t n = static_cast<size_t>(mw) * h;
        const bool nominal = h % 2 == 0;
        const Frame src_pic = random_pixels(rng, n, nominal);
        const Frame dst_pic = random_pixels(rng, n, nominal);
        // The same picture with other values in the columns beyond w.
        Frame src_pic2 = src_pic;
        for (int y = 0; y < h; ++y)
            for (int x = w; x < mw; ++x) src_pic2[y * mw + x] = px(-32768, 32767, -32768);
        const GuardedFrame src(src_pic, guard1), src2(src_pic2, guard2);
        for (int variant = 0; variant < 4; ++variant) {
            for (bool a : {true, false}) {
                for (const auto& win : windows) {
                    Rig rig(w, h, mw);
                    rig.field_case(a, variant);
                    rig.window(win.left, win.width);
                    for (int s = 0; s <= 256; ++s) {
                        GuardedFrame dst(dst_pic, guard2), dst2(dst_pic, guard1);
                        rig.shift(dst.data(), src.data(), s);
                        const Frame expected = expected_shift(dst_pic, src_pic.data(), w, h, mw, win.left, win.width, s, a);
                        const long d = first_difference(expected, dst.data());
                        ASSERT_EQ(d, -1) << "h " << h << (a ? " Case A" : " Case B") << " left " << win.left
                                         << " width " << win.width << " TRACK_SHIFT " << s << " at " << where(d, mw);
                        ASSERT_TRUE(src.guards_hold()) << "h " << h << " TRACK_SHIFT " << s;
                        ASSERT_TRUE(dst.guards_hold()) << "h " << h << " TRACK_SHIFT " << s << " wrote outside";
                        // Other guards and other columns beyond w: the same result.
                        rig.shift(dst2.data(), src2.data(), s);
                        ASSERT_TRUE(same_pixels(dst, dst2))
                            << "h " << h << " TRACK_SHIFT " << s << ": result depends on memory outside the picture";
                        ASSERT_TRUE(dst2.guards_hold());
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
        if (key & 15) make_shift_taps(const_cast<int32_t*>(filter_shift_taps()), key);
    }
    static Taps current() {
        const int32_t* t = filter_shift_taps();
        return Taps{t[0], t[1], t[2], t[3]};
    }
    static constexpr Taps kMark{11, 22, 33, 44};
    static void mark() { std::copy(kMark.begin(), kMark.end(), const_cast<int32_t*>(filter_shift_taps())); }

    static void setup(TestHost& host) {
        host.check[CHECK_LPF] = 0;
        host.track[TRACK_LEFT] = 4;
        host.track[TRACK_WIDTH] = 8;
    }
};

TEST_F(ShiftInPipeline, TapsAreRebuiltOnlyForANewFractionalShiftValue) {
    // Frames with TRACK_SHIFT values in turn: the key the taps are kept
    // under, and the taps after the frame (those of a value, or still the
    // mark put in before the frame when they must not have been rebuilt).
    constexpr int kMarked = -1, kAny = 0;
    const struct {
        int shift, frame, key, taps;
        bool mark_after;
        const char* why;
    } steps[] = {
        {5, 2, 5, 5, true, "first fractional value"},
        {16, 3, 5, kMarked, false, "a whole-line shift leaves taps and key alone"},
        {5, 4, 5, kMarked, false, "the value they were made for"},
        {0, 5, 5, kMarked, false, "no shift"},
        {1, 2, 1, kAny, true, "a new value"},
        {17, 3, 17, 1, true, "the key is the whole value: 17 rebuilds, to the taps of 1"},
        {32, 4, 17, kAny, false, "whole lines"},
        {17, 5, 17, kMarked, false, "17 after 32"},
        {4, 2, 4, 4, false, "a new value"},
    };
    TestHost host(24, 12, 8);
    setup(host);
    for (const auto& s : steps) {
        host.track[TRACK_SHIFT] = s.shift;
        ASSERT_TRUE(host.run(s.frame)) << s.why;
        EXPECT_EQ(filter_shift_taps_key(), s.key) << s.why;
        if (s.taps == kMarked) {
            EXPECT_EQ(current(), kMark) << "rebuilt: " << s.why;
        }
        if (s.taps > 0) {
            EXPECT_EQ(current(), taps_for(s.taps)) << s.why;
        }
        if (s.mark_after) mark();
    }
}

TEST_F(ShiftInPipeline, OutputWindowHoldsThePartnerFieldMoved) {
    // The moved field is the one taken from the partner frame; the other is
    // the current frame's own. Both frames of a pair, both field orders.
    const int w = 24, h = 14;
    TestHost host(w, h, 8);
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
                Frame edit = host.clip[f].pixels();
                for (int y = replaced; y < h; y += 2)
                    for (int x = 0; x < host.max_w; ++x) edit[y * host.max_w + x] = host.clip[partner][y * host.max_w + x];
                const bool case_a = (f & 1) == tff;
                EXPECT_EQ(case_a, replaced == 0);
                const Frame out = host.output_pixels();
                const Frame expected = expected_shift(out, edit.data(), w, h, host.max_w, 4, 8, s, case_a);
                const long d = first_difference(expected, out.data());
                EXPECT_EQ(d, -1) << "frame " << f << " TFF " << tff << " TRACK_SHIFT " << s << " at "
                                 << where(d, host.max_w);
            }
        }
    }
}

}  // namespace
