// The frame procedure: picks the least-combed weave for the current frame,
// rebuilds the processing window and hands the result to the host.
#pragma once

#include <cstdint>

#include "abi/host_records.h"

namespace pelta {

// Called by the host once per frame. TRUE when the frame is done, FALSE when
// the host refused the cache request or did not supply a needed frame.
BOOL filter_proc(FILTER* fp, FILTER_PROC_INFO* fpip);

// ((w - right + left) * TRACK_STRIPE * h) >> 9, multiplied in that order with
// 32-bit wrap-around.
int32_t comb_threshold(int w, int left, int right, int stripe, int h);

// The title buffer as last written, and the shift taps with their key (tests
// and diagnostics).
const char* filter_title(void);
const int32_t* filter_shift_taps(void);
int32_t filter_shift_taps_key(void);

}  // namespace pelta
