// The result pass: the filter over every sampled frame with the settings of
// its segment, and field matching alone beside it, measured as the verdict
// measured the candidates; the figures the words quote, the curves and the
// picture of the report.
#include <algorithm>
#include <map>

#include "analyze/passes.h"
#include "analyze/tear.h"

namespace pelta_cli::analysis {

namespace {

// Comb and field energy of a picture per block, and the sums over the
// window's blocks and the rest.
struct Split {
    double comb[2] = {0, 0}, field[2] = {0, 0};  // [0] the window's blocks, [1] the rest
    int blocks[2] = {0, 0};
};

// Each block's comb and field energy, summed over the frames: the report's
// curve of the columns, each block's measure as the figures take theirs.
struct BlockSums {
    std::vector<double> comb, field;
};

Split measure(const PIXEL_YC* frame, int stride, int w, int h, int lb, int rb, Profiles& p, BlockSums* curve) {
    make_profiles(frame, stride, 0, w, h, kBlock, false, p);
    std::vector<double> comb(static_cast<size_t>(p.n), 0.0), field(static_cast<size_t>(p.n), 0.0);
    weave_energy(p.y.data(), p.y.data(), 0, p.n, h, comb.data(), field.data());
    Split s;
    for (int b = 0; b < p.n; ++b) {
        const double c = comb[static_cast<size_t>(b)], f = field[static_cast<size_t>(b)];
        const int side = b >= lb && b < rb ? 0 : 1;
        s.comb[side] += c;
        s.field[side] += f;
        ++s.blocks[side];
        if (curve) {
            curve->comb[static_cast<size_t>(b)] += c;
            curve->field[static_cast<size_t>(b)] += f;
        }
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

// The report's picture: the frame of the segment shown whose input combs
// most where its settings work (the window, or the whole frame).
long picture_frame(const Survey& s, const FoundSegment& shown, const SegmentSettings& st,
                   const std::map<long, size_t>& measured) {
    const int nb = s.blocks;
    const int flb = st.width > 0 ? st.left / kBlock : 0;
    const int frb = st.width > 0 ? (st.left + st.width + kBlock - 1) / kBlock : nb;
    long picture = -1;
    double most = -1;
    for (size_t k : shown.records) {
        if (!measured.count(s.frames[k].frame)) continue;
        double c = 0;
        for (int b = flb; b < std::min(frb, nb); ++b) c += s.frames[k].in_comb[static_cast<size_t>(b)];
        if (c > most) {
            most = c;
            picture = s.frames[k].frame;
        }
    }
    return picture;
}

// A frame's rows, w pixels each, out of a buffer whose rows are `stride`
// apart.
std::vector<PIXEL_YC> copy_picture(const PIXEL_YC* src, int stride, int w, int h) {
    std::vector<PIXEL_YC> dst(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        std::copy(src + static_cast<size_t>(y) * static_cast<size_t>(stride),
                  src + static_cast<size_t>(y) * static_cast<size_t>(stride) + w,
                  dst.begin() + static_cast<long>(y) * w);
    return dst;
}

// The sums of one segment's frames: the input, field matching alone and the
// settings; and how many frames the settings left visibly combed.
struct SegmentSums {
    Sums input, matched, output;
    long visible = 0;
    Combing combing(int h) const {
        Combing c;
        c.frames = input.frames;
        c.input = input.whole(h);
        c.matched = matched.whole(h);
        c.band_matched = matched.part(0, h);
        c.rest_matched = matched.part(1, h);
        c.output = output.whole(h);
        c.band_output = output.part(0, h);
        c.rest_output = output.part(1, h);
        c.visible = visible;
        c.defined = input.defined(h);
        return c;
    }
};

}  // namespace

bool run_result(const AnalysisRequest& rq, const Survey& s, const std::vector<FoundSegment>& segments,
                const std::vector<SegmentSettings>& settings, size_t shown, ResultPass& out, std::string& error) {
    const int w = rq.w, h = rq.h, nb = block_count(w);
    const Controls base = default_controls(rq.desc);
    // Up to kResultFrames frames of each moving segment, spread over it.
    constexpr size_t kResultFrames = 64;
    std::map<long, size_t> segment_of;  // clip frame -> its segment
    std::map<long, size_t> record_of;   // clip frame -> its survey record
    for (size_t i = 0; i < segments.size(); ++i) {
        if (!moving_kind(segments[i].verdict.kind)) continue;
        const FrameSet& recs = segments[i].records;
        const size_t every = (recs.size() + kResultFrames - 1) / kResultFrames;
        for (size_t k = 0; k < recs.size(); k += std::max<size_t>(1, every)) {
            segment_of[s.frames[recs[k]].frame] = i;
            record_of[s.frames[recs[k]].frame] = recs[k];
        }
    }
    // A window's segment: the tear at its edges, on its moving frames.
    std::vector<Tear> tears(segments.size());
    std::vector<std::vector<long>> moving_frames(segments.size());
    std::vector<SegmentSums> sums(segments.size());
    out = ResultPass{};
    const long picture = picture_frame(s, segments[shown], settings[shown], segment_of);
    ReportCurves& cv = out.curves;
    cv.block_width = kBlock;
    BlockSums column_sums[3];  // input, field matching alone, the settings
    for (BlockSums& b : column_sums) {
        b.comb.assign(static_cast<size_t>(nb), 0.0);
        b.field.assign(static_cast<size_t>(nb), 0.0);
    }
    long curve_frames = 0;

    Profiles p;
    const double frame_floor = energy_floor(nb, h);
    auto per_frame = [&](SampleRunner& r, long f) {
        const size_t i = segment_of[f];
        const SegmentSettings& st = settings[i];
        const int lb = st.width > 0 ? st.left / kBlock : 0;
        const int rb = st.width > 0 ? (st.left + st.width + kBlock - 1) / kBlock : 0;
        const bool curves = i == shown;
        const Split in = measure(r.input(f), r.stride(), w, h, lb, rb, p, curves ? &column_sums[0] : nullptr);
        sums[i].input.add(in);
        const Split m = measure(r.run(controls_for(base, st.tff, 0, 0, 0, 0), f), r.stride(), w, h, lb, rb, p,
                                curves ? &column_sums[1] : nullptr);
        sums[i].matched.add(m);
        // The frame as --plan filters it: with the window closed where its
        // partner frame lies outside the segment.
        const FilterStretch planned{segments[i].stretch.start, segments[i].stretch.frames,
                                    controls_for(base, st.tff, st.left, st.width, st.shift, st.lpf)};
        const Controls c = controls_at(planned, f);
        const PIXEL_YC* o = r.run(c, f);
        const Split so = measure(o, r.stride(), w, h, lb, rb, p, curves ? &column_sums[2] : nullptr);
        sums[i].output.add(so);
        if (segments[i].verdict.kind == ClipKind::Window && c.track[pelta::TRACK_WIDTH] > 0 &&
            frame_moves(s, s.frames[record_of[f]])) {
            ++tears[i].moving;
            tears[i].torn += torn_frame(r.input(f), o, r.stride(), w, h, st.left, std::min(w, st.left + st.width), s.noise);
            moving_frames[i].push_back(f);
        }
        const double om = picture_measure(so.comb[0] + so.comb[1], so.field[0] + so.field[1], frame_floor);
        sums[i].visible += om >= 1.0;
        cv.frame_numbers.push_back(f);
        cv.frame_input.push_back(picture_measure(in.comb[0] + in.comb[1], in.field[0] + in.field[1], frame_floor));
        cv.frame_matched.push_back(picture_measure(m.comb[0] + m.comb[1], m.field[0] + m.field[1], frame_floor));
        // The curve of the frames shows what --plan and --auto give: the
        // frames of the other kinds as they came.
        cv.frame_output.push_back(is_pelta_kind(segments[i].verdict.kind) ? om : cv.frame_input.back());
        if (curves) ++curve_frames;
        if (f == picture) {
            out.picture.frame = f;
            out.picture.before = copy_picture(r.input(f), r.stride(), w, h);
            out.picture.after = copy_picture(o, r.stride(), w, h);
        }
        if (rq.progress && cv.frame_numbers.size() % 8 == 0)
            rq.progress("result", 0.85 + 0.15 * static_cast<double>(cv.frame_numbers.size()) /
                                             static_cast<double>(std::max<size_t>(1, segment_of.size())));
    };
    std::vector<long> frames;
    for (const auto& [f, i] : segment_of) frames.push_back(f);
    if (!read_frames(rq, frames, per_frame, error)) return false;
    std::vector<double>* columns[3] = {&cv.column_input, &cv.column_matched, &cv.column_output};
    const double block_floor = static_cast<double>(std::max<long>(1, curve_frames)) * energy_floor(1, h);
    for (int k = 0; k < 3; ++k) {
        columns[k]->assign(static_cast<size_t>(nb), 0.0);
        for (size_t b = 0; b < static_cast<size_t>(nb); ++b)
            (*columns[k])[b] = picture_measure(column_sums[k].comb[b], column_sums[k].field[b], block_floor);
    }
    out.combing.resize(segments.size());
    for (size_t i = 0; i < segments.size(); ++i) {
        if (!moving_kind(segments[i].verdict.kind)) continue;
        out.combing[i] = sums[i].combing(h);
        // Where the output tears in a tenth of the moving frames or more:
        // what, tried with the filter on up to 96 of them, removes it.
        Tear& t = tears[i];
        if (t.moving > 0 && t.torn * 10 >= t.moving) {
            std::vector<long> tried;
            const size_t every = (moving_frames[i].size() + 95) / 96;
            for (size_t k = 0; k < moving_frames[i].size(); k += every) tried.push_back(moving_frames[i][k]);
            if (!tear_remedy(rq, s, tried, settings[i], t, error)) return false;
        }
        out.combing[i].tear = t;
    }
    return true;
}

}  // namespace pelta_cli::analysis
