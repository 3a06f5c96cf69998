// The comb count: kernel arithmetic, the luma and chroma tests, the rows and
// columns that take part.
#include <gtest/gtest.h>

#include <climits>

#include "match/comb.h"
#include "host_rig.h"

using namespace pelta;

namespace {

// A host whose settings count every column (empty window at the right edge)
// with the default thresholds and weights, and a frame of zeros (MARKER
// beyond w) to count.
struct CombBench {
    TestHost host;
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

TEST(CombKernel, ScoresOfOneColumn) {
    // Rows a..e of one component (0 luma, 1 cb, 2 cr), the rest 0, in each
    // of the w columns: every column combs or none does.
    const struct {
        const char* what;
        int w;
        int v[5];
        int comp, high, mid, th_y, th_c, count;
    } cases[] = {
        // a = -1: hi = -1 >> 6 = -1 and mid = -1 >> 4 = -1 (a division would
        // truncate both to 0); the luma score -1 must not comb at TH_Y 0.
        {"hi of -1 rounds down", 3, {-1, 0, 0, 0, 0}, 0, 1, 0, 0, 70, 0},
        {"hi of -1 reaches TH_Y -1", 3, {-1, 0, 0, 0, 0}, 0, 1, 0, -1, 70, 3},
        {"mid of -1 rounds down", 3, {-1, 0, 0, 0, 0}, 0, 0, 1, 0, 70, 0},
        // c = 64: hi = 384 >> 6 = 6, mid = -128 >> 4 = -8; score 3*6 - 8 = 10.
        {"score 10 at TH_Y 10", 2, {0, 0, 64, 0, 0}, 0, 3, 1, 10, 70, 2},
        {"score 10 at TH_Y 11", 2, {0, 0, 64, 0, 0}, 0, 3, 1, 11, 70, 0},
        // b and d enter with -4: b = d = 16 gives hi = -128 >> 6 = -2, mid = 0.
        {"b, d weigh -4 at TH_Y -10", 2, {0, 16, 0, 16, 0}, 0, 5, 1, -10, 70, 2},
        {"b, d weigh -4 at TH_Y -9", 2, {0, 16, 0, 16, 0}, 0, 5, 1, -9, 70, 0},
        // c = -640: hi = -60, mid = 80; luma score -100 never reaches a
        // positive threshold, a chroma score is its magnitude.
        {"negative luma score", 4, {0, 0, -640, 0, 0}, 0, 3, 1, 50, 70, 0},
        {"cb magnitude 100 at TH_C 100", 4, {0, 0, -640, 0, 0}, 1, 3, 1, 50, 100, 4},
        {"cb magnitude 100 at TH_C 101", 4, {0, 0, -640, 0, 0}, 1, 3, 1, 50, 101, 0},
        {"cr magnitude 100 at TH_C 100", 4, {0, 0, -640, 0, 0}, 2, 3, 1, 50, 100, 4},
        {"cr magnitude 100 at TH_C 101", 4, {0, 0, -640, 0, 0}, 2, 3, 1, 50, 101, 0},
        // hi = 2 with HIGH = 2^30 wraps to INT_MIN: below any luma threshold
        // but INT_MIN, and its magnitude wraps to itself, below any chroma one.
        {"score 0 at TH_Y 0", 3, {0, 0, 0, 0, 0}, 0, 1 << 30, 0, 0, 0, 3},
        {"wrapped luma, chroma at TH_C 0", 3, {128, 0, 0, 0, 0}, 0, 1 << 30, 0, 0, 0, 3},
        {"wrapped luma, chroma at TH_C 1", 3, {128, 0, 0, 0, 0}, 0, 1 << 30, 0, 0, 1, 0},
        {"wrapped luma at TH_Y INT_MIN", 3, {128, 0, 0, 0, 0}, 0, 1 << 30, 0, INT_MIN, 1, 3},
    };
    for (const auto& c : cases) {
        CombBench b(c.w, 5);
        b.column(c.v, c.comp);
        b.host.track[TRACK_HIGH] = c.high;
        b.host.track[TRACK_MID] = c.mid;
        b.host.track[TRACK_TH_Y] = c.th_y;
        b.host.track[TRACK_TH_C] = c.th_c;
        EXPECT_EQ(b.count(), c.count) << c.what;
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
    const struct {
        int left, width, counted;
    } wins[] = {
        {0, 10, 0},    // window over every column
        {0, 5000, 0},  // cut at w
        {0, 0, 10},    // zero width: every column
        {10, 5, 10},   // left at w: empty window at the right edge
        {500, 5, 10},  // left beyond w
        {3, 4, 6},     // columns 0..2 and 7..9
        {8, 100, 8},   // window 8..9
    };
    for (const auto& win : wins) {
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

}  // namespace
