#include "bench_host.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>

#include "plugin/descriptor.h"
#include "native/host_side.h"
#include "pipeline/filter_proc.h"

using namespace pelta;

namespace {

BOOL svc_is_saving(void* editp) { return static_cast<BenchHost*>(editp)->saving ? TRUE : FALSE; }

BOOL svc_set_cache_size(void*, int, int, int, int) { return TRUE; }

PIXEL_YC* svc_get_frame(void*, void* editp, int n, int*, int*) {
    BenchHost* host = static_cast<BenchHost*>(editp);
    if (n < 0 || n >= host->frame_n) return nullptr;
    return host->clip[static_cast<size_t>(n)].data();
}

// A sine table over one turn, so that building the clip stays quick.
struct SineTable {
    static constexpr int kSteps = 4096;
    double v[kSteps];
    SineTable() {
        for (int i = 0; i < kSteps; ++i) v[i] = std::sin(i * (6.283185307179586 / kSteps));
    }
    double sin(double turns) const {
        return v[static_cast<int>(std::floor(turns * kSteps)) & (kSteps - 1)];
    }
    double cos(double turns) const { return sin(turns + 0.25); }
};

// Small grain from a xorshift generator: -6 .. 6.
struct Grain {
    uint32_t state;
    int next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<int>(state % 13) - 6;
    }
};

// One progressive picture at time t: soft diagonal bands drifting right with
// fine texture, and colour that drifts the other way.
void render_progressive(std::vector<PIXEL_YC>& frame, int w, int h, int max_w, int t,
                        uint32_t seed) {
    static const SineTable table;
    Grain grain{seed * 2654435761u + 1u};
    for (int y = 0; y < h; ++y) {
        PIXEL_YC* row = frame.data() + static_cast<size_t>(y) * max_w;
        for (int x = 0; x < w; ++x) {
            const double u = 0.0072 * (x - 5 * t) + 0.0049 * y;  // in turns
            const double v = 0.0033 * (x + 3 * t) - 0.0027 * y;
            row[x].y = static_cast<int16_t>(2048 + 1400 * table.sin(u) + 300 * table.sin(7.3 * u) +
                                            grain.next());
            row[x].cb = static_cast<int16_t>(900 * table.sin(v) + grain.next());
            row[x].cr = static_cast<int16_t>(800 * table.cos(1.3 * v) + grain.next());
        }
    }
}

}  // namespace

BenchHost::BenchHost(int w_, int h_, int frame_n_) : w(w_), h(h_), max_w(w_), frame_n(frame_n_) {
    const size_t pixels = static_cast<size_t>(max_w) * h;
    // 3:2 pulldown, top field first: every four pictures A B C D make five
    // frames (At Ab) (Bt Bb) (Bt Cb) (Ct Db) (Dt Db), two of them combed.
    const int top_of[5] = {0, 1, 1, 2, 3};
    const int bottom_of[5] = {0, 1, 2, 3, 3};
    const int pictures = (frame_n + 4) / 5 * 4 + 1;
    std::vector<std::vector<PIXEL_YC>> progressive(static_cast<size_t>(pictures),
                                                   std::vector<PIXEL_YC>(pixels));
    for (int t = 0; t < pictures; ++t)
        render_progressive(progressive[static_cast<size_t>(t)], w, h, max_w, t,
                           static_cast<uint32_t>(t));
    clip.assign(static_cast<size_t>(frame_n), std::vector<PIXEL_YC>(pixels));
    for (int f = 0; f < frame_n; ++f) {
        const int base = f / 5 * 4;
        const auto& top = progressive[static_cast<size_t>(base + top_of[f % 5])];
        const auto& bottom = progressive[static_cast<size_t>(base + bottom_of[f % 5])];
        for (int y = 0; y < h; ++y) {
            const auto& src = (y & 1) ? bottom : top;
            std::memcpy(clip[static_cast<size_t>(f)].data() + static_cast<size_t>(y) * max_w,
                        src.data() + static_cast<size_t>(y) * max_w, sizeof(PIXEL_YC) * max_w);
        }
    }
    buffer_a.assign(pixels, PIXEL_YC{});
    buffer_b.assign(pixels, PIXEL_YC{});

    exfunc.is_saving = svc_is_saving;
    exfunc.set_ycp_filtering_cache_size = svc_set_cache_size;
    exfunc.get_ycp_filtering_cache_ex = svc_get_frame;
    filter = filter_record_for(GetFilterTable(), track, check, &exfunc, this);
    defaults();
}

void BenchHost::settings_changed() { filter.func_update(&filter, 0); }

void BenchHost::defaults() {
    default_settings(&filter, track, check);
    settings_changed();
}

void BenchHost::all_stages() {
    defaults();
    track[TRACK_SHIFT] = 8;
    track[TRACK_STRIPE] = 0;
    check[CHECK_CY] = 1;
    check[CHECK_LPF] = 1;
    settings_changed();
}

void BenchHost::prepare(int f) {
    std::memcpy(buffer_a.data(), clip[static_cast<size_t>(f)].data(),
                sizeof(PIXEL_YC) * buffer_a.size());
    fpip = proc_info_for(buffer_a.data(), buffer_b.data(), w, h, max_w, f, frame_n, this);
}

BOOL BenchHost::run() { return filter.func_proc(&filter, &fpip); }

std::vector<PIXEL_YC> bench_frame(int w, int h, unsigned seed) {
    std::vector<PIXEL_YC> frame(static_cast<size_t>(w) * h);
    render_progressive(frame, w, h, w, static_cast<int>(seed % 17), seed);
    // Interlace it with a later picture so the comb test has work to do.
    std::vector<PIXEL_YC> later(frame.size());
    render_progressive(later, w, h, w, static_cast<int>(seed % 17) + 3, seed + 1);
    for (int y = 1; y < h; y += 2)
        std::memcpy(frame.data() + static_cast<size_t>(y) * w,
                    later.data() + static_cast<size_t>(y) * w, sizeof(PIXEL_YC) * w);
    return frame;
}

BenchHost& shared_bench_host(int w, int h, int frame_n) {
    static std::map<std::tuple<int, int, int>, std::unique_ptr<BenchHost>> hosts;
    auto& slot = hosts[{w, h, frame_n}];
    if (!slot) slot = std::make_unique<BenchHost>(w, h, frame_n);
    slot->saving = false;
    slot->defaults();
    return *slot;
}
