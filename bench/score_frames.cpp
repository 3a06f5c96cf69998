// Scores a filtered clip against the progressive pictures it was made from.
//
//   pelta_score OUTPUT.y4m REFERENCE.y4m [--cols A:B]... [--csv FILE]
//
// Every output frame is compared, luma only, with the reference pictures near
// its place in time (output frame n sits at n x refs / outputs; the seven
// pictures around that are tried) and takes the best of them, separately in
// each column range given (default: the whole width). A region is
//   clean   when it is within 40 dB PSNR of some reference picture,
//   combed  otherwise, when a weave of two different pictures near it (even
//           rows from one, odd rows from the other) is closer to it by more
//           than 1 dB than the best single picture: fields of different
//           moments woven together,
//   soft    otherwise (blurred, or altered in another way, but not combed).
// A frame is clean when all its regions are, combed when any region is.
// Prints "frames N clean C combed K soft S pictures P", P being how many
// different reference pictures the clean frames show (in the first region: a
// matcher may repeat one picture where it could show two); --csv writes one
// row per frame.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "io/y4m.h"

namespace {

using pelta_cli::FileSource;
using pelta_cli::ReadStatus;
using pelta_cli::Y4mReader;

struct Clip {
    int w = 0, h = 0;
    std::vector<std::vector<uint8_t>> luma;
};

Clip read_luma(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "pelta_score: cannot open %s\n", path);
        std::exit(1);
    }
    FileSource src(f);
    Y4mReader reader(src);
    std::string error;
    if (!reader.read_header(error)) {
        std::fprintf(stderr, "pelta_score: %s: %s\n", path, error.c_str());
        std::exit(1);
    }
    Clip clip;
    clip.w = reader.header().width;
    clip.h = reader.header().height;
    std::vector<uint8_t> planes;
    for (;;) {
        ReadStatus s = reader.read_frame(planes, error);
        if (s == ReadStatus::End) break;
        if (s == ReadStatus::Error) {
            std::fprintf(stderr, "pelta_score: %s: %s\n", path, error.c_str());
            std::exit(1);
        }
        clip.luma.emplace_back(planes.begin(), planes.begin() + static_cast<long>(clip.w) * clip.h);
    }
    std::fclose(f);
    return clip;
}

// PSNR of columns [x0, x1) of `a` against a picture whose even rows are those
// of `even` and odd rows those of `odd`.
double psnr(const uint8_t* a, const uint8_t* even, const uint8_t* odd, int w, int h, int x0, int x1) {
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* b = y % 2 ? odd : even;
        for (int x = x0; x < x1; ++x) {
            const double d = double(a[y * w + x]) - double(b[y * w + x]);
            sum += d * d;
        }
    }
    const double mse = sum / (double(h) * (x1 - x0));
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

enum Verdict { Clean = 0, Soft = 1, Combed = 2 };
const char* const verdict_names[] = {"clean", "soft", "combed"};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::pair<int, int>> cols;
    const char* csv_path = nullptr;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--cols" && i + 1 < argc) {
            int x0, x1;
            if (std::sscanf(argv[++i], "%d:%d", &x0, &x1) != 2 || x0 < 0 || x1 <= x0) {
                std::fprintf(stderr, "pelta_score: --cols takes A:B with 0 <= A < B\n");
                return 2;
            }
            cols.emplace_back(x0, x1);
        } else if (a == "--csv" && i + 1 < argc) {
            csv_path = argv[++i];
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "usage: pelta_score OUTPUT.y4m REFERENCE.y4m [--cols A:B]... [--csv FILE]\n");
        return 2;
    }
    const Clip out = read_luma(files[0]);
    const Clip ref = read_luma(files[1]);
    if (out.w != ref.w || out.h != ref.h || out.luma.empty() || ref.luma.empty()) {
        std::fprintf(stderr, "pelta_score: the clips differ in size or one is empty\n");
        return 1;
    }
    if (cols.empty()) cols.emplace_back(0, out.w);
    for (auto [x0, x1] : cols)
        if (x1 > out.w) {
            std::fprintf(stderr, "pelta_score: --cols %d:%d reaches past the width %d\n", x0, x1, out.w);
            return 2;
        }

    std::FILE* csv = csv_path ? std::fopen(csv_path, "w") : nullptr;
    if (csv_path && !csv) {
        std::fprintf(stderr, "pelta_score: cannot write %s\n", csv_path);
        return 1;
    }
    if (csv) {
        std::fprintf(csv, "frame,verdict");
        for (auto [x0, x1] : cols)
            std::fprintf(csv, ",ref_%d_%d,psnr_%d_%d,weave_psnr_%d_%d", x0, x1, x0, x1, x0, x1);
        std::fprintf(csv, "\n");
    }

    const long nout = static_cast<long>(out.luma.size()), nref = static_cast<long>(ref.luma.size());
    int counts[3] = {};
    std::set<long> shown;
    for (long n = 0; n < nout; ++n) {
        const long centre = (n * nref + nout / 2) / nout;
        Verdict frame = Clean;
        std::string row;
        long first_best = -1;
        for (auto [x0, x1] : cols) {
            long best = -1;
            double best_psnr = -1, weave_psnr = -1;
            const long k0 = std::max(0L, centre - 3), k1 = std::min(nref - 1, centre + 3);
            for (long k = k0; k <= k1; ++k) {
                const uint8_t* r = ref.luma[k].data();
                const double p = psnr(out.luma[n].data(), r, r, out.w, out.h, x0, x1);
                if (p > best_psnr) best_psnr = p, best = k;
            }
            if (best_psnr < 40.0)
                for (long a = k0; a <= k1; ++a)
                    for (long b = std::max(k0, a - 2); b <= std::min(k1, a + 2); ++b)
                        if (a != b)
                            weave_psnr = std::max(weave_psnr, psnr(out.luma[n].data(), ref.luma[a].data(),
                                                                   ref.luma[b].data(), out.w, out.h, x0, x1));
            const Verdict v = best_psnr >= 40.0 ? Clean : weave_psnr > best_psnr + 1.0 ? Combed : Soft;
            if (v > frame) frame = v;
            if (first_best < 0) first_best = best;
            char cell[96];
            std::snprintf(cell, sizeof cell, ",%ld,%.2f,%.2f", best, best_psnr, weave_psnr);
            row += cell;
        }
        ++counts[frame];
        if (frame == Clean) shown.insert(first_best);
        if (csv) std::fprintf(csv, "%ld,%s%s\n", n, verdict_names[frame], row.c_str());
    }
    if (csv) std::fclose(csv);
    std::printf("frames %ld clean %d combed %d soft %d pictures %zu\n", nout, counts[Clean], counts[Combed],
                counts[Soft], shown.size());
    return 0;
}
