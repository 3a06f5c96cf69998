// The field shift's row kernel with AVX2: sixteen samples a step, then the
// SSE2 steps. Only what lies between PELTA_AVX2_BEGIN and PELTA_AVX2_END is
// built for AVX2 (the ordinary headers come first), and the kernel runs only
// where the CPU has AVX2.
#include "base/simd_vec.h"
#include "window/shift.h"

PELTA_AVX2_BEGIN
#include "window/shift_simd.h"

namespace pelta {

void shift_interp_row_avx2(const ShiftRows* rows, const int32_t taps[4]) {
    shift_interp_row<Vec256>(rows, taps);
}

}  // namespace pelta
PELTA_AVX2_END
