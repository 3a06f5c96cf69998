// How the analysis reads a clip: the contract between the analysis and
// whoever holds the clip (a file read by seeking, or a pipe read once), and
// the request that starts an analysis.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "host/host.h"

namespace pelta_cli {

// A run of consecutive frames of the clip: frames start .. start+frames-1.
// The one name the analysis gives a range of frames.
struct Stretch {
    long start = 0, frames = 0;
    long end() const { return start + frames; }
};

// Where the analysis reads the clip. A file is read where the analysis
// wants, by seeking: every pass opens a reader at the first frame it needs.
// A pipe is read once, front to back, through next(): the analysis keeps the
// frames its later passes will read again (keep), which the reader holds in
// a scratch file, and forgets those it no longer needs; open() then reads
// kept frames only, and ends at the first frame not kept.
class ClipReader {
public:
    virtual ~ClipReader() = default;
    // Whether open() may start anywhere: a file.
    virtual bool seekable() const = 0;
    // The clip's frames, where known before reading it (a file), else -1.
    virtual long length() const = 0;
    // A reader of the clip from frame `first` on; null with `error` set on
    // failure.
    virtual std::unique_ptr<FrameInput> open(long first, std::string& error) = 0;
    // A pipe: its next frame into `frame` (w x h pixels, rows w apart; the
    // buffer grows when a frame has arrived, not before), kept for later
    // passes when `keep`.
    virtual ReadStatus next(std::vector<PIXEL_YC>& frame, bool keep, std::string& error) = 0;
    // A pipe: kept frames [first, end) are no longer needed.
    virtual void forget(long first, long end) = 0;
};

struct AnalysisRequest {
    const FILTER_DLL* desc = nullptr;
    int w = 0, h = 0;
    long start = 0;    // first clip frame to look at
    long frames = -1;  // frames from `start` to spread the sample over; -1: to the clip's end
    ClipReader* clip = nullptr;
    // Called with a short stage name and 0..1 while the analysis runs.
    std::function<void(const char* stage, double done)> progress;
    // Opens a reader at clip frame `first` (clip->open).
    std::unique_ptr<FrameInput> open(long first, std::string& error) const { return clip->open(first, error); }
};

// The fewest frames the analysis can judge.
constexpr long kMinAnalysisFrames = 10;

}  // namespace pelta_cli
