// A minimal in-memory host for timing the frame procedure: a clip of
// telecined input frames (3:2 pulldown of a moving picture), the three host
// services the filter calls, the FILTER record built from the descriptor and
// one FILTER_PROC_INFO per call, with two frame buffers the host owns.
#pragma once

#include <vector>

#include "abi/controls.h"
#include "abi/host_records.h"

using namespace pelta;

struct BenchHost {
    int w = 0, h = 0, max_w = 0, frame_n = 0;
    std::vector<std::vector<PIXEL_YC>> clip;   // frame_n frames of max_w * h
    std::vector<PIXEL_YC> buffer_a, buffer_b;  // the host's two working frames

    int track[TRACK_COUNT] = {};
    int check[CHECK_COUNT] = {};
    EXFUNC exfunc{};
    FILTER filter{};
    FILTER_PROC_INFO fpip{};
    bool saving = false;

    BenchHost(int w, int h, int frame_n);
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    // The descriptor's defaults, then the cache emptied as a settings change
    // would.
    void defaults();
    // Every optional stage on: a fractional shift, the low-pass on every
    // frame (stripe 0 makes the comb threshold 0), C/Y.
    void all_stages();
    // Tells the filter that settings changed (empties its match cache).
    void settings_changed();

    // What the host does before it calls the frame procedure: copies input
    // frame f into the edit buffer and fills in the FILTER_PROC_INFO.
    void prepare(int f);
    // The frame procedure on the prepared frame.
    BOOL run();
};

// One host per size and clip length, built on first use and kept for the
// rest of the run (building a clip takes longer than timing it).
BenchHost& shared_bench_host(int w, int h, int frame_n);

// A frame of nominal-range samples with detail in every component, for the
// single-stage benchmarks.
std::vector<PIXEL_YC> bench_frame(int w, int h, unsigned seed);
