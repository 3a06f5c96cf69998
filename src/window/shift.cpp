#include "window/shift.h"

#include <cmath>
#include <cstring>

#include "base/pixel.h"
#include "base/column_range.h"
#include "abi/controls.h"
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

bool shift_taps_fit_packed(const int32_t taps[4]) {
    int64_t magnitude = 0;
    for (int k = 0; k < 4; ++k) {
        if (taps[k] < -32768 || taps[k] > 32767) return false;
        magnitude += taps[k] < 0 ? -int64_t{taps[k]} : int64_t{taps[k]};
    }
    return magnitude <= 65535;
}

void shift_interp_row_scalar(const ShiftRows* rows, const int32_t taps[4]) {
    const int32_t t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3];
    const int16_t *v0 = rows->v[0], *v1 = rows->v[1], *v2 = rows->v[2], *v3 = rows->v[3];
    for (int i = 0; i < rows->n; ++i) {
        const int32_t acc = t0 * v0[i] + t1 * v1[i] + t2 * v2[i] + t3 * v3[i];
        rows->out[i] = static_cast<int16_t>((acc + 0x4000) >> 15);
    }
}

ShiftRows shift_rows_from(const ShiftRows* rows, int i) {
    ShiftRows r;
    for (int k = 0; k < 4; ++k) r.v[k] = rows->v[k] + i;
    r.out = rows->out + i;
    r.n = rows->n - i;
    return r;
}

namespace {
const ShiftKernels kShiftKernels[SIMD_LEVEL_COUNT] = {
    {shift_interp_row_scalar}, {shift_interp_row_sse2}, {shift_interp_row_avx2}};
}  // namespace

const ShiftKernels* shift_kernels_for(SimdLevel level) { return &kShiftKernels[level]; }

const ShiftKernels* shift_kernels(void) { return simd_kernels(shift_kernels_for); }

void shift_window_interp(PIXEL_YC* dst, const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip,
                         const int32_t taps[4]) {
    shift_window_interp_with(shift_kernels(), dst, src, fp, fpip, taps);
}

void shift_window_interp_with(const ShiftKernels* k, PIXEL_YC* dst, const PIXEL_YC* src,
                              FILTER* fp, FILTER_PROC_INFO* fpip, const int32_t taps[4]) {
    ShiftFrame s;
    if (!shift_frame(fp, fpip, &s)) return;
    const int64_t q = fp->track[TRACK_SHIFT] >> 4;  // whole field lines, rounded down
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
        ShiftRows rows;
        rows.v[0] = window_row(src, s, keep_inside(f - 2 * s.sigma, f, s.h));
        rows.v[1] = window_row(src, s, f);
        rows.v[2] = window_row(src, s, keep_inside(f - 4 * s.sigma, f, s.h));
        rows.v[3] = window_row(src, s, keep_inside(f + 2 * s.sigma, f, s.h));
        rows.out = window_row(dst, s, y);
        rows.n = s.samples;
        k->interp_row(&rows, taps);
    }
}

}  // namespace pelta
