// Where chroma sits in an interlaced picture, for the frame conversions.
// 4:2:0 chroma row k belongs to field k % 2, like luma row k. Within its
// field, chroma line j sits a quarter of a field line below luma line 2j in
// the top field and three quarters below it in the bottom field (the
// interlaced 4:2:0 siting). Going to PIXEL_YC, each luma line is interpolated
// linearly from the two nearest chroma lines of its own field; coming back,
// each chroma line is a weighted sum of four luma lines of its field, with
// the transposed interpolation weights. Rows of the other field are never
// read either way.
#pragma once

#include "convert/convert.h"

namespace pelta_cli {

// Lines of field `parity` in a plane of `rows` rows: rows parity, parity+2, ...
inline int field_lines(int rows, int parity) { return (rows - parity + 1) / 2; }

// The two chroma rows (of a ch-row chroma plane) interpolated for luma row y
// of a 4:2:0 picture, and the weight of the first in eighths.
struct VerticalTaps {
    int row_a, row_b, weight_a;
};
VerticalTaps vertical_taps(int y, int ch);

// The four luma rows (of an h-row picture) that make chroma line j of field
// `parity`, and their weights in sixteenths: 3-7-5-1 in the top field,
// 1-5-7-3 in the bottom field, on luma lines 2j-1 .. 2j+2 of the field (the
// field's first and last lines repeated past its edges).
struct DecimationTaps {
    int rows[4];
    const int* weights;
};
DecimationTaps decimation_taps(int j, int parity, int h);

}  // namespace pelta_cli
