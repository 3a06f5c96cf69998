// An in-memory stand-in for the host editor, for driving the filter in tests:
// a clip of input frames with a row stride wider than the picture (the
// columns beyond w hold a marker), frame fetches that can be made to fail,
// a refusable cache request, an is_saving switch and call counting.
#pragma once

#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "abi/controls.h"
#include "plugin/descriptor.h"
#include "abi/host_records.h"

using namespace pelta;

// The value every sample beyond w holds in frames the fake host hands out.
constexpr int16_t MARKER = 0x5A5A;

using Frame = std::vector<PIXEL_YC>;

struct FakeHost {
    int w, h, max_w, frame_n;
    std::vector<Frame> clip;  // input frames, max_w * h pixels each

    // Host behaviour switches.
    std::set<int> missing;         // frame numbers the cache answers NULL for
    bool refuse_cache = false;     // set_ycp_filtering_cache_size answers 0
    bool saving = false;           // is_saving answers 1
    bool replicate_edges = false;  // out-of-clip requests get the nearest frame instead of NULL
    int fail_fetch_at = -1;        // the fetch with this ordinal in `fetches` answers NULL

    // Call records.
    int cache_size_calls = 0;
    int is_saving_calls = 0;
    std::vector<int> fetches;  // frame numbers asked for, in order
    struct CacheRequest {
        int w, h, d, flag;
    } last_cache_request{};

    // Settings and the host's records.
    int track[TRACK_COUNT];
    int check[CHECK_COUNT];
    EXFUNC exfunc{};
    FILTER filter{};
    FILTER_PROC_INFO fpip{};
    int hwnd_token = 0;  // its address is the settings window handle

    // The two working frames of the current call.
    Frame edit, temp;

    FakeHost(int w, int h, int frame_n, int max_w = 0);
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;
    ~FakeHost();

    // Sets every track bar and check box to the descriptor's default.
    void defaults();

    // Fills every input frame with random samples (within the nominal ranges
    // when `nominal`, else over the whole 16-bit range).
    void fill_random(uint32_t seed, bool nominal = true);

    // Sets up fpip for frame f: ycp_edit gets a copy of input frame f (or a
    // pattern if f is outside the clip), ycp_temp gets `scratch` in every
    // sample (beyond w too).
    void prepare(int f, int16_t scratch = 0x1234);

    // prepare(f) and then the filter's frame procedure.
    BOOL run(int f);

    // The frame the host takes as output after run(): whatever ycp_edit names.
    const PIXEL_YC* output() const { return fpip.ycp_edit; }

    PIXEL_YC& at(int frame, int x, int y) { return clip[frame][static_cast<size_t>(y) * max_w + x]; }
    HWND hwnd() { return &hwnd_token; }
};

// Whole-buffer comparison helpers.
bool same_pixels(const PIXEL_YC* a, const PIXEL_YC* b, size_t n);
inline bool same_pixels(const Frame& a, const PIXEL_YC* b) { return same_pixels(a.data(), b, a.size()); }
inline bool same_pixels(const Frame& a, const Frame& b) {
    return a.size() == b.size() && same_pixels(a.data(), b.data(), a.size());
}

inline PIXEL_YC px(int y, int cb, int cr) {
    return PIXEL_YC{static_cast<int16_t>(y), static_cast<int16_t>(cb), static_cast<int16_t>(cr)};
}
