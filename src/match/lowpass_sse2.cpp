// The low-pass row kernel with SSE2, the baseline of every build (the DLL's
// target included): eight, then four samples a step.
#include "match/lowpass.h"
#include "match/lowpass_simd.h"

namespace pelta {

void vertical_lowpass_row_sse2(const LowpassRows* rows) { lowpass_row<Vec128>(rows); }

}  // namespace pelta
