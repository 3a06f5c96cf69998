// Running the filter over a clip: frames read into the ring ahead of the
// filter and its results written behind it, on the calling thread alone or
// with a reader and a writer thread of their own; which frames are written
// and reported, and which error ends the run, do not depend on the threads.
#include <algorithm>
#include <chrono>
#include <new>
#include <optional>
#include <thread>

#include "host/host.h"
#include "platform/platform.h"

namespace pelta_cli {

bool EditorHost::load_through(FrameInput& in, long upto, std::string& error) {
    while (!read_end_ && read_ <= upto) {
        switch (read_frame(in, read_, error)) {
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
        ReadStatus status = read_frame(in, k, error);
        PIXEL_YC* edit = nullptr;
        if (status == ReadStatus::Frame) {
            // The frame's ycp_edit, copied here rather than on the filter's
            // thread.
            try {
                edit = take_buffer(true);
            } catch (const std::bad_alloc&) {
                status = ReadStatus::Error;
                error = kNoFrameMemory;
            }
        }
        if (status == ReadStatus::Frame) {
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
    if (free_.empty() && pool_.size() < pool_limit_ && !give_up) {
        // One buffer more, for a frame that has arrived. The scratch frames
        // hold the padding value until the filter writes them: anything it
        // read from them before writing would show as stride-dependent output.
        FrameBuffer buffer(new PIXEL_YC[pixels_]);
        fill_all(buffer.get());
        pool_.push_back(std::move(buffer));
        return pool_.back().get();
    }
    cv_.wait(lock, [&] { return !free_.empty() || give_up; });
    if (give_up) return nullptr;
    PIXEL_YC* buffer = free_.back();
    free_.pop_back();
    return buffer;
}

bool EditorHost::deliver(FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame, OutputItem& item,
                         std::string& error) {
    const long stretch = probe_ && !item.report.passed ? stretch_index(item.report.frame) : -1;
    if (stretch >= 0) probe_->output(static_cast<size_t>(stretch), item.report.frame, item.frame, max_w_);
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
        bool ok;
        try {
            ok = deliver(out, on_frame, item, error);
        } catch (const std::bad_alloc&) {
            ok = false;
            error = kNoFrameMemory;
        }
        if (!ok) {
            std::lock_guard<std::mutex> lock(mu_);
            write_failed_ = true;
            write_error_ = error;
            cv_.notify_all();
        }
    }
}

bool EditorHost::run(FrameInput& in, FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame,
                     std::string& error) {
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
    try {
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

            OutputItem item;
            PIXEL_YC* spare = process_frame(f, edit, temp, item);
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
    } catch (const std::bad_alloc&) {
        // No memory for a frame buffer: the run ends as on a read error.
        error = kNoFrameMemory;
        ok = false;
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

