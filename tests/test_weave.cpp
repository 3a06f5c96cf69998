// Weaving candidates and replacing the partner field: which rows come from
// which frame, whole-stride copies, odd heights and host failures.
#include <gtest/gtest.h>

#include "fake_host.h"
#include "match/weave.h"

using namespace pelta;

namespace {

// Luma of input frame f, row y is 1000 * f + y everywhere, so the source of
// every output row can be read off its first pixel.
void label_rows(FakeHost& host) {
    for (int f = 0; f < host.frame_n; ++f)
        for (int y = 0; y < host.h; ++y)
            for (int x = 0; x < host.w; ++x) host.at(f, x, y) = px(1000 * f + y, f, -f);
}

// The frame a row of `frame` came from, asserting the row is that frame's own row y.
int source_of(const FakeHost& host, const PIXEL_YC* frame, int y) {
    const PIXEL_YC& p = frame[static_cast<size_t>(y) * host.max_w];
    EXPECT_EQ(p.y % 1000, y) << "row " << y << " must come from the same row of its source";
    return p.y / 1000;
}

struct WeaveCase {
    int tff;
    int n;
    int even_rows_from;  // frame number the even rows come from
    int odd_rows_from;
};

TEST(WeaveMatch, RowTablesForBothFieldOrders) {
    // With TFF on, even rows come from the even-numbered frame of the pair;
    // with it off, from the odd-numbered one. A TFF value of 2 counts as off, 3 as on.
    const WeaveCase cases[] = {
        {1, 2, 2, 1}, {1, 3, 2, 3}, {0, 2, 1, 2}, {0, 3, 3, 2},
        {2, 2, 1, 2}, {2, 3, 3, 2}, {3, 2, 2, 1}, {3, 3, 2, 3},
    };
    for (const WeaveCase& c : cases) {
        FakeHost host(8, 10, 5);
        label_rows(host);
        host.check[CHECK_TFF] = c.tff;
        host.prepare(2);
        ASSERT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, c.n), WEAVE_OK);
        for (int y = 0; y < host.h; ++y)
            EXPECT_EQ(source_of(host, host.temp.data(), y), y % 2 ? c.odd_rows_from : c.even_rows_from)
                << "tff " << c.tff << " n " << c.n << " row " << y;
        EXPECT_EQ(host.fetches, (std::vector<int>{c.n - 1, c.n}));
    }
}

TEST(WeaveMatch, CopiesTheWholeRowStride) {
    FakeHost host(5, 6, 3, 13);
    host.prepare(1);
    ASSERT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, 1), WEAVE_OK);
    for (int y = 0; y < host.h; ++y)
        for (int x = host.w; x < host.max_w; ++x)
            EXPECT_EQ(host.temp[static_cast<size_t>(y) * host.max_w + x].y, MARKER);
}

TEST(WeaveMatch, OddHeightLastRowFollowsTheParityRule) {
    for (int tff = 0; tff <= 1; ++tff)
        for (int n = 1; n <= 2; ++n) {
            FakeHost host(6, 7, 3);
            label_rows(host);
            host.check[CHECK_TFF] = tff;
            host.prepare(1, 0x1111);
            ASSERT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, n), WEAVE_OK);
            const Frame first = host.temp;
            host.prepare(1, -0x2222);
            ASSERT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, n), WEAVE_OK);
            EXPECT_TRUE(same_pixels(first, host.temp)) << "the weave depends on what the scratch frame held";
            // Row 6 is even: it comes from n-1 exactly when even rows do.
            const int p = (tff ^ n) & 1;
            EXPECT_EQ(source_of(host, host.temp.data(), 6), p == 0 ? n - 1 : n);
        }
}

TEST(WeaveMatch, SingleRowAndEmptyFrames) {
    FakeHost one(4, 1, 3);
    label_rows(one);
    one.prepare(1);
    ASSERT_EQ(weave_match(one.temp.data(), &one.filter, &one.fpip, 2), WEAVE_OK);
    EXPECT_EQ(source_of(one, one.temp.data(), 0), 2);  // TFF on, n even: row 0 from frame n

    FakeHost empty(4, 0, 3);
    empty.prepare(1);
    EXPECT_EQ(weave_match(empty.temp.data(), &empty.filter, &empty.fpip, 1), WEAVE_OK);
    EXPECT_EQ(empty.fetches.size(), 2u);
}

TEST(WeaveMatch, InvalidIndexFetchesAndWritesNothing) {
    FakeHost host(6, 8, 4);
    for (int n : {0, -1, 4, 5}) {
        host.prepare(1);
        host.fetches.clear();
        const Frame before = host.temp;
        EXPECT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, n), WEAVE_BAD_INDEX) << n;
        EXPECT_TRUE(host.fetches.empty());
        EXPECT_TRUE(same_pixels(before, host.temp));
    }
}

TEST(WeaveMatch, MissingFrameFetchesBothAndWritesNothing) {
    for (int gone : {1, 2}) {
        FakeHost host(6, 8, 4);
        host.missing = {gone};
        host.prepare(1);
        const Frame before = host.temp;
        EXPECT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, 2), WEAVE_FRAME_MISSING);
        EXPECT_EQ(host.fetches, (std::vector<int>{1, 2}));
        EXPECT_TRUE(same_pixels(before, host.temp));
    }
}

struct PartnerCase {
    int tff;
    int f;
    int partner;
    int replaced_parity;
};

TEST(ReplacePartnerField, PartnerTableForBothFieldOrders) {
    const PartnerCase cases[] = {
        {1, 2, 3, 1}, {1, 3, 2, 0}, {0, 2, 3, 0}, {0, 3, 2, 1}, {1, 0, 1, 1}, {2, 0, 1, 0},
    };
    for (const PartnerCase& c : cases)
        for (int h : {8, 9}) {
            FakeHost host(6, h, 5, 11);
            label_rows(host);
            host.check[CHECK_TFF] = c.tff;
            host.prepare(c.f);
            ASSERT_EQ(replace_partner_field(&host.filter, &host.fpip), 0);
            EXPECT_EQ(host.fetches, (std::vector<int>{c.partner}));
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
    FakeHost host(6, 8, 3);  // frames 0..2: frame 2's partner is 3
    host.prepare(2);
    const Frame before = host.edit;
    EXPECT_EQ(replace_partner_field(&host.filter, &host.fpip), 1);
    EXPECT_EQ(host.fetches, (std::vector<int>{3}));
    EXPECT_TRUE(same_pixels(before, host.edit));

    host.replicate_edges = true;  // a host that serves the nearest frame instead
    host.prepare(2);
    EXPECT_EQ(replace_partner_field(&host.filter, &host.fpip), 0);
}

}  // namespace
