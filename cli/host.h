// The command-line stand-in for the editor: loads the filter through its
// descriptor, serves its host services from a small ring of decoded frames,
// and runs it over a clip one frame at a time, in order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/controls.h"
#include "host/host_records.h"
#include "y4m.h"

namespace pelta_cli {

struct Controls {
    int track[TRACK_COUNT];
    int check[CHECK_COUNT];
};

// The descriptor's defaults.
Controls default_controls(const FILTER_DLL* desc);

// Where the host's input frames come from: the next frame of the clip, decoded
// into w x h pixels whose rows are `stride` pixels apart.
class FrameInput {
public:
    virtual ~FrameInput() = default;
    virtual ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) = 0;
};

// Where the output frames go, in order.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    virtual bool put(const PIXEL_YC* frame, int stride, std::string& error) = 0;
};

// What happened to one frame.
struct FrameReport {
    long frame = 0;
    bool ok = false;        // filter_proc answered TRUE
    bool titled = false;    // the filter set its window title during the frame
    bool parsed = false;    // ... and the title read as "<name> num:N comb:N comb_th:N"
    int match = 0, comb = 0, comb_th = 0;
    std::string title;
};

struct RunStats {
    long frames = 0;
    long failed = 0;
    // Frame requests inside the clip but outside the five cached frames; the
    // filter is answered NULL for them (it never asks for such frames).
    long uncached_requests = 0;
};

class EditorHost {
public:
    // Loads the filter from its descriptor (what GetFilterTable returned) for
    // w x h frames with rows max_w pixels apart (max_w >= w). `saving` is the
    // is_saving answer.
    EditorHost(const FILTER_DLL* desc, int w, int h, int max_w, const Controls& controls, bool saving);
    ~EditorHost();
    EditorHost(const EditorHost&) = delete;
    EditorHost& operator=(const EditorHost&) = delete;

    // Runs the filter over every frame of `in`, writing each result to `out`
    // and then reporting it. Stops at the first read or write error.
    bool run(FrameInput& in, FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame,
             std::string& error);

    const RunStats& stats() const { return stats_; }

    // Number of frames the ring holds: the current frame and two on each side.
    static constexpr int kRing = 5;

private:
    PELTA_HOST_SERVICE static BOOL svc_is_saving(void* editp);
    PELTA_HOST_SERVICE static BOOL svc_set_cache_size(void* fp, int w, int h, int d, int flag);
    PELTA_HOST_SERVICE static PIXEL_YC* svc_get_frame(void* fp, void* editp, int n, int* w_out, int* h_out);

    PIXEL_YC* ring_frame(long n) { return ring_[static_cast<size_t>(n % kRing)].data(); }
    // Reads frames until `upto` is loaded or the clip ends.
    bool load_through(FrameInput& in, long upto, std::string& error);
    PIXEL_YC padding_pixel() const;
    void fill_padding(std::vector<PIXEL_YC>& frame) const;
    void fill_all(std::vector<PIXEL_YC>& frame) const;

    int w_, h_, max_w_;
    Controls controls_;
    bool saving_;
    EXFUNC exfunc_{};
    FILTER filter_{};
    int hwnd_token_ = 0;

    std::vector<PIXEL_YC> ring_[kRing];
    std::vector<PIXEL_YC> edit_, temp_;
    long loaded_ = 0;    // frames read so far
    bool ended_ = false; // the input has no more frames
    long current_ = 0;   // frame being processed
    RunStats stats_;
};

}  // namespace pelta_cli
