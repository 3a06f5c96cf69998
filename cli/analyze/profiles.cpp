#include "analyze/profiles.h"

#include <algorithm>
#include <cmath>

#include "window/shift.h"

namespace pelta_cli::analysis {

void make_profiles(const PIXEL_YC* frame, int stride, int x0, int x1, int h, int block, bool colour, Profiles& out) {
    out.n = (x1 - x0 + block - 1) / block;
    out.h = h;
    const size_t n = static_cast<size_t>(out.n);
    out.y.resize(n * static_cast<size_t>(h));
    out.cb.resize(colour ? out.y.size() : 0);
    out.cr.resize(colour ? out.y.size() : 0);
    for (int row = 0; row < h; ++row) {
        const PIXEL_YC* p = frame + static_cast<size_t>(row) * static_cast<size_t>(stride);
        float* oy = out.y.data() + static_cast<size_t>(row) * n;
        int i = 0;
        if (block == kBlock)  // whole blocks of kBlock columns, unrolled
            for (const int whole = (x1 - x0) / kBlock; i < whole; ++i) {
                const PIXEL_YC* q = p + x0 + i * kBlock;
                oy[i] = static_cast<float>(int32_t{q[0].y} + q[1].y + q[2].y + q[3].y + q[4].y + q[5].y + q[6].y + q[7].y);
            }
        for (; i < out.n; ++i) {
            const int a = x0 + i * block, b = std::min(x1, a + block);
            int32_t s = 0;
            for (int x = a; x < b; ++x) s += p[x].y;
            oy[i] = static_cast<float>(s);
        }
        if (!colour) continue;
        float* ob = out.cb.data() + static_cast<size_t>(row) * n;
        float* orr = out.cr.data() + static_cast<size_t>(row) * n;
        for (int i = 0; i < out.n; ++i) {
            const int a = x0 + i * block, b = std::min(x1, a + block);
            int32_t sb = 0, sr = 0;
            for (int x = a; x < b; ++x) {
                sb += p[x].cb;
                sr += p[x].cr;
            }
            ob[i] = static_cast<float>(sb);
            orr[i] = static_cast<float>(sr);
        }
    }
}

void weave_energy(const float* a, const float* b, int parity, int n, int h, double* comb, double* field) {
    auto row = [&](int y) { return ((y & 1) == parity ? a : b) + static_cast<size_t>(y) * static_cast<size_t>(n); };
    for (int y = 2; y + 2 < h; ++y) {
        const float *m2 = row(y - 2), *m1 = row(y - 1), *c = row(y), *p1 = row(y + 1), *p2 = row(y + 2);
        for (int i = 0; i < n; ++i) {
            const double d1 = static_cast<double>(m1[i]) + p1[i] - 2.0 * c[i];
            comb[i] += d1 * d1;
        }
        if (field)
            for (int i = 0; i < n; ++i) {
                const double d2 = static_cast<double>(m2[i]) + p2[i] - 2.0 * c[i];
                field[i] += d2 * d2;
            }
    }
}

void smoothed_comb(const float* rows, int n, int h, double* comb) {
    std::vector<double> s(static_cast<size_t>(n) * 3);
    auto row = [&](int y) { return rows + static_cast<size_t>(y) * static_cast<size_t>(n); };
    // s holds rows y-1, y and y+1 smoothed, in turn.
    auto smooth = [&](int y, double* out) {
        const float *a = row(y - 2), *b = row(y), *c = row(y + 2);
        for (int i = 0; i < n; ++i) out[i] = static_cast<double>(a[i]) + 2.0 * b[i] + c[i];
    };
    double* r[3] = {s.data(), s.data() + n, s.data() + 2 * n};
    if (h < 7) return;
    smooth(2, r[0]);
    smooth(3, r[1]);
    for (int y = 3; y + 3 < h; ++y) {
        smooth(y + 1, r[2]);
        for (int i = 0; i < n; ++i) {
            const double d = r[0][i] + r[2][i] - 2 * r[1][i];
            comb[i] += d * d;
        }
        std::rotate(r, r + 1, r + 3);
    }
}

namespace {

// A source row of the moved field outside the frame goes two rows at a
// time toward row f (inside), as the filter's edge rule does.
int keep_inside(long row, long f, int h) {
    if (row < 0) return static_cast<int>(f & 1);
    if (row >= h) return ((h - 1) & 1) == (f & 1) ? h - 1 : h - 2;
    return static_cast<int>(row);
}

}  // namespace

RebuildMap rebuild_map(int h, long frame, int tff, int shift) {
    RebuildMap map;
    map.rows.resize(static_cast<size_t>(std::max(0, h)));
    // Case A (the frame's parity is TFF's): the even rows are moved, and a
    // moved row takes its picture from further down; Case B: the odd rows,
    // from further up.
    const bool case_a = (frame & 1) == (tff & 1);
    const int moved = case_a ? 0 : 1;
    const long sigma = case_a ? 1 : -1;
    const long q = shift >> 4;
    const int fraction = shift & 15;
    int32_t taps[4] = {32768, 0, 0, 0};
    if (fraction) pelta::make_shift_taps(taps, shift);
    for (int y = 0; y < h; ++y) {
        RebuildMap::Row& r = map.rows[static_cast<size_t>(y)];
        if ((y & 1) != moved) continue;  // own row
        auto average = [&] {
            r.kind = 2;
            r.n = 2;
            r.rows[0] = y == 0 ? y + 1 : y - 1;
            r.rows[1] = y + 1 == h ? y - 1 : y + 1;
            if (r.rows[0] >= h || r.rows[1] < 0) {  // a frame of one row: kept
                r.kind = 1;
                r.n = 1;
                r.rows[0] = y;
                r.taps[0] = 1;
            } else {
                r.taps[0] = r.taps[1] = 0.5f;
            }
        };
        r.kind = 1;
        if (!fraction) {
            const long src = y + sigma * 2 * q;
            if (src < 0 || src >= h) {
                average();
                continue;
            }
            r.n = 1;
            r.rows[0] = static_cast<int32_t>(src);
            r.taps[0] = 1;
            continue;
        }
        const long f = y + sigma * (2 * q + 2);
        if (f < 0 || f >= h) {
            average();
            continue;
        }
        r.n = 4;
        r.rows[0] = keep_inside(f - 2 * sigma, f, h);
        r.rows[1] = static_cast<int32_t>(f);
        r.rows[2] = keep_inside(f - 4 * sigma, f, h);
        r.rows[3] = keep_inside(f + 2 * sigma, f, h);
        for (int k = 0; k < 4; ++k) r.taps[k] = static_cast<float>(taps[k]) / 32768.f;
    }
    return map;
}

void apply_rebuild(const RebuildMap& map, const float* own, const float* partner, int n, float* out) {
    const int h = static_cast<int>(map.rows.size());
    const size_t w = static_cast<size_t>(n);
    for (int y = 0; y < h; ++y) {
        const RebuildMap::Row& r = map.rows[static_cast<size_t>(y)];
        float* o = out + static_cast<size_t>(y) * w;
        if (r.kind == 0) {
            std::copy(own + static_cast<size_t>(y) * w, own + static_cast<size_t>(y + 1) * w, o);
            continue;
        }
        const float* src = r.kind == 1 ? partner : own;
        const float* s0 = src + static_cast<size_t>(r.rows[0]) * w;
        if (r.n == 1) {
            std::copy(s0, s0 + w, o);
        } else if (r.n == 2) {
            const float* s1 = src + static_cast<size_t>(r.rows[1]) * w;
            for (size_t i = 0; i < w; ++i) o[i] = r.taps[0] * s0[i] + r.taps[1] * s1[i];
        } else {
            const float* s1 = src + static_cast<size_t>(r.rows[1]) * w;
            const float* s2 = src + static_cast<size_t>(r.rows[2]) * w;
            const float* s3 = src + static_cast<size_t>(r.rows[3]) * w;
            const float t0 = r.taps[0], t1 = r.taps[1], t2 = r.taps[2], t3 = r.taps[3];
            for (size_t i = 0; i < w; ++i) o[i] = t0 * s0[i] + t1 * s1[i] + t2 * s2[i] + t3 * s3[i];
        }
    }
}

void rebuild_comb(const RebuildMap& map, const float* own, const float* partner, int n, std::vector<float>& rows,
                  float* comb) {
    const int h = static_cast<int>(map.rows.size());
    const size_t w = static_cast<size_t>(n);
    rows.resize(w * static_cast<size_t>(std::max(0, h)));
    apply_rebuild(map, own, partner, n, rows.data());
    std::fill(comb, comb + w, 0.f);
    for (int y = 2; y + 2 < h; ++y) {
        const float* m1 = rows.data() + static_cast<size_t>(y - 1) * w;
        const float* c = m1 + w;
        const float* p1 = c + w;
        for (size_t i = 0; i < w; ++i) {
            const float d = m1[i] + p1[i] - 2.f * c[i];
            comb[i] += d * d;
        }
    }
}

void field_change(const float* now, const float* before, int n, int h, float* change) {
    std::vector<double> sum(2 * static_cast<size_t>(n), 0.0);
    for (int y = 0; y < h; ++y) {
        const float* a = now + static_cast<size_t>(y) * static_cast<size_t>(n);
        const float* b = before + static_cast<size_t>(y) * static_cast<size_t>(n);
        double* s = sum.data() + (y & 1);
        for (int i = 0; i < n; ++i) s[2 * i] += std::fabs(static_cast<double>(a[i]) - b[i]);
    }
    for (int p = 0; p < 2; ++p) {
        const int lines = (h - p + 1) / 2;
        for (int i = 0; i < n; ++i)
            change[2 * i + p] = lines > 0 ? static_cast<float>(sum[2 * static_cast<size_t>(i) + static_cast<size_t>(p)] / lines) : 0.f;
    }
}

}  // namespace pelta_cli::analysis
