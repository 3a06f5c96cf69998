// The comb span kernels on packed samples, written once over the vector types
// of base/simd_vec.h: comb_sse2.cpp instantiates them for Vec128,
// comb_avx2.cpp for Vec256 (inside PELTA_AVX2_BEGIN/END, after the headers
// included here). Everything here has internal linkage.
//
// A row of PIXEL_YC is a run of int16 samples y, cb, cr, y, cb, cr, ... The
// kernels work on that run lane by lane, without separating the components:
// each sample gets its own score and its own test (signed against TH_Y in the
// luma lanes, by magnitude against TH_C in the chroma lanes, from per-lane
// constants that repeat every 24 samples), and only the resulting pass/fail
// bits are gathered per pixel, LANES16 pixels (3 vectors of samples) a step.
// The general kernel scores in 32-bit lanes; the narrow one, for samples and
// weights within the bounds comb.h gives, in 16-bit lanes. What a step
// leaves over goes to the steps of half the width, and the last pixels to
// the scalar kernels.
#pragma once

#include <cstdint>

#include "base/simd_vec.h"
#include "match/comb.h"

namespace pelta {
namespace {

// The upper 16 bits of a 32-bit weight once its low 16 bits are taken as a
// signed value: weight = (int16)weight + 65536 * upper (mod 2^32).
inline int32_t comb_weight_upper(int32_t weight) {
    const uint32_t low = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(weight)));
    return static_cast<int32_t>(static_cast<int16_t>((static_cast<uint32_t>(weight) - low) >> 16));
}

// Whether either weight needs more than a signed 16-bit multiplier.
inline bool comb_weights_wide(const CombParams* p) {
    return comb_weight_upper(p->high) != 0 || comb_weight_upper(p->mid) != 0;
}

// The samples of the five rows from column x0, as int16 runs y, cb, cr, ...
struct CombSamples {
    const int16_t* row[5];
};
inline CombSamples comb_samples(const CombRows* rows, int x0) {
    CombSamples s;
    for (int k = 0; k < 5; ++k) s.row[k] = reinterpret_cast<const int16_t*>(rows->row[k] + x0);
    return s;
}

// All ones for the chroma samples of a row of y, cb, cr triples, by sample
// index 0 .. 47 (every step of the kernels starts at a multiple of 24 and
// covers at most 48 samples).
alignas(32) constexpr int16_t COMB_CHROMA_MASK[48] = {
    0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1,
    0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1};

// A threshold clamped to 16 bits, for scores known to lie within +-32767.
inline int16_t comb_threshold16(int32_t th) {
    return static_cast<int16_t>(th < -32768 ? -32768 : (th > 32767 ? 32767 : th));
}

// `bits` holds one bit per sample of eight pixels (24 samples, y cb cr
// each), set where the sample is not combed. Returns how many of the eight
// pixels have all three bits set.
inline int clear_pixels_24(uint32_t bits) {
    const uint32_t all3 = bits & (bits >> 1) & (bits >> 2) & 0x249249u;  // bit 3p per pixel p
    // Fold pairs into 6-bit fields at 0, 6, 12, 18, then add the four fields
    // into bits 18..23 with one multiply (no field exceeds 8, so no carries).
    const uint32_t pairs = (all3 & 0x041041u) + ((all3 >> 3) & 0x041041u);
    return static_cast<int>(((pairs * 0x041041u) >> 18) & 0x3Fu);
}

// LANES16 pixels whose samples are tested in m0, m1, m2 (int16 lanes in
// sample order, all ones where a sample is not combed): how many have no
// combed sample.
template <class V>
PELTA_SIMD_INLINE int comb_clear_pixels(typename V::T m0, typename V::T m1, typename V::T m2) {
    const uint32_t low = V::movemask_packs16(m0, m1);   // samples 0 .. 2 LANES16 - 1
    const uint32_t high = V::movemask_packs16(m2, m2);  // the rest, twice
    if constexpr (V::LANES16 == 8) {
        return clear_pixels_24(low | (high & 0xFFu) << 16);
    } else {
        static_assert(V::LANES16 == 16, "eight or sixteen pixels a step");
        return clear_pixels_24(low & 0xFFFFFFu) + clear_pixels_24((low >> 24) | (high & 0xFFFFu) << 8);
    }
}

// Lanes of a where `mask` is all ones, of b elsewhere.
template <class V>
PELTA_SIMD_INLINE typename V::T comb_select(typename V::T mask, typename V::T a, typename V::T b) {
    return V::or_(V::and_(mask, a), V::andnot(mask, b));
}

// Per-lane constants for the group of LANES16 samples that starts at sample
// `first` of a step, in the order in which the unpacks of not_combed leave
// the samples: `lo` for those unpacklo16 takes, `hi` for the others. The
// chroma mask widened by the same unpacks puts each sample's 0 or -1 into
// its 32-bit lane, at either width.
template <class V>
struct CombLaneTests {
    typename V::T th_lo, th_hi;  // the threshold of each lane
    typename V::T cm_lo, cm_hi;  // all ones in the chroma lanes
};

template <class V>
PELTA_SIMD_INLINE CombLaneTests<V> comb_lane_tests(int first, const CombParams* p) {
    const typename V::T th_y = V::set1_32(p->th_y);
    const typename V::T th_c = V::set1_32(p->th_c);
    const typename V::T cm = V::load(COMB_CHROMA_MASK + first);
    CombLaneTests<V> t;
    t.cm_lo = V::unpacklo16(cm, cm);
    t.cm_hi = V::unpackhi16(cm, cm);
    t.th_lo = comb_select<V>(t.cm_lo, th_c, th_y);
    t.th_hi = comb_select<V>(t.cm_hi, th_c, th_y);
    return t;
}

template <class V>
struct CombWeights {
    typename V::T low;   // (HIGH, MID) low 16 bits, signed, as one multiply-add pair
    typename V::T high;  // the remaining upper 16 bits of each weight
};

// Scores the LANES16 samples at s.row[0..4] + j (rows r-2 .. r+2) in two
// halves of 32-bit lanes and returns, for each sample, all ones when it
// fails its test (is not combed), as int16 lanes in sample order.
template <class V, bool Wide>
PELTA_SIMD_INLINE typename V::T comb_not_combed(const CombSamples& s, int j, const CombWeights<V>& w,
                              const CombLaneTests<V>& t) {
    typedef typename V::T T;
    const T ones = V::set1_16(1);
    const T minus4 = V::set1_16(-4);
    const T three = V::set1_16(3);
    const T minus1 = V::set1_16(-1);
    const T va = V::load(s.row[0] + j);
    const T vb = V::load(s.row[1] + j);
    const T vc = V::load(s.row[2] + j);
    const T vd = V::load(s.row[3] + j);
    const T ve = V::load(s.row[4] + j);

    // a + e, -4 (b + d), 6 c and -2 c, exactly, in 32 bits.
    const T ae_lo = V::madd16(V::unpacklo16(va, ve), ones);
    const T ae_hi = V::madd16(V::unpackhi16(va, ve), ones);
    const T bd_lo = V::madd16(V::unpacklo16(vb, vd), minus4);
    const T bd_hi = V::madd16(V::unpackhi16(vb, vd), minus4);
    const T cc_lo = V::unpacklo16(vc, vc);
    const T cc_hi = V::unpackhi16(vc, vc);
    const T hi_lo = V::srai32(V::add32(V::add32(ae_lo, bd_lo), V::madd16(cc_lo, three)), 6);
    const T hi_hi = V::srai32(V::add32(V::add32(ae_hi, bd_hi), V::madd16(cc_hi, three)), 6);
    const T mid_lo = V::srai32(V::add32(ae_lo, V::madd16(cc_lo, minus1)), 4);
    const T mid_hi = V::srai32(V::add32(ae_hi, V::madd16(cc_hi, minus1)), 4);

    // hi and mid lie within -8192..8191, so they pack to 16 bits unchanged
    // and meet the weights in one multiply-add.
    const T hi16 = V::packs32(hi_lo, hi_hi);
    const T mid16 = V::packs32(mid_lo, mid_hi);
    const T hm_lo = V::unpacklo16(hi16, mid16);
    const T hm_hi = V::unpackhi16(hi16, mid16);
    T s_lo = V::madd16(hm_lo, w.low);
    T s_hi = V::madd16(hm_hi, w.low);
    if constexpr (Wide) {
        // Weights beyond 16 bits: their upper halves only reach the upper 16
        // bits of the wrapped 32-bit score.
        s_lo = V::add32(s_lo, V::slli32(V::madd16(hm_lo, w.high), 16));
        s_hi = V::add32(s_hi, V::slli32(V::madd16(hm_hi, w.high), 16));
    }

    // Magnitude in the chroma lanes (the most negative value stays itself).
    s_lo = V::abs32_where(s_lo, t.cm_lo);
    s_hi = V::abs32_where(s_hi, t.cm_hi);
    // Not combed: threshold > value.
    return V::packs32(V::cmpgt32(t.th_lo, s_lo), V::cmpgt32(t.th_hi, s_hi));
}

// Counts pixels LANES16 at a time from pixel x on, then with the steps of
// half the width (down to eight pixels): returns how many of the pixels it
// covered are clear and leaves x after them.
template <class V, bool Wide>
int comb_clear_steps(const CombSamples& s, int& x, int n, const CombParams* p) {
    constexpr int L = V::LANES16;
    int clear = 0;  // pixels with no component combed
    if (x + L <= n) {  // (no constants to set up for a step that does not run)
        CombWeights<V> w;
        w.low = V::set1_32(word_pair(p->high, p->mid));
        w.high = V::set1_32(word_pair(comb_weight_upper(p->high), comb_weight_upper(p->mid)));
        const CombLaneTests<V> t0 = comb_lane_tests<V>(0, p);
        const CombLaneTests<V> t1 = comb_lane_tests<V>(L, p);
        const CombLaneTests<V> t2 = comb_lane_tests<V>(2 * L, p);
        for (; x + L <= n; x += L) {
            const int j = 3 * x;
            clear += comb_clear_pixels<V>(comb_not_combed<V, Wide>(s, j, w, t0),
                                          comb_not_combed<V, Wide>(s, j + L, w, t1),
                                          comb_not_combed<V, Wide>(s, j + 2 * L, w, t2));
        }
    }
    if constexpr (L > 8) clear += comb_clear_steps<typename HalfOf<V>::Vec, Wide>(s, x, n, p);
    return clear;
}

// The general span kernel.
template <class V>
int comb_span(const CombRows* rows, int x0, int n, const CombParams* p) {
    const CombSamples s = comb_samples(rows, x0);
    int x = 0;
    const int clear = comb_weights_wide(p) ? comb_clear_steps<V, true>(s, x, n, p)
                                           : comb_clear_steps<V, false>(s, x, n, p);
    int count = x - clear;
    if (x < n) count += count_comb_span_scalar(rows, x0 + x, n - x, p);
    return count;
}

// Whether no lane of ORed (s - COMB_NARROW_LO) values has any of its top
// three bits set: s - COMB_NARROW_LO lies within 0 .. 8191 exactly for s
// within the narrow range (as 16 bits, wrapping).
template <class V>
PELTA_SIMD_INLINE bool comb_narrow_bits_clear(typename V::T bits) {
    return V::all_zero(V::and_(bits, V::set1_16(static_cast<int16_t>(0xE000))));
}

template <class V>
PELTA_SIMD_INLINE typename V::T comb_narrow_offset(typename V::T v) {
    return V::add16(v, V::set1_16(static_cast<int16_t>(-COMB_NARROW_LO)));
}

// Narrow spans, in 16-bit lanes (see comb.h for the bounds). With samples
// within -4095 .. 4096, floor((a + e) / 2) is formed exactly as
// (a & e) + ((a ^ e) >> 1); the halved fourth difference
// floor((a + e) / 2) + 3c - 2(b + d) then lies within +-32764, so 16-bit
// wrapping arithmetic gives it exactly, and hi is it >> 5; the halved second
// difference floor((a + e) / 2) - c gives mid as it >> 3. With the weights'
// magnitudes adding up to 31 at most the score stays within +-31744, so
// thresholds clamped to 16 bits decide exactly as the 32-bit ones.
template <class V>
struct CombNarrowLanes {
    typename V::T th[3];  // the three groups of LANES16 samples of a step
    typename V::T cm[3];
    typename V::T w_high, w_mid;
};

template <class V>
PELTA_SIMD_INLINE CombNarrowLanes<V> comb_narrow_lanes(const CombParams* p) {
    const typename V::T th_y = V::set1_16(comb_threshold16(p->th_y));
    const typename V::T th_c = V::set1_16(comb_threshold16(p->th_c));
    CombNarrowLanes<V> t;
    for (int g = 0; g < 3; ++g) {
        t.cm[g] = V::load(COMB_CHROMA_MASK + V::LANES16 * g);
        t.th[g] = comb_select<V>(t.cm[g], th_c, th_y);
    }
    t.w_high = V::set1_16(static_cast<int16_t>(p->high));
    t.w_mid = V::set1_16(static_cast<int16_t>(p->mid));
    return t;
}

// As comb_not_combed, for group g of a step of narrow samples; also ORs
// e - COMB_NARROW_LO into `e_bits` (see comb_narrow_bits_clear).
template <class V>
PELTA_SIMD_INLINE typename V::T comb_narrow_not_combed(const CombSamples& s, int j, const CombNarrowLanes<V>& t,
                                     int g, typename V::T& e_bits) {
    typedef typename V::T T;
    const T va = V::load(s.row[0] + j);
    const T vb = V::load(s.row[1] + j);
    const T vc = V::load(s.row[2] + j);
    const T vd = V::load(s.row[3] + j);
    const T ve = V::load(s.row[4] + j);
    e_bits = V::or_(e_bits, comb_narrow_offset<V>(ve));
    const T avg = V::add16(V::and_(va, ve), V::srai16(V::xor_(va, ve), 1));
    const T c3 = V::add16(V::add16(vc, vc), vc);
    const T bd2 = V::slli16(V::add16(vb, vd), 1);
    const T hi = V::srai16(V::add16(avg, V::sub16(c3, bd2)), 5);
    const T mid = V::srai16(V::sub16(avg, vc), 3);
    const T score = V::add16(V::mullo16(hi, t.w_high), V::mullo16(mid, t.w_mid));
    // Magnitude in the chroma lanes (no score here reaches -32768).
    return V::cmpgt16(t.th[g], V::abs16_where(score, t.cm[g]));
}

// Counts narrow pixels LANES16 at a time from pixel x on, then with the
// steps of half the width, adding the clear ones to `clear`; false as soon
// as a step finds row e outside the narrow range.
template <class V>
bool comb_narrow_steps(const CombSamples& s, int& x, int n, const CombParams* p, int& clear) {
    constexpr int L = V::LANES16;
    if (x + L <= n) {
        const CombNarrowLanes<V> t = comb_narrow_lanes<V>(p);
        typename V::T e_bits = V::zero();
        for (; x + L <= n; x += L) {
            const int j = 3 * x;
            clear += comb_clear_pixels<V>(comb_narrow_not_combed<V>(s, j, t, 0, e_bits),
                                          comb_narrow_not_combed<V>(s, j + L, t, 1, e_bits),
                                          comb_narrow_not_combed<V>(s, j + 2 * L, t, 2, e_bits));
        }
        if (!comb_narrow_bits_clear<V>(e_bits)) return false;
    }
    if constexpr (L > 8) return comb_narrow_steps<typename HalfOf<V>::Vec>(s, x, n, p, clear);
    return true;
}

// The narrow span kernel.
template <class V>
int comb_span_narrow(const CombRows* rows, int x0, int n, const CombParams* p) {
    int x = 0, clear = 0;
    if (!comb_narrow_steps<V>(comb_samples(rows, x0), x, n, p, clear)) return -1;
    if (x == n) return x - clear;
    const int rest = count_comb_span_narrow_scalar(rows, x0 + x, n - x, p);
    return rest < 0 ? -1 : x - clear + rest;
}

template <class V>
bool comb_range_steps(const int16_t* s, int& x, int n) {
    constexpr int L = V::LANES16;
    if (x + L <= n) {
        typename V::T any0 = V::zero(), any1 = any0, any2 = any0;
        for (; x + L <= n; x += L) {
            const int16_t* q = s + 3 * x;
            any0 = V::or_(any0, comb_narrow_offset<V>(V::load(q)));
            any1 = V::or_(any1, comb_narrow_offset<V>(V::load(q + L)));
            any2 = V::or_(any2, comb_narrow_offset<V>(V::load(q + 2 * L)));
        }
        if (!comb_narrow_bits_clear<V>(V::or_(any0, V::or_(any1, any2)))) return false;
    }
    if constexpr (L > 8) return comb_range_steps<typename HalfOf<V>::Vec>(s, x, n);
    return true;
}

// The narrow range check.
template <class V>
bool comb_span_in_narrow_range(const PIXEL_YC* row, int n) {
    int x = 0;
    return comb_range_steps<V>(reinterpret_cast<const int16_t*>(row), x, n) &&
           (x == n || comb_in_narrow_range_scalar(row + x, n - x));
}

}  // namespace
}  // namespace pelta
