// The low-pass row kernel with AVX2: sixteen samples a step, then the SSE2
// steps. Only what lies between PELTA_AVX2_BEGIN and PELTA_AVX2_END is built
// for AVX2 (the ordinary headers come first), and the kernel runs only where
// the CPU has AVX2.
#include "base/simd_vec.h"
#include "match/lowpass.h"

PELTA_AVX2_BEGIN
#include "match/lowpass_simd.h"

namespace pelta {

void vertical_lowpass_row_avx2(const LowpassRows* rows) { lowpass_row<Vec256>(rows); }

}  // namespace pelta
PELTA_AVX2_END
