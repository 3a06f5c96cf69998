#include "analyze/tear.h"

#include <algorithm>

#include "analyze/passes.h"

namespace pelta_cli::analysis {

namespace {

// The least an edge's step must exceed, beyond the columns beside it: half again
// the input's own step there, three times the columns beside it, and four
// times the energy that grain alone gives a difference of two columns.
constexpr double kOverInput = 1.5, kOverBeside = 3.0, kOverGrain = 4.0;
// How much more combing a remedy may leave, on the measure, where a clean
// picture measures well below 1 and visible combing 1 and more: a tenth (or
// 3% where that is more), and no more frames visibly combed.
constexpr double kMoreComb = 0.1;

}  // namespace

EdgeStep edge_step(const PIXEL_YC* pixels, int stride, int x, int h) {
    EdgeStep e;
    auto diff2 = [&](int y, int a) {
        const PIXEL_YC* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
        const double d = static_cast<double>(row[a].y) - row[a - 1].y;
        return d * d;
    };
    for (int y = 2; y + 2 < h; ++y) {
        e.across += diff2(y, x);
        e.beside += 0.25 * (diff2(y, x - 2) + diff2(y, x - 1) + diff2(y, x + 1) + diff2(y, x + 2));
    }
    return e;
}

bool torn_frame(const PIXEL_YC* input, const PIXEL_YC* output, int stride, int w, int h, int left, int right,
                double grain) {
    const double grain_step = kOverGrain * 2.0 * grain * grain * std::max(1, h - 4);
    for (int x : {left, right}) {
        if (x < 3 || x + 3 > w || right <= left) continue;
        const EdgeStep in = edge_step(input, stride, x, h), out = edge_step(output, stride, x, h);
        const double excess = out.excess();
        if (excess > kOverInput * std::max(0.0, in.excess()) && out.across > kOverBeside * out.beside &&
            excess > grain_step)
            return true;
    }
    return false;
}

bool tear_remedy(const AnalysisRequest& rq, const Survey& s, const std::vector<long>& frames,
                 const SegmentSettings& settings, Tear& tear, std::string& error) {
    tear.remedy_tried = true;
    tear.remedy.clear();
    if (frames.empty() || settings.width <= 0) return true;
    const int w = rq.w, h = rq.h, nb = block_count(w);
    // The settings tried, and the options that say each.
    struct Try {
        SegmentSettings st;
        std::string options;
        long torn = 0, visible = 0;
        double comb = 0, field = 0;
        double edge_comb = 0, edge_field = 0;  // in the columns around the window's edges
    };
    std::vector<Try> tries;
    const SegmentSettings& g = settings;
    tries.push_back({g, ""});  // the settings themselves: the combing to compare with
    SegmentSettings other = g;
    other.tff = 1 - g.tff;
    tries.push_back({other, "--tff " + std::to_string(other.tff)});
    const int right = std::min(w, g.left + g.width);
    for (int move : {8, -8}) {
        SegmentSettings m = g;
        m.left = std::clamp(g.left - move, 0, w - 1);
        m.width = std::clamp(right + move, m.left + 1, w) - m.left;
        if (m.width <= 0 || (m.left == g.left && m.width == g.width)) continue;
        tries.push_back({m, "--left " + std::to_string(m.left) + " --width " + std::to_string(m.width)});
    }
    if (!g.lpf) {
        SegmentSettings l = g;
        l.lpf = 1;
        tries.push_back({l, "--lpf 1"});
    }
    // The columns within 8 of either edge: where moving an edge changes what
    // is rebuilt. A tear at the edge measures only a step between columns, so
    // an edge moved into the picture around the band, which the window then
    // combs, can lose the step there and still leave the picture worse; its
    // combing here tells.
    std::vector<std::pair<int, int>> zones;
    for (int x : {g.left, right}) zones.emplace_back(std::clamp(x - 8, 0, w), std::clamp(x + 8, 0, w));
    int zone_blocks = 0;
    for (const auto& [x0, x1] : zones) zone_blocks += (x1 - x0 + kBlock - 1) / kBlock;
    const Controls base = default_controls(rq.desc);
    Profiles p;
    std::vector<double> comb(static_cast<size_t>(nb)), field(static_cast<size_t>(nb));
    // Comb and field energy of the picture's columns [x0, x1), added into
    // *c and *fe; returns the two for these columns alone.
    auto add_energy = [&](const PIXEL_YC* o, int stride, int x0, int x1, double* c, double* fe) {
        make_profiles(o, stride, x0, x1, h, kBlock, false, p);
        std::fill(comb.begin(), comb.end(), 0.0);
        std::fill(field.begin(), field.end(), 0.0);
        weave_energy(p.y.data(), p.y.data(), 0, p.n, h, comb.data(), field.data());
        double cs = 0, fs = 0;
        for (int b = 0; b < p.n; ++b) {
            cs += comb[static_cast<size_t>(b)];
            fs += field[static_cast<size_t>(b)];
        }
        *c += cs;
        *fe += fs;
        return std::pair{cs, fs};
    };
    auto per_frame = [&](SampleRunner& r, long f) {
        for (Try& t : tries) {
            const SegmentSettings& st = t.st;
            const PIXEL_YC* o = r.run(controls_for(base, st.tff, st.left, st.width, st.shift, st.lpf), f);
            t.torn += torn_frame(r.input(f), o, r.stride(), w, h, st.left, std::min(w, st.left + st.width), s.noise);
            const auto [c, fe] = add_energy(o, r.stride(), 0, w, &t.comb, &t.field);
            t.visible += picture_measure(c, fe, energy_floor(nb, h)) >= 1.0;
            for (const auto& [x0, x1] : zones)
                if (x1 > x0) add_energy(o, r.stride(), x0, x1, &t.edge_comb, &t.edge_field);
        }
    };
    std::vector<long> sorted(frames.begin(), frames.end());
    std::sort(sorted.begin(), sorted.end());
    if (!read_frames(rq, sorted, per_frame, error)) return false;
    const double floor = static_cast<double>(frames.size()) * energy_floor(nb, h);
    const double now = picture_measure(tries[0].comb, tries[0].field, floor);
    const double edge_floor = static_cast<double>(frames.size()) * energy_floor(zone_blocks, h);
    const double edge_now = picture_measure(tries[0].edge_comb, tries[0].edge_field, edge_floor);
    auto hardly_more = [](double measure, double than) { return measure <= std::max((1 + kAlike) * than, than + kMoreComb); };
    const long moving = static_cast<long>(frames.size());
    for (size_t i = 1; i < tries.size(); ++i) {
        const Try& t = tries[i];
        if (t.torn * 10 < moving && t.visible <= tries[0].visible &&
            hardly_more(picture_measure(t.comb, t.field, floor), now) &&
            hardly_more(picture_measure(t.edge_comb, t.edge_field, edge_floor), edge_now)) {
            tear.remedy = t.options;
            break;
        }
    }
    return true;
}

}  // namespace pelta_cli::analysis
