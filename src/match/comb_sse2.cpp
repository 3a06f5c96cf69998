// The comb kernels with SSE2, the baseline of every build (the DLL's target
// included): the templates of comb_simd.h over Vec128, eight pixels a step.
#include "match/comb.h"
#include "match/comb_simd.h"

namespace pelta {

int count_comb_span_sse2(const CombRows* rows, int x0, int n, const CombParams* p) {
    return comb_span<Vec128>(rows, x0, n, p);
}

int count_comb_span_narrow_sse2(const CombRows* rows, int x0, int n, const CombParams* p) {
    return comb_span_narrow<Vec128>(rows, x0, n, p);
}

bool comb_in_narrow_range_sse2(const PIXEL_YC* row, int n) {
    return comb_span_in_narrow_range<Vec128>(row, n);
}

}  // namespace pelta
