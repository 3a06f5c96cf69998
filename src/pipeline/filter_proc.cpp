#include "pipeline/filter_proc.h"

#include "base/arith.h"
#include "base/pixel.h"
#include "base/column_range.h"
#include "abi/controls.h"
#include "match/lowpass.h"
#include "match/match_cache.h"
#include "match/weave.h"
#include "pipeline/title.h"
#include "window/carrier.h"
#include "window/shift.h"

namespace pelta {

namespace {

char title_buffer[TITLE_BYTES];
// Interpolation taps and the TRACK_SHIFT they were made for. Key 0 never
// reaches the interpolated path (0 & 15 = 0), so the first use builds.
int32_t shift_taps[4];
int32_t shift_taps_key = 0;

// Shows the window of the input frame as a negative image. Each result is
// stored as 16 bits, wrapping: -(-32768) stays -32768.
void invert_window(PIXEL_YC* frame, int h, int left, int right, int max_w) {
    for (int r = 0; r < h; ++r) {
        PIXEL_YC* row = pixel_at(frame, max_w, 0, r);
        for (int x = left; x < right; ++x) {
            row[x].y = static_cast<int16_t>(4096 - row[x].y);
            row[x].cb = static_cast<int16_t>(-row[x].cb);
            row[x].cr = static_cast<int16_t>(-row[x].cr);
        }
    }
}

struct Choice {
    int match;
    int32_t count;
};

// Scores matches f and f+1 and, when four times the better count reaches the
// threshold, one more on the side of the better one. Lowest count wins; ties
// keep the earlier choice. Neighbouring match indices wrap, so a frame number
// at the end of the int range only ever names an invalid index.
Choice choose_match(FILTER* fp, FILTER_PROC_INFO* fpip, int f, int32_t threshold) {
    const int32_t c0 = cached_comb(fp, fpip, f);
    const int32_t c1 = cached_comb(fp, fpip, wrap_add(f, 1));
    Choice best;
    int third;
    if (c1 < c0) {
        best = {wrap_add(f, 1), c1};
        third = wrap_add(f, 2);
    } else {
        best = {f, c0};
        third = wrap_sub(f, 1);
    }
    // The unavailable count times four wraps to -4, below every threshold.
    if (wrap_mul(4, best.count) >= threshold) {
        const int32_t c = cached_comb(fp, fpip, third);
        if (c < best.count) best = {third, c};
    }
    return best;
}

void write_title(FILTER* fp, const Choice& choice, int32_t threshold) {
    format_title(title_buffer, TITLE_BYTES, FILTER_NAME, choice.match, choice.count, threshold);
    title_buffer[TITLE_BYTES - 1] = '\0';
    SetWindowTextA(fp->hwnd, title_buffer);
}

}  // namespace

int32_t comb_threshold(int w, int left, int right, int stripe, int h) {
    return wrap_mul(wrap_mul(wrap_add(wrap_sub(w, right), left), stripe), h) >> 9;
}

BOOL filter_proc(FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int w = fpip->w;
    const int h = fpip->h;
    const int max_w = fpip->max_w;
    const int f = fpip->frame;
    EXFUNC* ex = fp->exfunc;

    if (!ex->set_ycp_filtering_cache_size(fp, max_w, h, 5, 0)) return FALSE;

    const ColumnRange win = processing_window(fp, w);

    if (check_on(fp, CHECK_RANGE) && !ex->is_saving(fpip->editp)) {
        invert_window(fpip->ycp_edit, h, win.left, win.right, max_w);
        return TRUE;
    }

    const int32_t threshold = comb_threshold(w, win.left, win.right, fp->track[TRACK_STRIPE], h);
    const Choice choice = choose_match(fp, fpip, f, threshold);

    if (weave_match(fpip->ycp_temp, fp, fpip, choice.match) != WEAVE_OK) return FALSE;
    if (replace_partner_field(fp, fpip) != 0) return FALSE;

    const bool cy = check_on(fp, CHECK_CY);
    if (cy && build_carrier_tables(fp, fpip))
        remodulate_chroma(fpip->ycp_edit, h, win.left, win.right, max_w, tff_bit(fp) | (f & 2));

    const int shift = fp->track[TRACK_SHIFT];
    if (shift & 15) {
        if (shift_taps_key != shift) {
            make_shift_taps(shift_taps, shift);
            shift_taps_key = shift;
        }
        shift_window_interp(fpip->ycp_temp, fpip->ycp_edit, fp, fpip, shift_taps);
    } else {
        shift_window_whole(fpip->ycp_temp, fpip->ycp_edit, fp, fpip);
    }

    if (choice.count >= threshold && check_on(fp, CHECK_LPF)) {
        vertical_lowpass(fpip->ycp_edit, fpip->ycp_temp, h, max_w, w);
    } else {
        PIXEL_YC* woven = fpip->ycp_temp;
        fpip->ycp_temp = fpip->ycp_edit;
        fpip->ycp_edit = woven;
    }

    if (!ex->is_saving(fpip->editp)) write_title(fp, choice, threshold);

    if (check_on(fp, CHECK_MONO) && !cy)
        clear_window_chroma(fpip->ycp_edit, h, win.left, win.right, max_w);

    return TRUE;
}

const char* filter_title(void) { return title_buffer; }
const int32_t* filter_shift_taps(void) { return shift_taps; }
int32_t filter_shift_taps_key(void) { return shift_taps_key; }

}  // namespace pelta
