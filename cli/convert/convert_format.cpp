// The Y4M chroma formats: their tags, where their chroma sits, and the sizes
// of their planes.
#include "convert/convert_format.h"

#include <algorithm>

namespace pelta_cli {

bool is_420(Chroma c) {
    return c == Chroma::C420jpeg || c == Chroma::C420mpeg2 || c == Chroma::C420paldv || c == Chroma::C420;
}

bool chroma_cosited(Chroma c) {
    return c == Chroma::C422 || c == Chroma::C420mpeg2 || c == Chroma::C420paldv;
}

const char* chroma_tag(Chroma c) {
    switch (c) {
        case Chroma::C444: return "444";
        case Chroma::C422: return "422";
        case Chroma::C420jpeg: return "420jpeg";
        case Chroma::C420mpeg2: return "420mpeg2";
        case Chroma::C420paldv: return "420paldv";
        case Chroma::C420: return "420";
        case Chroma::Mono: return "mono";
    }
    return "?";
}

PlaneSizes plane_sizes(Chroma c, int w, int h, int depth) {
    PlaneSizes s;
    switch (c) {
        case Chroma::C444: s.cw = w; s.ch = h; break;
        case Chroma::C422: s.cw = (w + 1) / 2; s.ch = h; break;
        case Chroma::Mono: s.cw = 0; s.ch = 0; break;
        default: s.cw = (w + 1) / 2; s.ch = (h + 1) / 2; break;
    }
    const size_t bytes = static_cast<size_t>(bytes_per_sample(depth));
    s.luma = static_cast<size_t>(w) * h * bytes;
    s.chroma = static_cast<size_t>(s.cw) * s.ch * bytes;
    return s;
}

VerticalTaps vertical_taps(int y, int ch) {
    const int parity = y & 1, i = y >> 1, j = i / 2;
    int src_parity = parity;
    if (field_lines(ch, parity) == 0) src_parity = 1 - parity;  // h <= 2: one chroma row only
    const int cn = field_lines(ch, src_parity);
    auto chroma_line = [&](int k) { return 2 * std::clamp(k, 0, cn - 1) + src_parity; };
    if ((i & 1) == 0) return {chroma_line(j - 1), chroma_line(j), parity == 0 ? 1 : 3};
    return {chroma_line(j), chroma_line(j + 1), parity == 0 ? 5 : 7};
}

DecimationTaps decimation_taps(int j, int parity, int h) {
    static const int kTop[4] = {3, 7, 5, 1};
    static const int kBottom[4] = {1, 5, 7, 3};
    const int ln = field_lines(h, parity);
    DecimationTaps t;
    for (int k = 0; k < 4; ++k) t.rows[k] = 2 * std::clamp(2 * j - 1 + k, 0, ln - 1) + parity;
    t.weights = parity == 0 ? kTop : kBottom;
    return t;
}

}  // namespace pelta_cli
