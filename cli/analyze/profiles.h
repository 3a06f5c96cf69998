// What the analysis measures pictures by. A picture is seen as its blocks of
// kBlock columns, each row summed over the block's columns (a block
// profile). Combing lies along rows, on the horizontal edges that a moving
// picture has, so summing along a row keeps it whole, while grain, which is
// independent from pixel to pixel, falls to 1/kBlock of the picture's energy.
// On a profile the measure is, as everywhere in the analysis:
//   comb:  the energy of the vertical second difference across the fields
//          (rows y-1, y, y+1): little for a picture whose fields belong
//          together, much for fields of different moments;
//   field: the same within one field (rows y-2, y, y+2), the picture's own
//          vertical detail, which combing is judged against.
// Any candidate picture the filter can make (a weave of two frames, the
// window rebuilt under a shift) is a mix of the rows of two frames, and its
// profile is the same mix of theirs, so the analysis weighs candidates on
// profiles without running the filter.
//
// Profiles are stored row by row (all blocks of row 0, then of row 1, ...),
// so that every measure runs along a row's blocks at once.
#pragma once

#include <cstdint>
#include <vector>

#include "abi/host_records.h"

namespace pelta_cli::analysis {

constexpr int kBlock = 8;
inline int block_count(int w) { return (w + kBlock - 1) / kBlock; }

// A picture's profiles over columns [x0, x1): for column group i (columns
// x0 + i*block up to the next group or x1) and row y, the sum over the
// group's columns of luma (y) and, where asked, of the two colour
// differences (cb, cr). Sums of 16-bit samples over at most kBlock columns
// are exact in a float.
struct Profiles {
    int n = 0, h = 0;  // column groups, rows
    std::vector<float> y, cb, cr;  // [row * n + i]
};

void make_profiles(const PIXEL_YC* frame, int stride, int x0, int x1, int h, int block, bool colour, Profiles& out);

// Comb and field energy of each column group of the picture whose row y is
// taken from `a` where y & 1 == parity and from `b` otherwise (a == b: the
// picture itself), over the rows that have two field lines either side
// (2 .. h-3), added into comb[i] and field[i] (field may be null). Rows of n
// values. The squares are summed in doubles: exact enough, and without
// overflow, for any sample a reader admits.
void weave_energy(const float* a, const float* b, int parity, int n, int h, double* comb, double* field);

// The comb energy of each column group with every row first smoothed along
// its own field ([1 2 1] over rows y-2, y, y+2), added into comb[i]: the
// residual of one field against the other at the scale of a displacement
// between them, little moved by the slight blur that interpolating one
// field adds (which alone would favour the softest shift).
void smoothed_comb(const float* rows, int n, int h, double* comb);

// How the filter's window rebuilds a frame: the rows of one parity are the
// frame's own, those of the other are its partner's field moved by shift/16
// field lines, by whole lines or sampled between them with the filter's own
// four taps, and a moved row whose source lies outside the frame is the
// average of its two own neighbours. The map holds, for every row, where its
// value comes from; it depends only on the frame height, the frame's
// parity, TFF and the shift.
struct RebuildMap {
    struct Row {
        int8_t kind = 0;    // 0 own row y, 1 partner rows with taps, 2 average of own rows
        int16_t n = 0;      // taps in use
        int32_t rows[4] = {0, 0, 0, 0};
        float taps[4] = {0, 0, 0, 0};
    };
    std::vector<Row> rows;
};
RebuildMap rebuild_map(int h, long frame, int tff, int shift);
// Rows of n values each.
void apply_rebuild(const RebuildMap& map, const float* own, const float* partner, int n, float* out);

// The comb energy of each column group of the picture `map` rebuilds from
// `own` and `partner` (rows of n values), as weave_energy measures a
// picture, in single precision: what the survey weighs every shift by.
// `rows` is scratch space.
void rebuild_comb(const RebuildMap& map, const float* own, const float* partner, int n, std::vector<float>& rows,
                  float* comb);

// Mean absolute change of each field's rows between two pictures' profiles,
// per column group, per row of the field: change[2 * i + p] (p 0 top, 1
// bottom).
void field_change(const float* now, const float* before, int n, int h, float* change);

}  // namespace pelta_cli::analysis
