// The conversions at every SIMD tier this CPU runs (checkasm-style).
//
// Row kernels: each entry of convert_kernels_for(tier) against the plain
// entry (SIMD_SCALAR), at every sample depth, on random rows of every length
// up to four AVX2 steps (so every tail the 16- and 8-sample steps leave), with
// the extreme codes and samples of the depth mixed in. Inputs are exactly as
// long as a kernel may read (ASan builds catch a read past them), and outputs
// sit between guard values that have to come back untouched.
//
// Whole conversions: at each tier, against the frozen plain ones
// (reference_convert.cpp): the same samples and bytes for every chroma format
// and sample depth, every frame width from 1 to 67 (every height up to 37 at 8
// bits, a spread of them deeper), rows with and without slack, and input
// anywhere in the sample range, including values far outside the codes that
// have to clamp, and codes above the depth's largest.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "convert/convert_kernels.h"
#include "base/cpu.h"
#include "reference_convert.h"

using namespace pelta;

namespace ref = pelta_cli_reference;
using pelta_cli::Chroma;
using pelta_cli::chroma_tag;
using pelta_cli::plane_sizes;
using pelta_cli::PlaneSizes;
using pelta_cli::CodeKernels;
using pelta_cli::Coding;
using pelta_cli::ConvertKernels;
using pelta_cli::convert_kernels_for;
using pelta_cli::kPadLeft;
using pelta_cli::kPadRight;

namespace {

// The tiers, each run where the CPU has it, with the conversions pinned to it.
class ConvertTier : public ::testing::TestWithParam<SimdLevel> {
protected:
    void SetUp() override {
        if (GetParam() > cpu_simd_level()) GTEST_SKIP() << "CPU without " << simd_level_name(GetParam());
        set_simd_cap(GetParam());
    }
    void TearDown() override { set_simd_cap(SIMD_AVX2); }
};

std::string tier_name(const ::testing::TestParamInfo<SimdLevel>& info) { return simd_level_name(info.param); }

// ---- row kernels ---------------------------------------------------------------

// Lengths 0 .. kMaxLength, a few random rows each.
constexpr int kMaxLength = 64;
constexpr int kRowsPerLength = 4;
// Values around each output row that no kernel may write.
constexpr int kGuardValues = 24;

// Where values of a kind are drawn from: [lo, hi], and one time in four one of
// the extremes.
struct Values {
    int lo, hi;
    std::vector<int> extremes;
    int draw(std::mt19937& rng) const {
        if (rng() % 4 == 0) return extremes[rng() % extremes.size()];
        return lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1));
    }
};

// Plane codes of a depth, with those above the largest (read as the largest)
// among the extremes.
Values plane_codes(int depth) {
    const int max = pelta_cli::max_code(depth);
    if (depth == 8) return {0, max, {0, 1, 254, 255}};
    return {0, max, {0, 1, max - 1, max, 0xFFFF, depth < 16 ? max + 1 : 0xFFFE}};
}
// Any 16-bit sample, as PIXEL_YC frames and the rows resampled from them hold.
const Values kAnySample{-32768, 32767, {-32768, -32767, -1, 0, 1, 32766, 32767}};
// Chroma as decoded from the codes of a depth, what interpolate and upsample
// take.
Values decoded_chroma(int depth) {
    const int lo = pelta_cli::chroma_from_code(0, depth);
    const int hi = pelta_cli::chroma_from_code(pelta_cli::max_code(depth), depth);
    return {lo, hi, {lo, lo + 1, hi - 1, hi}};
}

std::vector<int16_t> sample_row(const Values& v, int n, std::mt19937& rng) {
    std::vector<int16_t> row(static_cast<size_t>(n));
    for (auto& s : row) s = static_cast<int16_t>(v.draw(rng));
    return row;
}

// n codes as a plane row of the depth: bytes, or little-endian words.
std::vector<uint8_t> plane_row(int depth, int n, std::mt19937& rng) {
    const Values codes = plane_codes(depth);
    const int size = pelta_cli::bytes_per_sample(depth);
    std::vector<uint8_t> row(static_cast<size_t>(n) * size);
    for (int i = 0; i < n; ++i) {
        const int v = codes.draw(rng);
        row[static_cast<size_t>(i) * size] = static_cast<uint8_t>(v);
        if (size == 2) row[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(v >> 8);
    }
    return row;
}

// An output row of n values of T between guards, all filled with the same
// random values for the plain kernel (want) and the one tested (got).
template <typename T>
struct OutRow {
    std::vector<T> want, got;
    OutRow(size_t n, std::mt19937& rng) : want(n + 2 * kGuardValues) {
        std::vector<uint8_t> bytes(want.size() * sizeof(T));
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        std::memcpy(want.data(), bytes.data(), bytes.size());
        got = want;
    }
    T* want_row() { return want.data() + kGuardValues; }
    T* got_row() { return got.data() + kGuardValues; }
    // Empty when the two agree; else where they first differ.
    std::string difference() const {
        for (size_t i = 0; i < want.size(); ++i)
            if (std::memcmp(&want[i], &got[i], sizeof(T)) != 0) {
                const long at = static_cast<long>(i) - kGuardValues;
                return "first difference at " + std::to_string(at) + (at < 0 ? " (before the row)" : "");
            }
        return {};
    }
};

// The tier's kernels and the plain ones, tested on rows of every depth and
// length.
class ConvertKernelTier : public ConvertTier {
protected:
    void SetUp() override {
        ConvertTier::SetUp();
        if (IsSkipped()) return;
        ASSERT_EQ(fast().level, GetParam());
    }
    static const ConvertKernels& plain() { return *convert_kernels_for(SIMD_SCALAR); }
    const ConvertKernels& fast() const { return *convert_kernels_for(GetParam()); }

    // Runs body(k, n, rng, where) for each case, `where` naming it.
    template <typename Body>
    void for_each_row(int min_length, Body body) {
        std::mt19937 rng(1000u + static_cast<uint32_t>(GetParam()));
        for (int depth = pelta_cli::kMinDepth; depth <= pelta_cli::kMaxDepth; ++depth)
            for (int n = min_length; n <= kMaxLength; ++n)
                for (int r = 0; r < kRowsPerLength; ++r) {
                    const std::string where = std::to_string(depth) + "-bit, length " + std::to_string(n) + ": ";
                    body(pelta_cli::coding_for(depth), n, rng, where);
                    if (HasFatalFailure()) return;
                }
    }

    // call(table, out) with the plain table and the tested one, each into its
    // own copy of an output row of n values of T: the two have to agree.
    template <typename T, typename Call>
    void expect_same_row(size_t n, std::mt19937& rng, const std::string& where, Call call) {
        OutRow<T> out(n, rng);
        call(plain(), out.want_row());
        call(fast(), out.got_row());
        ASSERT_EQ(out.difference(), "") << where;
    }
};

// The kernels of a table for the coding's sample size.
const CodeKernels& codes(const ConvertKernels& t, const Coding& k) {
    return t.codes[pelta_cli::code_kernels_index(k.depth)];
}
size_t plane_bytes(int n, const Coding& k) { return static_cast<size_t>(n) * pelta_cli::bytes_per_sample(k.depth); }

TEST_P(ConvertKernelTier, ChromaFromCodes) {
    for_each_row(0, [&](const Coding& k, int n, std::mt19937& rng, const std::string& where) {
        const std::vector<uint8_t> src = plane_row(k.depth, n, rng);
        expect_same_row<int16_t>(n, rng, where, [&](const ConvertKernels& t, int16_t* out) {
            codes(t, k).chroma_from(src.data(), n, k, out);
        });
    });
}

TEST_P(ConvertKernelTier, ChromaToCodes) {
    for_each_row(0, [&](const Coding& k, int n, std::mt19937& rng, const std::string& where) {
        const std::vector<int16_t> src = sample_row(kAnySample, n, rng);
        expect_same_row<uint8_t>(plane_bytes(n, k), rng, where, [&](const ConvertKernels& t, uint8_t* out) {
            codes(t, k).chroma_to(src.data(), n, k, out);
        });
    });
}

TEST_P(ConvertKernelTier, Interleave) {
    for_each_row(0, [&](const Coding& k, int n, std::mt19937& rng, const std::string& where) {
        const std::vector<uint8_t> luma = plane_row(k.depth, n, rng);
        const std::vector<int16_t> cb = sample_row(kAnySample, n, rng), cr = sample_row(kAnySample, n, rng);
        expect_same_row<PIXEL_YC>(n, rng, where, [&](const ConvertKernels& t, PIXEL_YC* out) {
            codes(t, k).interleave(luma.data(), cb.data(), cr.data(), n, k, out);
        });
    });
}

// Three outputs, each between guards.
TEST_P(ConvertKernelTier, Deinterleave) {
    for_each_row(0, [&](const Coding& k, int n, std::mt19937& rng, const std::string& where) {
        std::vector<PIXEL_YC> src(n);
        for (auto& p : src)
            p = PIXEL_YC{static_cast<int16_t>(kAnySample.draw(rng)), static_cast<int16_t>(kAnySample.draw(rng)),
                         static_cast<int16_t>(kAnySample.draw(rng))};
        OutRow<uint8_t> luma(plane_bytes(n, k), rng);
        OutRow<int16_t> cb(n, rng), cr(n, rng);
        codes(plain(), k).deinterleave(src.data(), n, k, luma.want_row(), cb.want_row(), cr.want_row());
        codes(fast(), k).deinterleave(src.data(), n, k, luma.got_row(), cb.got_row(), cr.got_row());
        ASSERT_EQ(luma.difference(), "") << where << "Y";
        ASSERT_EQ(cb.difference(), "") << where << "Cb";
        ASSERT_EQ(cr.difference(), "") << where << "Cr";
    });
}

// The two weightings the conversion uses and random others summing to 16.
TEST_P(ConvertKernelTier, Decimate) {
    for_each_row(0, [&](const Coding& k, int n, std::mt19937& rng, const std::string& where) {
        int wt[4];
        switch (rng() % 3) {
            case 0: wt[0] = 3, wt[1] = 7, wt[2] = 5, wt[3] = 1; break;
            case 1: wt[0] = 1, wt[1] = 5, wt[2] = 7, wt[3] = 3; break;
            default: {
                int left = 16;
                for (int t = 0; t < 3; ++t) left -= wt[t] = static_cast<int>(rng() % static_cast<uint32_t>(left + 1));
                wt[3] = left;
            }
        }
        std::vector<int16_t> in[4];
        const int16_t* rows[4];
        for (int t = 0; t < 4; ++t) rows[t] = (in[t] = sample_row(kAnySample, n, rng)).data();
        const std::string weights = "weights " + std::to_string(wt[0]) + " " + std::to_string(wt[1]) + " " +
                                    std::to_string(wt[2]) + " " + std::to_string(wt[3]);
        expect_same_row<uint8_t>(plane_bytes(n, k), rng, where + weights, [&](const ConvertKernels& t, uint8_t* out) {
            codes(t, k).decimate(rows, wt, n, k, out);
        });
    });
}

// The resampling kernels, the same at every depth, run on the chroma range
// of each (interpolate and upsample) or on any samples (downsample).
TEST_P(ConvertKernelTier, Interpolate) {
    for_each_row(0, [&](const Coding& k, int n, std::mt19937& rng, const std::string& where) {
        const std::vector<int16_t> a = sample_row(decoded_chroma(k.depth), n, rng);
        const std::vector<int16_t> b = sample_row(decoded_chroma(k.depth), n, rng);
        for (int wa = 0; wa <= 8; ++wa)
            expect_same_row<int16_t>(n, rng, where + "weight " + std::to_string(wa),
                                     [&](const ConvertKernels& t, int16_t* out) {
                                         t.interpolate(a.data(), b.data(), wa, n, out);
                                     });
    });
}

// Padded rows: random samples in the edge places and the slack as well.
TEST_P(ConvertKernelTier, Upsample) {
    for_each_row(1, [&](const Coding& k, int cw, std::mt19937& rng, const std::string& where) {
        const std::vector<int16_t> padded = sample_row(decoded_chroma(k.depth), kPadLeft + cw + kPadRight, rng);
        const int16_t* c = padded.data() + kPadLeft;
        for (bool cosited : {false, true})
            expect_same_row<int16_t>(2 * static_cast<size_t>(cw), rng, where + (cosited ? "co-sited" : "centred"),
                                     [&](const ConvertKernels& t, int16_t* out) { t.upsample(c, cw, cosited, out); });
    });
}

// A padded row of 2 * cw samples, or one fewer (odd picture widths).
TEST_P(ConvertKernelTier, Downsample) {
    for_each_row(1, [&](const Coding&, int cw, std::mt19937& rng, const std::string& where) {
        const int w = 2 * cw - static_cast<int>(rng() % 2);
        const std::vector<int16_t> padded = sample_row(kAnySample, kPadLeft + w + kPadRight, rng);
        const int16_t* s = padded.data() + kPadLeft;
        for (bool cosited : {false, true}) {
            const std::string what = where + "width " + std::to_string(w) + (cosited ? ", co-sited" : ", centred");
            expect_same_row<int16_t>(cw, rng, what, [&](const ConvertKernels& t, int16_t* out) {
                t.downsample(s, cw, cosited, out);
            });
        }
    });
}

INSTANTIATE_TEST_SUITE_P(VectorTiers, ConvertKernelTier, ::testing::Values(SIMD_SSE2, SIMD_AVX2), tier_name);

// The table of each tier this CPU runs has that tier's own kernel in every
// entry; the conversions take the table of the tier in force, and follow the
// cap as it moves.
TEST(ConvertDispatch, EachTierHasItsOwnKernelsAndTheConversionsFollowTheCap) {
    using Entry = void (*)();
    auto entries = [](const ConvertKernels& t) {
        std::vector<Entry> e = {reinterpret_cast<Entry>(t.interpolate), reinterpret_cast<Entry>(t.upsample),
                                reinterpret_cast<Entry>(t.downsample)};
        for (const CodeKernels& c : t.codes)
            for (Entry f : {reinterpret_cast<Entry>(c.chroma_from), reinterpret_cast<Entry>(c.chroma_to),
                            reinterpret_cast<Entry>(c.interleave), reinterpret_cast<Entry>(c.deinterleave),
                            reinterpret_cast<Entry>(c.decimate)})
                e.push_back(f);
        return e;
    };
    for (int tier = SIMD_SCALAR; tier <= cpu_simd_level(); ++tier) {
        const ConvertKernels& table = *convert_kernels_for(static_cast<SimdLevel>(tier));
        EXPECT_EQ(table.level, tier);
        const std::vector<Entry> own = entries(table);
        for (int other = SIMD_SCALAR; other < tier; ++other) {
            const std::vector<Entry> below = entries(*convert_kernels_for(static_cast<SimdLevel>(other)));
            for (size_t i = 0; i < own.size(); ++i)
                EXPECT_NE(own[i], below[i]) << simd_level_name(static_cast<SimdLevel>(tier)) << " entry " << i
                                            << " is the kernel of " << simd_level_name(static_cast<SimdLevel>(other));
        }
    }
    for (int cap : {SIMD_SCALAR, SIMD_AVX2, SIMD_SSE2, SIMD_SCALAR, SIMD_AVX2}) {
        set_simd_cap(static_cast<SimdLevel>(cap));
        EXPECT_EQ(pelta_cli::convert_kernels(), convert_kernels_for(simd_level())) << "cap " << cap;
    }
    set_simd_cap(SIMD_AVX2);
}

// ---- whole conversions ---------------------------------------------------------

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

}  // namespace

using ConvertIdentity = ConvertTier;
INSTANTIATE_TEST_SUITE_P(Tiers, ConvertIdentity, ::testing::Values(SIMD_SCALAR, SIMD_SSE2, SIMD_AVX2), tier_name);

// 8-bit planes to PIXEL_YC: random bytes, every size, random row slack. The
// pixels beyond each row's w and the rows after the frame start out the same
// in both frames and have to stay so.
TEST_P(ConvertIdentity, PlanesToYcMatchesThePlainConversion) {
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
}

// PIXEL_YC to 8-bit planes from input of one kind. The pixels beyond w hold
// random values too, which must not leak into the planes.
static void expect_yc_to_planes_matches(Fill fill, uint32_t seed) {
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
}

TEST_P(ConvertIdentity, YcToPlanesMatchesOnFullRangeInput) { expect_yc_to_planes_matches(Fill::FullRange, 977); }
TEST_P(ConvertIdentity, YcToPlanesMatchesNearTheEightBitRange) { expect_yc_to_planes_matches(Fill::NearEightBit, 978); }
TEST_P(ConvertIdentity, YcToPlanesMatchesOnExtremes) { expect_yc_to_planes_matches(Fill::Extremes, 979); }

// Frames larger than the sizes above, where the vector loops run many times
// over before the edge columns, and frame after frame through the same
// scratch buffers with changing sizes.
TEST_P(ConvertIdentity, LargeFramesAndChangingSizesMatch) {
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
}
