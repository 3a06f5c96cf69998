// The comb count: kernel arithmetic, the luma and chroma tests, the rows and
// columns that take part.
#include <gtest/gtest.h>

#include <climits>

#include "fake_host.h"
#include "match/comb.h"

using namespace pelta;

namespace {

// A host whose settings count every column (empty window at the right edge)
// with the default thresholds and weights.
struct CombBench {
    FakeHost host;
    Frame frame;

    CombBench(int w, int h) : host(w, h, 2) {
        host.track[TRACK_LEFT] = w;
        host.track[TRACK_WIDTH] = 0;
        host.prepare(0);
        frame.assign(static_cast<size_t>(host.max_w) * h, PIXEL_YC{MARKER, MARKER, MARKER});
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) set(x, y, px(0, 0, 0));
    }
    void set(int x, int y, PIXEL_YC p) { frame[static_cast<size_t>(y) * host.max_w + x] = p; }
    // Five rows a..e of one column, repeated over every column, as rows 0..4.
    void column(const int (&v)[5], int component) {
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < host.w; ++x) {
                PIXEL_YC p{0, 0, 0};
                (component == 0 ? p.y : component == 1 ? p.cb : p.cr) = static_cast<int16_t>(v[y]);
                set(x, y, p);
            }
    }
    int count() { return count_comb(frame.data(), &host.filter, &host.fpip); }
};

TEST(CombKernel, ShiftsRoundTowardMinusInfinity) {
    // a = -1, the rest 0: hi = -1 >> 6 = -1 and mid = -1 >> 4 = -1 (a division
    // would truncate both to 0). With TH_Y 0 the luma score -1 must not comb.
    CombBench b(3, 5);
    b.host.track[TRACK_TH_Y] = 0;
    b.host.track[TRACK_HIGH] = 1;
    b.host.track[TRACK_MID] = 0;
    b.column({-1, 0, 0, 0, 0}, 0);
    EXPECT_EQ(b.count(), 0);
    b.host.track[TRACK_TH_Y] = -1;
    EXPECT_EQ(b.count(), 3);
    // Same for the mid term alone: (-1) >> 4 = -1.
    b.host.track[TRACK_HIGH] = 0;
    b.host.track[TRACK_MID] = 1;
    b.host.track[TRACK_TH_Y] = 0;
    EXPECT_EQ(b.count(), 0);
}

TEST(CombKernel, FourthAndSecondDifferenceWeights) {
    // c = 64, rest 0: hi = 384 >> 6 = 6, mid = -128 >> 4 = -8.
    // score = HIGH*6 + MID*(-8).
    CombBench b(2, 5);
    b.column({0, 0, 64, 0, 0}, 0);
    b.host.track[TRACK_HIGH] = 3;
    b.host.track[TRACK_MID] = 1;  // score 10
    b.host.track[TRACK_TH_Y] = 10;
    EXPECT_EQ(b.count(), 2);
    b.host.track[TRACK_TH_Y] = 11;
    EXPECT_EQ(b.count(), 0);
    // b and d enter with -4: b = d = 16 gives hi = -128 >> 6 = -2, mid = 0.
    b.column({0, 16, 0, 16, 0}, 0);
    b.host.track[TRACK_HIGH] = 5;
    b.host.track[TRACK_TH_Y] = -10;
    EXPECT_EQ(b.count(), 2);
    b.host.track[TRACK_TH_Y] = -9;
    EXPECT_EQ(b.count(), 0);
}

TEST(CombKernel, LumaIsSignedChromaIsMagnitude) {
    // c = -640: hi = -60, mid = 80. Defaults HIGH 3, MID 1: score = -100.
    CombBench b(4, 5);
    b.column({0, 0, -640, 0, 0}, 0);
    EXPECT_EQ(b.count(), 0) << "a negative luma score never reaches a positive threshold";
    for (int comp : {1, 2}) {
        b.column({0, 0, -640, 0, 0}, comp);
        b.host.track[TRACK_TH_C] = 100;
        EXPECT_EQ(b.count(), 4) << "component " << comp;
        b.host.track[TRACK_TH_C] = 101;
        EXPECT_EQ(b.count(), 0) << "component " << comp;
    }
}

TEST(CombKernel, PerfectLumaCombCombsOnlyTheBrighterField) {
    // Rows alternating A and B: mid = 0, hi = (A - B) >> 3 on A rows.
    const int A = 1000, B = 200;
    CombBench b(5, 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 5; ++x) b.set(x, y, px(y % 2 ? B : A, 0, 0));
    // Evaluated rows 2..9; A rows among them: 2, 4, 6, 8. score = 3 * 100 = 300.
    b.host.track[TRACK_TH_Y] = 300;
    EXPECT_EQ(b.count(), 4 * 5);
    b.host.track[TRACK_TH_Y] = 301;
    EXPECT_EQ(b.count(), 0);
}

TEST(CombCount, ZeroChromaThresholdCombsEveryEvaluatedPixel) {
    CombBench b(9, 11);
    b.host.track[TRACK_TH_C] = 0;
    EXPECT_EQ(b.count(), (11 - 4) * 9);
    b.host.track[TRACK_LEFT] = 2;
    b.host.track[TRACK_WIDTH] = 3;  // window columns 2..4 are left out
    EXPECT_EQ(b.count(), (11 - 4) * 6);
    b.host.track[TRACK_TH_C] = 70;
    b.host.track[TRACK_TH_Y] = 0;
    b.host.track[TRACK_HIGH] = 0;
    b.host.track[TRACK_MID] = 0;
    EXPECT_EQ(b.count(), (11 - 4) * 6) << "TH_Y <= 0 with zero weights combs everything";
}

TEST(CombCount, FlatFrameScoresZero) {
    CombBench b(7, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 7; ++x) b.set(x, y, px(2345, -1000, 1500));
    EXPECT_EQ(b.count(), 0);
}

TEST(CombCount, RowsAndColumnsThatTakePart) {
    CombBench b(10, 9);
    b.host.track[TRACK_TH_C] = 0;  // every evaluated pixel combs: the count is their number
    for (int h = 0; h <= 5; ++h) {
        b.host.fpip.h = h;
        EXPECT_EQ(b.count(), h <= 4 ? 0 : 10) << "h " << h;
    }
    b.host.fpip.h = 9;
    struct Win {
        int left, width, counted;
    };
    const Win wins[] = {
        {0, 10, 0},    // window over every column
        {0, 5000, 0},  // cut at w
        {0, 0, 10},    // zero width: every column
        {10, 5, 10},   // left at w: empty window at the right edge
        {500, 5, 10},  // left beyond w
        {3, 4, 6},     // columns 0..2 and 7..9
        {8, 100, 8},   // window 8..9
    };
    for (const Win& win : wins) {
        b.host.track[TRACK_LEFT] = win.left;
        b.host.track[TRACK_WIDTH] = win.width;
        EXPECT_EQ(b.count(), 5 * win.counted) << "left " << win.left << " width " << win.width;
    }
}

TEST(CombCount, CombInsideTheWindowIsNotCounted) {
    CombBench b(12, 9);
    for (int y = 0; y < 9; ++y) b.set(5, y, px(y % 2 ? 0 : 3000, 0, 0));  // comb in column 5 only
    b.host.track[TRACK_LEFT] = 4;
    b.host.track[TRACK_WIDTH] = 2;
    EXPECT_EQ(b.count(), 0);
    b.host.track[TRACK_LEFT] = 6;
    EXPECT_EQ(b.count(), 3);  // rows 2, 4, 6 of the brighter field
}

TEST(CombCount, HugeWeightsWrapLikeA32BitMachine) {
    // hi = 2 with HIGH = 2^30 wraps to INT_MIN: below any luma threshold, and
    // its magnitude wraps to itself, below any chroma threshold.
    CombBench b(3, 5);
    b.host.track[TRACK_HIGH] = 1 << 30;
    b.host.track[TRACK_MID] = 0;
    b.host.track[TRACK_TH_Y] = 0;
    b.host.track[TRACK_TH_C] = 0;
    b.column({0, 0, 0, 0, 0}, 0);
    EXPECT_EQ(b.count(), 3);  // score 0 >= 0
    b.column({128, 0, 0, 0, 0}, 0);
    EXPECT_EQ(b.count(), 3) << "chroma still combs at TH_C 0";
    b.host.track[TRACK_TH_C] = 1;
    EXPECT_EQ(b.count(), 0);
    b.host.track[TRACK_TH_Y] = INT_MIN;
    EXPECT_EQ(b.count(), 3);
}

}  // namespace
