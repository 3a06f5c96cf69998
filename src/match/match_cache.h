// Comb counts of match indices, remembered across frames. Direct-mapped:
// match index n lives in slot n mod 8. The cache is emptied only when the
// host fetches the descriptor or a setting changes.
#pragma once

#include <cstdint>

#include "abi/host_records.h"

namespace pelta {

// Stands for a match index with no candidate, or whose frames the host did
// not supply; it loses against every real count.
constexpr int32_t UNAVAILABLE_COUNT = 0x7FFFFFFF;

constexpr int MATCH_CACHE_SLOTS = 8;

struct MatchCacheEntry {
    int32_t count;
    int32_t index;  // 0: empty (match index 0 is never looked up)
};

// Sets all eight entries to count 0, index 0.
void clear_match_cache(void);

// The comb count of the candidate of match index n, from the cache or by
// counting it straight from frames n-1 and n (ycp_temp is not written).
// UNAVAILABLE_COUNT when n is not a valid match index or the host did not
// supply its frames; a failed fetch is remembered like any count.
int cached_comb(FILTER* fp, FILTER_PROC_INFO* fpip, int n);

// Read-only view of the cache, for tests and diagnostics.
const MatchCacheEntry* match_cache_entries(void);

}  // namespace pelta
