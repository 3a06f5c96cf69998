// The fast conversions against the frozen plain ones (reference_convert.cpp):
// the same samples and bytes for every chroma format and sample depth, every
// frame width from 1 to 67 (every height up to 37 at 8 bits, a spread of them
// deeper), rows with and without slack, and input anywhere in the sample
// range, including values far outside the codes that have to clamp, and
// codes above the depth's largest. Each test runs with the AVX2 kernels
// (where the CPU has them) and with the SSE2 baseline alone.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "convert.h"
#include "base/cpu.h"
#include "reference_convert.h"

using namespace pelta;

namespace ref = pelta_cli_reference;
using pelta_cli::Chroma;
using pelta_cli::chroma_tag;
using pelta_cli::plane_sizes;
using pelta_cli::PlaneSizes;

namespace {

constexpr Chroma kAll[] = {Chroma::C444,      Chroma::C422, Chroma::C420jpeg, Chroma::C420mpeg2,
                           Chroma::C420paldv, Chroma::C420, Chroma::Mono};
constexpr int kMaxW = 67, kMaxH = 37;
constexpr int kDepths[] = {8, 9, 10, 12, 14, 16};
// Heights tried at depths above 8: the small ones where 4:2:0 fields run
// short, and a few taller.
constexpr int kDeepHeights[] = {1, 2, 3, 4, 5, 6, 7, 9, 16, 37};

// The heights to try at a depth.
std::vector<int> heights(int depth) {
    if (depth != 8) return std::vector<int>(std::begin(kDeepHeights), std::end(kDeepHeights));
    std::vector<int> all;
    for (int h = 1; h <= kMaxH; ++h) all.push_back(h);
    return all;
}

// Random planes of a depth: at 8 bits any bytes; deeper, mostly codes of the
// depth and now and then any 16-bit value (to be read as the largest code).
std::vector<uint8_t> random_planes(size_t bytes, int depth, std::mt19937& rng) {
    std::vector<uint8_t> planes(bytes);
    if (depth == 8) {
        for (auto& b : planes) b = static_cast<uint8_t>(rng());
        return planes;
    }
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const uint32_t v = rng() % 8 ? rng() % (1u << depth) : rng() & 0xFFFF;
        planes[i] = static_cast<uint8_t>(v & 0xFF);
        planes[i + 1] = static_cast<uint8_t>(v >> 8);
    }
    return planes;
}
// Bytes checked after the planes and pixels after the last row: neither
// conversion may write there.
constexpr size_t kGuard = 64;

std::string where(Chroma c, int w, int h, int stride, int depth) {
    return std::string(chroma_tag(c)) + " " + std::to_string(depth) + "-bit " + std::to_string(w) + "x" +
           std::to_string(h) + " stride " + std::to_string(stride);
}

bool same_pixels(const std::vector<PIXEL_YC>& a, const std::vector<PIXEL_YC>& b, size_t& first) {
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].y != b[i].y || a[i].cb != b[i].cb || a[i].cr != b[i].cr) {
            first = i;
            return false;
        }
    return true;
}

// Row slack: none, a little, or a lot (as the host's 32-pixel rounding gives).
int pick_stride(int w, std::mt19937& rng) {
    switch (rng() % 4) {
        case 0: return w;
        case 1: return w + 1;
        case 2: return w + 1 + static_cast<int>(rng() % 9);
        default: return (w + 31) / 32 * 32 + 32;
    }
}

// Ways to fill PIXEL_YC frames for yc_to_planes: the whole 16-bit range (most
// samples clamp), the neighbourhood of the 8-bit range (the rounding of every
// formula, and the clamps at both ends), and the extremes only (where sums of
// neighbours overflow 16 bits).
enum class Fill { FullRange, NearEightBit, Extremes };

int16_t sample(Fill fill, std::mt19937& rng, bool luma) {
    switch (fill) {
        case Fill::FullRange: return static_cast<int16_t>(rng() & 0xFFFF);
        case Fill::NearEightBit:
            return static_cast<int16_t>(luma ? static_cast<int>(rng() % 5200) - 600
                                             : static_cast<int>(rng() % 5400) - 2700);
        case Fill::Extremes: {
            static const int16_t kEnds[] = {-32768, -32767, 32767, 32766, 0, -1};
            return kEnds[rng() % 6];
        }
    }
    return 0;
}

PIXEL_YC random_pixel(Fill fill, std::mt19937& rng) {
    return PIXEL_YC{sample(fill, rng, true), sample(fill, rng, false), sample(fill, rng, false)};
}

// Runs `body` once per instruction set the conversions can use here.
template <typename Body>
void for_each_kernel_set(Body body) {
    for (bool baseline : {false, true}) {
        if (!baseline && !cpu_has_avx2()) continue;
        set_simd_cap(baseline ? SIMD_SSE2 : SIMD_AVX2);
        SCOPED_TRACE(baseline ? "SSE2 kernels" : "AVX2 kernels");
        body();
        set_simd_cap(SIMD_AVX2);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace

// 8-bit planes to PIXEL_YC: random bytes, every size, random row slack. The
// pixels beyond each row's w and the rows after the frame start out the same
// in both frames and have to stay so.
TEST(ConvertIdentity, PlanesToYcMatchesThePlainConversion) {
    for_each_kernel_set([&] {
        std::mt19937 rng(20240611);
        for (int depth : kDepths)
        for (Chroma c : kAll)
            for (int h : heights(depth))
                for (int w = 1; w <= kMaxW; ++w) {
                    const PlaneSizes ps = plane_sizes(c, w, h, depth);
                    const std::vector<uint8_t> planes = random_planes(ps.frame(), depth, rng);
                    const int stride = pick_stride(w, rng);
                    const size_t pixels = static_cast<size_t>(stride) * h + kGuard;
                    std::vector<PIXEL_YC> want(pixels);
                    for (auto& p : want) p = random_pixel(Fill::FullRange, rng);
                    std::vector<PIXEL_YC> got = want;
                    ref::planes_to_yc(planes.data(), c, w, h, want.data(), stride, depth);
                    pelta_cli::planes_to_yc(planes.data(), c, w, h, got.data(), stride, depth);
                    size_t i = 0;
                    ASSERT_TRUE(same_pixels(got, want, i))
                        << where(c, w, h, stride, depth) << ": first difference at x " << i % stride << ", y " << i / stride
                        << " (got " << got[i].y << "," << got[i].cb << "," << got[i].cr << ", want " << want[i].y << ","
                        << want[i].cb << "," << want[i].cr << ")";
                }
    });
}

// PIXEL_YC to 8-bit planes from input of one kind. The pixels beyond w hold
// random values too, which must not leak into the planes.
static void expect_yc_to_planes_matches(Fill fill, uint32_t seed) {
    for_each_kernel_set([&] {
        std::mt19937 rng(seed);
        for (int depth : kDepths)
        for (Chroma c : kAll)
            for (int h : heights(depth))
                for (int w = 1; w <= kMaxW; ++w) {
                    const PlaneSizes ps = plane_sizes(c, w, h, depth);
                    const int stride = pick_stride(w, rng);
                    std::vector<PIXEL_YC> yc(static_cast<size_t>(stride) * h);
                    for (auto& p : yc) p = random_pixel(fill, rng);
                    std::vector<uint8_t> want(ps.frame() + kGuard);
                    for (auto& b : want) b = static_cast<uint8_t>(rng());
                    std::vector<uint8_t> got = want;
                    ref::yc_to_planes(yc.data(), stride, w, h, c, want.data(), depth);
                    pelta_cli::yc_to_planes(yc.data(), stride, w, h, c, got.data(), depth);
                    if (got != want) {
                        size_t i = 0;
                        while (got[i] == want[i]) ++i;
                        const char* plane = i < ps.luma ? "Y" : i < ps.luma + ps.chroma ? "Cb" : "Cr";
                        FAIL() << where(c, w, h, stride, depth) << ": first difference at byte " << i << " (" << plane
                               << ") got " << int{got[i]} << ", want " << int{want[i]};
                    }
                }
    });
}

TEST(ConvertIdentity, YcToPlanesMatchesOnFullRangeInput) { expect_yc_to_planes_matches(Fill::FullRange, 977); }
TEST(ConvertIdentity, YcToPlanesMatchesNearTheEightBitRange) { expect_yc_to_planes_matches(Fill::NearEightBit, 978); }
TEST(ConvertIdentity, YcToPlanesMatchesOnExtremes) { expect_yc_to_planes_matches(Fill::Extremes, 979); }

// Frames larger than the sizes above, where the vector loops run many times
// over before the edge columns, and frame after frame through the same
// scratch buffers with changing sizes.
TEST(ConvertIdentity, LargeFramesAndChangingSizesMatch) {
    for_each_kernel_set([&] {
        std::mt19937 rng(5);
        struct Size {
            int w, h, stride;
        };
        const Size sizes[] = {{720, 480, 736}, {1, 1, 1}, {333, 7, 340}, {2, 2, 2}, {130, 61, 130}, {15, 300, 32}};
        for (int depth : {8, 10, 16})
        for (Chroma c : kAll)
            for (const Size s : sizes) {
                const PlaneSizes ps = plane_sizes(c, s.w, s.h, depth);
                const std::vector<uint8_t> planes = random_planes(ps.frame(), depth, rng);
                std::vector<PIXEL_YC> want(static_cast<size_t>(s.stride) * s.h), got(want.size());
                ref::planes_to_yc(planes.data(), c, s.w, s.h, want.data(), s.stride, depth);
                pelta_cli::planes_to_yc(planes.data(), c, s.w, s.h, got.data(), s.stride, depth);
                size_t i = 0;
                ASSERT_TRUE(same_pixels(got, want, i)) << where(c, s.w, s.h, s.stride, depth) << " at pixel " << i;

                for (auto& p : want) p = random_pixel(Fill::NearEightBit, rng);
                std::vector<uint8_t> back_want(ps.frame()), back_got(ps.frame());
                ref::yc_to_planes(want.data(), s.stride, s.w, s.h, c, back_want.data(), depth);
                pelta_cli::yc_to_planes(want.data(), s.stride, s.w, s.h, c, back_got.data(), depth);
                ASSERT_EQ(back_got, back_want) << where(c, s.w, s.h, s.stride, depth);
            }
    });
}
