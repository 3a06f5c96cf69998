// Which frames of a clip the analysis looks at: stretches of a second spread
// evenly over the frames it is asked about, so that its time grows with the
// frames it samples and not with the clip's length. A file is sampled by
// seeking; a pipe, whose length shows only at its end, as it is read.
#pragma once

#include <vector>

#include "analyze/clip_reader.h"

namespace pelta_cli::analysis {

// About this many frames, in stretches of kStretchFrames; a range of up to
// kWholeUpTo frames is looked at whole.
constexpr long kSampleFrames = 300;
constexpr long kStretchFrames = 30;
constexpr long kWholeUpTo = 450;
// Frames a later pass reads either side of a stretch (the filter's
// neighbours): see read_stretches().
constexpr long kAround = 2;

// The stretches over frames [first, end), in order, each starting on an even
// frame so that it holds whole frame pairs.
std::vector<Stretch> spread_stretches(long first, long end);

// The stretches of a pipe, chosen as it is read: one every kStretchFrames
// frames from `first` at the start, then, whenever twice the wanted number
// are kept, every other one of them dropped, so that those kept stay spread
// evenly over what was read.
class StreamSampler {
public:
    StreamSampler(long first, long end);  // end -1: to the pipe's end
    // Whether frame f is needed later: in a kept stretch, or within kAround
    // of one. Only a frame needed now can be needed later.
    bool keep(long f) const;
    // Whether frame f belongs to a kept stretch itself.
    bool in_stretch(long f) const;
    // After frame f was read: the stretches dropped by thinning, if any.
    std::vector<Stretch> read(long f);
    // The kept stretches over the frames read, ending with the last frame
    // read (`last`).
    std::vector<Stretch> stretches(long last) const;
    bool done(long f) const { return end_ >= 0 && f >= end_; }

private:
    long index(long f) const { return (f - first_) / kStretchFrames; }
    bool kept(long k) const { return k >= 0 && k % every_ == 0; }
    long first_, end_;
    long every_ = 1;
    long wanted_;
};

}  // namespace pelta_cli::analysis
