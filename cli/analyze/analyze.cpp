// The analysis in order: the survey of the sample; the verdict; for any
// moving clip the refinement, which settles the settings with the filter
// itself; the result pass; the words.
#include "analyze/analyze.h"

#include <algorithm>
#include <numeric>

#include "analyze/passes.h"

namespace pelta_cli {

bool analyze_clip(const AnalysisRequest& rq, Analysis& out, std::string& error) {
    using namespace analysis;
    // The measure needs rows two field lines either side, and a block of
    // columns.
    if (rq.w < kBlock || rq.h < 12) {
        error = "cannot tell: frames of " + std::to_string(rq.w) + "x" + std::to_string(rq.h) +
                " are too small to measure combing (the analysis needs at least 8x12)";
        return false;
    }
    out = Analysis{};
    out.start = rq.start;
    out.w = rq.w;
    out.h = rq.h;
    Survey survey;
    if (!run_survey(rq, {Stretch{rq.start, rq.frames}}, survey, error)) return false;
    const long n = static_cast<long>(survey.frames.size());
    if (n < kMinAnalysisFrames) {
        error = "the analysis needs at least " + std::to_string(kMinAnalysisFrames) + " frames from frame " +
                std::to_string(rq.start) + ", and the clip has " + std::to_string(n) + " there";
        return false;
    }
    FrameSet all(static_cast<size_t>(n));
    std::iota(all.begin(), all.end(), size_t{0});
    const Verdict v = judge(survey, all);
    if (v.kind == ClipKind::Still || v.kind == ClipKind::Black) {
        error = "cannot tell: frames " + std::to_string(rq.start) + ".." + std::to_string(rq.start + n - 1) +
                " hold no motion, and without motion the fields of neighbouring frames look alike; analyse a "
                "stretch with motion (--start)";
        return false;
    }
    Refinement ref;
    if (!refine(rq, survey, all, v, ref, error)) return false;
    std::vector<SegmentFigures> figures;
    if (!run_result(rq, survey, {SegmentRun{all, ref.settings}}, 0, figures, out, error)) return false;
    SegmentFigures& g = figures[0];
    for (int t = 0; t < 2; ++t) {
        g.tff_comb[t] = ref.tff_comb[t];
        g.band_comb[t] = ref.band_comb[t];
        g.rest_comb[t] = ref.rest_comb[t];
    }
    g.filtered = ref.frames;
    g.visible_unfiltered = ref.visible;
    g.lowpassed = ref.lowpassed;
    g.lowpassed_clean = ref.lowpassed_clean;
    g.torn = ref.torn;
    g.moving = ref.moving;
    g.misled = ref.misled;
    g.chroma_disagree = ref.chroma_disagree;
    g.chroma_judged = ref.chroma_judged;
    g.dup_share = v.dup_share;
    g.input_share = v.input_share;
    g.gap = v.gap;
    out.kind = v.kind;
    out.settings = ref.settings;
    out.frames = n;
    out.span = n;
    out.input_comb = g.input;
    out.output_comb = g.output;
    out.figures = g;
    describe(v, g, out);
    out.segments = {Segment{rq.start, n, out.kind, out.settings, out.confidence}};
    return true;
}

}  // namespace pelta_cli
