// The comb span kernel with AVX2, sixteen pixels (48 samples) a step, worked
// lane by lane as the SSE2 kernel does. Only the functions marked PELTA_AVX2
// are compiled for AVX2 (a target attribute, not a file-wide flag), so no
// shared inline code is built for a CPU that may lack it; the kernel runs only
// where cpu_has_avx2() says so.
#include <immintrin.h>

#include "match/comb.h"
#include "match/comb_simd.h"

#define PELTA_AVX2 __attribute__((target("avx2")))

namespace pelta {

namespace {

// Sixteen pixels whose 48 samples are tested in m0, m1, m2 (all ones where a
// sample is not combed): how many have no combed sample. packs interleaves
// the 128-bit lanes; the permute puts the bytes back in sample order.
PELTA_AVX2 inline int clear_pixels_of(__m256i m0, __m256i m1, __m256i m2) {
    const __m256i b01 = _mm256_permute4x64_epi64(_mm256_packs_epi16(m0, m1), 0xD8);
    const __m256i b2 = _mm256_permute4x64_epi64(_mm256_packs_epi16(m2, m2), 0xD8);
    const uint32_t low = static_cast<uint32_t>(_mm256_movemask_epi8(b01));
    const uint32_t high = static_cast<uint32_t>(_mm256_movemask_epi8(b2)) & 0xFFFFu;
    return clear_pixels_24(low & 0xFFFFFFu) + clear_pixels_24((low >> 24) | (high << 8));
}

// Per-lane constants for the group of sixteen samples that starts at sample
// `first` of a 48-sample step. The unpack steps below work within 128-bit
// lanes: the "lo" half of a group holds samples 0..3 and 8..11, the "hi" half
// samples 4..7 and 12..15.
struct LaneTests {
    __m256i th_lo, th_hi;
    __m256i cm_lo, cm_hi;
};

PELTA_AVX2 inline __m256i pick_threshold(__m256i chroma, __m256i th_c, __m256i th_y) {
    return _mm256_blendv_epi8(th_y, th_c, chroma);
}

PELTA_AVX2 inline __m256i two_halves(const int32_t* low, const int32_t* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

PELTA_AVX2 LaneTests lane_tests(int first, const CombParams* p) {
    const __m256i th_y = _mm256_set1_epi32(p->th_y);
    const __m256i th_c = _mm256_set1_epi32(p->th_c);
    const int32_t* m = COMB_CHROMA_MASK32 + first;
    LaneTests t;
    t.cm_lo = two_halves(m, m + 8);
    t.cm_hi = two_halves(m + 4, m + 12);
    t.th_lo = pick_threshold(t.cm_lo, th_c, th_y);
    t.th_hi = pick_threshold(t.cm_hi, th_c, th_y);
    return t;
}

struct Weights {
    __m256i low;   // (HIGH, MID) low 16 bits, signed, as one multiply-add pair
    __m256i high;  // the remaining upper 16 bits of each weight
};

PELTA_AVX2 inline __m256i word_pair(int32_t first, int32_t second) {
    return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(second) << 16) |
                                                  (static_cast<uint32_t>(first) & 0xFFFFu)));
}

// As the SSE2 kernel's not_combed, for sixteen samples: all ones in each
// int16 lane whose sample fails its test, in sample order.
template <bool Wide>
PELTA_AVX2 inline __m256i not_combed(const int16_t* a, const int16_t* b, const int16_t* c,
                                     const int16_t* d, const int16_t* e, const Weights& w,
                                     const LaneTests& t) {
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i minus4 = _mm256_set1_epi16(-4);
    const __m256i three = _mm256_set1_epi16(3);
    const __m256i minus1 = _mm256_set1_epi16(-1);
    const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
    const __m256i vc = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
    const __m256i vd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
    const __m256i ve = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e));

    const __m256i ae_lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(va, ve), ones);
    const __m256i ae_hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(va, ve), ones);
    const __m256i bd_lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(vb, vd), minus4);
    const __m256i bd_hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(vb, vd), minus4);
    const __m256i cc_lo = _mm256_unpacklo_epi16(vc, vc);
    const __m256i cc_hi = _mm256_unpackhi_epi16(vc, vc);
    const __m256i hi_lo = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_add_epi32(ae_lo, bd_lo), _mm256_madd_epi16(cc_lo, three)), 6);
    const __m256i hi_hi = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_add_epi32(ae_hi, bd_hi), _mm256_madd_epi16(cc_hi, three)), 6);
    const __m256i mid_lo =
        _mm256_srai_epi32(_mm256_add_epi32(ae_lo, _mm256_madd_epi16(cc_lo, minus1)), 4);
    const __m256i mid_hi =
        _mm256_srai_epi32(_mm256_add_epi32(ae_hi, _mm256_madd_epi16(cc_hi, minus1)), 4);

    const __m256i hi16 = _mm256_packs_epi32(hi_lo, hi_hi);
    const __m256i mid16 = _mm256_packs_epi32(mid_lo, mid_hi);
    const __m256i hm_lo = _mm256_unpacklo_epi16(hi16, mid16);
    const __m256i hm_hi = _mm256_unpackhi_epi16(hi16, mid16);
    __m256i s_lo = _mm256_madd_epi16(hm_lo, w.low);
    __m256i s_hi = _mm256_madd_epi16(hm_hi, w.low);
    if (Wide) {
        s_lo = _mm256_add_epi32(s_lo, _mm256_slli_epi32(_mm256_madd_epi16(hm_lo, w.high), 16));
        s_hi = _mm256_add_epi32(s_hi, _mm256_slli_epi32(_mm256_madd_epi16(hm_hi, w.high), 16));
    }

    // Magnitude in the chroma lanes; abs leaves the most negative value as
    // it is, as the scalar wrap_abs does.
    s_lo = _mm256_blendv_epi8(s_lo, _mm256_abs_epi32(s_lo), t.cm_lo);
    s_hi = _mm256_blendv_epi8(s_hi, _mm256_abs_epi32(s_hi), t.cm_hi);
    return _mm256_packs_epi32(_mm256_cmpgt_epi32(t.th_lo, s_lo), _mm256_cmpgt_epi32(t.th_hi, s_hi));
}

template <bool Wide>
PELTA_AVX2 int span_avx2(const CombRows* rows, int x0, int n, const CombParams* p) {
    const CombSamples rs = comb_samples(rows, x0);
    const int16_t *sa = rs.a, *sb = rs.b, *sc = rs.c, *sd = rs.d, *se = rs.e;

    Weights w;
    w.low = word_pair(p->high, p->mid);
    w.high = word_pair(comb_weight_upper(p->high), comb_weight_upper(p->mid));
    const LaneTests t0 = lane_tests(0, p);
    const LaneTests t1 = lane_tests(16, p);
    const LaneTests t2 = lane_tests(32, p);

    int clear = 0;
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const int j = 3 * x;
        const __m256i m0 = not_combed<Wide>(sa + j, sb + j, sc + j, sd + j, se + j, w, t0);
        const __m256i m1 = not_combed<Wide>(sa + j + 16, sb + j + 16, sc + j + 16, sd + j + 16,
                                            se + j + 16, w, t1);
        const __m256i m2 = not_combed<Wide>(sa + j + 32, sb + j + 32, sc + j + 32, sd + j + 32,
                                            se + j + 32, w, t2);
        clear += clear_pixels_of(m0, m1, m2);
    }
    int count = x - clear;
    if (x < n) count += count_comb_span_sse2(rows, x0 + x, n - x, p);
    return count;
}

// Narrow spans in 16-bit lanes, as the SSE2 narrow kernel explains; every
// step is lane-wise, so the 128-bit halves need no care until the packing.
struct NarrowLanes {
    __m256i th[3];  // the three groups of sixteen samples of a 48-sample step
    __m256i cm[3];
};

PELTA_AVX2 NarrowLanes narrow_lanes(const CombParams* p) {
    const __m256i th_y = _mm256_set1_epi16(comb_threshold16(p->th_y));
    const __m256i th_c = _mm256_set1_epi16(comb_threshold16(p->th_c));
    NarrowLanes t;
    for (int g = 0; g < 3; ++g) {
        t.cm[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(COMB_CHROMA_MASK16 + 16 * g));
        t.th[g] = pick_threshold(t.cm[g], th_c, th_y);
    }
    return t;
}

PELTA_AVX2 inline __m256i narrow_not_combed(const int16_t* a, const int16_t* b, const int16_t* c,
                                            const int16_t* d, const int16_t* e, __m256i w_high,
                                            __m256i w_mid, __m256i th, __m256i cm,
                                            __m256i& e_bits) {
    const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
    const __m256i vc = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
    const __m256i vd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
    const __m256i ve = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e));
    e_bits = _mm256_or_si256(
        e_bits, _mm256_add_epi16(ve, _mm256_set1_epi16(static_cast<int16_t>(-COMB_NARROW_LO))));
    const __m256i avg =
        _mm256_add_epi16(_mm256_and_si256(va, ve), _mm256_srai_epi16(_mm256_xor_si256(va, ve), 1));
    const __m256i c3 = _mm256_add_epi16(_mm256_add_epi16(vc, vc), vc);
    const __m256i bd2 = _mm256_slli_epi16(_mm256_add_epi16(vb, vd), 1);
    const __m256i hi = _mm256_srai_epi16(_mm256_add_epi16(avg, _mm256_sub_epi16(c3, bd2)), 5);
    const __m256i mid = _mm256_srai_epi16(_mm256_sub_epi16(avg, vc), 3);
    const __m256i s =
        _mm256_add_epi16(_mm256_mullo_epi16(hi, w_high), _mm256_mullo_epi16(mid, w_mid));
    // Magnitude in the chroma lanes (no score here reaches -32768).
    const __m256i v = _mm256_blendv_epi8(s, _mm256_abs_epi16(s), cm);
    return _mm256_cmpgt_epi16(th, v);
}

}  // namespace

PELTA_AVX2 int count_comb_span_avx2_narrow(const CombRows* rows, int x0, int n,
                                           const CombParams* p) {
    const CombSamples rs = comb_samples(rows, x0);
    const int16_t *sa = rs.a, *sb = rs.b, *sc = rs.c, *sd = rs.d, *se = rs.e;
    const __m256i w_high = _mm256_set1_epi16(static_cast<int16_t>(p->high));
    const __m256i w_mid = _mm256_set1_epi16(static_cast<int16_t>(p->mid));
    const NarrowLanes t = narrow_lanes(p);

    __m256i e_bits = _mm256_setzero_si256();
    int clear = 0;
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const int j = 3 * x;
        const __m256i m0 = narrow_not_combed(sa + j, sb + j, sc + j, sd + j, se + j, w_high, w_mid,
                                             t.th[0], t.cm[0], e_bits);
        const __m256i m1 = narrow_not_combed(sa + j + 16, sb + j + 16, sc + j + 16, sd + j + 16,
                                             se + j + 16, w_high, w_mid, t.th[1], t.cm[1], e_bits);
        const __m256i m2 = narrow_not_combed(sa + j + 32, sb + j + 32, sc + j + 32, sd + j + 32,
                                             se + j + 32, w_high, w_mid, t.th[2], t.cm[2], e_bits);
        clear += clear_pixels_of(m0, m1, m2);
    }
    // Row e: any sample outside the range leaves one of the top three bits set.
    const __m256i top = _mm256_and_si256(e_bits, _mm256_set1_epi16(static_cast<int16_t>(0xE000)));
    if (!_mm256_testz_si256(top, top)) return -1;
    if (x == n) return x - clear;
    const int rest = count_comb_span_sse2_narrow(rows, x0 + x, n - x, p);
    return rest < 0 ? -1 : x - clear + rest;
}

PELTA_AVX2 int count_comb_span_avx2(const CombRows* rows, int x0, int n,
                                    const CombParams* p) {
    if (comb_weights_wide(p)) return span_avx2<true>(rows, x0, n, p);
    return span_avx2<false>(rows, x0, n, p);
}

}  // namespace pelta
