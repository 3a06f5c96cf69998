// The comb kernels with AVX2: the templates of comb_simd.h over Vec256,
// sixteen pixels a step, then the eight-pixel steps. Only what lies between
// PELTA_AVX2_BEGIN and PELTA_AVX2_END is built for AVX2 (the ordinary headers
// come first), and these kernels run only where the CPU has AVX2.
#include "base/simd_vec.h"
#include "match/comb.h"

PELTA_AVX2_BEGIN
#include "match/comb_simd.h"

namespace pelta {

int count_comb_span_avx2(const CombRows* rows, int x0, int n, const CombParams* p) {
    return comb_span<Vec256>(rows, x0, n, p);
}

int count_comb_span_narrow_avx2(const CombRows* rows, int x0, int n, const CombParams* p) {
    return comb_span_narrow<Vec256>(rows, x0, n, p);
}

bool comb_in_narrow_range_avx2(const PIXEL_YC* row, int n) {
    return comb_span_in_narrow_range<Vec256>(row, n);
}

}  // namespace pelta
PELTA_AVX2_END
