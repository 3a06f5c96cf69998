#include "analyze/sampling.h"

#include <algorithm>

namespace pelta_cli::analysis {

long whole_up_to(int w, int h) {
    // The survey's time grows with the pixels it reads (three minutes of
    // 720x480), what it keeps of each frame with the picture's width (two
    // minutes of 720).
    // Nor more than 7200 frames of any size: each frame's record costs about
    // a kilobyte however small the picture, and the cutting into segments
    // takes longer than the frames grow.
    constexpr double kWholePixels = 5400.0 * 720 * 480, kWholeColumns = 3600.0 * 720, kMostFrames = 7200;
    const double by_time = kWholePixels / std::max(1.0, double(w) * double(h));
    const double by_memory = kWholeColumns / std::max(1.0, double(w));
    return std::max(450L, static_cast<long>(std::min({by_time, by_memory, kMostFrames})));
}

std::vector<Stretch> sampled_stretches(long first, long end, long whole) {
    if (end <= first) return {};
    if (end - first <= whole) return {Stretch{first, end - first}};
    // As a pipe of this length is sampled, read to its end.
    StreamSampler sampler(first, -1, whole);
    for (long f = first; f < end; ++f) sampler.read(f);
    return sampler.stretches(end - 1);
}

StreamSampler::StreamSampler(long first, long end, long whole)
    : first_(first + (first & 1)), end_(end), whole_(whole), wanted_(kSampleFrames / kStretchFrames) {
    // A short range is taken whole: its first stretch starts at `first`.
    if (end_ >= 0 && end_ - first <= whole_) first_ = first;
}

bool StreamSampler::in_stretch(long f) const {
    if (f < first_ || (end_ >= 0 && f >= end_)) return false;
    return kept(index(f));
}

bool StreamSampler::keep(long f) const {
    for (long d = -kAround; d <= kAround; ++d)
        if (in_stretch(f + d)) return true;
    return false;
}

std::vector<Stretch> StreamSampler::read(long f) {
    std::vector<Stretch> dropped;
    // A stretch just completed: count those kept, thin them when twice too
    // many.
    if (f < first_ || (f - first_ + 1) % kStretchFrames != 0) return dropped;
    const long done = index(f) + 1;
    const long kept_now = (done + every_ - 1) / every_;
    // A range known to be short is never thinned.
    if (end_ >= 0 && end_ - first_ <= whole_) return dropped;
    if (kept_now < 2 * wanted_) return dropped;
    every_ *= 2;
    for (long k = every_ / 2; k < done; k += every_)
        dropped.push_back(Stretch{first_ + k * kStretchFrames, kStretchFrames});
    return dropped;
}

std::vector<Stretch> StreamSampler::stretches(long last) const {
    std::vector<Stretch> out;
    for (long k = 0;; k += every_) {
        const long start = first_ + k * kStretchFrames;
        if (start > last || (end_ >= 0 && start >= end_)) break;
        long frames = std::min(kStretchFrames, last + 1 - start);
        if (end_ >= 0) frames = std::min(frames, end_ - start);
        // Kept stretches that touch merge into one run.
        if (!out.empty() && out.back().start + out.back().frames == start)
            out.back().frames += frames;
        else
            out.push_back(Stretch{start, frames});
    }
    return out;
}

}  // namespace pelta_cli::analysis
