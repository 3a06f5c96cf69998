// Makes interlaced test clips whose right pelta settings are known, from a
// still picture (a binary PPM, such as ffmpeg renders from its test sources)
// panned across the frame:
//
//   pelta_make_clip --kind K --picture FILE.ppm [--size WxH] [--frames N]
//                   [--chroma 420|420i|422|444] [--depth 8..16]
//                   [--late top|bottom|alternate|random] [--late-period N]
//                   [--band LEFT,WIDTH] [--shift S] [--tff 0|1]
//                   [--band-motion pair|late] [--band-scene other|same]
//                   [--pan VX,VY] [--band-pan VX,VY] [--zoom Z] [--cut F[,F...]]
//                   [--picture2 FILE.ppm] [--still A,B]... [--black A,B]...
//                   [--grain SIGMA] [--soft SIGMA[,SIGMAV]] [--fit scale|mirror]
//                   [--seed N] [--part FIRST,COUNT] [--truth FILE.json] > clip.y4m
//
// Kinds, each at 29.97 frames a second, top field first:
//   progressive  every frame one picture of a pan
//   pulldown     a 23.976-picture pan with 3:2 pulldown (fields A A B B B C C D D D)
//   interlaced   each field its own moment of the pan (59.94 pictures a second)
//   match        pictures of the pan with one field a frame late: --late bottom,
//                top, alternate (bottom late for --late-period frames, default
//                30, then top, ...) or random (stretches of 8 to 60 frames,
//                drawn from --seed)
//   window       match outside columns LEFT..LEFT+WIDTH-1; inside them a band
//                whose fields are displaced against each other by S/16 field
//                lines, so that pelta restores it with --left LEFT --width WIDTH
//                --shift S (and --tff T, see --band-motion).
//
// The band (--band-motion):
//   pair  (default) one picture per frame pair (2k, 2k+1) in both fields, the
//         field that pelta moves under --tff T displaced: any pairing of the
//         pair's fields restores it, so the band holds either TFF setting.
//   late  one picture per frame, its late field (bottom for --tff 1, top for
//         --tff 0) a frame late and displaced: only --tff T restores it.
// --band-scene other (default) pans another place of the picture in the band;
// same shows the picture around it (the band differs only in its fields'
// timing and displacement, so its edges show no change of content).
//
// Motion. Without --pan, --band-pan, --zoom, --cut or --still the pan is the
// original fixed drift (3 and 1 pixels a picture, whole pixels; the band -4
// and 0.5 a frame pair; an interlaced clip moves that far every field), and
// the output is what earlier versions of this program made. Any of those
// options switches to exact (sub-pixel, cubic) positions measured per frame
// in every kind, placed at a seeded place of the picture:
//   --pan VX,VY       pixels a frame (default 3,1); slow pans (1 and less) comb faintly
//   --band-pan VX,VY  the band's own pan with --band-scene other (default -2,0.25)
//   --zoom Z          a slow zoom: the scale grows by the factor 1+Z a frame
//   --cut F,...       scene cuts at source time F (frames; 40.5 falls between the
//                     fields of frame 40): the pan jumps to another place (of
//                     --picture2 on every other scene, when given) and moves in
//                     another direction and speed, drawn from --seed. The field
//                     pattern of the kind carries on across the cut, so in a match
//                     clip the late field of the cut's frame still shows the old scene.
//   --still A,B       frames A..B show one moment in both fields; the motion
//                     resumes after B from where it stopped (repeatable)
// Other hardships:
//   --black A,B       frames A..B black (luma 16, chroma 128) in both fields,
//                     grain included; the motion behind them carries on (repeatable)
//   --grain SIGMA     Gaussian noise of SIGMA 8-bit luma code values (chroma
//                     0.75 SIGMA), independent in every sample of every field of
//                     every frame, from --seed (default 1)
//   --soft SIGMA[,V]  a Gaussian blur of the picture (horizontal SIGMA, vertical V,
//                     default SIGMA; "0,1.2" is vertical-only) before panning; with
//                     exact positions at least 0.6 both ways, so that every
//                     sub-pixel position is equally sharp
// Parts of a longer clip (--part FIRST,COUNT): writes frames FIRST..FIRST+COUNT-1
// of the clip of --frames frames that the other options describe (exact
// positions), and renders no other frame. Every frame keeps its number in
// that clip: its source times, its grain, its late field, the --cut, --still
// and --black frames. The picture's enlargement and each scene's place then
// depend only on the options that shape the picture around the band
// (--picture, --picture2, --size, --frames, --pan, --zoom, --cut, --still,
// --soft, --fit, --seed), not on the kind or the band, so that parts made with
// those options the same and different kinds or bands join into one
// continuous picture. A band showing another place of the picture is placed
// (from a stream of its own) where its path during the part's frames fits,
// mirrored beyond the picture's edges where it does not: it depends on the
// part, so parts of one window clip join into one picture around the band
// but not in it. The truth then lists the part's frames only, numbered in the
// longer clip ("part": [FIRST, COUNT]).
// Pictures smaller than the pan needs (the frame plus 64 pixels for the fixed
// drift, the whole path with --pan etc.) are enlarged with cubic (Catmull-Rom)
// resampling (--fit scale, the default), or mirrored beyond their edges
// (--fit mirror: full detail, with mirror seams).
//
// Chroma: 444; 422 (C422, co-sited: 1, 2, 1); 420i (C420jpeg, interlaced
// 4:2:0: each chroma row from rows of one field, with the kernels pelta's own
// conversion inverts); 420 (C420jpeg, each chroma sample the mean of a 2x2
// block across both fields, as a progressive conversion of interlaced video
// makes it: the chroma trap, recorded as such in the truth).
//
// --truth FILE writes the clip's truth as JSON: the kind, the settings that
// restore it (left, width, shift, tff), the hardships, and the source time of
// every field ("field_times", "band_field_times": [top, bottom] per frame, in
// frames, null when black), from which any weave's fields can be judged to
// show one moment or two. "tff" is the setting a late band needs ("tff_scope"
// "all"); null where both restore: field matching offers each frame's kept
// field both of its neighbours under either setting, and a pair band pairs
// fields of one picture either way.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Picture {
    int w = 0, h = 0;
    std::vector<float> y, cb, cr;  // 8-bit code values, full resolution
};

[[noreturn]] void die(const std::string& m) {
    std::fprintf(stderr, "pelta_make_clip: %s\n", m.c_str());
    std::exit(2);
}

Picture read_ppm(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) die("cannot open " + path);
    char magic[3] = {};
    int w, h, maxval;
    if (std::fscanf(f, "%2s %d %d %d", magic, &w, &h, &maxval) != 4 || std::strcmp(magic, "P6") != 0 ||
        maxval != 255)
        die(path + " is not an 8-bit binary PPM");
    std::fgetc(f);
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    if (std::fread(rgb.data(), 1, rgb.size(), f) != rgb.size()) die(path + " is cut short");
    std::fclose(f);
    Picture p;
    p.w = w;
    p.h = h;
    p.y.resize(static_cast<size_t>(w) * h);
    p.cb.resize(p.y.size());
    p.cr.resize(p.y.size());
    for (size_t i = 0; i < p.y.size(); ++i) {
        const float r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
        // BT.601, limited range.
        p.y[i] = 16.f + (65.481f * r + 128.553f * g + 24.966f * b) / 255.f;
        p.cb[i] = 128.f + (-37.797f * r - 74.203f * g + 112.0f * b) / 255.f;
        p.cr[i] = 128.f + (112.0f * r - 93.786f * g - 18.214f * b) / 255.f;
    }
    return p;
}

// A sample of the picture at (x, y), y fractional (cubic between rows),
// clamped at the picture's edges.
float sample(const std::vector<float>& plane, const Picture& p, int x, double y) {
    x = std::clamp(x, 0, p.w - 1);
    const int y0 = static_cast<int>(std::floor(y));
    const double t = y - y0;
    auto at = [&](int yy) { return plane[static_cast<size_t>(std::clamp(yy, 0, p.h - 1)) * p.w + x]; };
    if (t == 0) return at(y0);
    // Catmull-Rom.
    const double a = at(y0 - 1), b = at(y0), c = at(y0 + 1), d = at(y0 + 2);
    return static_cast<float>(b + 0.5 * t * (c - a + t * (2 * a - 5 * b + 4 * c - d + t * (3 * (b - c) + d - a))));
}

struct Frame {
    int w, h;
    std::vector<float> y, cb, cr;
    Frame(int w_, int h_) : w(w_), h(h_), y(static_cast<size_t>(w_) * h_), cb(y.size()), cr(y.size()) {}
};

// Row `row` of the frame, columns [x0, x1), from the pan at time t (in
// pictures), displaced by `dy` rows (content from row + dy). The fixed drift's
// whole-pixel positions.
void fill_row(Frame& f, const Picture& p, int row, int x0, int x1, double t, double vx, double vy, int ox, int oy,
              double dy) {
    const int px = ox + static_cast<int>(std::lround(vx * t));
    const double py = oy + std::round(vy * t) + row + dy;
    for (int x = x0; x < x1; ++x) {
        const size_t i = static_cast<size_t>(row) * f.w + x;
        f.y[i] = sample(p.y, p, px + x, py);
        f.cb[i] = sample(p.cb, p, px + x, py);
        f.cr[i] = sample(p.cr, p, px + x, py);
    }
}

// ---- Seeded numbers: the same on every machine (no library distributions).

uint64_t mix(uint64_t z) {  // splitmix64's finaliser
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
double uniform(uint64_t key) { return static_cast<double>(mix(key) >> 11) * (1.0 / 9007199254740992.0); }

class Stream {  // a sequence of uniform numbers in [0, 1)
public:
    explicit Stream(uint64_t seed) : state_(mix(seed ^ 0x5EEDull)) {}
    double next() { return uniform(state_++); }
    double range(double a, double b) { return a + (b - a) * next(); }

private:
    uint64_t state_;
};

// A standard normal number for one sample, from its key alone: one of 2^16
// equally likely quantiles of the normal distribution (it reaches 4.2 sigma),
// chosen by the key's hash, and a uniform step within the quantile's cell
// (between neighbouring quantiles) from its other bits.
float normal(uint64_t key) {
    static const std::vector<float> quantiles = [] {
        std::vector<float> q(65537);
        for (size_t i = 0; i < q.size(); ++i) {
            // The quantile at i / 65536 (cell edges), by bisection on erfc.
            const double p = (i == 0 ? 0.25 : i == 65536 ? 65535.75 : static_cast<double>(i)) / 65536.0;
            double lo = -9, hi = 9;
            for (int k = 0; k < 60; ++k) {
                const double mid = (lo + hi) / 2;
                (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
            }
            q[i] = static_cast<float>((lo + hi) / 2);
        }
        return q;
    }();
    const uint64_t r = mix(key);
    const size_t cell = static_cast<size_t>(r >> 48);
    const float t = static_cast<float>(r & 0xFFFFFFFFull) * (1.0f / 4294967296.0f);
    return quantiles[cell] + t * (quantiles[cell + 1] - quantiles[cell]);
}

// ---- Preparing the picture: enlarging and softening.

// Catmull-Rom weights for a sample at fraction t past the second of four taps.
std::array<float, 4> cubic_weights(double t) {
    const double t2 = t * t, t3 = t2 * t;
    return {static_cast<float>(0.5 * (-t3 + 2 * t2 - t)), static_cast<float>(0.5 * (3 * t3 - 5 * t2 + 2)),
            static_cast<float>(0.5 * (-3 * t3 + 4 * t2 + t)), static_cast<float>(0.5 * (t3 - t2))};
}

// An index into n samples: clamped at the edges, or mirrored beyond them
// (…2 1 0 | 0 1 2 … n-1 | n-1 n-2 …).
int edge_index(long i, int n, bool mirror) {
    if (!mirror) return static_cast<int>(std::clamp<long>(i, 0, n - 1));
    const long period = 2L * n;
    long m = i % period;
    if (m < 0) m += period;
    return static_cast<int>(m < n ? m : period - 1 - m);
}

// For each of `count` output positions p0 + step * k, the first source index
// and the four cubic weights.
struct Taps {
    std::vector<long> first;
    std::vector<std::array<float, 4>> w;
};
Taps taps_for(int count, double p0, double step) {
    Taps t;
    t.first.resize(static_cast<size_t>(count));
    t.w.resize(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
        const double p = p0 + step * k;
        const double fl = std::floor(p);
        t.first[static_cast<size_t>(k)] = static_cast<long>(fl) - 1;
        t.w[static_cast<size_t>(k)] = cubic_weights(p - fl);
    }
    return t;
}

Picture enlarge(const Picture& p, double factor) {
    Picture q;
    q.w = static_cast<int>(std::ceil(p.w * factor));
    q.h = static_cast<int>(std::ceil(p.h * factor));
    // Output sample k sits at source position (k + 0.5) / factor - 0.5.
    const Taps tx = taps_for(q.w, 0.5 / factor - 0.5, 1.0 / factor);
    const Taps ty = taps_for(q.h, 0.5 / factor - 0.5, 1.0 / factor);
    for (auto plane : {&Picture::y, &Picture::cb, &Picture::cr}) {
        const std::vector<float>& src = p.*plane;
        std::vector<float> rows(static_cast<size_t>(q.w) * p.h);
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < q.w; ++x) {
                float s = 0;
                for (int i = 0; i < 4; ++i)
                    s += tx.w[static_cast<size_t>(x)][static_cast<size_t>(i)] *
                         src[static_cast<size_t>(y) * p.w + edge_index(tx.first[static_cast<size_t>(x)] + i, p.w, false)];
                rows[static_cast<size_t>(y) * q.w + x] = s;
            }
        std::vector<float>& dst = q.*plane;
        dst.resize(static_cast<size_t>(q.w) * q.h);
        for (int y = 0; y < q.h; ++y)
            for (int x = 0; x < q.w; ++x) {
                float s = 0;
                for (int i = 0; i < 4; ++i)
                    s += ty.w[static_cast<size_t>(y)][static_cast<size_t>(i)] *
                         rows[static_cast<size_t>(edge_index(ty.first[static_cast<size_t>(y)] + i, p.h, false)) * q.w + x];
                dst[static_cast<size_t>(y) * q.w + x] = s;
            }
    }
    return q;
}

void blur(Picture& p, double sigma_h, double sigma_v) {
    auto kernel = [](double sigma) {
        std::vector<float> k;
        if (sigma <= 0) return std::vector<float>{1.f};
        const int r = static_cast<int>(std::ceil(3 * sigma));
        double sum = 0;
        for (int i = -r; i <= r; ++i) sum += std::exp(-0.5 * i * i / (sigma * sigma));
        for (int i = -r; i <= r; ++i) k.push_back(static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)) / sum));
        return k;
    };
    const std::vector<float> kh = kernel(sigma_h), kv = kernel(sigma_v);
    const int rh = static_cast<int>(kh.size() / 2), rv = static_cast<int>(kv.size() / 2);
    for (auto plane : {&Picture::y, &Picture::cb, &Picture::cr}) {
        std::vector<float>& v = p.*plane;
        std::vector<float> t(v.size());
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x) {
                float s = 0;
                for (int i = -rh; i <= rh; ++i)
                    s += kh[static_cast<size_t>(i + rh)] * v[static_cast<size_t>(y) * p.w + std::clamp(x + i, 0, p.w - 1)];
                t[static_cast<size_t>(y) * p.w + x] = s;
            }
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x) {
                float s = 0;
                for (int i = -rv; i <= rv; ++i)
                    s += kv[static_cast<size_t>(i + rv)] * t[static_cast<size_t>(std::clamp(y + i, 0, p.h - 1)) * p.w + x];
                v[static_cast<size_t>(y) * p.w + x] = s;
            }
    }
}

// Rows of one field (parity 0: even rows, 1: odd rows), columns [x0, x1),
// sampled from the picture at (ax + bx * x, ay + by * (row + dy)) with
// separable cubic interpolation.
void render_field(Frame& f, const Picture& p, int parity, int x0, int x1, double ax, double bx, double ay, double by,
                  double dy, bool mirror) {
    if (x1 <= x0) return;
    const Taps tx = taps_for(x1 - x0, ax + bx * x0, bx);
    const size_t n = static_cast<size_t>(x1 - x0);
    std::vector<std::array<int, 4>> cols(n);  // the source columns of each output column
    for (size_t k = 0; k < n; ++k)
        for (int i = 0; i < 4; ++i) cols[k][static_cast<size_t>(i)] = edge_index(tx.first[k] + i, p.w, mirror);
    std::vector<float> hy, hcb, hcr;  // source rows filtered along x, 4 slots
    std::vector<long> held;            // which source row each slot holds
    hy.resize(4 * n);
    hcb.resize(4 * n);
    hcr.resize(4 * n);
    held.assign(4, -1);
    auto source_row = [&](long r) -> size_t {  // slot of source row r, filtered on demand
        const int rr = edge_index(r, p.h, mirror);
        const size_t slot = static_cast<size_t>(rr & 3);
        if (held[slot] != rr) {
            held[slot] = rr;
            const size_t base = static_cast<size_t>(rr) * p.w;
            for (size_t k = 0; k < n; ++k) {
                float sy = 0, sb = 0, sr = 0;
                for (int i = 0; i < 4; ++i) {
                    const size_t at = base + static_cast<size_t>(cols[k][static_cast<size_t>(i)]);
                    const float w = tx.w[k][static_cast<size_t>(i)];
                    sy += w * p.y[at];
                    sb += w * p.cb[at];
                    sr += w * p.cr[at];
                }
                hy[slot * n + k] = sy;
                hcb[slot * n + k] = sb;
                hcr[slot * n + k] = sr;
            }
        }
        return slot;
    };
    for (int row = parity; row < f.h; row += 2) {
        const double py = ay + by * (row + dy);
        const double fl = std::floor(py);
        const std::array<float, 4> wy = cubic_weights(py - fl);
        // Rows are filtered in order, so the four slots never evict a row
        // still needed by this output row (consecutive source rows differ in
        // their two low bits).
        size_t slot[4];
        for (int j = 0; j < 4; ++j) slot[j] = source_row(static_cast<long>(fl) - 1 + j);
        for (size_t k = 0; k < n; ++k) {
            const size_t i = static_cast<size_t>(row) * f.w + x0 + k;
            float sy = 0, sb = 0, sr = 0;
            for (int j = 0; j < 4; ++j) {
                sy += wy[static_cast<size_t>(j)] * hy[slot[j] * n + k];
                sb += wy[static_cast<size_t>(j)] * hcb[slot[j] * n + k];
                sr += wy[static_cast<size_t>(j)] * hcr[slot[j] * n + k];
            }
            f.y[i] = sy;
            f.cb[i] = sb;
            f.cr[i] = sr;
        }
    }
}

enum class Chroma { C420, C420i, C422, C444 };

struct Writer {
    Chroma chroma = Chroma::C420;
    int depth = 8;
    double grain = 0;
    uint64_t seed = 1;
    std::vector<uint8_t> buf;
    std::vector<float> plane;  // one subsampled chroma plane

    void write(const Frame& f, int frame_number) {
        buf.clear();
        const int shift = depth - 8;
        size_t index = 0;  // sample index within the frame, for the grain's key
        int plane_no = 0;
        float sigma = static_cast<float>(grain);
        auto put = [&](float v) {
            if (sigma > 0)
                v += sigma * normal((seed * 0x100000001B3ull) ^
                                    ((static_cast<uint64_t>(frame_number) << 34) + (static_cast<uint64_t>(plane_no) << 32) +
                                     index));
            ++index;
            const int code = std::clamp(static_cast<int>(std::lround(v * (1 << shift))), 0, (1 << depth) - 1);
            buf.push_back(static_cast<uint8_t>(code & 0xFF));
            if (depth > 8) buf.push_back(static_cast<uint8_t>(code >> 8));
        };
        for (float v : f.y) put(v);
        sigma = static_cast<float>(0.75 * grain);
        for (const std::vector<float>* p : {&f.cb, &f.cr}) {
            ++plane_no;
            index = 0;
            switch (chroma) {
            case Chroma::C444:
                for (float v : *p) put(v);
                break;
            case Chroma::C420:  // a 2x2 mean across both fields
                for (int y = 0; y < f.h; y += 2)
                    for (int x = 0; x < f.w; x += 2) {
                        float s = 0;
                        int n = 0;
                        for (int dy = 0; dy < 2 && y + dy < f.h; ++dy)
                            for (int dx = 0; dx < 2 && x + dx < f.w; ++dx, ++n)
                                s += (*p)[static_cast<size_t>(y + dy) * f.w + x + dx];
                        put(s / n);
                    }
                break;
            case Chroma::C422:  // co-sited on even columns: 1, 2, 1
                for (int y = 0; y < f.h; ++y)
                    for (int x = 0; x < f.w; x += 2) {
                        const float* r = p->data() + static_cast<size_t>(y) * f.w;
                        put((r[std::max(x - 1, 0)] + 2 * r[x] + r[std::min(x + 1, f.w - 1)]) / 4);
                    }
                break;
            case Chroma::C420i: {
                // Horizontally centred between two columns (1, 3, 3, 1), then
                // vertically within each field: chroma row c belongs to field
                // c % 2, and its line j = c / 2 of that field takes the field's
                // lines 2j-1 .. 2j+2 with 3, 7, 5, 1 (top) or 1, 5, 7, 3 (bottom)
                // sixteenths.
                const int cw = (f.w + 1) / 2, ch = (f.h + 1) / 2;
                plane.assign(static_cast<size_t>(cw) * f.h, 0.f);
                for (int y = 0; y < f.h; ++y)
                    for (int x = 0; x < cw; ++x) {
                        const float* r = p->data() + static_cast<size_t>(y) * f.w;
                        auto c = [&](int xx) { return r[std::clamp(xx, 0, f.w - 1)]; };
                        plane[static_cast<size_t>(y) * cw + x] =
                            (c(2 * x - 1) + 3 * c(2 * x) + 3 * c(2 * x + 1) + c(2 * x + 2)) / 8;
                    }
                static const float kTop[4] = {3, 7, 5, 1}, kBottom[4] = {1, 5, 7, 3};
                for (int c = 0; c < ch; ++c) {
                    const int field = c % 2, j = c / 2;
                    const int lines = (f.h - field + 1) / 2;
                    const float* k = field ? kBottom : kTop;
                    for (int x = 0; x < cw; ++x) {
                        float s = 0;
                        for (int t = 0; t < 4; ++t) {
                            const int line = std::clamp(2 * j - 1 + t, 0, lines - 1);
                            s += k[t] * plane[static_cast<size_t>(2 * line + field) * cw + x];
                        }
                        put(s / 16);
                    }
                }
                break;
            }
            }
        }
        std::fputs("FRAME\n", stdout);
        std::fwrite(buf.data(), 1, buf.size(), stdout);
    }
};

struct Range {
    int a, b;  // frames a..b
};

struct Pan {  // one scene's motion: where it starts in the picture, how it moves
    double ox = 0, oy = 0, vx = 0, vy = 0, zoom = 0;
    int picture = 0;  // 0: --picture, 1: --picture2
};

std::vector<double> parse_list(const std::string& v, const std::string& what) {
    std::vector<double> out;
    size_t at = 0;
    while (at <= v.size()) {
        const size_t comma = v.find(',', at);
        const std::string item = v.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        char* end = nullptr;
        const double d = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0') die(what + " takes numbers separated by commas, not '" + v + "'");
        out.push_back(d);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}

std::string json_number(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.10g", v);
    return b;
}
std::string json_string(const std::string& s) {
    std::string o = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') o += '\\';
        o += c;
    }
    return o + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    std::string kind, picture_path, picture2_path, late = "bottom", band_motion = "pair", band_scene = "other",
                                                   fit = "scale", truth_path, chroma_name = "420";
    int w = 720, h = 480, frames = 90, depth = 8, band_left = 0, band_width = 0, shift = 0, tff = 1, late_period = 30;
    double grain = 0, soft_h = 0, soft_v = 0, zoom = 0;
    uint64_t seed = 1;
    bool free_motion = false;  // exact positions, seeded places (any motion option)
    double pan_vx = 3, pan_vy = 1, band_vx = -2, band_vy = 0.25;
    std::vector<double> cuts;
    std::vector<Range> stills, blacks;
    int part_first = 0, part_count = -1;  // --part: the frames written (all without it)
    std::vector<std::string> args(argv + 1, argv + argc);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) die("option " + a + " needs a value");
        const std::string v = argv[++i];
        auto pair_of = [&](double& x, double& y) {
            const std::vector<double> p = parse_list(v, a);
            if (p.size() != 2) die(a + " takes two numbers X,Y");
            x = p[0];
            y = p[1];
        };
        auto range_of = [&]() {
            double x, y;
            pair_of(x, y);
            if (x < 0 || y < x) die(a + " takes frames A,B with 0 <= A <= B");
            return Range{static_cast<int>(x), static_cast<int>(y)};
        };
        if (a == "--kind") kind = v;
        else if (a == "--picture") picture_path = v;
        else if (a == "--picture2") {
            picture2_path = v;
            free_motion = true;
        } else if (a == "--size") {
            if (std::sscanf(v.c_str(), "%dx%d", &w, &h) != 2) die("--size takes WxH");
        } else if (a == "--frames") frames = std::atoi(v.c_str());
        else if (a == "--chroma") chroma_name = v;
        else if (a == "--depth") depth = std::atoi(v.c_str());
        else if (a == "--late") late = v;
        else if (a == "--late-period") late_period = std::atoi(v.c_str());
        else if (a == "--band") {
            if (std::sscanf(v.c_str(), "%d,%d", &band_left, &band_width) != 2) die("--band takes LEFT,WIDTH");
        } else if (a == "--shift") shift = std::atoi(v.c_str());
        else if (a == "--tff") tff = std::atoi(v.c_str());
        else if (a == "--band-motion") band_motion = v;
        else if (a == "--band-scene") band_scene = v;
        else if (a == "--pan") {
            pair_of(pan_vx, pan_vy);
            free_motion = true;
        } else if (a == "--band-pan") {
            pair_of(band_vx, band_vy);
            free_motion = true;
        } else if (a == "--zoom") {
            zoom = std::atof(v.c_str());
            free_motion = true;
        } else if (a == "--cut") {
            cuts = parse_list(v, a);
            free_motion = true;
        } else if (a == "--still") {
            stills.push_back(range_of());
            free_motion = true;
        } else if (a == "--black") blacks.push_back(range_of());
        else if (a == "--grain") grain = std::atof(v.c_str());
        else if (a == "--soft") {
            const std::vector<double> s = parse_list(v, a);
            if (s.size() > 2 || s[0] < 0 || s.back() < 0) die("--soft takes SIGMA or SIGMA,SIGMAV (>= 0)");
            soft_h = s[0];
            soft_v = s.back();
        } else if (a == "--fit") fit = v;
        else if (a == "--seed") seed = std::strtoull(v.c_str(), nullptr, 10);
        else if (a == "--truth") truth_path = v;
        else if (a == "--part") {
            double x, y;
            pair_of(x, y);
            if (x < 0 || y < 1 || x != std::floor(x) || y != std::floor(y))
                die("--part takes FIRST,COUNT: a frame number and a positive count");
            part_first = static_cast<int>(x);
            part_count = static_cast<int>(y);
            free_motion = true;
        }
        else die("unknown option " + a);
    }
    if (picture_path.empty()) die("--picture is needed");
    if (depth < 8 || depth > 16) die("--depth takes 8 to 16");
    if (frames < 1) die("--frames takes a positive number");
    if (w < 8 || h < 8) die("--size must be at least 8x8");
    const bool part = part_count > 0;
    if (!part) part_count = frames;
    if (part && part_first + part_count > frames) die("--part reaches beyond --frames");
    const int part_end = part_first + part_count;
    Chroma chroma;
    if (chroma_name == "420") chroma = Chroma::C420;
    else if (chroma_name == "420i") chroma = Chroma::C420i;
    else if (chroma_name == "422") chroma = Chroma::C422;
    else if (chroma_name == "444") chroma = Chroma::C444;
    else die("--chroma takes 420, 420i, 422 or 444");
    if (chroma != Chroma::C444 && w % 2) die("subsampled chroma needs an even width");
    if (late != "bottom" && late != "top" && late != "alternate" && late != "random")
        die("--late takes bottom, top, alternate or random");
    if (late_period < 1) die("--late-period takes a positive number");
    if (band_motion != "pair" && band_motion != "late") die("--band-motion takes pair or late");
    if (band_scene != "other" && band_scene != "same") die("--band-scene takes other or same");
    if (band_scene == "same") free_motion = true;
    if (band_motion == "late") free_motion = true;
    if (fit != "scale" && fit != "mirror") die("--fit takes scale or mirror");
    if (kind != "progressive" && kind != "pulldown" && kind != "interlaced" && kind != "match" && kind != "window")
        die("unknown --kind '" + kind + "'");
    if (zoom <= -0.5 || zoom > 0.5) die("--zoom takes a small factor a frame (-0.5 .. 0.5)");
    std::sort(cuts.begin(), cuts.end());
    for (double c : cuts)
        if (c <= 0 || c >= frames) die("--cut takes source times between 0 and the frame count");
    std::sort(stills.begin(), stills.end(), [](Range x, Range y) { return x.a < y.a; });
    const bool mirror = fit == "mirror";
    const bool band = kind == "window" && band_width > 0;
    const int band_right = std::min(w, band_left + band_width);

    // Which field is late in frame n (match and window): true for the bottom.
    std::vector<bool> bottom_late(static_cast<size_t>(frames));
    {
        Stream s(seed * 7 + 3);
        bool bottom = s.next() < 0.5;
        int left_in_stretch = static_cast<int>(s.range(8, 61));
        for (int n = 0; n < frames; ++n) {
            if (late == "bottom") bottom_late[static_cast<size_t>(n)] = true;
            else if (late == "top") bottom_late[static_cast<size_t>(n)] = false;
            else if (late == "alternate") bottom_late[static_cast<size_t>(n)] = (n / late_period) % 2 == 0;
            else {
                if (left_in_stretch-- == 0) {
                    bottom = !bottom;
                    left_in_stretch = static_cast<int>(s.range(8, 61)) - 1;
                }
                bottom_late[static_cast<size_t>(n)] = bottom;
            }
        }
    }

    Writer out;
    out.chroma = chroma;
    out.depth = depth;
    out.grain = grain;
    out.seed = seed;
    std::string tag = chroma == Chroma::C444 ? "444" : chroma == Chroma::C422 ? "422" : "420";
    if (tag == "420" && depth == 8) tag = "420jpeg";
    if (depth > 8) tag += "p" + std::to_string(depth);

    auto is_black = [&](int n) {
        for (const Range& r : blacks)
            if (n >= r.a && n <= r.b) return true;
        return false;
    };
    auto flat_black = [&](Frame& f) {
        std::fill(f.y.begin(), f.y.end(), 16.f);
        std::fill(f.cb.begin(), f.cb.end(), 128.f);
        std::fill(f.cr.begin(), f.cr.end(), 128.f);
    };

    // The source time (in frames) of each field of each frame, outside the
    // band and in it; NaN for black fields. The truth lists them, so that a
    // check can tell for any weave whether its fields show one moment.
    const double kBlack = std::nan("");
    std::vector<std::array<double, 2>> main_time(static_cast<size_t>(frames), {kBlack, kBlack}),
        band_time(main_time);

    std::vector<Picture> pics;
    pics.push_back(read_ppm(picture_path));
    if (!picture2_path.empty()) pics.push_back(read_ppm(picture2_path));
    double scale[2] = {1, 1};

    if (!free_motion) {
        // The fixed drift, as earlier versions made it.
        Picture& pic = pics[0];
        if (pic.w < w + 64 || pic.h < h + 64) {
            if (mirror) die("--fit mirror needs --pan (the fixed drift clamps at the picture's edges)");
            scale[0] = std::max((w + 64.0) / pic.w, (h + 64.0) / pic.h);
            pic = enlarge(pic, scale[0]);
        }
        if (soft_h > 0 || soft_v > 0) blur(pic, soft_h, soft_v);
        std::printf("YUV4MPEG2 W%d H%d F30000:1001 It A1:1 C%s\n", w, h, tag.c_str());

        // The pan: a diagonal drift, and for the band a second one at another
        // place of the picture, moving the other way.
        const double vx = 3, vy = 1;
        const int ox = 8, oy = 8;
        const double bvx = -4, bvy = 0.5;
        const int box = std::max(8, pic.w - w - 8), boy = std::max(8, (pic.h - h) / 2);
        Frame f(w, h);
        for (int n = 0; n < frames; ++n) {
            if (is_black(n)) {
                flat_black(f);
                out.write(f, n);
                continue;
            }
            for (int row = 0; row < h; ++row) {
                const bool top = row % 2 == 0;
                double t = n;  // moment of this row's field, in pictures of the pan
                if (kind == "progressive") {
                    t = n;
                } else if (kind == "interlaced") {
                    t = 2 * n + (top ? 0 : 1);
                    fill_row(f, pic, row, 0, w, t, vx, vy, ox, oy, 0);
                    main_time[static_cast<size_t>(n)][static_cast<size_t>(row % 2)] = t / 2;
                    continue;
                } else if (kind == "pulldown") {
                    // Field k of the stream shows picture floor(2k / 5) of the film:
                    // pictures take 2, 3, 2, 3 fields.
                    const int field = 2 * n + (top ? 0 : 1);
                    static const int kPicture[10] = {0, 0, 1, 1, 1, 2, 2, 3, 3, 3};
                    t = (field / 10) * 4 + kPicture[field % 10];
                    fill_row(f, pic, row, 0, w, t, vx * 1.25, vy * 1.25, ox, oy, 0);
                    main_time[static_cast<size_t>(n)][static_cast<size_t>(row % 2)] = 1.25 * t;
                    continue;
                } else {
                    const bool late_row = bottom_late[static_cast<size_t>(n)] ? !top : top;
                    t = late_row ? std::max(0, n - 1) : n;
                }
                fill_row(f, pic, row, 0, w, t, vx, vy, ox, oy, 0);
                main_time[static_cast<size_t>(n)][static_cast<size_t>(row % 2)] = t;
                if (band) {
                    band_time[static_cast<size_t>(n)][static_cast<size_t>(row % 2)] = 2 * (n / 2);
                    // One picture per frame pair; the field that pelta moves
                    // shows it displaced by shift/16 field lines (shift/8 rows),
                    // the way that the rebuild undoes.
                    const double d = shift / 8.0;
                    const bool moved = tff ? !top : top;
                    const double dy = moved ? (tff ? d : -d) : 0;
                    fill_row(f, pic, row, band_left, band_right, n / 2, bvx, bvy, box - band_left, boy, dy);
                }
            }
            out.write(f, n);
        }
    } else {
        // Source time of a field, in frames: when the moment it shows was
        // taken. Stills hold it; cuts split it into scenes.
        auto held = [&](double tau) {  // source time with the stills taken out
            double t = tau;
            for (const Range& r : stills) t -= std::clamp(tau - r.a, 0.0, static_cast<double>(r.b - r.a));
            return t;
        };
        auto still_at = [&](int n, double tau) {
            for (const Range& r : stills)
                if (n >= r.a && n <= r.b) return held(r.a);
            return held(tau);
        };
        auto scene_of = [&](double tau) {
            return static_cast<int>(std::upper_bound(cuts.begin(), cuts.end(), tau) - cuts.begin());
        };
        const int scenes = static_cast<int>(cuts.size()) + 1;
        auto scene_start = [&](int s) { return s == 0 ? 0.0 : held(cuts[static_cast<size_t>(s - 1)]); };
        auto scene_length = [&](int s) {
            const double end = s + 1 < scenes ? cuts[static_cast<size_t>(s)] : frames;
            return held(end) - scene_start(s) + 1;
        };

        // Each scene's motion, the band's too, and the picture it pans.
        Stream rng(seed);
        std::vector<Pan> main_pan(static_cast<size_t>(scenes)), band_pan(static_cast<size_t>(scenes));
        for (int s = 0; s < scenes; ++s) {
            auto vary = [&](double vx, double vy, Pan& p) {
                p.vx = vx;
                p.vy = vy;
                if (s == 0) return;
                const double speed = std::hypot(vx, vy), turn = rng.range(0.5, 1.5) * 3.141592653589793;
                const double angle = std::atan2(vy, vx) + turn;
                const double v = speed > 0 ? speed * rng.range(0.6, 1.6) : rng.range(0.5, 3);
                p.vx = v * std::cos(angle);
                p.vy = v * std::sin(angle) * 0.5;  // vertical motion stays the smaller part
            };
            Pan& m = main_pan[static_cast<size_t>(s)];
            vary(pan_vx, pan_vy, m);
            m.zoom = zoom;
            m.picture = pics.size() > 1 ? s % 2 : 0;
            Pan& b = band_pan[static_cast<size_t>(s)];
            vary(band_vx, band_vy, b);
            b.picture = m.picture;
        }

        // The picture each pan covers, with its origin at 0: the frame (or
        // the band's columns) at every moment of the scene, scaled by the
        // zoom about the frame's centre.
        constexpr double kMinSoft = 0.6;
        // (Without --part the band's displacement widens the margin of
        // both; with it only the band's, so that the picture does not
        // depend on the band.)
        const double cx = w / 2.0, cy = h / 2.0, band_margin = 4 + std::abs(shift / 8.0);
        const double main_margin = part ? 4.0 : band_margin;
        struct Box {
            double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        };
        // The path over the scene's times u0..u1 (from the scene's start).
        auto footprint = [&](const Pan& p, double u0, double u1, int c0, int c1, bool zoomed, double margin) {
            Box b;
            for (int k = 0; k <= 64; ++k) {
                const double u = u0 + (u1 - u0) * k / 64.0;
                const double z = zoomed ? std::pow(1 + p.zoom, u) : 1;
                const double ax = p.vx * u + cx - cx / z, ay = p.vy * u + cy - cy / z;
                b.x0 = std::min(b.x0, ax + c0 / z - margin);
                b.x1 = std::max(b.x1, ax + (c1 - 1) / z + margin);
                b.y0 = std::min(b.y0, ay - margin);
                b.y1 = std::max(b.y1, ay + (h - 1) / z + margin);
            }
            return b;
        };
        std::vector<Box> main_box(static_cast<size_t>(scenes)), band_box(static_cast<size_t>(scenes));
        // With --part: whether the band shows in scene s during the part, and
        // whether its path there is too large for the picture (then mirrored).
        std::vector<char> band_shown(static_cast<size_t>(scenes), 1), band_mirror(static_cast<size_t>(scenes), 0);
        double need[2] = {1, 1};
        for (int s = 0; s < scenes; ++s) {
            const double len = scene_length(s);
            Pan& m = main_pan[static_cast<size_t>(s)];
            main_box[static_cast<size_t>(s)] = footprint(m, 0, len, 0, w, true, main_margin);
            const Box& mb = main_box[static_cast<size_t>(s)];
            const Picture& pm = pics[static_cast<size_t>(m.picture)];
            need[m.picture] = std::max({need[m.picture], (mb.x1 - mb.x0 + 16) / pm.w, (mb.y1 - mb.y0 + 16) / pm.h});
            if (band && band_scene == "other" && part) {
                // Only the part's frames show the band: its path over their
                // source times (a late field shows the frame before).
                const double u0 = std::max(0.0, held(std::max(0, part_first - 1)) - scene_start(s));
                const double u1 = std::min(len, held(part_end - 0.5) - scene_start(s));
                band_shown[static_cast<size_t>(s)] = u0 <= u1;
                if (u0 <= u1)
                    band_box[static_cast<size_t>(s)] =
                        footprint(band_pan[static_cast<size_t>(s)], u0, u1, band_left, band_right, false, band_margin);
            } else if (band && band_scene == "other") {
                Pan& b = band_pan[static_cast<size_t>(s)];
                band_box[static_cast<size_t>(s)] = footprint(b, 0, len, band_left, band_right, false, band_margin);
                const Box& bb = band_box[static_cast<size_t>(s)];
                need[b.picture] = std::max({need[b.picture], (bb.x1 - bb.x0 + 16) / pm.w, (bb.y1 - bb.y0 + 16) / pm.h});
            }
        }
        for (size_t i = 0; i < pics.size(); ++i) {
            if (need[i] > 1 && !mirror) {
                scale[i] = need[i];
                pics[i] = enlarge(pics[i], need[i]);
            }
            // At least a camera's own band limit: without it, detail near
            // the sampling limit would come out sharper at whole-pixel
            // positions than between them, and frames of one pan would
            // differ in sharpness.
            blur(pics[i], std::max(soft_h, kMinSoft), std::max(soft_v, kMinSoft));
        }
        // Each scene starts at a seeded place where its whole path fits (with
        // --fit mirror anywhere on the picture; it is mirrored beyond): of
        // eight drawn, the one whose path crosses the most vertical detail,
        // so that a scene rarely lies on a flat part of the picture, where no
        // setting can be told from another.
        auto place = [&](Pan& p, const Box& b, Stream& draws, bool mirror) {
            const Picture& pic = pics[static_cast<size_t>(p.picture)];
            const double room_x = pic.w - (b.x1 - b.x0) - 16, room_y = pic.h - (b.y1 - b.y0) - 16;
            double best = -1, best_x = 0, best_y = 0;
            for (int k = 0; k < 8; ++k) {
                const double ox = 8 - b.x0 + (mirror ? draws.range(0, pic.w) : draws.range(0, std::max(0.0, room_x)));
                const double oy = 8 - b.y0 + (mirror ? draws.range(0, pic.h) : draws.range(0, std::max(0.0, room_y)));
                double detail = 0;
                for (double y = b.y0 + 2; y < b.y1 - 2; y += 4)
                    for (double x = b.x0; x < b.x1; x += 4) {
                        auto at = [&](double yy) {
                            return pic.y[static_cast<size_t>(edge_index(std::lround(oy + yy), pic.h, mirror)) * pic.w +
                                         edge_index(std::lround(ox + x), pic.w, mirror)];
                        };
                        detail += std::abs(at(y - 1) - 2 * at(y) + at(y + 1));
                    }
                if (detail > best) {
                    best = detail;
                    best_x = ox;
                    best_y = oy;
                }
            }
            p.ox = best_x;
            p.oy = best_y;
        };
        // With --part the band's places come from a stream of their own, so
        // that the scenes' places do not depend on the band.
        Stream band_draws(seed * 13 + 5);
        for (int s = 0; s < scenes; ++s) {
            const size_t i = static_cast<size_t>(s);
            place(main_pan[i], main_box[i], rng, mirror);
            if (!band || band_scene != "other") continue;
            if (!part) {
                place(band_pan[i], band_box[i], rng, mirror);
            } else if (band_shown[i]) {
                const Picture& pic = pics[static_cast<size_t>(band_pan[i].picture)];
                const Box& b = band_box[i];
                band_mirror[i] = mirror || b.x1 - b.x0 + 16 > pic.w || b.y1 - b.y0 + 16 > pic.h;
                place(band_pan[i], b, band_draws, band_mirror[i]);
            }
        }

        std::printf("YUV4MPEG2 W%d H%d F30000:1001 It A1:1 C%s\n", w, h, tag.c_str());
        // Columns [x0, x1) of one field of the frame at source time tau (its
        // frame n for the stills), displaced by dy rows.
        Frame f(w, h);
        auto draw = [&](int n, int parity, double tau, int x0, int x1, bool in_band, double dy) {
            const int s = scene_of(tau);
            const double u = still_at(n, tau) - scene_start(s);
            (in_band ? band_time : main_time)[static_cast<size_t>(n)][static_cast<size_t>(parity)] = still_at(n, tau);
            const bool band_pan_here = in_band && band_scene == "other";
            const Pan& p = (band_pan_here ? band_pan : main_pan)[static_cast<size_t>(s)];
            const double z = band_pan_here ? 1 : std::pow(1 + p.zoom, u);
            const double ax = p.ox + p.vx * u + cx - cx / z, ay = p.oy + p.vy * u + cy - cy / z;
            render_field(f, pics[static_cast<size_t>(p.picture)], parity, x0, x1, ax, 1 / z, ay, 1 / z, dy,
                         mirror || (band_pan_here && band_mirror[static_cast<size_t>(s)]));
        };
        for (int n = part_first; n < part_end; ++n) {
            if (is_black(n)) {
                flat_black(f);
                out.write(f, n);
                continue;
            }
            for (int parity = 0; parity < 2; ++parity) {
                double tau = n;
                if (kind == "interlaced") {
                    tau = n + 0.5 * parity;
                } else if (kind == "pulldown") {
                    static const int kPicture[10] = {0, 0, 1, 1, 1, 2, 2, 3, 3, 3};
                    const int field = 2 * n + parity;
                    tau = 1.25 * ((field / 10) * 4 + kPicture[field % 10]);
                } else if (kind == "match" || kind == "window") {
                    const bool late_field = bottom_late[static_cast<size_t>(n)] ? parity == 1 : parity == 0;
                    if (late_field) tau = std::max(0, n - 1);
                }
                draw(n, parity, tau, 0, w, false, 0);
                if (!band) continue;
                // The band: the field pelta moves (bottom for --tff 1, top for
                // --tff 0) displaced by shift/16 field lines, the way that the
                // rebuild undoes; in a late band that field is also the late one.
                const bool moved = tff ? parity == 1 : parity == 0;
                const double d = shift / 8.0, dy = moved ? (tff ? d : -d) : 0;
                double btau = 2 * (n / 2);
                if (band_motion == "late") btau = moved ? std::max(0, n - 1) : n;
                draw(n, parity, btau, band_left, band_right, true, dy);
            }
            out.write(f, n);
        }
    }
    if (std::fflush(stdout) != 0) return 1;

    if (!truth_path.empty()) {
        // TFF: a late band needs --tff T in every frame. Field matching
        // offers each frame's kept field both neighbours under either
        // setting, so a match clip, or a pair band, holds both (only at the
        // clip's first and last frames can the filter's fallback choices
        // differ; bench/corpus.py check measures that on the clip itself).
        std::string tff_truth = "null", scope = "null";
        if (band && band_motion == "late") {
            tff_truth = std::to_string(tff);
            scope = "\"all\"";
        }
        std::string j = "{\n";
        auto add = [&](const std::string& k, const std::string& v) { j += "  " + json_string(k) + ": " + v + ",\n"; };
        add("kind", json_string(kind));
        add("tff", tff_truth);
        add("tff_scope", scope);
        add("left", std::to_string(band ? band_left : 0));
        add("width", std::to_string(band ? band_right - band_left : 0));
        add("shift", std::to_string(band ? shift : 0));
        add("frames", std::to_string(part_count));
        if (part) add("part", "[" + std::to_string(part_first) + ", " + std::to_string(part_count) + "]");
        add("frame_width", std::to_string(w));
        add("frame_height", std::to_string(h));
        add("chroma", json_string(chroma_name));
        add("depth", std::to_string(depth));
        add("chroma_trap", chroma == Chroma::C420 && kind != "progressive" ? "true" : "false");
        std::string lt = "[";
        if (kind == "match" || kind == "window")
            for (int n = part_first; n < part_end; ++n)
                if (n == part_first || bottom_late[static_cast<size_t>(n)] != bottom_late[static_cast<size_t>(n - 1)]) {
                    int e = n;
                    while (e + 1 < part_end && bottom_late[static_cast<size_t>(e + 1)] == bottom_late[static_cast<size_t>(n)]) ++e;
                    lt += std::string(lt.size() > 1 ? ", " : "") + "[" + std::to_string(n) + ", " + std::to_string(e) +
                          ", " + json_string(bottom_late[static_cast<size_t>(n)] ? "bottom" : "top") + "]";
                }
        add("late", lt + "]");
        add("band_motion", band ? json_string(band_motion) : "null");
        add("band_scene", band ? json_string(band_scene) : "null");
        std::string c = "[";
        for (double x : cuts) c += std::string(c.size() > 1 ? ", " : "") + json_number(x);
        add("cuts", c + "]");
        auto ranges = [](const std::vector<Range>& rs) {
            std::string r = "[";
            for (const Range& x : rs)
                r += std::string(r.size() > 1 ? ", " : "") + "[" + std::to_string(x.a) + ", " + std::to_string(x.b) + "]";
            return r + "]";
        };
        add("still", ranges(stills));
        add("black", ranges(blacks));
        add("grain", json_number(grain));
        add("soft", "[" + json_number(soft_h) + ", " + json_number(soft_v) + "]");
        add("motion", json_string(free_motion ? "free" : "drift"));
        add("pan", free_motion ? "[" + json_number(pan_vx) + ", " + json_number(pan_vy) + "]" : "[3, 1]");
        add("zoom", json_number(zoom));
        add("seed", std::to_string(seed));
        add("picture_scale", "[" + json_number(scale[0]) + ", " + json_number(scale[1]) + "]");
        auto times = [&](const std::vector<std::array<double, 2>>& t) {
            std::string r = "[";
            for (int n = part_first; n < part_end; ++n) {
                const std::array<double, 2>& x = t[static_cast<size_t>(n)];
                r += r.size() > 1 ? ", [" : "[";
                for (size_t k = 0; k < 2; ++k)
                    r += std::string(k ? ", " : "") + (std::isnan(x[k]) ? "null" : json_number(x[k]));
                r += "]";
            }
            return r + "]";
        };
        add("field_times", times(main_time));
        add("band_field_times", band ? times(band_time) : "null");
        std::string a = "[";
        for (const std::string& s : args) a += std::string(a.size() > 1 ? ", " : "") + json_string(s);
        j += "  \"args\": " + a + "]\n}\n";
        std::FILE* t = std::fopen(truth_path.c_str(), "w");
        if (!t || std::fputs(j.c_str(), t) < 0 || std::fclose(t) != 0) die("cannot write " + truth_path);
    }
    return 0;
}
