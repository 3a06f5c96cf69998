#include "bench_host.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>

#include "abi/controls.h"
#include "plugin/descriptor.h"

using namespace pelta;

namespace {

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

// Fills the host's clip: 3:2 pulldown, top field first, every four pictures
// A B C D making five frames (At Ab) (Bt Bb) (Bt Cb) (Ct Db) (Dt Db), two of
// them combed.
void telecine(MemoryHost& host) {
    const int top_of[5] = {0, 1, 1, 2, 3};
    const int bottom_of[5] = {0, 1, 2, 3, 3};
    const int pictures = (host.frame_n + 4) / 5 * 4 + 1;
    std::vector<std::vector<PIXEL_YC>> progressive(static_cast<size_t>(pictures),
                                                   std::vector<PIXEL_YC>(host.frame_pixels()));
    for (int t = 0; t < pictures; ++t)
        render_progressive(progressive[static_cast<size_t>(t)], host.w, host.h, host.max_w, t,
                           static_cast<uint32_t>(t));
    for (int f = 0; f < host.frame_n; ++f) {
        const int base = f / 5 * 4;
        const auto& top = progressive[static_cast<size_t>(base + top_of[f % 5])];
        const auto& bottom = progressive[static_cast<size_t>(base + bottom_of[f % 5])];
        for (int y = 0; y < host.h; ++y) {
            const auto& src = (y & 1) ? bottom : top;
            const size_t row = static_cast<size_t>(y) * host.max_w;
            std::copy_n(src.begin() + static_cast<ptrdiff_t>(row), host.max_w, &host.clip[static_cast<size_t>(f)][row]);
        }
    }
}

}  // namespace

void all_stages(MemoryHost& host) {
    host.reset_settings();
    host.track[TRACK_SHIFT] = 8;
    host.track[TRACK_STRIPE] = 0;
    host.check[CHECK_CY] = 1;
    host.check[CHECK_LPF] = 1;
    host.update();
}

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

MemoryHost& shared_bench_host(int w, int h, int frame_n) {
    static std::map<std::tuple<int, int, int>, std::unique_ptr<MemoryHost>> hosts;
    auto& slot = hosts[{w, h, frame_n}];
    if (!slot) {
        slot = std::make_unique<MemoryHost>(GetFilterTable(), w, h, frame_n);
        telecine(*slot);
    }
    slot->saving = false;
    slot->reset_settings();
    return *slot;
}
