#include "base/cpu.h"

#include <cpuid.h>

namespace pelta {
namespace {

// The command-line host converts frames on several threads, which all read
// these; relaxed atomic loads and stores keep that well defined and are
// plain moves on x86. Two threads that detect at once store the same value.
int detected_level = -1;  // -1: not yet asked
int level_cap = SIMD_AVX2;
int cpu_limit = SIMD_AVX2;

// XCR0 through xgetbv: whether the OS saves the AVX (YMM) registers.
unsigned long long read_xcr0(void) {
    unsigned int lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<unsigned long long>(hi) << 32) | lo;
}

bool detect_avx2(void) {
    unsigned int a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool osxsave = (c & bit_OSXSAVE) != 0;
    const bool avx = (c & bit_AVX) != 0;
    if (!osxsave || !avx) return false;
    if ((read_xcr0() & 0x6) != 0x6) return false;  // XMM and YMM state enabled
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & bit_AVX2) != 0;
}

}  // namespace

const char* simd_level_name(SimdLevel level) {
    switch (level) {
        case SIMD_SCALAR: return "scalar";
        case SIMD_SSE2: return "sse2";
        case SIMD_AVX2: return "avx2";
    }
    return "?";
}

SimdLevel cpu_simd_level(void) {
    int level = __atomic_load_n(&detected_level, __ATOMIC_RELAXED);
    if (level < 0) {
        level = detect_avx2() ? SIMD_AVX2 : SIMD_SSE2;
        __atomic_store_n(&detected_level, level, __ATOMIC_RELAXED);
    }
    const int limit = __atomic_load_n(&cpu_limit, __ATOMIC_RELAXED);
    return static_cast<SimdLevel>(limit < level ? limit : level);
}

SimdLevel simd_level(void) {
    const int cpu = cpu_simd_level();
    const int cap = __atomic_load_n(&level_cap, __ATOMIC_RELAXED);
    return static_cast<SimdLevel>(cap < cpu ? cap : cpu);
}

void set_simd_cap(SimdLevel cap) { __atomic_store_n(&level_cap, static_cast<int>(cap), __ATOMIC_RELAXED); }

void limit_cpu_simd_level(SimdLevel level) {
    __atomic_store_n(&cpu_limit, static_cast<int>(level), __ATOMIC_RELAXED);
}

}  // namespace pelta
