// Indices of the filter's track bars and check boxes in the host's live
// `track` and `check` arrays.
#pragma once

#include "abi/host_records.h"

namespace pelta {

enum TrackIndex {
    TRACK_LEFT = 0,
    TRACK_WIDTH = 1,
    TRACK_SHIFT = 2,
    TRACK_TH_Y = 3,
    TRACK_TH_C = 4,
    TRACK_HIGH = 5,
    TRACK_MID = 6,
    TRACK_STRIPE = 7,
    TRACK_FREQ = 8,
    TRACK_PHASE = 9,
    TRACK_COUNT = 10
};

enum CheckIndex {
    CHECK_TFF = 0,
    CHECK_RANGE = 1,
    CHECK_MONO = 2,
    CHECK_CY = 3,
    CHECK_LPF = 4,
    CHECK_COUNT = 5
};

// Top field first: only bit 0 of the check box counts.
inline int tff_bit(const FILTER* fp) { return fp->check[CHECK_TFF] & 1; }

// Any other check box is on when nonzero.
inline bool check_on(const FILTER* fp, int index) { return fp->check[index] != 0; }

}  // namespace pelta
