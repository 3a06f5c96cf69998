// Which SIMD instruction sets this CPU and operating system can run, asked
// once, lazily: the DLL runs no constructors at load. Every kernel family
// fills its dispatch table from simd_level().
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

// The highest tier this machine runs.
SimdLevel cpu_simd_level(void);

// The tier the dispatch tables are filled for: the machine's, lowered to the
// cap while one is set.
SimdLevel simd_level(void);

// Caps the tier (tests and benchmarks pin the dispatch with it); SIMD_AVX2
// lifts the cap.
void set_simd_cap(SimdLevel cap);

// A kernel family's dispatch table and the tier it was filled for (-1: not
// yet filled). A module static initialised to {{}, -1}: constant data, no
// constructor.
template <class Table>
struct SimdTable {
    Table table;
    int level;
};

// The table for simd_level(), filled by `fill` on first use and again only
// when the level has changed since (which only set_simd_cap does).
template <class Table>
const Table* simd_table(SimdTable<Table>* t, Table (*fill)(SimdLevel)) {
    const SimdLevel level = simd_level();
    if (t->level != level) {
        t->table = fill(level);
        t->level = level;
    }
    return &t->table;
}

}  // namespace pelta
