// Frame adapters between the host and the two stream formats: frames read
// from Y4M or raw input into the host's pixels, and the host's output frames
// written as Y4M or raw into an output file. Their buffers are made for the
// first frame that comes, not from the size alone.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "host/host.h"
#include "io/output_file.h"
#include "io/y4m.h"

namespace pelta_cli {

// What goes with an input frame to its output besides its pixels: the
// parameters of its FRAME line, with their leading space (" Ixyz"), and, for
// a frame that is to pass through, its planes as read, which the output
// writes in place of the converted pixels (the editor's samples do not
// convert back to the same bytes).
struct FrameParams {
    std::string params;
    std::vector<uint8_t> planes;  // empty: write the pixels
};

// The FrameParams of input frames whose output is not written yet, oldest
// first: the input adds each frame's, the output takes them in the same
// order, so every output frame carries the parameters of its input frame.
// Reading and writing may happen on different threads.
class FrameParamQueue {
public:
    void push(FrameParams params) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(params));
    }
    // The oldest entry, or an empty one when none is waiting.
    FrameParams pop() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) return {};
        FrameParams p = std::move(queue_.front());
        queue_.pop_front();
        return p;
    }

private:
    std::mutex mutex_;
    std::deque<FrameParams> queue_;
};

class Y4mFrameInput : public FrameInput {
public:
    // `keep_planes`, when given, names the frames (by number, from 0) whose
    // planes go into `params` with their parameters, to be written as read.
    explicit Y4mFrameInput(Y4mReader& reader, FrameParamQueue* params = nullptr,
                           std::function<bool(long frame)> keep_planes = {})
        : reader_(reader), params_(params), keep_planes_(std::move(keep_planes)) {}
    ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) override;
    ReadStatus next_into(const std::function<PIXEL_YC*()>& dst, int stride, std::string& error) override;

private:
    Y4mReader& reader_;
    FrameParamQueue* params_;
    std::function<bool(long)> keep_planes_;
    std::vector<uint8_t> planes_;
};

class RawFrameInput : public FrameInput {
public:
    explicit RawFrameInput(RawReader& reader) : reader_(reader) {}
    ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) override {
        return reader_.read_frame(dst, stride, error);
    }
    ReadStatus next_into(const std::function<PIXEL_YC*()>& dst, int stride, std::string& error) override {
        const ReadStatus s = reader_.read_frame(error);
        if (s == ReadStatus::Frame) reader_.unpack(dst(), stride);
        return s;
    }

private:
    RawReader& reader_;
};

class Y4mFrameOutput : public FrameOutput {
public:
    Y4mFrameOutput(OutputFile& file, Chroma chroma, int w, int h, int depth = 8, FrameParamQueue* params = nullptr);
    bool put(const PIXEL_YC* frame, int stride, std::string& error) override;

private:
    OutputFile& file_;
    Chroma chroma_;
    int w_, h_, depth_;
    FrameParamQueue* params_;
    std::vector<uint8_t> buf_;
};

class RawFrameOutput : public FrameOutput {
public:
    RawFrameOutput(OutputFile& file, int w, int h);
    bool put(const PIXEL_YC* frame, int stride, std::string& error) override;

private:
    OutputFile& file_;
    int w_, h_;
    std::vector<uint8_t> buf_;
};

}  // namespace pelta_cli
