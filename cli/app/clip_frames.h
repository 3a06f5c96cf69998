// The frames of a clip as the analysis's input reads them from a byte
// source, Y4M or raw: its format (ClipFormat), and the frames converted into
// the editor's samples, with their bytes as read where asked (ClipFrames).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "host/host.h"
#include "io/y4m.h"

namespace pelta_cli {

// What the two ways of reading a clip share: raw frames of w x h, or Y4M
// with its header; the bytes of one frame's planes.
struct ClipFormat {
    bool raw = false;
    int w = 0, h = 0;
    Y4mHeader y4m;
    std::string header;  // the Y4M header line, newline included
    size_t payload = 0;  // a frame's bytes, without its FRAME line
    // A frame's bytes as read into the editor's samples.
    void unpack(const uint8_t* payload_bytes, PIXEL_YC* dst, int stride) const;
};

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

}  // namespace pelta_cli
