// The comb span kernel with SSE2, the baseline of every build (the DLL's
// target included).
//
// A row of PIXEL_YC is a run of int16 samples y, cb, cr, y, cb, cr, ... The
// kernels work on that run lane by lane, without separating the components:
// each sample gets its own score and its own test (signed against TH_Y in the
// luma lanes, by magnitude against TH_C in the chroma lanes, from per-lane
// constants that repeat every 24 samples), and only the resulting pass/fail
// bits are gathered per pixel, eight pixels a step. The general kernel scores
// in 32-bit lanes; the narrow one, for samples and weights within the bounds
// comb.h gives, in 16-bit lanes.
#include <emmintrin.h>

#include "match/comb.h"
#include "match/comb_simd.h"

namespace pelta {

namespace {

// Eight pixels whose 24 samples are tested in m0, m1, m2 (all ones where a
// sample is not combed): how many have no combed sample.
inline int clear_pixels_of(__m128i m0, __m128i m1, __m128i m2) {
    const uint32_t bits =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(m0, m1))) |
        (static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(m2, m2)) & 0xFF) << 16);
    return clear_pixels_24(bits);
}

// Per-lane constants for the group of eight samples that starts at sample
// `first` of a 24-sample step: the threshold of each lane and a mask that is
// all ones in the chroma lanes.
struct LaneTests {
    __m128i th_lo, th_hi;  // samples 0..3 and 4..7 of the group
    __m128i cm_lo, cm_hi;
};

inline __m128i pick_threshold(__m128i chroma, __m128i th_c, __m128i th_y) {
    return _mm_or_si128(_mm_and_si128(chroma, th_c), _mm_andnot_si128(chroma, th_y));
}

LaneTests lane_tests(int first, const CombParams* p) {
    const __m128i th_y = _mm_set1_epi32(p->th_y);
    const __m128i th_c = _mm_set1_epi32(p->th_c);
    LaneTests t;
    t.cm_lo = _mm_load_si128(reinterpret_cast<const __m128i*>(COMB_CHROMA_MASK32 + first));
    t.cm_hi = _mm_load_si128(reinterpret_cast<const __m128i*>(COMB_CHROMA_MASK32 + first + 4));
    t.th_lo = pick_threshold(t.cm_lo, th_c, th_y);
    t.th_hi = pick_threshold(t.cm_hi, th_c, th_y);
    return t;
}

struct Weights {
    __m128i low;   // (HIGH, MID) low 16 bits, signed, as one multiply-add pair
    __m128i high;  // the remaining upper 16 bits of each weight
};

inline __m128i word_pair(int32_t first, int32_t second) {
    return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(second) << 16) |
                                               (static_cast<uint32_t>(first) & 0xFFFFu)));
}

// Scores the eight samples at a..e (rows r-2 .. r+2) in two halves of 32-bit
// lanes and returns, for each sample, all ones when it fails its test (is not
// combed), as int16 lanes in sample order.
template <bool Wide>
inline __m128i not_combed(const int16_t* a, const int16_t* b, const int16_t* c, const int16_t* d,
                          const int16_t* e, const Weights& w, const LaneTests& t) {
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i minus4 = _mm_set1_epi16(-4);
    const __m128i three = _mm_set1_epi16(3);
    const __m128i minus1 = _mm_set1_epi16(-1);
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
    const __m128i vd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    const __m128i ve = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e));

    // a + e, -4 (b + d), 6 c and -2 c, exactly, in 32 bits.
    const __m128i ae_lo = _mm_madd_epi16(_mm_unpacklo_epi16(va, ve), ones);
    const __m128i ae_hi = _mm_madd_epi16(_mm_unpackhi_epi16(va, ve), ones);
    const __m128i bd_lo = _mm_madd_epi16(_mm_unpacklo_epi16(vb, vd), minus4);
    const __m128i bd_hi = _mm_madd_epi16(_mm_unpackhi_epi16(vb, vd), minus4);
    const __m128i cc_lo = _mm_unpacklo_epi16(vc, vc);
    const __m128i cc_hi = _mm_unpackhi_epi16(vc, vc);
    const __m128i hi_lo =
        _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(ae_lo, bd_lo), _mm_madd_epi16(cc_lo, three)), 6);
    const __m128i hi_hi =
        _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(ae_hi, bd_hi), _mm_madd_epi16(cc_hi, three)), 6);
    const __m128i mid_lo = _mm_srai_epi32(_mm_add_epi32(ae_lo, _mm_madd_epi16(cc_lo, minus1)), 4);
    const __m128i mid_hi = _mm_srai_epi32(_mm_add_epi32(ae_hi, _mm_madd_epi16(cc_hi, minus1)), 4);

    // hi and mid lie within -8192..8191, so they pack to 16 bits unchanged
    // and meet the weights in one multiply-add.
    const __m128i hi16 = _mm_packs_epi32(hi_lo, hi_hi);
    const __m128i mid16 = _mm_packs_epi32(mid_lo, mid_hi);
    const __m128i hm_lo = _mm_unpacklo_epi16(hi16, mid16);
    const __m128i hm_hi = _mm_unpackhi_epi16(hi16, mid16);
    __m128i s_lo = _mm_madd_epi16(hm_lo, w.low);
    __m128i s_hi = _mm_madd_epi16(hm_hi, w.low);
    if (Wide) {
        // Weights beyond 16 bits: their upper halves only reach the upper 16
        // bits of the wrapped 32-bit score.
        s_lo = _mm_add_epi32(s_lo, _mm_slli_epi32(_mm_madd_epi16(hm_lo, w.high), 16));
        s_hi = _mm_add_epi32(s_hi, _mm_slli_epi32(_mm_madd_epi16(hm_hi, w.high), 16));
    }

    // Magnitude in the chroma lanes (the most negative value stays itself).
    const __m128i n_lo = _mm_and_si128(_mm_srai_epi32(s_lo, 31), t.cm_lo);
    const __m128i n_hi = _mm_and_si128(_mm_srai_epi32(s_hi, 31), t.cm_hi);
    s_lo = _mm_sub_epi32(_mm_xor_si128(s_lo, n_lo), n_lo);
    s_hi = _mm_sub_epi32(_mm_xor_si128(s_hi, n_hi), n_hi);
    // Not combed: threshold > value.
    return _mm_packs_epi32(_mm_cmpgt_epi32(t.th_lo, s_lo), _mm_cmpgt_epi32(t.th_hi, s_hi));
}

template <bool Wide>
int span_sse2(const CombRows* rows, int x0, int n, const CombParams* p) {
    const CombSamples rs = comb_samples(rows, x0);
    const int16_t *sa = rs.a, *sb = rs.b, *sc = rs.c, *sd = rs.d, *se = rs.e;

    Weights w;
    w.low = word_pair(p->high, p->mid);
    w.high = word_pair(comb_weight_upper(p->high), comb_weight_upper(p->mid));
    const LaneTests t0 = lane_tests(0, p);
    const LaneTests t1 = lane_tests(8, p);
    const LaneTests t2 = lane_tests(16, p);

    int clear = 0;  // pixels with no component combed
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        const int j = 3 * x;
        const __m128i m0 = not_combed<Wide>(sa + j, sb + j, sc + j, sd + j, se + j, w, t0);
        const __m128i m1 =
            not_combed<Wide>(sa + j + 8, sb + j + 8, sc + j + 8, sd + j + 8, se + j + 8, w, t1);
        const __m128i m2 = not_combed<Wide>(sa + j + 16, sb + j + 16, sc + j + 16, sd + j + 16,
                                            se + j + 16, w, t2);
        clear += clear_pixels_of(m0, m1, m2);
    }
    int count = x - clear;
    if (x < n) count += count_comb_span_scalar(rows, x0 + x, n - x, p);
    return count;
}

// Whether no lane of ORed (s + 4095) values has any of its top three bits set.
inline bool narrow_bits_clear(__m128i bits) {
    const __m128i top = _mm_and_si128(bits, _mm_set1_epi16(static_cast<int16_t>(0xE000)));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(top, _mm_setzero_si128())) == 0xFFFF;
}

// Narrow spans, in 16-bit lanes (see comb.h for the bounds). With samples
// within -4095 .. 4096, floor((a + e) / 2) is formed exactly as
// (a & e) + ((a ^ e) >> 1); the halved fourth difference
// floor((a + e) / 2) + 3c - 2(b + d) then lies within +-32764, so 16-bit
// wrapping arithmetic gives it exactly, and hi is it >> 5; the halved second
// difference floor((a + e) / 2) - c gives mid as it >> 3. With the weights'
// magnitudes adding up to 31 at most the score stays within +-31744, so
// thresholds clamped to 16 bits decide exactly as the 32-bit ones.
struct NarrowLanes {
    __m128i th[3];  // the three groups of eight samples of a 24-sample step
    __m128i cm[3];
};

NarrowLanes narrow_lanes(const CombParams* p) {
    const __m128i th_y = _mm_set1_epi16(comb_threshold16(p->th_y));
    const __m128i th_c = _mm_set1_epi16(comb_threshold16(p->th_c));
    NarrowLanes t;
    for (int g = 0; g < 3; ++g) {
        t.cm[g] = _mm_load_si128(reinterpret_cast<const __m128i*>(COMB_CHROMA_MASK16 + 8 * g));
        t.th[g] = pick_threshold(t.cm[g], th_c, th_y);
    }
    return t;
}

// As not_combed, for narrow samples; also ORs e + 4095 into `e_bits`, whose
// top three bits end up set if any sample of row e lies outside the range.
inline __m128i narrow_not_combed(const int16_t* a, const int16_t* b, const int16_t* c,
                                 const int16_t* d, const int16_t* e, __m128i w_high, __m128i w_mid,
                                 __m128i th, __m128i cm, __m128i& e_bits) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
    const __m128i vd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    const __m128i ve = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e));
    e_bits = _mm_or_si128(e_bits,
                          _mm_add_epi16(ve, _mm_set1_epi16(static_cast<int16_t>(-COMB_NARROW_LO))));
    const __m128i avg =
        _mm_add_epi16(_mm_and_si128(va, ve), _mm_srai_epi16(_mm_xor_si128(va, ve), 1));
    const __m128i c3 = _mm_add_epi16(_mm_add_epi16(vc, vc), vc);
    const __m128i bd2 = _mm_slli_epi16(_mm_add_epi16(vb, vd), 1);
    const __m128i hi = _mm_srai_epi16(_mm_add_epi16(avg, _mm_sub_epi16(c3, bd2)), 5);
    const __m128i mid = _mm_srai_epi16(_mm_sub_epi16(avg, vc), 3);
    const __m128i s = _mm_add_epi16(_mm_mullo_epi16(hi, w_high), _mm_mullo_epi16(mid, w_mid));
    const __m128i neg = _mm_and_si128(_mm_srai_epi16(s, 15), cm);
    const __m128i v = _mm_sub_epi16(_mm_xor_si128(s, neg), neg);
    return _mm_cmpgt_epi16(th, v);
}

}  // namespace

int count_comb_span_sse2_narrow(const CombRows* rows, int x0, int n, const CombParams* p) {
    const CombSamples rs = comb_samples(rows, x0);
    const int16_t *sa = rs.a, *sb = rs.b, *sc = rs.c, *sd = rs.d, *se = rs.e;
    const __m128i w_high = _mm_set1_epi16(static_cast<int16_t>(p->high));
    const __m128i w_mid = _mm_set1_epi16(static_cast<int16_t>(p->mid));
    const NarrowLanes t = narrow_lanes(p);

    __m128i e_bits = _mm_setzero_si128();
    int clear = 0;
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        const int j = 3 * x;
        const __m128i m0 = narrow_not_combed(sa + j, sb + j, sc + j, sd + j, se + j, w_high, w_mid,
                                             t.th[0], t.cm[0], e_bits);
        const __m128i m1 = narrow_not_combed(sa + j + 8, sb + j + 8, sc + j + 8, sd + j + 8,
                                             se + j + 8, w_high, w_mid, t.th[1], t.cm[1], e_bits);
        const __m128i m2 = narrow_not_combed(sa + j + 16, sb + j + 16, sc + j + 16, sd + j + 16,
                                             se + j + 16, w_high, w_mid, t.th[2], t.cm[2], e_bits);
        clear += clear_pixels_of(m0, m1, m2);
    }
    if (!narrow_bits_clear(e_bits) || !comb_span_narrow_scalar(rows->row[4] + x0 + x, n - x))
        return -1;
    int count = x - clear;
    if (x < n) count += count_comb_span_scalar(rows, x0 + x, n - x, p);
    return count;
}

bool comb_span_narrow_sse2(const PIXEL_YC* row, int n) {
    // s + 4095 lies within 0 .. 8191 exactly for s within -4095 .. 4096:
    // then none of its top three bits is set (as 16 bits, wrapping).
    const int16_t* s = reinterpret_cast<const int16_t*>(row);
    const __m128i offset = _mm_set1_epi16(static_cast<int16_t>(-COMB_NARROW_LO));
    __m128i any0 = _mm_setzero_si128(), any1 = any0, any2 = any0;
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        const int16_t* p = s + 3 * x;
        any0 = _mm_or_si128(
            any0, _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), offset));
        any1 = _mm_or_si128(
            any1, _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), offset));
        any2 = _mm_or_si128(
            any2, _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), offset));
    }
    return narrow_bits_clear(_mm_or_si128(any0, _mm_or_si128(any1, any2))) &&
           comb_span_narrow_scalar(row + x, n - x);
}

int count_comb_span_sse2(const CombRows* rows, int x0, int n, const CombParams* p) {
    if (comb_weights_wide(p)) return span_sse2<true>(rows, x0, n, p);
    return span_sse2<false>(rows, x0, n, p);
}

}  // namespace pelta
