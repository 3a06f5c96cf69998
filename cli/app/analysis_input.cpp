#include "app/analysis_input.h"

#include <cerrno>
#include <cstring>
#include <functional>

#include "app/options.h"
#include "convert/convert.h"
#include "host/frame_adapters.h"
#include "platform/platform.h"

namespace pelta_cli {

namespace {

// Passes every byte read from `src` on, and keeps a copy in `copy`; the
// first write that fails ends the reading at once.
class TeeSource : public ByteSource {
public:
    TeeSource(ByteSource& src, std::FILE* copy) : src_(src), copy_(copy) {}
    size_t read(void* dst, size_t n) override {
        if (copy_failed_) return 0;
        const size_t got = src_.read(dst, n);
        if (got && std::fwrite(dst, 1, got, copy_) != got) fail();
        return copy_failed_ ? 0 : got;
    }
    int get() override {
        if (copy_failed_) return -1;
        const int c = src_.get();
        if (c >= 0 && std::fputc(c, copy_) == EOF) fail();
        return copy_failed_ ? -1 : c;
    }
    bool failed() const override { return src_.failed() || copy_failed_; }
    std::string error_text() const override {
        return copy_failed_ ? "cannot keep a copy of the input in a temporary file (TMPDIR): " + why_
                            : src_.error_text();
    }

private:
    void fail() {
        copy_failed_ = true;
        why_ = std::strerror(errno);
    }
    ByteSource& src_;
    std::FILE* copy_;
    bool copy_failed_ = false;
    std::string why_;
};

// The bytes of `first`, then those of `second`.
class ChainSource : public ByteSource {
public:
    ChainSource(std::unique_ptr<ByteSource> first, std::unique_ptr<ByteSource> second)
        : first_(std::move(first)), second_(std::move(second)) {}
    size_t read(void* dst, size_t n) override {
        size_t got = 0;
        if (!first_done_) {
            got = first_->read(dst, n);
            if (got < n) first_done_ = true;
        }
        if (got < n && !first_->failed()) got += second_->read(static_cast<char*>(dst) + got, n - got);
        return got;
    }
    int get() override {
        if (!first_done_) {
            const int c = first_->get();
            if (c >= 0) return c;
            first_done_ = true;
            if (first_->failed()) return -1;
        }
        return second_->get();
    }
    bool failed() const override { return first_->failed() || second_->failed(); }
    std::string error_text() const override { return first_->failed() ? first_->error_text() : second_->error_text(); }

private:
    std::unique_ptr<ByteSource> first_, second_;
    bool first_done_ = false;
};

// A file source that closes its file, unless it is shared.
class OwnedFileSource : public ByteSource {
public:
    explicit OwnedFileSource(std::FILE* f, bool close = true) : file_(f), close_(close), source_(f) {}
    ~OwnedFileSource() override {
        if (close_ && file_) std::fclose(file_);
    }
    size_t read(void* dst, size_t n) override { return source_.read(dst, n); }
    int get() override { return source_.get(); }
    bool failed() const override { return source_.failed(); }
    std::string error_text() const override { return source_.error_text(); }

private:
    std::FILE* file_;
    bool close_;
    FileSource source_;
};

// A memory source that owns its bytes.
class OwnedMemorySource : public ByteSource {
public:
    explicit OwnedMemorySource(std::string bytes)
        : bytes_(std::move(bytes)), source_(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size()) {}
    size_t read(void* dst, size_t n) override { return source_.read(dst, n); }
    int get() override { return source_.get(); }
    bool failed() const override { return false; }

private:
    std::string bytes_;
    MemorySource source_;
};

}  // namespace

// Frames read from a byte source, Y4M or raw: converted into the editor's
// samples, and, where asked, with their bytes as read.
class ClipFrames : public FrameInput {
public:
    ClipFrames(std::unique_ptr<ByteSource> src, bool raw, int w, int h)
        : src_(std::move(src)), raw_(raw), w_(w), h_(h), y4m_(*src_), raw_reader_(*src_, w, h) {}
    bool start(std::string& error) { return raw_ ? true : y4m_.read_header(error); }
    const Y4mReader& y4m() const { return y4m_; }
    // Reads and drops `n` frames.
    bool skip(long n, std::string& error) {
        for (long i = 0; i < n; ++i) {
            const ReadStatus s = read(error);
            if (s == ReadStatus::Error) return false;
            if (s == ReadStatus::End) break;  // the pass then finds no frames
        }
        return true;
    }
    ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) override {
        const ReadStatus s = read(error);
        if (s == ReadStatus::Frame) unpack(dst, stride);
        return s;
    }
    // The next frame into `frame`, which grows to w x h once it has
    // arrived, and its bytes as read.
    ReadStatus next_with_bytes(std::vector<PIXEL_YC>& frame, const std::vector<uint8_t>*& bytes, std::string& error) {
        const ReadStatus s = read(error);
        if (s == ReadStatus::Frame) {
            const int w = raw_ ? w_ : y4m_.header().width, h = raw_ ? h_ : y4m_.header().height;
            frame.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
            unpack(frame.data(), w);
        }
        bytes = raw_ ? &raw_reader_.bytes() : &planes_;
        return s;
    }
    long frames_read() const { return raw_ ? raw_reader_.frames_read() : y4m_.frames_read(); }
    // Where the reader's truncation goes when a pass reaches the clip's end.
    void note_truncation_in(Truncation* cut) { cut_ = cut; }
    // A Y4M file read by seeking, where frame f was taken to start at a
    // fixed offset: every frame must come with a bare FRAME line. One with
    // parameters, or a read that finds no FRAME line where one should be,
    // means the frames differ in size after all: the read fails and
    // `*misread` is set.
    void expect_bare_frames(bool* misread) { misread_ = misread; }

private:
    ReadStatus read(std::string& error) {
        ReadStatus s = raw_ ? raw_reader_.read_frame(error) : y4m_.read_frame(planes_, error);
        if (misread_ && (s == ReadStatus::Error || (s == ReadStatus::Frame && !y4m_.frame_params().empty()))) {
            *misread_ = true;
            error = "the input's FRAME lines differ in length, so its frames cannot be found by seeking";
            return ReadStatus::Error;
        }
        if (s == ReadStatus::End && cut_) {
            const Truncation& t = raw_ ? raw_reader_.truncation() : y4m_.truncation();
            if (t.happened()) *cut_ = t;
        }
        return s;
    }
    void unpack(PIXEL_YC* dst, int stride) const {
        if (raw_) {
            raw_reader_.unpack(dst, stride);
        } else {
            const Y4mHeader& hd = y4m_.header();
            planes_to_yc(planes_.data(), hd.chroma, hd.width, hd.height, dst, stride, hd.depth);
        }
    }

    std::unique_ptr<ByteSource> src_;
    bool raw_;
    int w_, h_;
    Y4mReader y4m_;
    RawReader raw_reader_;
    std::vector<uint8_t> planes_;
    Truncation* cut_ = nullptr;
    bool* misread_ = nullptr;
};

namespace {

// A pipe's kept frames, read back from the scratch file from `first` on, up
// to the first frame not kept.
class KeptFrames : public FrameInput {
public:
    using Reader = std::function<ReadStatus(long f, PIXEL_YC* dst, int stride, std::string& error)>;
    KeptFrames(long first, Reader reader) : next_(first), reader_(std::move(reader)) {}
    ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) override { return reader_(next_++, dst, stride, error); }

private:
    long next_;
    Reader reader_;
};

}  // namespace

AnalysisInput::AnalysisInput() = default;

AnalysisInput::~AnalysisInput() {
    reader_.reset();
    if (scratch_) std::fclose(scratch_);
}

bool AnalysisInput::make_scratch(std::string& error) {
    scratch_ = platform::scratch_file();
    if (!scratch_) {
        error = std::string("cannot make a temporary file for the input (TMPDIR): ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool AnalysisInput::start_reader(std::unique_ptr<ByteSource> src, std::string& error) {
    reader_ = std::make_unique<ClipFrames>(std::move(src), raw_, w_, h_);
    reader_->note_truncation_in(&cut_);
    if (!reader_->start(error)) {
        error = header_advice(reader_->y4m().header_fault(), error, name_, from_pipe_, from_stdin_);
        return false;
    }
    if (!raw_) {
        y4m_ = reader_->y4m().header();
        w_ = y4m_.width;
        h_ = y4m_.height;
        payload_ = reader_->y4m().frame_bytes();
        header_ = format_y4m_header(y4m_, y4m_.chroma, y4m_.depth, 0);
    } else {
        payload_ = static_cast<size_t>(w_) * static_cast<size_t>(h_) * 6;
    }
    return true;
}

bool AnalysisInput::open_input(const std::string& name, bool raw, int raw_w, int raw_h, const std::string& from_stdin,
                               long prefix, std::string& error, std::FILE* opened) {
    name_ = name;
    raw_ = raw;
    w_ = raw_w;
    h_ = raw_h;
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
        return open_stream(std::make_unique<OwnedFileSource>(f, own), prefix, error);
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

bool AnalysisInput::open_stream(std::unique_ptr<ByteSource> src, long prefix, std::string& error) {
    if (prefix <= 0) {
        // Read once, as the analysis goes; kept frames into the scratch
        // file.
        mode_ = Mode::Stream;
        return start_reader(std::move(src), error);
    }
    // --auto: the first frames whole into the scratch copy, read as a file
    // from then on, and again by the filter run, before the rest.
    stream_source_ = std::move(src);
    if (!make_scratch(error)) return false;
    if (!start_reader(std::make_unique<TeeSource>(*stream_source_, scratch_), error)) return false;
    const long long head = static_cast<long long>(std::ftell(scratch_));
    bool bare = true;
    long n = 0;
    for (; n < prefix; ++n) {
        // The frames' bytes only; nothing is converted.
        if (!reader_->skip(1, error)) return false;
        if (reader_->frames_read() == n) break;  // the end of the pipe
        if (!raw_ && !reader_->y4m().frame_params().empty()) bare = false;
    }
    if (std::fflush(scratch_) != 0) {
        error = std::string("cannot keep a copy of the input in a temporary file (TMPDIR): ") + std::strerror(errno);
        return false;
    }
    reader_.reset();
    shared_ = scratch_;
    mode_ = Mode::Seek;
    data_at_ = raw_ ? 0 : head;
    record_ = bare ? (raw_ ? payload_ : payload_ + 6) : 0;
    length_ = n;
    peak_slots_ = n;
    return true;
}

bool AnalysisInput::open_file(std::FILE* f, long long size, std::string& error) {
    if (!start_reader(std::make_unique<OwnedFileSource>(f), error)) return false;
    if (raw_) {
        mode_ = Mode::Seek;
        record_ = payload_;
        length_ = static_cast<long>(size / static_cast<long long>(record_));
        reader_.reset();
        return true;
    }
    // A Y4M file whose FRAME lines are all bare has frames of one size, and
    // is read by seeking; otherwise it is read as a pipe is. The first
    // frame's line, and the line where the last frame would start, tell
    // (parameters on any line before it move it); the readers that seek
    // check every line they read besides (expect_bare_frames).
    data_at_ = static_cast<long long>(reader_->y4m().header_bytes());
    std::string e;
    const bool first_bare = reader_->skip(1, e) && reader_->frames_read() == 1 && reader_->y4m().frame_params().empty();
    if (first_bare || reader_->frames_read() == 0) {
        reader_.reset();
        record_ = payload_ + 6;
        length_ = static_cast<long>(std::max(0LL, size - data_at_) / static_cast<long long>(record_));
        if (length_ <= 1 || bare_frame_line_at(length_ - 1)) {
            mode_ = Mode::Seek;
            return true;
        }
    }
    return read_as_stream(error);
}

bool AnalysisInput::bare_frame_line_at(long frame) {
    std::FILE* f = std::fopen(name_.c_str(), "rb");
    if (!f) return false;
    char line[6] = {};
    const bool bare = platform::seek_file(f, data_at_ + static_cast<long long>(frame) * static_cast<long long>(record_)) &&
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
    mode_ = Mode::Stream;
    length_ = -1;
    record_ = 0;
    misread_ = false;
    cut_ = Truncation{};
    slot_of_.clear();
    free_slots_.clear();
    slots_ = peak_slots_ = 0;
    return start_reader(std::make_unique<OwnedFileSource>(f), error);
}

std::unique_ptr<FrameInput> AnalysisInput::open(long first, std::string& error) {
    if (mode_ == Mode::Stream) {
        return std::make_unique<KeptFrames>(first, [this](long f, PIXEL_YC* dst, int stride, std::string& err) {
            const auto at = slot_of_.find(f);
            if (at == slot_of_.end()) return ReadStatus::End;
            if (!read_slot(at->second, payload_buf_, err)) return ReadStatus::Error;
            unpack(payload_buf_, dst, stride);
            return ReadStatus::Frame;
        });
    }
    std::FILE* f = shared_;
    if (!f) {
        f = std::fopen(name_.c_str(), "rb");
        if (!f) {
            error = "cannot open input '" + name_ + "' again: " + std::strerror(errno);
            return nullptr;
        }
    }
    const long long at = data_at_ + (record_ ? static_cast<long long>(first) * static_cast<long long>(record_) : 0);
    if (!platform::seek_file(f, at)) {
        error = "cannot read input '" + name_ + "' at frame " + std::to_string(first) + ": " + std::strerror(errno);
        if (!shared_) std::fclose(f);
        return nullptr;
    }
    std::unique_ptr<ByteSource> src = std::make_unique<OwnedFileSource>(f, !shared_);
    if (!raw_) src = std::make_unique<ChainSource>(std::make_unique<OwnedMemorySource>(header_), std::move(src));
    auto frames = std::make_unique<ClipFrames>(std::move(src), raw_, w_, h_);
    if (!frames->start(error)) return nullptr;
    if (!raw_ && record_ && !shared_) frames->expect_bare_frames(&misread_);
    // Frames of differing sizes: read from the first one on.
    if (!record_ && !frames->skip(first, error)) return nullptr;
    frames->note_truncation_in(&cut_);
    return frames;
}

ReadStatus AnalysisInput::next(std::vector<PIXEL_YC>& frame, bool keep, std::string& error) {
    if (!reader_) return ReadStatus::End;
    const std::vector<uint8_t>* bytes = nullptr;
    const ReadStatus s = reader_->next_with_bytes(frame, bytes, error);
    if (s != ReadStatus::Frame || !keep) return s;
    const long f = reader_->frames_read() - 1;
    if (!scratch_ && !make_scratch(error)) return ReadStatus::Error;
    long slot;
    if (!free_slots_.empty()) {
        slot = free_slots_.back();
        free_slots_.pop_back();
    } else {
        slot = slots_++;
    }
    peak_slots_ = std::max(peak_slots_, static_cast<long>(slot_of_.size()) + 1);
    errno = 0;
    if (!platform::seek_file(scratch_, static_cast<long long>(slot) * static_cast<long long>(payload_)) ||
        std::fwrite(bytes->data(), 1, payload_, scratch_) != payload_ || std::fflush(scratch_) != 0) {
        error = std::string("cannot keep the frames the analysis reads again in a temporary file (TMPDIR): ") +
                std::strerror(errno ? errno : EIO);
        return ReadStatus::Error;
    }
    slot_of_[f] = slot;
    return s;
}

void AnalysisInput::forget(long first, long end) {
    for (auto it = slot_of_.lower_bound(first); it != slot_of_.end() && it->first < end;) {
        free_slots_.push_back(it->second);
        it = slot_of_.erase(it);
    }
}

bool AnalysisInput::read_slot(long slot, std::vector<uint8_t>& payload, std::string& error) {
    payload.resize(payload_);
    if (!platform::seek_file(scratch_, static_cast<long long>(slot) * static_cast<long long>(payload_)) ||
        std::fread(payload.data(), 1, payload_, scratch_) != payload_) {
        error = std::string("cannot read back the temporary copy of the input: ") + std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

void AnalysisInput::unpack(const std::vector<uint8_t>& payload, PIXEL_YC* dst, int stride) const {
    if (raw_)
        unpack_raw_frame(payload.data(), w_, h_, dst, stride);
    else
        planes_to_yc(payload.data(), y4m_.chroma, w_, h_, dst, stride, y4m_.depth);
}

std::unique_ptr<ByteSource> AnalysisInput::replay() {
    if (!shared_) return nullptr;
    std::fflush(shared_);
    std::rewind(shared_);
    std::FILE* copy = shared_;
    shared_ = nullptr;
    scratch_ = nullptr;  // the replay owns it now
    return std::make_unique<ChainSource>(std::make_unique<OwnedFileSource>(copy), std::move(stream_source_));
}

}  // namespace pelta_cli
