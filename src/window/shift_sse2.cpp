// The field shift's row kernel with SSE2, the baseline of every build (the
// DLL's target included): eight, then four samples a step.
#include "window/shift.h"
#include "window/shift_simd.h"

namespace pelta {

void shift_interp_row_sse2(const ShiftRows* rows, const int32_t taps[4]) {
    shift_interp_row<Vec128>(rows, taps);
}

}  // namespace pelta
