// A clip the analysis reads once, front to back: anything that cannot seek
// (standard input, a named pipe, /dev/stdin, a shell's <(...)), and a Y4M
// file whose FRAME lines carry parameters. The frames the analysis keeps go
// into a scratch file in the user's temporary folder, in slots that
// forgotten frames free again; later passes read them from there.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analyze/clip_reader.h"
#include "app/clip_frames.h"

namespace pelta_cli {

class StreamingClip : public ClipReader {
public:
    // Reads from `frames`, whose header has been read, in `format`.
    StreamingClip(std::unique_ptr<ClipFrames> frames, const ClipFormat& format);
    ~StreamingClip() override;
    StreamingClip(const StreamingClip&) = delete;
    StreamingClip& operator=(const StreamingClip&) = delete;

    bool seekable() const override { return false; }
    long length() const override { return -1; }
    std::unique_ptr<FrameInput> open(long first, std::string& error) override;
    ReadStatus next(std::vector<PIXEL_YC>& frame, bool keep, std::string& error) override;
    void forget(long first, long end) override;

    const Truncation& truncation() const { return cut_; }
    // The most bytes the scratch file held at once (0: none made).
    long long scratch_peak() const { return peak_slots_ * static_cast<long long>(format_.payload); }

private:
    bool read_slot(long slot, std::string& error);

    std::unique_ptr<ClipFrames> frames_;
    ClipFormat format_;
    std::FILE* scratch_ = nullptr;
    std::map<long, long> slot_of_;
    std::vector<long> free_slots_;
    long slots_ = 0, peak_slots_ = 0;
    std::vector<uint8_t> payload_;
    Truncation cut_;
};

}  // namespace pelta_cli
