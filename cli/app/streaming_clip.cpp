#include "app/streaming_clip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/platform.h"

namespace pelta_cli {

namespace {

// A pipe's kept frames, read back from the scratch file from `first` on, up
// to the first frame not kept.
class KeptFrames : public FrameInput {
public:
    using Reader = std::function<ReadStatus(long f, PIXEL_YC* dst, int stride, std::string& error)>;
    KeptFrames(long first, Reader reader) : next_(first), reader_(std::move(reader)) {}
    ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) override { return reader_(next_++, dst, stride, error); }

private:
    long next_;
    Reader reader_;
};

}  // namespace

StreamingClip::StreamingClip(std::unique_ptr<ClipFrames> frames, const ClipFormat& format)
    : frames_(std::move(frames)), format_(format) {
    frames_->note_truncation_in(&cut_);
}

StreamingClip::~StreamingClip() {
    frames_.reset();
    if (scratch_) std::fclose(scratch_);
}

std::unique_ptr<FrameInput> StreamingClip::open(long first, std::string&) {
    return std::make_unique<KeptFrames>(first, [this](long f, PIXEL_YC* dst, int stride, std::string& err) {
        const auto at = slot_of_.find(f);
        if (at == slot_of_.end()) return ReadStatus::End;
        if (!read_slot(at->second, err)) return ReadStatus::Error;
        format_.unpack(payload_.data(), dst, stride);
        return ReadStatus::Frame;
    });
}

ReadStatus StreamingClip::next(std::vector<PIXEL_YC>& frame, bool keep, std::string& error) {
    const std::vector<uint8_t>* bytes = nullptr;
    const ReadStatus s = frames_->next_with_bytes(frame, bytes, error);
    if (s != ReadStatus::Frame || !keep) return s;
    const long f = frames_->frames_read() - 1;
    if (!scratch_) {
        scratch_ = platform::scratch_file();
        if (!scratch_) {
            error = std::string("cannot make a temporary file for the input (TMPDIR): ") + std::strerror(errno);
            return ReadStatus::Error;
        }
    }
    long slot;
    if (!free_slots_.empty()) {
        slot = free_slots_.back();
        free_slots_.pop_back();
    } else {
        slot = slots_++;
    }
    peak_slots_ = std::max(peak_slots_, static_cast<long>(slot_of_.size()) + 1);
    errno = 0;
    const size_t n = format_.payload;
    if (!platform::seek_file(scratch_, static_cast<long long>(slot) * static_cast<long long>(n)) ||
        std::fwrite(bytes->data(), 1, n, scratch_) != n || std::fflush(scratch_) != 0) {
        error = std::string("cannot keep the frames the analysis reads again in a temporary file (TMPDIR): ") +
                std::strerror(errno ? errno : EIO);
        return ReadStatus::Error;
    }
    slot_of_[f] = slot;
    return s;
}

void StreamingClip::forget(long first, long end) {
    for (auto it = slot_of_.lower_bound(first); it != slot_of_.end() && it->first < end;) {
        free_slots_.push_back(it->second);
        it = slot_of_.erase(it);
    }
}

bool StreamingClip::read_slot(long slot, std::string& error) {
    const size_t n = format_.payload;
    payload_.resize(n);
    if (!platform::seek_file(scratch_, static_cast<long long>(slot) * static_cast<long long>(n)) ||
        std::fread(payload_.data(), 1, n, scratch_) != n) {
        error = std::string("cannot read back the temporary copy of the input: ") + std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

}  // namespace pelta_cli
