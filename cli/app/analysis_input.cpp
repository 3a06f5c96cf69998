#include "app/analysis_input.h"

#include <cerrno>
#include <cstring>

#include "analyze/sampling.h"
#include "app/options.h"
#include "app/seeking_clip.h"
#include "app/streaming_clip.h"
#include "io/byte_sources.h"
#include "platform/platform.h"

namespace pelta_cli {

AnalysisInput::AnalysisInput() = default;
AnalysisInput::~AnalysisInput() = default;

ClipReader& AnalysisInput::clip() {
    if (streaming_) return *streaming_;
    return *seeking_;
}

const Truncation& AnalysisInput::truncation() const {
    return streaming_ ? streaming_->truncation() : seeking_->truncation();
}

long long AnalysisInput::scratch_peak() const { return streaming_ ? streaming_->scratch_peak() : copy_peak_; }

bool AnalysisInput::misread() const { return seeking_ && seeking_->misread(); }

bool AnalysisInput::start_frames(std::unique_ptr<ByteSource> src, std::unique_ptr<ClipFrames>& frames,
                                 std::string& error) {
    frames = std::make_unique<ClipFrames>(std::move(src), format_.raw, format_.w, format_.h);
    if (!frames->start(error)) {
        error = header_advice(frames->y4m().header_fault(), error, name_, from_pipe_, from_stdin_);
        return false;
    }
    if (!format_.raw) {
        format_.y4m = frames->y4m().header();
        format_.w = format_.y4m.width;
        format_.h = format_.y4m.height;
        format_.payload = frames->y4m().frame_bytes();
        format_.header = format_y4m_header(format_.y4m, format_.y4m.chroma, format_.y4m.depth, 0);
    } else {
        format_.payload = static_cast<size_t>(format_.w) * static_cast<size_t>(format_.h) * 6;
    }
    return true;
}

bool AnalysisInput::open_input(const std::string& name, bool raw, int raw_w, int raw_h, const std::string& from_stdin,
                               const AutoCopy* copy, std::string& error, std::FILE* opened) {
    name_ = name;
    format_ = ClipFormat{};
    format_.raw = raw;
    format_.w = raw_w;
    format_.h = raw_h;
    from_stdin_ = from_stdin;
    if (name == "-" && platform::is_terminal(stdin)) {
        error = "standard input is a terminal: pipe a video into pelta or name an input file";
        usage_ = true;
        return false;
    }
    std::FILE* f = name == "-" ? stdin : opened;
    bool own = false;
    if (!f) {
        f = std::fopen(name.c_str(), "rb");
        if (!f) {
            error = "cannot open input '" + name + "': " + std::strerror(errno);
            return false;
        }
        own = true;
    }
    // What the input is decides how it is read, whatever its name: a regular
    // file by seeking; anything that cannot seek (standard input, a named
    // pipe, /dev/stdin, a shell's <(...)) once, front to back.
    const platform::FileInfo info = platform::stream_info(f);
    from_pipe_ = info.kind == platform::FileKind::Pipe;
    if (name == "-" || info.kind != platform::FileKind::Regular)
        return open_stream(std::make_unique<OwnedFileSource>(f, own), copy, error);
    if (!own) {
        // The caller reads its stream again from the start: this reads a
        // stream of its own.
        f = std::fopen(name.c_str(), "rb");
        if (!f) {
            error = "cannot open input '" + name + "': " + std::strerror(errno);
            return false;
        }
    }
    return open_file(f, info.size, error);
}

bool AnalysisInput::open_stream(std::unique_ptr<ByteSource> src, const AutoCopy* copy, std::string& error) {
    if (copy) return open_copy(std::move(src), *copy, error);
    // Read once, as the analysis goes; kept frames into the scratch file.
    std::unique_ptr<ClipFrames> frames;
    if (!start_frames(std::move(src), frames, error)) return false;
    read_once_ = true;
    streaming_ = std::make_unique<StreamingClip>(std::move(frames), format_);
    return true;
}

bool AnalysisInput::open_copy(std::unique_ptr<ByteSource> src, const AutoCopy& copy, std::string& error) {
    // --auto: the frames it analyses whole into the scratch copy, read as a
    // file from then on, and again by the filter run, before the rest. Each
    // frame's offset in the copy is noted as it is read, FRAME lines with
    // parameters or not.
    rest_ = std::move(src);
    std::FILE* scratch = platform::scratch_file();
    if (!scratch) {
        error = std::string("cannot make a temporary file for the input (TMPDIR): ") + std::strerror(errno);
        return false;
    }
    std::unique_ptr<ClipFrames> frames;
    const bool started = start_frames(std::make_unique<TeeSource>(*rest_, scratch), frames, error);
    seeking_ = std::make_unique<SeekingClip>(scratch, format_, std::vector<long long>{});
    if (!started) return false;
    const long wanted = copy.start + (copy.frames > 0 ? copy.frames : analysis::whole_up_to(format_.w, format_.h));
    std::vector<long long> offsets;
    for (long n = 0; n < wanted; ++n) {
        if (std::fflush(scratch) != 0) break;
        const long long at = static_cast<long long>(std::ftell(scratch));
        // The frames' bytes only; nothing is converted.
        if (!frames->skip(1, error)) return false;
        if (frames->frames_read() == n) {  // the end of the pipe
            copy_reached_end_ = true;
            break;
        }
        offsets.push_back(at);
    }
    if (std::fflush(scratch) != 0) {
        error = std::string("cannot keep a copy of the input in a temporary file (TMPDIR): ") + std::strerror(errno);
        return false;
    }
    offsets.push_back(static_cast<long long>(std::ftell(scratch)));
    frames.reset();
    std::FILE* kept = seeking_->release_copy();
    seeking_ = std::make_unique<SeekingClip>(kept, format_, std::move(offsets));
    copy_peak_ = static_cast<long long>(seeking_->length()) * static_cast<long long>(format_.payload);
    return true;
}

bool AnalysisInput::open_file(std::FILE* f, long long size, std::string& error) {
    std::unique_ptr<ClipFrames> frames;
    if (!start_frames(std::make_unique<OwnedFileSource>(f), frames, error)) return false;
    if (format_.raw) {
        const long length = static_cast<long>(size / static_cast<long long>(format_.payload));
        seeking_ = std::make_unique<SeekingClip>(name_, format_, 0, format_.payload, length);
        return true;
    }
    // A Y4M file whose FRAME lines are all bare has frames of one size, and
    // is read by seeking; otherwise it is read as a pipe is. The first
    // frame's line, and the line where the last frame would start, tell
    // (parameters on any line before it move it); the readers that seek
    // check every line they read besides (expect_bare_frames).
    const long long data_at = static_cast<long long>(frames->y4m().header_bytes());
    std::string e;
    const bool first_bare = frames->skip(1, e) && frames->frames_read() == 1 && frames->y4m().frame_params().empty();
    if (first_bare || frames->frames_read() == 0) {
        const size_t record = format_.payload + 6;
        const long length = static_cast<long>(std::max(0LL, size - data_at) / static_cast<long long>(record));
        if (length <= 1 || bare_frame_line_at(data_at, record, length - 1)) {
            seeking_ = std::make_unique<SeekingClip>(name_, format_, data_at, record, length);
            return true;
        }
    }
    return read_as_stream(error);
}

bool AnalysisInput::bare_frame_line_at(long long data_at, size_t record, long frame) const {
    std::FILE* f = std::fopen(name_.c_str(), "rb");
    if (!f) return false;
    char line[6] = {};
    const bool bare = platform::seek_file(f, data_at + static_cast<long long>(frame) * static_cast<long long>(record)) &&
                      std::fread(line, 1, sizeof line, f) == sizeof line && std::memcmp(line, "FRAME\n", 6) == 0;
    std::fclose(f);
    return bare;
}

bool AnalysisInput::read_as_stream(std::string& error) {
    std::FILE* f = std::fopen(name_.c_str(), "rb");
    if (!f) {
        error = "cannot open input '" + name_ + "' again: " + std::strerror(errno);
        return false;
    }
    seeking_.reset();
    std::unique_ptr<ClipFrames> frames;
    if (!start_frames(std::make_unique<OwnedFileSource>(f), frames, error)) return false;
    read_once_ = true;
    streaming_ = std::make_unique<StreamingClip>(std::move(frames), format_);
    return true;
}

std::unique_ptr<ByteSource> AnalysisInput::replay() {
    if (!seeking_ || !rest_) return nullptr;
    std::FILE* copy = seeking_->release_copy();
    if (!copy) return nullptr;
    return std::make_unique<ChainSource>(std::make_unique<OwnedFileSource>(copy), std::move(rest_));
}

}  // namespace pelta_cli
