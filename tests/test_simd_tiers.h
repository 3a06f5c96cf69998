// What the per-tier kernel tests share: the tiers, and a fixture that runs a
// test once per tier and skips the tiers above the machine's.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/cpu.h"

constexpr pelta::SimdLevel kSimdTiers[] = {pelta::SIMD_SCALAR, pelta::SIMD_SSE2,
                                           pelta::SIMD_AVX2};

class SimdTierTest : public ::testing::TestWithParam<pelta::SimdLevel> {
protected:
    void SetUp() override {
        if (GetParam() > pelta::cpu_simd_level())
            GTEST_SKIP() << "CPU without " << pelta::simd_level_name(GetParam());
    }
};

// Test names end in the tier's name: .../scalar, .../sse2, .../avx2.
inline std::string simd_tier_name(const ::testing::TestParamInfo<pelta::SimdLevel>& info) {
    return pelta::simd_level_name(info.param);
}
