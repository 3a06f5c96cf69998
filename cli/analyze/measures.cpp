#include "analyze/measures.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "analyze/analyze.h"

namespace pelta_cli {

namespace {

// The energies of a picture whose row y starts at row(y), per column, added
// into the sums (see add_column_energy).
template <typename Row>
void add_energy(Row row, int w, int h, double* comb, double* field, double* field4) {
    // Each square is below 2^29 and a column's sum over any frame height is
    // far below 2^53, so adding them as doubles is exact.
    for (int y = 2; y + 2 < h; ++y) {
        const PIXEL_YC* m2 = row(y - 2);
        const PIXEL_YC* m1 = row(y - 1);
        const PIXEL_YC* p0 = row(y);
        const PIXEL_YC* p1 = row(y + 1);
        const PIXEL_YC* p2 = row(y + 2);
        for (int x = 0; x < w; ++x) {
            const int32_t a = 2 * p0[x].y;
            const int32_t d1 = m1[x].y + p1[x].y - a;
            const int32_t d2 = m2[x].y + p2[x].y - a;
            comb[x] += static_cast<double>(d1 * d1);
            field[x] += static_cast<double>(d2 * d2);
        }
        if (field4 && y >= 4 && y + 4 < h) {
            const PIXEL_YC* m4 = row(y - 4);
            const PIXEL_YC* p4 = row(y + 4);
            for (int x = 0; x < w; ++x) {
                const int32_t d4 = m4[x].y + p4[x].y - 2 * p0[x].y;
                field4[x] += static_cast<double>(d4 * d4);
            }
        }
    }
}

}  // namespace

void add_column_energy(const PIXEL_YC* frame, int stride, int w, int h, double* comb, double* field,
                       double* field4) {
    add_energy([&](int y) { return frame + static_cast<size_t>(y) * static_cast<size_t>(stride); }, w, h, comb,
               field, field4);
}

namespace analysis {

std::vector<float> block_sums(const std::vector<double>& columns) {
    std::vector<float> b((columns.size() + kBlock - 1) / kBlock, 0.f);
    for (size_t x = 0; x < columns.size(); ++x) b[x / kBlock] += static_cast<float>(columns[x]);
    return b;
}

Blocks to_blocks(const std::vector<double>& comb, const std::vector<double>& field) {
    return Blocks{block_sums(comb), block_sums(field)};
}

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

void FrameEnergy::measure(const PIXEL_YC* frame, int stride, int w, int h, bool with_field4) {
    std::fill(comb.begin(), comb.end(), 0.0);
    std::fill(field.begin(), field.end(), 0.0);
    std::fill(field4.begin(), field4.end(), 0.0);
    add_column_energy(frame, stride, w, h, comb.data(), field.data(), with_field4 ? field4.data() : nullptr);
}

double FrameEnergy::whole(double floor) const {
    double c = 0, f = 0;
    for (size_t x = 0; x < comb.size(); ++x) {
        c += comb[x];
        f += field[x];
    }
    return c / (f + floor * static_cast<double>(comb.size()));
}

Blocks weave_blocks(const PIXEL_YC* earlier, const PIXEL_YC* later, int parity, int stride, int w, int h,
                    std::vector<double>& comb, std::vector<double>& field) {
    std::fill(comb.begin(), comb.end(), 0.0);
    std::fill(field.begin(), field.end(), 0.0);
    add_energy(
        [&](int y) {
            return ((y & 1) == parity ? earlier : later) + static_cast<size_t>(y) * static_cast<size_t>(stride);
        },
        w, h, comb.data(), field.data(), nullptr);
    return to_blocks(comb, field);
}

FieldMotion field_motion(const PIXEL_YC* a, const PIXEL_YC* b, int stride, int w, int h) {
    double sums[2] = {0, 0};
    long counts[2] = {0, 0};
    for (int y = 0; y < h; ++y) {
        const PIXEL_YC* ra = a + static_cast<size_t>(y) * static_cast<size_t>(stride);
        const PIXEL_YC* rb = b + static_cast<size_t>(y) * static_cast<size_t>(stride);
        long s = 0;
        for (int x = 0; x < w; ++x) s += std::abs(ra[x].y - rb[x].y);
        sums[y & 1] += static_cast<double>(s);
        counts[y & 1] += w;
    }
    FieldMotion m;
    m.top = counts[0] ? sums[0] / static_cast<double>(counts[0]) : 0;
    m.bottom = counts[1] ? sums[1] / static_cast<double>(counts[1]) : 0;
    m.frame = (counts[0] + counts[1]) ? (sums[0] + sums[1]) / static_cast<double>(counts[0] + counts[1]) : 0;
    return m;
}

}  // namespace analysis

}  // namespace pelta_cli
