// The low-pass row kernel with AVX2, sixteen samples a step. Only this
// function is compiled for AVX2 (a target attribute, not a file-wide flag), so
// no shared inline code is built for a CPU that may lack it; it runs only
// where cpu_has_avx2() says so.
#include <immintrin.h>

#include "match/lowpass.h"

#define PELTA_AVX2 __attribute__((target("avx2")))

namespace pelta {

PELTA_AVX2 void vertical_lowpass_row_avx2(const LowpassRows* rows) {
    const int16_t* const c = rows->centre;
    const int16_t* const a1 = rows->above[1];
    const int16_t* const a2 = rows->above[2];
    const int16_t* const a3 = rows->above[3];
    const int16_t* const a4 = rows->above[4];
    const int16_t* const a5 = rows->above[5];
    const int16_t* const b1 = rows->below[1];
    const int16_t* const b2 = rows->below[2];
    const int16_t* const b3 = rows->below[3];
    const int16_t* const b4 = rows->below[4];
    const int16_t* const b5 = rows->below[5];
    int16_t* const out = rows->out;
    const int n = rows->n;

    // Tap pairs as in the SSE2 kernel: the low word of each 32-bit lane takes
    // the first tap, the high word the second.
    const __m256i t1c =
        _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(LOWPASS_TAPS[0]) << 16) |
                                               (static_cast<uint32_t>(LOWPASS_TAPS[1]) & 0xFFFFu)));
    const __m256i t32 =
        _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(LOWPASS_TAPS[2]) << 16) |
                                               (static_cast<uint32_t>(LOWPASS_TAPS[3]) & 0xFFFFu)));
    const __m256i t45 =
        _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(LOWPASS_TAPS[5]) << 16) |
                                               (static_cast<uint32_t>(LOWPASS_TAPS[4]) & 0xFFFFu)));
    const __m256i half = _mm256_set1_epi32(16384);

    // unpacklo/unpackhi and packs all work within 128-bit lanes, so packing
    // the two halves back restores the sample order.
#define PELTA_LOAD(p, j) _mm256_loadu_si256(reinterpret_cast<const __m256i*>((p) + (j)))
    int j = 0;
    for (; j + 16 <= n; j += 16) {
        const __m256i vc = PELTA_LOAD(c, j);
        const __m256i p1 = _mm256_adds_epi16(PELTA_LOAD(a1, j), PELTA_LOAD(b1, j));
        const __m256i p2 = _mm256_adds_epi16(PELTA_LOAD(a2, j), PELTA_LOAD(b2, j));
        const __m256i p3 = _mm256_adds_epi16(PELTA_LOAD(a3, j), PELTA_LOAD(b3, j));
        const __m256i p4 = _mm256_adds_epi16(PELTA_LOAD(a4, j), PELTA_LOAD(b4, j));
        const __m256i p5 = _mm256_adds_epi16(PELTA_LOAD(a5, j), PELTA_LOAD(b5, j));
        __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(p1, vc), t1c),
                                      _mm256_madd_epi16(_mm256_unpacklo_epi16(p3, p2), t32));
        __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(p1, vc), t1c),
                                      _mm256_madd_epi16(_mm256_unpackhi_epi16(p3, p2), t32));
        lo = _mm256_add_epi32(
            lo, _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(p4, p5), t45), half));
        hi = _mm256_add_epi32(
            hi, _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(p4, p5), t45), half));
        lo = _mm256_srai_epi32(lo, 15);
        hi = _mm256_srai_epi32(hi, 15);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), _mm256_packs_epi32(lo, hi));
    }
#undef PELTA_LOAD

    // Fewer than sixteen left: the SSE2 kernel's eight-, four- and
    // one-sample steps give the same values.
    if (j < n) {
        const LowpassRows rest = lowpass_rows_from(rows, j);
        vertical_lowpass_row_sse2(&rest);
    }
}

}  // namespace pelta
