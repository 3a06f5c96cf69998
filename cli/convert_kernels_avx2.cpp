// The row kernels with AVX2, 16 samples or pixels a step; the rest of a row
// goes to the SSE2 kernels. Moving between the pixel layout and sample rows,
// the costliest step, becomes byte shuffles; the arithmetic is the SSE2
// kernels' on twice the width (convert_simd.h).
//
// This file alone is compiled for AVX2 (cli/CMakeLists.txt) and its table is
// handed out only where cpu_simd_level() says the CPU runs AVX2. So that no
// AVX2 code can stand in for code that other files share, everything here has
// internal linkage and nothing instantiates std templates or calls the inline
// functions of convert.h; a test checks that its object defines no weak
// symbols.
#include <immintrin.h>

#include "convert_kernels.h"
#include "convert_simd.h"

namespace pelta_cli {

using namespace pelta;

namespace {

struct V256 {
    static constexpr SimdLevel level = SIMD_AVX2;
    using R = __m256i;
    static constexpr int n = 16;

    static R load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, R v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static __m128i load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static R load_u8(const void* p) { return _mm256_cvtepu8_epi16(load128(p)); }
    static R load_u8_high(const void* p) { return _mm256_slli_epi16(load_u8(p), 8); }
    static void store_u8(void* p, R v) {
        // packus works within 128-bit lanes: quadwords 0 and 2 hold the bytes.
        const R bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
        _mm_storeu_si128(static_cast<__m128i*>(p), _mm256_castsi256_si128(bytes));
    }

    static R set16(int a) { return _mm256_set1_epi16(static_cast<int16_t>(a)); }
    static R set32(int a) { return _mm256_set1_epi32(a); }
    static R add16(R a, R b) { return _mm256_add_epi16(a, b); }
    static R sub16(R a, R b) { return _mm256_sub_epi16(a, b); }
    static R mullo16(R a, R b) { return _mm256_mullo_epi16(a, b); }
    static R mulhi_u16(R a, R b) { return _mm256_mulhi_epu16(a, b); }
    static R min_i16(R a, R b) { return _mm256_min_epi16(a, b); }
    static R min_u16(R a, R b) { return _mm256_min_epu16(a, b); }
    static R bit_xor(R a, R b) { return _mm256_xor_si256(a, b); }
    static R add32(R a, R b) { return _mm256_add_epi32(a, b); }
    static R madd16(R a, R b) { return _mm256_madd_epi16(a, b); }
    static R sra16(R v, int s) { return _mm256_srai_epi16(v, s); }
    static R sll16(R v, int s) { return _mm256_slli_epi16(v, s); }
    static R sra32(R v, int s) { return _mm256_srai_epi32(v, s); }
    static R unpacklo16(R a, R b) { return _mm256_unpacklo_epi16(a, b); }
    static R unpackhi16(R a, R b) { return _mm256_unpackhi_epi16(a, b); }
    static R packs32(R a, R b) { return _mm256_packs_epi32(a, b); }
    static R packs32_in_order(R a, R b) {
        // The pack gives a0..3 b0..3 | a4..7 b4..7; quadwords 0 2 1 3.
        return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    }
    static void store_zip16(int16_t* p, R a, R b) {
        // The unpacks pair samples 0..3 and 8..11 (lo), 4..7 and 12..15 (hi).
        const R lo = _mm256_unpacklo_epi16(a, b), hi = _mm256_unpackhi_epi16(a, b);
        store(p, _mm256_permute2x128_si256(lo, hi, 0x20));
        store(p + n, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    // The SSE2 code that takes the rest of a row runs legacy SSE
    // instructions: leave the upper register halves clean first.
    static void leave() { _mm256_zeroupper(); }
    static const ConvertKernels& lower() { return sse2_convert_kernels(); }
};

// 16 bytes at `low` to the low lane, 16 at `high` to the high lane.
inline __m256i load_lanes(const void* low, const void* high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(V256::load128(low)), V256::load128(high), 1);
}

// Byte shuffles between the pixel layout and sample rows. Eight pixels take
// 24 samples, Y Cb Cr Y Cb Cr ..., in three 16-byte registers: sample `kind`
// (0 Y, 1 Cb, 2 Cr) of pixel k is 16-bit word 3k + kind of the 24. A byte
// index of -1 gives zero, so the three shuffles of a result combine by OR.
struct ByteShuffle {
    int8_t index[16];
};

// From pixel register `reg`, the samples of `kind` that it holds, to their
// pixel's lane of a sample row.
constexpr ByteShuffle gather(int reg, int kind) {
    ByteShuffle m{};
    for (int k = 0; k < 8; ++k) {
        const int word = 3 * k + kind - 8 * reg;
        const bool here = word >= 0 && word < 8;
        m.index[2 * k] = static_cast<int8_t>(here ? 2 * word : -1);
        m.index[2 * k + 1] = static_cast<int8_t>(here ? 2 * word + 1 : -1);
    }
    return m;
}

// The inverse: from a row of samples of `kind`, those that pixel register
// `reg` holds, to their places in it.
constexpr ByteShuffle scatter(int reg, int kind) {
    ByteShuffle m{};
    for (int word = 0; word < 8; ++word) {
        const int sample = 8 * reg + word;
        const bool here = sample % 3 == kind;
        m.index[2 * word] = static_cast<int8_t>(here ? 2 * (sample / 3) : -1);
        m.index[2 * word + 1] = static_cast<int8_t>(here ? 2 * (sample / 3) + 1 : -1);
    }
    return m;
}

constexpr ByteShuffle kGather[3][3] = {{gather(0, 0), gather(0, 1), gather(0, 2)},
                                       {gather(1, 0), gather(1, 1), gather(1, 2)},
                                       {gather(2, 0), gather(2, 1), gather(2, 2)}};
constexpr ByteShuffle kScatter[3][3] = {{scatter(0, 0), scatter(0, 1), scatter(0, 2)},
                                        {scatter(1, 0), scatter(1, 1), scatter(1, 2)},
                                        {scatter(2, 0), scatter(2, 1), scatter(2, 2)}};

// The same shuffle in both 128-bit lanes (vpshufb works lane by lane).
inline __m256i both_lanes(const ByteShuffle& m) { return _mm256_broadcastsi128_si256(V256::load128(m.index)); }

inline __m256i shuffle3(__m256i a, const ByteShuffle& ma, __m256i b, const ByteShuffle& mb, __m256i c,
                        const ByteShuffle& mc) {
    const __m256i ab = _mm256_or_si256(_mm256_shuffle_epi8(a, both_lanes(ma)), _mm256_shuffle_epi8(b, both_lanes(mb)));
    return _mm256_or_si256(ab, _mm256_shuffle_epi8(c, both_lanes(mc)));
}

// Interleave and deinterleave, 16 pixels a step.
template <typename S>
struct Pixels {
    // Pixels 0..7 of a step in the low lanes, 8..15 in the high lanes.
    static void interleave(const uint8_t* luma, const int16_t* cb, const int16_t* cr, int w, const Coding& coding,
                           PIXEL_YC* dst) {
        const Coding k = coding;  // a copy, as in convert_simd.h
        int x = 0;
        for (; x + 16 <= w; x += 16) {
            const __m256i y = luma_from_codes<V256>(load_codes_high<V256, S>(luma + x * S::size, k));
            const __m256i b = V256::load(cb + x);
            const __m256i r = V256::load(cr + x);
            const __m256i p0 = shuffle3(y, kScatter[0][0], b, kScatter[0][1], r, kScatter[0][2]);
            const __m256i p1 = shuffle3(y, kScatter[1][0], b, kScatter[1][1], r, kScatter[1][2]);
            const __m256i p2 = shuffle3(y, kScatter[2][0], b, kScatter[2][1], r, kScatter[2][2]);
            // Low lanes hold bytes 0..47 of the step, high lanes bytes 48..95.
            __m256i* d = reinterpret_cast<__m256i*>(dst + x);
            V256::store(d, _mm256_permute2x128_si256(p0, p1, 0x20));
            V256::store(d + 1, _mm256_permute2x128_si256(p2, p0, 0x30));
            V256::store(d + 2, _mm256_permute2x128_si256(p1, p2, 0x31));
        }
        V256::leave();
        V256::lower().codes[S::index].interleave(luma + x * S::size, cb + x, cr + x, w - x, coding, dst + x);
    }

    static void deinterleave(const PIXEL_YC* src, int w, const Coding& coding, uint8_t* luma, int16_t* cb,
                             int16_t* cr) {
        const Coding k = coding;  // a copy, as in convert_simd.h
        int x = 0;
        for (; x + 16 <= w; x += 16) {
            // Pixels 0..7 of the step to the low lanes, 8..15 to the high lanes.
            const __m128i* s = reinterpret_cast<const __m128i*>(src + x);
            const __m256i r0 = load_lanes(s, s + 3), r1 = load_lanes(s + 1, s + 4), r2 = load_lanes(s + 2, s + 5);
            const __m256i y = shuffle3(r0, kGather[0][0], r1, kGather[1][0], r2, kGather[2][0]);
            V256::store(cb + x, shuffle3(r0, kGather[0][1], r1, kGather[1][1], r2, kGather[2][1]));
            V256::store(cr + x, shuffle3(r0, kGather[0][2], r1, kGather[1][2], r2, kGather[2][2]));
            encode_luma<V256, S>(luma + x * S::size, y, k);
        }
        V256::leave();
        V256::lower().codes[S::index].deinterleave(src + x, w - x, coding, luma + x * S::size, cb + x, cr + x);
    }
};

constexpr ConvertKernels kAvx2 = vector_kernels<V256, Pixels>();

}  // namespace

const ConvertKernels& avx2_convert_kernels() { return kAvx2; }

}  // namespace pelta_cli
