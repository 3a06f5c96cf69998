#include "convert.h"

#include <algorithm>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "base/cpu.h"
#include "convert_format.h"

namespace pelta_cli {

using namespace pelta;

// The conversions work a row at a time on int16 rows: PIXEL_YC samples and
// everything resampled from them fit in 16 bits, and where a weighted sum
// does not (16-bit input, weights summing to 8 or 16), it is formed in 32 bits.
// Each row kernel has an SSE2 loop over blocks of 8 samples and a plain loop
// that does the rest of the row (all of it without SSE2), and the costlier
// ones an AVX2 version further down; all compute the formulas of convert.h and
// the resampling described in README.md exactly.
//
// Resampling reads one or two samples beyond each end of a row. Rows that are
// resampled live in padded buffers whose edge samples are repeated outwards
// (extend_edges), so the loops need no bounds checks, and whose slack on the
// right takes the vector loads that run past the row's end.

namespace {

#if defined(__SSE2__)
// Unaligned loads and stores of 8 and 16 bytes.
inline __m128i load64(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
inline __m128i load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store64(void* p, __m128i v) { _mm_storel_epi64(static_cast<__m128i*>(p), v); }
inline void store128(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
#endif

// Samples before a padded row's first and after its last (slack included).
constexpr int kPadLeft = 8;
constexpr int kPadRight = 24;

class PaddedRow {
public:
    int16_t* reserve(int n) {
        const size_t need = static_cast<size_t>(n) + kPadLeft + kPadRight;
        if (buf_.size() < need) buf_.assign(need, 0);
        return buf_.data() + kPadLeft;
    }

private:
    std::vector<int16_t> buf_;
};

// Repeats the first and last of n samples two places outwards.
inline void extend_edges(int16_t* row, int n) {
    row[-2] = row[-1] = row[0];
    row[n] = row[n + 1] = row[n - 1];
}

// ---- samples of 8 to 16 bits ------------------------------------------------

// The formulas of convert.h for one depth, in the shape the kernels use:
// encoding is ((v * mul + round) >> shift) + offset, clamped to 0..max.
struct Coding {
    int depth;
    int max;   // the largest code, 2^N - 1
    int unit;  // 2^(N-8), one 8-bit step in N-bit codes
    int luma_mul, luma_round, luma_shift, luma_offset;
    int chroma_mul, chroma_round, chroma_offset;  // shift 7
};

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

// Where samples live in Y4M planes: one byte each (8 bits) or two bytes,
// little-endian (9 to 16 bits). Kernels take byte addresses and sample indices.
struct Bytes {
    static constexpr int size = 1;
    static int get(const uint8_t* p, int i) { return p[i]; }
    static void put(uint8_t* p, int i, int v) { p[i] = static_cast<uint8_t>(v); }
};
struct Words {
    static constexpr int size = 2;
    static int get(const uint8_t* p, int i) { return p[2 * i] | p[2 * i + 1] << 8; }
    static void put(uint8_t* p, int i, int v) {
        p[2 * i] = static_cast<uint8_t>(v);
        p[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
};

// Sample i of a plane row as a code of the coding's depth (larger values, which
// only a broken stream holds, read as the largest code).
template <typename S>
inline int code_at(const uint8_t* p, int i, const Coding& k) {
    const int v = S::get(p, i);
    return v > k.max ? k.max : v;
}

#if defined(__SSE2__)
// Two 16-bit factors for _mm_madd_epi16, in every 32-bit lane.
inline __m128i pair16(int a, int b) {
    return _mm_set1_epi32(static_cast<int>(static_cast<uint16_t>(a) | static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16));
}
inline __m128i shift_count(int n) { return _mm_cvtsi32_si128(n); }

// Eight codes from p as 16-bit lanes, at most k.max.
template <typename S>
inline __m128i load_codes(const uint8_t* p, const Coding& k);
template <>
inline __m128i load_codes<Bytes>(const uint8_t* p, const Coding&) {
    return _mm_unpacklo_epi8(load64(p), _mm_setzero_si128());
}
template <>
inline __m128i load_codes<Words>(const uint8_t* p, const Coding& k) {
    const __m128i v = load128(p);
    return _mm_sub_epi16(v, _mm_subs_epu16(v, _mm_set1_epi16(static_cast<int16_t>(k.max))));
}

// The same codes moved up to the top bits of their lanes (times 2^(16-N)).
template <typename S>
inline __m128i load_codes_high(const uint8_t* p, const Coding& k);
template <>
inline __m128i load_codes_high<Bytes>(const uint8_t* p, const Coding&) {
    return _mm_unpacklo_epi8(_mm_setzero_si128(), load64(p));
}
template <>
inline __m128i load_codes_high<Words>(const uint8_t* p, const Coding& k) {
    return _mm_sll_epi16(load_codes<Words>(p, k), shift_count(16 - k.depth));
}

// luma_from_code of 8 codes given by load_codes_high: c * 2^(16-N) * 4788 is
// c * 1197 * 2^(18-N), so the top 16 bits of that 32-bit product are
// (c * 1197) >> (N - 2).
inline __m128i luma_from_codes(__m128i high) {
    return _mm_sub_epi16(_mm_mulhi_epu16(high, _mm_set1_epi16(4788)), _mm_set1_epi16(299));
}

// chroma_from_code of 8 codes: ((c - 128u) * 4681 + 164u) >> N as
// (c - 128u, u) . (4681, 164) in 32 bits; c - 128u fits 16 bits signed.
inline __m128i chroma_from_codes(__m128i c, const Coding& k) {
    const __m128i d = _mm_sub_epi16(c, _mm_set1_epi16(static_cast<int16_t>(128 * k.unit)));
    const __m128i unit = _mm_set1_epi16(static_cast<int16_t>(k.unit));
    const __m128i scale = pair16(4681, 164);
    const __m128i lo = _mm_sra_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(d, unit), scale), shift_count(k.depth));
    const __m128i hi = _mm_sra_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(d, unit), scale), shift_count(k.depth));
    return _mm_packs_epi32(lo, hi);
}

// Stores 8 codes, v + offset clamped to 0..k.max, from v in 32-bit lanes
// (samples 0-3 in lo, 4-7 in hi).
template <typename S>
inline void store_codes(uint8_t* p, __m128i lo, __m128i hi, int offset, const Coding& k);
template <>
inline void store_codes<Bytes>(uint8_t* p, __m128i lo, __m128i hi, int offset, const Coding&) {
    // At 8 bits v is within 16 bits; packing saturates to 0..255.
    const __m128i v = _mm_add_epi16(_mm_packs_epi32(lo, hi), _mm_set1_epi16(static_cast<int16_t>(offset)));
    store64(p, _mm_packus_epi16(v, v));
}
template <>
inline void store_codes<Words>(uint8_t* p, __m128i lo, __m128i hi, int offset, const Coding& k) {
    // Codes less 32768 saturate to -32768..32767, which is 0..65535; then the
    // upper clamp, and back.
    const __m128i bias = _mm_set1_epi32(offset - 32768);
    const __m128i v = _mm_packs_epi32(_mm_add_epi32(lo, bias), _mm_add_epi32(hi, bias));
    const __m128i top = _mm_set1_epi16(static_cast<int16_t>(k.max - 32768));
    store128(p, _mm_xor_si128(_mm_min_epi16(v, top), _mm_set1_epi16(-32768)));
}

// Encodes 8 samples of a kind with (v, 1) . (mul, round) >> shift.
template <typename S>
inline void encode_codes(uint8_t* p, __m128i v, int mul, int round, int shift, int offset, const Coding& k) {
    const __m128i one = _mm_set1_epi16(1), scale = pair16(mul, round);
    const __m128i lo = _mm_sra_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(v, one), scale), shift_count(shift));
    const __m128i hi = _mm_sra_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(v, one), scale), shift_count(shift));
    store_codes<S>(p, lo, hi, offset, k);
}
template <typename S>
inline void encode_luma(uint8_t* p, __m128i y, const Coding& k) {
    encode_codes<S>(p, y, k.luma_mul, k.luma_round, k.luma_shift, k.luma_offset, k);
}
template <typename S>
inline void encode_chroma(uint8_t* p, __m128i c, const Coding& k) {
    encode_codes<S>(p, c, k.chroma_mul, k.chroma_round, 7, k.chroma_offset, k);
}
#endif

// ---- planes to PIXEL_YC ------------------------------------------------------

// chroma_from_code over n samples.
template <typename S>
void chroma_row_from(const uint8_t* src, int n, const Coding& k, int16_t* dst) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 8 <= n; x += 8) store128(dst + x, chroma_from_codes(load_codes<S>(src + x * S::size, k), k));
#endif
    for (; x < n; ++x) dst[x] = chroma_from_code(code_at<S>(src, x, k), k.depth);
}

// Linear interpolation between two rows of 8-bit-range chroma, weights wa and
// 8 - wa, rounded: (wa * a + wb * b + 4) >> 3. The sum stays within 16 bits.
void interpolate_rows(const int16_t* a, const int16_t* b, int wa, int n, int16_t* dst) {
    const int wb = 8 - wa;
    int x = 0;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi16(static_cast<int16_t>(wa));
    const __m128i vb = _mm_set1_epi16(static_cast<int16_t>(wb));
    const __m128i round = _mm_set1_epi16(4);
    for (; x + 8 <= n; x += 8) {
        const __m128i sa = _mm_mullo_epi16(load128(a + x), va);
        const __m128i sb = _mm_mullo_epi16(load128(b + x), vb);
        store128(dst + x, _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(sa, sb), round), 3));
    }
#endif
    for (; x < n; ++x) dst[x] = static_cast<int16_t>((wa * a[x] + wb * b[x] + 4) >> 3);
}

// Horizontal 2:1 interpolation of a padded row of cw samples of 8-bit-range
// chroma to 2 * cw samples (one more than the picture when its width is odd).
// Co-sited chroma lands on the even output columns and is averaged in
// between; centred chroma sits a quarter pixel from each of its two columns
// (weights 3/4, 1/4).
void upsample_row(const int16_t* c, int cw, bool cosited, int16_t* out) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i two = _mm_set1_epi16(2), one = _mm_set1_epi16(1);
    for (; i + 8 <= cw; i += 8) {
        const __m128i prev = load128(c + i - 1);
        const __m128i cur = load128(c + i);
        const __m128i next = load128(c + i + 1);
        __m128i even, odd;
        if (cosited) {
            even = cur;
            odd = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(cur, next), one), 1);
        } else {
            const __m128i cur3 = _mm_add_epi16(cur, _mm_add_epi16(cur, cur));
            even = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(prev, cur3), two), 2);
            odd = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(cur3, next), two), 2);
        }
        store128(out + 2 * i, _mm_unpacklo_epi16(even, odd));
        store128(out + 2 * i + 8, _mm_unpackhi_epi16(even, odd));
    }
#endif
    for (; i < cw; ++i) {
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

#if defined(__SSE2__)
// Two pixels as Y Cb Cr 0 in each 64-bit lane to their 12 bytes, then zeros.
inline __m128i close_gap(__m128i q) { return _mm_or_si128(_mm_move_epi64(q), _mm_slli_si128(_mm_srli_si128(q, 8), 6)); }

// Stores 8 pixels from their three samples (8 lanes each) as 48 bytes.
inline void store_pixels(PIXEL_YC* dst, __m128i y, __m128i cb, __m128i cr) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i yc_lo = _mm_unpacklo_epi16(y, cb), yc_hi = _mm_unpackhi_epi16(y, cb);
    const __m128i cr_lo = _mm_unpacklo_epi16(cr, zero), cr_hi = _mm_unpackhi_epi16(cr, zero);
    const __m128i p01 = close_gap(_mm_unpacklo_epi32(yc_lo, cr_lo));
    const __m128i p23 = close_gap(_mm_unpackhi_epi32(yc_lo, cr_lo));
    const __m128i p45 = close_gap(_mm_unpacklo_epi32(yc_hi, cr_hi));
    const __m128i p67 = close_gap(_mm_unpackhi_epi32(yc_hi, cr_hi));
    // Four runs of 12 bytes into three registers.
    __m128i* d = reinterpret_cast<__m128i*>(dst);
    _mm_storeu_si128(d, _mm_or_si128(p01, _mm_slli_si128(p23, 12)));
    _mm_storeu_si128(d + 1, _mm_or_si128(_mm_srli_si128(p23, 4), _mm_slli_si128(p45, 8)));
    _mm_storeu_si128(d + 2, _mm_or_si128(_mm_srli_si128(p45, 8), _mm_slli_si128(p67, 4)));
}
#endif

// One row of PIXEL_YC from a luma row of codes and two full-width chroma rows.
template <typename S>
void interleave_row(const uint8_t* luma, const int16_t* cb, const int16_t* cr, int w, const Coding& k, PIXEL_YC* dst) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 8 <= w; x += 8)
        store_pixels(dst + x, luma_from_codes(load_codes_high<S>(luma + x * S::size, k)), load128(cb + x),
                     load128(cr + x));
#endif
    for (; x < w; ++x) dst[x] = PIXEL_YC{luma_from_code(code_at<S>(luma, x, k), k.depth), cb[x], cr[x]};
}

// ---- PIXEL_YC to planes --------------------------------------------------------

#if defined(__SSE2__)
// The inverse of close_gap: the pixel in bytes 6..11 to the upper 64-bit lane.
inline __m128i open_gap(__m128i q) { return _mm_unpacklo_epi64(q, _mm_srli_si128(q, 6)); }
#endif

// Splits one row of w pixels: luma straight to codes, the chroma samples
// into two int16 rows.
template <typename S>
void deinterleave_row(const PIXEL_YC* src, int w, const Coding& k, uint8_t* luma, int16_t* cb, int16_t* cr) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 8 <= w; x += 8) {
        // 8 pixels of 6 bytes in three registers; each run of two pixels (12
        // bytes) moved to the bottom of its own register, and then each pixel
        // into a 64-bit lane (Y Cb Cr and one stray sample).
        const __m128i* s = reinterpret_cast<const __m128i*>(src + x);
        const __m128i r0 = load128(s), r1 = load128(s + 1), r2 = load128(s + 2);
        const __m128i p01 = open_gap(r0);
        const __m128i p23 = open_gap(_mm_or_si128(_mm_srli_si128(r0, 12), _mm_slli_si128(r1, 4)));
        const __m128i p45 = open_gap(_mm_or_si128(_mm_srli_si128(r1, 8), _mm_slli_si128(r2, 8)));
        const __m128i p67 = open_gap(_mm_srli_si128(r2, 4));
        // A transpose of the 16-bit lanes gathers the Y, Cb and Cr of all 8.
        const __m128i t0 = _mm_unpacklo_epi16(p01, p23), t1 = _mm_unpackhi_epi16(p01, p23);
        const __m128i t2 = _mm_unpacklo_epi16(p45, p67), t3 = _mm_unpackhi_epi16(p45, p67);
        const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
        const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
        encode_luma<S>(luma + x * S::size, _mm_unpacklo_epi64(u0, u2), k);
        store128(cb + x, _mm_unpackhi_epi64(u0, u2));
        store128(cr + x, _mm_unpacklo_epi64(u1, u3));
    }
#endif
    for (; x < w; ++x) {
        S::put(luma, x, luma_to_code(src[x].y, k.depth));
        cb[x] = src[x].cb;
        cr[x] = src[x].cr;
    }
}

// chroma_to_code over n samples.
template <typename S>
void chroma_row_to(const int16_t* c, int n, const Coding& k, uint8_t* dst) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 8 <= n; x += 8) encode_chroma<S>(dst + x * S::size, load128(c + x), k);
#endif
    for (; x < n; ++x) S::put(dst, x, chroma_to_code(c[x], k.depth));
}

// Horizontal 2:1 decimation of a padded row (any 16-bit values) to cw
// samples, with the transposed (and normalised) interpolation kernel: 1-2-1 for
// co-sited chroma, 1-3-3-1 for centred, in 32 bits. With E and O the even and
// odd samples, output i is (O[i-1] + 2 E[i] + O[i] + 2) >> 2, or
// (O[i-1] + 3 E[i] + 3 O[i] + E[i+1] + 4) >> 3.
void downsample_row(const int16_t* s, int cw, bool cosited, int16_t* out) {
    int i = 0;
#if defined(__SSE2__)
    // Pairs (E[k], O[k]) are 32-bit lanes; a multiply-add weighs both.
    const __m128i odd_only = _mm_set_epi16(1, 0, 1, 0, 1, 0, 1, 0);
    const __m128i even_only = _mm_set_epi16(0, 1, 0, 1, 0, 1, 0, 1);
    const __m128i centre = cosited ? _mm_set_epi16(1, 2, 1, 2, 1, 2, 1, 2) : _mm_set1_epi16(3);
    const __m128i round = _mm_set1_epi32(cosited ? 2 : 4);
    const int shift = cosited ? 2 : 3;
    auto four = [&](const int16_t* p) {
        __m128i sum = _mm_add_epi32(
            _mm_madd_epi16(load128(p - 2), odd_only),
            _mm_madd_epi16(load128(p), centre));
        if (!cosited)
            sum = _mm_add_epi32(sum, _mm_madd_epi16(load128(p + 2), even_only));
        return _mm_sra_epi32(_mm_add_epi32(sum, round), _mm_cvtsi32_si128(shift));
    };
    for (; i + 8 <= cw; i += 8)
        store128(out + i, _mm_packs_epi32(four(s + 2 * i), four(s + 2 * i + 8)));
#endif
    for (; i < cw; ++i) {
        const int x = 2 * i;
        if (cosited)
            out[i] = static_cast<int16_t>((s[x - 1] + 2 * s[x] + s[x + 1] + 2) >> 2);
        else
            out[i] = static_cast<int16_t>((s[x - 1] + 3 * s[x] + 3 * s[x + 1] + s[x + 2] + 4) >> 3);
    }
}

// One output row of the vertical 4:2:0 decimation, samples `from` .. n-1:
// four rows of 16-bit samples weighted in sixteenths, rounded, then to codes.
template <typename S>
void decimate_rows(const int16_t* const rows[4], const int wt[4], int from, int n, const Coding& k, uint8_t* dst) {
    const int16_t *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
    const int w0 = wt[0], w1 = wt[1], w2 = wt[2], w3 = wt[3];
    int x = from;
#if defined(__SSE2__)
    const __m128i w01 = _mm_set1_epi32(w0 | w1 << 16), w23 = _mm_set1_epi32(w2 | w3 << 16);
    const __m128i round = _mm_set1_epi32(8);
    for (; x + 8 <= n; x += 8) {
        const __m128i a = load128(r0 + x);
        const __m128i b = load128(r1 + x);
        const __m128i c = load128(r2 + x);
        const __m128i d = load128(r3 + x);
        const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), w01),
                                         _mm_madd_epi16(_mm_unpacklo_epi16(c, d), w23));
        const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), w01),
                                         _mm_madd_epi16(_mm_unpackhi_epi16(c, d), w23));
        // The weights sum to 16, so the result is within 16 bits again.
        const __m128i v = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, round), 4),
                                          _mm_srai_epi32(_mm_add_epi32(hi, round), 4));
        encode_chroma<S>(dst + x * S::size, v, k);
    }
#endif
    for (; x < n; ++x)
        S::put(dst, x, chroma_to_code((w0 * r0[x] + w1 * r1[x] + w2 * r2[x] + w3 * r3[x] + 8) >> 4, k.depth));
}

// ---- AVX2 kernels ------------------------------------------------------------
//
// Where the CPU has AVX2 (cpu_has_avx2), the kernels take 16 pixels or
// samples a step and leave the rest of the row to the kernels above. Moving
// between the pixel layout and sample rows, the costliest step, becomes byte
// shuffles; the arithmetic is the SSE2 kernels' on twice the width. Only the
// functions marked PELTA_AVX2 are compiled for AVX2, and each clears the upper
// register halves before it hands the rest of a row to legacy SSE code.

#if defined(__SSE2__)
#define PELTA_AVX2 __attribute__((target("avx2")))

PELTA_AVX2 inline __m256i load256(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
PELTA_AVX2 inline void store256(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
// 16 bytes at `low` to the low lane, 16 at `high` to the high lane.
PELTA_AVX2 inline __m256i load_lanes(const void* low, const void* high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load128(low)), load128(high), 1);
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
PELTA_AVX2 inline __m256i both_lanes(const ByteShuffle& m) {
    return _mm256_broadcastsi128_si256(load128(m.index));
}

PELTA_AVX2 inline __m256i shuffle3(__m256i a, const ByteShuffle& ma, __m256i b, const ByteShuffle& mb, __m256i c,
                                   const ByteShuffle& mc) {
    const __m256i ab = _mm256_or_si256(_mm256_shuffle_epi8(a, both_lanes(ma)), _mm256_shuffle_epi8(b, both_lanes(mb)));
    return _mm256_or_si256(ab, _mm256_shuffle_epi8(c, both_lanes(mc)));
}

// The sample helpers above on 16 samples; the packs work within 128-bit
// lanes, so codes that come out of unpacklo/unpackhi pairs keep their order.
template <typename S>
PELTA_AVX2 inline __m256i load_codes_high256(const uint8_t* p, const Coding& k);
template <>
PELTA_AVX2 inline __m256i load_codes_high256<Bytes>(const uint8_t* p, const Coding&) {
    return _mm256_slli_epi16(_mm256_cvtepu8_epi16(load128(p)), 8);
}
template <>
PELTA_AVX2 inline __m256i load_codes_high256<Words>(const uint8_t* p, const Coding& k) {
    const __m256i v = _mm256_min_epu16(load256(p), _mm256_set1_epi16(static_cast<int16_t>(k.max)));
    return _mm256_sll_epi16(v, shift_count(16 - k.depth));
}

template <typename S>
PELTA_AVX2 inline void store_codes256(uint8_t* p, __m256i lo, __m256i hi, int offset, const Coding& k);
template <>
PELTA_AVX2 inline void store_codes256<Bytes>(uint8_t* p, __m256i lo, __m256i hi, int offset, const Coding&) {
    const __m256i v = _mm256_add_epi16(_mm256_packs_epi32(lo, hi), _mm256_set1_epi16(static_cast<int16_t>(offset)));
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);  // quadwords 0 and 2
    store128(p, _mm256_castsi256_si128(bytes));
}
template <>
PELTA_AVX2 inline void store_codes256<Words>(uint8_t* p, __m256i lo, __m256i hi, int offset, const Coding& k) {
    const __m256i bias = _mm256_set1_epi32(offset - 32768);
    const __m256i v = _mm256_packs_epi32(_mm256_add_epi32(lo, bias), _mm256_add_epi32(hi, bias));
    const __m256i top = _mm256_set1_epi16(static_cast<int16_t>(k.max - 32768));
    store256(p, _mm256_xor_si256(_mm256_min_epi16(v, top), _mm256_set1_epi16(-32768)));
}

template <typename S>
PELTA_AVX2 inline void encode_codes256(uint8_t* p, __m256i v, int mul, int round, int shift, int offset,
                                       const Coding& k) {
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i scale = _mm256_set1_epi32(
        static_cast<int>(static_cast<uint16_t>(mul) | static_cast<uint32_t>(static_cast<uint16_t>(round)) << 16));
    const __m256i lo = _mm256_sra_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(v, one), scale), shift_count(shift));
    const __m256i hi = _mm256_sra_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(v, one), scale), shift_count(shift));
    store_codes256<S>(p, lo, hi, offset, k);
}

// interleave_row, 16 pixels a step: pixels 0..7 of a step in the low lanes,
// 8..15 in the high lanes.
template <typename S>
PELTA_AVX2 void interleave_row_avx2(const uint8_t* luma, const int16_t* cb, const int16_t* cr, int w, const Coding& k,
                                    PIXEL_YC* dst) {
    const __m256i scale = _mm256_set1_epi16(4788), offset = _mm256_set1_epi16(299);
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m256i y = _mm256_sub_epi16(_mm256_mulhi_epu16(load_codes_high256<S>(luma + x * S::size, k), scale), offset);
        const __m256i b = load256(cb + x);
        const __m256i r = load256(cr + x);
        const __m256i p0 = shuffle3(y, kScatter[0][0], b, kScatter[0][1], r, kScatter[0][2]);
        const __m256i p1 = shuffle3(y, kScatter[1][0], b, kScatter[1][1], r, kScatter[1][2]);
        const __m256i p2 = shuffle3(y, kScatter[2][0], b, kScatter[2][1], r, kScatter[2][2]);
        // Low lanes hold bytes 0..47 of the step, high lanes bytes 48..95.
        __m256i* d = reinterpret_cast<__m256i*>(dst + x);
        _mm256_storeu_si256(d, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(p2, p0, 0x30));
        _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(p1, p2, 0x31));
    }
    // The rest runs legacy SSE code: leave the upper halves clean first.
    _mm256_zeroupper();
    interleave_row<S>(luma + x * S::size, cb + x, cr + x, w - x, k, dst + x);
}

// deinterleave_row, 16 pixels a step.
template <typename S>
PELTA_AVX2 void deinterleave_row_avx2(const PIXEL_YC* src, int w, const Coding& k, uint8_t* luma, int16_t* cb,
                                      int16_t* cr) {
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        // Pixels 0..7 of the step to the low lanes, 8..15 to the high lanes.
        const __m128i* s = reinterpret_cast<const __m128i*>(src + x);
        const __m256i r0 = load_lanes(s, s + 3), r1 = load_lanes(s + 1, s + 4), r2 = load_lanes(s + 2, s + 5);
        const __m256i y = shuffle3(r0, kGather[0][0], r1, kGather[1][0], r2, kGather[2][0]);
        store256(cb + x, shuffle3(r0, kGather[0][1], r1, kGather[1][1], r2, kGather[2][1]));
        store256(cr + x, shuffle3(r0, kGather[0][2], r1, kGather[1][2], r2, kGather[2][2]));
        encode_codes256<S>(luma + x * S::size, y, k.luma_mul, k.luma_round, k.luma_shift, k.luma_offset, k);
    }
    _mm256_zeroupper();
    deinterleave_row<S>(src + x, w - x, k, luma + x * S::size, cb + x, cr + x);
}

// The resampling kernels, each as its SSE2 namesake.
PELTA_AVX2 void interpolate_rows_avx2(const int16_t* a, const int16_t* b, int wa, int n, int16_t* dst) {
    const __m256i va = _mm256_set1_epi16(static_cast<int16_t>(wa));
    const __m256i vb = _mm256_set1_epi16(static_cast<int16_t>(8 - wa));
    const __m256i round = _mm256_set1_epi16(4);
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i sa = _mm256_mullo_epi16(load256(a + x), va);
        const __m256i sb = _mm256_mullo_epi16(load256(b + x), vb);
        store256(dst + x, _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(sa, sb), round), 3));
    }
    _mm256_zeroupper();
    interpolate_rows(a + x, b + x, wa, n - x, dst + x);
}

PELTA_AVX2 void upsample_row_avx2(const int16_t* c, int cw, bool cosited, int16_t* out) {
    const __m256i two = _mm256_set1_epi16(2), one = _mm256_set1_epi16(1);
    int i = 0;
    for (; i + 16 <= cw; i += 16) {
        const __m256i prev = load256(c + i - 1);
        const __m256i cur = load256(c + i);
        const __m256i next = load256(c + i + 1);
        __m256i even, odd;
        if (cosited) {
            even = cur;
            odd = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(cur, next), one), 1);
        } else {
            const __m256i cur3 = _mm256_add_epi16(cur, _mm256_add_epi16(cur, cur));
            even = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(prev, cur3), two), 2);
            odd = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(cur3, next), two), 2);
        }
        // The unpacks pair samples 0..3 and 8..11 (lo), 4..7 and 12..15 (hi).
        const __m256i lo = _mm256_unpacklo_epi16(even, odd), hi = _mm256_unpackhi_epi16(even, odd);
        store256(out + 2 * i, _mm256_permute2x128_si256(lo, hi, 0x20));
        store256(out + 2 * i + 16, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    _mm256_zeroupper();
    upsample_row(c + i, cw - i, cosited, out + 2 * i);
}

PELTA_AVX2 void downsample_row_avx2(const int16_t* s, int cw, bool cosited, int16_t* out) {
    const __m256i odd_only = _mm256_set1_epi32(1 << 16), even_only = _mm256_set1_epi32(1);
    const __m256i centre = cosited ? _mm256_set1_epi32(2 | 1 << 16) : _mm256_set1_epi16(3);
    const __m256i round = _mm256_set1_epi32(cosited ? 2 : 4);
    const __m128i shift = _mm_cvtsi32_si128(cosited ? 2 : 3);
    int i = 0;
    for (; i + 16 <= cw; i += 16) {
        __m256i sum[2];
        for (int half = 0; half < 2; ++half) {
            const int16_t* p = s + 2 * i + 16 * half;
            sum[half] = _mm256_add_epi32(
                _mm256_madd_epi16(load256(p - 2), odd_only),
                _mm256_madd_epi16(load256(p), centre));
            if (!cosited)
                sum[half] = _mm256_add_epi32(
                    sum[half], _mm256_madd_epi16(load256(p + 2), even_only));
            sum[half] = _mm256_sra_epi32(_mm256_add_epi32(sum[half], round), shift);
        }
        // Outputs 0..3 8..11 | 4..7 12..15 after the pack; quadwords 0 2 1 3.
        store256(out + i, _mm256_permute4x64_epi64(_mm256_packs_epi32(sum[0], sum[1]), 0xD8));
    }
    _mm256_zeroupper();
    downsample_row(s + 2 * i, cw - i, cosited, out + i);
}

template <typename S>
PELTA_AVX2 void decimate_rows_avx2(const int16_t* const rows[4], const int wt[4], int from, int n, const Coding& k,
                                   uint8_t* dst) {
    const int16_t *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
    const __m256i w01 = _mm256_set1_epi32(wt[0] | wt[1] << 16), w23 = _mm256_set1_epi32(wt[2] | wt[3] << 16);
    const __m256i round = _mm256_set1_epi32(8);
    int x = from;
    for (; x + 16 <= n; x += 16) {
        const __m256i a = load256(r0 + x);
        const __m256i b = load256(r1 + x);
        const __m256i c = load256(r2 + x);
        const __m256i d = load256(r3 + x);
        const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w01),
                                            _mm256_madd_epi16(_mm256_unpacklo_epi16(c, d), w23));
        const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w01),
                                            _mm256_madd_epi16(_mm256_unpackhi_epi16(c, d), w23));
        const __m256i v = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(lo, round), 4),
                                             _mm256_srai_epi32(_mm256_add_epi32(hi, round), 4));
        encode_codes256<S>(dst + x * S::size, v, k.chroma_mul, k.chroma_round, 7, k.chroma_offset, k);
    }
    _mm256_zeroupper();
    decimate_rows<S>(rows, wt, x, n, k, dst);
}
#endif

// The row kernels for this CPU.
template <typename S>
struct Kernels {
    decltype(&interleave_row<S>) interleave;
    decltype(&deinterleave_row<S>) deinterleave;
    decltype(&interpolate_rows) interpolate;
    decltype(&upsample_row) upsample;
    decltype(&downsample_row) downsample;
    decltype(&decimate_rows<S>) decimate;
};
template <typename S>
Kernels<S> kernels() {
#if defined(__SSE2__)
    if (cpu_has_avx2())
        return {interleave_row_avx2<S>, deinterleave_row_avx2<S>, interpolate_rows_avx2,
                upsample_row_avx2,      downsample_row_avx2,      decimate_rows_avx2<S>};
#endif
    return {interleave_row<S>, deinterleave_row<S>, interpolate_rows, upsample_row, downsample_row, decimate_rows<S>};
}
// ---- per-frame scratch -----------------------------------------------------

// Scratch space reused from frame to frame.
struct Scratch {
    std::vector<int16_t> chroma_plane[2];  // 4:2:0 chroma in PIXEL_YC units, before or after resampling
    PaddedRow chroma_row[2];               // one chroma row at chroma width
    PaddedRow full_row[2];                 // one chroma row at picture width
    std::vector<int16_t> zeros;            // monochrome chroma
};
Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

std::vector<int16_t>& sized(std::vector<int16_t>& v, size_t n) {
    if (v.size() < n) v.resize(n);
    return v;
}

template <typename S>
void planes_to_yc_as(const uint8_t* planes, Chroma c, int w, int h, PIXEL_YC* dst, int stride, const Coding& k) {
    const PlaneSizes ps = plane_sizes(c, w, h, k.depth);
    const size_t chroma_samples = static_cast<size_t>(ps.cw) * ps.ch;
    const bool mono = c == Chroma::Mono;
    const bool vertical = !mono && ps.ch != h;  // 4:2:0 more than one row high
    const bool cosited = chroma_cosited(c);
    const Kernels<S> kernel = kernels<S>();
    Scratch& s = scratch();
    int16_t* narrow[2] = {s.chroma_row[0].reserve(ps.cw), s.chroma_row[1].reserve(ps.cw)};
    int16_t* full[2] = {s.full_row[0].reserve(2 * ps.cw), s.full_row[1].reserve(2 * ps.cw)};
    if (mono) full[0] = full[1] = sized(s.zeros, static_cast<size_t>(w)).data();
    // 4:2:0 chroma is interpolated from rows of the whole plane, converted first.
    if (vertical)
        for (int comp = 0; comp < 2; ++comp)
            chroma_row_from<S>(planes + ps.luma + comp * ps.chroma, static_cast<int>(chroma_samples), k,
                               sized(s.chroma_plane[comp], chroma_samples).data());

    for (int y = 0; y < h; ++y) {
        for (int comp = 0; comp < 2 && !mono; ++comp) {
            // The chroma of luma row y at chroma width (straight into the
            // full-width row when there is no horizontal subsampling), then
            // interpolated to the picture width.
            int16_t* row = ps.cw == w ? full[comp] : narrow[comp];
            if (vertical) {
                const VerticalTaps t = vertical_taps(y, ps.ch);
                const int16_t* plane = s.chroma_plane[comp].data();
                kernel.interpolate(plane + static_cast<size_t>(t.row_a) * ps.cw,
                                   plane + static_cast<size_t>(t.row_b) * ps.cw, t.weight_a, ps.cw, row);
            } else {
                chroma_row_from<S>(planes + ps.luma + comp * ps.chroma + static_cast<size_t>(y) * ps.cw * S::size,
                                   ps.cw, k, row);
            }
            if (ps.cw != w) {
                extend_edges(row, ps.cw);
                kernel.upsample(row, ps.cw, cosited, full[comp]);
            }
        }
        kernel.interleave(planes + static_cast<size_t>(y) * w * S::size, full[0], full[1], w, k,
                          dst + static_cast<size_t>(y) * stride);
    }
}

template <typename S>
void yc_to_planes_as(const PIXEL_YC* src, int stride, int w, int h, Chroma c, uint8_t* planes, const Coding& k) {
    const PlaneSizes ps = plane_sizes(c, w, h, k.depth);
    const bool mono = c == Chroma::Mono;
    const bool vertical = !mono && ps.ch != h;
    const bool cosited = chroma_cosited(c);
    const Kernels<S> kernel = kernels<S>();
    Scratch& s = scratch();
    int16_t* full[2] = {s.full_row[0].reserve(w), s.full_row[1].reserve(w)};
    int16_t* narrow[2] = {s.chroma_row[0].reserve(ps.cw), s.chroma_row[1].reserve(ps.cw)};
    // 4:2:0 chroma after the horizontal pass, h rows of cw, for the vertical pass.
    int16_t* tall[2] = {nullptr, nullptr};
    if (vertical)
        for (int comp = 0; comp < 2; ++comp)
            tall[comp] = sized(s.chroma_plane[comp], static_cast<size_t>(ps.cw) * h).data();

    for (int y = 0; y < h; ++y) {
        kernel.deinterleave(src + static_cast<size_t>(y) * stride, w, k, planes + static_cast<size_t>(y) * w * S::size,
                            full[0], full[1]);
        for (int comp = 0; comp < 2 && !mono; ++comp) {
            // Horizontally (w -> cw) first, then vertically within fields.
            const int16_t* row = full[comp];
            int16_t* tall_row = vertical ? tall[comp] + static_cast<size_t>(y) * ps.cw : nullptr;
            if (ps.cw != w) {
                int16_t* out = vertical ? tall_row : narrow[comp];
                extend_edges(full[comp], w);
                kernel.downsample(full[comp], ps.cw, cosited, out);
                row = out;
            } else if (vertical) {  // 4:2:0 one pixel wide
                std::copy(row, row + w, tall_row);
            }
            if (!vertical)
                chroma_row_to<S>(row, ps.cw, k,
                                 planes + ps.luma + comp * ps.chroma + static_cast<size_t>(y) * ps.cw * S::size);
        }
    }
    if (!vertical) return;

    // Vertical 2:1 decimation of 4:2:0 chroma within each field.
    for (int comp = 0; comp < 2; ++comp) {
        uint8_t* plane = planes + ps.luma + comp * ps.chroma;
        for (int parity = 0; parity < 2; ++parity) {
            const int cn = field_lines(ps.ch, parity);
            if (field_lines(h, parity) == 0) continue;
            for (int j = 0; j < cn; ++j) {
                const DecimationTaps t = decimation_taps(j, parity, h);
                const int16_t* rows[4];
                for (int i = 0; i < 4; ++i) rows[i] = tall[comp] + static_cast<size_t>(t.rows[i]) * ps.cw;
                kernel.decimate(rows, t.weights, 0, ps.cw, k, plane + static_cast<size_t>(2 * j + parity) * ps.cw * S::size);
            }
        }
    }
}

}  // namespace

void planes_to_yc(const uint8_t* planes, Chroma c, int w, int h, PIXEL_YC* dst, int stride, int depth) {
    const Coding k = coding_for(depth);
    if (depth > 8)
        planes_to_yc_as<Words>(planes, c, w, h, dst, stride, k);
    else
        planes_to_yc_as<Bytes>(planes, c, w, h, dst, stride, k);
}

void yc_to_planes(const PIXEL_YC* src, int stride, int w, int h, Chroma c, uint8_t* planes, int depth) {
    const Coding k = coding_for(depth);
    if (depth > 8)
        yc_to_planes_as<Words>(src, stride, w, h, c, planes, k);
    else
        yc_to_planes_as<Bytes>(src, stride, w, h, c, planes, k);
}

}  // namespace pelta_cli
