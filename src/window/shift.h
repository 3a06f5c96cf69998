// Vertical shift of one field inside the processing window: the field that
// came from the partner frame is moved by TRACK_SHIFT sixteenths of a field
// line, by whole lines (row copies) or with 4-tap Lanczos interpolation.
#pragma once

#include <cstdint>

#include "base/cpu.h"
#include "abi/host_records.h"

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

// One interpolated row of the moved field: out[i] is the Q15 sum of v[k][i]
// times tap k, (acc + 0x4000) >> 15 kept to its low 16 bits (no clamping),
// for n int16 samples.
struct ShiftRows {
    const int16_t* v[4];
    int16_t* out;
    int n;
};
typedef void (*ShiftRowFn)(const ShiftRows* rows, const int32_t taps[4]);

// The row kernels, all with identical results: the scalar reference, and
// packed ones with SSE2 (eight, then four samples a step) and AVX2 (sixteen
// samples a step, then the SSE2 steps; only where the CPU has AVX2). The
// packed kernels leave the last samples, and every sample for taps that do
// not fit their packed arithmetic, to the scalar reference.
void shift_interp_row_scalar(const ShiftRows* rows, const int32_t taps[4]);
void shift_interp_row_sse2(const ShiftRows* rows, const int32_t taps[4]);
void shift_interp_row_avx2(const ShiftRows* rows, const int32_t taps[4]);

// The same rows from sample i on (n - i samples), for a kernel's tail.
ShiftRows shift_rows_from(const ShiftRows* rows, int i);

// Whether the packed kernels give the scalar results for these taps: each
// fits a signed 16-bit multiplier, and their magnitudes add up to no more
// than 65535, so no 32-bit sum can overflow (make_shift_taps stays within
// 40960).
bool shift_taps_fit_packed(const int32_t taps[4]);

// The field shift's kernels of one tier.
struct ShiftKernels {
    ShiftRowFn interp_row;
};

// The constant table of a tier (SIMD_SCALAR: the scalar reference); a tier
// above cpu_simd_level() is not to be run.
const ShiftKernels* shift_kernels_for(SimdLevel level);
// The table shift_window_interp uses: that of simd_level().
const ShiftKernels* shift_kernels(void);

// shift_window_interp with given kernels (tests and benchmarks compare them).
void shift_window_interp_with(const ShiftKernels* kernels, PIXEL_YC* dst, const PIXEL_YC* src,
                              FILTER* fp, FILTER_PROC_INFO* fpip, const int32_t taps[4]);

}  // namespace pelta
