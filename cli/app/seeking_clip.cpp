#include "app/seeking_clip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "io/byte_sources.h"
#include "platform/platform.h"

namespace pelta_cli {

SeekingClip::SeekingClip(std::string name, const ClipFormat& format, long long data_at, size_t record, long length)
    : name_(std::move(name)), format_(format), data_at_(data_at), record_(record), length_(length) {}

SeekingClip::SeekingClip(std::FILE* copy, const ClipFormat& format, std::vector<long long> offsets)
    : format_(format), copy_(copy), offsets_(std::move(offsets)),
      length_(std::max(0L, static_cast<long>(offsets_.size()) - 1)) {}

SeekingClip::~SeekingClip() {
    if (copy_) std::fclose(copy_);
}

std::FILE* SeekingClip::release_copy() {
    std::FILE* copy = copy_;
    copy_ = nullptr;
    if (copy) {
        std::fflush(copy);
        std::rewind(copy);
    }
    return copy;
}

std::unique_ptr<FrameInput> SeekingClip::open(long first, std::string& error) {
    std::FILE* f = copy_;
    if (!f) {
        f = std::fopen(name_.c_str(), "rb");
        if (!f) {
            error = "cannot open input '" + name_ + "' again: " + std::strerror(errno);
            return nullptr;
        }
    }
    // In the copy, a reader past its last frame starts at its end.
    const long long at = copy_ ? offsets_[static_cast<size_t>(std::clamp(first, 0L, length_))]
                               : data_at_ + static_cast<long long>(first) * static_cast<long long>(record_);
    if (!platform::seek_file(f, at)) {
        error = "cannot read input '" + name_ + "' at frame " + std::to_string(first) + ": " + std::strerror(errno);
        if (!copy_) std::fclose(f);
        return nullptr;
    }
    std::unique_ptr<ByteSource> src = std::make_unique<OwnedFileSource>(f, !copy_);
    if (!format_.raw) src = std::make_unique<ChainSource>(std::make_unique<OwnedMemorySource>(format_.header), std::move(src));
    auto frames = std::make_unique<ClipFrames>(std::move(src), format_.raw, format_.w, format_.h);
    if (!frames->start(error)) return nullptr;
    if (!format_.raw && !copy_) frames->expect_bare_frames(&misread_);
    frames->note_truncation_in(&cut_);
    return frames;
}

}  // namespace pelta_cli
