// Frame adapters between the host and the two stream formats: frames read
// from Y4M or raw input into the host's pixels, and the host's output frames
// written as Y4M or raw into an output file. Their buffers are made for the
// first frame that comes, not from the size alone.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "host/host.h"
#include "io/output_file.h"
#include "io/y4m.h"

namespace pelta_cli {

// The FRAME parameters of input frames whose output is not written yet,
// oldest first: the input adds each frame's, the output takes them in the
// same order, so every output frame carries the parameters of its input frame.
// Reading and writing may happen on different threads.
class FrameParamQueue {
public:
    void push(std::string params) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(params));
    }
    // The oldest parameters, or "" when none are waiting.
    std::string pop() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) return {};
        std::string p = std::move(queue_.front());
        queue_.pop_front();
        return p;
    }

private:
    std::mutex mutex_;
    std::deque<std::string> queue_;
};

class Y4mFrameInput : public FrameInput {
public:
    explicit Y4mFrameInput(Y4mReader& reader, FrameParamQueue* params = nullptr)
        : reader_(reader), params_(params) {}
    ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) override;
    ReadStatus next_into(const std::function<PIXEL_YC*()>& dst, int stride, std::string& error) override;

private:
    Y4mReader& reader_;
    FrameParamQueue* params_;
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
