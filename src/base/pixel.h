// Addressing pixels in the host's frames.
#pragma once

#include <cstddef>

#include "abi/host_records.h"

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

// Asks the CPU to start loading the n pixels from p into its caches. Frames
// are larger than the caches and their rows cross pages, where the hardware
// stops prefetching on its own; a stage that walks down a frame row by row
// asks for the row it will need next while it works on the current one.
inline void prefetch_pixels(const PIXEL_YC* p, int n) {
    if (n <= 0) return;
    const char* bytes = reinterpret_cast<const char*>(p);
    const size_t size = static_cast<size_t>(n) * sizeof(PIXEL_YC);
    for (size_t o = 0; o < size; o += 64) __builtin_prefetch(bytes + o);
}

}  // namespace pelta
