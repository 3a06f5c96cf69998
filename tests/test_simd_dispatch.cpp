// The dispatch of the plug-in's kernel families: each tier's table holds that
// tier's kernels, and the table in force is that of min(CPU tier, cap),
// following the cap as it moves.
#include <gtest/gtest.h>

#include "match/comb.h"
#include "match/lowpass.h"
#include "window/shift.h"
#include "tier_harness.h"

using namespace pelta;

namespace {

TEST(SimdDispatch, EachTierTableHoldsThatTiersKernels) {
    const struct {
        SimdLevel level;
        CombKernels comb;
        LowpassRowFn lowpass;
        ShiftRowFn shift;
    } tiers[] = {
        {SIMD_SCALAR,
         {count_comb_span_scalar, count_comb_span_narrow_scalar, comb_in_narrow_range_scalar},
         vertical_lowpass_row_scalar,
         shift_interp_row_scalar},
        {SIMD_SSE2,
         {count_comb_span_sse2, count_comb_span_narrow_sse2, comb_in_narrow_range_sse2},
         vertical_lowpass_row_sse2,
         shift_interp_row_sse2},
        {SIMD_AVX2,
         {count_comb_span_avx2, count_comb_span_narrow_avx2, comb_in_narrow_range_avx2},
         vertical_lowpass_row_avx2,
         shift_interp_row_avx2},
    };
    for (const auto& t : tiers) {
        const CombKernels* comb = comb_kernels_for(t.level);
        EXPECT_EQ(comb->span, t.comb.span) << simd_level_name(t.level);
        EXPECT_EQ(comb->narrow_span, t.comb.narrow_span) << simd_level_name(t.level);
        EXPECT_EQ(comb->in_narrow_range, t.comb.in_narrow_range) << simd_level_name(t.level);
        EXPECT_EQ(lowpass_kernels_for(t.level)->row, t.lowpass) << simd_level_name(t.level);
        EXPECT_EQ(shift_kernels_for(t.level)->interp_row, t.shift) << simd_level_name(t.level);
    }
}

TEST(SimdDispatch, TablesInForceFollowTheCapWithinTheCpu) {
    tier_harness::expect_dispatch_follows_cap(comb_kernels_for, comb_kernels);
    tier_harness::expect_dispatch_follows_cap(lowpass_kernels_for, lowpass_kernels);
    tier_harness::expect_dispatch_follows_cap(shift_kernels_for, shift_kernels);
}

}  // namespace
