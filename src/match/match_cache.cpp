#include "match/match_cache.h"

#include "match/comb.h"
#include "match/weave.h"

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

    const int woven = weave_match(fpip->ycp_temp, fp, fpip, n);
    slot.index = n;
    slot.count = woven != WEAVE_OK ? UNAVAILABLE_COUNT : count_comb(fpip->ycp_temp, fp, fpip);
    return slot.count;
}

const MatchCacheEntry* match_cache_entries(void) { return match_cache; }
