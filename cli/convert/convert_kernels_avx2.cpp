// The row kernels with AVX2, 16 samples or pixels a step; the rest of a row
// goes to the SSE2 kernels. Moving between the pixel layout and sample rows,
// the costliest step, becomes byte shuffles; the arithmetic is the SSE2
// kernels' on twice the width (convert_simd.h).
//
// Only what lies between PELTA_AVX2_BEGIN and PELTA_AVX2_END is built for
// AVX2 (the ordinary headers come first), and the table of those kernels is
// in force only where the CPU runs AVX2 (simd_level() is clamped to
// cpu_simd_level()); its accessor stands outside the region. So that no AVX2 code can stand in for code that
// other files share, everything inside has internal linkage and nothing there
// instantiates std templates or calls the inline functions of convert.h; a
// test checks that this object defines no weak symbols and exports only the
// accessor, and that no other object holds AVX2 instructions.
#include "base/simd_vec.h"
#include "convert/convert_kernels.h"

PELTA_AVX2_BEGIN
#include "convert/convert_simd.h"

namespace pelta_cli {

using namespace pelta;

namespace {

// 16 bytes at `low` to the low lane, 16 at `high` to the high lane.
inline __m256i load_lanes(const __m128i* low, const __m128i* high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(low)), _mm_loadu_si128(high), 1);
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
inline __m256i both_lanes(const ByteShuffle& m) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.index)));
}

inline __m256i shuffle3(__m256i a, const ByteShuffle& ma, __m256i b, const ByteShuffle& mb, __m256i c,
                        const ByteShuffle& mc) {
    const __m256i ab = _mm256_or_si256(_mm256_shuffle_epi8(a, both_lanes(ma)), _mm256_shuffle_epi8(b, both_lanes(mb)));
    return _mm256_or_si256(ab, _mm256_shuffle_epi8(c, both_lanes(mc)));
}

// The steps of interleave and deinterleave, 16 pixels each: pixels 0..7 in
// the low lanes, 8..15 in the high lanes.
template <typename S>
struct Pixels {
    static PELTA_SIMD_INLINE void interleave(const uint8_t* luma, const int16_t* cb, const int16_t* cr,
                                             const Coding& k, PIXEL_YC* dst) {
        const __m256i y = luma_from_codes<Vec256>(load_codes_high<Vec256, S>(luma, k));
        const __m256i b = Vec256::load(cb);
        const __m256i r = Vec256::load(cr);
        const __m256i p0 = shuffle3(y, kScatter[0][0], b, kScatter[0][1], r, kScatter[0][2]);
        const __m256i p1 = shuffle3(y, kScatter[1][0], b, kScatter[1][1], r, kScatter[1][2]);
        const __m256i p2 = shuffle3(y, kScatter[2][0], b, kScatter[2][1], r, kScatter[2][2]);
        // Low lanes hold bytes 0..47 of the step, high lanes bytes 48..95.
        __m256i* d = reinterpret_cast<__m256i*>(dst);
        _mm256_storeu_si256(d, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(p2, p0, 0x30));
        _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(p1, p2, 0x31));
    }

    static PELTA_SIMD_INLINE void deinterleave(const PIXEL_YC* src, const Coding& k, uint8_t* luma, int16_t* cb,
                                               int16_t* cr) {
        const __m128i* s = reinterpret_cast<const __m128i*>(src);
        const __m256i r0 = load_lanes(s, s + 3), r1 = load_lanes(s + 1, s + 4), r2 = load_lanes(s + 2, s + 5);
        const __m256i y = shuffle3(r0, kGather[0][0], r1, kGather[1][0], r2, kGather[2][0]);
        Vec256::store(cb, shuffle3(r0, kGather[0][1], r1, kGather[1][1], r2, kGather[2][1]));
        Vec256::store(cr, shuffle3(r0, kGather[0][2], r1, kGather[1][2], r2, kGather[2][2]));
        encode_luma<Vec256, S>(luma, y, k);
    }
};

constexpr ConvertKernels kAvx2 = vector_kernels<Vec256, Pixels>();

}  // namespace
}  // namespace pelta_cli
PELTA_AVX2_END

namespace pelta_cli {

const ConvertKernels* convert_kernels_avx2() { return &kAvx2; }

}  // namespace pelta_cli
