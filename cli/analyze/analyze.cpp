// The analysis in order: the survey of the sampled stretches (by seeking in
// a file, or as a pipe is read); the segments, each judged on its own
// frames; for every moving segment the refinement, which settles its
// settings with the filter itself; the result pass over every segment; the
// words. Each pass returns what it found, and only this file puts the
// findings together into the Analysis.
#include "analyze/analyze.h"

#include <algorithm>
#include <map>

#include "analyze/passes.h"
#include "analyze/sampling.h"

namespace pelta_cli {

namespace {

using namespace analysis;

// The segment whose kind and settings the whole clip's are: the longest of
// pelta's kinds when those hold a third of the frames or more, else the
// longest of the kind that holds most.
size_t focus_of(const std::vector<FoundSegment>& found) {
    std::map<ClipKind, long> held;
    long total = 0, pelta = 0;
    for (const FoundSegment& p : found) {
        held[p.verdict.kind] += p.stretch.frames;
        total += p.stretch.frames;
        if (is_pelta_kind(p.verdict.kind)) pelta += p.stretch.frames;
    }
    auto longest = [&](auto wanted) {
        size_t best = found.size();
        for (size_t i = 0; i < found.size(); ++i)
            if (wanted(found[i].verdict.kind) &&
                (best == found.size() || found[i].stretch.frames > found[best].stretch.frames))
                best = i;
        return best;
    };
    if (pelta > 0 && 3 * pelta >= total) return longest([](ClipKind k) { return is_pelta_kind(k); });
    ClipKind most = found.front().verdict.kind;
    for (const auto& [kind, frames] : held)
        if (frames > held[most] || (frames == held[most] && moving_kind(kind) && !moving_kind(most))) most = kind;
    return longest([&](ClipKind k) { return k == most; });
}

std::string too_few_frames(long start, long have) {
    return "the analysis needs at least " + std::to_string(kMinAnalysisFrames) + " frames from frame " +
           std::to_string(start) + ", and the clip has " + std::to_string(std::max(0L, have)) + " there";
}

// The survey: a file by seeking to stretches spread over the frames asked
// about; a pipe as it is read. `end` is the frame after the last one the
// sample spreads over.
bool survey_clip(const AnalysisRequest& rq, Survey& survey, long& end, std::string& error) {
    if (!rq.clip->seekable()) {
        long length = 0;
        if (!survey_stream(rq, survey, length, error)) return false;
        end = rq.frames < 0 ? length : std::min(length, rq.start + rq.frames);
        return true;
    }
    const long length = rq.clip->length();
    end = rq.frames < 0 ? length : std::min(length, rq.start + rq.frames);
    if (rq.start >= length && length > 0) {
        error = "--start " + std::to_string(rq.start) + " is beyond the clip's end: it has " + std::to_string(length) +
                " frames (0.." + std::to_string(length - 1) + ")";
        return false;
    }
    if (end - rq.start < kMinAnalysisFrames) {
        error = too_few_frames(rq.start, end - rq.start);
        return false;
    }
    return run_survey(rq, sampled_stretches(rq.start, end, whole_up_to(rq.w, rq.h)), survey, error);
}

// The segments, reading what the segments pass asks for (a file only)
// until it answers.
bool segment_clip(const AnalysisRequest& rq, Survey& survey, long end, std::vector<FoundSegment>& found,
                  std::string& error) {
    const bool file = rq.clip->seekable();
    int probes = 0;
    bool changes_read = false;
    for (;;) {
        Parts parts = find_parts(survey, rq.start, end, MayRead{file && probes < kMostProbes, file && !changes_read});
        if (!parts.wants_reading()) {
            found = std::move(parts.segments);
            return true;
        }
        if (!parts.survey.empty()) {
            if (!run_survey(rq, parts.survey, survey, error, true)) return false;
            probes += static_cast<int>(parts.survey.size());
            continue;
        }
        for (const Stretch& st : parts.changes)
            if (!scan_changes(rq, st.start, st.end(), survey, error)) return false;
        changes_read = true;
    }
}

// Each moving segment's settings from its refinement; the others' are
// those --auto --force would use.
bool refine_segments(const AnalysisRequest& rq, const Survey& survey, std::vector<FoundSegment>& found,
                     std::vector<Refinement>& refs, std::string& error) {
    refs.assign(found.size(), Refinement{});
    for (size_t i = 0; i < found.size(); ++i) {
        if (!moving_kind(found[i].verdict.kind)) {
            refs[i].settings = SegmentSettings{1, 0, 0, 0, 0};
            continue;
        }
        if (!refine(rq, survey, found[i], refs[i], error)) return false;
        const ClipKind k = found[i].verdict.kind;
        if ((k == ClipKind::Match || k == ClipKind::Window) && !repairs(refs[i])) {
            found[i].verdict = unrepaired(found[i].verdict, refs[i]);
            refs[i].settings = SegmentSettings{1, 0, 0, 0, 0};
        }
    }
    return true;
}

// A window whose output tears where the other TFF setting's does not, and
// combs no more under it (the result pass tried it): refined again under
// that setting, which it then keeps. True where any was; the result pass
// must then measure again.
bool turn_against_tears(const AnalysisRequest& rq, const Survey& survey, const std::vector<FoundSegment>& found,
                        const ResultPass& result, std::vector<Refinement>& refs, bool& turned, std::string& error) {
    turned = false;
    for (size_t i = 0; i < found.size(); ++i) {
        const Tear& t = result.combing[i].tear;
        if (found[i].verdict.kind != ClipKind::Window || t.remedy.rfind("--tff ", 0) != 0) continue;
        const int tff = 1 - refs[i].settings.tff;
        if (!refine(rq, survey, found[i], refs[i], error, tff)) return false;
        refs[i].turned_from = t;
        turned = true;
    }
    return true;
}

// The segment whose curves and picture the report shows: the focus, or the
// first that moves where the focus does not.
size_t shown_segment(const std::vector<FoundSegment>& found, size_t focus) {
    if (moving_kind(found[focus].verdict.kind)) return focus;
    for (size_t i = 0; i < found.size(); ++i)
        if (moving_kind(found[i].verdict.kind)) return i;
    return focus;
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
    Survey survey;
    long end = 0;
    if (!survey_clip(rq, survey, end, error)) return false;
    // The frames looked at: those of the sample itself, before any probe.
    const long looked_at = static_cast<long>(survey.frames.size());
    if (looked_at < kMinAnalysisFrames) {
        error = too_few_frames(rq.start, end - rq.start);
        return false;
    }
    std::vector<FoundSegment> found;
    if (!segment_clip(rq, survey, end, found, error)) return false;
    if (std::none_of(found.begin(), found.end(), [](const FoundSegment& p) { return moving_kind(p.verdict.kind); })) {
        error = "cannot tell: frames " + std::to_string(rq.start) + ".." + std::to_string(end - 1) +
                " hold no motion, and without motion the fields of neighbouring frames look alike; analyse a "
                "stretch with motion (--start)";
        return false;
    }
    std::vector<Refinement> refs;
    if (!refine_segments(rq, survey, found, refs, error)) return false;
    const RefineOne again = [&](const FoundSegment& seg, Refinement& r) { return refine(rq, survey, seg, r, error); };
    if (!join_refined_alike(survey, found, refs, again)) return false;
    std::vector<SegmentSettings> settings;
    for (const Refinement& r : refs) settings.push_back(r.settings);
    const size_t focus = focus_of(found);
    ResultPass result;
    if (!run_result(rq, survey, found, settings, shown_segment(found, focus), result, error)) return false;
    bool turned = false;
    if (!turn_against_tears(rq, survey, found, result, refs, turned, error)) return false;
    if (turned) {
        for (size_t i = 0; i < refs.size(); ++i) settings[i] = refs[i].settings;
        result = ResultPass{};
        if (!run_result(rq, survey, found, settings, shown_segment(found, focus), result, error)) return false;
    }

    out = Analysis{};
    out.start = rq.start;
    out.frames = looked_at;
    out.span = end - rq.start;
    out.w = rq.w;
    out.h = rq.h;
    out.focus = focus;
    for (size_t i = 0; i < found.size(); ++i) {
        const Words words = describe(found[i].verdict, refs[i], result.combing[i]);
        const Segment segment{found[i].stretch.start, found[i].stretch.frames, found[i].verdict.kind, refs[i].settings,
                              words.confidence};
        out.segments.push_back(SegmentAnalysis{segment, words, result.combing[i]});
    }
    out.curves = std::move(result.curves);
    out.picture = std::move(result.picture);
    return true;
}

}  // namespace pelta_cli
