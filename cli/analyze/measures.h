// The measures the analysis judges by: per column, the energy of a vertical
// second difference across the fields (comb) and within one field (field),
// summed per block of columns; their capped means over a pass; a picture's
// whole measure; the weave of two frames; the motion between two frames,
// field by field.
#pragma once

#include <vector>

#include "abi/host_records.h"

namespace pelta_cli::analysis {

// Columns are judged in blocks of this many: enough detail to measure in most
// blocks, fine enough to find a band within a block, which the edge pass then
// narrows to the column.
constexpr int kBlock = 8;

// The most a column's or a block's measure counts for: a few badly combed
// frames must not outweigh many clean ones.
constexpr double kCap = 8.0;

// One picture's energies per block.
struct Blocks {
    std::vector<float> comb, field;
};

// Per-column sums summed again per block.
std::vector<float> block_sums(const std::vector<double>& columns);
Blocks to_blocks(const std::vector<double>& comb, const std::vector<double>& field);

// Per column of one picture: the measure over the column and its neighbours
// (5 columns), at most kCap; summed over the frames of a pass, divided by
// their number at the end. Averaging capped per-frame values keeps a few
// badly combed frames from outweighing many clean ones in columns with little
// detail.
struct ColumnMeans {
    std::vector<double> sum;
    long frames = 0;
    explicit ColumnMeans(int w = 0) : sum(static_cast<size_t>(w), 0.0) {}
    void add(const std::vector<double>& comb, const std::vector<double>& field, double floor);
    std::vector<double> means() const;
};

// Energies of one picture per column, and the picture's whole-frame measure.
struct FrameEnergy {
    std::vector<double> comb, field, field4;
    explicit FrameEnergy(int w)
        : comb(static_cast<size_t>(w)), field(static_cast<size_t>(w)), field4(static_cast<size_t>(w)) {}
    void measure(const PIXEL_YC* frame, int stride, int w, int h, bool with_field4);
    double whole(double floor) const;
};

// The weave of two frames as the filter makes it: rows of parity p from
// `earlier`, the others from `later`; its energies per block. `comb` and
// `field` hold w columns of scratch.
Blocks weave_blocks(const PIXEL_YC* earlier, const PIXEL_YC* later, int parity, int stride, int w, int h,
                    std::vector<double>& comb, std::vector<double>& field);

struct FieldMotion {
    double frame = 0, top = 0, bottom = 0;  // mean absolute luma change from the frame before
};

FieldMotion field_motion(const PIXEL_YC* a, const PIXEL_YC* b, int stride, int w, int h);

}  // namespace pelta_cli::analysis
