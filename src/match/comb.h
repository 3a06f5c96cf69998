// Comb count: how many pixels of a woven candidate, outside the processing
// window, show the vertical zig-zag that a wrong weave leaves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_records.h"

// The four settings the comb test reads, taken once per count.
struct CombParams {
    int32_t th_y;  // luma: combed when score >= th_y (signed compare)
    int32_t th_c;  // chroma: combed when |score| >= th_c
    int32_t high;  // weight of the fourth difference across both fields
    int32_t mid;   // weight of the second difference within the field
};

// Counts the combed pixels among n consecutive pixels of one row. `c` points
// at the first of them; rows r-2 .. r+2 lie `stride` pixels apart. Every span
// kernel below gives exactly the scalar reference's result.
typedef int (*CombSpanFn)(const PIXEL_YC* c, ptrdiff_t stride, int n, const CombParams* p);

int count_comb_span_scalar(const PIXEL_YC* c, ptrdiff_t stride, int n, const CombParams* p);

// The span kernel count_comb uses on this CPU.
CombSpanFn comb_span_kernel(void);

// Counts the combed pixels of the candidate in src over rows 2 .. h-3 and the
// columns outside the processing window. 0 when h <= 4.
int count_comb(const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip);
