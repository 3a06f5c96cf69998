#include "base/column_range.h"

namespace pelta {

ColumnRange processing_window(const FILTER* fp, int w) {
    ColumnRange r;
    r.left = static_cast<int>(clamp_range(fp->track[TRACK_LEFT], 0, w));
    r.right = static_cast<int>(clamp_range(int64_t{r.left} + fp->track[TRACK_WIDTH], 0, w));
    return r;
}

bool field_shift_window(const FILTER* fp, int w, ColumnRange* r) {
    const int left = fp->track[TRACK_LEFT];
    if (left < 0 || left >= w) return false;
    const ColumnRange clamped = processing_window(fp, w);
    if (clamped.right <= clamped.left) return false;
    *r = clamped;
    return true;
}

}  // namespace pelta
