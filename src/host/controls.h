// Indices of the filter's track bars and check boxes in the host's live
// `track` and `check` arrays, and the processing window they define.
#pragma once

#include <cstdint>

#include "host/host_records.h"

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

// Clamps v into lo..hi, lo first (so an empty range lo > hi yields hi).
inline int64_t clamp_range(int64_t v, int64_t lo, int64_t hi) {
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    return v;
}

struct ColumnRange {
    int left;
    int right;
};

// The processing window: left is TRACK_LEFT clamped to 0..w, right is left
// plus TRACK_WIDTH clamped to 0..w. The sum is formed in 64 bits so a track
// value near INT_MAX cannot overflow; within the track bars' ranges this is
// the plain 32-bit formula. A negative width yields right < left.
inline ColumnRange processing_window(const FILTER* fp, int w) {
    ColumnRange r;
    r.left = static_cast<int>(clamp_range(fp->track[TRACK_LEFT], 0, w));
    r.right = static_cast<int>(clamp_range(int64_t{r.left} + fp->track[TRACK_WIDTH], 0, w));
    return r;
}

// Element offset of pixel (x, y) in a frame whose rows are max_w pixels apart.
// Formed in pointer-sized arithmetic so large frames cannot overflow an int.
inline PIXEL_YC* pixel_at(PIXEL_YC* frame, int max_w, int x, int y) {
    return frame + static_cast<ptrdiff_t>(y) * max_w + x;
}
inline const PIXEL_YC* pixel_at(const PIXEL_YC* frame, int max_w, int x, int y) {
    return frame + static_cast<ptrdiff_t>(y) * max_w + x;
}
