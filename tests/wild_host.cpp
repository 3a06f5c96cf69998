#include "wild_host.h"

#include <climits>
#include <cstring>
#include <vector>

#include "abi/controls.h"
#include "plugin/descriptor.h"
#include "native/host_side.h"
#include "native/platform_native.h"
#include "pipeline/filter_proc.h"
#include "window/carrier.h"

using namespace pelta;

namespace {

constexpr int kGuard = 64;
constexpr int16_t kGuardValue = -0x3C3D;

struct GuardedFrame {
    std::vector<PIXEL_YC> storage;
    size_t pixels = 0;
    void make(size_t n) {
        pixels = n;
        storage.assign(n + 2 * kGuard, PIXEL_YC{kGuardValue, kGuardValue, kGuardValue});
    }
    PIXEL_YC* data() { return storage.data() + kGuard; }
    bool guards_intact() const {
        for (size_t i = 0; i < storage.size(); ++i) {
            if (i >= kGuard && i < kGuard + pixels) continue;
            const PIXEL_YC& p = storage[i];
            if (p.y != kGuardValue || p.cb != kGuardValue || p.cr != kGuardValue) return false;
        }
        return true;
    }
};

struct WildHost {
    int frame_n = 0;
    std::vector<GuardedFrame> clip;
    std::vector<bool> missing;
    bool refuse = false, saving = false;
    const std::function<uint32_t()>* next = nullptr;
};
WildHost* wild = nullptr;

BOOL wild_saving(void*) { return wild->saving; }
BOOL wild_cache(void*, int, int, int, int) { return !wild->refuse; }
PIXEL_YC* wild_get(void*, void*, int n, int*, int*) {
    if (n < 0 || n >= wild->frame_n || wild->missing[n]) return nullptr;
    // Now and then the host loses a frame it had a moment ago.
    if (((*wild->next)() & 31) == 0) return nullptr;
    return wild->clip[n].data();
}

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

}  // namespace

std::string run_wild_scenario(const std::function<uint32_t()>& next) {
    const FILTER_DLL* desc = GetFilterTable();
    WildHost host;
    host.next = &next;
    wild = &host;
    EXFUNC ex{};
    ex.is_saving = wild_saving;
    ex.set_ycp_filtering_cache_size = wild_cache;
    ex.get_ycp_filtering_cache_ex = wild_get;
    int track[TRACK_COUNT], check[CHECK_COUNT], window = 0;
    FILTER filter = filter_record_for(desc, track, check, &ex, &window);

    const int w = pick(next, 0, 64);
    const int h = pick(next, 0, 64);
    const int max_w = w + pick(next, 0, 9);
    host.frame_n = pick(next, 0, 8);
    const size_t pixels = static_cast<size_t>(max_w) * h;
    host.clip.assign(host.frame_n, GuardedFrame{});
    host.missing.assign(host.frame_n, false);
    for (int f = 0; f < host.frame_n; ++f) {
        host.clip[f].make(pixels);
        for (size_t i = 0; i < pixels; ++i) {
            const uint32_t v = next();
            host.clip[f].data()[i] = PIXEL_YC{static_cast<int16_t>(v), static_cast<int16_t>(v >> 16),
                                              static_cast<int16_t>(v >> 8)};
        }
        host.missing[f] = next() % 10 == 0;
    }

    std::string problem;
    GuardedFrame edit, temp;
    const int frames_to_run = pick(next, 1, 4);
    for (int run = 0; run < frames_to_run && problem.empty(); ++run) {
        for (int i = 0; i < TRACK_COUNT; ++i) track[i] = wild_value(next, desc->track_s[i], desc->track_e[i]);
        for (int i = 0; i < CHECK_COUNT; ++i) check[i] = wild_value(next, 0, 1);
        host.refuse = next() % 20 == 0;
        host.saving = next() % 3 == 0;
        if (next() % 8 == 0) native_heap_fail_after(pick(next, 0, 1));
        if (next() % 4 == 0) filter_update(&filter, 0);

        edit.make(pixels);
        temp.make(pixels);
        for (size_t i = 0; i < pixels; ++i) {
            edit.data()[i] = PIXEL_YC{static_cast<int16_t>(next()), 5, -5};
            temp.data()[i] = PIXEL_YC{static_cast<int16_t>(next()), 9, -9};
        }
        const std::vector<PIXEL_YC> input(edit.data(), edit.data() + pixels);
        FILTER_PROC_INFO fpip = proc_info_for(edit.data(), temp.data(), w, h, max_w,
                                              pick(next, -1, host.frame_n + 1), host.frame_n, &host);

        const BOOL ok = filter_proc(&filter, &fpip);
        if (ok != TRUE && ok != FALSE) problem = "filter_proc answered neither TRUE nor FALSE";
        if (!edit.guards_intact() || !temp.guards_intact()) problem = "a write outside the working frames";
        if (host.refuse && ok) problem = "a refused cache request did not fail the frame";
        if (!ok && fpip.ycp_edit != edit.data()) problem = "a failed frame exchanged the frame pointers";
        if (!ok && pixels && std::memcmp(input.data(), edit.data(), pixels * sizeof(PIXEL_YC)) != 0)
            problem = "a failed frame changed its input";
        if (ok && fpip.ycp_edit != edit.data() && fpip.ycp_edit != temp.data())
            problem = "the output names neither working frame";
        native_heap_fail_after(-1);
    }
    for (const GuardedFrame& f : host.clip)
        if (!f.guards_intact()) problem = "a write to an input frame";
    for (int f = 0; f < host.frame_n; ++f)
        if (host.clip[f].pixels != pixels) problem = "input frame resized";
    filter_exit(&filter);
    wild = nullptr;
    return problem;
}
