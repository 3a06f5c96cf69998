#include "native/memory_host.h"

#include <algorithm>
#include <cstring>

#include "abi/controls.h"
#include "native/host_side.h"
#include "native/platform_native.h"

#if defined(__SANITIZE_ADDRESS__)
#define PELTA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELTA_ASAN 1
#endif
#endif
#if defined(PELTA_ASAN)
#include <sanitizer/asan_interface.h>
#endif

// ---------------------------------------------------------------------------
// GuardedFrame

GuardedFrame::GuardedFrame(size_t pixels, PIXEL_YC fill, PIXEL_YC guard)
    : pixels_(pixels), guard_(guard), buf_(pixels + 2 * kGuard, guard) {
    std::fill(begin(), end(), fill);
    poison();
}

GuardedFrame::GuardedFrame(const std::vector<PIXEL_YC>& pixels, PIXEL_YC guard)
    : pixels_(pixels.size()), guard_(guard), buf_(pixels.size() + 2 * kGuard, guard) {
    std::copy(pixels.begin(), pixels.end(), begin());
    poison();
}

GuardedFrame::GuardedFrame(const GuardedFrame& other)
    : pixels_(other.pixels_), guard_(other.guard_), buf_(other.pixels_ + 2 * kGuard, other.guard_) {
    std::copy(other.begin(), other.end(), begin());
    poison();
}

GuardedFrame::GuardedFrame(GuardedFrame&& other) noexcept
    : pixels_(other.pixels_), guard_(other.guard_), buf_(std::move(other.buf_)) {
    other.pixels_ = 0;
}

GuardedFrame& GuardedFrame::operator=(const GuardedFrame& other) {
    if (this == &other) return *this;
    if (pixels_ == other.pixels_ && std::memcmp(&guard_, &other.guard_, sizeof guard_) == 0) {
        std::copy(other.begin(), other.end(), begin());  // the same block: its address stays
        return *this;
    }
    GuardedFrame copy(other);
    return *this = std::move(copy);
}

GuardedFrame& GuardedFrame::operator=(GuardedFrame&& other) noexcept {
    if (this == &other) return *this;
    unpoison();
    pixels_ = other.pixels_;
    guard_ = other.guard_;
    buf_ = std::move(other.buf_);
    other.pixels_ = 0;
    return *this;
}

GuardedFrame::~GuardedFrame() { unpoison(); }

void GuardedFrame::fill(PIXEL_YC p) { std::fill(begin(), end(), p); }

bool GuardedFrame::guards_hold() const {
    if (buf_.empty()) return true;  // moved from
    unpoison();
    auto same = [this](const PIXEL_YC& p) { return p.y == guard_.y && p.cb == guard_.cb && p.cr == guard_.cr; };
    bool ok = std::all_of(buf_.begin(), buf_.begin() + kGuard, same) &&
              std::all_of(buf_.end() - kGuard, buf_.end(), same);
    poison();
    return ok;
}

void GuardedFrame::poison() const {
#if defined(PELTA_ASAN)
    if (buf_.empty()) return;
    ASAN_POISON_MEMORY_REGION(buf_.data(), kGuard * sizeof(PIXEL_YC));
    ASAN_POISON_MEMORY_REGION(buf_.data() + kGuard + pixels_, kGuard * sizeof(PIXEL_YC));
#endif
}

void GuardedFrame::unpoison() const {
#if defined(PELTA_ASAN)
    if (!buf_.empty()) ASAN_UNPOISON_MEMORY_REGION(buf_.data(), buf_.size() * sizeof(PIXEL_YC));
#endif
}

// ---------------------------------------------------------------------------
// The services

namespace {

// The host whose services answer: the cache-size service receives only fp,
// so the services find their host here. One host runs the filter at a time.
MemoryHost* active = nullptr;

PELTA_HOST_SERVICE BOOL svc_is_saving(void* editp) {
    MemoryHost& host = *active;
    ++host.log.saving_asks;
    if (editp != host.editp()) {
        ++host.log.foreign_args;
        ++host.foreign_args_total;
    }
    return host.saving ? TRUE : FALSE;
}

PELTA_HOST_SERVICE BOOL svc_set_cache_size(void* fp, int w, int h, int d, int flag) {
    MemoryHost& host = *active;
    ++host.log.cache_requests;
    if (fp != &host.filter) {
        ++host.log.foreign_args;
        ++host.foreign_args_total;
    }
    host.log.cache_args[0] = w;
    host.log.cache_args[1] = h;
    host.log.cache_args[2] = d;
    host.log.cache_args[3] = flag;
    return host.refuse_cache ? FALSE : TRUE;
}

PELTA_HOST_SERVICE PIXEL_YC* svc_get_frame(void* fp, void* editp, int n, int* w_out, int* h_out) {
    MemoryHost& host = *active;
    if (fp != &host.filter || editp != host.editp()) {
        ++host.log.foreign_args;
        ++host.foreign_args_total;
    }
    const int ordinal = host.log.fetch_count++;
    if (ordinal < ServiceLog::kLoggedFetches) host.log.fetches.push_back(n);
    if (w_out || h_out) {
        ++host.log.sized_fetches;
        ++host.sized_fetches_total;
    }
    if (w_out) *w_out = host.w;
    if (h_out) *h_out = host.h;
    if (host.missing.count(n) || ordinal == host.fail_fetch_at) return nullptr;
    if (host.drop_fetch && host.drop_fetch(n)) return nullptr;
    if (n < 0 || n >= host.frame_n) {
        if (!host.replicate_edges || host.frame_n <= 0) return nullptr;
        n = n < 0 ? 0 : host.frame_n - 1;
    }
    return host.clip[static_cast<size_t>(n)].data();
}

}  // namespace

// ---------------------------------------------------------------------------
// MemoryHost

MemoryHost::MemoryHost(const FILTER_DLL* desc, int w_, int h_, int frame_n_, int max_w_, FilterCalls calls)
    : w(w_), h(h_), max_w(max_w_ > 0 ? max_w_ : w_), frame_n(frame_n_), calls_(calls) {
    const PIXEL_YC marker{kMarkerSample, kMarkerSample, kMarkerSample};
    clip.assign(static_cast<size_t>(frame_n > 0 ? frame_n : 0), GuardedFrame(frame_pixels(), marker));
    // Guards of their own for the working frames, so a copy from beyond one
    // frame to beyond another shows too.
    edit = GuardedFrame(frame_pixels(), PIXEL_YC{0, 0, 0}, PIXEL_YC{0x6B6B, 0x6B6B, -0x6B6C});
    temp = GuardedFrame(frame_pixels(), PIXEL_YC{0, 0, 0}, PIXEL_YC{-0x1E1F, 0x1E1E, -0x1E1F});
    track.assign(static_cast<size_t>(std::max(desc->track_n, 0)), 0);
    check.assign(static_cast<size_t>(std::max(desc->check_n, 0)), 0);
    exfunc.is_saving = svc_is_saving;
    exfunc.set_ycp_filtering_cache_size = svc_set_cache_size;
    exfunc.get_ycp_filtering_cache_ex = svc_get_frame;
    filter = filter_record_for(desc, track.data(), check.data(), &exfunc, &hwnd_token_);
    default_settings(desc, track.data(), check.data());
    fpip = proc_info_for(edit.data(), temp.data(), w, h, max_w, 0, frame_n, editp());
    active = this;
}

MemoryHost::~MemoryHost() {
    if (active == this) active = nullptr;
}

void MemoryHost::fail_allocation_after(int skip) { native_heap_fail_after(skip); }

BOOL MemoryHost::set_track(int index, int value) {
    track[static_cast<size_t>(index)] = value;
    return update();
}

BOOL MemoryHost::set_check(int index, int value) {
    check[static_cast<size_t>(index)] = value;
    return update();
}

BOOL MemoryHost::set_window(int left, int width) {
    track[pelta::TRACK_LEFT] = left;
    return set_track(pelta::TRACK_WIDTH, width);
}

BOOL MemoryHost::reset_settings() {
    default_settings(&filter, track.data(), check.data());
    return update();
}

void MemoryHost::begin_call() {
    active = this;
    log.clear();
}

BOOL MemoryHost::update() {
    begin_call();
    return calls_.update ? calls_.update(&filter, 0) : filter.func_update(&filter, 0);
}

BOOL MemoryHost::exit() {
    begin_call();
    return calls_.exit ? calls_.exit(&filter) : filter.func_exit(&filter);
}

void MemoryHost::prepare(int f, PIXEL_YC scratch) {
    begin_call();
    if (f >= 0 && f < frame_n)
        std::copy(clip[static_cast<size_t>(f)].begin(), clip[static_cast<size_t>(f)].end(), edit.begin());
    else
        edit.fill(PIXEL_YC{7, 7, 7});
    temp.fill(scratch);
    fpip = proc_info_for(edit.data(), temp.data(), w, h, max_w, f, frame_n, editp());
}

BOOL MemoryHost::proc() {
    begin_call();
    return calls_.proc ? calls_.proc(&filter, &fpip) : filter.func_proc(&filter, &fpip);
}

std::vector<PIXEL_YC> MemoryHost::output_pixels() const {
    return std::vector<PIXEL_YC>(output(), output() + frame_pixels());
}

bool MemoryHost::swapped() const { return fpip.ycp_edit == temp.data() && fpip.ycp_temp == edit.data(); }

bool MemoryHost::own_frames() const {
    return swapped() || (fpip.ycp_edit == edit.data() && fpip.ycp_temp == temp.data());
}

bool MemoryHost::guards_hold() const {
    if (!edit.guards_hold() || !temp.guards_hold()) return false;
    return std::all_of(clip.begin(), clip.end(), [](const GuardedFrame& f) { return f.guards_hold(); });
}

const char* MemoryHost::title() const {
    const char* t = native_window_text(hwnd());
    return t ? t : "";
}
