// libFuzzer target: the command-line host's stream readers. Any bytes are
// parsed as a Y4M stream (header, frames, conversion to the filter's pixels
// and back) and as raw PIXEL_YC frames. Bad input must end in an error
// message of printable text (a NUL byte would cut it short, an escape byte
// would reach the terminal), never in a crash, a hang or undefined
// behaviour; and the reader's buffer grows with the bytes that came, not to
// the frame size a header announces.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "io/y4m.h"

using namespace pelta_cli;

namespace {

// A refusal says why, in printable ASCII.
void check_message(const std::string& error) {
    if (error.empty()) std::abort();
    for (const char c : error)
        if (c < 0x20 || c > 0x7e) std::abort();
}

void fuzz_y4m(const uint8_t* data, size_t size) {
    MemorySource src(data, size);
    Y4mReader reader(src);
    std::string error;
    if (!reader.read_header(error)) {
        check_message(error);
        return;
    }
    const Y4mHeader& h = reader.header();
    if (static_cast<long long>(h.width) * h.height > (1 << 16)) {
        // Sizes whose conversion would only make the fuzzer slow: the frames
        // are read, and the buffer holds at most twice what came, or the
        // reader's first step of 1 MiB.
        std::vector<uint8_t> planes;
        ReadStatus st;
        while ((st = reader.read_frame(planes, error)) == ReadStatus::Frame) {
        }
        if (st == ReadStatus::Error) check_message(error);
        if (planes.capacity() > std::max<size_t>(2 * size, size_t{1} << 20)) std::abort();
        return;
    }
    (void)format_y4m_header(h, h.chroma);
    (void)format_y4m_header(h, Chroma::C420mpeg2, h.depth > 8 ? 8 : 16);
    std::vector<uint8_t> planes, back;
    const int stride = h.width + 3;
    std::vector<PIXEL_YC> frame(static_cast<size_t>(stride) * h.height);
    for (int i = 0; i < 4; ++i) {
        const ReadStatus st = reader.read_frame(planes, error);
        if (st != ReadStatus::Frame) {
            if (st == ReadStatus::Error) check_message(error);
            return;
        }
        if (planes.size() != reader.frame_bytes()) std::abort();
        planes_to_yc(planes.data(), h.chroma, h.width, h.height, frame.data(), stride, h.depth);
        back.assign(plane_sizes(h.chroma, h.width, h.height, h.depth).frame(), 0);
        yc_to_planes(frame.data(), stride, h.width, h.height, h.chroma, back.data(), h.depth);
        // Luma round-trips exactly up to 12 bits (codes beyond the depth read
        // as its largest), and within 2 and 7 codes at 14 and 16 bits.
        const int slack = h.depth <= 12 ? 0 : h.depth == 14 ? 2 : 7;
        for (size_t j = 0; j < static_cast<size_t>(h.width) * h.height; ++j) {
            const int in = h.depth == 8 ? planes[j] : std::min(planes[2 * j] | planes[2 * j + 1] << 8, max_code(h.depth));
            const int out = h.depth == 8 ? back[j] : back[2 * j] | back[2 * j + 1] << 8;
            if (std::abs(out - in) > slack) std::abort();
        }
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
