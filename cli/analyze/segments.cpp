// The segments pass: the sampled stretches judged one by one, neighbours of
// one kind joined into parts, and each boundary between two kinds placed
// where the frames show it: at a cut between them where there is one, else
// midway. For a file, the gap between two stretches of different kinds is
// narrowed first by surveying short stretches inside it.
#include <algorithm>

#include "analyze/passes.h"
#include "analyze/sampling.h"

namespace pelta_cli::analysis {

namespace {

// Stretches surveyed inside a gap, and the gap they narrow it to.
constexpr long kProbeFrames = 20;
constexpr long kNarrowTo = kStretchFrames;

// What joins stretches into one part: match and window are one class, the
// band being a matter of the part's settings.
int class_of(ClipKind kind) {
    switch (kind) {
        case ClipKind::Match:
        case ClipKind::Window: return 0;
        case ClipKind::Progressive: return 1;
        case ClipKind::Pulldown: return 2;
        case ClipKind::Interlaced: return 3;
        case ClipKind::Still: return 4;
        case ClipKind::Black: return 5;
    }
    return 1;
}

// A stretch of the survey judged by itself: its class and confidence.
struct JudgedStretch {
    Stretch stretch;
    int cls = 0;
    double confidence = 0;
};

FrameSet frames_in(const Survey& s, long first, long end) {
    FrameSet set;
    for (size_t i = 0; i < s.frames.size(); ++i)
        if (s.frames[i].frame >= first && s.frames[i].frame < end) set.push_back(i);
    std::sort(set.begin(), set.end(), [&](size_t a, size_t b) { return s.frames[a].frame < s.frames[b].frame; });
    return set;
}

std::vector<JudgedStretch> judge_stretches(const Survey& s) {
    std::vector<JudgedStretch> out;
    // A long stretch (a short clip looked at whole) is judged a second at a
    // time, the last piece taking in a remainder shorter than half a second.
    for (const Stretch& whole : s.stretches)
        for (long at = whole.start; at < whole.start + whole.frames;) {
            long frames = std::min(kStretchFrames, whole.start + whole.frames - at);
            if (whole.start + whole.frames - (at + frames) < kStretchFrames / 2) frames = whole.start + whole.frames - at;
            const Stretch st{at, frames};
            at += frames;
            const FrameSet set = frames_in(s, st.start, st.start + st.frames);
            if (set.empty()) continue;
            const Verdict v = judge(s, set);
            out.push_back(JudgedStretch{st, class_of(v.kind), v.confidence});
        }
    std::sort(out.begin(), out.end(), [](const JudgedStretch& a, const JudgedStretch& b) { return a.stretch.start < b.stretch.start; });
    // A stretch judged on slight evidence does not part what is around it:
    // between two stretches of one class it takes theirs.
    for (size_t i = 1; i + 1 < out.size(); ++i)
        if (out[i].confidence < 0.5 && out[i - 1].cls == out[i + 1].cls && out[i].cls != out[i - 1].cls)
            out[i].cls = out[i - 1].cls;
    return out;
}

// Where between frames a (the end of one kind's stretches) and b (the start
// of the next kind's) the boundary lies: at the frame of the clearest cut,
// where one stands out of the changes around it, else midway.
long place_boundary(const Survey& s, long a, long b) {
    // The last stretch of one kind and the first of the next are judged a
    // second each: the change may lie up to half of each inside them.
    const long from = a - kStretchFrames / 2, to = b + kStretchFrames / 2;
    double most = -1;
    long at = -1;
    std::vector<float> around;
    for (const auto& [f, change] : s.frame_change) {
        if (f < from - 10 || f > to + 10) continue;
        around.push_back(change);
        if (f >= from && f <= to && change > most) {
            most = change;
            at = f;
        }
    }
    if (at >= 0 && around.size() >= 5) {
        std::nth_element(around.begin(), around.begin() + static_cast<long>(around.size() / 2), around.end());
        const double typical = around[around.size() / 2];
        // A cut changes the frame by several times what motion does from
        // one frame to the next, and by more than a quarter of an 8-bit code
        // on average.
        if (most >= 4.0 * typical && most >= 8.0) return at;
    }
    return a + (b - a) / 2;
}

// The first gap between two stretches of different kinds wider than a
// stretch, and the short stretch in its middle to survey; none where every
// such gap is narrow enough.
bool next_probe(const std::vector<JudgedStretch>& judged, Stretch& probe) {
    for (size_t i = 0; i + 1 < judged.size(); ++i) {
        const long a = judged[i].stretch.end(), b = judged[i + 1].stretch.start;
        if (judged[i].cls == judged[i + 1].cls || b - a <= kNarrowTo) continue;
        long mid = a + (b - a - kProbeFrames) / 2;
        mid += mid & 1;
        if (mid < a || mid + kProbeFrames > b) continue;
        probe = Stretch{mid, kProbeFrames};
        return true;
    }
    return false;
}

// Runs of stretches of one class: the first stretch's start to the last
// one's end, and the class.
struct ClassRun {
    Stretch stretch;
    int cls = 0;
};

std::vector<ClassRun> class_runs(const std::vector<JudgedStretch>& judged) {
    std::vector<ClassRun> runs;
    for (const JudgedStretch& j : judged) {
        if (!runs.empty() && runs.back().cls == j.cls)
            runs.back().stretch.frames = j.stretch.end() - runs.back().stretch.start;
        else
            runs.push_back({j.stretch, j.cls});
    }
    return runs;
}

// Whether two neighbours found of one kind hold one band (or neither has
// one): then they are one segment.
bool same_kind_and_band(const Verdict& a, const Verdict& b) {
    const bool same_band = a.rb <= a.lb ? b.rb <= b.lb
                                        : b.rb > b.lb && std::min(a.rb, b.rb) - std::max(a.lb, b.lb) >=
                                                             (std::max(a.rb - a.lb, b.rb - b.lb) + 1) / 2;
    return a.kind == b.kind && same_band;
}

// The segments between the boundaries, each judged on its records;
// neighbours that the verdicts on them together find of one kind and band
// join.
std::vector<FoundSegment> segments_between(const Survey& s, const std::vector<long>& bounds, long first, long end) {
    std::vector<FoundSegment> out;
    for (size_t i = 0; i <= bounds.size(); ++i) {
        FoundSegment seg;
        const long a = i == 0 ? first : bounds[i - 1], b = i < bounds.size() ? bounds[i] : end;
        seg.stretch = Stretch{a, b - a};
        seg.records = frames_in(s, a, b);
        if (seg.records.empty()) continue;
        seg.verdict = judge(s, seg.records);
        if (!out.empty() && same_kind_and_band(out.back().verdict, seg.verdict)) {
            FoundSegment& last = out.back();
            last.stretch.frames = b - last.stretch.start;
            last.records.insert(last.records.end(), seg.records.begin(), seg.records.end());
            last.verdict = judge(s, last.records);
            continue;
        }
        out.push_back(std::move(seg));
    }
    if (!out.empty()) {
        out.back().stretch.frames = end - out.back().stretch.start;
        out.front().stretch.frames += out.front().stretch.start - first;
        out.front().stretch.start = first;
    }
    return out;
}

}  // namespace

Parts find_parts(const Survey& s, long first, long end, const MayRead& may) {
    Parts parts;
    const std::vector<JudgedStretch> judged = judge_stretches(s);
    if (judged.empty()) return parts;
    // A file: each gap between two kinds narrowed first by surveying short
    // stretches inside it, one at a time.
    Stretch probe;
    if (may.probes && next_probe(judged, probe)) {
        parts.survey.push_back(probe);
        return parts;
    }
    const std::vector<ClassRun> runs = class_runs(judged);
    std::vector<long> bounds;  // where each run after the first begins
    for (size_t i = 0; i + 1 < runs.size(); ++i) {
        const long a = runs[i].stretch.end(), b = runs[i + 1].stretch.start;
        // The frames between two runs, read for a cut where the clip allows.
        if (may.changes) parts.changes.push_back(Stretch{a, b + 1 - a});
        bounds.push_back(place_boundary(s, a, b));
    }
    if (parts.wants_reading()) return parts;
    parts.segments = segments_between(s, bounds, first, end);
    return parts;
}

}  // namespace pelta_cli::analysis
