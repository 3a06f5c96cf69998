// The editor's side of the host: the filter's live record built from its
// descriptor, the services it calls back (is_saving, the frame cache), the
// frame buffers' padding, and one call of the frame procedure. Running it
// over a clip, on one thread or three, is streaming.cpp's.
#include "host/host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "match/weave.h"
#include "native/host_side.h"
#include "native/platform_native.h"

namespace pelta_cli {

bool parse_title(const char* text, const char* name, FrameReport& r) {
    const size_t name_len = std::strlen(name);
    if (std::strncmp(text, name, name_len) != 0) return false;
    int consumed = -1;
    if (std::sscanf(text + name_len, " num:%d comb:%d comb_th:%d%n", &r.match, &r.comb, &r.comb_th, &consumed) != 3)
        return false;
    return consumed >= 0 && text[name_len + static_cast<size_t>(consumed)] == '\0';
}

Controls default_controls(const FILTER_DLL* desc) {
    Controls c{};
    default_settings(desc, c.track, c.check);
    return c;
}

const FilterStretch* stretch_at(const FilterSchedule& schedule, long f) {
    // The last stretch that starts at or before f.
    auto after = std::upper_bound(schedule.begin(), schedule.end(), f,
                                  [](long frame, const FilterStretch& s) { return frame < s.start; });
    if (after == schedule.begin()) return nullptr;
    const FilterStretch& s = *(after - 1);
    return f - s.start < s.frames ? &s : nullptr;
}

Controls controls_at(const FilterStretch& stretch, long f) {
    const long partner = pelta::partner_frame(static_cast<int>(f));
    const bool inside = partner >= stretch.start && partner - stretch.start < stretch.frames;
    if (inside || stretch.controls.track[pelta::TRACK_WIDTH] == 0) return stretch.controls;
    Controls closed = stretch.controls;
    closed.track[pelta::TRACK_WIDTH] = 0;
    return closed;
}

EditorHost::EditorHost(const FILTER_DLL* desc, int w, int h, int max_w, const Controls& controls, bool saving,
                       int threads)
    : w_(w), h_(h), max_w_(max_w), controls_(controls), saving_(saving), threads_(threads > 1 ? 2 : 1) {
    pixels_ = static_cast<size_t>(max_w_) * h_;
    ring_.resize(kRing + (threads_ > 1 ? kReadAhead : 0));
    // Two working frames for the filter; with threads, also the copies of
    // the frames read ahead (up to frame f + 2 + kReadAhead while the filter
    // works on frame f), one being written and those waiting for the writer.
    pool_limit_ = threads_ > 1 ? (3 + kReadAhead) + 1 + 1 + kOutputQueue : 2;
    pool_.reserve(pool_limit_);
    edit_of_.assign(ring_.size(), nullptr);

    exfunc_.is_saving = svc_is_saving;
    exfunc_.set_ycp_filtering_cache_size = svc_set_cache_size;
    exfunc_.get_ycp_filtering_cache_ex = svc_get_frame;

    // As the editor does: build the live record from the descriptor, apply
    // the settings, then tell the filter they changed.
    filter_ = filter_record_for(desc, controls_.track, controls_.check, &exfunc_, &hwnd_token_);
    if (filter_.func_update) filter_.func_update(&filter_, 0);
}

EditorHost::~EditorHost() {
    if (filter_.func_exit) filter_.func_exit(&filter_);
}

// Columns beyond w are never picture. They hold a value derived from the
// stride, so that a filter letting them leak into the picture would make the
// output depend on --max-w, which the end-to-end tests check it does not.
PIXEL_YC EditorHost::padding_pixel() const {
    const int16_t v = static_cast<int16_t>(-max_w_);
    return PIXEL_YC{v, v, v};
}

void EditorHost::fill_padding(PIXEL_YC* frame) const {
    for (int y = 0; y < h_; ++y)
        for (int x = w_; x < max_w_; ++x) frame[static_cast<size_t>(y) * max_w_ + x] = padding_pixel();
}

// Every pixel of the frame to the padding value: the first row pixel by
// pixel, the others as block copies of it.
void EditorHost::fill_all(PIXEL_YC* frame) const {
    const size_t row = static_cast<size_t>(max_w_);
    std::fill(frame, frame + row, padding_pixel());
    for (int y = 1; y < h_; ++y) std::memcpy(frame + y * row, frame, row * sizeof(PIXEL_YC));
}

PIXEL_YC* EditorHost::ring_slot(long n) {
    FrameBuffer& slot = ring_[static_cast<size_t>(n % static_cast<long>(ring_.size()))];
    if (!slot) {
        slot.reset(new PIXEL_YC[pixels_]);
        fill_padding(slot.get());
    }
    return slot.get();
}

ReadStatus EditorHost::read_frame(FrameInput& in, long n, std::string& error) {
    ReadStatus status;
    try {
        status = in.next_into([this, n] { return ring_slot(n); }, max_w_, error);
    } catch (const std::bad_alloc&) {
        error = kNoFrameMemory;
        return ReadStatus::Error;
    }
    const long stretch = status == ReadStatus::Frame && probe_ ? stretch_index(n) : -1;
    if (stretch >= 0) probe_->input(static_cast<size_t>(stretch), n, ring_frame(n), max_w_);
    return status;
}

long EditorHost::stretch_index(long f) const {
    if (!schedule_) return -1;
    const FilterStretch* s = stretch_at(*schedule_, f);
    return s ? static_cast<long>(s - schedule_->data()) : -1;
}

BOOL EditorHost::svc_is_saving(void* editp) {
    return static_cast<EditorHost*>(editp)->saving_ ? TRUE : FALSE;
}

// The ring always holds the frames the filter asks to keep, so the request
// always succeeds.
BOOL EditorHost::svc_set_cache_size(void* fp, int w, int h, int d, int flag) {
    (void)fp;
    (void)w;
    (void)h;
    (void)d;
    (void)flag;
    return TRUE;
}

// Frames before the first or past the last get the nearest frame of the clip.
// A frame past the last is known to be past it, since the ring is filled two
// frames ahead of the current one (or up to the end of the clip).
PIXEL_YC* EditorHost::svc_get_frame(void* fp, void* editp, int n, int* w_out, int* h_out) {
    auto* host = static_cast<EditorHost*>(editp);
    if (!host || fp != &host->filter_) return nullptr;
    long k = n;
    if (k < 0) k = 0;
    if (host->ended_ && k >= host->loaded_) k = host->loaded_ - 1;
    if (k < 0 || k >= host->loaded_ || k < host->loaded_ - kRing) {
        ++host->stats_.uncached_requests;
        return nullptr;
    }
    if (w_out) *w_out = host->w_;
    if (h_out) *h_out = host->h_;
    return host->ring_frame(k);
}

void EditorHost::follow(FilterSchedule schedule) { schedule_ = std::move(schedule); }

PIXEL_YC* EditorHost::process_frame(long f, PIXEL_YC* edit, PIXEL_YC* temp, OutputItem& item) {
    if (!schedule_) return filter_frame(f, edit, temp, item);
    const FilterStretch* stretch = stretch_at(*schedule_, f);
    if (!stretch) {
        item.frame = edit;
        item.report.frame = f;
        item.report.ok = true;
        item.report.passed = true;
        ++stats_.frames;
        ++stats_.passed;
        return temp;
    }
    const Controls wanted = controls_at(*stretch, f);
    if (!(wanted == controls_)) {
        // The filter's record points at controls_: as in the editor, the
        // new values are in place when the handler is told of them.
        controls_ = wanted;
        if (filter_.func_update) filter_.func_update(&filter_, 0);
    }
    return filter_frame(f, edit, temp, item);
}

PIXEL_YC* EditorHost::filter_frame(long f, PIXEL_YC* edit, PIXEL_YC* temp, OutputItem& item) {
    // frame_n is the number of frames read so far: the clip's length once
    // its end was seen, otherwise at least f+3. The filter's choices at
    // frame f depend on frame_n only through whether frames f+1 and f+2
    // exist, so this gives the same output as the true length, from a
    // pipe or a file.
    FILTER_PROC_INFO fpip = proc_info_for(edit, temp, w_, h_, max_w_, static_cast<int>(f),
                                          static_cast<int>(loaded_), this);

    native_window_text_reset();
    FrameReport& report = item.report;
    report.frame = f;
    report.ok = filter_.func_proc(&filter_, &fpip) != FALSE;
    if (const char* title = native_window_text(filter_.hwnd)) {
        report.titled = true;
        report.title = title;
        report.parsed = parse_title(title, filter_.name, report);
    }
    ++stats_.frames;
    if (!report.ok) ++stats_.failed;

    // The output: whichever working frame ycp_edit names. A failed frame
    // goes out as it entered the filter.
    if (report.ok && fpip.ycp_edit == temp) {
        item.frame = temp;
        return edit;
    }
    item.frame = edit;
    const PIXEL_YC* from = report.ok ? fpip.ycp_edit : ring_frame(f);
    if (from != edit) std::copy(from, from + pixels_, edit);
    return temp;
}

}  // namespace pelta_cli
