// The vector row kernels that SSE2 and AVX2 compute the same way, written once
// over the vector types of base/simd_vec.h: Vec128 in convert_kernels_sse2.cpp
// (8 samples a step), Vec256 in convert_kernels_avx2.cpp (16 samples). Moving
// between the pixel layout and sample rows is done differently by the two
// (unpacks and byte shifts, or byte shuffles that SSE2 lacks), so the steps
// of interleave and deinterleave live in their own files and use only the
// sample helpers here.
//
// Included only by those two files. Everything here has internal linkage:
// the AVX2 file builds it for AVX2, and nothing it instantiates may be shared
// with (and picked by the linker for) code that runs on CPUs without AVX2.
// For the same reason no std templates are used here.
#pragma once

#include <cstdint>

#include "base/simd_vec.h"
#include "convert/convert_kernels.h"

namespace pelta_cli {
namespace {

// Two 16-bit factors for madd16, a in the low and b in the high half of
// every 32-bit lane.
template <typename V>
inline typename V::T pair16(int a, int b) {
    return V::set1_32(pelta::word_pair(a, b));
}

// The table that takes the rest of a row from V's kernels: the tier below.
// Leaving AVX2 code, the compiler clears the upper register halves
// (vzeroupper) before the call, so the SSE2 code there runs without a
// transition penalty.
template <typename V>
inline const ConvertKernels* lower_kernels() {
    if constexpr (V::LEVEL == pelta::SIMD_AVX2)
        return convert_kernels_sse2();
    else
        return convert_kernels_scalar();
}

// V::LANES16 codes from p as 16-bit lanes, at most k.max.
template <typename V, typename S>
inline typename V::T load_codes(const uint8_t* p, const Coding& k) {
    if constexpr (S::size == 1)
        return V::load_u8(p);
    else
        return V::min_u16(V::load(p), V::set1_16(k.max));
}

// The same codes moved up to the top bits of their lanes (times 2^(16-N)).
template <typename V, typename S>
inline typename V::T load_codes_high(const uint8_t* p, const Coding& k) {
    if constexpr (S::size == 1)
        return V::load_u8_high(p);
    else
        return V::slli16(load_codes<V, S>(p, k), 16 - k.depth);
}

// luma_from_code of codes given by load_codes_high: c * 2^(16-N) * 4788 is
// c * 1197 * 2^(18-N), so the top 16 bits of that 32-bit product are
// (c * 1197) >> (N - 2).
template <typename V>
inline typename V::T luma_from_codes(typename V::T high) {
    return V::sub16(V::mulhi_u16(high, V::set1_16(4788)), V::set1_16(299));
}

// chroma_from_code of codes: ((c - 128u) * 4681 + 164u) >> N as
// (c - 128u, u) . (4681, 164) in 32 bits; c - 128u fits 16 bits signed.
template <typename V>
inline typename V::T chroma_from_codes(typename V::T c, const Coding& k) {
    const typename V::T d = V::sub16(c, V::set1_16(128 * k.unit));
    const typename V::T unit = V::set1_16(k.unit);
    const typename V::T scale = pair16<V>(4681, 164);
    const typename V::T lo = V::srai32(V::madd16(V::unpacklo16(d, unit), scale), k.depth);
    const typename V::T hi = V::srai32(V::madd16(V::unpackhi16(d, unit), scale), k.depth);
    return V::packs32(lo, hi);
}

// Stores codes, v + offset clamped to 0..k.max, from v in 32-bit lanes (the
// results of an unpacklo16/unpackhi16 pair, as lo and hi).
template <typename V, typename S>
inline void store_codes(uint8_t* p, typename V::T lo, typename V::T hi, int offset, const Coding& k) {
    if constexpr (S::size == 1) {
        // At 8 bits v is within 16 bits; store_u8 saturates to 0..255.
        V::store_u8(p, V::add16(V::packs32(lo, hi), V::set1_16(offset)));
    } else {
        // Codes less 32768 saturate to -32768..32767, which is 0..65535; then
        // the upper clamp, and back.
        const typename V::T bias = V::set1_32(offset - 32768);
        const typename V::T v = V::packs32(V::add32(lo, bias), V::add32(hi, bias));
        V::store(p, V::xor_(V::min16(v, V::set1_16(k.max - 32768)), V::set1_16(-32768)));
    }
}

// Encodes samples of a kind with (v, 1) . (mul, round) >> shift.
template <typename V, typename S>
inline void encode_codes(uint8_t* p, typename V::T v, int mul, int round, int shift, int offset, const Coding& k) {
    const typename V::T one = V::set1_16(1), scale = pair16<V>(mul, round);
    const typename V::T lo = V::srai32(V::madd16(V::unpacklo16(v, one), scale), shift);
    const typename V::T hi = V::srai32(V::madd16(V::unpackhi16(v, one), scale), shift);
    store_codes<V, S>(p, lo, hi, offset, k);
}
template <typename V, typename S>
inline void encode_luma(uint8_t* p, typename V::T y, const Coding& k) {
    encode_codes<V, S>(p, y, k.luma_mul, k.luma_round, k.luma_shift, k.luma_offset, k);
}
template <typename V, typename S>
inline void encode_chroma(uint8_t* p, typename V::T c, const Coding& k) {
    encode_codes<V, S>(p, c, k.chroma_mul, k.chroma_round, 7, k.chroma_offset, k);
}

// ---- kernels -----------------------------------------------------------------
//
// Each kernel works on its own copy of the coding: stores through the byte
// pointers of plane rows may alias a coding passed by reference, which would
// have every step load it again and rebuild the constants made from it.

template <typename V, typename S>
void chroma_row_from(const uint8_t* src, int n, const Coding& coding, int16_t* dst) {
    constexpr int L = V::LANES16;
    const Coding k = coding;
    int x = 0;
    for (; x + L <= n; x += L) V::store(dst + x, chroma_from_codes<V>(load_codes<V, S>(src + x * S::size, k), k));
    lower_kernels<V>()->codes[S::index].chroma_from(src + x * S::size, n - x, coding, dst + x);
}

template <typename V, typename S>
void chroma_row_to(const int16_t* c, int n, const Coding& coding, uint8_t* dst) {
    constexpr int L = V::LANES16;
    const Coding k = coding;
    int x = 0;
    for (; x + L <= n; x += L) encode_chroma<V, S>(dst + x * S::size, V::load(c + x), k);
    lower_kernels<V>()->codes[S::index].chroma_to(c + x, n - x, coding, dst + x * S::size);
}

template <typename V, typename S>
void decimate_rows(const int16_t* const rows[4], const int wt[4], int n, const Coding& coding, uint8_t* dst) {
    typedef typename V::T T;
    constexpr int L = V::LANES16;
    const Coding k = coding;
    const int16_t *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
    const T w01 = pair16<V>(wt[0], wt[1]), w23 = pair16<V>(wt[2], wt[3]);
    const T round = V::set1_32(8);
    int x = 0;
    for (; x + L <= n; x += L) {
        const T a = V::load(r0 + x);
        const T b = V::load(r1 + x);
        const T c = V::load(r2 + x);
        const T d = V::load(r3 + x);
        const T lo = V::add32(V::madd16(V::unpacklo16(a, b), w01), V::madd16(V::unpacklo16(c, d), w23));
        const T hi = V::add32(V::madd16(V::unpackhi16(a, b), w01), V::madd16(V::unpackhi16(c, d), w23));
        // The weights sum to 16, so the result is within 16 bits again.
        const T v = V::packs32(V::srai32(V::add32(lo, round), 4), V::srai32(V::add32(hi, round), 4));
        encode_chroma<V, S>(dst + x * S::size, v, k);
    }
    const int16_t* const rest[4] = {r0 + x, r1 + x, r2 + x, r3 + x};
    lower_kernels<V>()->codes[S::index].decimate(rest, wt, n - x, coding, dst + x * S::size);
}

// The sum of two rows of chroma from chroma_from_code, each weighted by at
// most 8, stays within 16 bits.
template <typename V>
void interpolate_rows(const int16_t* a, const int16_t* b, int wa, int n, int16_t* dst) {
    typedef typename V::T T;
    constexpr int L = V::LANES16;
    const T va = V::set1_16(wa), vb = V::set1_16(8 - wa), round = V::set1_16(4);
    int x = 0;
    for (; x + L <= n; x += L) {
        const T sa = V::mullo16(V::load(a + x), va);
        const T sb = V::mullo16(V::load(b + x), vb);
        V::store(dst + x, V::srai16(V::add16(V::add16(sa, sb), round), 3));
    }
    lower_kernels<V>()->interpolate(a + x, b + x, wa, n - x, dst + x);
}

template <typename V>
void upsample_row(const int16_t* c, int cw, bool cosited, int16_t* out) {
    typedef typename V::T T;
    constexpr int L = V::LANES16;
    const T two = V::set1_16(2), one = V::set1_16(1);
    int i = 0;
    for (; i + L <= cw; i += L) {
        const T prev = V::load(c + i - 1);
        const T cur = V::load(c + i);
        const T next = V::load(c + i + 1);
        T even, odd;
        if (cosited) {
            even = cur;
            odd = V::srai16(V::add16(V::add16(cur, next), one), 1);
        } else {
            const T cur3 = V::add16(cur, V::add16(cur, cur));
            even = V::srai16(V::add16(V::add16(prev, cur3), two), 2);
            odd = V::srai16(V::add16(V::add16(cur3, next), two), 2);
        }
        V::store_zip16(out + 2 * i, even, odd);
    }
    lower_kernels<V>()->upsample(c + i, cw - i, cosited, out + 2 * i);
}

template <typename V>
void downsample_row(const int16_t* s, int cw, bool cosited, int16_t* out) {
    typedef typename V::T T;
    constexpr int L = V::LANES16;
    // Pairs (E[k], O[k]) are 32-bit lanes; a multiply-add weighs both.
    const T odd_only = pair16<V>(0, 1), even_only = pair16<V>(1, 0);
    const T centre = cosited ? pair16<V>(2, 1) : V::set1_16(3);
    const T round = V::set1_32(cosited ? 2 : 4);
    const int shift = cosited ? 2 : 3;
    // Outputs for the L / 2 pairs from p.
    auto half = [&](const int16_t* p) {
        T sum = V::add32(V::madd16(V::load(p - 2), odd_only), V::madd16(V::load(p), centre));
        if (!cosited) sum = V::add32(sum, V::madd16(V::load(p + 2), even_only));
        return V::srai32(V::add32(sum, round), shift);
    };
    int i = 0;
    for (; i + L <= cw; i += L)
        V::store(out + i, V::packs32_in_order(half(s + 2 * i), half(s + 2 * i + L)));
    lower_kernels<V>()->downsample(s + 2 * i, cw - i, cosited, out + i);
}

// Interleave and deinterleave: the rows stepped through V::LANES16 pixels at
// a time by the tier's own step, Pixels<S>::interleave(luma, cb, cr, k, dst)
// and Pixels<S>::deinterleave(src, k, luma, cb, cr).
template <typename V, typename S, template <typename> class Pixels>
void interleave_row(const uint8_t* luma, const int16_t* cb, const int16_t* cr, int w, const Coding& coding,
                    PIXEL_YC* dst) {
    constexpr int L = V::LANES16;
    const Coding k = coding;
    int x = 0;
    for (; x + L <= w; x += L) Pixels<S>::interleave(luma + x * S::size, cb + x, cr + x, k, dst + x);
    lower_kernels<V>()->codes[S::index].interleave(luma + x * S::size, cb + x, cr + x, w - x, coding, dst + x);
}

template <typename V, typename S, template <typename> class Pixels>
void deinterleave_row(const PIXEL_YC* src, int w, const Coding& coding, uint8_t* luma, int16_t* cb, int16_t* cr) {
    constexpr int L = V::LANES16;
    const Coding k = coding;
    int x = 0;
    for (; x + L <= w; x += L) Pixels<S>::deinterleave(src + x, k, luma + x * S::size, cb + x, cr + x);
    lower_kernels<V>()->codes[S::index].deinterleave(src + x, w - x, coding, luma + x * S::size, cb + x, cr + x);
}

// The table of V's tier: the kernels above, with the tier's own steps of
// interleave and deinterleave, Pixels.
template <typename V, template <typename> class Pixels>
constexpr ConvertKernels vector_kernels() {
    return {V::LEVEL,
            {{chroma_row_from<V, Bytes>, chroma_row_to<V, Bytes>, interleave_row<V, Bytes, Pixels>,
              deinterleave_row<V, Bytes, Pixels>, decimate_rows<V, Bytes>},
             {chroma_row_from<V, Words>, chroma_row_to<V, Words>, interleave_row<V, Words, Pixels>,
              deinterleave_row<V, Words, Pixels>, decimate_rows<V, Words>}},
            interpolate_rows<V>,
            upsample_row<V>,
            downsample_row<V>};
}

}  // namespace
}  // namespace pelta_cli
