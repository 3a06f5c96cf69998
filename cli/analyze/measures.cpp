#include "analyze/measures.h"

#include <algorithm>
#include <cstdint>

#include "analyze/analyze.h"

namespace pelta_cli {

void add_column_energy(const PIXEL_YC* frame, int stride, int w, int h, double* comb, double* field,
                       double* field4) {
    auto row = [&](int y) { return frame + static_cast<size_t>(y) * static_cast<size_t>(stride); };
    // In 64 bits: a reader admits any 16-bit sample, and a second difference
    // of them reaches 2^18, its square 2^36. A column's sum over any frame
    // height stays far below 2^53, so adding the squares as doubles is
    // exact.
    for (int y = 2; y + 2 < h; ++y) {
        const PIXEL_YC *m2 = row(y - 2), *m1 = row(y - 1), *p0 = row(y), *p1 = row(y + 1), *p2 = row(y + 2);
        for (int x = 0; x < w; ++x) {
            const int64_t a = 2 * int64_t{p0[x].y};
            const int64_t d1 = m1[x].y + int64_t{p1[x].y} - a;
            const int64_t d2 = m2[x].y + int64_t{p2[x].y} - a;
            comb[x] += static_cast<double>(d1 * d1);
            field[x] += static_cast<double>(d2 * d2);
        }
        if (field4 && y >= 4 && y + 4 < h) {
            const PIXEL_YC *m4 = row(y - 4), *p4 = row(y + 4);
            for (int x = 0; x < w; ++x) {
                const int64_t d4 = m4[x].y + int64_t{p4[x].y} - 2 * int64_t{p0[x].y};
                field4[x] += static_cast<double>(d4 * d4);
            }
        }
    }
}

namespace analysis {

// The columns either side that a column's measure takes in.
constexpr int kSmooth = 2;

void ColumnMeans::add(const std::vector<double>& comb, const std::vector<double>& field, double floor) {
    const int w = static_cast<int>(sum.size());
    double c = 0, f = 0;
    // Running sums over the window x-2 .. x+2.
    for (int x = 0; x < std::min(w, kSmooth); ++x) {
        c += comb[static_cast<size_t>(x)];
        f += field[static_cast<size_t>(x)];
    }
    for (int x = 0; x < w; ++x) {
        if (x + kSmooth < w) {
            c += comb[static_cast<size_t>(x + kSmooth)];
            f += field[static_cast<size_t>(x + kSmooth)];
        }
        if (x - kSmooth - 1 >= 0) {
            c -= comb[static_cast<size_t>(x - kSmooth - 1)];
            f -= field[static_cast<size_t>(x - kSmooth - 1)];
        }
        sum[static_cast<size_t>(x)] += std::min(kCap, std::max(0.0, c) / (std::max(0.0, f) + floor));
    }
    ++frames;
}

std::vector<double> ColumnMeans::means() const {
    std::vector<double> m(sum);
    for (double& v : m) v /= static_cast<double>(std::max<long>(1, frames));
    return m;
}

void FrameEnergy::measure(const PIXEL_YC* frame, int stride, int w, int h) {
    std::fill(comb.begin(), comb.end(), 0.0);
    std::fill(field.begin(), field.end(), 0.0);
    add_column_energy(frame, stride, w, h, comb.data(), field.data(), nullptr);
}

}  // namespace analysis

}  // namespace pelta_cli
