// The plain conversions, kept unchanged as the reference for the fast ones.
// Only the per-sample formulas are spelled out here again, so that a change
// to them in convert.h shows up as a difference too.
#include "reference_convert.h"

#include <algorithm>
#include <vector>

namespace pelta_cli_reference {

using pelta_cli::chroma_cosited;
using pelta_cli::plane_sizes;
using pelta_cli::PlaneSizes;

namespace {

inline int16_t luma_from_8bit(int y8) { return static_cast<int16_t>(((y8 * 1197) >> 6) - 299); }
inline int16_t chroma_from_8bit(int c8) { return static_cast<int16_t>(((c8 - 128) * 4681 + 164) >> 8); }
inline uint8_t clamp_8bit(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
inline uint8_t luma_to_8bit(int y) { return clamp_8bit(((y * 219 + 383) >> 12) + 16); }
inline uint8_t chroma_to_8bit(int c) { return clamp_8bit((((c + 2048) * 7 + 66) >> 7) + 16); }

// The same at N = 9..16 bits, with u = 2^(N-8); codes above 2^N - 1 read as
// 2^N - 1.
int max_code(int n) { return (1 << n) - 1; }
int clamp_code(int v, int n) { return v < 0 ? 0 : v > max_code(n) ? max_code(n) : v; }
int luma_from(int c, int n) {
    if (n == 8) return luma_from_8bit(c);
    return ((std::min(c, max_code(n)) * 1197) >> (n - 2)) - 299;
}
int chroma_from(int c, int n) {
    if (n == 8) return chroma_from_8bit(c);
    const int u = 1 << (n - 8);
    return ((std::min(c, max_code(n)) - 128 * u) * 4681 + 164 * u) >> n;
}
int luma_to(int y, int n) {
    if (n == 8) return luma_to_8bit(y);
    const int u = 1 << (n - 8);
    return clamp_code(((y * 219 * u + 2048 + 57 * u) >> 12) + 16 * u, n);
}
int chroma_to(int c, int n) {
    if (n == 8) return chroma_to_8bit(c);
    const int u = 1 << (n - 8);
    return clamp_code((((c + 2048) * 7 * u + 64 - u) >> 7) + 16 * u, n);
}

// Sample i of a plane: a byte, or two bytes little-endian.
int sample(const uint8_t* p, size_t i, int n) { return n == 8 ? p[i] : p[2 * i] | p[2 * i + 1] << 8; }
void set_sample(uint8_t* p, size_t i, int n, int v) {
    if (n == 8) {
        p[i] = static_cast<uint8_t>(v);
    } else {
        p[2 * i] = static_cast<uint8_t>(v & 0xFF);
        p[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
}

inline int at_clamped(const int* v, int n, int i) { return v[i < 0 ? 0 : i >= n ? n - 1 : i]; }

// Horizontal 2:1 interpolation of one row. Co-sited chroma lands on the even
// output columns and is averaged in between; centred chroma sits a quarter
// pixel from each of its two columns (weights 3/4, 1/4).
void upsample_row(const int* c, int cw, int* out, int w, bool cosited) {
    for (int i = 0; i < cw; ++i) {
        const int x = 2 * i;
        const int prev = at_clamped(c, cw, i - 1), cur = c[i], next = at_clamped(c, cw, i + 1);
        if (cosited) {
            out[x] = cur;
            if (x + 1 < w) out[x + 1] = (cur + next + 1) >> 1;
        } else {
            out[x] = (prev + 3 * cur + 2) >> 2;
            if (x + 1 < w) out[x + 1] = (3 * cur + next + 2) >> 2;
        }
    }
}

// Horizontal 2:1 decimation of one row with the transposed (and normalised)
// interpolation kernel: 1-2-1 for co-sited chroma, 1-3-3-1 for centred.
void downsample_row(const int* s, int w, int* out, int cw, bool cosited) {
    for (int i = 0; i < cw; ++i) {
        const int x = 2 * i;
        if (cosited)
            out[i] = (at_clamped(s, w, x - 1) + 2 * s[x] + at_clamped(s, w, x + 1) + 2) >> 2;
        else
            out[i] = (at_clamped(s, w, x - 1) + 3 * s[x] + 3 * at_clamped(s, w, x + 1) +
                      at_clamped(s, w, x + 2) + 4) >> 3;
    }
}

// Lines of field `parity` in a plane of `rows` rows: rows parity, parity+2, ...
inline int field_lines(int rows, int parity) { return (rows - parity + 1) / 2; }

// Vertical 2:1 interpolation of 4:2:0 chroma, field by field. Chroma row k
// belongs to field k % 2, like luma row k. Within its field, chroma line j
// sits a quarter of a field line below luma line 2j in the top field and three
// quarters below it in the bottom field (the interlaced 4:2:0 siting), and the
// luma lines are interpolated linearly from the two nearest chroma lines of the
// same field (weights in eighths). Rows of the other field are never read.
void upsample_fields(const int* c, int cw, int ch, int* out, int h) {
    for (int parity = 0; parity < 2; ++parity) {
        int src_parity = parity;
        if (field_lines(ch, parity) == 0) src_parity = 1 - parity;  // h <= 2: one chroma row only
        const int cn = field_lines(ch, src_parity);
        if (cn == 0) continue;
        const int ln = field_lines(h, parity);
        auto chroma_line = [&](int j) {
            j = j < 0 ? 0 : j >= cn ? cn - 1 : j;
            return c + static_cast<size_t>(2 * j + src_parity) * cw;
        };
        for (int i = 0; i < ln; ++i) {
            const int j = i / 2;
            const int* a;
            const int* b;
            int wa, wb;
            if ((i & 1) == 0) {
                a = chroma_line(j - 1);
                b = chroma_line(j);
                wa = parity == 0 ? 1 : 3;
            } else {
                a = chroma_line(j);
                b = chroma_line(j + 1);
                wa = parity == 0 ? 5 : 7;
            }
            wb = 8 - wa;
            int* o = out + static_cast<size_t>(2 * i + parity) * cw;
            for (int x = 0; x < cw; ++x) o[x] = (wa * a[x] + wb * b[x] + 4) >> 3;
        }
    }
}

// Vertical 2:1 decimation of 4:2:0 chroma within each field, with the
// transposed interpolation kernel: weights 3-7-5-1 (top field) or 1-5-7-3
// (bottom field), in sixteenths, on luma lines 2j-1 .. 2j+2 of the field.
void downsample_fields(const int* s, int cw, int h, int* out, int ch) {
    for (int parity = 0; parity < 2; ++parity) {
        const int cn = field_lines(ch, parity);
        const int ln = field_lines(h, parity);
        if (cn == 0 || ln == 0) continue;
        static const int top[4] = {3, 7, 5, 1};
        static const int bottom[4] = {1, 5, 7, 3};
        const int* wt = parity == 0 ? top : bottom;
        for (int j = 0; j < cn; ++j) {
            const int* rows[4];
            for (int k = 0; k < 4; ++k) {
                int i = 2 * j - 1 + k;
                i = i < 0 ? 0 : i >= ln ? ln - 1 : i;
                rows[k] = s + static_cast<size_t>(2 * i + parity) * cw;
            }
            int* o = out + static_cast<size_t>(2 * j + parity) * cw;
            for (int x = 0; x < cw; ++x)
                o[x] = (wt[0] * rows[0][x] + wt[1] * rows[1][x] + wt[2] * rows[2][x] + wt[3] * rows[3][x] + 8) >> 4;
        }
    }
}

// Scratch space reused from frame to frame.
struct Scratch {
    std::vector<int> plane, tall, full;
};
Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

// One chroma plane (cw x ch, already in PIXEL_YC units) up to w x h.
const int* chroma_to_full(const int* plane, Chroma c, int w, int h, int cw, int ch) {
    Scratch& s = scratch();
    const size_t full = static_cast<size_t>(w) * h;
    if (s.full.size() < full) s.full.resize(full);
    const int* rows = plane;
    if (ch != h) {
        const size_t tall = static_cast<size_t>(cw) * h;
        if (s.tall.size() < tall) s.tall.resize(tall);
        upsample_fields(plane, cw, ch, s.tall.data(), h);
        rows = s.tall.data();
    }
    if (cw == w) return rows;
    const bool cosited = chroma_cosited(c);
    for (int y = 0; y < h; ++y)
        upsample_row(rows + static_cast<size_t>(y) * cw, cw, s.full.data() + static_cast<size_t>(y) * w, w, cosited);
    return s.full.data();
}

}  // namespace

void planes_to_yc(const uint8_t* planes, Chroma c, int w, int h, PIXEL_YC* dst, int stride, int depth) {
    const PlaneSizes ps = plane_sizes(c, w, h, depth);
    const size_t chroma_samples = static_cast<size_t>(ps.cw) * ps.ch;
    for (int y = 0; y < h; ++y) {
        PIXEL_YC* row = dst + static_cast<size_t>(y) * stride;
        for (int x = 0; x < w; ++x)
            row[x].y = static_cast<int16_t>(luma_from(sample(planes, static_cast<size_t>(y) * w + x, depth), depth));
    }
    if (c == Chroma::Mono) {
        for (int y = 0; y < h; ++y) {
            PIXEL_YC* row = dst + static_cast<size_t>(y) * stride;
            for (int x = 0; x < w; ++x) row[x].cb = row[x].cr = 0;
        }
        return;
    }
    for (int comp = 0; comp < 2; ++comp) {
        const uint8_t* src = planes + ps.luma + comp * ps.chroma;
        Scratch& s = scratch();
        if (s.plane.size() < chroma_samples) s.plane.resize(chroma_samples);
        for (size_t i = 0; i < chroma_samples; ++i) s.plane[i] = chroma_from(sample(src, i, depth), depth);
        const int* full = chroma_to_full(s.plane.data(), c, w, h, ps.cw, ps.ch);
        for (int y = 0; y < h; ++y) {
            PIXEL_YC* row = dst + static_cast<size_t>(y) * stride;
            const int* v = full + static_cast<size_t>(y) * w;
            if (comp == 0)
                for (int x = 0; x < w; ++x) row[x].cb = static_cast<int16_t>(v[x]);
            else
                for (int x = 0; x < w; ++x) row[x].cr = static_cast<int16_t>(v[x]);
        }
    }
}

void yc_to_planes(const PIXEL_YC* src, int stride, int w, int h, Chroma c, uint8_t* planes, int depth) {
    const PlaneSizes ps = plane_sizes(c, w, h, depth);
    const size_t chroma_samples = static_cast<size_t>(ps.cw) * ps.ch;
    for (int y = 0; y < h; ++y) {
        const PIXEL_YC* row = src + static_cast<size_t>(y) * stride;
        for (int x = 0; x < w; ++x)
            set_sample(planes, static_cast<size_t>(y) * w + x, depth, luma_to(row[x].y, depth));
    }
    if (c == Chroma::Mono) return;
    Scratch& s = scratch();
    const size_t full = static_cast<size_t>(w) * h;
    if (s.full.size() < full) s.full.resize(full);
    if (s.tall.size() < static_cast<size_t>(ps.cw) * h) s.tall.resize(static_cast<size_t>(ps.cw) * h);
    if (s.plane.size() < chroma_samples) s.plane.resize(chroma_samples);
    const bool cosited = chroma_cosited(c);
    for (int comp = 0; comp < 2; ++comp) {
        for (int y = 0; y < h; ++y) {
            const PIXEL_YC* row = src + static_cast<size_t>(y) * stride;
            int* v = s.full.data() + static_cast<size_t>(y) * w;
            for (int x = 0; x < w; ++x) v[x] = comp == 0 ? row[x].cb : row[x].cr;
        }
        // Horizontal first (w -> cw on every row), then vertical within fields.
        const int* rows = s.full.data();
        if (ps.cw != w) {
            for (int y = 0; y < h; ++y)
                downsample_row(s.full.data() + static_cast<size_t>(y) * w, w,
                               s.tall.data() + static_cast<size_t>(y) * ps.cw, ps.cw, cosited);
            rows = s.tall.data();
        }
        const int* plane = rows;
        if (ps.ch != h) {
            downsample_fields(rows, ps.cw, h, s.plane.data(), ps.ch);
            plane = s.plane.data();
        }
        uint8_t* dst = planes + ps.luma + comp * ps.chroma;
        for (size_t i = 0; i < chroma_samples; ++i) set_sample(dst, i, depth, chroma_to(plane[i], depth));
    }
}

}  // namespace pelta_cli_reference
