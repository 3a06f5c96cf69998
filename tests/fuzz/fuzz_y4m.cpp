// libFuzzer target: the command-line host's stream readers. Any bytes are
// parsed as a Y4M stream (header, frames, conversion to the filter's pixels
// and back) and as raw PIXEL_YC frames. Bad input must end in an error
// message, never in a crash, a hang or undefined behaviour.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert.h"
#include "y4m.h"

using namespace pelta_cli;

namespace {

void fuzz_y4m(const uint8_t* data, size_t size) {
    MemorySource src(data, size);
    Y4mReader reader(src);
    std::string error;
    if (!reader.read_header(error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return;
    }
    const Y4mHeader& h = reader.header();
    // Sizes the reader accepts but that would only make the fuzzer slow.
    if (static_cast<long long>(h.width) * h.height > (1 << 16)) return;
    (void)format_y4m_header(h, h.chroma);
    std::vector<uint8_t> planes, back;
    const int stride = h.width + 3;
    std::vector<PIXEL_YC> frame(static_cast<size_t>(stride) * h.height);
    for (int i = 0; i < 4; ++i) {
        const ReadStatus st = reader.read_frame(planes, error);
        if (st != ReadStatus::Frame) {
            if (st == ReadStatus::Error && error.empty()) std::abort();
            return;
        }
        if (planes.size() != reader.frame_bytes()) std::abort();
        planes_to_yc(planes.data(), h.chroma, h.width, h.height, frame.data(), stride);
        back.assign(plane_sizes(h.chroma, h.width, h.height).frame(), 0);
        yc_to_planes(frame.data(), stride, h.width, h.height, h.chroma, back.data());
        // Luma round-trips exactly for every 8-bit value.
        for (size_t j = 0; j < static_cast<size_t>(h.width) * h.height; ++j)
            if (back[j] != planes[j]) std::abort();
    }
}

void fuzz_raw(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const int w = data[0] % 17, h = data[1] % 17;
    MemorySource src(data + 2, size - 2);
    RawReader reader(src, w, h);
    std::vector<PIXEL_YC> frame(static_cast<size_t>(w + 1) * h);
    std::vector<uint8_t> packed(reader.frame_bytes());
    std::string error;
    while (reader.read_frame(frame.data(), w + 1, error) == ReadStatus::Frame) {
        pack_raw_frame(frame.data(), w + 1, w, h, packed.data());
        if (reader.frames_read() > 64) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_y4m(data, size);
    fuzz_raw(data, size);
    return 0;
}
