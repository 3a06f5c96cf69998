#include "io/y4m.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace pelta_cli {


size_t FileSource::read(void* dst, size_t n) {
    size_t got = std::fread(dst, 1, n, file_);
    if (got < n && std::ferror(file_) && !error_) error_ = errno ? errno : EIO;
    return got;
}

int FileSource::get() {
    int c = std::getc(file_);
    if (c == EOF && std::ferror(file_) && !error_) error_ = errno ? errno : EIO;
    return c == EOF ? -1 : c;
}

std::string FileSource::error_text() const { return std::strerror(error_ ? error_ : EIO); }

size_t MemorySource::read(void* dst, size_t n) {
    size_t take = size_ - pos_ < n ? size_ - pos_ : n;
    if (take) std::memcpy(dst, data_ + pos_, take);
    pos_ += take;
    return take;
}

int MemorySource::get() { return pos_ < size_ ? data_[pos_++] : -1; }

namespace {

constexpr std::string_view kMagic = "YUV4MPEG2";
constexpr std::string_view kFrame = "FRAME";
constexpr size_t kMaxLine = 65536;

// Header text as a message shows it: printable ASCII as it is, any other
// byte as \xNN (a NUL would cut the message short, an escape byte would
// reach the terminal as a command), and no more than 40 bytes of it.
std::string shown(std::string_view text) {
    constexpr size_t kMaxShown = 40;
    std::string out;
    for (size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            static const char kHex[] = "0123456789abcdef";
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        }
    }
    if (text.size() > kMaxShown) out += "...";
    return out;
}

// Reads up to `n` bytes into `buf`, which grows with the bytes that arrive
// rather than to the size a header announces: a stream that stops short
// costs at most twice what it held, or the first step. Once a whole frame
// has come, the buffer holds the next at once.
size_t read_arrived(ByteSource& src, std::vector<uint8_t>& buf, size_t n) {
    constexpr size_t kFirstStep = size_t{1} << 20;
    if (buf.capacity() >= n) {
        buf.resize(n);
        return src.read(buf.data(), n);
    }
    size_t got = 0;
    for (size_t want = std::min(n, std::max(buf.capacity(), kFirstStep));; want = std::min(n, 2 * want)) {
        buf.resize(want);
        got += src.read(buf.data() + got, want - got);
        if (got < want || want == n) return got;
    }
}

bool parse_dimension(std::string_view digits, long long& out) {
    if (digits.empty() || digits.size() > 12) return false;
    long long v = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9') return false;
        v = v * 10 + (ch - '0');
    }
    out = v;
    return true;
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char ch : s)
        if (ch < '0' || ch > '9') return false;
    return true;
}

struct ChromaName {
    const char* tag;
    Chroma chroma;
};
// 8-bit tags.
constexpr ChromaName kChromaNames[] = {
    {"444", Chroma::C444},           {"422", Chroma::C422},           {"420jpeg", Chroma::C420jpeg},
    {"420mpeg2", Chroma::C420mpeg2}, {"420paldv", Chroma::C420paldv}, {"420", Chroma::C420},
    {"mono", Chroma::Mono},
};
// Tags of deeper samples are one of these followed by the depth.
constexpr ChromaName kDeepChromaNames[] = {
    {"444p", Chroma::C444}, {"422p", Chroma::C422}, {"420p", Chroma::C420}, {"mono", Chroma::Mono}};
// The depths of deeper samples that Y4M streams carry (as ffmpeg writes them).
constexpr int kDeepDepths[] = {9, 10, 12, 14, 16};

// Reads a chroma tag's value (after the 'C'); false if it names no format
// that pelta reads.
bool parse_chroma_tag(std::string_view v, Chroma& chroma, int& depth) {
    for (const ChromaName& n : kChromaNames)
        if (v == n.tag) {
            chroma = n.chroma;
            depth = 8;
            return true;
        }
    for (const ChromaName& n : kDeepChromaNames) {
        const std::string_view base = n.tag;
        if (v.substr(0, base.size()) != base) continue;
        for (int d : kDeepDepths)
            if (v.substr(base.size()) == std::to_string(d)) {
                chroma = n.chroma;
                depth = d;
                return true;
            }
    }
    return false;
}

// The one-line reason for refusing chroma tag value `v`, as written in the
// header (`written`: the C tag, or the XYSCSS tag that stands for it), with
// the ffmpeg -pix_fmt that gives a stream pelta reads.
std::string unsupported_chroma_tag(std::string_view v, const std::string& written) {
    // 4:4:0 halves colour vertically: its conversion must keep the fields
    // apart, as a plain -pix_fmt does not.
    const std::string hint = v.substr(0, 3) == "440"
                                 ? "; have ffmpeg convert it, each field apart, with -vf scale=interl=1,format=yuv444p"
                                 : "; have ffmpeg convert it with -pix_fmt " + pix_fmt_for_tag(v);
    // A depth on a subsampling pelta reads: the depth is what is wrong.
    for (const ChromaName& n : kDeepChromaNames) {
        const std::string_view base = n.tag;
        if (v.size() > base.size() && v.substr(0, base.size()) == base && all_digits(v.substr(base.size())))
            return "unsupported bit depth in chroma tag '" + written + "' (8, 9, 10, 12, 14 or 16 bits)" + hint;
    }
    return "unsupported chroma format '" + written +
           "' (444, 422, 420jpeg, 420mpeg2, 420paldv, 420 or mono at 8 bits; 444pN, 422pN, 420pN or monoN at N = 9, "
           "10, 12, 14 or 16 bits)" +
           hint;
}

// The value of the XYSCSS extension tag for a format, as ffmpeg writes it;
// empty for monochrome, which has none.
std::string xyscss_value(Chroma chroma, int depth) {
    if (chroma == Chroma::Mono) return "";
    if (depth == 8 && chroma == Chroma::C420) return "420JPEG";
    std::string v = y4m_chroma_tag(chroma, depth);
    for (char& ch : v) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
    return v;
}

// A header without a C tag takes its format from XYSCSS, as ffmpeg does:
// values that name no subsampling are ignored, 4:1:1 is refused.
bool chroma_from_xyscss(std::string_view v, Y4mHeader& out, std::string& error) {
    std::string lower(v);
    for (char& ch : lower) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    if (lower == "411") {
        error = unsupported_chroma_tag(lower, "XYSCSS=" + shown(v));
        return false;
    }
    Chroma c;
    int depth;
    if (lower != "420" && lower.rfind("mono", 0) != 0 && parse_chroma_tag(lower, c, depth)) {
        out.chroma = c;
        out.depth = depth;
    }
    return true;
}

// Reads one line (without the newline). Returns false at the end of the
// stream before a newline; `line` then holds what was read.
enum class LineStatus { Ok, Eof, TooLong, Error };
LineStatus read_line(ByteSource& src, std::string& line) {
    line.clear();
    for (;;) {
        int c = src.get();
        if (c < 0) return src.failed() ? LineStatus::Error : LineStatus::Eof;
        if (c == '\n') return LineStatus::Ok;
        if (line.size() >= kMaxLine) return LineStatus::TooLong;
        line.push_back(static_cast<char>(c));
    }
}

}  // namespace

std::string Truncation::describe() const {
    return "truncated last frame: frame " + std::to_string(frame) + " has " + std::to_string(bytes) + " of " +
           std::to_string(expected) + " bytes; dropped them and kept the " + std::to_string(frame) +
           (frame == 1 ? " whole frame" : " whole frames") + " before it";
}

std::string pix_fmt_for_tag(std::string_view tag) {
    if (tag.substr(0, 4) == "mono") return "gray";
    // The subsampling the tag starts with, whatever depth, siting or alpha
    // follows it, up to the nearest one read here that loses no sample.
    struct Prefix {
        std::string_view prefix;
        const char* pix_fmt;
    };
    static constexpr Prefix kPrefixes[] = {
        {"444", "yuv444p"}, {"422", "yuv422p"}, {"420", "yuv420p"},
        {"411", "yuv422p"}, {"410", "yuv420p"}, {"440", "yuv444p"},
    };
    for (const Prefix& p : kPrefixes)
        if (tag.substr(0, p.prefix.size()) == p.prefix) return p.pix_fmt;
    return "yuv444p";
}

bool check_frame_size(long long w, long long h, std::string& error) {
    if (w <= 0 || h <= 0) {
        error = "zero frame size " + std::to_string(w) + "x" + std::to_string(h);
        return false;
    }
    if (w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) {
        error = "absurd frame size " + std::to_string(w) + "x" + std::to_string(h) + " (at most " +
                std::to_string(kMaxSide) + " on a side and " + std::to_string(kMaxPixels) + " pixels)";
        return false;
    }
    return true;
}

bool parse_y4m_header(std::string_view line, Y4mHeader& out, std::string& error) {
    out = Y4mHeader{};
    if (line.substr(0, kMagic.size()) != kMagic || (line.size() > kMagic.size() && line[kMagic.size()] != ' ')) {
        error = "not a Y4M stream (no YUV4MPEG2 signature)";
        return false;
    }
    long long w = -1, h = -1;
    std::string_view xyscss;
    size_t pos = kMagic.size();
    while (pos < line.size()) {
        if (line[pos] == ' ') {
            ++pos;
            continue;
        }
        size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        std::string_view tok = line.substr(pos, end - pos);
        pos = end;
        std::string_view val = tok.substr(1);
        switch (tok[0]) {
            case 'W':
                if (!parse_dimension(val, w)) {
                    error = "bad width tag '" + shown(tok) + "' in the Y4M header";
                    return false;
                }
                break;
            case 'H':
                if (!parse_dimension(val, h)) {
                    error = "bad height tag '" + shown(tok) + "' in the Y4M header";
                    return false;
                }
                break;
            case 'C':
                if (!parse_chroma_tag(val, out.chroma, out.depth)) {
                    error = unsupported_chroma_tag(val, "C" + shown(val));
                    return false;
                }
                out.chroma_given = true;
                break;
            case 'I':
                out.interlace = val.size() == 1 ? val[0] : '?';
                break;
            case 'X':
                if (val.substr(0, 6) == "YSCSS=") xyscss = val.substr(6);
                break;
            default:
                break;
        }
        out.tags.emplace_back(tok);
    }
    if (!out.chroma_given && !chroma_from_xyscss(xyscss, out, error)) return false;
    if (w < 0 || h < 0) {
        error = std::string("Y4M header has no ") + (w < 0 ? "W (width)" : "H (height)") + " tag";
        return false;
    }
    if (!check_frame_size(w, h, error)) return false;
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    return true;
}

std::string y4m_chroma_tag(Chroma chroma, int depth) {
    if (depth == 8) return chroma_tag(chroma);
    const std::string d = std::to_string(depth);
    switch (chroma) {
        case Chroma::C444: return "444p" + d;
        case Chroma::C422: return "422p" + d;
        case Chroma::Mono: return "mono" + d;
        default: return "420p" + d;
    }
}

std::string format_y4m_header(const Y4mHeader& in, Chroma chroma, char interlace) {
    return format_y4m_header(in, chroma, in.depth, interlace);
}

std::string format_y4m_header(const Y4mHeader& in, Chroma chroma, int depth, char interlace) {
    std::string s(kMagic);
    const bool changed = chroma != in.chroma || depth != in.depth;
    const std::string xyscss = xyscss_value(chroma, depth);
    bool wrote_chroma = false, wrote_interlace = false;
    for (const std::string& tag : in.tags) {
        if (changed && tag.rfind("XYSCSS=", 0) == 0) {
            if (!xyscss.empty()) s += " XYSCSS=" + xyscss;
            continue;
        }
        s += ' ';
        if (tag[0] == 'W') {
            s += "W" + std::to_string(in.width);
        } else if (tag[0] == 'H') {
            s += "H" + std::to_string(in.height);
        } else if (tag[0] == 'C') {
            s += "C" + y4m_chroma_tag(chroma, depth);
            wrote_chroma = true;
        } else if (tag[0] == 'I' && interlace) {
            s += 'I';
            s += interlace;
            wrote_interlace = true;
        } else {
            s += tag;
        }
    }
    if (changed && !wrote_chroma) s += " C" + y4m_chroma_tag(chroma, depth);
    if (interlace && !wrote_interlace) {
        s += " I";
        s += interlace;
    }
    s += '\n';
    return s;
}

bool Y4mReader::read_header(std::string& error) {
    std::string line;
    // Check the signature before looking for the end of the line, so a large
    // binary file is turned away at once.
    for (size_t i = 0; i < kMagic.size(); ++i) {
        int c = src_.get();
        if (c < 0) {
            if (src_.failed()) {
                fault_ = HeaderFault::Other;
                error = "cannot read input: " + src_.error_text();
            } else {
                fault_ = i == 0 ? HeaderFault::Empty : HeaderFault::NotY4m;
                error = i == 0 ? "empty input (not a Y4M stream)" : "not a Y4M stream (no YUV4MPEG2 signature)";
            }
            return false;
        }
        if (c != kMagic[i]) {
            fault_ = HeaderFault::NotY4m;
            error = "not a Y4M stream (no YUV4MPEG2 signature)";
            return false;
        }
        line.push_back(static_cast<char>(c));
    }
    std::string rest;
    fault_ = HeaderFault::Other;
    switch (read_line(src_, rest)) {
        case LineStatus::Ok: break;
        case LineStatus::Eof: error = "truncated Y4M header (no end of line)"; return false;
        case LineStatus::TooLong: error = "Y4M header line too long"; return false;
        case LineStatus::Error: error = "cannot read input: " + src_.error_text(); return false;
    }
    line += rest;
    if (!parse_y4m_header(line, header_, error)) return false;
    fault_ = HeaderFault::None;
    header_bytes_ = line.size() + 1;
    frame_bytes_ = plane_sizes(header_.chroma, header_.width, header_.height, header_.depth).frame();
    return true;
}

ReadStatus Y4mReader::read_frame(std::vector<uint8_t>& planes, std::string& error) {
    const std::string frame_no = std::to_string(frames_);
    int c = src_.get();
    if (c < 0) {
        if (!src_.failed()) return ReadStatus::End;
        error = "cannot read input: " + src_.error_text();
        return ReadStatus::Error;
    }
    std::string line(1, static_cast<char>(c));
    if (c != '\n') {
        std::string rest;
        switch (read_line(src_, rest)) {
            case LineStatus::Ok: break;
            case LineStatus::Eof:
                truncation_ = {frames_, line.size() + rest.size(), kFrame.size() + 1 + frame_bytes_};
                return ReadStatus::End;
            case LineStatus::TooLong:
                error = "bad Y4M frame header at frame " + frame_no + " (line too long)";
                return ReadStatus::Error;
            case LineStatus::Error: error = "cannot read input: " + src_.error_text(); return ReadStatus::Error;
        }
        line += rest;
    } else {
        line.clear();
    }
    if (line.substr(0, kFrame.size()) != kFrame || (line.size() > kFrame.size() && line[kFrame.size()] != ' ')) {
        error = "bad Y4M frame header at frame " + frame_no + " (expected FRAME)";
        return ReadStatus::Error;
    }
    frame_params_ = line.substr(kFrame.size());
    const size_t got = read_arrived(src_, planes, frame_bytes_);
    if (got < frame_bytes_) {
        if (!src_.failed()) {
            truncation_ = {frames_, line.size() + 1 + got, line.size() + 1 + frame_bytes_};
            return ReadStatus::End;
        }
        error = "cannot read input: " + src_.error_text();
        return ReadStatus::Error;
    }
    ++frames_;
    return ReadStatus::Frame;
}

ReadStatus RawReader::read_frame(PIXEL_YC* dst, int stride, std::string& error) {
    const ReadStatus s = read_frame(error);
    if (s == ReadStatus::Frame) unpack(dst, stride);
    return s;
}

ReadStatus RawReader::read_frame(std::string& error) {
    const size_t bytes = frame_bytes();
    const size_t got = read_arrived(src_, buf_, bytes);
    if (frames_ == 0 && got >= kMagic.size() && std::memcmp(buf_.data(), kMagic.data(), kMagic.size()) == 0) {
        error = "the input is a Y4M stream (it starts with YUV4MPEG2): leave out --raw";
        return ReadStatus::Error;
    }
    if (got == 0 && !src_.failed()) return ReadStatus::End;
    if (got < bytes) {
        if (!src_.failed()) {
            truncation_ = {frames_, got, bytes};
            return ReadStatus::End;
        }
        error = "cannot read input: " + src_.error_text();
        return ReadStatus::Error;
    }
    ++frames_;
    return ReadStatus::Frame;
}

void RawReader::unpack(PIXEL_YC* dst, int stride) const { unpack_raw_frame(buf_.data(), w_, h_, dst, stride); }

void unpack_raw_frame(const uint8_t* p, int w, int h, PIXEL_YC* dst, int stride) {
    for (int y = 0; y < h; ++y) {
        PIXEL_YC* row = dst + static_cast<size_t>(y) * stride;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(row, p, static_cast<size_t>(w) * 6);
            p += static_cast<size_t>(w) * 6;
        } else {
            for (int x = 0; x < w; ++x, p += 6) {
                row[x].y = static_cast<int16_t>(p[0] | p[1] << 8);
                row[x].cb = static_cast<int16_t>(p[2] | p[3] << 8);
                row[x].cr = static_cast<int16_t>(p[4] | p[5] << 8);
            }
        }
    }
}

void pack_raw_frame(const PIXEL_YC* src, int stride, int w, int h, uint8_t* out) {
    for (int y = 0; y < h; ++y) {
        const PIXEL_YC* row = src + static_cast<size_t>(y) * stride;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out, row, static_cast<size_t>(w) * 6);
            out += static_cast<size_t>(w) * 6;
        } else {
            for (int x = 0; x < w; ++x, out += 6) {
                const uint16_t v[3] = {static_cast<uint16_t>(row[x].y), static_cast<uint16_t>(row[x].cb),
                                       static_cast<uint16_t>(row[x].cr)};
                for (int k = 0; k < 3; ++k) {
                    out[2 * k] = static_cast<uint8_t>(v[k] & 0xFF);
                    out[2 * k + 1] = static_cast<uint8_t>(v[k] >> 8);
                }
            }
        }
    }
}

}  // namespace pelta_cli
