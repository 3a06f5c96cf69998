#include "match/comb.h"

#include "host/arith.h"
#include "host/controls.h"

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

int count_comb_span_scalar(const PIXEL_YC* c, ptrdiff_t stride, int n, const CombParams* p) {
    const PIXEL_YC* a = c - 2 * stride;
    const PIXEL_YC* b = c - stride;
    const PIXEL_YC* d = c + stride;
    const PIXEL_YC* e = c + 2 * stride;
    int count = 0;
    for (int x = 0; x < n; ++x) {
        const int32_t sy = comb_score(a[x].y, b[x].y, c[x].y, d[x].y, e[x].y, p);
        const int32_t su = comb_score(a[x].cb, b[x].cb, c[x].cb, d[x].cb, e[x].cb, p);
        const int32_t sv = comb_score(a[x].cr, b[x].cr, c[x].cr, d[x].cr, e[x].cr, p);
        if (sy >= p->th_y || wrap_abs(su) >= p->th_c || wrap_abs(sv) >= p->th_c) ++count;
    }
    return count;
}

int count_comb(const PIXEL_YC* src, FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int w = fpip->w;
    const int h = fpip->h;
    const int max_w = fpip->max_w;
    const ColumnRange win = processing_window(fp, w);
    if (h <= 4) return 0;

    const CombParams params = {fp->track[TRACK_TH_Y], fp->track[TRACK_TH_C],
                               fp->track[TRACK_HIGH], fp->track[TRACK_MID]};
    const CombSpanFn span = comb_span_kernel();
    const int right_n = w - win.right;
    int count = 0;
    for (int r = 2; r <= h - 3; ++r) {
        const PIXEL_YC* row = pixel_at(src, max_w, 0, r);
        if (win.left > 0) count += span(row, max_w, win.left, &params);
        if (right_n > 0) count += span(row + win.right, max_w, right_n, &params);
    }
    return count;
}

CombSpanFn comb_span_kernel(void) { return count_comb_span_scalar; }
