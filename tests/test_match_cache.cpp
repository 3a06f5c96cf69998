// The match cache: hits, misses, slot collisions and remembered failures.
#include <gtest/gtest.h>

#include "match/comb.h"
#include "match/match_cache.h"
#include "match/weave.h"
#include "host_rig.h"

using namespace pelta;

namespace {

int cached(TestHost& host, int n) { return cached_comb(&host.filter, &host.fpip, n); }

TEST(MatchCache, IndicesOutsideTheClipAreUnavailableWithoutTouchingAnything) {
    TestHost host(8, 10, 5);
    host.prepare(2);
    const Frame before = host.temp.pixels();
    for (int n : {0, -3, 5, 6}) EXPECT_EQ(cached(host, n), UNAVAILABLE_COUNT) << n;
    EXPECT_TRUE(host.log.fetches.empty());
    EXPECT_TRUE(same_pixels(before, host.temp));
    for (int i = 0; i < MATCH_CACHE_SLOTS; ++i) EXPECT_EQ(match_cache_entries()[i].index, 0);
}

TEST(MatchCache, MissWeavesAndCountsThenHitLeavesTheScratchFrameAlone) {
    TestHost host(8, 10, 5);
    host.fill_random(7);
    host.track[TRACK_TH_C] = 0;  // every evaluated pixel combs: a known, nonzero count
    host.prepare(2);
    const int c = cached(host, 3);
    EXPECT_EQ(c, (10 - 4) * 8);
    EXPECT_EQ(host.log.fetches, (std::vector<int>{2, 3}));
    EXPECT_EQ(match_cache_entries()[3].index, 3);
    EXPECT_EQ(match_cache_entries()[3].count, c);

    host.temp.fill(PIXEL_YC{1, 2, 3});
    host.log.fetches.clear();
    host.track[TRACK_TH_C] = 70;  // not announced, and the cache keys on the index alone: the stored count answers
    EXPECT_EQ(cached(host, 3), c);
    EXPECT_TRUE(host.log.fetches.empty());
    EXPECT_TRUE(same_pixels(Frame(host.temp.size(), PIXEL_YC{1, 2, 3}), host.temp));
}

TEST(MatchCache, MissCountsTheWeaveWithoutWritingTheScratchFrame) {
    // The count of a miss is the count of the candidate weave_match gives,
    // for either field order, both parities of n and an odd height (whose
    // last row comes from the frame its parity names), asked of the host
    // exactly as weaving asks: frame n-1, then frame n.
    for (int h : {9, 10, 13}) {
        for (int tff : {0, 1}) {
            TestHost host(24, h, 6);
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
                const Frame before = host.temp.pixels();
                host.log.fetches.clear();
                EXPECT_EQ(cached(host, n), want) << "h " << h << " tff " << tff << " n " << n;
                EXPECT_EQ(host.log.fetches, (std::vector<int>{n - 1, n}));
                EXPECT_TRUE(same_pixels(before, host.temp));
            }
        }
    }
}

TEST(MatchCache, IndicesEightApartShareASlotAndRecountEveryTime) {
    TestHost host(8, 10, 12);
    host.prepare(2);
    for (int round = 0; round < 2; ++round) {
        host.log.fetches.clear();
        cached(host, 2);
        cached(host, 10);
        EXPECT_EQ(host.log.fetches, (std::vector<int>{1, 2, 9, 10})) << "round " << round;
        EXPECT_EQ(match_cache_entries()[2].index, 10);
    }
    // Eight consecutive indices fit at once.
    for (int n = 3; n <= 10; ++n) cached(host, n);
    host.log.fetches.clear();
    for (int n = 3; n <= 10; ++n) cached(host, n);
    EXPECT_TRUE(host.log.fetches.empty());
}

TEST(MatchCache, FailedWeaveIsRememberedUntilTheCacheIsEmptied) {
    TestHost host(8, 10, 5);
    host.missing = {3};
    host.prepare(2);
    EXPECT_EQ(cached(host, 3), UNAVAILABLE_COUNT);
    EXPECT_EQ(match_cache_entries()[3].index, 3);

    host.missing.clear();
    host.log.fetches.clear();
    EXPECT_EQ(cached(host, 3), UNAVAILABLE_COUNT);
    EXPECT_TRUE(host.log.fetches.empty()) << "a remembered failure does not ask the host again";

    clear_match_cache();
    EXPECT_NE(cached(host, 3), UNAVAILABLE_COUNT);
    EXPECT_EQ(host.log.fetches, (std::vector<int>{2, 3}));
}

TEST(MatchCache, ClearEmptiesEverySlot) {
    TestHost host(8, 10, 12);
    host.prepare(2);
    for (int n = 1; n <= 11; ++n) cached(host, n);
    clear_match_cache();
    for (int i = 0; i < MATCH_CACHE_SLOTS; ++i) {
        EXPECT_EQ(match_cache_entries()[i].index, 0);
        EXPECT_EQ(match_cache_entries()[i].count, 0);
    }
    host.log.fetches.clear();
    cached(host, 8);  // slot 0 after a clear: a miss
    EXPECT_EQ(host.log.fetches.size(), 2u);
}

}  // namespace
