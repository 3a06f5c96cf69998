// Comb count: how many pixels of a woven candidate, outside the processing
// window, show the vertical zig-zag that a wrong weave leaves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/cpu.h"
#include "abi/host_records.h"

namespace pelta {

// The four settings the comb test reads, taken once per count.
struct CombParams {
    int32_t th_y;  // luma: combed when score >= th_y (signed compare)
    int32_t th_c;  // chroma: combed when |score| >= th_c
    int32_t high;  // weight of the fourth difference across both fields
    int32_t mid;   // weight of the second difference within the field
};

// The five rows r-2 .. r+2 around row r of a candidate, each pointing at its
// column 0. They need not lie in one buffer: a candidate is counted straight
// from the two input frames it is woven from, rows r-2, r and r+2 coming from
// one and rows r-1 and r+1 from the other.
struct CombRows {
    const PIXEL_YC* row[5];
};

// Counts the combed pixels among the n pixels from column x of row r. Every
// span kernel below gives exactly the scalar reference's result.
typedef int (*CombSpanFn)(const CombRows* rows, int x, int n, const CombParams* p);

// Narrow spans. While every sample of the five rows lies within
// COMB_NARROW_LO .. COMB_NARROW_HI (all of the nominal luma and chroma ranges)
// and |HIGH| + |MID| <= COMB_NARROW_WEIGHTS, the differences, the score and
// the thresholds that matter all fit 16-bit lanes, and the packed narrow
// kernels count twice the samples per step. The caller vouches for rows
// r-2 .. r+1 and the weights; a narrow kernel checks row r+2 as it goes and
// returns -1 when it holds a sample outside the range (the count is then to
// be made with a general kernel). Otherwise the result equals the scalar
// reference's.
constexpr int32_t COMB_NARROW_LO = -4095;
constexpr int32_t COMB_NARROW_HI = 4096;
constexpr int64_t COMB_NARROW_WEIGHTS = 31;

// Whether all 3n samples of n pixels from `row` lie within the narrow range.
typedef bool (*CombRangeFn)(const PIXEL_YC* row, int n);

// The comb kernels of one tier: `span` takes any samples and settings;
// `narrow_span` (may be null) is used, when the weights allow, for the rows
// whose five source rows are narrow; `in_narrow_range` checks the rows that
// no narrow span has checked as its row r+2.
struct CombKernels {
    CombSpanFn span;
    CombSpanFn narrow_span;
    CombRangeFn in_narrow_range;
};

// The scalar reference of each entry.
int count_comb_span_scalar(const CombRows* rows, int x, int n, const CombParams* p);
int count_comb_span_narrow_scalar(const CombRows* rows, int x, int n, const CombParams* p);
bool comb_in_narrow_range_scalar(const PIXEL_YC* row, int n);
// SSE2: eight pixels (24 samples) a step, the rest with the scalar kernels.
int count_comb_span_sse2(const CombRows* rows, int x, int n, const CombParams* p);
int count_comb_span_narrow_sse2(const CombRows* rows, int x, int n, const CombParams* p);
bool comb_in_narrow_range_sse2(const PIXEL_YC* row, int n);
// AVX2: sixteen pixels a step, then the SSE2 steps; only where the CPU has
// AVX2.
int count_comb_span_avx2(const CombRows* rows, int x, int n, const CombParams* p);
int count_comb_span_narrow_avx2(const CombRows* rows, int x, int n, const CombParams* p);
bool comb_in_narrow_range_avx2(const PIXEL_YC* row, int n);

// The constant table of a tier (SIMD_SCALAR: the scalar references); a tier
// above cpu_simd_level() is not to be run.
const CombKernels* comb_kernels_for(SimdLevel level);
// The table count_comb uses: that of simd_level().
const CombKernels* comb_kernels(void);

// Counts the combed pixels of the candidate in src over rows 2 .. h-3 and the
// columns outside the processing window. 0 when h <= 4.
int count_comb(const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip);

// The same count for the candidate that weaving `earlier` and `later` with
// parity p gives (rows of parity p from `earlier`, the others from `later`,
// the last row of an odd height included), read straight from the two frames
// without weaving it anywhere.
int count_comb_weave(const PIXEL_YC* earlier, const PIXEL_YC* later, int parity, FILTER* fp,
                     FILTER_PROC_INFO* fpip);

// The counts with given kernels (tests and benchmarks compare them).
int count_comb_with(const CombKernels* kernels, const PIXEL_YC* src, FILTER* fp,
                    FILTER_PROC_INFO* fpip);
int count_comb_weave_with(const CombKernels* kernels, const PIXEL_YC* earlier,
                          const PIXEL_YC* later, int parity, FILTER* fp, FILTER_PROC_INFO* fpip);

}  // namespace pelta
