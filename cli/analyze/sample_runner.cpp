#include "analyze/sample_runner.h"

#include <algorithm>
#include <cstring>

#include "native/host_side.h"

namespace pelta_cli::analysis {

using pelta::CHECK_LPF;
using pelta::CHECK_TFF;
using pelta::TRACK_LEFT;
using pelta::TRACK_SHIFT;
using pelta::TRACK_WIDTH;

Controls controls_for(const Controls& base, int tff, int left, int width, int shift, int lpf) {
    Controls c = base;
    c.track[TRACK_LEFT] = left;
    c.track[TRACK_WIDTH] = width;
    c.track[TRACK_SHIFT] = shift;
    c.check[CHECK_TFF] = tff;
    c.check[CHECK_LPF] = lpf;
    return c;
}

SampleRunner::SampleRunner(const FILTER_DLL* desc, int w, int h, long first)
    : w_(w), h_(h), max_w_((w + 31) / 32 * 32), first_(first), loaded_(first) {
    pixels_ = static_cast<size_t>(max_w_) * static_cast<size_t>(h_);
    for (auto& f : ring_) f.assign(pixels_, PIXEL_YC{0, 0, 0});
    edit_.assign(pixels_, PIXEL_YC{0, 0, 0});
    temp_.assign(pixels_, PIXEL_YC{0, 0, 0});
    exfunc_.is_saving = svc_is_saving;
    exfunc_.set_ycp_filtering_cache_size = svc_set_cache_size;
    exfunc_.get_ycp_filtering_cache_ex = svc_get_frame;
    current_ = default_controls(desc);
    filter_ = filter_record_for(desc, current_.track, current_.check, &exfunc_, &hwnd_token_);
    if (filter_.func_update) filter_.func_update(&filter_, 0);
}

SampleRunner::~SampleRunner() {
    if (filter_.func_exit) filter_.func_exit(&filter_);
}

bool SampleRunner::advance(FrameInput& in, std::string& error) {
    if (ended_) return false;
    switch (in.next(slot(loaded_), max_w_, error)) {
        case ReadStatus::Frame: ++loaded_; return true;
        case ReadStatus::End: ended_ = true; return false;
        case ReadStatus::Error: return false;
    }
    return false;
}

const PIXEL_YC* SampleRunner::run(const Controls& c, long f) {
    if (std::memcmp(&c, &current_, sizeof c) != 0) {
        current_ = c;
        if (filter_.func_update) filter_.func_update(&filter_, 0);
    }
    current_frame_ = f;
    std::copy(slot(f), slot(f) + pixels_, edit_.begin());
    // What a host that had read through frame f+2 would tell: the
    // filter's choices depend on frame_n only through whether f+1 and
    // f+2 exist.
    const long frame_n = std::min(loaded_, f + 3);
    FILTER_PROC_INFO fpip = proc_info_for(edit_.data(), temp_.data(), w_, h_, max_w_, static_cast<int>(f),
                                          static_cast<int>(frame_n), this);
    if (filter_.func_proc(&filter_, &fpip) == FALSE) return slot(f);
    return fpip.ycp_edit;
}

// Frames outside what was read get the nearest one read, as the
// command-line host answers beyond the ends of a clip.
PIXEL_YC* SampleRunner::svc_get_frame(void* fp, void* editp, int n, int* w_out, int* h_out) {
    auto* self = static_cast<SampleRunner*>(editp);
    if (!self || fp != &self->filter_) return nullptr;
    long k = std::max<long>(n, self->first_);
    const long last = std::min(self->loaded_, self->current_frame_ + 3) - 1;
    if (k > last) k = last;
    if (k < self->loaded_ - kRing || k < self->first_) return nullptr;
    if (w_out) *w_out = self->w_;
    if (h_out) *h_out = self->h_;
    return self->slot(k);
}

}  // namespace pelta_cli::analysis
