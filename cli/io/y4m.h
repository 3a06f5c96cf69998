// Reading YUV4MPEG2 (Y4M) streams and raw PIXEL_YC frames.
//
// The readers work on a ByteSource, which is either a FILE* or a buffer in
// memory, so the parsers can be driven directly (by tests or a fuzzer) without
// any file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert.h"

namespace pelta_cli {


// Frames larger than this on either side are refused as absurd, and so are
// frames of more than kMaxPixels pixels.
constexpr int kMaxSide = 16384;
constexpr long long kMaxPixels = 1LL << 26;

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes; fewer only at the end of the stream or on an error.
    virtual size_t read(void* dst, size_t n) = 0;
    // Next byte, or -1 at the end of the stream or on an error.
    virtual int get() = 0;
    // True once a read failed for another reason than the end of the stream.
    virtual bool failed() const = 0;
    // Description of the failure (errno text for files).
    virtual std::string error_text() const { return "read error"; }
};

class FileSource : public ByteSource {
public:
    explicit FileSource(std::FILE* f) : file_(f) {}
    size_t read(void* dst, size_t n) override;
    int get() override;
    bool failed() const override { return error_ != 0; }
    std::string error_text() const override;

private:
    std::FILE* file_;
    int error_ = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t read(void* dst, size_t n) override;
    int get() override;
    bool failed() const override { return false; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

enum class ReadStatus { Frame, End, Error };

// A stream that ended inside a frame: the readers hand out every complete
// frame, then report End and keep what was dropped here.
struct Truncation {
    long frame = -1;     // number of the incomplete frame; -1: the stream ended cleanly
    size_t bytes = 0;    // bytes of it that were read and dropped (FRAME header included)
    size_t expected = 0; // bytes a whole frame has (FRAME header included)
    bool happened() const { return frame >= 0; }
    // "the input ends inside frame 2: dropped its 43 bytes (a frame has 54)"
    std::string describe() const;
};

struct Y4mHeader {
    int width = 0;
    int height = 0;
    Chroma chroma = Chroma::C420jpeg;  // what a header without a C tag means
    int depth = 8;                     // bits a sample: 8, 9, 10, 12, 14 or 16
    bool chroma_given = false;
    char interlace = '?';  // 'p', 't', 'b', 'm', or '?' when absent
    // Every tag of the header line in its order, as written (W, H and C
    // included), so an output header can keep the input's layout.
    std::vector<std::string> tags;
};

// Parses a stream header line: "YUV4MPEG2" and its tags, without the newline.
// On failure returns false with a one-line reason in `error`.
bool parse_y4m_header(std::string_view line, Y4mHeader& out, std::string& error);

// The Y4M chroma tag, without its leading 'C', of a format at a depth:
// "420jpeg", "mono", "422p10", "mono16", ... Deeper 4:2:0 has one tag for any
// siting, "420pN", read and written as centred (like "420").
std::string y4m_chroma_tag(Chroma chroma, int depth);

// The header line for an output stream, newline included: the input's tags
// with the chroma tag set to `chroma` at `depth` (by default the input's).
// When the format changes, the X tag that repeats it (XYSCSS=...) is written
// for the new format as ffmpeg writes it, or dropped for monochrome. A
// nonzero `interlace` ('p', 't', ...) replaces the I tag, or is added when
// there is none.
std::string format_y4m_header(const Y4mHeader& in, Chroma chroma, int depth, char interlace);
std::string format_y4m_header(const Y4mHeader& in, Chroma chroma, char interlace = 0);

// The ffmpeg -pix_fmt closest to a Y4M chroma tag (without its 'C') that this
// reader takes: "411" gives "yuv422p", "420p11" "yuv420p", "mono13" "gray".
std::string pix_fmt_for_tag(std::string_view tag);

// Checks a frame size against the limits above; on failure sets `error`.
bool check_frame_size(long long w, long long h, std::string& error);

class Y4mReader {
public:
    explicit Y4mReader(ByteSource& src) : src_(src) {}

    // Reads and parses the stream header.
    bool read_header(std::string& error);
    const Y4mHeader& header() const { return header_; }
    // Bytes of the header line, newline included.
    size_t header_bytes() const { return header_bytes_; }
    size_t frame_bytes() const { return frame_bytes_; }

    // Why read_header failed, where the caller can help more than the message.
    enum class HeaderFault { None, Empty, NotY4m, Other };
    HeaderFault header_fault() const { return fault_; }

    // Reads the next frame's planes (frame_bytes() bytes) into `planes`,
    // which grows with the bytes that arrive, not to the size the header
    // announces. A frame cut short by the end of the stream gives End, and
    // truncation() tells what was dropped.
    ReadStatus read_frame(std::vector<uint8_t>& planes, std::string& error);
    long frames_read() const { return frames_; }
    // The parameters of the last frame's FRAME line, with their leading
    // space (" Ixyz"), or "" when it had none.
    const std::string& frame_params() const { return frame_params_; }
    const Truncation& truncation() const { return truncation_; }

private:
    ByteSource& src_;
    Y4mHeader header_;
    size_t header_bytes_ = 0;
    size_t frame_bytes_ = 0;
    long frames_ = 0;
    HeaderFault fault_ = HeaderFault::None;
    std::string frame_params_;
    Truncation truncation_;
};

// A raw frame's bytes (as RawReader reads them) into rows `stride` pixels
// apart.
void unpack_raw_frame(const uint8_t* bytes, int w, int h, PIXEL_YC* dst, int stride);

// Frames of w x h PIXEL_YC, three little-endian int16 per pixel, rows w
// pixels apart, one after the other with nothing in between.
class RawReader {
public:
    RawReader(ByteSource& src, int w, int h) : src_(src), w_(w), h_(h) {}
    size_t frame_bytes() const { return static_cast<size_t>(w_) * h_ * 6; }
    // Reads the next frame's bytes, which unpack() then puts into rows. A
    // frame cut short by the end of the stream gives End, and truncation()
    // tells what was dropped. A stream that begins as Y4M is refused.
    ReadStatus read_frame(std::string& error);
    // The frame read last, into rows `stride` pixels apart; its bytes.
    void unpack(PIXEL_YC* dst, int stride) const;
    const std::vector<uint8_t>& bytes() const { return buf_; }
    // Both: the next frame into rows `stride` pixels apart.
    ReadStatus read_frame(PIXEL_YC* dst, int stride, std::string& error);
    long frames_read() const { return frames_; }
    const Truncation& truncation() const { return truncation_; }

private:
    ByteSource& src_;
    int w_, h_;
    long frames_ = 0;
    Truncation truncation_;
    std::vector<uint8_t> buf_;
};

// Writes w x h pixels (rows `stride` apart) as raw little-endian frames into
// `out` (w * h * 6 bytes).
void pack_raw_frame(const PIXEL_YC* src, int stride, int w, int h, uint8_t* out);

}  // namespace pelta_cli
