#include "host_rig.h"

#include <gtest/gtest.h>

#include "plugin/descriptor.h"

Frame random_pixels(std::mt19937& rng, size_t n, bool nominal) {
    std::uniform_int_distribution<int> luma(nominal ? 0 : -32768, nominal ? 4096 : 32767);
    std::uniform_int_distribution<int> chroma(nominal ? -2048 : -32768, nominal ? 2048 : 32767);
    Frame f(n);
    for (PIXEL_YC& p : f) p = px(luma(rng), chroma(rng), chroma(rng));
    return f;
}

TestHost::TestHost(int w_, int h_, int frame_n_, int max_w_)
    : MemoryHost(GetFilterTable(), w_, h_, frame_n_, max_w_ > 0 ? max_w_ : w_ + 7) {
    for (int f = 0; f < frame_n; ++f)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) at(f, x, y) = px(100 * f + y, x % 64 - 32, y % 64 - 32);
}

TestHost::~TestHost() {
    EXPECT_EQ(foreign_args_total, 0) << "a service was called with an fp or editp not the host's";
    EXPECT_EQ(sized_fetches_total, 0) << "the filter asked the frame source for the frame's size";
}

void TestHost::fill_random(uint32_t seed, bool nominal) {
    std::mt19937 rng(seed);
    for (int f = 0; f < frame_n; ++f)
        for (int y = 0; y < h; ++y) {
            const Frame row = random_pixels(rng, static_cast<size_t>(w), nominal);
            std::copy(row.begin(), row.end(), &at(f, 0, y));
        }
}
