// The dispatch of every kernel family: the table a stage uses is the one of
// simd_level(), following set_simd_cap as it moves the level.
#include <gtest/gtest.h>

#include "base/cpu.h"
#include "match/comb.h"
#include "match/lowpass.h"
#include "window/shift.h"

using namespace pelta;

namespace {

TEST(SimdDispatch, TablesFollowTheCap) {
    // Up and down through the tiers and back: after each cap, every family's
    // table holds the kernels of the capped tier (the machine's, at most).
    const SimdLevel caps[] = {SIMD_AVX2, SIMD_SCALAR, SIMD_SSE2, SIMD_SCALAR, SIMD_AVX2, SIMD_SSE2};
    for (SimdLevel cap : caps) {
        set_simd_cap(cap);
        const SimdLevel level = cap < cpu_simd_level() ? cap : cpu_simd_level();
        ASSERT_EQ(simd_level(), level);
        const CombKernels comb = *comb_kernels_for(level);
        EXPECT_EQ(comb_kernels()->span, comb.span) << simd_level_name(cap);
        EXPECT_EQ(comb_kernels()->narrow_span, comb.narrow_span) << simd_level_name(cap);
        EXPECT_EQ(comb_kernels()->in_narrow_range, comb.in_narrow_range) << simd_level_name(cap);
        EXPECT_EQ(lowpass_kernels()->row, lowpass_kernels_for(level)->row) << simd_level_name(cap);
        EXPECT_EQ(shift_kernels()->interp_row, shift_kernels_for(level)->interp_row)
            << simd_level_name(cap);
    }
    set_simd_cap(SIMD_AVX2);
}

}  // namespace
