#include "analyze/sample_runner.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "native/host_side.h"
#include "native/platform_native.h"

namespace pelta_cli::analysis {

using pelta::CHECK_LPF;
using pelta::CHECK_RANGE;
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
    c.check[CHECK_RANGE] = 0;
    return c;
}

SampleRunner::SampleRunner(const FILTER_DLL* desc, int w, int h, long first)
    : w_(w), h_(h), max_w_((w + 31) / 32 * 32), first_(first), loaded_(first) {
    pixels_ = static_cast<size_t>(max_w_) * static_cast<size_t>(h_);
    exfunc_.is_saving = svc_is_saving;
    exfunc_.set_ycp_filtering_cache_size = svc_set_cache_size;
    exfunc_.get_ycp_filtering_cache_ex = svc_get_frame;
    current_ = default_controls(desc);
    current_.check[CHECK_RANGE] = 0;
    filter_ = filter_record_for(desc, current_.track, current_.check, &exfunc_, &hwnd_token_);
    if (filter_.func_update) filter_.func_update(&filter_, 0);
}

SampleRunner::~SampleRunner() {
    if (filter_.func_exit) filter_.func_exit(&filter_);
}

bool SampleRunner::advance(FrameInput& in, std::string& error) {
    if (ended_) return false;
    std::vector<PIXEL_YC>& frame = ring_[static_cast<size_t>(loaded_ % kRing)];
    // Buffers grow with the frames that arrive, not with a header's promise.
    if (frame.empty()) frame.assign(pixels_, PIXEL_YC{0, 0, 0});
    switch (in.next(frame.data(), max_w_, error)) {
        case ReadStatus::Frame: ++loaded_; return true;
        case ReadStatus::End: ended_ = true; return false;
        case ReadStatus::Error: return false;
    }
    return false;
}

const PIXEL_YC* SampleRunner::run(const Controls& c, long f, Decision* decision) {
    if (std::memcmp(&c, &current_, sizeof c) != 0) {
        current_ = c;
        if (filter_.func_update) filter_.func_update(&filter_, 0);
    }
    if (edit_.empty()) {
        edit_.assign(pixels_, PIXEL_YC{0, 0, 0});
        temp_.assign(pixels_, PIXEL_YC{0, 0, 0});
    }
    current_frame_ = f;
    std::copy(slot(f), slot(f) + pixels_, edit_.begin());
    // What a host that had read through frame f+2 would tell: the
    // filter's choices depend on frame_n only through whether f+1 and
    // f+2 exist.
    const long frame_n = std::min(loaded_, f + 3);
    FILTER_PROC_INFO fpip = proc_info_for(edit_.data(), temp_.data(), w_, h_, max_w_, static_cast<int>(f),
                                          static_cast<int>(frame_n), this);
    native_window_text_reset();
    const bool ok = filter_.func_proc(&filter_, &fpip) != FALSE;
    if (decision) {
        *decision = Decision{};
        FrameReport report;
        const char* title = native_window_text(filter_.hwnd);
        if (ok && title && parse_title(title, filter_.name, report)) {
            decision->known = true;
            decision->match = report.match;
            decision->comb = report.comb;
            decision->comb_th = report.comb_th;
        }
    }
    return ok ? fpip.ycp_edit : slot(f);
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

bool read_frames(const AnalysisRequest& rq, const std::vector<long>& frames,
                 const std::function<void(SampleRunner&, long)>& per_frame, std::string& error) {
    // Frames this close are read in one pass; further apart, the clip is
    // opened again at the next one.
    constexpr long kReadThrough = 12;
    for (size_t i = 0; i < frames.size();) {
        size_t j = i + 1;
        while (j < frames.size() && frames[j] - frames[j - 1] <= kReadThrough) ++j;
        const long first = std::max<long>(0, frames[i] - 2);
        std::unique_ptr<FrameInput> in = rq.open(first, error);
        if (!in) return false;
        SampleRunner runner(rq.desc, rq.w, rq.h, first);
        for (; i < j; ++i) {
            const long f = frames[i];
            while (!runner.ended() && runner.loaded() <= f + 2)
                if (!runner.advance(*in, error) && !runner.ended()) return false;
            if (f >= runner.loaded()) break;
            per_frame(runner, f);
        }
        i = j;
    }
    return true;
}

}  // namespace pelta_cli::analysis
