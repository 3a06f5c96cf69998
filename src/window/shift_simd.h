// The field shift's interpolated row on packed 16-bit samples, written once
// over the vector types of base/simd_vec.h: shift_sse2.cpp instantiates it
// for Vec128, shift_avx2.cpp for Vec256 (inside PELTA_AVX2_BEGIN/END, after
// the headers included here). Everything here has internal linkage.
#pragma once

#include <cstdint>

#include "base/simd_vec.h"
#include "window/shift.h"

namespace pelta {
namespace {

// The four-tap sum LANES16 samples at a time from sample i on, then with the
// steps of half the width down to four samples; returns where it stopped.
// (v0, v1) and (v2, v3) interleaved meet (tap 0, tap 1) and (tap 2, tap 3)
// in two multiply-adds.
template <class V>
int shift_interp_steps(const ShiftRows* rows, const int32_t taps[4], int i) {
    typedef typename V::T T;
    constexpr int L = V::LANES16;
    const T t01 = V::set1_32(word_pair(taps[0], taps[1]));
    const T t23 = V::set1_32(word_pair(taps[2], taps[3]));
    const T half = V::set1_32(0x4000);
    // The row pointers in locals: the vector stores below may alias any
    // memory, so pointers read through `rows` would be read again every step.
    const int16_t* const v0 = rows->v[0];
    const int16_t* const v1 = rows->v[1];
    const int16_t* const v2 = rows->v[2];
    const int16_t* const v3 = rows->v[3];
    int16_t* const out = rows->out;
    const int n = rows->n;
    for (; i + L <= n; i += L) {
        const T a = V::load(v0 + i);
        const T b = V::load(v1 + i);
        const T c = V::load(v2 + i);
        const T d = V::load(v3 + i);
        T lo = V::add32(V::madd16(V::unpacklo16(a, b), t01), V::madd16(V::unpacklo16(c, d), t23));
        T hi = V::add32(V::madd16(V::unpackhi16(a, b), t01), V::madd16(V::unpackhi16(c, d), t23));
        // Shift, then sign-extend the low 16 bits so the saturating pack
        // keeps them unchanged.
        lo = V::srai32(V::slli32(V::srai32(V::add32(lo, half), 15), 16), 16);
        hi = V::srai32(V::slli32(V::srai32(V::add32(hi, half), 15), 16), 16);
        V::store(out + i, V::packs32(lo, hi));
    }
    if constexpr (L > 4) return shift_interp_steps<typename HalfOf<V>::Vec>(rows, taps, i);
    return i;
}

// The row kernel: the packed steps where the taps allow them, the rest with
// the scalar reference.
template <class V>
void shift_interp_row(const ShiftRows* rows, const int32_t taps[4]) {
    const int i = shift_taps_fit_packed(taps) ? shift_interp_steps<V>(rows, taps, 0) : 0;
    if (i < rows->n) {
        const ShiftRows rest = shift_rows_from(rows, i);
        shift_interp_row_scalar(&rest, taps);
    }
}

}  // namespace
}  // namespace pelta
