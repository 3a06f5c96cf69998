// Which SIMD instruction sets this CPU and operating system can run, asked
// once, lazily (the DLL runs no constructors at load), and the tier the
// kernels run at.
//
// Every kernel family has one constant table of kernels per tier (plain
// data, no constructor), given by its x_kernels_for(level), and takes the
// table in force from simd_kernels(): the table of simd_level(), looked up on
// every use. Nothing is filled at load or refilled when the cap moves, and
// any thread may ask at any time.
#pragma once

namespace pelta {

// Kernel tiers, lowest first. SSE2 is the baseline of every build (the DLL's
// target, and x86-64); SIMD_SCALAR exists so tests and benchmarks can run the
// plain reference kernels through the same tables.
enum SimdLevel {
    SIMD_SCALAR = 0,
    SIMD_SSE2 = 1,
    SIMD_AVX2 = 2,
};
constexpr int SIMD_LEVEL_COUNT = 3;

// "scalar", "sse2", "avx2".
const char* simd_level_name(SimdLevel level);

// The highest tier this machine runs (lowered to limit_cpu_simd_level's
// limit while one is set).
SimdLevel cpu_simd_level(void);

// The tier the kernels run at: the machine's, lowered to the cap while one
// is set.
SimdLevel simd_level(void);

// Caps the tier (tests and benchmarks pin the dispatch with it); SIMD_AVX2
// lifts the cap.
void set_simd_cap(SimdLevel cap);

// Tests: has cpu_simd_level() report at most `level`, as a CPU without the
// tiers above would, so that the dispatch's clamp to the machine can be
// checked on a machine that has them; SIMD_AVX2 lifts the limit. It only
// ever lowers the tier.
void limit_cpu_simd_level(SimdLevel level);

// The table in force of a kernel family, from its per-tier tables: that of
// simd_level().
template <class Table>
inline const Table* simd_kernels(const Table* (*kernels_for)(SimdLevel)) {
    return kernels_for(simd_level());
}

}  // namespace pelta
