#include "host/frame_adapters.h"

#include <cstring>

namespace pelta_cli {

ReadStatus Y4mFrameInput::next(PIXEL_YC* dst, int stride, std::string& error) {
    return next_into([dst] { return dst; }, stride, error);
}

ReadStatus Y4mFrameInput::next_into(const std::function<PIXEL_YC*()>& dst, int stride, std::string& error) {
    ReadStatus s = reader_.read_frame(planes_, error);
    if (s == ReadStatus::Frame) {
        const Y4mHeader& hd = reader_.header();
        planes_to_yc(planes_.data(), hd.chroma, hd.width, hd.height, dst(), stride, hd.depth);
        if (params_) {
            FrameParams p{reader_.frame_params(), {}};
            if (keep_planes_ && keep_planes_(reader_.frames_read() - 1)) p.planes = planes_;
            params_->push(std::move(p));
        }
    }
    return s;
}

Y4mFrameOutput::Y4mFrameOutput(OutputFile& file, Chroma chroma, int w, int h, int depth, FrameParamQueue* params)
    : file_(file), chroma_(chroma), w_(w), h_(h), depth_(depth), params_(params) {}

bool Y4mFrameOutput::put(const PIXEL_YC* frame, int stride, std::string& error) {
    const FrameParams p = params_ ? params_->pop() : FrameParams{};
    if (!p.planes.empty()) {
        // A frame passed through: its FRAME line and planes as read.
        const std::string head = "FRAME" + p.params + "\n";
        return file_.write(head.data(), head.size(), error) && file_.write(p.planes.data(), p.planes.size(), error);
    }
    if (buf_.empty()) {
        static const char kFrameHeader[] = "FRAME\n";
        const size_t head = sizeof kFrameHeader - 1;
        buf_.resize(head + plane_sizes(chroma_, w_, h_, depth_).frame());
        std::memcpy(buf_.data(), kFrameHeader, head);
    }
    yc_to_planes(frame, stride, w_, h_, chroma_, buf_.data() + 6, depth_);
    if (p.params.empty()) return file_.write(buf_.data(), buf_.size(), error);
    // "FRAME" and the input frame's parameters, then the planes.
    const std::string head = "FRAME" + p.params + "\n";
    return file_.write(head.data(), head.size(), error) && file_.write(buf_.data() + 6, buf_.size() - 6, error);
}

RawFrameOutput::RawFrameOutput(OutputFile& file, int w, int h) : file_(file), w_(w), h_(h) {}

bool RawFrameOutput::put(const PIXEL_YC* frame, int stride, std::string& error) {
    buf_.resize(static_cast<size_t>(w_) * h_ * 6);
    pack_raw_frame(frame, stride, w_, h_, buf_.data());
    return file_.write(buf_.data(), buf_.size(), error);
}

}  // namespace pelta_cli
