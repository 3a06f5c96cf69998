// The low-pass row kernel on packed 16-bit samples with SSE2, the baseline of
// every build (the DLL's target included).
#include <emmintrin.h>

#include "match/lowpass.h"

namespace pelta {

namespace {

// Two 16-bit taps side by side in every 32-bit lane: `first` multiplies the
// low word of each lane, `second` the high word.
inline __m128i tap_pair(int32_t first, int32_t second) {
    return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(second) << 16) |
                                               (static_cast<uint32_t>(first) & 0xFFFFu)));
}

}  // namespace

void vertical_lowpass_row_sse2(const LowpassRows* rows) {
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

    // (pair 1, centre), (pair 3, pair 2) and (pair 4, pair 5) meet their taps
    // in one multiply-add each; every partial sum fits 32 bits exactly.
    const __m128i t1c = tap_pair(LOWPASS_TAPS[1], LOWPASS_TAPS[0]);
    const __m128i t32 = tap_pair(LOWPASS_TAPS[3], LOWPASS_TAPS[2]);
    const __m128i t45 = tap_pair(LOWPASS_TAPS[4], LOWPASS_TAPS[5]);
    const __m128i half = _mm_set1_epi32(16384);

#define PELTA_LOAD(p, j) _mm_loadu_si128(reinterpret_cast<const __m128i*>((p) + (j)))
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m128i vc = PELTA_LOAD(c, j);
        // Saturating adds: the clamped pair sums.
        const __m128i p1 = _mm_adds_epi16(PELTA_LOAD(a1, j), PELTA_LOAD(b1, j));
        const __m128i p2 = _mm_adds_epi16(PELTA_LOAD(a2, j), PELTA_LOAD(b2, j));
        const __m128i p3 = _mm_adds_epi16(PELTA_LOAD(a3, j), PELTA_LOAD(b3, j));
        const __m128i p4 = _mm_adds_epi16(PELTA_LOAD(a4, j), PELTA_LOAD(b4, j));
        const __m128i p5 = _mm_adds_epi16(PELTA_LOAD(a5, j), PELTA_LOAD(b5, j));
        __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p1, vc), t1c),
                                   _mm_madd_epi16(_mm_unpacklo_epi16(p3, p2), t32));
        __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(p1, vc), t1c),
                                   _mm_madd_epi16(_mm_unpackhi_epi16(p3, p2), t32));
        lo =
            _mm_add_epi32(lo, _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p4, p5), t45), half));
        hi =
            _mm_add_epi32(hi, _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(p4, p5), t45), half));
        lo = _mm_srai_epi32(lo, 15);
        hi = _mm_srai_epi32(hi, 15);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packs_epi32(lo, hi));
    }
#undef PELTA_LOAD

    // Four samples at a time in the low halves.
#define PELTA_LOAD4(p, j) _mm_loadl_epi64(reinterpret_cast<const __m128i*>((p) + (j)))
    if (j + 4 <= n) {
        const __m128i vc = PELTA_LOAD4(c, j);
        const __m128i p1 = _mm_adds_epi16(PELTA_LOAD4(a1, j), PELTA_LOAD4(b1, j));
        const __m128i p2 = _mm_adds_epi16(PELTA_LOAD4(a2, j), PELTA_LOAD4(b2, j));
        const __m128i p3 = _mm_adds_epi16(PELTA_LOAD4(a3, j), PELTA_LOAD4(b3, j));
        const __m128i p4 = _mm_adds_epi16(PELTA_LOAD4(a4, j), PELTA_LOAD4(b4, j));
        const __m128i p5 = _mm_adds_epi16(PELTA_LOAD4(a5, j), PELTA_LOAD4(b5, j));
        __m128i acc = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p1, vc), t1c),
                                    _mm_madd_epi16(_mm_unpacklo_epi16(p3, p2), t32));
        acc = _mm_add_epi32(acc,
                            _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p4, p5), t45), half));
        acc = _mm_srai_epi32(acc, 15);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j), _mm_packs_epi32(acc, acc));
        j += 4;
    }
#undef PELTA_LOAD4

    // The last (3w mod 4) samples one at a time.
    if (j < n) {
        const LowpassRows rest = lowpass_rows_from(rows, j);
        vertical_lowpass_row_scalar(&rest);
    }
}

}  // namespace pelta
