// The conversions at every SIMD tier this CPU runs (tier_harness.h).
//
// Row kernels: each entry of convert_kernels_for(tier) against the plain
// entry (SIMD_SCALAR), at every sample depth, on random rows of every length
// up to four AVX2 steps (so every tail the 16- and 8-sample steps leave), with
// the extreme codes and samples of the depth mixed in. Inputs are exactly as
// long as a kernel may read (ASan builds catch a read past them), and outputs
// sit between guard zones that have to come back untouched.
//
// Whole conversions, through the dispatch capped to each tier, against the
// frozen plain ones (reference_convert.cpp): the same samples and bytes for
// every chroma format and sample depth, every frame width from 1 to 67 (every
// height up to 37 at 8 bits, a spread of them deeper), rows with and without
// slack, and input anywhere in the sample range, including values far outside
// the codes that have to clamp, and codes above the depth's largest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/convert.h"
#include "convert/convert_kernels.h"
#include "reference_convert.h"
#include "tier_harness.h"

using namespace pelta;
using namespace pelta_cli;
using namespace tier_harness;

namespace {

// ---- row kernels ---------------------------------------------------------------

// n plane codes of a depth (bytes, or little-endian words), with those above
// the largest (read as the largest) among the extremes.
std::vector<uint8_t> plane_row(int depth, int n, std::mt19937& rng) {
    const int max = max_code(depth);
    const Values codes = depth == 8 ? Values{0, max, {0, 1, 254, 255}}
                                    : Values{0, max, {0, 1, max - 1, max, 0xFFFF, depth < 16 ? max + 1 : 0xFFFE}};
    std::vector<uint8_t> row;
    for (int i = 0; i < n; ++i) {
        const int v = codes.draw(rng);
        row.push_back(static_cast<uint8_t>(v));
        if (depth > 8) row.push_back(static_cast<uint8_t>(v >> 8));
    }
    return row;
}

class ConvertKernelTier : public KernelTierTest<ConvertKernels, convert_kernels_for> {
protected:
    // body(coding, n) for every depth, on a few random rows of every length
    // from min_length up to four AVX2 steps.
    template <typename Body>
    void for_each_row(int min_length, Body body) {
        for (int depth = kMinDepth; depth <= kMaxDepth; ++depth)
            for (int n = min_length; n <= 64; ++n)
                for (int r = 0; r < 4 && !HasFatalFailure(); ++r) {
                    SCOPED_TRACE(std::to_string(depth) + "-bit, length " + std::to_string(n));
                    body(coding_for(depth), n);
                }
    }
};

// The kernels of a table for the coding's sample size.
const CodeKernels& codes(const ConvertKernels& t, const Coding& k) { return t.codes[code_kernels_index(k.depth)]; }

TEST_P(ConvertKernelTier, PlaneSampleKernels) {
    for_each_row(0, [&](const Coding& k, int n) {
        const std::vector<uint8_t> plane = plane_row(k.depth, n, rng);
        std::vector<int16_t> s[4];
        for (auto& row : s) row = random_row<int16_t>(n, kAnySample, rng);
        const size_t bytes = static_cast<size_t>(n) * bytes_per_sample(k.depth);
        ASSERT_TRUE(same_output<int16_t>(n, [&](const ConvertKernels& t, int16_t* out) {
            codes(t, k).chroma_from(plane.data(), n, k, out);
        })) << "chroma_from";
        ASSERT_TRUE(same_output<uint8_t>(bytes, [&](const ConvertKernels& t, uint8_t* out) {
            codes(t, k).chroma_to(s[0].data(), n, k, out);
        })) << "chroma_to";
        ASSERT_TRUE(same_output<PIXEL_YC>(n, [&](const ConvertKernels& t, PIXEL_YC* out) {
            codes(t, k).interleave(plane.data(), s[0].data(), s[1].data(), n, k, out);
        })) << "interleave";
        // Three outputs, each between guard zones.
        const std::vector<PIXEL_YC> pixels = random_row<PIXEL_YC>(n, kAnySample, rng);
        Guarded<uint8_t> luma(bytes, rng);
        Guarded<int16_t> cb(n, rng), cr(n, rng);
        call_ref([&] { codes(ref(), k).deinterleave(pixels.data(), n, k, luma.want(), cb.want(), cr.want()); });
        call_new([&] { codes(tested(), k).deinterleave(pixels.data(), n, k, luma.got(), cb.got(), cr.got()); });
        ASSERT_EQ(luma.difference(), "") << "deinterleave Y";
        ASSERT_EQ(cb.difference(), "") << "deinterleave Cb";
        ASSERT_EQ(cr.difference(), "") << "deinterleave Cr";
        // The two weightings the conversion uses and random others summing
        // to 16.
        int wt[4] = {3, 7, 5, 1};
        const uint32_t kind = rng() % 3;
        if (kind == 1) wt[0] = 1, wt[1] = 5, wt[2] = 7, wt[3] = 3;
        for (int t = 0, left = 16; kind == 2 && t < 4; ++t)
            left -= wt[t] = t == 3 ? left : static_cast<int>(rng() % static_cast<uint32_t>(left + 1));
        const int16_t* rows[4] = {s[0].data(), s[1].data(), s[2].data(), s[3].data()};
        ASSERT_TRUE(same_output<uint8_t>(bytes, [&](const ConvertKernels& t, uint8_t* out) {
            codes(t, k).decimate(rows, wt, n, k, out);
        })) << "decimate, weights " << wt[0] << " " << wt[1] << " " << wt[2] << " " << wt[3];
    });
}

// The resampling kernels, the same at every depth, run on the chroma range
// the depth decodes to (interpolate and upsample) or on any samples
// (downsample); padded rows have random samples in the edge places and the
// slack as well.
TEST_P(ConvertKernelTier, ResamplingKernels) {
    for_each_row(0, [&](const Coding& k, int n) {
        const int lo = chroma_from_code(0, k.depth), hi = chroma_from_code(max_code(k.depth), k.depth);
        const Values chroma{lo, hi, {lo, lo + 1, hi - 1, hi}};
        const std::vector<int16_t> a = random_row<int16_t>(n, chroma, rng), b = random_row<int16_t>(n, chroma, rng);
        for (int wa = 0; wa <= 8; ++wa)
            ASSERT_TRUE(same_output<int16_t>(n, [&](const ConvertKernels& t, int16_t* out) {
                t.interpolate(a.data(), b.data(), wa, n, out);
            })) << "interpolate, weight " << wa;
        if (n == 0) return;
        const std::vector<int16_t> up = random_row<int16_t>(kPadLeft + n + kPadRight, chroma, rng);
        // Downsampled: 2n samples, or one fewer (odd picture widths).
        const int w = 2 * n - static_cast<int>(rng() % 2);
        const std::vector<int16_t> down = random_row<int16_t>(kPadLeft + w + kPadRight, kAnySample, rng);
        for (bool cosited : {false, true}) {
            ASSERT_TRUE(same_output<int16_t>(2 * static_cast<size_t>(n), [&](const ConvertKernels& t, int16_t* out) {
                t.upsample(up.data() + kPadLeft, n, cosited, out);
            })) << "upsample" << (cosited ? ", co-sited" : ", centred");
            ASSERT_TRUE(same_output<int16_t>(n, [&](const ConvertKernels& t, int16_t* out) {
                t.downsample(down.data() + kPadLeft, n, cosited, out);
            })) << "downsample, width " << w << (cosited ? ", co-sited" : ", centred");
        }
    });
}

PELTA_TIER_TESTS(ConvertKernelTier);

// Each tier's table was built by that tier's file and has its own kernel in
// every entry (reading the tables runs none of them); the conversions take
// the table of min(CPU tier, cap).
TEST(ConvertDispatch, EachTierHasItsOwnKernelsAndTheTableInForceFollowsTheCap) {
    using Entry = void (*)();
    auto entries = [](const ConvertKernels* t) {
        std::vector<Entry> e = {reinterpret_cast<Entry>(t->interpolate), reinterpret_cast<Entry>(t->upsample),
                                reinterpret_cast<Entry>(t->downsample)};
        for (const CodeKernels& c : t->codes)
            for (Entry f : {reinterpret_cast<Entry>(c.chroma_from), reinterpret_cast<Entry>(c.chroma_to),
                            reinterpret_cast<Entry>(c.interleave), reinterpret_cast<Entry>(c.deinterleave),
                            reinterpret_cast<Entry>(c.decimate)})
                e.push_back(f);
        return e;
    };
    for (SimdLevel tier : kAllTiers) {
        EXPECT_EQ(convert_kernels_for(tier)->level, tier);
        for (SimdLevel other : kAllTiers) {
            const std::vector<Entry> own = entries(convert_kernels_for(tier)), theirs = entries(convert_kernels_for(other));
            for (size_t i = 0; i < own.size() && other != tier; ++i)
                EXPECT_NE(own[i], theirs[i]) << simd_level_name(tier) << " entry " << i << " is the kernel of "
                                             << simd_level_name(other);
        }
    }
    expect_dispatch_follows_cap(convert_kernels_for, convert_kernels);
}

// ---- whole conversions ---------------------------------------------------------

namespace ref = pelta_cli_reference;

constexpr Chroma kAll[] = {Chroma::C444,      Chroma::C422, Chroma::C420jpeg, Chroma::C420mpeg2,
                           Chroma::C420paldv, Chroma::C420, Chroma::Mono};

// PIXEL_YC samples (luma, chroma) for yc_to_planes: the whole 16-bit range
// (most samples clamp), the neighbourhood of the 8-bit range (the rounding of
// every formula, and the clamps at both ends), and the extremes only (where
// sums of neighbours overflow 16 bits).
const Values kEnds{0, 0, {-32768, -32767, 32767, 32766, 0, -1}, 1};
const Values kYcKinds[3][2] = {{kAnySample, kAnySample}, {{-600, 4599, {}}, {-2700, 2699, {}}}, {kEnds, kEnds}};

class ConvertIdentity : public TierTest {
protected:
    // Random planes to PIXEL_YC (when `from_planes`), and PIXEL_YC samples of
    // a kind to planes, through the conversions (capped to the tier) and the
    // plain ones, in Guarded frames and planes: the pixels beyond w and
    // around the frame, and the bytes around the planes, hold random values
    // that have to stay (and must not leak into the planes). Rows have no
    // slack, a little, or a lot (as the host's 32-pixel rounding gives),
    // unless `stride` is given.
    void check(Chroma c, int w, int h, int depth, bool from_planes, const Values (&kind)[2], int stride = 0) {
        const int slack[] = {0, 1, 1 + static_cast<int>(rng() % 9), (w + 31) / 32 * 32 + 32 - w};
        if (stride == 0) stride = w + slack[rng() % 4];
        const std::string where = std::string(chroma_tag(c)) + " " + std::to_string(depth) + "-bit " +
                                  std::to_string(w) + "x" + std::to_string(h) + " stride " + std::to_string(stride);
        const size_t pixels = static_cast<size_t>(stride) * h;
        const PlaneSizes ps = plane_sizes(c, w, h, depth);
        if (from_planes) {
            // At 8 bits any bytes; deeper, mostly codes of the depth and now
            // and then any 16-bit value (to be read as the largest code).
            std::vector<uint8_t> planes(ps.frame());
            for (size_t i = 0; i < planes.size(); ++i) planes[i] = static_cast<uint8_t>(rng());
            for (size_t i = 0; depth > 8 && i + 1 < planes.size(); i += 2) {
                const uint32_t v = rng() % 8 ? rng() % (1u << depth) : rng() & 0xFFFF;
                planes[i] = static_cast<uint8_t>(v), planes[i + 1] = static_cast<uint8_t>(v >> 8);
            }
            Guarded<PIXEL_YC> out(pixels, rng);
            call_ref([&] { ref::planes_to_yc(planes.data(), c, w, h, out.want(), stride, depth); });
            call_new([&] { planes_to_yc(planes.data(), c, w, h, out.got(), stride, depth); });
            ASSERT_EQ(out.difference(), "") << where;
        }
        std::vector<PIXEL_YC> yc(pixels);
        for (auto& p : yc)
            p = PIXEL_YC{static_cast<int16_t>(kind[0].draw(rng)), static_cast<int16_t>(kind[1].draw(rng)),
                         static_cast<int16_t>(kind[1].draw(rng))};
        Guarded<uint8_t> out(ps.frame(), rng);
        call_ref([&] { ref::yc_to_planes(yc.data(), stride, w, h, c, out.want(), depth); });
        call_new([&] { yc_to_planes(yc.data(), stride, w, h, c, out.got(), depth); });
        ASSERT_EQ(out.difference(), "") << where << " (planes of " << ps.luma << " and twice " << ps.chroma
                                        << " bytes)";
    }
};
PELTA_TIER_TESTS(ConvertIdentity);

// Every chroma format and depth, every width 1..67, every height 1..37 at
// 8 bits (deeper, the small heights where 4:2:0 fields run short, and a few
// taller): from random planes, and back from samples of each kind.
TEST_P(ConvertIdentity, EverySizeMatchesThePlainConversions) {
    for (int depth : {8, 9, 10, 12, 14, 16})
        for (Chroma c : kAll)
            for (int h = 1; h <= 37; ++h) {
                if (depth > 8 && h > 7 && h != 9 && h != 16 && h != 37) continue;
                for (int w = 1; w <= 67; ++w)
                    for (int k = 0; k < 3; ++k) ASSERT_NO_FATAL_FAILURE(check(c, w, h, depth, k == 0, kYcKinds[k]));
            }
}

// Frames larger than those, where the vector loops run many times over
// before the edge columns, and frame after frame through the same scratch
// buffers with changing sizes.
TEST_P(ConvertIdentity, LargeFramesAndChangingSizesMatch) {
    const int sizes[][3] = {{720, 480, 736}, {1, 1, 1}, {333, 7, 340}, {2, 2, 2}, {130, 61, 130}, {15, 300, 32}};
    for (int depth : {8, 10, 16})
        for (Chroma c : kAll)
            for (const auto& s : sizes) ASSERT_NO_FATAL_FAILURE(check(c, s[0], s[1], depth, true, kYcKinds[1], s[2]));
}

}  // namespace
