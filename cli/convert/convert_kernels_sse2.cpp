// The row kernels with SSE2, 8 samples or pixels a step; the rest of a row
// goes to the plain kernels. SSE2 is the baseline of every build.
#include "base/simd_vec.h"
#include "convert/convert_kernels.h"
#include "convert/convert_simd.h"

namespace pelta_cli {

using namespace pelta;

namespace {

// Two pixels as Y Cb Cr 0 in each 64-bit lane to their 12 bytes, then zeros.
inline __m128i close_gap(__m128i q) { return _mm_or_si128(_mm_move_epi64(q), _mm_slli_si128(_mm_srli_si128(q, 8), 6)); }

// The inverse: the pixel in bytes 6..11 to the upper 64-bit lane.
inline __m128i open_gap(__m128i q) { return _mm_unpacklo_epi64(q, _mm_srli_si128(q, 6)); }

// Stores 8 pixels from their three samples (8 lanes each) as 48 bytes.
inline void store_pixels(PIXEL_YC* dst, __m128i y, __m128i cb, __m128i cr) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i yc_lo = _mm_unpacklo_epi16(y, cb), yc_hi = _mm_unpackhi_epi16(y, cb);
    const __m128i cr_lo = _mm_unpacklo_epi16(cr, zero), cr_hi = _mm_unpackhi_epi16(cr, zero);
    const __m128i p01 = close_gap(_mm_unpacklo_epi32(yc_lo, cr_lo));
    const __m128i p23 = close_gap(_mm_unpackhi_epi32(yc_lo, cr_lo));
    const __m128i p45 = close_gap(_mm_unpacklo_epi32(yc_hi, cr_hi));
    const __m128i p67 = close_gap(_mm_unpackhi_epi32(yc_hi, cr_hi));
    // Four runs of 12 bytes into three registers.
    __m128i* d = reinterpret_cast<__m128i*>(dst);
    _mm_storeu_si128(d, _mm_or_si128(p01, _mm_slli_si128(p23, 12)));
    _mm_storeu_si128(d + 1, _mm_or_si128(_mm_srli_si128(p23, 4), _mm_slli_si128(p45, 8)));
    _mm_storeu_si128(d + 2, _mm_or_si128(_mm_srli_si128(p45, 8), _mm_slli_si128(p67, 4)));
}

// The steps of interleave and deinterleave, 8 pixels each.
template <typename S>
struct Pixels {
    static PELTA_SIMD_INLINE void interleave(const uint8_t* luma, const int16_t* cb, const int16_t* cr,
                                             const Coding& k, PIXEL_YC* dst) {
        store_pixels(dst, luma_from_codes<Vec128>(load_codes_high<Vec128, S>(luma, k)), Vec128::load(cb),
                     Vec128::load(cr));
    }

    static PELTA_SIMD_INLINE void deinterleave(const PIXEL_YC* src, const Coding& k, uint8_t* luma, int16_t* cb,
                                               int16_t* cr) {
        // 8 pixels of 6 bytes in three registers; each run of two pixels (12
        // bytes) moved to the bottom of its own register, and then each pixel
        // into a 64-bit lane (Y Cb Cr and one stray sample).
        const __m128i* s = reinterpret_cast<const __m128i*>(src);
        const __m128i r0 = _mm_loadu_si128(s), r1 = _mm_loadu_si128(s + 1), r2 = _mm_loadu_si128(s + 2);
        const __m128i p01 = open_gap(r0);
        const __m128i p23 = open_gap(_mm_or_si128(_mm_srli_si128(r0, 12), _mm_slli_si128(r1, 4)));
        const __m128i p45 = open_gap(_mm_or_si128(_mm_srli_si128(r1, 8), _mm_slli_si128(r2, 8)));
        const __m128i p67 = open_gap(_mm_srli_si128(r2, 4));
        // A transpose of the 16-bit lanes gathers the Y, Cb and Cr of all 8.
        const __m128i t0 = _mm_unpacklo_epi16(p01, p23), t1 = _mm_unpackhi_epi16(p01, p23);
        const __m128i t2 = _mm_unpacklo_epi16(p45, p67), t3 = _mm_unpackhi_epi16(p45, p67);
        const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
        const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
        encode_luma<Vec128, S>(luma, _mm_unpacklo_epi64(u0, u2), k);
        Vec128::store(cb, _mm_unpackhi_epi64(u0, u2));
        Vec128::store(cr, _mm_unpacklo_epi64(u1, u3));
    }
};

constexpr ConvertKernels kSse2 = vector_kernels<Vec128, Pixels>();

}  // namespace

const ConvertKernels* convert_kernels_sse2() { return &kSse2; }

}  // namespace pelta_cli
