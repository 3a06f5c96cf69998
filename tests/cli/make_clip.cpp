// Makes interlaced test clips whose right pelta settings are known, from a
// still picture (a binary PPM, such as ffmpeg renders from its test sources)
// panned across the frame:
//
//   pelta_make_clip --kind K --picture FILE.ppm [--size WxH] [--frames N]
//                   [--chroma 420|444] [--depth 8..16] [--late top|bottom|alternate]
//                   [--band LEFT,WIDTH] [--shift S] [--tff 0|1] > clip.y4m
//
// Kinds, each at 29.97 frames a second, top field first:
//   progressive  every frame one picture of a pan
//   pulldown     a 23.976-picture pan with 3:2 pulldown (fields A A B B B C C D D D)
//   interlaced   each field its own moment of the pan (59.94 pictures a second,
//                each moved as far as a frame moves in the other kinds)
//   match        pictures of the pan with one field a frame late: --late bottom,
//                top, or alternate (bottom late for 30 frames, then top, ...)
//   window       match outside columns LEFT..LEFT+WIDTH-1; inside them a second
//                pan, one picture per frame pair (2k, 2k+1), whose fields are
//                displaced against each other by S/16 field lines, so that pelta
//                restores it with --left LEFT --width WIDTH --shift S --tff T.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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
// pictures), displaced by `dy` rows (content from row + dy).
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

void write_frame(const Frame& f, bool c420, int depth, std::vector<uint8_t>& buf) {
    buf.clear();
    const int shift = depth - 8;
    auto put = [&](float v) {
        const int code = std::clamp(static_cast<int>(std::lround(v * (1 << shift))), 0, (1 << depth) - 1);
        buf.push_back(static_cast<uint8_t>(code & 0xFF));
        if (depth > 8) buf.push_back(static_cast<uint8_t>(code >> 8));
    };
    for (float v : f.y) put(v);
    for (const std::vector<float>* plane : {&f.cb, &f.cr}) {
        if (!c420) {
            for (float v : *plane) put(v);
            continue;
        }
        for (int y = 0; y < f.h; y += 2)
            for (int x = 0; x < f.w; x += 2) {
                float s = 0;
                int n = 0;
                for (int dy = 0; dy < 2 && y + dy < f.h; ++dy)
                    for (int dx = 0; dx < 2 && x + dx < f.w; ++dx, ++n)
                        s += (*plane)[static_cast<size_t>(y + dy) * f.w + x + dx];
                put(s / n);
            }
    }
    std::fputs("FRAME\n", stdout);
    std::fwrite(buf.data(), 1, buf.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string kind, picture_path, late = "bottom";
    int w = 720, h = 480, frames = 90, depth = 8, band_left = 0, band_width = 0, shift = 0, tff = 1;
    bool c420 = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) die("option " + a + " needs a value");
        const std::string v = argv[++i];
        if (a == "--kind") kind = v;
        else if (a == "--picture") picture_path = v;
        else if (a == "--size") {
            if (std::sscanf(v.c_str(), "%dx%d", &w, &h) != 2) die("--size takes WxH");
        } else if (a == "--frames") frames = std::atoi(v.c_str());
        else if (a == "--chroma") c420 = v == "420";
        else if (a == "--depth") depth = std::atoi(v.c_str());
        else if (a == "--late") late = v;
        else if (a == "--band") {
            if (std::sscanf(v.c_str(), "%d,%d", &band_left, &band_width) != 2) die("--band takes LEFT,WIDTH");
        } else if (a == "--shift") shift = std::atoi(v.c_str());
        else if (a == "--tff") tff = std::atoi(v.c_str());
        else die("unknown option " + a);
    }
    if (picture_path.empty()) die("--picture is needed");
    if (depth < 8 || depth > 16) die("--depth takes 8 to 16");
    const Picture pic = read_ppm(picture_path);
    if (pic.w < w + 64 || pic.h < h + 64) die("the picture must be at least 64 pixels larger than the frame");

    std::string tag = c420 ? "420" : "444";
    if (c420 && depth == 8) tag = "420jpeg";
    if (depth > 8) tag += "p" + std::to_string(depth);
    std::printf("YUV4MPEG2 W%d H%d F30000:1001 It A1:1 C%s\n", w, h, tag.c_str());

    // The pan: a diagonal drift, and for the band a second one at another
    // place of the picture, moving the other way.
    const double vx = 3, vy = 1;
    const int ox = 8, oy = 8;
    const double bvx = -4, bvy = 0.5;
    const int box = std::max(8, pic.w - w - 8), boy = std::max(8, (pic.h - h) / 2);
    Frame f(w, h);
    std::vector<uint8_t> buf;
    for (int n = 0; n < frames; ++n) {
        for (int row = 0; row < h; ++row) {
            const bool top = row % 2 == 0;
            double t = n;  // moment of this row's field, in pictures of the pan
            if (kind == "progressive") {
                t = n;
            } else if (kind == "interlaced") {
                t = 2 * n + (top ? 0 : 1);
                fill_row(f, pic, row, 0, w, t, vx, vy, ox, oy, 0);
                continue;
            } else if (kind == "pulldown") {
                // Field k of the stream shows picture floor(2k / 5) of the film:
                // pictures take 2, 3, 2, 3 fields.
                const int field = 2 * n + (top ? 0 : 1);
                static const int kPicture[10] = {0, 0, 1, 1, 1, 2, 2, 3, 3, 3};
                t = (field / 10) * 4 + kPicture[field % 10];
                fill_row(f, pic, row, 0, w, t, vx * 1.25, vy * 1.25, ox, oy, 0);
                continue;
            } else if (kind == "match" || kind == "window") {
                bool bottom_late = late == "bottom" || (late == "alternate" && (n / 30) % 2 == 0);
                const bool late_row = bottom_late ? !top : top;
                t = late_row ? std::max(0, n - 1) : n;
            } else {
                die("unknown --kind '" + kind + "'");
            }
            fill_row(f, pic, row, 0, w, t, vx, vy, ox, oy, 0);
            if (kind == "window" && band_width > 0) {
                // One picture per frame pair; the field that pelta moves
                // shows it displaced by shift/16 field lines (shift/8 rows),
                // the way that the rebuild undoes.
                const double d = shift / 8.0;
                const bool moved = tff ? !top : top;
                const double dy = moved ? (tff ? d : -d) : 0;
                fill_row(f, pic, row, band_left, std::min(w, band_left + band_width), n / 2, bvx, bvy, box - band_left,
                         boy, dy);
            }
        }
        write_frame(f, c420, depth, buf);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
