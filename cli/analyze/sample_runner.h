// A small in-memory host for the analysis: the last frames of the sample in a
// ring, and the filter run on any of them under any settings; and the loop
// that reads stretches of the clip through it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "analyze/clip_reader.h"
#include "host/host.h"

namespace pelta_cli::analysis {

// Controls for a run: `base` with these changed (and the range display off,
// which would show the window instead of filtering).
Controls controls_for(const Controls& base, int tff, int left, int width, int shift, int lpf);

// What the filter decided on a frame, read from its settings window's title
// as the editor shows it: the match it wove, its comb count and threshold
// (the low-pass runs, when on, where comb reaches comb_th).
struct Decision {
    bool known = false;
    int match = 0, comb = 0, comb_th = 0;
};

// Settings that differ from the last call's are announced to the filter
// first, as the editor does when a control moves, which also empties its
// match cache. Frames are allocated as they arrive.
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
    // the clip's end seen) under `c`; answers the output frame, and the
    // filter's decision where asked.
    const PIXEL_YC* run(const Controls& c, long f, Decision* decision = nullptr);

private:
    PIXEL_YC* slot(long f) { return ring_[static_cast<size_t>(f % kRing)].data(); }

    // The editor is not saving a file, so the filter writes its decision
    // into the settings window's title, where run() reads it.
    PELTA_HOST_SERVICE static BOOL svc_is_saving(void*) { return FALSE; }
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

// Reads the frames around each of `frames` (clip frame numbers, ascending)
// through a SampleRunner and calls per_frame(runner, f) for each, with
// frames f-3 .. f+2 in the runner's ring (those the clip has). Frames close
// together are read in one pass; the clip is opened again where the next
// lies further on.
bool read_frames(const AnalysisRequest& rq, const std::vector<long>& frames,
                 const std::function<void(SampleRunner&, long)>& per_frame, std::string& error);

}  // namespace pelta_cli::analysis
