// The result pass: the filter over every sampled frame with the settings of
// its segment, and field matching alone beside it, measured as the verdict
// measured the candidates; the figures the words quote, the curves and the
// picture of the report.
#include <algorithm>
#include <map>

#include "analyze/passes.h"

namespace pelta_cli::analysis {

namespace {

// The most a block's measure counts for in one frame of the report's curve
// of the columns: a few badly combed frames must not outweigh many clean ones.
constexpr double kCap = 8.0;

// Comb and field energy of a picture per block, and the sums over the
// window's blocks and the rest.
struct Split {
    double comb[2] = {0, 0}, field[2] = {0, 0};  // [0] the window's blocks, [1] the rest
    int blocks[2] = {0, 0};
};

Split measure(const PIXEL_YC* frame, int stride, int w, int h, int lb, int rb, Profiles& p,
              std::vector<double>* curve) {
    make_profiles(frame, stride, 0, w, h, kBlock, false, p);
    std::vector<double> comb(static_cast<size_t>(p.n), 0.0), field(static_cast<size_t>(p.n), 0.0);
    weave_energy(p.y.data(), p.y.data(), 0, p.n, h, comb.data(), field.data());
    Split s;
    const double floor = energy_floor(1, h);
    for (int b = 0; b < p.n; ++b) {
        const double c = comb[static_cast<size_t>(b)], f = field[static_cast<size_t>(b)];
        const int side = b >= lb && b < rb ? 0 : 1;
        s.comb[side] += c;
        s.field[side] += f;
        ++s.blocks[side];
        if (curve) (*curve)[static_cast<size_t>(b)] += std::min(kCap, picture_measure(c, f, floor));
    }
    return s;
}

struct Sums {
    double comb[2] = {0, 0}, field[2] = {0, 0};
    long frames = 0;
    int blocks[2] = {0, 0};
    void add(const Split& s) {
        for (int k = 0; k < 2; ++k) {
            comb[k] += s.comb[k];
            field[k] += s.field[k];
            blocks[k] = s.blocks[k];
        }
        ++frames;
    }
    double part(int k, int h) const {
        return picture_measure(comb[k], field[k], static_cast<double>(frames) * energy_floor(blocks[k], h));
    }
    double whole(int h) const {
        return picture_measure(comb[0] + comb[1], field[0] + field[1],
                               static_cast<double>(frames) * energy_floor(blocks[0] + blocks[1], h));
    }
    bool defined(int h) const {
        return field[0] + field[1] >= static_cast<double>(frames) * energy_floor(blocks[0] + blocks[1], h);
    }
};

}  // namespace

bool run_result(const AnalysisRequest& rq, const Survey& s, const std::vector<SegmentRun>& runs, size_t focus,
                std::vector<SegmentFigures>& figures, Analysis& out, std::string& error) {
    const int w = rq.w, h = rq.h, nb = block_count(w);
    const Controls base = default_controls(rq.desc);
    std::map<long, size_t> run_of;  // clip frame -> its segment
    for (size_t i = 0; i < runs.size(); ++i)
        for (size_t k : runs[i].frames) run_of[s.frames[k].frame] = i;
    figures.resize(runs.size());
    std::vector<Sums> input(runs.size()), matched(runs.size()), output(runs.size());
    std::vector<long> visible(runs.size(), 0);

    // The report's picture: the frame of the focus segment whose input
    // combs most where its settings work (the window, or the whole frame).
    const SegmentSettings& fs = runs[focus].settings;
    const int flb = fs.width > 0 ? fs.left / kBlock : 0;
    const int frb = fs.width > 0 ? (fs.left + fs.width + kBlock - 1) / kBlock : nb;
    long picture = -1;
    double most = -1;
    for (size_t k : runs[focus].frames) {
        double c = 0;
        for (int b = flb; b < std::min(frb, nb); ++b) c += s.frames[k].in_comb[static_cast<size_t>(b)];
        if (c > most) {
            most = c;
            picture = s.frames[k].frame;
        }
    }
    out.block_width = kBlock;
    out.column_input.assign(static_cast<size_t>(nb), 0.0);
    out.column_matched.assign(static_cast<size_t>(nb), 0.0);
    out.column_output.assign(static_cast<size_t>(nb), 0.0);
    out.frame_numbers.clear();
    out.frame_input.clear();
    out.frame_matched.clear();
    out.frame_output.clear();
    long curve_frames = 0;

    Profiles p;
    const double frame_floor = energy_floor(nb, h);
    auto per_frame = [&](SampleRunner& r, long f) {
        const size_t i = run_of[f];
        const SegmentSettings& st = runs[i].settings;
        const int lb = st.width > 0 ? st.left / kBlock : 0;
        const int rb = st.width > 0 ? (st.left + st.width + kBlock - 1) / kBlock : 0;
        const bool curves = i == focus;
        const Split in = measure(r.input(f), r.stride(), w, h, lb, rb, p, curves ? &out.column_input : nullptr);
        input[i].add(in);
        const Split m = measure(r.run(controls_for(base, st.tff, 0, 0, 0, 0), f), r.stride(), w, h, lb, rb, p,
                                curves ? &out.column_matched : nullptr);
        matched[i].add(m);
        const PIXEL_YC* o = r.run(controls_for(base, st.tff, st.left, st.width, st.shift, st.lpf), f);
        const Split so = measure(o, r.stride(), w, h, lb, rb, p, curves ? &out.column_output : nullptr);
        output[i].add(so);
        const double om = picture_measure(so.comb[0] + so.comb[1], so.field[0] + so.field[1], frame_floor);
        visible[i] += om >= 1.0;
        out.frame_numbers.push_back(f);
        out.frame_input.push_back(picture_measure(in.comb[0] + in.comb[1], in.field[0] + in.field[1], frame_floor));
        out.frame_matched.push_back(picture_measure(m.comb[0] + m.comb[1], m.field[0] + m.field[1], frame_floor));
        // The curve of the frames shows what --plan and --auto give: the
        // frames of the other kinds as they came.
        out.frame_output.push_back(runs[i].filtered ? om : out.frame_input.back());
        if (curves) ++curve_frames;
        if (f == picture) {
            auto copy = [&](const PIXEL_YC* src, std::vector<PIXEL_YC>& dst) {
                dst.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
                for (int y = 0; y < h; ++y)
                    std::copy(src + static_cast<size_t>(y) * static_cast<size_t>(r.stride()),
                              src + static_cast<size_t>(y) * static_cast<size_t>(r.stride()) + w,
                              dst.begin() + static_cast<long>(y) * w);
            };
            out.picture.frame = f;
            copy(r.input(f), out.picture.before);
            copy(o, out.picture.after);
        }
        if (rq.progress && out.frame_numbers.size() % 8 == 0)
            rq.progress("result", 0.85 + 0.15 * static_cast<double>(out.frame_numbers.size()) /
                                             static_cast<double>(std::max<size_t>(1, run_of.size())));
    };
    if (!read_stretches(rq, s.stretches, [&](long f) { return run_of.count(f) > 0; }, per_frame, error)) return false;
    for (std::vector<double>* c : {&out.column_input, &out.column_matched, &out.column_output})
        for (double& v : *c) v /= static_cast<double>(std::max<long>(1, curve_frames));
    for (size_t i = 0; i < runs.size(); ++i) {
        SegmentFigures& g = figures[i];
        g.frames = input[i].frames;
        g.input = input[i].whole(h);
        g.matched = matched[i].whole(h);
        g.band_matched = matched[i].part(0, h);
        g.rest_matched = matched[i].part(1, h);
        g.output = output[i].whole(h);
        g.visible = visible[i];
        g.defined = input[i].defined(h);
    }
    return true;
}

}  // namespace pelta_cli::analysis
