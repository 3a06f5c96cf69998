// The frame conversions: planes to PIXEL_YC and back, a row at a time through
// the row kernels (convert_kernels.h) for this CPU, with the chroma siting of
// convert_format.h.
#include "convert/convert.h"

#include <algorithm>
#include <vector>

#include "convert/convert_format.h"
#include "convert/convert_kernels.h"

namespace pelta_cli {

namespace {

class PaddedRow {
public:
    int16_t* reserve(int n) {
        const size_t need = static_cast<size_t>(n) + kPadLeft + kPadRight;
        if (buf_.size() < need) buf_.assign(need, 0);
        return buf_.data() + kPadLeft;
    }

private:
    std::vector<int16_t> buf_;
};

// Scratch space reused from frame to frame.
struct Scratch {
    std::vector<int16_t> chroma_plane[2];  // 4:2:0 chroma in PIXEL_YC units, before or after resampling
    PaddedRow chroma_row[2];               // one chroma row at chroma width
    PaddedRow full_row[2];                 // one chroma row at picture width
    std::vector<int16_t> zeros;            // monochrome chroma
};
Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

std::vector<int16_t>& sized(std::vector<int16_t>& v, size_t n) {
    if (v.size() < n) v.resize(n);
    return v;
}

}  // namespace

void planes_to_yc(const uint8_t* planes, Chroma c, int w, int h, PIXEL_YC* dst, int stride, int depth) {
    const Coding k = coding_for(depth);
    const ConvertKernels& kernel = *convert_kernels();
    const CodeKernels& code = kernel.codes[code_kernels_index(depth)];
    const size_t bytes = static_cast<size_t>(bytes_per_sample(depth));
    const PlaneSizes ps = plane_sizes(c, w, h, depth);
    const size_t chroma_samples = static_cast<size_t>(ps.cw) * ps.ch;
    const bool mono = c == Chroma::Mono;
    const bool vertical = !mono && ps.ch != h;  // 4:2:0 more than one row high
    const bool cosited = chroma_cosited(c);
    Scratch& s = scratch();
    int16_t* narrow[2] = {s.chroma_row[0].reserve(ps.cw), s.chroma_row[1].reserve(ps.cw)};
    int16_t* full[2] = {s.full_row[0].reserve(2 * ps.cw), s.full_row[1].reserve(2 * ps.cw)};
    if (mono) full[0] = full[1] = sized(s.zeros, static_cast<size_t>(w)).data();
    // 4:2:0 chroma is interpolated from rows of the whole plane, converted first.
    if (vertical)
        for (int comp = 0; comp < 2; ++comp)
            code.chroma_from(planes + ps.luma + comp * ps.chroma, static_cast<int>(chroma_samples), k,
                             sized(s.chroma_plane[comp], chroma_samples).data());

    for (int y = 0; y < h; ++y) {
        for (int comp = 0; comp < 2 && !mono; ++comp) {
            // The chroma of luma row y at chroma width (straight into the
            // full-width row when there is no horizontal subsampling), then
            // interpolated to the picture width.
            int16_t* row = ps.cw == w ? full[comp] : narrow[comp];
            if (vertical) {
                const VerticalTaps t = vertical_taps(y, ps.ch);
                const int16_t* plane = s.chroma_plane[comp].data();
                kernel.interpolate(plane + static_cast<size_t>(t.row_a) * ps.cw,
                                   plane + static_cast<size_t>(t.row_b) * ps.cw, t.weight_a, ps.cw, row);
            } else {
                code.chroma_from(planes + ps.luma + comp * ps.chroma + static_cast<size_t>(y) * ps.cw * bytes, ps.cw,
                                 k, row);
            }
            if (ps.cw != w) {
                extend_edges(row, ps.cw);
                kernel.upsample(row, ps.cw, cosited, full[comp]);
            }
        }
        code.interleave(planes + static_cast<size_t>(y) * w * bytes, full[0], full[1], w, k,
                        dst + static_cast<size_t>(y) * stride);
    }
}

void yc_to_planes(const PIXEL_YC* src, int stride, int w, int h, Chroma c, uint8_t* planes, int depth) {
    const Coding k = coding_for(depth);
    const ConvertKernels& kernel = *convert_kernels();
    const CodeKernels& code = kernel.codes[code_kernels_index(depth)];
    const size_t bytes = static_cast<size_t>(bytes_per_sample(depth));
    const PlaneSizes ps = plane_sizes(c, w, h, depth);
    const bool mono = c == Chroma::Mono;
    const bool vertical = !mono && ps.ch != h;
    const bool cosited = chroma_cosited(c);
    Scratch& s = scratch();
    int16_t* full[2] = {s.full_row[0].reserve(w), s.full_row[1].reserve(w)};
    int16_t* narrow[2] = {s.chroma_row[0].reserve(ps.cw), s.chroma_row[1].reserve(ps.cw)};
    // 4:2:0 chroma after the horizontal pass, h rows of cw, for the vertical pass.
    int16_t* tall[2] = {nullptr, nullptr};
    if (vertical)
        for (int comp = 0; comp < 2; ++comp)
            tall[comp] = sized(s.chroma_plane[comp], static_cast<size_t>(ps.cw) * h).data();

    for (int y = 0; y < h; ++y) {
        code.deinterleave(src + static_cast<size_t>(y) * stride, w, k, planes + static_cast<size_t>(y) * w * bytes,
                          full[0], full[1]);
        for (int comp = 0; comp < 2 && !mono; ++comp) {
            // Horizontally (w -> cw) first, then vertically within fields.
            const int16_t* row = full[comp];
            int16_t* tall_row = vertical ? tall[comp] + static_cast<size_t>(y) * ps.cw : nullptr;
            if (ps.cw != w) {
                int16_t* out = vertical ? tall_row : narrow[comp];
                extend_edges(full[comp], w);
                kernel.downsample(full[comp], ps.cw, cosited, out);
                row = out;
            } else if (vertical) {  // 4:2:0 one pixel wide
                std::copy(row, row + w, tall_row);
            }
            if (!vertical)
                code.chroma_to(row, ps.cw, k,
                               planes + ps.luma + comp * ps.chroma + static_cast<size_t>(y) * ps.cw * bytes);
        }
    }
    if (!vertical) return;

    // Vertical 2:1 decimation of 4:2:0 chroma within each field.
    for (int comp = 0; comp < 2; ++comp) {
        uint8_t* plane = planes + ps.luma + comp * ps.chroma;
        for (int parity = 0; parity < 2; ++parity) {
            const int cn = field_lines(ps.ch, parity);
            if (field_lines(h, parity) == 0) continue;
            for (int j = 0; j < cn; ++j) {
                const DecimationTaps t = decimation_taps(j, parity, h);
                const int16_t* rows[4];
                for (int i = 0; i < 4; ++i) rows[i] = tall[comp] + static_cast<size_t>(t.rows[i]) * ps.cw;
                code.decimate(rows, t.weights, ps.cw, k, plane + static_cast<size_t>(2 * j + parity) * ps.cw * bytes);
            }
        }
    }
}

}  // namespace pelta_cli
