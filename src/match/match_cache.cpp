#include "match/match_cache.h"

#include "match/comb.h"
#include "match/weave.h"

namespace pelta {

namespace {

MatchCacheEntry match_cache[MATCH_CACHE_SLOTS];  // all zero at load

}  // namespace

void clear_match_cache(void) {
    for (MatchCacheEntry& e : match_cache) {
        e.count = 0;
        e.index = 0;
    }
}

int cached_comb(FILTER* fp, FILTER_PROC_INFO* fpip, int n) {
    if (n <= 0 || n >= fpip->frame_n) return UNAVAILABLE_COUNT;
    MatchCacheEntry& slot = match_cache[n & (MATCH_CACHE_SLOTS - 1)];
    if (slot.index == n) return slot.count;

    // A miss: the candidate is counted straight from its two frames, which
    // are fetched exactly as weaving it would fetch them.
    const PIXEL_YC* earlier = nullptr;
    const PIXEL_YC* later = nullptr;
    const int fetched = fetch_match_frames(fp, fpip, n, &earlier, &later);
    slot.index = n;
    slot.count = fetched != WEAVE_OK
                     ? UNAVAILABLE_COUNT
                     : count_comb_weave(earlier, later, weave_parity(fp, n), fp, fpip);
    return slot.count;
}

const MatchCacheEntry* match_cache_entries(void) { return match_cache; }

}  // namespace pelta
