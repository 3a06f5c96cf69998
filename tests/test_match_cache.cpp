// The match cache: hits, misses, slot collisions and remembered failures.
#include <gtest/gtest.h>

#include "fake_host.h"
#include "match/comb.h"
#include "match/match_cache.h"
#include "match/weave.h"

using namespace pelta;

namespace {

TEST(MatchCache, IndicesOutsideTheClipAreUnavailableWithoutTouchingAnything) {
    FakeHost host(8, 10, 5);
    host.prepare(2);
    const Frame before = host.temp;
    for (int n : {0, -3, 5, 6}) {
        EXPECT_EQ(cached_comb(&host.filter, &host.fpip, n), UNAVAILABLE_COUNT) << n;
    }
    EXPECT_TRUE(host.fetches.empty());
    EXPECT_TRUE(same_pixels(before, host.temp));
    for (int i = 0; i < MATCH_CACHE_SLOTS; ++i) EXPECT_EQ(match_cache_entries()[i].index, 0);
}

TEST(MatchCache, MissWeavesAndCountsThenHitLeavesTheScratchFrameAlone) {
    FakeHost host(8, 10, 5);
    host.fill_random(7);
    host.track[TRACK_TH_C] = 0;  // every evaluated pixel combs: a known, nonzero count
    host.prepare(2);
    const int c = cached_comb(&host.filter, &host.fpip, 3);
    EXPECT_EQ(c, (10 - 4) * 8);
    EXPECT_EQ(host.fetches, (std::vector<int>{2, 3}));
    EXPECT_EQ(match_cache_entries()[3].index, 3);
    EXPECT_EQ(match_cache_entries()[3].count, c);

    std::fill(host.temp.begin(), host.temp.end(), PIXEL_YC{1, 2, 3});
    const Frame before = host.temp;
    host.fetches.clear();
    host.track[TRACK_TH_C] = 70;  // the cache keys on the index alone: the stored count answers
    EXPECT_EQ(cached_comb(&host.filter, &host.fpip, 3), c);
    EXPECT_TRUE(host.fetches.empty());
    EXPECT_TRUE(same_pixels(before, host.temp));
}

TEST(MatchCache, MissCountsTheWeaveWithoutWritingTheScratchFrame) {
    // The count of a miss is the count of the candidate weave_match gives,
    // for either field order, both parities of n and an odd height (whose
    // last row comes from the frame its parity names), asked of the host
    // exactly as weaving asks: frame n-1, then frame n.
    for (int h : {9, 10, 13}) {
        for (int tff : {0, 1}) {
            FakeHost host(24, h, 6);
            host.fill_random(static_cast<uint32_t>(h * 2 + tff));
            host.check[CHECK_TFF] = tff;
            host.track[TRACK_LEFT] = 5;
            host.track[TRACK_WIDTH] = 7;
            host.track[TRACK_TH_Y] = 8;
            host.track[TRACK_TH_C] = 12;
            host.prepare(2);
            for (int n = 1; n <= 5; ++n) {
                Frame woven(host.temp.size());
                ASSERT_EQ(weave_match(woven.data(), &host.filter, &host.fpip, n), WEAVE_OK);
                const int want = count_comb(woven.data(), &host.filter, &host.fpip);
                clear_match_cache();
                const Frame before = host.temp;
                host.fetches.clear();
                EXPECT_EQ(cached_comb(&host.filter, &host.fpip, n), want)
                    << "h " << h << " tff " << tff << " n " << n;
                EXPECT_EQ(host.fetches, (std::vector<int>{n - 1, n}));
                EXPECT_TRUE(same_pixels(before, host.temp));
            }
        }
    }
}

TEST(MatchCache, IndicesEightApartShareASlotAndRecountEveryTime) {
    FakeHost host(8, 10, 12);
    host.prepare(2);
    for (int round = 0; round < 2; ++round) {
        host.fetches.clear();
        cached_comb(&host.filter, &host.fpip, 2);
        cached_comb(&host.filter, &host.fpip, 10);
        EXPECT_EQ(host.fetches, (std::vector<int>{1, 2, 9, 10})) << "round " << round;
        EXPECT_EQ(match_cache_entries()[2].index, 10);
    }
    // Eight consecutive indices fit at once.
    for (int n = 3; n <= 10; ++n) cached_comb(&host.filter, &host.fpip, n);
    host.fetches.clear();
    for (int n = 3; n <= 10; ++n) cached_comb(&host.filter, &host.fpip, n);
    EXPECT_TRUE(host.fetches.empty());
}

TEST(MatchCache, FailedWeaveIsRememberedUntilTheCacheIsEmptied) {
    FakeHost host(8, 10, 5);
    host.missing = {3};
    host.prepare(2);
    EXPECT_EQ(cached_comb(&host.filter, &host.fpip, 3), UNAVAILABLE_COUNT);
    EXPECT_EQ(match_cache_entries()[3].index, 3);

    host.missing.clear();
    host.fetches.clear();
    EXPECT_EQ(cached_comb(&host.filter, &host.fpip, 3), UNAVAILABLE_COUNT);
    EXPECT_TRUE(host.fetches.empty()) << "a remembered failure does not ask the host again";

    clear_match_cache();
    EXPECT_NE(cached_comb(&host.filter, &host.fpip, 3), UNAVAILABLE_COUNT);
    EXPECT_EQ(host.fetches, (std::vector<int>{2, 3}));
}

TEST(MatchCache, ClearEmptiesEverySlot) {
    FakeHost host(8, 10, 12);
    host.prepare(2);
    for (int n = 1; n <= 11; ++n) cached_comb(&host.filter, &host.fpip, n);
    clear_match_cache();
    for (int i = 0; i < MATCH_CACHE_SLOTS; ++i) {
        EXPECT_EQ(match_cache_entries()[i].index, 0);
        EXPECT_EQ(match_cache_entries()[i].count, 0);
    }
    host.fetches.clear();
    cached_comb(&host.filter, &host.fpip, 8);  // slot 0 after a clear: a miss
    EXPECT_EQ(host.fetches.size(), 2u);
}

}  // namespace
