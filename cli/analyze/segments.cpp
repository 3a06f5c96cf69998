// The segments pass: the sampled stretches judged one by one, neighbours of
// one kind joined into parts, and each boundary between two kinds placed
// where the frames show it: at a cut between them where there is one, else
// midway. For a file, the gap between two stretches of different kinds is
// narrowed first by surveying short stretches inside it.
#include <algorithm>
#include <map>

#include "analyze/passes.h"
#include "analyze/sampling.h"

namespace pelta_cli::analysis {

namespace {

// Stretches surveyed inside a gap, and the gap they narrow it to.
constexpr long kProbeFrames = 20;
constexpr long kNarrowTo = kStretchFrames;
constexpr int kMostProbes = 64;

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

struct Judged {
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

std::vector<Judged> judge_stretches(const Survey& s) {
    std::vector<Judged> out;
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
            out.push_back(Judged{st, class_of(v.kind), v.confidence});
        }
    std::sort(out.begin(), out.end(), [](const Judged& a, const Judged& b) { return a.stretch.start < b.stretch.start; });
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

}  // namespace

bool find_parts(const AnalysisRequest& rq, Survey& s, long first, long end, std::vector<Part>& parts,
                std::string& error) {
    parts.clear();
    std::vector<Judged> judged = judge_stretches(s);
    if (judged.empty()) return true;
    // A file: narrow each gap between two kinds by surveying short stretches
    // inside it.
    if (rq.clip->seekable()) {
        int probes = 0;
        for (bool narrowed = true; narrowed && probes < kMostProbes;) {
            narrowed = false;
            for (size_t i = 0; i + 1 < judged.size(); ++i) {
                const long a = judged[i].stretch.start + judged[i].stretch.frames, b = judged[i + 1].stretch.start;
                if (judged[i].cls == judged[i + 1].cls || b - a <= kNarrowTo) continue;
                long mid = a + (b - a - kProbeFrames) / 2;
                mid += mid & 1;
                if (mid < a || mid + kProbeFrames > b) continue;
                if (!run_survey(rq, {Stretch{mid, kProbeFrames}}, s, error, true)) return false;
                ++probes;
                narrowed = true;
                break;
            }
            if (narrowed) judged = judge_stretches(s);
        }
    }
    // Parts: runs of one class.
    std::vector<std::pair<Stretch, int>> runs;  // first..last frames of the stretches, class
    for (const Judged& j : judged) {
        if (!runs.empty() && runs.back().second == j.cls) {
            runs.back().first.frames = j.stretch.start + j.stretch.frames - runs.back().first.start;
        } else {
            runs.push_back({j.stretch, j.cls});
        }
    }
    std::vector<long> bounds;  // where each part after the first begins
    for (size_t i = 0; i + 1 < runs.size(); ++i) {
        const long a = runs[i].first.start + runs[i].first.frames, b = runs[i + 1].first.start;
        if (rq.clip->seekable() && !scan_changes(rq, a, b + 1, s, error)) return false;
        bounds.push_back(place_boundary(s, a, b));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        Part p;
        p.start = i == 0 ? first : bounds[i - 1];
        p.end = i + 1 < runs.size() ? bounds[i] : end;
        p.frames = frames_in(s, p.start, p.end);
        if (p.frames.empty()) continue;
        p.verdict = judge(s, p.frames);
        // Neighbours that the verdicts on them together find of one kind
        // and band join.
        if (!parts.empty()) {
            Part& last = parts.back();
            const Verdict& a = last.verdict;
            const Verdict& b = p.verdict;
            const bool same_band = a.rb <= a.lb ? b.rb <= b.lb
                                                : b.rb > b.lb && std::min(a.rb, b.rb) - std::max(a.lb, b.lb) >=
                                                                     (std::max(a.rb - a.lb, b.rb - b.lb) + 1) / 2;
            if (a.kind == b.kind && same_band) {
                last.end = p.end;
                last.frames.insert(last.frames.end(), p.frames.begin(), p.frames.end());
                last.verdict = judge(s, last.frames);
                continue;
            }
        }
        parts.push_back(std::move(p));
    }
    if (!parts.empty()) {
        parts.front().start = first;
        parts.back().end = end;
    }
    return true;
}

}  // namespace pelta_cli::analysis
