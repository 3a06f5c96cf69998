#include "window/shift.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "base/pixel.h"
#include "base/window.h"
#include "host/controls.h"
#include "window/trig.h"

namespace pelta {

namespace {

// The Lanczos kernel (a = 2) at x sixteenths of a field line.
double lanczos2(int x) {
    if (x == 0) return 1.0;
    const double t = x * 0.19634954084936207;  // x * pi / 16
    const double u = x * 0.09817477042468103;  // x * pi / 32
    return (det_sin(t) / t) * (det_sin(u) / u);
}

// What both shift operations share for one frame.
struct ShiftFrame {
    int left;           // first window column
    int n;              // window columns per row (> 0)
    int h;
    int max_w;
    int moved_parity;   // rows of this parity are moved: 0 in Case A, 1 in Case B
    int sigma;          // +1: moved rows take their picture from further down
    int samples;        // 3 * n int16 samples per window row
};

// Works out the window and field case. False when nothing is to be written:
// the left edge outside the frame, an empty window or no rows.
bool shift_frame(const FILTER* fp, const FILTER_PROC_INFO* fpip, ShiftFrame* s) {
    ColumnRange win;
    if (!field_shift_window(fp, fpip->w, &win) || fpip->h <= 0) return false;
    const bool case_a = (fpip->frame & 1) == tff_bit(fp);
    s->left = win.left;
    s->n = win.right - win.left;
    s->h = fpip->h;
    s->max_w = fpip->max_w;
    s->moved_parity = case_a ? 0 : 1;
    s->sigma = case_a ? 1 : -1;
    s->samples = 3 * s->n;
    return true;
}

inline int16_t* window_row(PIXEL_YC* frame, const ShiftFrame& s, int64_t y) {
    return reinterpret_cast<int16_t*>(pixel_at(frame, s.max_w, s.left, static_cast<int>(y)));
}
inline const int16_t* window_row(const PIXEL_YC* frame, const ShiftFrame& s, int64_t y) {
    return reinterpret_cast<const int16_t*>(pixel_at(frame, s.max_w, s.left, static_cast<int>(y)));
}

void copy_window_row(PIXEL_YC* dst, const PIXEL_YC* src, const ShiftFrame& s, int y, int64_t from) {
    std::memcpy(window_row(dst, s, y), window_row(src, s, from), sizeof(PIXEL_YC) * s.n);
}

// A moved row whose source lies outside the frame: the average of the two
// rows of the unmoved field around it, the quotient truncated toward zero.
// A frame of a single row has no unmoved row at all; that row is then kept
// as it stands in src, the closest picture there is.
void average_window_row(PIXEL_YC* dst, const PIXEL_YC* src, const ShiftFrame& s, int y) {
    const int up = y == 0 ? y + 1 : y - 1;
    const int down = y + 1 == s.h ? y - 1 : y + 1;
    if (up >= s.h || down < 0) {
        copy_window_row(dst, src, s, y, y);
        return;
    }
    const int16_t* u = window_row(src, s, up);
    const int16_t* d = window_row(src, s, down);
    int16_t* out = window_row(dst, s, y);
    for (int i = 0; i < s.samples; ++i) out[i] = static_cast<int16_t>((u[i] + d[i] + 1) / 2);
}

// A row of the moved field that lies outside the frame goes two rows at a
// time toward F (inside) until it is inside: it lands on the in-frame row of
// F's parity closest to the edge it crossed.
int64_t keep_inside(int64_t row, int64_t f, int h) {
    if (row < 0) return f & 1;
    if (row >= h) return ((h - 1) & 1) == (f & 1) ? h - 1 : h - 2;
    return row;
}

// Whether the packed path gives the plain results for these taps: each fits
// a signed 16-bit multiplier, and their magnitudes add up to no more than
// 65535, so no 32-bit sum can overflow (make_shift_taps stays within 40960).
bool taps_fit_packed(const int32_t taps[4]) {
    int64_t magnitude = 0;
    for (int k = 0; k < 4; ++k) {
        if (taps[k] < -32768 || taps[k] > 32767) return false;
        magnitude += taps[k] < 0 ? -int64_t{taps[k]} : int64_t{taps[k]};
    }
    return magnitude <= 65535;
}

// The four-tap sum over eight samples at a time: (v0, v1) and (v2, v3)
// interleaved meet (tap 0, tap 1) and (tap 2, tap 3) in two multiply-adds.
// The result keeps the low 16 bits of (acc + 0x4000) >> 15, as the plain
// loop's store does (no clamping). Returns how many samples it wrote.
int interp_row_sse2(int16_t* out, const int16_t* v0, const int16_t* v1, const int16_t* v2,
                    const int16_t* v3, const int32_t taps[4], int samples) {
    const __m128i t01 = _mm_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(taps[1]) << 16) | (static_cast<uint32_t>(taps[0]) & 0xFFFFu)));
    const __m128i t23 = _mm_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(taps[3]) << 16) | (static_cast<uint32_t>(taps[2]) & 0xFFFFu)));
    const __m128i half = _mm_set1_epi32(0x4000);
    int i = 0;
    for (; i + 8 <= samples; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v0 + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v1 + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v2 + i));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v3 + i));
        __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), t01),
                                   _mm_madd_epi16(_mm_unpacklo_epi16(c, d), t23));
        __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), t01),
                                   _mm_madd_epi16(_mm_unpackhi_epi16(c, d), t23));
        // Shift, then sign-extend the low 16 bits so the saturating pack
        // keeps them unchanged.
        lo = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(_mm_add_epi32(lo, half), 15), 16), 16);
        hi = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(_mm_add_epi32(hi, half), 15), 16), 16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(lo, hi));
    }
    return i;
}

}  // namespace

void make_shift_taps(int32_t taps[4], int shift) {
    const int b = shift & 15;
    const double w[4] = {lanczos2(b), lanczos2(16 - b), lanczos2(16 + b), lanczos2(32 - b)};
    const double norm = 1.0 / (w[0] + w[1] + w[2] + w[3]);
    for (int i = 0; i < 4; ++i) taps[i] = static_cast<int32_t>(std::floor(w[i] * norm * 32768.0 + 0.5));
}

void shift_window_whole(PIXEL_YC* dst, const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip) {
    ShiftFrame s;
    if (!shift_frame(fp, fpip, &s)) return;
    const int64_t d = 2 * int64_t{fp->track[TRACK_SHIFT] / 16};
    for (int y = 0; y < s.h; ++y) {
        if ((y & 1) != s.moved_parity) {
            copy_window_row(dst, src, s, y, y);
            continue;
        }
        const int64_t r = y + s.sigma * d;
        if (r >= 0 && r < s.h)
            copy_window_row(dst, src, s, y, r);
        else
            average_window_row(dst, src, s, y);
    }
}

void shift_window_interp(PIXEL_YC* dst, const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip,
                         const int32_t taps[4]) {
    ShiftFrame s;
    if (!shift_frame(fp, fpip, &s)) return;
    const int64_t q = fp->track[TRACK_SHIFT] >> 4;  // whole field lines, rounded down
    const int32_t t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3];
    const bool packed = taps_fit_packed(taps);
    for (int y = 0; y < s.h; ++y) {
        if ((y & 1) != s.moved_parity) {
            copy_window_row(dst, src, s, y, y);
            continue;
        }
        const int64_t f = y + s.sigma * (2 * q + 2);
        if (f < 0 || f >= s.h) {
            average_window_row(dst, src, s, y);
            continue;
        }
        // The four source rows, resolved once per row.
        const int16_t* v0 = window_row(src, s, keep_inside(f - 2 * s.sigma, f, s.h));
        const int16_t* v1 = window_row(src, s, f);
        const int16_t* v2 = window_row(src, s, keep_inside(f - 4 * s.sigma, f, s.h));
        const int16_t* v3 = window_row(src, s, keep_inside(f + 2 * s.sigma, f, s.h));
        int16_t* out = window_row(dst, s, y);
        int i = packed ? interp_row_sse2(out, v0, v1, v2, v3, taps, s.samples) : 0;
        for (; i < s.samples; ++i) {
            const int32_t acc = t0 * v0[i] + t1 * v1[i] + t2 * v2[i] + t3 * v3[i];
            out[i] = static_cast<int16_t>((acc + 0x4000) >> 15);
        }
    }
}

}  // namespace pelta
