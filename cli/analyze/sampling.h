// Which frames of a clip the analysis looks at: stretches of a second spread
// evenly over the frames it is asked about, so that its time grows with the
// frames it samples and not with the clip's length. A file is sampled by
// seeking; a pipe, whose length shows only at its end, as it is read.
#pragma once

#include <vector>

#include "analyze/clip_reader.h"

namespace pelta_cli::analysis {

// About this many frames, in stretches of kStretchFrames, where a range is
// too long to look at whole.
constexpr long kSampleFrames = 300;
constexpr long kStretchFrames = 30;
// A range of up to this many frames of w x h pixels is looked at whole,
// every frame: two minutes of 720x480 (3600 frames), 900 of 1920x1080 (the
// survey's time grows with the pixels it reads, what it keeps with the
// columns), and never more than 7200 frames.
long whole_up_to(int w, int h);
// Frames a later pass reads either side of a stretch (the filter's
// neighbours): see read_frames().
constexpr long kAround = 2;

// The stretches over frames [first, end) that the survey reads: the whole
// range where it holds no more than `whole` frames, else those a pipe of
// that length keeps (StreamSampler), so that a file and a pipe of the same
// frames are read alike.
std::vector<Stretch> sampled_stretches(long first, long end, long whole);

// The stretches of a pipe, chosen as it is read: one every kStretchFrames
// frames from `first` at the start, then, whenever twice the wanted number
// are kept, every other one of them dropped, so that those kept stay spread
// evenly over what was read.
class StreamSampler {
public:
    StreamSampler(long first, long end, long whole);  // end -1: to the pipe's end
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
    // Frames from one kept stretch's start to the next's.
    long spacing() const { return every_ * kStretchFrames; }

private:
    long index(long f) const { return (f - first_) / kStretchFrames; }
    bool kept(long k) const { return k >= 0 && k % every_ == 0; }
    long first_, end_, whole_;
    long every_ = 1;
    long wanted_;
};

}  // namespace pelta_cli::analysis
