// Small scalar helpers shared by the SIMD comb span kernels. Plain integer
// code, built with each file's ordinary flags.
#pragma once

#include <cstdint>

#include "match/comb.h"

namespace pelta {

// The upper 16 bits of a 32-bit weight once its low 16 bits are taken as a
// signed value: weight = (int16)weight + 65536 * upper (mod 2^32).
inline int32_t comb_weight_upper(int32_t weight) {
    const uint32_t low = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(weight)));
    return static_cast<int32_t>(static_cast<int16_t>((static_cast<uint32_t>(weight) - low) >> 16));
}

// The samples of the five rows from column x0, as int16 runs y, cb, cr, ...
struct CombSamples {
    const int16_t* a;
    const int16_t* b;
    const int16_t* c;
    const int16_t* d;
    const int16_t* e;
};
inline CombSamples comb_samples(const CombRows* rows, int x0) {
    auto at = [&](int k) { return reinterpret_cast<const int16_t*>(rows->row[k] + x0); };
    return CombSamples{at(0), at(1), at(2), at(3), at(4)};
}

// Whether either weight needs more than a signed 16-bit multiplier.
inline bool comb_weights_wide(const CombParams* p) {
    return comb_weight_upper(p->high) != 0 || comb_weight_upper(p->mid) != 0;
}

// All ones for the chroma samples of a row of y, cb, cr triples, by sample
// index 0 .. 47 (every step of the kernels starts at a multiple of 24).
alignas(32) inline constexpr int32_t COMB_CHROMA_MASK32[48] = {
    0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1,
    0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1};
alignas(32) inline constexpr int16_t COMB_CHROMA_MASK16[48] = {
    0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1,
    0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1};

// A threshold clamped to 16 bits, for scores known to lie within +-32767.
inline int16_t comb_threshold16(int32_t th) {
    return static_cast<int16_t>(th < -32768 ? -32768 : (th > 32767 ? 32767 : th));
}

// `bits` holds one bit per sample of eight pixels (24 samples, y cb cr
// each), set where the sample is not combed. Returns how many of the eight
// pixels have all three bits set.
inline int clear_pixels_24(uint32_t bits) {
    const uint32_t all3 = bits & (bits >> 1) & (bits >> 2) & 0x249249u;  // bit 3p per pixel p
    // Fold pairs into 6-bit fields at 0, 6, 12, 18, then add the four fields
    // into bits 18..23 with one multiply (no field exceeds 8, so no carries).
    const uint32_t pairs = (all3 & 0x041041u) + ((all3 >> 3) & 0x041041u);
    return static_cast<int>(((pairs * 0x041041u) >> 18) & 0x3Fu);
}

}  // namespace pelta
