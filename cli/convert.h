// Conversions between 8-bit Y'CbCr planes and the host's PIXEL_YC frames.
//
// Sample values follow the editor's own formulas, which round-trip every
// 8-bit value exactly. Chroma resampling for 4:2:2 and 4:2:0 is our own: see
// "Chroma conversion" in README.md. In short, 4:2:0 chroma is interpolated
// vertically within each field and never across fields, and all filters are
// normalised, so a picture whose chroma is constant over each field comes back
// unchanged from a round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/host_records.h"

namespace pelta_cli {

enum class Chroma {
    C444,
    C422,
    C420jpeg,   // chroma centred between luma samples horizontally
    C420mpeg2,  // chroma co-sited with the even luma columns
    C420paldv,  // co-sited horizontally, like mpeg2
    C420,       // bare "C420": centred, like jpeg
    Mono,
};

bool is_420(Chroma c);
// Chroma samples sit on the even luma columns (rather than between two).
bool chroma_cosited(Chroma c);
// The Y4M tag without its leading 'C' ("420jpeg", "mono", ...).
const char* chroma_tag(Chroma c);

struct PlaneSizes {
    int cw = 0, ch = 0;      // chroma plane size (0 for mono)
    size_t luma = 0;         // bytes of the Y plane
    size_t chroma = 0;       // bytes of each of Cb and Cr
    size_t frame() const { return luma + 2 * chroma; }
};
PlaneSizes plane_sizes(Chroma c, int w, int h);

// The editor's per-sample formulas. Decoding cannot overflow; encoding clamps
// to 0..255.
inline int16_t luma_from_8bit(int y8) { return static_cast<int16_t>(((y8 * 1197) >> 6) - 299); }
inline int16_t chroma_from_8bit(int c8) { return static_cast<int16_t>(((c8 - 128) * 4681 + 164) >> 8); }
inline uint8_t clamp_8bit(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
inline uint8_t luma_to_8bit(int y) { return clamp_8bit(((y * 219 + 383) >> 12) + 16); }
inline uint8_t chroma_to_8bit(int c) { return clamp_8bit((((c + 2048) * 7 + 66) >> 7) + 16); }

// Y4M planes (Y, then Cb, then Cr; `plane_sizes` bytes) to a PIXEL_YC frame of
// w x h pixels whose rows are `stride` pixels apart. Only the first w pixels
// of each row are written.
void planes_to_yc(const uint8_t* planes, Chroma c, int w, int h, PIXEL_YC* dst, int stride);

// A PIXEL_YC frame back to Y4M planes. Samples beyond the 8-bit range clamp.
void yc_to_planes(const PIXEL_YC* src, int stride, int w, int h, Chroma c, uint8_t* planes);

}  // namespace pelta_cli
