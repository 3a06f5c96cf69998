// What a host might send that the track bars never would, and host faults:
// the filter must stay inside the frames, return, and leave the frames as its
// failure rules promise. Run in the sanitizer build too, where any undefined
// behaviour or stray access aborts the test.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "fake_host.h"
#include "match/match_cache.h"
#include "pipeline/filter_proc.h"
#include "window/carrier.h"

namespace {

TEST(HostFaults, NullFrameAtEveryPositionTheProcedureAsks) {
    for (int f : {0, 2, 3, 5}) {
        FakeHost host(12, 9, 6);
        host.fill_random(static_cast<uint32_t>(f));
        host.track[TRACK_STRIPE] = 0;  // three candidates scored
        clear_match_cache();
        ASSERT_TRUE(host.run(f));
        const std::vector<int> asked = host.fetches;
        ASSERT_GE(asked.size(), 3u);
        for (size_t k = 0; k < asked.size(); ++k) {
            clear_match_cache();
            host.fail_fetch_at = static_cast<int>(k);
            host.prepare(f);
            host.fetches.clear();
            const Frame input = host.edit;
            const long titles = native_window_text_calls();
            const BOOL ok = host.filter.func_proc(&host.filter, &host.fpip);
            const bool weave_or_partner = k + 3 >= asked.size();
            if (weave_or_partner) {
                EXPECT_FALSE(ok) << "frame " << f << " fetch " << k;
            }
            if (!ok) {
                EXPECT_TRUE(same_pixels(input, host.edit)) << "frame " << f << " fetch " << k;
                EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
                EXPECT_EQ(native_window_text_calls(), titles);
            } else {
                EXPECT_FALSE(weave_or_partner);
                EXPECT_EQ(native_window_text_calls(), titles + 1);
            }
        }
        host.fail_fetch_at = -1;
    }
}

// Frames with guard zones on both sides, to catch stray writes in any build.
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
    int w = 0, h = 0, max_w = 0, frame_n = 0;
    std::vector<GuardedFrame> clip;
    GuardedFrame edit, temp;
    std::vector<bool> missing;
    bool refuse = false, saving = false;
    int track[TRACK_COUNT] = {};
    int check[CHECK_COUNT] = {};
    EXFUNC ex{};
    FILTER filter{};
    FILTER_PROC_INFO fpip{};
    int window = 0;
};
WildHost* wild = nullptr;

BOOL wild_saving(void*) { return wild->saving; }
BOOL wild_cache(void*, int, int, int, int) { return !wild->refuse; }
PIXEL_YC* wild_get(void*, void*, int n, int*, int*) {
    if (n < 0 || n >= wild->frame_n || wild->missing[n]) return nullptr;
    return wild->clip[n].data();
}

int wild_value(std::mt19937& rng, int lo, int hi) {
    static const int extremes[] = {INT_MIN, INT_MIN + 1, -65536, -2049, -257, -16, -15, -1, 0, 1,
                                   15, 16, 17, 255, 256, 257, 2047, 2048, 2049, 65536, INT_MAX - 1,
                                   INT_MAX};
    switch (rng() % 4) {
        case 0: return extremes[rng() % (sizeof extremes / sizeof extremes[0])];
        case 1: return static_cast<int>(rng());
        default: return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
    }
}

TEST(WildSettings, AnyTrackAndCheckValuesStayInsideTheFrames) {
    std::mt19937 rng(20261208);
    const FILTER_DLL* desc = GetFilterTable();
    WildHost host;
    wild = &host;
    host.ex.is_saving = wild_saving;
    host.ex.set_ycp_filtering_cache_size = wild_cache;
    host.ex.get_ycp_filtering_cache_ex = wild_get;
    host.filter = *desc;
    host.filter.track = host.track;
    host.filter.check = host.check;
    host.filter.exfunc = &host.ex;
    host.filter.hwnd = &host.window;

    for (int iter = 0; iter < 1500; ++iter) {
        host.w = static_cast<int>(rng() % 41);
        host.h = static_cast<int>(rng() % 41);
        host.max_w = host.w + static_cast<int>(rng() % 9);
        host.frame_n = static_cast<int>(rng() % 8);
        const size_t pixels = static_cast<size_t>(host.max_w) * host.h;
        host.clip.assign(host.frame_n, GuardedFrame{});
        host.missing.assign(host.frame_n, false);
        for (int f = 0; f < host.frame_n; ++f) {
            host.clip[f].make(pixels);
            for (size_t i = 0; i < pixels; ++i)
                host.clip[f].data()[i] = px(static_cast<int16_t>(rng()), static_cast<int16_t>(rng()),
                                            static_cast<int16_t>(rng()));
            host.missing[f] = rng() % 10 == 0;
        }
        for (int i = 0; i < TRACK_COUNT; ++i) host.track[i] = wild_value(rng, desc->track_s[i], desc->track_e[i]);
        for (int i = 0; i < CHECK_COUNT; ++i) host.check[i] = wild_value(rng, 0, 1);
        host.refuse = rng() % 20 == 0;
        host.saving = rng() % 3 == 0;
        if (rng() % 8 == 0) native_heap_fail_after(static_cast<int>(rng() % 2));
        if (rng() % 5 == 0) filter_update(&host.filter, 0);

        const int frames_to_run = 1 + static_cast<int>(rng() % 3);
        for (int run = 0; run < frames_to_run; ++run) {
            host.edit.make(pixels);
            host.temp.make(pixels);
            for (size_t i = 0; i < pixels; ++i) host.edit.data()[i] = px(static_cast<int16_t>(rng()), 5, -5);
            const std::vector<PIXEL_YC> input(host.edit.data(), host.edit.data() + pixels);
            host.fpip = FILTER_PROC_INFO{};
            host.fpip.ycp_edit = host.edit.data();
            host.fpip.ycp_temp = host.temp.data();
            host.fpip.w = host.w;
            host.fpip.h = host.h;
            host.fpip.max_w = host.max_w;
            host.fpip.frame = static_cast<int>(rng() % (host.frame_n + 3)) - 1;
            host.fpip.frame_n = host.frame_n;
            host.fpip.editp = &host;

            const BOOL ok = filter_proc(&host.filter, &host.fpip);
            ASSERT_TRUE(host.edit.guards_intact()) << "iteration " << iter;
            ASSERT_TRUE(host.temp.guards_intact()) << "iteration " << iter;
            if (host.refuse) {
                EXPECT_FALSE(ok);
            }
            if (!ok) {
                EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
                EXPECT_TRUE(pixels == 0 ||
                            std::memcmp(input.data(), host.edit.data(), pixels * sizeof(PIXEL_YC)) == 0)
                    << "a failed frame leaves its input untouched, iteration " << iter;
            }
        }
        for (const GuardedFrame& f : host.clip) ASSERT_TRUE(f.guards_intact()) << "input frames are only read";
        native_heap_fail_after(-1);
    }
    release_carrier_tables();
    wild = nullptr;
}

}  // namespace
