// A small in-memory host for the analysis: the last frames of the sample in a
// ring, and the filter run on any of them under any settings.
#pragma once

#include <string>
#include <vector>

#include "abi/host_records.h"
#include "host/host.h"

namespace pelta_cli::analysis {

// Controls for a run: `base` with these changed.
Controls controls_for(const Controls& base, int tff, int left, int width, int shift, int lpf);

// Settings that differ from the last call's are announced to the filter
// first, as the editor does when a control moves, which also empties its
// match cache.
class SampleRunner {
public:
    SampleRunner(const FILTER_DLL* desc, int w, int h, long first);
    ~SampleRunner();
    SampleRunner(const SampleRunner&) = delete;
    SampleRunner& operator=(const SampleRunner&) = delete;

    // Reads the next frame of the clip into the ring. False at the end of the
    // clip (ended() true) or on a read error (`error` set).
    bool advance(FrameInput& in, std::string& error);
    bool ended() const { return ended_; }
    long loaded() const { return loaded_; }  // clip frames first() .. loaded()-1 have been read
    long first() const { return first_; }
    const PIXEL_YC* input(long f) { return slot(f); }
    int stride() const { return max_w_; }

    // Runs the filter on clip frame f (read, with the two after it read or
    // the clip's end seen) under `c`; answers the output frame.
    const PIXEL_YC* run(const Controls& c, long f);

private:
    PIXEL_YC* slot(long f) { return ring_[static_cast<size_t>(f % kRing)].data(); }

    PELTA_HOST_SERVICE static BOOL svc_is_saving(void*) { return TRUE; }
    PELTA_HOST_SERVICE static BOOL svc_set_cache_size(void*, int, int, int, int) { return TRUE; }
    PELTA_HOST_SERVICE static PIXEL_YC* svc_get_frame(void* fp, void* editp, int n, int* w_out, int* h_out);

    static constexpr long kRing = 6;
    int w_, h_, max_w_;
    size_t pixels_;
    long first_, loaded_;
    bool ended_ = false;
    long current_frame_ = 0;
    std::vector<PIXEL_YC> ring_[kRing];
    std::vector<PIXEL_YC> edit_, temp_;
    Controls current_{};
    EXFUNC exfunc_{};
    FILTER filter_{};
    int hwnd_token_ = 0;
};

}  // namespace pelta_cli::analysis
