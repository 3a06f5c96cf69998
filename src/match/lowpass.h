// Vertical 11-tap low-pass for frames that stay combed after the best weave.
#pragma once

#include <cstdint>

#include "base/cpu.h"
#include "abi/host_records.h"

namespace pelta {

// Q15 taps for row offsets 0 .. 5 from the centre row; symmetric, summing
// to 32768.
constexpr int32_t LOWPASS_TAPS[6] = {27256, 4980, -3993, 2693, -1442, 518};

// Filters src vertically into dst (distinct buffers, h rows max_w apart):
// rows 0 and h-1 are copied whole (max_w pixels), rows 1 .. h-2 are filtered
// over 3*w samples with neighbours clamped to rows 1 .. h-2; dst columns w ..
// max_w-1 of those rows are left alone. Always returns 0.
int vertical_lowpass(PIXEL_YC* dst, const PIXEL_YC* src, int h, int max_w, int w);

// The filtered rows of one frame: row i of dst from rows above[k], below[k]
// (k = 1..5, already clamped) and centre, over n int16 samples.
struct LowpassRows {
    const int16_t* centre;
    const int16_t* above[6];  // index 1..5 used
    const int16_t* below[6];
    int16_t* out;
    int n;
};
typedef void (*LowpassRowFn)(const LowpassRows* rows);

// The row kernels, all with identical results: the scalar reference, one on
// packed 16-bit samples with SSE2 (eight, then four samples a step, the last
// (n mod 4) samples one at a time), and a sixteen-sample AVX2 one that must
// only run where the CPU has AVX2.
void vertical_lowpass_row_scalar(const LowpassRows* rows);
void vertical_lowpass_row_sse2(const LowpassRows* rows);
void vertical_lowpass_row_avx2(const LowpassRows* rows);

// The same rows from sample j on (n - j samples), for a kernel's tail.
LowpassRows lowpass_rows_from(const LowpassRows* rows, int j);

// The low-pass kernels of one tier.
struct LowpassKernels {
    LowpassRowFn row;
};

// The constant table of a tier (SIMD_SCALAR: the scalar reference); a tier
// above cpu_simd_level() is not to be run.
const LowpassKernels* lowpass_kernels_for(SimdLevel level);
// The table vertical_lowpass uses: that of simd_level().
const LowpassKernels* lowpass_kernels(void);

// vertical_lowpass with a given row kernel (tests compare the kernels).
int vertical_lowpass_with(LowpassRowFn kernel, PIXEL_YC* dst, const PIXEL_YC* src, int h,
                          int max_w, int w);

}  // namespace pelta
