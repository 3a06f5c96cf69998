#include "wild_host.h"

#include <climits>
#include <cstring>
#include <vector>

#include "native/memory_host.h"
#include "plugin/descriptor.h"

namespace {

int pick(const std::function<uint32_t()>& next, int lo, int hi) {
    return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1));
}

// Values from the track bar's range, its edges, the int range's edges, or anything.
int wild_value(const std::function<uint32_t()>& next, int lo, int hi) {
    static const int extremes[] = {INT_MIN, INT_MIN + 1, -65536, -2049, -257, -16, -15, -1, 0, 1,
                                   15, 16, 17, 255, 256, 257, 2047, 2048, 2049, 65536, INT_MAX - 1,
                                   INT_MAX};
    switch (next() % 4) {
        case 0: return extremes[next() % (sizeof extremes / sizeof extremes[0])];
        case 1: return static_cast<int>(next());
        default: return pick(next, lo, hi);
    }
}

bool same(const std::vector<PIXEL_YC>& a, const PIXEL_YC* b) {
    return a.empty() || std::memcmp(a.data(), b, a.size() * sizeof(PIXEL_YC)) == 0;
}

}  // namespace

std::string run_wild_scenario(const std::function<uint32_t()>& next) {
    const FILTER_DLL* desc = GetFilterTable();
    const int w = pick(next, 0, 64);
    const int h = pick(next, 0, 64);
    const int max_w = w + pick(next, 0, 9);
    const int frame_n = pick(next, 0, 8);
    MemoryHost host(desc, w, h, frame_n, max_w);
    const size_t pixels = host.frame_pixels();
    std::vector<std::vector<PIXEL_YC>> input(static_cast<size_t>(frame_n));
    for (int f = 0; f < frame_n; ++f) {
        for (size_t i = 0; i < pixels; ++i) {
            const uint32_t v = next();
            host.clip[f][i] = PIXEL_YC{static_cast<int16_t>(v), static_cast<int16_t>(v >> 16),
                                       static_cast<int16_t>(v >> 8)};
        }
        input[f] = host.clip[f].pixels();
        if (next() % 10 == 0) host.missing.insert(f);
    }
    // Now and then the host loses a frame it had a moment ago.
    host.drop_fetch = [&](int n) { return n >= 0 && n < frame_n && (next() & 31) == 0; };

    std::string problem;
    std::vector<PIXEL_YC> edit(pixels), temp(pixels);
    const int frames_to_run = pick(next, 1, 4);
    for (int run = 0; run < frames_to_run && problem.empty(); ++run) {
        for (int i = 0; i < desc->track_n; ++i) host.track[i] = wild_value(next, desc->track_s[i], desc->track_e[i]);
        for (int i = 0; i < desc->check_n; ++i) host.check[i] = wild_value(next, 0, 1);
        host.refuse_cache = next() % 20 == 0;
        host.saving = next() % 3 == 0;
        if (next() % 8 == 0) MemoryHost::fail_allocation_after(pick(next, 0, 1));
        if (next() % 4 == 0) host.update();

        for (size_t i = 0; i < pixels; ++i) {
            edit[i] = PIXEL_YC{static_cast<int16_t>(next()), 5, -5};
            temp[i] = PIXEL_YC{static_cast<int16_t>(next()), 9, -9};
        }
        host.prepare(pick(next, -1, frame_n + 1));
        std::copy(edit.begin(), edit.end(), host.edit.begin());
        std::copy(temp.begin(), temp.end(), host.temp.begin());

        const BOOL ok = host.proc();
        if (ok != TRUE && ok != FALSE) problem = "filter_proc answered neither TRUE nor FALSE";
        if (!host.edit.guards_hold() || !host.temp.guards_hold()) problem = "a write outside the working frames";
        if (host.refuse_cache && ok) problem = "a refused cache request did not fail the frame";
        if (!host.own_frames()) problem = "the frame pointers name frames not the host's";
        if (!ok && host.swapped()) problem = "a failed frame exchanged the frame pointers";
        if (!ok && !same(edit, host.edit.data())) problem = "a failed frame changed its input";
        if (host.log.foreign_args) problem = "a service was called with an fp or editp not the host's";
        MemoryHost::fail_allocation_after(-1);
    }
    for (int f = 0; f < frame_n; ++f)
        if (!host.clip[f].guards_hold() || !same(input[f], host.clip[f].data())) problem = "a write to an input frame";
    host.exit();
    return problem;
}
