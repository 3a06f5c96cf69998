// An in-memory host of the filter, for the tests, the benchmarks and the DLL
// check: a clip of frames in the editor's sample format (PIXEL_YC rows max_w
// apart), the editor's services the filter calls, the live FILTER record
// built from a descriptor, settings changed and announced as the editor
// does, one FILTER_PROC_INFO per frame, and hooks to make the host misbehave
// (frames it cannot give, a refused cache request, failing allocations,
// geometry no editor would send).
//
// The filter is reached only through its descriptor and the calls given, so
// the same host drives the native library (GetFilterTable) and the loaded
// pelta.auf (the DLL harness passes its own trampolines).
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <vector>

#include "abi/host_records.h"

// Pixels with guard zones on both sides that hold a known value, so that a
// write outside the frame shows in any build. Under AddressSanitizer the
// guards are poisoned as well, so a read of them is reported where it
// happens. data() is valid (and 16-byte aligned) even for no pixels.
class GuardedFrame {
public:
    static constexpr size_t kGuard = 64;  // pixels each side: 384 bytes, a multiple of 16
    static constexpr PIXEL_YC kGuardValue = {-0x3C3D, -0x3C3D, -0x3C3D};

    GuardedFrame() : GuardedFrame(0) {}
    explicit GuardedFrame(size_t pixels, PIXEL_YC fill = PIXEL_YC{0, 0, 0}, PIXEL_YC guard = kGuardValue);
    explicit GuardedFrame(const std::vector<PIXEL_YC>& pixels, PIXEL_YC guard = kGuardValue);
    GuardedFrame(const GuardedFrame& other);
    GuardedFrame(GuardedFrame&& other) noexcept;
    GuardedFrame& operator=(const GuardedFrame& other);
    GuardedFrame& operator=(GuardedFrame&& other) noexcept;
    ~GuardedFrame();

    PIXEL_YC* data() { return buf_.data() + kGuard; }
    const PIXEL_YC* data() const { return buf_.data() + kGuard; }
    size_t size() const { return pixels_; }
    PIXEL_YC* begin() { return data(); }
    PIXEL_YC* end() { return data() + pixels_; }
    const PIXEL_YC* begin() const { return data(); }
    const PIXEL_YC* end() const { return data() + pixels_; }
    PIXEL_YC& operator[](size_t i) { return data()[i]; }
    const PIXEL_YC& operator[](size_t i) const { return data()[i]; }

    // A copy of the pixels, without the guards.
    std::vector<PIXEL_YC> pixels() const { return std::vector<PIXEL_YC>(begin(), end()); }
    void fill(PIXEL_YC p);
    // Both guard zones still hold the guard value.
    bool guards_hold() const;

private:
    void poison() const;
    void unpoison() const;

    size_t pixels_ = 0;
    PIXEL_YC guard_ = kGuardValue;
    std::vector<PIXEL_YC> buf_;
};

// How the host calls into the filter. Left null, a call goes straight
// through the FILTER record's function pointer; the DLL harness passes
// trampolines that call the loaded code.
struct FilterCalls {
    BOOL (*proc)(FILTER* fp, FILTER_PROC_INFO* fpip) = nullptr;
    BOOL (*update)(FILTER* fp, int status) = nullptr;
    BOOL (*exit)(FILTER* fp) = nullptr;
};

// What the host's services saw since the last call into the filter (or the
// last prepare()).
struct ServiceLog {
    int cache_requests = 0;   // set_ycp_filtering_cache_size calls
    int cache_args[4] = {};   // their last w, h, d, flag
    int saving_asks = 0;      // is_saving calls
    int foreign_args = 0;     // service calls with an fp or editp not this host's
    int sized_fetches = 0;    // frame requests that asked for the frame's size too
    int fetch_count = 0;      // frame requests
    std::vector<int> fetches; // the frame numbers asked for, in order (the first kLoggedFetches)

    static constexpr int kLoggedFetches = 64;

    void clear() { *this = ServiceLog{}; }
};

// The value every sample beyond w holds in a new host's clip.
constexpr int16_t kMarkerSample = 0x5A5A;
// What prepare() puts in every sample of the scratch frame by default.
constexpr PIXEL_YC kScratchPixel = {0x1234, -0x1234, 0x0F0F};

class MemoryHost {
public:
    // A clip of frame_n frames of w x h pixels, rows max_w apart (w when 0),
    // every sample kMarkerSample; settings at the descriptor's defaults. The
    // caller fetched `desc` (GetFilterTable, as the editor does on loading).
    MemoryHost(const FILTER_DLL* desc, int w, int h, int frame_n, int max_w = 0, FilterCalls calls = {});
    MemoryHost(const MemoryHost&) = delete;
    MemoryHost& operator=(const MemoryHost&) = delete;
    ~MemoryHost();

    const int w, h, max_w, frame_n;
    std::vector<GuardedFrame> clip;  // input frames, max_w * h pixels each
    GuardedFrame edit, temp;         // the two working frames of a call

    // The host's records: live settings, services, the filter's record and
    // the current frame's FILTER_PROC_INFO.
    std::vector<int> track, check;
    EXFUNC exfunc{};
    FILTER filter{};
    FILTER_PROC_INFO fpip{};

    // Fault hooks.
    std::set<int> missing;         // frames the source answers NULL for
    int fail_fetch_at = -1;        // the fetch with this ordinal (0: the call's first) answers NULL
    std::function<bool(int n)> drop_fetch;  // asked on every other fetch; true answers NULL
    bool refuse_cache = false;     // set_ycp_filtering_cache_size answers FALSE
    bool saving = false;           // is_saving answers TRUE
    bool replicate_edges = false;  // frames outside the clip give the nearest one instead of NULL
    // The allocation `skip` allocations from now fails (native stand-in).
    static void fail_allocation_after(int skip);

    ServiceLog log;
    // Service calls with a foreign fp or editp, and frame requests asking
    // for the size, over the host's whole life (log has this call's).
    int foreign_args_total = 0;
    int sized_fetches_total = 0;

    // Settings changed the way the editor changes them: stored, then
    // announced through func_update. Each returns func_update's answer.
    BOOL set_track(int index, int value);
    BOOL set_check(int index, int value);
    BOOL set_window(int left, int width);  // TRACK_LEFT and TRACK_WIDTH, one announcement
    BOOL reset_settings();                 // every control at its default
    // The editor's calls into the filter.
    BOOL update();
    BOOL exit();

    // What the editor does before the frame procedure: ycp_edit gets a copy
    // of input frame f (a flat picture when f is outside the clip), ycp_temp
    // gets `scratch` in every sample, beyond w too; fpip describes frame f.
    // What no editor would send (a frame number outside the clip, a yc_size
    // or line_size of its own) goes into fpip between prepare() and proc().
    void prepare(int f, PIXEL_YC scratch = kScratchPixel);
    // The frame procedure on the prepared frame.
    BOOL proc();
    BOOL run(int f) {
        prepare(f);
        return proc();
    }

    // After proc(): the frame the host takes as output (whatever ycp_edit
    // names), whether the working frames came back exchanged, and whether
    // fpip names this host's two working frames at all (either way round).
    const PIXEL_YC* output() const { return fpip.ycp_edit; }
    std::vector<PIXEL_YC> output_pixels() const;
    bool swapped() const;
    bool own_frames() const;
    // Every guard zone of the clip and the working frames intact.
    bool guards_hold() const;

    // The title last set on the settings window ("" when none).
    const char* title() const;

    PIXEL_YC& at(int frame, int x, int y) { return clip[frame][static_cast<size_t>(y) * max_w + x]; }
    size_t frame_pixels() const { return static_cast<size_t>(max_w) * (h > 0 ? h : 0); }
    // The settings window (filter.hwnd: a host of its own window may set it)
    // and the edit handle the services expect.
    HWND hwnd() const { return filter.hwnd; }
    void* editp() { return &editp_token_; }

private:
    void begin_call();

    FilterCalls calls_;
    int hwnd_token_ = 0;  // their addresses are the window and edit handles
    int editp_token_ = 0;
};
