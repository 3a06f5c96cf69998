// The column energies of a picture (analyze.h), the analysis's measure taken
// column by column rather than on block profiles: what the tests judge a
// restored picture by, column against column.
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

}  // namespace pelta_cli
