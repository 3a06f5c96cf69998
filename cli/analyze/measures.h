// Per-column measures for the report's profile of the columns: per column,
// the comb and field energies of a picture (see analyze.h), and their capped
// ratios averaged over the frames of a pass.
#pragma once

#include <vector>

#include "abi/host_records.h"

namespace pelta_cli::analysis {

// The most a column's measure counts for in one frame: a few badly combed
// frames must not outweigh many clean ones.
constexpr double kCap = 8.0;

// Per column of one picture: the measure over the column and its neighbours
// (5 columns), at most kCap; summed over the frames of a pass, divided by
// their number at the end.
struct ColumnMeans {
    std::vector<double> sum;
    long frames = 0;
    explicit ColumnMeans(int w = 0) : sum(static_cast<size_t>(w), 0.0) {}
    void add(const std::vector<double>& comb, const std::vector<double>& field, double floor);
    std::vector<double> means() const;
};

// Energies of one picture per column.
struct FrameEnergy {
    std::vector<double> comb, field;
    explicit FrameEnergy(int w) : comb(static_cast<size_t>(w)), field(static_cast<size_t>(w)) {}
    void measure(const PIXEL_YC* frame, int stride, int w, int h);
};

}  // namespace pelta_cli::analysis
