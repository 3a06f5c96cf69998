#include "host/host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "native/host_side.h"
#include "native/platform_native.h"
#include "platform/platform.h"

namespace pelta_cli {

using namespace pelta;

namespace {

// The services reach their host through editp where the filter passes it;
// set_ycp_filtering_cache_size receives only fp, so the running host is also
// kept here (one host runs at a time).
EditorHost* active_host = nullptr;

// Parses "<name> num:N comb:N comb_th:N".
bool parse_title(const char* text, const char* name, FrameReport& r) {
    const size_t name_len = std::strlen(name);
    if (std::strncmp(text, name, name_len) != 0) return false;
    int consumed = -1;
    if (std::sscanf(text + name_len, " num:%d comb:%d comb_th:%d%n", &r.match, &r.comb, &r.comb_th, &consumed) != 3)
        return false;
    return consumed >= 0 && text[name_len + static_cast<size_t>(consumed)] == '\0';
}

}  // namespace

Controls default_controls(const FILTER_DLL* desc) {
    Controls c{};
    default_settings(desc, c.track, c.check);
    return c;
}

EditorHost::EditorHost(const FILTER_DLL* desc, int w, int h, int max_w, const Controls& controls, bool saving,
                       int threads)
    : w_(w), h_(h), max_w_(max_w), controls_(controls), saving_(saving), threads_(threads > 1 ? 2 : 1) {
    pixels_ = static_cast<size_t>(max_w_) * h_;
    ring_.resize(kRing + (threads_ > 1 ? kReadAhead : 0));
    for (auto& frame : ring_) {
        frame.reset(new PIXEL_YC[pixels_]);
        fill_padding(frame.get());
    }
    // Two working frames for the filter; with threads, also the copies of
    // the frames read ahead (up to frame f + 2 + kReadAhead while the filter
    // works on frame f), one being written and those waiting for the writer.
    // The scratch frames hold the padding value until the filter writes
    // them: anything it read from them before writing would show as
    // stride-dependent output.
    pool_.resize(threads_ > 1 ? (3 + kReadAhead) + 1 + 1 + kOutputQueue : 2);
    edit_of_.assign(ring_.size(), nullptr);
    for (auto& frame : pool_) {
        frame.reset(new PIXEL_YC[pixels_]);
        fill_all(frame.get());
    }

    exfunc_.is_saving = svc_is_saving;
    exfunc_.set_ycp_filtering_cache_size = svc_set_cache_size;
    exfunc_.get_ycp_filtering_cache_ex = svc_get_frame;

    // As the editor does: build the live record from the descriptor, apply
    // the settings, then tell the filter they changed.
    filter_ = filter_record_for(desc, controls_.track, controls_.check, &exfunc_, &hwnd_token_);
    active_host = this;
    if (filter_.func_update) filter_.func_update(&filter_, 0);
}

EditorHost::~EditorHost() {
    if (filter_.func_exit) filter_.func_exit(&filter_);
    if (active_host == this) active_host = nullptr;
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

bool EditorHost::load_through(FrameInput& in, long upto, std::string& error) {
    while (!read_end_ && read_ <= upto) {
        switch (in.next(ring_frame(read_), max_w_, error)) {
            case ReadStatus::Frame: ++read_; break;
            case ReadStatus::End: read_end_ = true; break;
            case ReadStatus::Error: return false;
        }
    }
    return true;
}

bool EditorHost::input_through(FrameInput& in, long upto, std::string& error) {
    if (threads_ == 1) return load_through(in, upto, error);
    std::unique_lock<std::mutex> lock(mu_);
    // A failed write ends the wait too: the run stops at once, whether or
    // not more input comes (the next take_buffer() answers null).
    cv_.wait(lock, [&] { return read_ > upto || read_end_ || read_failed_ || write_failed_; });
    if (read_ > upto || read_end_ || write_failed_) return true;
    error = read_error_;
    return false;
}

void EditorHost::read_ahead(FrameInput& in) {
    const long slots = static_cast<long>(ring_.size());
    for (long k = 0;; ++k) {
        {
            std::unique_lock<std::mutex> lock(mu_);
            cv_.wait(lock, [&] { return stop_ || k - slots < released_; });
            if (stop_) break;
        }
        std::string error;
        const ReadStatus status = in.next(ring_frame(k), max_w_, error);
        PIXEL_YC* edit = nullptr;
        if (status == ReadStatus::Frame) {
            // The frame's ycp_edit, copied here rather than on the filter's
            // thread.
            edit = take_buffer(true);
            if (!edit) break;
            const PIXEL_YC* frame = ring_frame(k);
            std::copy(frame, frame + pixels_, edit);
        }
        std::lock_guard<std::mutex> lock(mu_);
        if (status == ReadStatus::Frame) {
            edit_of_[static_cast<size_t>(k % slots)] = edit;
            read_ = k + 1;
        } else {
            read_end_ = status == ReadStatus::End;
            read_failed_ = status == ReadStatus::Error;
            read_error_ = error;
        }
        cv_.notify_all();
        if (status != ReadStatus::Frame) break;
    }
    std::lock_guard<std::mutex> lock(mu_);
    reader_done_ = true;
    cv_.notify_all();
}

void EditorHost::stop_reader() {
    std::unique_lock<std::mutex> lock(mu_);
    stop_ = true;
    cv_.notify_all();
}

PIXEL_YC* EditorHost::take_buffer(bool for_reader) {
    std::unique_lock<std::mutex> lock(mu_);
    const bool& give_up = for_reader ? stop_ : write_failed_;
    cv_.wait(lock, [&] { return !free_.empty() || give_up; });
    if (give_up) return nullptr;
    PIXEL_YC* buffer = free_.back();
    free_.pop_back();
    return buffer;
}

bool EditorHost::deliver(FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame, OutputItem& item,
                         std::string& error) {
    const bool ok = out.put(item.frame, max_w_, error);
    if (ok) on_frame(item.report);
    std::lock_guard<std::mutex> lock(mu_);
    free_.push_back(item.frame);
    cv_.notify_all();
    return ok;
}

void EditorHost::write_behind(FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame) {
    for (;;) {
        OutputItem item;
        {
            std::unique_lock<std::mutex> lock(mu_);
            cv_.wait(lock, [&] { return !queue_.empty() || queue_closed_; });
            if (queue_.empty()) return;
            item = std::move(queue_.front());
            queue_.pop_front();
            if (write_failed_) {  // nothing more is written after a failure
                free_.push_back(item.frame);
                cv_.notify_all();
                continue;
            }
        }
        std::string error;
        if (!deliver(out, on_frame, item, error)) {
            std::lock_guard<std::mutex> lock(mu_);
            write_failed_ = true;
            write_error_ = error;
            cv_.notify_all();
        }
    }
}

bool EditorHost::run(FrameInput& in, FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame,
                     std::string& error) {
    active_host = this;
    const size_t pixels = pixels_;
    free_.clear();
    for (auto& frame : pool_) free_.push_back(frame.get());

    std::thread reader, writer;
    // Breaks off the reader's wait for input, should the run stop while the
    // input stalls.
    std::optional<platform::ReadInterrupt> interrupt;
    if (threads_ > 1) {
        interrupt.emplace();
        reader = std::thread([this, &in] { read_ahead(in); });
        writer = std::thread([this, &out, &on_frame] { write_behind(out, on_frame); });
    }

    bool ok = true;
    for (long f = 0;; ++f) {
        // Frames f-2 .. f+2 are the most the filter reads for frame f.
        if (!input_through(in, f + 2, error)) {
            ok = false;
            break;
        }
        {
            // What a host that read just through frame f+2 would know.
            std::lock_guard<std::mutex> lock(mu_);
            loaded_ = std::min(read_, f + 3);
            ended_ = read_end_ && read_ <= f + 2;
        }
        if (f >= loaded_) break;
        current_ = f;

        // The frame's own copy as ycp_edit (made by the reader, with
        // threads), and a scratch frame. Null: a write failed, and the
        // writer reports it.
        const PIXEL_YC* input = ring_frame(f);
        PIXEL_YC* edit = nullptr;
        if (threads_ == 1) {
            edit = take_buffer(false);
            if (edit) std::copy(input, input + pixels, edit);
        } else {
            std::lock_guard<std::mutex> lock(mu_);
            edit = edit_of_[static_cast<size_t>(f % static_cast<long>(ring_.size()))];
        }
        PIXEL_YC* temp = edit ? take_buffer(false) : nullptr;
        if (!temp) break;

        // frame_n is the number of frames read so far: the clip's length once
        // its end was seen, otherwise at least f+3. The filter's choices at
        // frame f depend on frame_n only through whether frames f+1 and f+2
        // exist, so this gives the same output as the true length, from a
        // pipe or a file.
        FILTER_PROC_INFO fpip = proc_info_for(edit, temp, w_, h_, max_w_, static_cast<int>(f),
                                              static_cast<int>(loaded_), this);

        native_window_text_reset();
        OutputItem item;
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
        PIXEL_YC* spare = temp;
        if (report.ok && fpip.ycp_edit == temp) {
            item.frame = temp;
            spare = edit;
        } else {
            item.frame = edit;
            const PIXEL_YC* from = report.ok ? fpip.ycp_edit : input;
            if (from != edit) std::copy(from, from + pixels, edit);
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            free_.push_back(spare);
            released_ = f - 1;  // frame f+1 reads frames f-1 .. f+3
            cv_.notify_all();
        }

        if (threads_ == 1) {
            if (!deliver(out, on_frame, item, error)) return false;
            continue;
        }
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return queue_.size() < static_cast<size_t>(kOutputQueue) || write_failed_; });
        if (write_failed_) break;
        queue_.push_back(std::move(item));
        cv_.notify_all();
    }
    if (threads_ == 1) return ok;

    // Everything filtered is written (or refused after a failed write)
    // before the outcome is known: the frames before a read error are
    // written first, as they would be on one thread.
    {
        std::lock_guard<std::mutex> lock(mu_);
        queue_closed_ = true;
        cv_.notify_all();
    }
    writer.join();
    stop_reader();
    for (;;) {
        std::unique_lock<std::mutex> lock(mu_);
        if (cv_.wait_for(lock, std::chrono::milliseconds(20), [&] { return reader_done_; })) break;
        interrupt->interrupt(reader);
    }
    reader.join();
    if (write_failed_) {
        error = write_error_;
        return false;
    }
    return ok;
}

}  // namespace pelta_cli
