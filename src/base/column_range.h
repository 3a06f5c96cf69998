// The processing window: the band of columns that the window stages rebuild
// and the comb count leaves out, as the two track bars TRACK_LEFT and
// TRACK_WIDTH set it. Every stage takes its columns from here.
#pragma once

#include <cstdint>

#include "abi/controls.h"
#include "abi/host_records.h"

namespace pelta {

// Half-open column range [left, right) of every row.
struct ColumnRange {
    int left;
    int right;
};

// Clamps v into lo..hi, lo first (so an empty range lo > hi yields hi).
inline int64_t clamp_range(int64_t v, int64_t lo, int64_t hi) {
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    return v;
}

// The window as the frame procedure, the comb count and the colour stages
// see it: left is TRACK_LEFT clamped to 0..w, right is left plus TRACK_WIDTH
// clamped to 0..w. The sum is formed in 64 bits so a track value near
// INT_MAX cannot overflow; within the track bars' ranges this is the plain
// 32-bit formula. A negative width yields right < left.
ColumnRange processing_window(const FILTER* fp, int w);

// The window as the field shift sees it. The same columns, except that a
// left edge outside the frame (negative, or at or past w) gives no window at
// all rather than one clamped to the edge, so the shift then leaves the
// scratch frame untouched. True, with *r filled, when there are columns to
// rewrite (right > left).
bool field_shift_window(const FILTER* fp, int w, ColumnRange* r);

}  // namespace pelta
