#include "match/lowpass.h"

#include <cstring>

#include "base/pixel.h"

namespace pelta {

namespace {

inline int32_t clamp16(int32_t v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); }

inline const int16_t* row_samples(const PIXEL_YC* frame, int max_w, int y) {
    return reinterpret_cast<const int16_t*>(pixel_at(frame, max_w, 0, y));
}

}  // namespace

void vertical_lowpass_row_scalar(const LowpassRows* rows) {
    for (int j = 0; j < rows->n; ++j) {
        int32_t pair[6];
        for (int k = 1; k <= 5; ++k) pair[k] = clamp16(rows->above[k][j] + rows->below[k][j]);
        const int32_t acc = LOWPASS_TAPS[0] * rows->centre[j] + LOWPASS_TAPS[1] * pair[1] +
                            LOWPASS_TAPS[2] * pair[2] + LOWPASS_TAPS[3] * pair[3] +
                            LOWPASS_TAPS[4] * pair[4] + LOWPASS_TAPS[5] * pair[5];
        rows->out[j] = static_cast<int16_t>(clamp16((acc + 16384) >> 15));
    }
}

LowpassRows lowpass_rows_from(const LowpassRows* rows, int j) {
    LowpassRows r;
    r.centre = rows->centre + j;
    r.above[0] = nullptr;
    r.below[0] = nullptr;
    for (int k = 1; k <= 5; ++k) {
        r.above[k] = rows->above[k] + j;
        r.below[k] = rows->below[k] + j;
    }
    r.out = rows->out + j;
    r.n = rows->n - j;
    return r;
}

namespace {
const LowpassKernels kLowpassKernels[SIMD_LEVEL_COUNT] = {
    {vertical_lowpass_row_scalar}, {vertical_lowpass_row_sse2}, {vertical_lowpass_row_avx2}};
}  // namespace

const LowpassKernels* lowpass_kernels_for(SimdLevel level) { return &kLowpassKernels[level]; }

const LowpassKernels* lowpass_kernels(void) { return simd_kernels(lowpass_kernels_for); }

int vertical_lowpass_with(LowpassRowFn kernel, PIXEL_YC* dst, const PIXEL_YC* src, int h,
                          int max_w, int w) {
    if (h <= 0) return 0;
    const size_t row_bytes = static_cast<size_t>(max_w > 0 ? max_w : 0) * sizeof(PIXEL_YC);
    // A zero stride copies nothing (and the buffers may then be empty).
    if (row_bytes) std::memcpy(pixel_at(dst, max_w, 0, 0), pixel_at(src, max_w, 0, 0), row_bytes);
    if (h < 2) return 0;

    if (w > 0) {
        LowpassRows rows;
        rows.n = 3 * w;
        const int last = h - 2;  // the outermost filtered rows stand in for missing neighbours
        for (int i = 1; i <= last; ++i) {
            rows.centre = row_samples(src, max_w, i);
            for (int k = 1; k <= 5; ++k) {
                rows.above[k] = row_samples(src, max_w, i - k < 1 ? 1 : i - k);
                rows.below[k] = row_samples(src, max_w, i + k > last ? last : i + k);
            }
            rows.out = reinterpret_cast<int16_t*>(pixel_at(dst, max_w, 0, i));
            // Row i+6 is the one the next row's sum adds.
            if (i + 6 <= last) prefetch_pixels(pixel_at(src, max_w, 0, i + 6), w);
            kernel(&rows);
        }
    }
    if (row_bytes)
        std::memcpy(pixel_at(dst, max_w, 0, h - 1), pixel_at(src, max_w, 0, h - 1), row_bytes);
    return 0;
}

int vertical_lowpass(PIXEL_YC* dst, const PIXEL_YC* src, int h, int max_w, int w) {
    return vertical_lowpass_with(lowpass_kernels()->row, dst, src, h, max_w, w);
}

}  // namespace pelta
