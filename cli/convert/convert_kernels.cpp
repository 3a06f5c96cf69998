// The plain row kernels, the reference every vector version matches, and the
// tables of the tiers.
#include "convert/convert_kernels.h"

#include "convert/convert.h"

namespace pelta_cli {

using namespace pelta;

Coding coding_for(int depth) {
    Coding k{};
    k.depth = depth;
    k.max = max_code(depth);
    k.unit = 1 << (depth - 8);
    k.luma_mul = 219 * k.unit;
    k.luma_round = luma_rounding(depth);
    k.luma_shift = 12;
    k.luma_offset = 16 * k.unit;
    // The vector code multiplies 16-bit factors; at 16 bits the multiplier
    // and the rounding (both even) are halved and the shift is one less.
    if (k.luma_mul > 32767) {
        k.luma_mul /= 2;
        k.luma_round /= 2;
        k.luma_shift = 11;
    }
    // (((c + 2048) * 7u + r) >> 7) + 16u is ((7u * c + r) >> 7) + 128u, as
    // 2048 * 7u is a multiple of 128.
    k.chroma_mul = 7 * k.unit;
    k.chroma_round = chroma_rounding(depth);
    k.chroma_offset = 128 * k.unit;
    return k;
}

namespace {

// Sample i of a plane row.
template <typename S>
int get(const uint8_t* p, int i) {
    if constexpr (S::size == 1) return p[i];
    else return p[2 * i] | p[2 * i + 1] << 8;
}
template <typename S>
void put(uint8_t* p, int i, int v) {
    if constexpr (S::size == 1) {
        p[i] = static_cast<uint8_t>(v);
    } else {
        p[2 * i] = static_cast<uint8_t>(v);
        p[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
}

// Sample i of a plane row as a code of the coding's depth (larger values read
// as the largest code).
template <typename S>
int code_at(const uint8_t* p, int i, const Coding& k) {
    const int v = get<S>(p, i);
    return v > k.max ? k.max : v;
}

template <typename S>
void chroma_row_from(const uint8_t* src, int n, const Coding& k, int16_t* dst) {
    for (int x = 0; x < n; ++x) dst[x] = chroma_from_code(code_at<S>(src, x, k), k.depth);
}

template <typename S>
void chroma_row_to(const int16_t* c, int n, const Coding& k, uint8_t* dst) {
    for (int x = 0; x < n; ++x) put<S>(dst, x, chroma_to_code(c[x], k.depth));
}

template <typename S>
void interleave_row(const uint8_t* luma, const int16_t* cb, const int16_t* cr, int w, const Coding& k, PIXEL_YC* dst) {
    for (int x = 0; x < w; ++x) dst[x] = PIXEL_YC{luma_from_code(code_at<S>(luma, x, k), k.depth), cb[x], cr[x]};
}

template <typename S>
void deinterleave_row(const PIXEL_YC* src, int w, const Coding& k, uint8_t* luma, int16_t* cb, int16_t* cr) {
    for (int x = 0; x < w; ++x) {
        put<S>(luma, x, luma_to_code(src[x].y, k.depth));
        cb[x] = src[x].cb;
        cr[x] = src[x].cr;
    }
}

template <typename S>
void decimate_rows(const int16_t* const rows[4], const int wt[4], int n, const Coding& k, uint8_t* dst) {
    const int16_t *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
    const int w0 = wt[0], w1 = wt[1], w2 = wt[2], w3 = wt[3];
    for (int x = 0; x < n; ++x)
        put<S>(dst, x, chroma_to_code((w0 * r0[x] + w1 * r1[x] + w2 * r2[x] + w3 * r3[x] + 8) >> 4, k.depth));
}

void interpolate_rows(const int16_t* a, const int16_t* b, int wa, int n, int16_t* dst) {
    const int wb = 8 - wa;
    for (int x = 0; x < n; ++x) dst[x] = static_cast<int16_t>((wa * a[x] + wb * b[x] + 4) >> 3);
}

void upsample_row(const int16_t* c, int cw, bool cosited, int16_t* out) {
    for (int i = 0; i < cw; ++i) {
        const int prev = c[i - 1], cur = c[i], next = c[i + 1];
        if (cosited) {
            out[2 * i] = static_cast<int16_t>(cur);
            out[2 * i + 1] = static_cast<int16_t>((cur + next + 1) >> 1);
        } else {
            out[2 * i] = static_cast<int16_t>((prev + 3 * cur + 2) >> 2);
            out[2 * i + 1] = static_cast<int16_t>((3 * cur + next + 2) >> 2);
        }
    }
}

void downsample_row(const int16_t* s, int cw, bool cosited, int16_t* out) {
    for (int i = 0; i < cw; ++i) {
        const int x = 2 * i;
        if (cosited)
            out[i] = static_cast<int16_t>((s[x - 1] + 2 * s[x] + s[x + 1] + 2) >> 2);
        else
            out[i] = static_cast<int16_t>((s[x - 1] + 3 * s[x] + 3 * s[x + 1] + s[x + 2] + 4) >> 3);
    }
}

template <typename S>
constexpr CodeKernels code_kernels() {
    return {chroma_row_from<S>, chroma_row_to<S>, interleave_row<S>, deinterleave_row<S>, decimate_rows<S>};
}

constexpr ConvertKernels kScalar = {
    SIMD_SCALAR, {code_kernels<Bytes>(), code_kernels<Words>()}, interpolate_rows, upsample_row, downsample_row};

}  // namespace

const ConvertKernels* convert_kernels_scalar() { return &kScalar; }

const ConvertKernels* convert_kernels_for(SimdLevel level) {
    static constexpr const ConvertKernels* (*kTiers[SIMD_LEVEL_COUNT])() = {
        convert_kernels_scalar, convert_kernels_sse2, convert_kernels_avx2};
    return kTiers[level]();
}

const ConvertKernels* convert_kernels() { return simd_kernels(convert_kernels_for); }

}  // namespace pelta_cli
