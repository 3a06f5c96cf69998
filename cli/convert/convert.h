// Conversions between Y'CbCr planes of 8 to 16 bits and the host's PIXEL_YC
// frames.
//
// 8-bit samples follow the editor's own formulas, which round-trip every
// 8-bit value exactly; deeper samples follow the same scale, an N-bit code
// standing for the 8-bit code times 2^(N-8), with the precision N bits carry
// (see docs/chroma.md). Chroma resampling for 4:2:2 and 4:2:0 is our own and
// the same at every depth. In short, 4:2:0 chroma is
// interpolated vertically within each field and never across fields, and all
// filters are normalised, so a picture whose chroma is constant over each
// field comes back unchanged from a round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "abi/host_records.h"

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

// Sample depths: 8 bits (one byte a sample) and 9 to 16 bits (two bytes a
// sample, little-endian, the code in the low bits), as Y4M streams carry them.
constexpr int kMinDepth = 8, kMaxDepth = 16;
inline int bytes_per_sample(int depth) { return depth > 8 ? 2 : 1; }
inline int max_code(int depth) { return (1 << depth) - 1; }

struct PlaneSizes {
    int cw = 0, ch = 0;      // chroma plane size (0 for mono)
    size_t luma = 0;         // bytes of the Y plane
    size_t chroma = 0;       // bytes of each of Cb and Cr
    size_t frame() const { return luma + 2 * chroma; }
};
PlaneSizes plane_sizes(Chroma c, int w, int h, int depth = 8);

// Per-sample formulas for N-bit codes, N = depth from 8 to 16, k = N - 8.
// Decoding: an N-bit code c is taken as the 8-bit code c / 2^k with k more
// bits of fraction, in the editor's own 8-bit formulas, so the code 2^k * c8
// decodes exactly as c8 does at 8 bits. Encoding rounds to the nearest code
// (at 8 bits: the editor's rounding) and clamps to 0 .. 2^N - 1. Codes above
// 2^N - 1, which a valid stream never holds, are read as 2^N - 1.
inline int16_t luma_from_code(int c, int depth) { return static_cast<int16_t>(((c * 1197) >> (depth - 2)) - 299); }
inline int16_t chroma_from_code(int c, int depth) {
    const int unit = 1 << (depth - 8);
    return static_cast<int16_t>(((c - 128 * unit) * 4681 + 164 * unit) >> depth);
}
// Added before the encoding shifts below: at 8 bits the editor's constants;
// from 9 bits on, half a code plus the mean amount by which decoding rounds
// down (57 / 219 of a luma unit, 1 / 128 of a chroma code), which puts every
// decoded value back on its own code.
inline int luma_rounding(int depth) { return depth == 8 ? 383 : 2048 + 57 * (1 << (depth - 8)); }
inline int chroma_rounding(int depth) { return depth == 8 ? 66 : 64 - (1 << (depth - 8)); }
inline int clamp_code(int v, int depth) { return v < 0 ? 0 : v > max_code(depth) ? max_code(depth) : v; }
inline int luma_to_code(int y, int depth) {
    const int unit = 1 << (depth - 8);
    return clamp_code(((y * (219 * unit) + luma_rounding(depth)) >> 12) + 16 * unit, depth);
}
inline int chroma_to_code(int c, int depth) {
    const int unit = 1 << (depth - 8);
    return clamp_code((((c + 2048) * (7 * unit) + chroma_rounding(depth)) >> 7) + 16 * unit, depth);
}

// The editor's 8-bit formulas, the case N = 8 of the above. Decoding cannot
// overflow; encoding clamps to 0..255.
inline int16_t luma_from_8bit(int y8) { return luma_from_code(y8, 8); }
inline int16_t chroma_from_8bit(int c8) { return chroma_from_code(c8, 8); }
inline uint8_t luma_to_8bit(int y) { return static_cast<uint8_t>(luma_to_code(y, 8)); }
inline uint8_t chroma_to_8bit(int c) { return static_cast<uint8_t>(chroma_to_code(c, 8)); }

// Y4M planes (Y, then Cb, then Cr; `plane_sizes` bytes, samples of `depth`
// bits) to a PIXEL_YC frame of w x h pixels whose rows are `stride` pixels
// apart. Only the first w pixels of each row are written.
void planes_to_yc(const uint8_t* planes, Chroma c, int w, int h, PIXEL_YC* dst, int stride, int depth = 8);

// A PIXEL_YC frame back to Y4M planes of `depth` bits. Samples beyond the
// range of the codes clamp.
void yc_to_planes(const PIXEL_YC* src, int stride, int w, int h, Chroma c, uint8_t* planes, int depth = 8);

}  // namespace pelta_cli
