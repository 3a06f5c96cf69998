// Weaving candidates and replacing the partner field: which rows come from
// which frame, whole-stride copies, odd heights and host failures.
#include <gtest/gtest.h>

#include "match/weave.h"
#include "host_rig.h"

using namespace pelta;

namespace {

// Luma of input frame f, row y is 1000 * f + y everywhere, so the source of
// every output row can be read off its first pixel.
void label_rows(TestHost& host) {
    for (int f = 0; f < host.frame_n; ++f)
        for (int y = 0; y < host.h; ++y)
            for (int x = 0; x < host.w; ++x) host.at(f, x, y) = px(1000 * f + y, f, -f);
}

// The frame a row of `frame` came from, asserting the row is that frame's own row y.
int source_of(const TestHost& host, const PIXEL_YC* frame, int y) {
    const PIXEL_YC& p = frame[static_cast<size_t>(y) * host.max_w];
    EXPECT_EQ(p.y % 1000, y) << "row " << y << " must come from the same row of its source";
    return p.y / 1000;
}

int weave(TestHost& host, int n) { return weave_match(host.temp.data(), &host.filter, &host.fpip, n); }

TEST(WeaveMatch, RowTablesForBothFieldOrders) {
    // With TFF on, even rows come from the even-numbered frame of the pair;
    // with it off, from the odd-numbered one. A TFF value of 2 counts as off,
    // 3 as on. Odd heights: the last row (even) follows the same rule; an
    // empty frame still fetches both.
    const struct {
        int tff, n, even_rows_from, odd_rows_from;
    } cases[] = {
        {1, 2, 2, 1}, {1, 3, 2, 3}, {0, 2, 1, 2}, {0, 3, 3, 2}, {2, 2, 1, 2}, {2, 3, 3, 2},
        {3, 2, 2, 1}, {3, 3, 2, 3}, {0, 1, 1, 0}, {1, 1, 0, 1},
    };
    for (const auto& c : cases)
        for (int h : {10, 7, 1, 0}) {
            TestHost host(8, h, 5);
            label_rows(host);
            host.check[CHECK_TFF] = c.tff;
            host.prepare(2, px(0x1111, 0x1111, 0x1111));
            ASSERT_EQ(weave(host, c.n), WEAVE_OK);
            const Frame first = host.temp.pixels();
            for (int y = 0; y < host.h; ++y)
                EXPECT_EQ(source_of(host, host.temp.data(), y), y % 2 ? c.odd_rows_from : c.even_rows_from)
                    << "tff " << c.tff << " n " << c.n << " h " << h << " row " << y;
            EXPECT_EQ(host.log.fetches, (std::vector<int>{c.n - 1, c.n}));
            host.prepare(2, px(-0x2222, -0x2222, -0x2222));
            ASSERT_EQ(weave(host, c.n), WEAVE_OK);
            EXPECT_TRUE(same_pixels(first, host.temp)) << "the weave depends on what the scratch frame held";
        }
}

TEST(WeaveMatch, CopiesTheWholeRowStride) {
    TestHost host(5, 6, 3, 13);
    host.prepare(1);
    ASSERT_EQ(weave(host, 1), WEAVE_OK);
    for (int y = 0; y < host.h; ++y)
        for (int x = host.w; x < host.max_w; ++x)
            EXPECT_EQ(host.temp[static_cast<size_t>(y) * host.max_w + x].y, MARKER);
}

TEST(WeaveMatch, FailuresWriteNothing) {
    // Invalid indices fetch nothing; a missing frame fails after both fetches.
    const struct {
        int n, gone, result;
        std::vector<int> fetches;
    } cases[] = {
        {0, -1, WEAVE_BAD_INDEX, {}},          {-1, -1, WEAVE_BAD_INDEX, {}},
        {4, -1, WEAVE_BAD_INDEX, {}},          {5, -1, WEAVE_BAD_INDEX, {}},
        {2, 1, WEAVE_FRAME_MISSING, {1, 2}},   {2, 2, WEAVE_FRAME_MISSING, {1, 2}},
    };
    for (const auto& c : cases) {
        TestHost host(6, 8, 4);
        host.missing = {c.gone};
        host.prepare(1);
        const Frame before = host.temp.pixels();
        EXPECT_EQ(weave(host, c.n), c.result) << "n " << c.n << " missing " << c.gone;
        EXPECT_EQ(host.log.fetches, c.fetches) << "n " << c.n;
        EXPECT_TRUE(same_pixels(before, host.temp)) << "n " << c.n;
    }
}

TEST(ReplacePartnerField, PartnerTableForBothFieldOrders) {
    const struct {
        int tff, f, partner, replaced_parity;
    } cases[] = {
        {1, 2, 3, 1}, {1, 3, 2, 0}, {0, 2, 3, 0}, {0, 3, 2, 1}, {1, 0, 1, 1}, {2, 0, 1, 0},
    };
    for (const auto& c : cases)
        for (int h : {8, 9}) {
            TestHost host(6, h, 5, 11);
            label_rows(host);
            host.check[CHECK_TFF] = c.tff;
            host.prepare(c.f);
            ASSERT_EQ(replace_partner_field(&host.filter, &host.fpip), 0);
            EXPECT_EQ(host.log.fetches, (std::vector<int>{c.partner}));
            for (int y = 0; y < h; ++y) {
                const int expect = (y & 1) == c.replaced_parity ? c.partner : c.f;
                EXPECT_EQ(source_of(host, host.edit.data(), y), expect)
                    << "tff " << c.tff << " f " << c.f << " h " << h << " row " << y;
                // Replaced rows take the partner's full stride (the marker beyond w).
                EXPECT_EQ(host.edit[static_cast<size_t>(y) * host.max_w + host.w].y, MARKER);
            }
        }
}

TEST(ReplacePartnerField, EvenLastFrameAsksBeyondTheClip) {
    TestHost host(6, 8, 3);  // frames 0..2: frame 2's partner is 3
    host.prepare(2);
    const Frame before = host.edit.pixels();
    EXPECT_EQ(replace_partner_field(&host.filter, &host.fpip), 1);
    EXPECT_EQ(host.log.fetches, (std::vector<int>{3}));
    EXPECT_TRUE(same_pixels(before, host.edit));

    host.replicate_edges = true;  // a host that serves the nearest frame instead
    host.prepare(2);
    EXPECT_EQ(replace_partner_field(&host.filter, &host.fpip), 0);
}

}  // namespace
