// The analysis in order: the survey of the sampled stretches (by seeking in
// a file, or as a pipe is read); the segments, each judged on its own
// frames; for every moving segment the refinement, which settles its
// settings with the filter itself; the result pass over every segment; the
// words.
#include "analyze/analyze.h"

#include <algorithm>
#include <map>

#include "analyze/passes.h"
#include "analyze/sampling.h"

namespace pelta_cli {

namespace {

using namespace analysis;

bool moving_kind(ClipKind k) { return k != ClipKind::Still && k != ClipKind::Black; }

// The segment whose kind and settings the whole clip's are: the longest of
// pelta's kinds when those hold a third of the frames or more, else the
// longest of the kind that holds most.
size_t focus_of(const std::vector<Part>& parts) {
    std::map<ClipKind, long> held;
    long total = 0, pelta = 0;
    for (const Part& p : parts) {
        held[p.verdict.kind] += p.end - p.start;
        total += p.end - p.start;
        if (is_pelta_kind(p.verdict.kind)) pelta += p.end - p.start;
    }
    auto longest = [&](auto wanted) {
        size_t best = parts.size();
        for (size_t i = 0; i < parts.size(); ++i)
            if (wanted(parts[i].verdict.kind) &&
                (best == parts.size() || parts[i].end - parts[i].start > parts[best].end - parts[best].start))
                best = i;
        return best;
    };
    if (pelta > 0 && 3 * pelta >= total) return longest([](ClipKind k) { return is_pelta_kind(k); });
    ClipKind most = parts.front().verdict.kind;
    for (const auto& [kind, frames] : held)
        if (frames > held[most] || (frames == held[most] && moving_kind(kind) && !moving_kind(most))) most = kind;
    return longest([&](ClipKind k) { return k == most; });
}

// The figures of a segment from its refinement and verdict, beside those of
// the result pass.
void add_figures(const Refinement& ref, const Verdict& v, SegmentFigures& g) {
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
}

}  // namespace

bool analyze_clip(const AnalysisRequest& rq, Analysis& out, std::string& error) {
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

    // The survey: a file by seeking to stretches spread over the frames
    // asked about; a pipe as it is read.
    Survey survey;
    long end = 0;
    if (rq.clip->seekable()) {
        const long length = rq.clip->length();
        end = rq.frames < 0 ? length : std::min(length, rq.start + rq.frames);
        if (rq.start >= length && length > 0) {
            error = "--start " + std::to_string(rq.start) + " is beyond the clip's end: it has " +
                    std::to_string(length) + " frames (0.." + std::to_string(length - 1) + ")";
            return false;
        }
        if (end - rq.start < kMinAnalysisFrames) {
            error = "the analysis needs at least " + std::to_string(kMinAnalysisFrames) + " frames from frame " +
                    std::to_string(rq.start) + ", and the clip has " + std::to_string(std::max(0L, end - rq.start)) +
                    " there";
            return false;
        }
        if (!run_survey(rq, spread_stretches(rq.start, end), survey, error)) return false;
    } else {
        long length = 0;
        if (!survey_stream(rq, survey, length, error)) return false;
        end = rq.frames < 0 ? length : std::min(length, rq.start + rq.frames);
    }
    const long n = static_cast<long>(survey.frames.size());
    if (n < kMinAnalysisFrames) {
        error = "the analysis needs at least " + std::to_string(kMinAnalysisFrames) + " frames from frame " +
                std::to_string(rq.start) + ", and the clip has " + std::to_string(std::max(0L, end - rq.start)) +
                " there";
        return false;
    }

    // The segments, and for each that moves, its settings.
    std::vector<Part> parts;
    if (!find_parts(rq, survey, rq.start, end, parts, error)) return false;
    if (std::none_of(parts.begin(), parts.end(), [](const Part& p) { return moving_kind(p.verdict.kind); })) {
        error = "cannot tell: frames " + std::to_string(rq.start) + ".." + std::to_string(end - 1) +
                " hold no motion, and without motion the fields of neighbouring frames look alike; analyse a "
                "stretch with motion (--start)";
        return false;
    }
    std::vector<Refinement> refs(parts.size());
    std::vector<SegmentRun> runs;
    std::vector<size_t> run_of(parts.size(), parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!moving_kind(parts[i].verdict.kind)) {
            refs[i].settings = SegmentSettings{1, 0, 0, 0, 0};
            continue;
        }
        if (!refine(rq, survey, parts[i].frames, parts[i].verdict, refs[i], error)) return false;
        run_of[i] = runs.size();
        runs.push_back(SegmentRun{parts[i].frames, refs[i].settings, is_pelta_kind(parts[i].verdict.kind)});
    }
    const size_t focus = focus_of(parts);
    std::vector<SegmentFigures> figures;
    if (!run_result(rq, survey, runs, run_of[focus] < runs.size() ? run_of[focus] : 0, figures, out, error))
        return false;

    // Each segment in words; the clip's own are those of the focus.
    for (size_t i = 0; i < parts.size(); ++i) {
        Analysis a;
        a.kind = parts[i].verdict.kind;
        a.settings = refs[i].settings;
        SegmentFigures g;
        if (run_of[i] < runs.size()) g = figures[run_of[i]];
        add_figures(refs[i], parts[i].verdict, g);
        describe(parts[i].verdict, g, a);
        out.segments.push_back(
            Segment{parts[i].start, parts[i].end - parts[i].start, a.kind, a.settings, a.confidence});
        if (i != focus) continue;
        out.focus = out.segments.size() - 1;
        out.kind = a.kind;
        out.settings = a.settings;
        out.verdict = a.verdict;
        out.evidence = a.evidence;
        out.advice = a.advice;
        out.warnings = a.warnings;
        out.confidence = a.confidence;
        out.figures = g;
        out.input_comb = g.input;
        out.output_comb = g.output;
    }
    out.frames = n;
    out.span = end - rq.start;
    return true;
}

}  // namespace pelta_cli
