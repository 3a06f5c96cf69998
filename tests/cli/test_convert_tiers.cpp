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

constexpr int kMaxLength = 64;  // lengths 0 .. kMaxLength,
constexpr int kRowsPerLength = 4;  // a few random rows each

// Plane codes of a depth, with those above the largest (read as the largest)
// among the extremes.
Values plane_codes(int depth) {
    const int max = max_code(depth);
    if (depth == 8) return {0, max, {0, 1, 254, 255}};
    return {0, max, {0, 1, max - 1, max, 0xFFFF, depth < 16 ? max + 1 : 0xFFFE}};
}
// Chroma as decoded from the codes of a depth, what interpolate and upsample
// take.
Values decoded_chroma(int depth) {
    const int lo = chroma_from_code(0, depth), hi = chroma_from_code(max_code(depth), depth);
    return {lo, hi, {lo, lo + 1, hi - 1, hi}};
}

// n codes as a plane row of the depth: bytes, or little-endian words.
std::vector<uint8_t> plane_row(int depth, int n, std::mt19937& rng) {
    const Values codes = plane_codes(depth);
    const int size = bytes_per_sample(depth);
    std::vector<uint8_t> row(static_cast<size_t>(n) * size);
    for (int i = 0; i < n; ++i) {
        const int v = codes.draw(rng);
        row[static_cast<size_t>(i) * size] = static_cast<uint8_t>(v);
        if (size == 2) row[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(v >> 8);
    }
    return row;
}

// The kernels of a table for the coding's sample size.
const CodeKernels& codes(const ConvertKernels& t, const Coding& k) { return t.codes[code_kernels_index(k.depth)]; }
size_t plane_bytes(int n, const Coding& k) { return static_cast<size_t>(n) * bytes_per_sample(k.depth); }

class ConvertKernelTier : public KernelTierTest<ConvertKernels, convert_kernels_for> {
protected:
    // body(coding, n, where) for every depth and length from min_length.
    template <typename Body>
    void for_each_row(int min_length, Body body) {
        for (int depth = kMinDepth; depth <= kMaxDepth; ++depth)
            for (int n = min_length; n <= kMaxLength; ++n)
                for (int r = 0; r < kRowsPerLength && !HasFatalFailure(); ++r)
                    body(coding_for(depth), n, std::to_string(depth) + "-bit, length " + std::to_string(n) + ": ");
    }
};

TEST_P(ConvertKernelTier, ChromaFromCodes) {
    for_each_row(0, [&](const Coding& k, int n, const std::string& where) {
        const std::vector<uint8_t> src = plane_row(k.depth, n, rng);
        ASSERT_TRUE(same_output<int16_t>(n, [&](const ConvertKernels& t, int16_t* out) {
            codes(t, k).chroma_from(src.data(), n, k, out);
        })) << where;
    });
}

TEST_P(ConvertKernelTier, ChromaToCodes) {
    for_each_row(0, [&](const Coding& k, int n, const std::string& where) {
        const std::vector<int16_t> src = random_row<int16_t>(n, kAnySample, rng);
        ASSERT_TRUE(same_output<uint8_t>(plane_bytes(n, k), [&](const ConvertKernels& t, uint8_t* out) {
            codes(t, k).chroma_to(src.data(), n, k, out);
        })) << where;
    });
}

TEST_P(ConvertKernelTier, Interleave) {
    for_each_row(0, [&](const Coding& k, int n, const std::string& where) {
        const std::vector<uint8_t> luma = plane_row(k.depth, n, rng);
        const std::vector<int16_t> cb = random_row<int16_t>(n, kAnySample, rng);
        const std::vector<int16_t> cr = random_row<int16_t>(n, kAnySample, rng);
        ASSERT_TRUE(same_output<PIXEL_YC>(n, [&](const ConvertKernels& t, PIXEL_YC* out) {
            codes(t, k).interleave(luma.data(), cb.data(), cr.data(), n, k, out);
        })) << where;
    });
}

// Three outputs, each between guard zones.
TEST_P(ConvertKernelTier, Deinterleave) {
    for_each_row(0, [&](const Coding& k, int n, const std::string& where) {
        const std::vector<PIXEL_YC> src = random_row<PIXEL_YC>(n, kAnySample, rng);
        Guarded<uint8_t> luma(plane_bytes(n, k), rng);
        Guarded<int16_t> cb(n, rng), cr(n, rng);
        call_ref([&] { codes(ref(), k).deinterleave(src.data(), n, k, luma.want(), cb.want(), cr.want()); });
        call_new([&] { codes(tested(), k).deinterleave(src.data(), n, k, luma.got(), cb.got(), cr.got()); });
        ASSERT_EQ(luma.difference(), "") << where << "Y";
        ASSERT_EQ(cb.difference(), "") << where << "Cb";
        ASSERT_EQ(cr.difference(), "") << where << "Cr";
    });
}

// The two weightings the conversion uses and random others summing to 16.
TEST_P(ConvertKernelTier, Decimate) {
    for_each_row(0, [&](const Coding& k, int n, const std::string& where) {
        int wt[4] = {3, 7, 5, 1};
        const uint32_t kind = rng() % 3;
        if (kind == 1) wt[0] = 1, wt[1] = 5, wt[2] = 7, wt[3] = 3;
        if (kind == 2) {
            int left = 16;
            for (int t = 0; t < 3; ++t) left -= wt[t] = static_cast<int>(rng() % static_cast<uint32_t>(left + 1));
            wt[3] = left;
        }
        std::vector<int16_t> in[4];
        const int16_t* rows[4];
        for (int t = 0; t < 4; ++t) rows[t] = (in[t] = random_row<int16_t>(n, kAnySample, rng)).data();
        ASSERT_TRUE(same_output<uint8_t>(plane_bytes(n, k), [&](const ConvertKernels& t, uint8_t* out) {
            codes(t, k).decimate(rows, wt, n, k, out);
        })) << where << "weights " << wt[0] << " " << wt[1] << " " << wt[2] << " " << wt[3];
    });
}

// The resampling kernels, the same at every depth, run on the chroma range
// of each (interpolate and upsample) or on any samples (downsample).
TEST_P(ConvertKernelTier, Interpolate) {
    for_each_row(0, [&](const Coding& k, int n, const std::string& where) {
        const std::vector<int16_t> a = random_row<int16_t>(n, decoded_chroma(k.depth), rng);
        const std::vector<int16_t> b = random_row<int16_t>(n, decoded_chroma(k.depth), rng);
        for (int wa = 0; wa <= 8; ++wa)
            ASSERT_TRUE(same_output<int16_t>(n, [&](const ConvertKernels& t, int16_t* out) {
                t.interpolate(a.data(), b.data(), wa, n, out);
            })) << where << "weight " << wa;
    });
}

// Padded rows: random samples in the edge places and the slack as well.
TEST_P(ConvertKernelTier, Upsample) {
    for_each_row(1, [&](const Coding& k, int cw, const std::string& where) {
        const std::vector<int16_t> padded =
            random_row<int16_t>(kPadLeft + cw + kPadRight, decoded_chroma(k.depth), rng);
        for (bool cosited : {false, true})
            ASSERT_TRUE(same_output<int16_t>(2 * static_cast<size_t>(cw), [&](const ConvertKernels& t, int16_t* out) {
                t.upsample(padded.data() + kPadLeft, cw, cosited, out);
            })) << where << (cosited ? "co-sited" : "centred");
    });
}

// A padded row of 2 * cw samples, or one fewer (odd picture widths).
TEST_P(ConvertKernelTier, Downsample) {
    for_each_row(1, [&](const Coding&, int cw, const std::string& where) {
        const int w = 2 * cw - static_cast<int>(rng() % 2);
        const std::vector<int16_t> padded = random_row<int16_t>(kPadLeft + w + kPadRight, kAnySample, rng);
        for (bool cosited : {false, true})
            ASSERT_TRUE(same_output<int16_t>(cw, [&](const ConvertKernels& t, int16_t* out) {
                t.downsample(padded.data() + kPadLeft, cw, cosited, out);
            })) << where << "width " << w << (cosited ? ", co-sited" : ", centred");
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
constexpr int kMaxW = 67, kMaxH = 37;
constexpr int kDepths[] = {8, 9, 10, 12, 14, 16};

// The heights to try at a depth: all up to kMaxH at 8 bits; deeper, the small
// ones where 4:2:0 fields run short, and a few taller.
std::vector<int> heights(int depth) {
    if (depth != 8) return {1, 2, 3, 4, 5, 6, 7, 9, 16, 37};
    std::vector<int> all;
    for (int h = 1; h <= kMaxH; ++h) all.push_back(h);
    return all;
}

// Random planes of a depth: at 8 bits any bytes; deeper, mostly codes of the
// depth and now and then any 16-bit value (to be read as the largest code).
std::vector<uint8_t> random_planes(size_t bytes, int depth, std::mt19937& rng) {
    std::vector<uint8_t> planes(bytes);
    for (size_t i = 0; i < bytes; ++i) planes[i] = static_cast<uint8_t>(rng());
    if (depth > 8)
        for (size_t i = 0; i + 1 < bytes; i += 2) {
            const uint32_t v = rng() % 8 ? rng() % (1u << depth) : rng() & 0xFFFF;
            planes[i] = static_cast<uint8_t>(v & 0xFF);
            planes[i + 1] = static_cast<uint8_t>(v >> 8);
        }
    return planes;
}

std::string where(Chroma c, int w, int h, int stride, int depth) {
    return std::string(chroma_tag(c)) + " " + std::to_string(depth) + "-bit " + std::to_string(w) + "x" +
           std::to_string(h) + " stride " + std::to_string(stride);
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

// PIXEL_YC frames for yc_to_planes: the whole 16-bit range (most samples
// clamp), the neighbourhood of the 8-bit range (the rounding of every
// formula, and the clamps at both ends), and the extremes only (where sums of
// neighbours overflow 16 bits).
const Values kNearEightBitLuma{-600, 4599, {}}, kNearEightBitChroma{-2700, 2699, {}};
const Values kEnds{0, 0, {-32768, -32767, 32767, 32766, 0, -1}, 1};
std::vector<PIXEL_YC> random_frame(size_t n, const Values& luma, const Values& chroma, std::mt19937& rng) {
    std::vector<PIXEL_YC> v(n);
    for (auto& p : v) {
        p.y = static_cast<int16_t>(luma.draw(rng));
        p.cb = static_cast<int16_t>(chroma.draw(rng));
        p.cr = static_cast<int16_t>(chroma.draw(rng));
    }
    return v;
}

class ConvertIdentity : public TierTest {
protected:
    void expect_yc_to_planes_matches(const Values& luma, const Values& chroma);
};
PELTA_TIER_TESTS(ConvertIdentity);

// Planes to PIXEL_YC: random planes, every size, random row slack. The
// pixels beyond each row's w, and around the frame, hold random values that
// have to stay.
TEST_P(ConvertIdentity, PlanesToYcMatchesThePlainConversion) {
    for (int depth : kDepths)
        for (Chroma c : kAll)
            for (int h : heights(depth))
                for (int w = 1; w <= kMaxW; ++w) {
                    const std::vector<uint8_t> planes = random_planes(plane_sizes(c, w, h, depth).frame(), depth, rng);
                    const int stride = pick_stride(w, rng);
                    Guarded<PIXEL_YC> out(static_cast<size_t>(stride) * h, rng);
                    call_ref([&] { ref::planes_to_yc(planes.data(), c, w, h, out.want(), stride, depth); });
                    call_new([&] { planes_to_yc(planes.data(), c, w, h, out.got(), stride, depth); });
                    ASSERT_EQ(out.difference(), "") << where(c, w, h, stride, depth);
                }
}

// PIXEL_YC to planes from input of one kind. The pixels beyond w hold random
// values too, which must not leak into the planes.
void ConvertIdentity::expect_yc_to_planes_matches(const Values& luma, const Values& chroma) {
    for (int depth : kDepths)
        for (Chroma c : kAll)
            for (int h : heights(depth))
                for (int w = 1; w <= kMaxW; ++w) {
                    const PlaneSizes ps = plane_sizes(c, w, h, depth);
                    const int stride = pick_stride(w, rng);
                    const std::vector<PIXEL_YC> yc = random_frame(static_cast<size_t>(stride) * h, luma, chroma, rng);
                    Guarded<uint8_t> out(ps.frame(), rng);
                    call_ref([&] { ref::yc_to_planes(yc.data(), stride, w, h, c, out.want(), depth); });
                    call_new([&] { yc_to_planes(yc.data(), stride, w, h, c, out.got(), depth); });
                    ASSERT_EQ(out.difference(), "") << where(c, w, h, stride, depth) << " (planes of " << ps.luma
                                                    << " and twice " << ps.chroma << " bytes)";
                }
}

TEST_P(ConvertIdentity, YcToPlanesMatchesOnFullRangeInput) { expect_yc_to_planes_matches(kAnySample, kAnySample); }
TEST_P(ConvertIdentity, YcToPlanesMatchesNearTheEightBitRange) {
    expect_yc_to_planes_matches(kNearEightBitLuma, kNearEightBitChroma);
}
TEST_P(ConvertIdentity, YcToPlanesMatchesOnExtremes) { expect_yc_to_planes_matches(kEnds, kEnds); }

// Frames larger than the sizes above, where the vector loops run many times
// over before the edge columns, and frame after frame through the same
// scratch buffers with changing sizes.
TEST_P(ConvertIdentity, LargeFramesAndChangingSizesMatch) {
    const struct {
        int w, h, stride;
    } sizes[] = {{720, 480, 736}, {1, 1, 1}, {333, 7, 340}, {2, 2, 2}, {130, 61, 130}, {15, 300, 32}};
    for (int depth : {8, 10, 16})
        for (Chroma c : kAll)
            for (const auto& s : sizes) {
                const PlaneSizes ps = plane_sizes(c, s.w, s.h, depth);
                const std::vector<uint8_t> planes = random_planes(ps.frame(), depth, rng);
                Guarded<PIXEL_YC> yc(static_cast<size_t>(s.stride) * s.h, rng);
                ref::planes_to_yc(planes.data(), c, s.w, s.h, yc.want(), s.stride, depth);
                planes_to_yc(planes.data(), c, s.w, s.h, yc.got(), s.stride, depth);
                ASSERT_EQ(yc.difference(), "") << where(c, s.w, s.h, s.stride, depth);

                const std::vector<PIXEL_YC> back =
                    random_frame(static_cast<size_t>(s.stride) * s.h, kNearEightBitLuma, kNearEightBitChroma, rng);
                Guarded<uint8_t> out(ps.frame(), rng);
                ref::yc_to_planes(back.data(), s.stride, s.w, s.h, c, out.want(), depth);
                yc_to_planes(back.data(), s.stride, s.w, s.h, c, out.got(), depth);
                ASSERT_EQ(out.difference(), "") << where(c, s.w, s.h, s.stride, depth);
            }
}

}  // namespace
