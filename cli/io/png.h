// Pictures as PNG files, written without compression: a PNG needs zlib data,
// which may use stored (uncompressed) blocks; the file is larger than with
// deflate, but the program needs no compression library, the same on every
// system it is built for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelta_cli {

// RGB rows (3 bytes a pixel, w pixels a row, h rows) as the bytes of a PNG
// file.
std::string encode_png(const std::vector<uint8_t>& rgb, int w, int h);

}  // namespace pelta_cli
