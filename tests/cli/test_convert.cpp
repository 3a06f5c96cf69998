// Sample conversion and chroma resampling of the command-line host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "convert/convert.h"

using namespace pelta_cli;

namespace {

constexpr Chroma kSubsampled[] = {Chroma::C422, Chroma::C420jpeg, Chroma::C420mpeg2, Chroma::C420paldv, Chroma::C420};

struct Size {
    int w, h;
};
// Even and odd sizes, heights that are and are not multiples of 4, and the
// smallest frames.
constexpr Size kSizes[] = {{16, 8}, {17, 12}, {10, 6}, {9, 7}, {6, 2}, {5, 3}, {1, 1}, {2, 1}, {3, 4}};

std::vector<uint8_t> random_luma(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(static_cast<size_t>(w) * h);
    for (auto& b : v) b = static_cast<uint8_t>(rng() & 0xFF);
    return v;
}

// Y4M planes whose chroma rows hold one value per field (row parity).
std::vector<uint8_t> per_field_planes(Chroma c, int w, int h, uint32_t seed, const uint8_t cb[2], const uint8_t cr[2]) {
    const PlaneSizes ps = plane_sizes(c, w, h);
    std::vector<uint8_t> planes = random_luma(w, h, seed);
    planes.resize(ps.frame());
    for (int comp = 0; comp < 2; ++comp)
        for (int y = 0; y < ps.ch; ++y)
            for (int x = 0; x < ps.cw; ++x)
                planes[ps.luma + comp * ps.chroma + static_cast<size_t>(y) * ps.cw + x] =
                    comp == 0 ? cb[y & 1] : cr[y & 1];
    return planes;
}

}  // namespace

TEST(Convert, EveryEightBitValueRoundTrips) {
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(luma_to_8bit(luma_from_8bit(v)), v) << "luma " << v;
        EXPECT_EQ(chroma_to_8bit(chroma_from_8bit(v)), v) << "chroma " << v;
    }
    // The anchors of the editor's scale.
    EXPECT_EQ(luma_from_8bit(16), 0);
    EXPECT_EQ(luma_from_8bit(235), 4096);
    EXPECT_EQ(chroma_from_8bit(128), 0);
    EXPECT_EQ(chroma_from_8bit(240), 2048);
    // Out-of-range samples clamp instead of wrapping.
    EXPECT_EQ(luma_to_8bit(32767), 255);
    EXPECT_EQ(luma_to_8bit(-32768), 0);
    EXPECT_EQ(chroma_to_8bit(32767), 255);
    EXPECT_EQ(chroma_to_8bit(-32768), 0);
}

// Codes of every depth a Y4M stream can have, exhaustively. At 8 to 12 bits
// every code, in the nominal ranges and beyond, comes back exactly; at 14 and
// 16 bits, where several codes share a PIXEL_YC value, within the least error
// that allows (2 and 7 codes), and every PIXEL_YC value that a code decodes
// to comes back exactly. Every depth reads the code 2^k * c8 as the 8-bit
// formulas read c8, and from 9 bits on encoding picks the code whose value is
// nearest. These are the bounds docs/chroma.md states.
TEST(Convert, CodesOfEveryDepthRoundTripWithinTheirBounds) {
    struct Bound {
        int depth;
        int luma_error, chroma_error;  // largest |code - encode(decode(code))|
        int chroma_error_top;          // ... for chroma codes above 64525 (16 bits)
        int luma_value, chroma_value;  // largest |value - decode(encode(value))|
    };
    const Bound bounds[] = {{8, 0, 0, 0, 17, 10}, {9, 0, 0, 0, 5, 5},  {10, 0, 0, 0, 2, 2}, {11, 0, 0, 0, 1, 1},
                            {12, 0, 0, 0, 1, 1},  {13, 1, 1, 1, 0, 0}, {14, 2, 2, 2, 0, 0}, {16, 7, 7, 8, 0, 0}};
    for (const Bound& b : bounds) {
        const int n = b.depth, top = max_code(n), unit = 1 << (n - 8);
        SCOPED_TRACE(std::to_string(n) + " bits");
        int luma_err = 0, chroma_err = 0, chroma_err_top = 0;
        for (int c = 0; c <= top; ++c) {
            luma_err = std::max(luma_err, std::abs(luma_to_code(luma_from_code(c, n), n) - c));
            const int e = std::abs(chroma_to_code(chroma_from_code(c, n), n) - c);
            int& worst = c > 64525 ? chroma_err_top : chroma_err;
            worst = std::max(worst, e);
        }
        EXPECT_EQ(luma_err, b.luma_error);
        EXPECT_EQ(chroma_err, b.chroma_error);
        EXPECT_LE(chroma_err_top, b.chroma_error_top);
        // The nominal ranges sit where the 8-bit ones do.
        EXPECT_EQ(luma_from_code(16 * unit, n), 0);
        EXPECT_EQ(luma_from_code(235 * unit, n), 4096);
        EXPECT_EQ(chroma_from_code(128 * unit, n), 0);
        EXPECT_EQ(chroma_from_code(240 * unit, n), 2048);
        for (int c8 = 0; c8 < 256; ++c8) {
            ASSERT_EQ(luma_from_code(c8 * unit, n), luma_from_8bit(c8)) << c8;
            ASSERT_EQ(chroma_from_code(c8 * unit, n), chroma_from_8bit(c8)) << c8;
        }
        // Values, every one from the lowest code's to the highest code's.
        auto check_values = [&](auto from, auto to, int bound, const char* what) {
            int worst = 0;
            for (int v = from(0, n); v <= from(top, n); ++v) {
                const int c = to(v, n), back = from(c, n);
                worst = std::max(worst, std::abs(back - v));
                if (n > 8) {
                    for (int other : {c - 1, c + 1}) {
                        if (other >= 0 && other <= top) {
                            ASSERT_LE(std::abs(back - v), std::abs(from(other, n) - v)) << what << " value " << v;
                        }
                    }
                }
                if (v > from(0, n)) {
                    ASSERT_GE(c, to(v - 1, n)) << what << " value " << v;
                }
            }
            EXPECT_EQ(worst, bound) << what;
        };
        check_values(luma_from_code, luma_to_code, b.luma_value, "luma");
        check_values(chroma_from_code, chroma_to_code, b.chroma_value, "chroma");
        // Far outside, encoding clamps.
        EXPECT_EQ(luma_to_code(-32768, n), 0);
        EXPECT_EQ(luma_to_code(32767, n), top);
        EXPECT_EQ(chroma_to_code(-32768, n), 0);
        EXPECT_EQ(chroma_to_code(32767, n), top);
    }
}

TEST(Convert, PlaneSizesRoundOddDimensionsUp) {
    EXPECT_EQ(plane_sizes(Chroma::C420jpeg, 9, 7).frame(), 63u + 2 * 5 * 4);
    EXPECT_EQ(plane_sizes(Chroma::C422, 9, 7).frame(), 63u + 2 * 5 * 7);
    EXPECT_EQ(plane_sizes(Chroma::C444, 9, 7).frame(), 63u * 3);
    EXPECT_EQ(plane_sizes(Chroma::Mono, 9, 7).frame(), 63u);
}

TEST(Convert, FullResolutionFormatsRoundTripAnyPicture) {
    for (Chroma c : {Chroma::C444, Chroma::Mono})
        for (Size s : kSizes) {
            const PlaneSizes ps = plane_sizes(c, s.w, s.h);
            std::vector<uint8_t> planes = random_luma(s.w, static_cast<int>(ps.frame() / s.w), 7);
            planes.resize(ps.frame());
            const int stride = s.w + 3;
            std::vector<PIXEL_YC> yc(static_cast<size_t>(stride) * s.h, PIXEL_YC{1, 2, 3});
            planes_to_yc(planes.data(), c, s.w, s.h, yc.data(), stride);
            std::vector<uint8_t> back(ps.frame());
            yc_to_planes(yc.data(), stride, s.w, s.h, c, back.data());
            EXPECT_EQ(back, planes) << chroma_tag(c) << " " << s.w << "x" << s.h;
            // Columns beyond w are not touched.
            EXPECT_EQ(yc[static_cast<size_t>(s.w)].y, 1);
        }
}

// The property the interlaced chroma design promises: chroma that is constant
// over each field, whatever the two fields hold, comes back unchanged, and at
// full resolution every row of a field carries its field's value.
TEST(Convert, ChromaConstantOverEachFieldSurvivesTheRoundTrip) {
    const uint8_t cb[2] = {40, 200}, cr[2] = {230, 17};
    for (Chroma c : kSubsampled)
        for (Size s : kSizes) {
            const std::vector<uint8_t> planes = per_field_planes(c, s.w, s.h, 11, cb, cr);
            const int stride = s.w + 5;
            std::vector<PIXEL_YC> yc(static_cast<size_t>(stride) * s.h);
            planes_to_yc(planes.data(), c, s.w, s.h, yc.data(), stride);
            const PlaneSizes ps = plane_sizes(c, s.w, s.h);
            for (int y = 0; y < s.h; ++y) {
                // A frame of one 4:2:0 chroma row (h <= 2) has chroma in one field only.
                const int field = ps.ch == 1 ? 0 : (y & 1);
                for (int x = 0; x < s.w; ++x) {
                    const PIXEL_YC& p = yc[static_cast<size_t>(y) * stride + x];
                    ASSERT_EQ(p.cb, chroma_from_8bit(cb[field])) << chroma_tag(c) << " " << s.w << "x" << s.h
                                                                 << " at " << x << "," << y;
                    ASSERT_EQ(p.cr, chroma_from_8bit(cr[field]));
                }
            }
            std::vector<uint8_t> back(planes.size());
            yc_to_planes(yc.data(), stride, s.w, s.h, c, back.data());
            EXPECT_EQ(back, planes) << chroma_tag(c) << " " << s.w << "x" << s.h;
        }
}

// 4:2:0 resampling never takes anything from the other field, in either
// direction: one field's content may change arbitrarily without moving a
// single sample of the other field.
TEST(Convert, FourTwoZeroFieldsNeverMix) {
    const int w = 12, h = 16, stride = 12;
    for (Chroma c : {Chroma::C420jpeg, Chroma::C420mpeg2}) {
        for (int field = 0; field < 2; ++field) {
            const PlaneSizes ps = plane_sizes(c, w, h);
            std::vector<uint8_t> a(ps.frame()), b;
            std::mt19937 rng(3);
            for (auto& v : a) v = static_cast<uint8_t>(rng());
            b = a;
            // Scramble the chroma rows of the other field in b.
            for (size_t k = 0; k < 2; ++k)
                for (int y = 1 - field; y < ps.ch; y += 2)
                    for (int x = 0; x < ps.cw; ++x)
                        b[ps.luma + k * ps.chroma + static_cast<size_t>(y) * ps.cw + x] = static_cast<uint8_t>(rng());
            std::vector<PIXEL_YC> ya(static_cast<size_t>(w) * h), yb(ya.size());
            planes_to_yc(a.data(), c, w, h, ya.data(), stride);
            planes_to_yc(b.data(), c, w, h, yb.data(), stride);
            for (int y = field; y < h; y += 2)
                for (int x = 0; x < w; ++x) {
                    const size_t i = static_cast<size_t>(y) * stride + x;
                    ASSERT_EQ(ya[i].cb, yb[i].cb) << chroma_tag(c) << " upsampling mixed fields at " << x << "," << y;
                    ASSERT_EQ(ya[i].cr, yb[i].cr);
                }

            // Downsampling: scramble the other field's rows at full resolution.
            std::vector<PIXEL_YC> za = ya, zb = ya;
            for (int y = 1 - field; y < h; y += 2)
                for (int x = 0; x < w; ++x)
                    zb[static_cast<size_t>(y) * stride + x] =
                        PIXEL_YC{0, static_cast<int16_t>(rng() % 4000 - 2000), static_cast<int16_t>(rng() % 4000 - 2000)};
            std::vector<uint8_t> pa(ps.frame()), pb(ps.frame());
            yc_to_planes(za.data(), stride, w, h, c, pa.data());
            yc_to_planes(zb.data(), stride, w, h, c, pb.data());
            for (size_t k = 0; k < 2; ++k)
                for (int y = field; y < ps.ch; y += 2)
                    for (int x = 0; x < ps.cw; ++x) {
                        const size_t i = ps.luma + k * ps.chroma + static_cast<size_t>(y) * ps.cw + x;
                        ASSERT_EQ(pa[i], pb[i]) << chroma_tag(c) << " downsampling mixed fields at " << x << "," << y;
                    }
        }
    }
}

// Chroma that changes linearly within each field (vertically and across)
// comes back within one code value away from the frame's edges: the
// interpolation and decimation agree on where the chroma samples sit. A
// siting mistake of half a chroma sample fails this by several codes.
TEST(Convert, LinearChromaRampsComeBackAwayFromTheEdges) {
    const int w = 40, h = 48;
    for (Chroma c : kSubsampled) {
        const PlaneSizes ps = plane_sizes(c, w, h);
        std::vector<uint8_t> planes(ps.frame(), 128);
        // Steep enough that a quarter of a sample's misplacement shows.
        const int vslope = is_420(c) ? 8 : 1;
        for (int y = 0; y < ps.ch; ++y)
            for (int x = 0; x < ps.cw; ++x) {
                const int field = is_420(c) ? (y & 1) : 0;
                const int line = is_420(c) ? y / 2 : y;
                planes[ps.luma + static_cast<size_t>(y) * ps.cw + x] =
                    static_cast<uint8_t>(40 + 6 * x + vslope * line);
                planes[ps.luma + ps.chroma + static_cast<size_t>(y) * ps.cw + x] =
                    static_cast<uint8_t>(200 - 5 * x - vslope * line + 30 * field);
            }
        std::vector<PIXEL_YC> yc(static_cast<size_t>(w) * h);
        planes_to_yc(planes.data(), c, w, h, yc.data(), w);
        std::vector<uint8_t> back(planes.size());
        yc_to_planes(yc.data(), w, w, h, c, back.data());
        const int margin_y = is_420(c) ? 2 : 0;
        for (size_t k = 0; k < 2; ++k)
            for (int y = margin_y; y < ps.ch - margin_y; ++y)
                for (int x = 1; x < ps.cw - 1; ++x) {
                    const size_t i = ps.luma + k * ps.chroma + static_cast<size_t>(y) * ps.cw + x;
                    EXPECT_NEAR(back[i], planes[i], 1) << chroma_tag(c) << " plane " << k << " at " << x << "," << y;
                }
    }
}

// Linear interpolation reproduces a linear ramp exactly, so the upsampled
// values show where each format's chroma samples sit: centred formats half a
// luma pixel right of the even columns, co-sited ones on them, and 4:2:0
// chroma a quarter (top field) or three quarters (bottom field) of a field
// line below luma line 2j of its field.
TEST(Convert, ChromaSitsWhereItsFormatPutsIt) {
    const int w = 32, h = 40;
    for (Chroma c : kSubsampled) {
        const PlaneSizes ps = plane_sizes(c, w, h);
        // Cb: a horizontal ramp; Cr: a ramp down each field, offset per field.
        std::vector<uint8_t> planes(ps.frame(), 128);
        for (int y = 0; y < ps.ch; ++y)
            for (int x = 0; x < ps.cw; ++x) {
                planes[ps.luma + static_cast<size_t>(y) * ps.cw + x] = static_cast<uint8_t>(30 + 9 * x);
                planes[ps.luma + ps.chroma + static_cast<size_t>(y) * ps.cw + x] =
                    static_cast<uint8_t>(20 + 9 * (y / 2) + 60 * (y & 1));
            }
        std::vector<PIXEL_YC> yc(static_cast<size_t>(w) * h);
        planes_to_yc(planes.data(), c, w, h, yc.data(), w);
        auto cb_at = [&](int i) { return chroma_from_8bit(planes[ps.luma + static_cast<size_t>(i)]); };
        for (int x = 2; x < w - 2; ++x) {
            const double pos = chroma_cosited(c) ? x / 2.0 : (x - 0.5) / 2.0;
            const int i = static_cast<int>(pos);
            const double want = cb_at(i) + (pos - i) * (cb_at(i + 1) - cb_at(i));
            EXPECT_NEAR(yc[static_cast<size_t>(x)].cb, want, 1.0) << chroma_tag(c) << " column " << x;
        }
        if (!is_420(c)) continue;
        auto cr_at = [&](int row) {
            return chroma_from_8bit(planes[ps.luma + ps.chroma + static_cast<size_t>(row) * ps.cw]);
        };
        for (int y = 4; y < h - 4; ++y) {
            const int field = y & 1, line = y / 2;
            const double pos = (line - (field ? 0.75 : 0.25)) / 2.0;  // in chroma lines of the field
            const int j = static_cast<int>(pos);
            const double want =
                cr_at(2 * j + field) + (pos - j) * (cr_at(2 * (j + 1) + field) - cr_at(2 * j + field));
            EXPECT_NEAR(yc[static_cast<size_t>(y) * w].cr, want, 1.0) << chroma_tag(c) << " row " << y;
        }
    }
}
