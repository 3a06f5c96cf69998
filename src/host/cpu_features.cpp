#include "host/cpu_features.h"

#include <cpuid.h>

namespace {

int avx2_state = -1;  // -1 not yet asked, 0 no, 1 yes
bool avx2_disabled = false;

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

bool cpu_has_avx2(void) {
    if (avx2_disabled) return false;
    if (avx2_state < 0) avx2_state = detect_avx2() ? 1 : 0;
    return avx2_state == 1;
}

void cpu_disable_avx2(bool disabled) { avx2_disabled = disabled; }
