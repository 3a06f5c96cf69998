#include "match/weave.h"

#include <cstring>

#include "base/pixel.h"

namespace pelta {

namespace {

PIXEL_YC* fetch_frame(FILTER* fp, FILTER_PROC_INFO* fpip, int n) {
    return fp->exfunc->get_ycp_filtering_cache_ex(fp, fpip->editp, n, nullptr, nullptr);
}

// Copies every row of parity `parity` from src to dst, whole rows of max_w
// pixels. Every row of the frame takes part, the last row of an odd height
// included, so no row of dst is left holding what it held before.
void copy_field(PIXEL_YC* dst, const PIXEL_YC* src, int parity, int h, int max_w) {
    if (h <= 0 || max_w <= 0) return;
    const size_t row_bytes = static_cast<size_t>(max_w) * sizeof(PIXEL_YC);
    for (int y = parity; y < h; y += 2)
        std::memmove(pixel_at(dst, max_w, 0, y), pixel_at(src, max_w, 0, y), row_bytes);
}

}  // namespace

int fetch_match_frames(FILTER* fp, FILTER_PROC_INFO* fpip, int n, const PIXEL_YC** earlier,
                       const PIXEL_YC** later) {
    if (n < 1 || n >= fpip->frame_n) return WEAVE_BAD_INDEX;
    // Both frames are fetched before either is tested: the host is asked for
    // the pair whatever it answers for the first.
    *earlier = fetch_frame(fp, fpip, n - 1);
    *later = fetch_frame(fp, fpip, n);
    return *earlier && *later ? WEAVE_OK : WEAVE_FRAME_MISSING;
}

int weave_match(PIXEL_YC* dst, FILTER* fp, FILTER_PROC_INFO* fpip, int n) {
    const PIXEL_YC* earlier = nullptr;
    const PIXEL_YC* later = nullptr;
    const int fetched = fetch_match_frames(fp, fpip, n, &earlier, &later);
    if (fetched != WEAVE_OK) return fetched;

    const int p = weave_parity(fp, n);
    copy_field(dst, earlier, p, fpip->h, fpip->max_w);
    copy_field(dst, later, 1 - p, fpip->h, fpip->max_w);
    return WEAVE_OK;
}

int replace_partner_field(FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int f = fpip->frame;
    const PIXEL_YC* partner = fetch_frame(fp, fpip, partner_frame(f));
    if (!partner) return 1;
    copy_field(fpip->ycp_edit, partner, weave_parity(fp, f), fpip->h, fpip->max_w);
    return 0;
}

}  // namespace pelta
