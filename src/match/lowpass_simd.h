// The low-pass row kernel on packed 16-bit samples, written once over the
// vector types of base/simd_vec.h: lowpass_sse2.cpp instantiates it for
// Vec128, lowpass_avx2.cpp for Vec256 (inside PELTA_AVX2_BEGIN/END, after
// the headers included here). Everything here has internal linkage.
#pragma once

#include <cstdint>

#include "base/simd_vec.h"
#include "match/lowpass.h"

namespace pelta {
namespace {

// Filters samples LANES16 at a time from sample j on, then with the steps
// of half the width down to four samples; returns where it stopped.
template <class V>
int lowpass_steps(const LowpassRows* rows, int j) {
    typedef typename V::T T;
    constexpr int L = V::LANES16;
    // The row pointers in locals: the vector stores below may alias any
    // memory, so pointers read through `rows` would be read again every step.
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
    const T t1c = V::set1_32(word_pair(LOWPASS_TAPS[1], LOWPASS_TAPS[0]));
    const T t32 = V::set1_32(word_pair(LOWPASS_TAPS[3], LOWPASS_TAPS[2]));
    const T t45 = V::set1_32(word_pair(LOWPASS_TAPS[4], LOWPASS_TAPS[5]));
    const T half = V::set1_32(16384);

    for (; j + L <= n; j += L) {
        const T vc = V::load(c + j);
        // Saturating adds: the clamped pair sums.
        const T p1 = V::adds16(V::load(a1 + j), V::load(b1 + j));
        const T p2 = V::adds16(V::load(a2 + j), V::load(b2 + j));
        const T p3 = V::adds16(V::load(a3 + j), V::load(b3 + j));
        const T p4 = V::adds16(V::load(a4 + j), V::load(b4 + j));
        const T p5 = V::adds16(V::load(a5 + j), V::load(b5 + j));
        T lo = V::add32(V::madd16(V::unpacklo16(p1, vc), t1c),
                        V::madd16(V::unpacklo16(p3, p2), t32));
        T hi = V::add32(V::madd16(V::unpackhi16(p1, vc), t1c),
                        V::madd16(V::unpackhi16(p3, p2), t32));
        lo = V::add32(lo, V::add32(V::madd16(V::unpacklo16(p4, p5), t45), half));
        hi = V::add32(hi, V::add32(V::madd16(V::unpackhi16(p4, p5), t45), half));
        // unpack and pack both work within 128-bit lanes: packing the two
        // halves back restores the sample order.
        V::store(out + j, V::packs32(V::srai32(lo, 15), V::srai32(hi, 15)));
    }
    if constexpr (L > 4) return lowpass_steps<typename HalfOf<V>::Vec>(rows, j);
    return j;
}

// The row kernel: the packed steps, then the last (n mod 4) samples one at
// a time.
template <class V>
void lowpass_row(const LowpassRows* rows) {
    const int j = lowpass_steps<V>(rows, 0);
    if (j < rows->n) {
        const LowpassRows rest = lowpass_rows_from(rows, j);
        vertical_lowpass_row_scalar(&rest);
    }
}

}  // namespace
}  // namespace pelta
