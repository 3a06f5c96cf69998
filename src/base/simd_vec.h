// The vector types the packed kernels are written over: each kernel body is a
// template over one of these plain structs (the register type T and the
// handful of operations the kernels use, as static functions) and is
// instantiated once per tier, in that tier's own source file.
//
//   Vec128  SSE2, eight 16-bit lanes; the baseline of every build.
//   Vec64   Vec128 loading and storing only the low four 16-bit lanes, for a
//           last half step (the upper lanes load as zero and are not stored).
//   Vec256  AVX2, sixteen 16-bit lanes.
//
// Lane-wise operations mean the same at every width. Unpack and pack work
// within 128-bit lanes at 256 bits as well, so a kernel that unpacks a
// vector, works on the halves and packs them back gets its samples back in
// order at either width. The operations that keep sample order across lanes
// instead say so: movemask_packs16, packs32_in_order, store_zip16 and the
// byte loads and stores.
//
// The plug-in's kernels and the command-line host's conversions are both
// written over these types; an operation only one of them uses is still
// defined here, at every width, so the two share one set.
//
// AVX2 code is kept off machines without AVX2 by building only the
// functions between PELTA_AVX2_BEGIN and PELTA_AVX2_END for AVX2, never a
// whole file: an AVX2 source file includes its ordinary headers first and
// then the kernel templates inside the pair, so no inline function with
// external linkage (which the linker could hand to other callers) is ever
// built for AVX2. Everything here and in the kernel template headers has
// internal linkage for the same reason.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "base/cpu.h"

#if defined(__clang__)
#define PELTA_AVX2_BEGIN \
    _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define PELTA_AVX2_END _Pragma("clang attribute pop")
#else
#define PELTA_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define PELTA_AVX2_END _Pragma("GCC pop_options")
#endif

// For the small helpers of a kernel's step (the per-step scoring, the lane
// constants): always inlined into the loop, as intrinsics are, so that no
// vector is passed through memory between them.
#define PELTA_SIMD_INLINE inline __attribute__((always_inline))

namespace pelta {
namespace {

// Two 16-bit values side by side in a 32-bit lane, `first` in the low word:
// a multiply-add pair (pmaddwd multiplies the low words by `first` and the
// high words by `second`).
inline int32_t word_pair(int32_t first, int32_t second) {
    return static_cast<int32_t>((static_cast<uint32_t>(second) << 16) |
                                (static_cast<uint32_t>(first) & 0xFFFFu));
}

struct Vec128 {
    typedef __m128i T;
    static constexpr SimdLevel LEVEL = SIMD_SSE2;
    static constexpr int LANES16 = 8;

    static T load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const T*>(p)); }
    static void store(int16_t* p, T v) { _mm_storeu_si128(reinterpret_cast<T*>(p), v); }
    // LANES16 samples of two bytes each, little-endian, from a byte row.
    static T load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const T*>(p)); }
    static void store(uint8_t* p, T v) { _mm_storeu_si128(reinterpret_cast<T*>(p), v); }
    // LANES16 bytes zero-extended to the 16-bit lanes, or moved into the high
    // byte of each lane (times 256); and the lanes saturated to 0..255 and
    // stored as LANES16 bytes.
    static T load_u8(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const T*>(p)), zero());
    }
    static T load_u8_high(const uint8_t* p) {
        return _mm_unpacklo_epi8(zero(), _mm_loadl_epi64(reinterpret_cast<const T*>(p)));
    }
    static void store_u8(uint8_t* p, T v) { _mm_storel_epi64(reinterpret_cast<T*>(p), _mm_packus_epi16(v, v)); }
    static T zero() { return _mm_setzero_si128(); }
    static T set1_16(int16_t v) { return _mm_set1_epi16(v); }
    static T set1_32(int32_t v) { return _mm_set1_epi32(v); }

    static T and_(T a, T b) { return _mm_and_si128(a, b); }
    static T andnot(T a, T b) { return _mm_andnot_si128(a, b); }  // ~a & b
    static T or_(T a, T b) { return _mm_or_si128(a, b); }
    static T xor_(T a, T b) { return _mm_xor_si128(a, b); }

    static T add16(T a, T b) { return _mm_add_epi16(a, b); }
    static T adds16(T a, T b) { return _mm_adds_epi16(a, b); }
    static T sub16(T a, T b) { return _mm_sub_epi16(a, b); }
    static T mullo16(T a, T b) { return _mm_mullo_epi16(a, b); }
    static T mulhi_u16(T a, T b) { return _mm_mulhi_epu16(a, b); }  // unsigned, the high 16 bits
    static T slli16(T a, int n) { return _mm_slli_epi16(a, n); }
    static T srai16(T a, int n) { return _mm_srai_epi16(a, n); }
    static T cmpgt16(T a, T b) { return _mm_cmpgt_epi16(a, b); }
    static T cmpeq16(T a, T b) { return _mm_cmpeq_epi16(a, b); }
    static T min16(T a, T b) { return _mm_min_epi16(a, b); }
    // SSE2 has no unsigned 16-bit minimum: a - (a - b, saturated at 0).
    static T min_u16(T a, T b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }

    static T add32(T a, T b) { return _mm_add_epi32(a, b); }
    static T sub32(T a, T b) { return _mm_sub_epi32(a, b); }
    static T slli32(T a, int n) { return _mm_slli_epi32(a, n); }
    static T srai32(T a, int n) { return _mm_srai_epi32(a, n); }
    static T cmpgt32(T a, T b) { return _mm_cmpgt_epi32(a, b); }

    // 16-bit lanes: pairs (a0 b0) (a1 b1) ... of the low or high four lanes
    // (of each 128-bit lane), and their products summed pairwise in 32 bits.
    static T unpacklo16(T a, T b) { return _mm_unpacklo_epi16(a, b); }
    static T unpackhi16(T a, T b) { return _mm_unpackhi_epi16(a, b); }
    static T madd16(T a, T b) { return _mm_madd_epi16(a, b); }
    // 32-bit lanes of a then b (per 128-bit lane), saturated to 16 bits; and
    // the same in sample order across the whole vector, all of a, then all of b.
    static T packs32(T a, T b) { return _mm_packs_epi32(a, b); }
    static T packs32_in_order(T a, T b) { return _mm_packs_epi32(a, b); }
    // Stores a0 b0 a1 b1 ..., 2 * LANES16 samples.
    static void store_zip16(int16_t* p, T a, T b) {
        store(p, _mm_unpacklo_epi16(a, b));
        store(p + LANES16, _mm_unpackhi_epi16(a, b));
    }

    // |v| in the 16- or 32-bit lanes where `mask` is all ones, v elsewhere;
    // the most negative value stays itself (as the scalar wrap_abs leaves
    // it). Negation as (v ^ s) - s with s = the sign mask where `mask` is set.
    static T abs16_where(T v, T mask) {
        const T neg = _mm_and_si128(_mm_srai_epi16(v, 15), mask);
        return _mm_sub_epi16(_mm_xor_si128(v, neg), neg);
    }
    static T abs32_where(T v, T mask) {
        const T neg = _mm_and_si128(_mm_srai_epi32(v, 31), mask);
        return _mm_sub_epi32(_mm_xor_si128(v, neg), neg);
    }

    // Whether every bit of v is zero.
    static bool all_zero(T v) { return _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero())) == 0xFFFF; }
    // The sign bits of the 16-bit lanes of a, then of b, in sample order: bit
    // k for lane k of a, bit LANES16 + k for lane k of b.
    static uint32_t movemask_packs16(T a, T b) {
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
    }
};

struct Vec64 : Vec128 {
    static constexpr int LANES16 = 4;
    static T load(const int16_t* p) { return _mm_loadl_epi64(reinterpret_cast<const T*>(p)); }
    static void store(int16_t* p, T v) { _mm_storel_epi64(reinterpret_cast<T*>(p), v); }
    // The other operations that touch memory are Vec128's at full width; no
    // kernel takes them at four lanes.
    static T load_u8(const uint8_t* p) = delete;
    static T load_u8_high(const uint8_t* p) = delete;
    static void store_u8(uint8_t* p, T v) = delete;
    static void store_zip16(int16_t* p, T a, T b) = delete;
};

PELTA_AVX2_BEGIN

struct Vec256 {
    typedef __m256i T;
    static constexpr SimdLevel LEVEL = SIMD_AVX2;
    static constexpr int LANES16 = 16;

    static T load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const T*>(p)); }
    static void store(int16_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<T*>(p), v); }
    static T load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const T*>(p)); }
    static void store(uint8_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<T*>(p), v); }
    static T load_u8(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static T load_u8_high(const uint8_t* p) { return _mm256_slli_epi16(load_u8(p), 8); }
    static void store_u8(uint8_t* p, T v) {
        // packus works within 128-bit lanes: quadwords 0 and 2 hold the bytes.
        const T bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(bytes));
    }
    static T zero() { return _mm256_setzero_si256(); }
    static T set1_16(int16_t v) { return _mm256_set1_epi16(v); }
    static T set1_32(int32_t v) { return _mm256_set1_epi32(v); }

    static T and_(T a, T b) { return _mm256_and_si256(a, b); }
    static T andnot(T a, T b) { return _mm256_andnot_si256(a, b); }
    static T or_(T a, T b) { return _mm256_or_si256(a, b); }
    static T xor_(T a, T b) { return _mm256_xor_si256(a, b); }

    static T add16(T a, T b) { return _mm256_add_epi16(a, b); }
    static T adds16(T a, T b) { return _mm256_adds_epi16(a, b); }
    static T sub16(T a, T b) { return _mm256_sub_epi16(a, b); }
    static T mullo16(T a, T b) { return _mm256_mullo_epi16(a, b); }
    static T mulhi_u16(T a, T b) { return _mm256_mulhi_epu16(a, b); }
    static T slli16(T a, int n) { return _mm256_slli_epi16(a, n); }
    static T srai16(T a, int n) { return _mm256_srai_epi16(a, n); }
    static T cmpgt16(T a, T b) { return _mm256_cmpgt_epi16(a, b); }
    static T cmpeq16(T a, T b) { return _mm256_cmpeq_epi16(a, b); }
    static T min16(T a, T b) { return _mm256_min_epi16(a, b); }
    static T min_u16(T a, T b) { return _mm256_min_epu16(a, b); }

    static T add32(T a, T b) { return _mm256_add_epi32(a, b); }
    static T sub32(T a, T b) { return _mm256_sub_epi32(a, b); }
    static T slli32(T a, int n) { return _mm256_slli_epi32(a, n); }
    static T srai32(T a, int n) { return _mm256_srai_epi32(a, n); }
    static T cmpgt32(T a, T b) { return _mm256_cmpgt_epi32(a, b); }

    static T unpacklo16(T a, T b) { return _mm256_unpacklo_epi16(a, b); }
    static T unpackhi16(T a, T b) { return _mm256_unpackhi_epi16(a, b); }
    static T madd16(T a, T b) { return _mm256_madd_epi16(a, b); }
    static T packs32(T a, T b) { return _mm256_packs_epi32(a, b); }
    static T packs32_in_order(T a, T b) {
        // The pack gives a0..3 b0..3 | a4..7 b4..7; quadwords 0 2 1 3.
        return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    }
    static void store_zip16(int16_t* p, T a, T b) {
        // The unpacks pair samples 0..3 and 8..11 (lo), 4..7 and 12..15 (hi).
        const T lo = _mm256_unpacklo_epi16(a, b), hi = _mm256_unpackhi_epi16(a, b);
        store(p, _mm256_permute2x128_si256(lo, hi, 0x20));
        store(p + LANES16, _mm256_permute2x128_si256(lo, hi, 0x31));
    }

    // abs and a variable blend (which SSE2 lacks): two instructions where the
    // sign mask, xor and subtract take four; the comb count spends a
    // measurable share of its time here (about 12% at 256 bits).
    static T abs16_where(T v, T mask) { return _mm256_blendv_epi8(v, _mm256_abs_epi16(v), mask); }
    static T abs32_where(T v, T mask) { return _mm256_blendv_epi8(v, _mm256_abs_epi32(v), mask); }

    static bool all_zero(T v) { return _mm256_testz_si256(v, v) != 0; }
    // packs interleaves the 128-bit lanes of a and b; the permute puts the
    // bytes back in sample order before the sign bits are gathered.
    static uint32_t movemask_packs16(T a, T b) {
        return static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8)));
    }
};

PELTA_AVX2_END

// The vector of half the width, for the last steps of a row: Vec256 hands
// what is left to Vec128, Vec128 to Vec64.
template <class V>
struct HalfOf;
template <>
struct HalfOf<Vec128> {
    typedef Vec64 Vec;
};
template <>
struct HalfOf<Vec256> {
    typedef Vec128 Vec;
};

}  // namespace
}  // namespace pelta
