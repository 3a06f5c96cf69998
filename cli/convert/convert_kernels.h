// The row kernels of the conversions between Y4M planes and PIXEL_YC frames,
// and their dispatch table.
//
// The conversions work a row at a time on int16 rows: PIXEL_YC samples and
// everything resampled from them fit in 16 bits, and where a weighted sum
// does not (16-bit input, weights summing to 8 or 16), it is formed in 32
// bits. Every kernel has a plain version (convert_kernels.cpp), the reference
// that the others must match bit for bit, and vector versions for SSE2
// (convert_kernels_sse2.cpp) and AVX2 (convert_kernels_avx2.cpp), which take 8
// or 16 samples a step and hand the rest of a row to the tier below. All
// compute the formulas of convert.h and the resampling described in
// docs/chroma.md exactly.
//
// Resampling reads one or two samples beyond each end of a row. Rows that are
// resampled live in padded buffers whose edge samples are repeated outwards,
// so the kernels need no bounds checks; the vector kernels also load, and
// weigh by zero, samples in the slack on the right.
#pragma once

#include <cstdint>

#include "base/cpu.h"
#include "abi/host_records.h"

namespace pelta_cli {

using pelta::SimdLevel;

// Samples a padded row must have before its first and after its last. The
// two nearest on each side repeat the edge samples; the rest is slack that
// vector loads may read.
constexpr int kPadLeft = 8;
constexpr int kPadRight = 24;

// Repeats the first and last of n samples two places outwards.
inline void extend_edges(int16_t* row, int n) {
    row[-2] = row[-1] = row[0];
    row[n] = row[n + 1] = row[n - 1];
}

// The formulas of convert.h for one depth, in the shape the kernels use:
// encoding is ((v * mul + round) >> shift) + offset, clamped to 0..max.
struct Coding {
    int depth;
    int max;   // the largest code, 2^N - 1
    int unit;  // 2^(N-8), one 8-bit step in N-bit codes
    int luma_mul, luma_round, luma_shift, luma_offset;
    int chroma_mul, chroma_round, chroma_offset;  // shift 7
};
Coding coding_for(int depth);

// How samples lie in Y4M planes: one byte each (8 bits) or two bytes,
// little-endian (9 to 16 bits). Kernels take byte addresses and sample
// indices; `index` picks the kernels for the size in ConvertKernels::codes.
struct Bytes {
    static constexpr int size = 1, index = 0;
};
struct Words {
    static constexpr int size = 2, index = 1;
};
inline int code_kernels_index(int depth) { return depth > 8 ? Words::index : Bytes::index; }

// The kernels that read or write plane samples, for one sample size. Plane
// codes above the depth's largest, which only a broken stream holds, read as
// the largest; codes written are clamped to 0..max.
struct CodeKernels {
    // chroma_from_code over n codes.
    void (*chroma_from)(const uint8_t* src, int n, const Coding& k, int16_t* dst);
    // chroma_to_code over n samples.
    void (*chroma_to)(const int16_t* src, int n, const Coding& k, uint8_t* dst);
    // One row of w PIXEL_YC from a luma row of codes and two full-width
    // chroma rows.
    void (*interleave)(const uint8_t* luma, const int16_t* cb, const int16_t* cr, int w, const Coding& k,
                       PIXEL_YC* dst);
    // The inverse: luma straight to codes, the chroma samples into two rows.
    void (*deinterleave)(const PIXEL_YC* src, int w, const Coding& k, uint8_t* luma, int16_t* cb, int16_t* cr);
    // One output row of the vertical 4:2:0 decimation, n samples: four rows
    // of 16-bit samples weighted in sixteenths (weights summing to 16),
    // rounded, then to chroma codes.
    void (*decimate)(const int16_t* const rows[4], const int wt[4], int n, const Coding& k, uint8_t* dst);
};

struct ConvertKernels {
    SimdLevel level;  // the tier whose file built the table
    CodeKernels codes[2];  // [Bytes::index], [Words::index]
    // Linear interpolation between two rows of chroma in the range that
    // chroma_from_code gives, weights wa and 8 - wa in eighths, rounded:
    // (wa * a + wb * b + 4) >> 3.
    void (*interpolate)(const int16_t* a, const int16_t* b, int wa, int n, int16_t* dst);
    // Horizontal 2:1 interpolation of a padded row of cw samples of that
    // chroma to 2 * cw samples (one more than the picture when its width is
    // odd). Co-sited chroma lands on the even output columns and is averaged
    // in between; centred chroma sits a quarter pixel from each of its two
    // columns (weights 3/4, 1/4).
    void (*upsample)(const int16_t* c, int cw, bool cosited, int16_t* out);
    // Horizontal 2:1 decimation of a padded row (any 16-bit values) to cw
    // samples, with the transposed (and normalised) interpolation kernel: 1-2-1
    // for co-sited chroma, 1-3-3-1 for centred, in 32 bits. With E and O the
    // even and odd samples, output i is (O[i-1] + 2 E[i] + O[i] + 2) >> 2, or
    // (O[i-1] + 3 E[i] + 3 O[i] + E[i+1] + 4) >> 3.
    void (*downsample)(const int16_t* s, int cw, bool cosited, int16_t* out);
};

// The constant table of a tier (SIMD_SCALAR: the plain reference in every
// entry); a tier above cpu_simd_level() is not to be run.
const ConvertKernels* convert_kernels_for(SimdLevel level);

// The table the conversions run: that of simd_level(). Safe to call from
// several threads at once.
const ConvertKernels* convert_kernels();

// Each tier's table, defined in its own file; the vector kernels hand the
// rest of a row to the table below theirs.
const ConvertKernels* convert_kernels_scalar();
const ConvertKernels* convert_kernels_sse2();
const ConvertKernels* convert_kernels_avx2();

}  // namespace pelta_cli
