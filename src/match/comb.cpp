#include "match/comb.h"

#include "base/arith.h"
#include "base/pixel.h"
#include "base/column_range.h"
#include "abi/controls.h"

namespace pelta {

namespace {

// One component's comb score from five vertically adjacent samples a..e
// (rows r-2 .. r+2). The >> are arithmetic shifts (rounding toward minus
// infinity). The weighted sum wraps as 32-bit arithmetic does, which only a
// weight far outside its track bar's range can reach.
inline int32_t comb_score(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e,
                          const CombParams* p) {
    const int32_t hi = (6 * c + a + e - 4 * (b + d)) >> 6;
    const int32_t mid = (a + e - 2 * c) >> 4;
    return wrap_add(wrap_mul(p->high, hi), wrap_mul(p->mid, mid));
}

}  // namespace

int count_comb_span_scalar(const CombRows* rows, int x0, int n, const CombParams* p) {
    const PIXEL_YC* a = rows->row[0] + x0;
    const PIXEL_YC* b = rows->row[1] + x0;
    const PIXEL_YC* c = rows->row[2] + x0;
    const PIXEL_YC* d = rows->row[3] + x0;
    const PIXEL_YC* e = rows->row[4] + x0;
    int count = 0;
    for (int x = 0; x < n; ++x) {
        const int32_t sy = comb_score(a[x].y, b[x].y, c[x].y, d[x].y, e[x].y, p);
        const int32_t su = comb_score(a[x].cb, b[x].cb, c[x].cb, d[x].cb, e[x].cb, p);
        const int32_t sv = comb_score(a[x].cr, b[x].cr, c[x].cr, d[x].cr, e[x].cr, p);
        if (sy >= p->th_y || wrap_abs(su) >= p->th_c || wrap_abs(sv) >= p->th_c) ++count;
    }
    return count;
}

bool comb_in_narrow_range_scalar(const PIXEL_YC* row, int n) {
    const int16_t* s = reinterpret_cast<const int16_t*>(row);
    for (int j = 0; j < 3 * n; ++j)
        if (s[j] < COMB_NARROW_LO || s[j] > COMB_NARROW_HI) return false;
    return true;
}

int count_comb_span_narrow_scalar(const CombRows* rows, int x0, int n, const CombParams* p) {
    if (!comb_in_narrow_range_scalar(rows->row[4] + x0, n)) return -1;
    return count_comb_span_scalar(rows, x0, n, p);
}

namespace {
const CombKernels kCombKernels[SIMD_LEVEL_COUNT] = {
    {count_comb_span_scalar, count_comb_span_narrow_scalar, comb_in_narrow_range_scalar},
    {count_comb_span_sse2, count_comb_span_narrow_sse2, comb_in_narrow_range_sse2},
    {count_comb_span_avx2, count_comb_span_narrow_avx2, comb_in_narrow_range_avx2},
};
}  // namespace

const CombKernels* comb_kernels_for(SimdLevel level) { return &kCombKernels[level]; }

const CombKernels* comb_kernels(void) { return simd_kernels(comb_kernels_for); }

int count_comb(const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip) {
    return count_comb_with(comb_kernels(), src, fp, fpip);
}

int count_comb_weave(const PIXEL_YC* earlier, const PIXEL_YC* later, int parity, FILTER* fp,
                     FILTER_PROC_INFO* fpip) {
    return count_comb_weave_with(comb_kernels(), earlier, later, parity, fp, fpip);
}

int count_comb_with(const CombKernels* k, const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip) {
    return count_comb_weave_with(k, src, src, 0, fp, fpip);
}

namespace {

// Row y of the candidate woven from `field[0]` (rows of the weave parity)
// and `field[1]` (the other rows).
struct WovenRows {
    const PIXEL_YC* field[2];
    int parity;
    int max_w;
    const PIXEL_YC* row(int y) const {
        return pixel_at(field[((y ^ parity) & 1)], max_w, 0, y);
    }
};

// Whether both spans of row y (the columns left of and right of the window)
// lie within the narrow range.
bool row_is_narrow(const CombKernels* k, const WovenRows& src, int y, ColumnRange win,
                   int right_n) {
    const PIXEL_YC* row = src.row(y);
    return (win.left <= 0 || k->in_narrow_range(row, win.left)) &&
           (right_n <= 0 || k->in_narrow_range(row + win.right, right_n));
}

inline int64_t magnitude(int32_t v) { return v < 0 ? -int64_t{v} : int64_t{v}; }

}  // namespace

int count_comb_weave_with(const CombKernels* k, const PIXEL_YC* earlier, const PIXEL_YC* later,
                          int parity, FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int w = fpip->w;
    const int h = fpip->h;
    const WovenRows src = {{earlier, later}, parity & 1, fpip->max_w};
    const ColumnRange win = processing_window(fp, w);
    if (h <= 4) return 0;

    const CombParams params = {fp->track[TRACK_TH_Y], fp->track[TRACK_TH_C],
                               fp->track[TRACK_HIGH], fp->track[TRACK_MID]};
    const int right_n = w - win.right;
    // Which rows are narrow: before row r is counted, rows 0 .. r+1 are
    // known, and last_wide is the last of them found wide. A narrow span of
    // row r checks row r+2 itself; otherwise row r+2 is checked on its own.
    const bool narrow = k->narrow_span && k->in_narrow_range &&
                        magnitude(params.high) + magnitude(params.mid) <= COMB_NARROW_WEIGHTS;
    int last_wide = -5;
    if (narrow)
        for (int y = 0; y < 4; ++y)
            if (!row_is_narrow(k, src, y, win, right_n)) last_wide = y;

    int count = 0;
    for (int r = 2; r <= h - 3; ++r) {
        CombRows rows;
        for (int j = 0; j < 5; ++j) rows.row[j] = src.row(r - 2 + j);
        // Row r+3 is the one the next row's count adds.
        if (r + 3 < h) {
            const PIXEL_YC* next = src.row(r + 3);
            prefetch_pixels(next, win.left);
            prefetch_pixels(next + win.right, right_n);
        }
        if (narrow && last_wide < r - 2) {
            int left_count = 0, right_count = 0;
            if (win.left > 0) {
                left_count = k->narrow_span(&rows, 0, win.left, &params);
                if (left_count < 0) {
                    last_wide = r + 2;
                    left_count = k->span(&rows, 0, win.left, &params);
                }
            }
            if (right_n > 0) {
                right_count = k->narrow_span(&rows, win.right, right_n, &params);
                if (right_count < 0) {
                    last_wide = r + 2;
                    right_count = k->span(&rows, win.right, right_n, &params);
                }
            }
            count += left_count + right_count;
            continue;
        }
        if (win.left > 0) count += k->span(&rows, 0, win.left, &params);
        if (right_n > 0) count += k->span(&rows, win.right, right_n, &params);
        if (narrow && !row_is_narrow(k, src, r + 2, win, right_n)) last_wide = r + 2;
    }
    return count;
}

}  // namespace pelta
