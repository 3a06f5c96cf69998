// A frozen copy of the command-line host's first, plain conversions between
// Y'CbCr planes and PIXEL_YC frames, 8-bit and, with the same loops, 9 to 16
// bits: straightforward loops over int scratch planes, slow but easy to check
// by eye. The fast conversions in cli/convert/convert.cpp must give the very same
// bytes and samples; the tests compare the two over random input.
#pragma once

#include <cstdint>

#include "convert/convert.h"

namespace pelta_cli_reference {

using pelta_cli::Chroma;

void planes_to_yc(const uint8_t* planes, Chroma c, int w, int h, PIXEL_YC* dst, int stride, int depth = 8);
void yc_to_planes(const PIXEL_YC* src, int stride, int w, int h, Chroma c, uint8_t* planes, int depth = 8);

}  // namespace pelta_cli_reference
