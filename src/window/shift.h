// Vertical shift of one field inside the processing window: the field that
// came from the partner frame is moved by TRACK_SHIFT sixteenths of a field
// line, by whole lines (row copies) or with 4-tap Lanczos interpolation.
#pragma once

#include <cstdint>

#include "host/host_records.h"

namespace pelta {

// Fills the four Q15 interpolation taps for the fraction shift & 15 (1..15):
// tap 0 for the nearer bracketing row, tap 1 the farther, tap 2 the row
// beyond the nearer, tap 3 the row beyond the farther. A fraction of 0 gives
// the identity {32768, 0, 0, 0}.
void make_shift_taps(int32_t taps[4], int shift);

// Rewrites the window columns of dst (ycp_temp) from src (ycp_edit), moving
// the partner's field by TRACK_SHIFT / 16 whole field lines.
void shift_window_whole(PIXEL_YC* dst, const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip);

// As shift_window_whole, for a TRACK_SHIFT with a fractional part, sampling
// the moved field between its lines with the given taps.
void shift_window_interp(PIXEL_YC* dst, const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip,
                         const int32_t taps[4]);

}  // namespace pelta
