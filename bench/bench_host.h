// The benchmarks' host: the in-memory host (native/memory_host.h) over the
// native filter with a clip of telecined input frames (3:2 pulldown of a
// moving picture), rows w apart.
#pragma once

#include <vector>

#include "native/memory_host.h"

// One host per size and clip length, built on first use and kept for the
// rest of the run (building a clip takes longer than timing it). Handed out
// not saving, with the descriptor's defaults, the change announced (the
// match cache emptied).
MemoryHost& shared_bench_host(int w, int h, int frame_n);

// Every optional stage on: a fractional shift, the low-pass on every frame
// (stripe 0 makes the comb threshold 0), C/Y; announced.
void all_stages(MemoryHost& host);

// A frame of nominal-range samples with detail in every component, for the
// single-stage benchmarks.
std::vector<PIXEL_YC> bench_frame(int w, int h, unsigned seed);
