// Addressing pixels in the host's frames.
#pragma once

#include <cstddef>

#include "host/host_records.h"

namespace pelta {

// Pixel (x, y) of a frame whose rows are max_w pixels apart, formed in
// pointer-sized arithmetic so large frames cannot overflow an int.
inline PIXEL_YC* pixel_at(PIXEL_YC* frame, int max_w, int x, int y) {
    return frame + static_cast<ptrdiff_t>(y) * max_w + x;
}
inline const PIXEL_YC* pixel_at(const PIXEL_YC* frame, int max_w, int x, int y) {
    return frame + static_cast<ptrdiff_t>(y) * max_w + x;
}

// The int16 samples y, cb, cr, y, ... of row y from column x on.
inline int16_t* samples_at(PIXEL_YC* frame, int max_w, int x, int y) {
    return reinterpret_cast<int16_t*>(pixel_at(frame, max_w, x, y));
}
inline const int16_t* samples_at(const PIXEL_YC* frame, int max_w, int x, int y) {
    return reinterpret_cast<const int16_t*>(pixel_at(frame, max_w, x, y));
}

}  // namespace pelta
