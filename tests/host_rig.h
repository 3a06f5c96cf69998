// The unit tests' host: the in-memory host (native/memory_host.h) over the
// native filter, with a recognisable picture in every frame and rows wider
// than the picture, and the pixel helpers the tests share.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "abi/controls.h"
#include "native/memory_host.h"

using Frame = std::vector<PIXEL_YC>;

// The value every sample beyond w holds in the host's frames.
constexpr int16_t MARKER = kMarkerSample;

inline PIXEL_YC px(int y, int cb, int cr) {
    return PIXEL_YC{static_cast<int16_t>(y), static_cast<int16_t>(cb), static_cast<int16_t>(cr)};
}

// n pixels of random samples: within the nominal ranges when `nominal`
// (luma 0..4096, chroma -2048..2048), else over the whole 16-bit range.
Frame random_pixels(std::mt19937& rng, size_t n, bool nominal);

// The host of the filter built here (GetFilterTable, which also empties the
// match cache). Frame f holds luma 100 * f + y and chroma from the column
// and row, columns beyond w hold MARKER; rows are w + 7 apart unless max_w
// says otherwise. On destruction it checks that the filter never called a
// service with a foreign fp or editp, nor asked for a frame's size.
struct TestHost : MemoryHost {
    TestHost(int w, int h, int frame_n, int max_w = 0);
    ~TestHost();
    // Every input frame's picture (columns below w) random, as random_pixels.
    void fill_random(uint32_t seed, bool nominal = true);
};

// The host records a single stage reads, without a host around them: the
// settings arrays wired into a FILTER, and a FILTER_PROC_INFO of w x h pixels
// with rows max_w apart.
struct StageRecords {
    int track[pelta::TRACK_COUNT] = {};
    int check[pelta::CHECK_COUNT] = {};
    FILTER fp{};
    FILTER_PROC_INFO fpip{};

    StageRecords(int w, int h, int max_w) {
        fp.track = track;
        fp.check = check;
        fpip.w = w;
        fpip.h = h;
        fpip.max_w = max_w;
        fpip.max_h = h;
    }
    StageRecords(const StageRecords&) = delete;
    StageRecords& operator=(const StageRecords&) = delete;
};

// Whole-buffer comparisons of anything with data() and size(), or of n
// pixels from a frame's start.
template <typename A, typename B>
    requires requires(const A& a, const B& b) { a.data(), a.size(), b.data(), b.size(); }
bool same_pixels(const A& a, const B& b) {
    return a.size() == b.size() && (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size() * sizeof(PIXEL_YC)) == 0);
}
template <typename A>
bool same_pixels(const A& a, const PIXEL_YC* b) {
    return a.size() == 0 || std::memcmp(a.data(), b, a.size() * sizeof(PIXEL_YC)) == 0;
}
