// The analysis's decisions on small synthetic surveys, without reading a
// clip: what a run of frames is (judge), where one kind of footage ends and
// the next begins (find_parts), and what the words warn of (describe). Each
// survey is made of frames whose block energies read plainly as one kind, so
// that a test fails only where a decision goes wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "analyze/passes.h"

namespace {

using namespace pelta_cli;
using namespace pelta_cli::analysis;

// How a synthetic frame reads: the frame itself least combed (a whole
// picture), the weave with the next frame least combed (fields out of step),
// the frame and one weave nearly alike (true interlacing), one field
// repeated from the frame before (pulldown), or no motion at all.
enum class Look { Progressive, Match, Interlaced, Pulldown, Still };

constexpr int kBlocks = 24, kHeight = 48;

FrameRecord synthetic_frame(long f, Look look, bool has_prev, bool has_next) {
    FrameRecord r;
    r.frame = f;
    r.has_prev = has_prev;
    r.has_next = has_next;
    r.luma = 2000;
    r.spread = 500;
    r.noise = 1;
    const size_t nb = kBlocks;
    const bool moves = look != Look::Still;
    // Each field's change since the frame before: both fields move, or one
    // repeats the frame before's.
    const float top = moves ? 200.f : 0.f, bottom = look == Look::Pulldown ? 0.f : top;
    r.moved.assign(2 * nb, 0.f);
    for (size_t b = 0; b < nb; ++b) {
        r.moved[2 * b] = top;
        r.moved[2 * b + 1] = bottom;
    }
    r.change[0] = top;
    r.change[1] = bottom;
    float own = 1, with_next[2] = {100, 100};
    switch (look) {
        case Look::Progressive: break;
        case Look::Match: own = 100, with_next[0] = 1; break;
        case Look::Interlaced: own = 10, with_next[0] = 12; break;
        case Look::Pulldown:
        case Look::Still: own = 1, with_next[0] = with_next[1] = 1; break;
    }
    r.in_comb.assign(nb, own);
    r.in_field.assign(nb, 1000.f);
    for (int p = 0; p < 2; ++p) {
        r.next_comb[p].assign(nb, with_next[p]);
        r.chroma_next[p].assign(nb, 0.f);
    }
    r.chroma_in.assign(nb, 0.f);
    return r;
}

// A clip read whole: frames 0..n-1 of the looks given by `look_of`, with a
// frame-to-frame change of 2 everywhere but at the frames in `cuts`.
Survey synthetic_survey(long n, Look (*look_of)(long), const std::vector<long>& cuts = {}) {
    Survey s;
    s.w = kBlocks * kBlock;
    s.h = kHeight;
    s.blocks = kBlocks;
    s.noise = 1;
    s.stretches = {Stretch{0, n}};
    for (long f = 0; f < n; ++f) {
        s.frames.push_back(synthetic_frame(f, look_of(f), f > 0, f + 1 < n));
        if (f > 0) {
            const bool cut = std::find(cuts.begin(), cuts.end(), f) != cuts.end();
            s.frame_change.emplace_back(f, cut ? 60.f : 2.f);
        }
    }
    return s;
}

FrameSet all_records(const Survey& s) {
    FrameSet set;
    for (size_t i = 0; i < s.frames.size(); ++i) set.push_back(i);
    return set;
}

TEST(AnalysisJudge, ReadsEachKindFromTheWeavesOfItsFrames) {
    const struct {
        const char* what;
        Look (*look)(long);
        ClipKind kind;
    } cases[] = {
        {"the frame itself least combed", [](long) { return Look::Progressive; }, ClipKind::Progressive},
        {"a weave with the next frame least combed", [](long) { return Look::Match; }, ClipKind::Match},
        {"the frame and one weave alike", [](long) { return Look::Interlaced; }, ClipKind::Interlaced},
        {"one field repeated", [](long) { return Look::Pulldown; }, ClipKind::Pulldown},
        {"nothing moves", [](long) { return Look::Still; }, ClipKind::Still},
        {"a fifth of the frames move", [](long f) { return f % 10 < 2 ? Look::Match : Look::Still; },
         ClipKind::Still},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Survey s = synthetic_survey(60, c.look);
        const Verdict v = judge(s, all_records(s));
        EXPECT_EQ(kind_name(v.kind), std::string(kind_name(c.kind)));
        EXPECT_GE(v.confidence, 0.5);
    }
    // A still picture of black is black.
    Survey dark = synthetic_survey(60, [](long) { return Look::Still; });
    for (FrameRecord& r : dark.frames) r.luma = 50;
    EXPECT_EQ(judge(dark, all_records(dark)).kind, ClipKind::Black);
}

// Grain through a codec that smooths it within a frame but not from frame
// to frame changes a still picture several times more than the grain
// measured within a frame says, and more still around each group of
// pictures' first frame; and its groups make neighbouring frames alike by
// turns, so that a frame seems to change more over two frames than over
// one. The clip's own quiet frames set how far above that a change must
// stand to be motion; what moves on above it, or stands far above it, still
// moves, in a frame whose picture does not move on as a whole too.
TEST(AnalysisReadings, WhatAClipChangesWhereNothingMovesIsNotMotion) {
    const struct {
        const char* what;
        // Per frame and block: the change over one frame and over two, in
        // units of the still floor.
        std::pair<double, double> (*change)(long f, int b);
        long moving;  // of the 59 frames with one before them
    } cases[] = {
        {"a still picture breathing with its groups of pictures",
         [](long f, int) { return f % 15 < 4 ? std::pair{4.5, 4.5} : std::pair{3.0, 3.0}; }, 0},
        {"a still picture whose frames are alike by turns",
         [](long f, int) { return f % 3 == 0 ? std::pair{1.1, 1.6} : std::pair{1.5, 1.5}; }, 0},
        {"a pan that moves on", [](long, int) { return std::pair{3.0, 6.0}; }, 59},
        {"pulldown, a frame at a time seeming not to move on",
         [](long f, int) { return f % 5 == 0 ? std::pair{3.8, 3.8} : std::pair{3.0, 6.0}; }, 48},
        {"an object moving on above the quiet change",
         [](long, int b) { return b < 3 ? std::pair{6.0, 12.0} : std::pair{3.0, 3.0}; }, 59},
        {"an object far above the quiet change",
         [](long, int b) { return b < 3 ? std::pair{30.0, 30.0} : std::pair{3.0, 3.0}; }, 59},
        {"fast motion everywhere", [](long, int) { return std::pair{20.0, 20.0}; }, 59},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Survey s = synthetic_survey(60, [](long) { return Look::Match; });
        const double still = still_change(s);
        for (FrameRecord& r : s.frames) {
            r.moved2.assign(r.moved.size(), 0.f);
            for (int b = 0; b < kBlocks; ++b) {
                const auto [one, two] = c.change(r.frame, b);
                for (size_t p = 0; p < 2; ++p) {
                    r.moved[2 * static_cast<size_t>(b) + p] = static_cast<float>(one * still);
                    r.moved2[2 * static_cast<size_t>(b) + p] = static_cast<float>(two * still);
                }
            }
        }
        s.quiet = quiet_change(s);
        long moving = 0;
        for (const FrameRecord& r : s.frames) moving += frame_moves(s, r);
        EXPECT_EQ(moving, c.moving);
        EXPECT_EQ(judge(s, all_records(s)).kind == ClipKind::Still, c.moving == 0);
    }
}

// Out of step up to frame 93, whole pictures from there on; the change of
// kind lies 3 frames into a judging stretch of 30 (90..119), or 16 or more,
// where the stretch reads as the kind before it. The boundary falls on the
// cut that comes with the change, wherever it lies against the stretches.
TEST(AnalysisSegments, BoundaryFallsOnTheCutWhereverItLies) {
    static long change_at;
    for (const long at : {93L, 90L, 100L, 110L}) {
        SCOPED_TRACE(at);
        change_at = at;
        const Survey s = synthetic_survey(180, [](long f) { return f < change_at ? Look::Match : Look::Progressive; },
                                          {at});
        const Parts parts = find_parts(s, 0, 180, MayRead{});
        ASSERT_FALSE(parts.wants_reading());
        ASSERT_EQ(parts.segments.size(), 2u);
        EXPECT_EQ(parts.segments[0].verdict.kind, ClipKind::Match);
        EXPECT_EQ(parts.segments[1].verdict.kind, ClipKind::Progressive);
        EXPECT_EQ(parts.segments[0].stretch.start, 0);
        EXPECT_EQ(parts.segments[1].stretch.start, at);
        EXPECT_EQ(parts.segments[1].stretch.end(), 180);
    }
    // Still frames, then out-of-step footage whose first frames after the
    // cut read oddly, as their motion is measured against frames before the
    // cut (a tie, a field repeated, no motion, as a real cut gave): too few
    // to judge, read as still by themselves, they are the footage's after
    // the cut, not the still's before.
    for (const long at : {93L, 100L, 110L}) {
        SCOPED_TRACE(at);
        change_at = at;
        const Survey s = synthetic_survey(
            180,
            [](long f) {
                const Look after_cut[] = {Look::Interlaced, Look::Pulldown, Look::Still};
                return f < change_at ? Look::Still : f < change_at + 3 ? after_cut[f - change_at] : Look::Match;
            },
            {at});
        const Parts parts = find_parts(s, 0, 180, MayRead{});
        ASSERT_EQ(parts.segments.size(), 2u);
        EXPECT_EQ(parts.segments[0].verdict.kind, ClipKind::Still);
        EXPECT_EQ(parts.segments[1].verdict.kind, ClipKind::Match);
        EXPECT_EQ(parts.segments[1].stretch.start, at);
    }
}

// Sampled stretches far apart: a file's gap between two kinds is narrowed by
// a probe inside it, then its frames are read for the cut; the pass asks for
// these (one at a time) and answers only when nothing more may be read.
TEST(AnalysisSegments, AsksForWhatItWantsReadAndAnswersWithoutIt) {
    Survey s = synthetic_survey(400, [](long f) { return f < 200 ? Look::Match : Look::Progressive; });
    // Keep the frames of two stretches only: 0..29 and 360..389.
    std::vector<FrameRecord> kept;
    for (FrameRecord& r : s.frames)
        if (r.frame < 30 || (r.frame >= 360 && r.frame < 390)) kept.push_back(r);
    s.frames = kept;
    s.stretches = {Stretch{0, 30}, Stretch{360, 30}};
    s.frame_change.clear();

    const Parts probe = find_parts(s, 0, 400, MayRead{true, true});
    ASSERT_EQ(probe.survey.size(), 1u);
    EXPECT_GT(probe.survey[0].start, 30);
    EXPECT_LE(probe.survey[0].end(), 360);
    const Parts scan = find_parts(s, 0, 400, MayRead{false, true});
    ASSERT_EQ(scan.changes.size(), 1u);
    EXPECT_EQ(scan.changes[0].start, 30);
    EXPECT_EQ(scan.changes[0].end(), 361);
    const Parts answer = find_parts(s, 0, 400, MayRead{});
    ASSERT_EQ(answer.segments.size(), 2u);
    EXPECT_EQ(answer.segments.front().stretch.start, 0);
    EXPECT_EQ(answer.segments.back().stretch.end(), 400);
    EXPECT_GE(answer.segments.back().stretch.start, 30);
    EXPECT_LE(answer.segments.back().stretch.start, 360);
}

// Out-of-step footage whose frames 100..199 hold a band (blocks 8..12 stay
// combed in every weave, and the window rebuilt under TFF on and a coarse
// shift of 12 makes them clean): the band's frames are a segment of their
// own, a window over those blocks, with its ends on the frames where the
// band starts and stops; it is not swallowed by the match around it.
constexpr float U = 1e4f;  // energies well above the grain's
constexpr int kLb = 8, kRb = 13, kShift = 3;  // coarse_shift(3) == 12
static_assert(coarse_shift(kShift) == 12);

// Out-of-step footage of 300 frames with a band in blocks [kLb, kRb): where
// `banded`, field matching combs the band (`matched`, 100 U unless told,
// against field energy `detail` there) and the window with shift 12 under
// TFF on leaves `window` of it.
// A frame's energies in units of U.
void scale_energies(FrameRecord& r) {
    for (size_t b = 0; b < kBlocks; ++b) {
        r.in_comb[b] *= U;
        r.in_field[b] *= U;
        for (int p = 0; p < 2; ++p) r.next_comb[p][b] *= U;
    }
}

Survey band_survey(bool (*banded)(long), float window, float matched = 100, float detail = 10,
                   Look around = Look::Match) {
    Survey s = around == Look::Match ? synthetic_survey(300, [](long) { return Look::Match; })
                                     : synthetic_survey(300, [](long) { return Look::Progressive; });
    for (FrameRecord& r : s.frames) {
        scale_energies(r);
        // A weave that takes a field from a frame with the band combs there.
        for (size_t b = kLb; b < kRb; ++b) {
            if (banded(r.frame) || banded(r.frame + 1)) r.next_comb[0][b] = r.next_comb[1][b] = matched * U;
            // Little detail there unless told: the band combs visibly, and
            // the frame's own reading, taken outside it, is the match around
            // it.
            if (banded(r.frame)) r.in_comb[b] = 100 * U, r.in_field[b] = detail * U;
        }
    }
    for (size_t i = 0; i < s.frames.size(); i += 2) {
        PairRecord p;
        p.record = i;
        p.comb.assign(2 * kCoarseShifts * kBlocks, pack_energy(100 * U));
        if (banded(s.frames[i].frame))
            for (size_t b = kLb; b < kRb; ++b) p.comb[(1 * kCoarseShifts + kShift) * kBlocks + b] = pack_energy(window * U);
        s.pairs.push_back(p);
    }
    return s;
}

TEST(AnalysisSegments, ABandIsASegmentOfItsOwnBetweenMatchFootage) {
    const Survey s = band_survey([](long f) { return f >= 100 && f < 200; }, 2);
    const Parts parts = find_parts(s, 0, 300, MayRead{});
    ASSERT_EQ(parts.segments.size(), 3u);
    const ClipKind kinds[] = {ClipKind::Match, ClipKind::Window, ClipKind::Match};
    const long starts[] = {0, 100, 200};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kind_name(parts.segments[i].verdict.kind), std::string(kind_name(kinds[i])));
        EXPECT_EQ(parts.segments[i].stretch.start, starts[i]);
    }
    const Verdict& band = parts.segments[1].verdict;
    EXPECT_EQ(band.lb, kLb);
    EXPECT_EQ(band.rb, kRb);
    EXPECT_EQ(band.shift, 12);
    EXPECT_EQ(band.tff, 1);
}

// A set of frames that ends on an even frame holds only the first frame of
// that frame's pair; the pair's figures come from the frame after too, which
// is other footage (the next segment's): they must not sway the verdict. The
// band's window is made to comb that pair worse than field matching, as
// another picture's field would, and the verdict stays as it was.
TEST(AnalysisJudge, APairHalfOutsideTheFramesJudgedIsNotTheirs) {
    Survey s = band_survey([](long f) { return f >= 100 && f < 200; }, 2);
    FrameSet set;
    for (size_t i = 100; i <= 198; ++i) set.push_back(i);
    const Verdict before = judge(s, set);
    ASSERT_EQ(before.kind, ClipKind::Window);
    for (PairRecord& p : s.pairs)
        if (s.frames[p.record].frame == 198)
            for (size_t b = kLb; b < kRb; ++b) p.comb[(1 * kCoarseShifts + kShift) * kBlocks + b] = pack_energy(400 * U);
    const Verdict after = judge(s, set);
    EXPECT_EQ(after.kind, before.kind);
    EXPECT_EQ(after.lb, before.lb);
    EXPECT_EQ(after.rb, before.rb);
    EXPECT_EQ(after.shift, before.shift);
    EXPECT_EQ(after.band_z, before.band_z);
    EXPECT_EQ(after.confidence, before.confidence);
}

// Segments over consecutive frame ranges [first, end) of a survey read
// whole, each judged on its own frames.
std::vector<FoundSegment> judged_ranges(const Survey& s, const std::vector<std::pair<long, long>>& ranges) {
    std::vector<FoundSegment> segs;
    for (const auto& [first, end] : ranges) {
        FoundSegment seg;
        seg.stretch = Stretch{first, end - first};
        for (long f = first; f < end; ++f) seg.records.push_back(static_cast<size_t>(f));
        seg.verdict = judge(s, seg.records);
        segs.push_back(seg);
    }
    return segs;
}

// "KIND from FIRST" per segment, to compare with what a case wants.
std::vector<std::string> kinds_and_starts(const std::vector<FoundSegment>& segs) {
    std::vector<std::string> out;
    for (const FoundSegment& seg : segs)
        out.push_back(std::string(kind_name(seg.verdict.kind)) + " from " + std::to_string(seg.stretch.start));
    return out;
}
std::vector<std::string> kinds_and_starts(const std::vector<std::pair<ClipKind, long>>& want) {
    std::vector<std::string> out;
    for (const auto& [kind, first] : want)
        out.push_back(std::string(kind_name(kind)) + " from " + std::to_string(first));
    return out;
}

// Out-of-step footage whose frames from `faint_from` on move so little that
// their weaves stand only threefold apart (a slow pan under grain): judged
// alone they are out of step, but unsurely. Where both stretches are long
// enough to be segments of their own, they stay two, so that the sure one's
// evidence is not thinned out and --auto still filters it; a short faint
// stretch joins its neighbour, and so do two sure ones.
TEST(AnalysisSegments, ASureStretchAndAnUnsureOneOfOneKindStayApart) {
    const struct {
        const char* what;
        long faint_from;
        float faint_own;  // what the faint frames' own picture combs, the right weave 1
        std::vector<std::pair<ClipKind, long>> want;
    } cases[] = {
        {"a long faint stretch", 150, 3, {{ClipKind::Match, 0}, {ClipKind::Match, 150}}},
        {"a short faint stretch", 260, 3, {{ClipKind::Match, 0}}},
        {"both sure", 150, 30, {{ClipKind::Match, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Survey s = synthetic_survey(300, [](long) { return Look::Match; });
        for (FrameRecord& r : s.frames)
            if (r.frame >= c.faint_from)
                for (size_t b = 0; b < kBlocks; ++b) r.in_comb[b] = r.next_comb[1][b] = c.faint_own;
        const Parts parts = find_parts(s, 0, 300, MayRead{});
        EXPECT_EQ(kinds_and_starts(parts.segments), kinds_and_starts(c.want));
    }
}

// The band's frames found as two or three pieces whose readings showed the
// band's edges apart (refined to windows from column 64, 64 or 96 wide, or
// from column 160, 32 wide): pieces are one segment, refined again together,
// where the settings refined over all of them leave each piece's frames no
// more combed than its own did; they stay apart where they leave one more
// combed, and where their bands do not overlap.
TEST(AnalysisSegments, PiecesOneSettingServesAreOneSegment) {
    const struct {
        const char* what;
        std::vector<std::pair<long, long>> ranges;
        std::vector<int> lefts;   // the refined window of each piece: its left column (0: field matching) ...
        std::vector<int> widths;  // ... and width
        float joint_left;         // what the settings refined together leave on the second piece (its own: 1)
        std::vector<long> want;   // the segments' first frames
    } cases[] = {
        {"two pieces alike", {{0, 100}, {100, 150}, {150, 200}, {200, 300}}, {0, 64, 64, 0}, {0, 64, 64, 0}, 1,
         {0, 100, 200}},
        {"three pieces, edges apart", {{0, 100}, {100, 130}, {130, 160}, {160, 200}, {200, 300}}, {0, 64, 64, 64, 0},
         {0, 64, 96, 64, 0}, 1.02f, {0, 100, 200}},
        {"one setting leaves a piece more combed", {{0, 100}, {100, 150}, {150, 200}, {200, 300}}, {0, 64, 64, 0},
         {0, 64, 96, 0}, 1.1f, {0, 100, 150, 200}},
        {"bands apart", {{0, 100}, {100, 150}, {150, 200}, {200, 300}}, {0, 64, 160, 0}, {0, 64, 32, 0}, 1,
         {0, 100, 150, 200}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Survey s = band_survey([](long f) { return f >= 100 && f < 200; }, 2);
        std::vector<FoundSegment> found = judged_ranges(s, c.ranges);
        std::vector<Refinement> refs(found.size());
        for (size_t i = 0; i < found.size(); ++i) {
            refs[i].settings = SegmentSettings{1, c.lefts[i], c.widths[i], c.widths[i] ? 12 : 0, 0};
            refs[i].better[1] = 40;
            for (long f = found[i].stretch.start; f < found[i].stretch.end(); ++f) refs[i].left_by_frame.emplace_back(f, 1.0);
        }
        const long second = found[2].stretch.start;
        const RefineOne again = [&](const FoundSegment& seg, Refinement& r) {
            r.settings = SegmentSettings{1, 64, 96, 12, 0};
            r.better[1] = 40;
            for (long f = seg.stretch.start; f < seg.stretch.end(); ++f)
                r.left_by_frame.emplace_back(f, f >= second && f < second + 30 ? c.joint_left : 1.0);
            return true;
        };
        ASSERT_TRUE(join_refined_alike(s, found, refs, again));
        ASSERT_EQ(found.size(), refs.size());
        std::vector<long> starts;
        for (const FoundSegment& seg : found) starts.push_back(seg.stretch.start);
        EXPECT_EQ(starts, c.want);
        for (size_t i = 0; i < found.size(); ++i)
            EXPECT_EQ(found[i].stretch.end(), i + 1 < found.size() ? found[i + 1].stretch.start : 300);
    }
}

// A few frames found as a segment of their own between two others (as a
// band's search leaves such pieces between two bands, or readings after a
// cut), too few to judge: two read as still, at confidence 0, and six
// interlaced ones earn no more than 0.3. Beside footage of pelta's kinds on
// both sides they are that footage's, and never a segment that --auto would
// pass through combed; beside footage that needs nothing they stay apart
// from pelta's kinds, but where a cut lies in them it is where the footage
// changes. Between two still stretches they are still footage, cut or not.
TEST(AnalysisSegments, AFewUnsureFramesGoToTheirNeighbours) {
    static bool band_after;
    static long band_from;
    const struct {
        const char* what;
        long sliver;  // frames from frame 100
        bool band_after, progressive_after;
        long cut;                                     // a cut at this frame; 0: none
        std::vector<std::pair<ClipKind, long>> want;  // kind, first frame
        bool still_around = false;                    // still footage on both sides
    } cases[] = {
        {"match on both sides", 2, false, false, 0, {{ClipKind::Match, 0}}},
        {"match on both sides, a cut at its first frame", 2, false, false, 100,
         {{ClipKind::Match, 0}, {ClipKind::Match, 100}}},
        {"match on both sides, a cut at its second frame", 2, false, false, 101,
         {{ClipKind::Match, 0}, {ClipKind::Match, 101}}},
        {"a band after", 2, true, false, 0, {{ClipKind::Match, 0}, {ClipKind::Window, 101}}},
        {"a band after a cut at its end", 2, true, false, 102, {{ClipKind::Match, 0}, {ClipKind::Window, 102}}},
        {"six frames, a band after a cut in them", 6, true, false, 104,
         {{ClipKind::Match, 0}, {ClipKind::Window, 104}}},
        {"progressive after", 2, false, true, 0,
         {{ClipKind::Match, 0}, {ClipKind::Still, 100}, {ClipKind::Progressive, 102}}},
        {"progressive after a cut at its first frame", 2, false, true, 100,
         {{ClipKind::Match, 0}, {ClipKind::Progressive, 100}}},
        {"progressive after a cut at its end", 2, false, true, 102,
         {{ClipKind::Match, 0}, {ClipKind::Progressive, 102}}},
        {"six frames, progressive after", 6, false, true, 0,
         {{ClipKind::Match, 0}, {ClipKind::Interlaced, 100}, {ClipKind::Progressive, 106}}},
        {"six frames, progressive after a cut in them", 6, false, true, 103,
         {{ClipKind::Match, 0}, {ClipKind::Progressive, 103}}},
        {"six frames between stills", 6, false, false, 0, {{ClipKind::Still, 0}}, true},
        {"six frames between stills, a cut in them", 6, false, false, 103, {{ClipKind::Still, 0}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        band_after = c.band_after;
        const long after = band_from = 100 + c.sliver;
        Survey s = band_survey([](long f) { return band_after && f >= band_from; }, 2);
        for (auto& [f, change] : s.frame_change)
            if (f == c.cut) change = 60.f;
        // The frames that are not the match footage of the survey: six
        // interlaced ones in the piece (two stay as they are, too few to
        // read as moving), and the footage around it.
        auto look_at = [&](long f) -> std::optional<Look> {
            if (f >= 100 && f < after) return c.sliver > 2 ? std::optional(Look::Interlaced) : std::nullopt;
            if (c.still_around) return Look::Still;
            if (f >= after && c.progressive_after) return Look::Progressive;
            return std::nullopt;
        };
        for (long f = 0; f < 200; ++f) {
            const std::optional<Look> look = look_at(f);
            if (!look) continue;
            FrameRecord r = synthetic_frame(f, *look, f > 0, f + 1 < 200);
            scale_energies(r);
            s.frames[static_cast<size_t>(f)] = r;
        }
        std::vector<FoundSegment> segs = judged_ranges(s, {{0L, 100L}, {100L, after}, {after, 200L}});
        ASSERT_FALSE(is_pelta_kind(segs[1].verdict.kind));
        ASSERT_LT(segs[1].verdict.confidence, 0.5);
        absorb_slivers(s, segs);
        EXPECT_EQ(kinds_and_starts(segs), kinds_and_starts(c.want));
        EXPECT_EQ(segs.back().stretch.end(), 200);
    }
}

// At an end of the clip a few frames that do not move (the first frame has
// none before it to measure motion against) are too few to judge, and the
// out-of-step footage beside them takes them in; not across a cut, nor from
// footage that needs nothing.
TEST(AnalysisSegments, AFewUnsureFramesAtAnEndOfTheClipGoToTheirNeighbour) {
    static Look rest;
    const struct {
        const char* what;
        bool first;  // the two frames at the start; else at the end
        Look rest;
        long cut;  // a cut at this frame; 0: none
        std::vector<std::pair<ClipKind, long>> want;
    } cases[] = {
        {"at the start, match after", true, Look::Match, 0, {{ClipKind::Match, 0}}},
        {"at the end, match before", false, Look::Match, 0, {{ClipKind::Match, 0}}},
        {"at the start, a cut after them", true, Look::Match, 2, {{ClipKind::Still, 0}, {ClipKind::Match, 2}}},
        {"at the start, progressive after", true, Look::Progressive, 0,
         {{ClipKind::Still, 0}, {ClipKind::Progressive, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        rest = c.rest;
        const long n = 120, sliver = c.first ? 0 : n - 2;
        Survey s = synthetic_survey(n, [](long) { return rest; }, {c.cut});
        for (long f = sliver; f < sliver + 2; ++f)
            s.frames[static_cast<size_t>(f)] = synthetic_frame(f, Look::Still, f > 0, f + 1 < n);
        const long split = c.first ? 2 : n - 2;
        std::vector<FoundSegment> segs = judged_ranges(s, {{0L, split}, {split, n}});
        absorb_slivers(s, segs);
        EXPECT_EQ(kinds_and_starts(segs), kinds_and_starts(c.want));
        EXPECT_EQ(segs.back().stretch.end(), n);
    }
}

// A band is where field matching leaves more combing, against the picture's
// detail, than it leaves around it; there a window that takes most of it off
// is found. Where matching already leaves the band as clean as the rest, a
// window that fits better still (a test pattern's stripes, a field moved by
// whole lines) repairs nothing: the frames are out of step, and no more.
TEST(AnalysisJudge, ABandIsWhereFieldMatchingLeavesMoreCombingThanAround) {
    const struct {
        const char* what;
        float matched, detail, window;
        ClipKind kind;
    } cases[] = {
        {"matching combs the band visibly", 100, 10, 2, ClipKind::Window},
        {"a faint band: matching leaves a little more there than around", 3, 1000, 0.1f, ClipKind::Window},
        {"matching leaves the band as clean as the rest", 1, 1000, 0.1f, ClipKind::Match},
        {"... and cleaner", 0.5f, 1000, 0.05f, ClipKind::Match},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Survey s = band_survey([](long f) { return f >= 100 && f < 200; }, c.window, c.matched, c.detail);
        FrameSet band_frames;
        for (size_t i = 100; i < 200; ++i) band_frames.push_back(i);
        const Verdict v = judge(s, band_frames);
        EXPECT_EQ(kind_name(v.kind), std::string(kind_name(c.kind)));
        if (v.kind == ClipKind::Window) {
            EXPECT_EQ(v.lb, kLb);
            EXPECT_EQ(v.rb, kRb);
        }
    }
}

// Where the picture around the band reads as whole pictures (a slow pan, or
// one straight up or down, hides its fields being out of step), or its
// weaves tie as true interlacing's do (a slow out-of-step pan under grain),
// the band is a window's all the same where it shows for itself: its columns
// visibly combed as they come, and field matching leaving the rest clean.
// Not where matching combs the rest visibly (true interlacing around a
// band), nor where the band's columns come clean.
TEST(AnalysisJudge, ABandThatShowsForItselfIsAWindowsWhateverTheRestReadsAs) {
    const struct {
        const char* what;
        // Comb energies: the band as it comes and under field matching,
        // against field energy 10 there; the rest under field matching,
        // against 1000. `tie`: the rest's own picture combs a trace more
        // than its weave with the next frame, and the other weave far more.
        float band_input, band_matched, rest_matched;
        bool tie, window;
    } cases[] = {
        {"whole pictures around, the band visibly combed", 100, 100, 100, false, true},
        {"whole pictures around, matching combs the rest visibly", 100, 20000, 5000, false, false},
        {"whole pictures around, the band's columns come clean", 5, 100, 100, false, false},
        {"a crisp tie around, the band visibly combed", 100, 100, 100, true, true},
        {"a crisp tie around, the rest visibly combed", 100, 100, 5000, true, false},
        {"a crisp tie around, the band's columns come clean", 5, 100, 100, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Survey s = band_survey([](long) { return true; }, 2, c.band_matched, 10, Look::Progressive);
        for (FrameRecord& r : s.frames)
            for (size_t b = 0; b < kBlocks; ++b)
                if (b >= kLb && b < kRb) {
                    r.in_comb[b] = c.band_input * U;
                } else {
                    r.next_comb[0][b] = c.rest_matched * U;
                    r.next_comb[1][b] = (c.tie ? 10 : 1) * c.rest_matched * U;
                    if (c.tie) r.in_comb[b] = 1.02f * c.rest_matched * U;
                }
        // A window anywhere else combs as field matching does there.
        for (PairRecord& p : s.pairs)
            for (size_t cell = 0; cell < 2 * kCoarseShifts; ++cell)
                for (size_t b = 0; b < kBlocks; ++b)
                    if (b < kLb || b >= kRb) p.comb[cell * kBlocks + b] = pack_energy(c.rest_matched * U);
        const Verdict v = judge(s, all_records(s));
        EXPECT_EQ(v.kind == ClipKind::Window, c.window) << kind_name(v.kind);
    }
}

// A band's last frames, where the picture around it moves too little to tell
// its weaves apart, read unsurely as true interlacing judged by themselves,
// for no weave restores the band's columns: the band's window, on their own
// pairs, still takes off what a window must, so they are the band's segment.
// So are frames whose weaves tie crisply, where matching leaves them clean
// and the band shows for itself. Where they are visibly combed as true
// interlacing, or the window takes nothing off there, they stay a segment
// of their own.
TEST(AnalysisSegments, AnUnsureTailWhereTheBandGoesOnIsTheBands) {
    const struct {
        const char* what;
        float own, with_next, other, window;
        long band_ends;  // where the window's segment ends
    } cases[] = {
        {"unsure interlacing, the band goes on", 10, 11, 20, 2, 300},
        {"a crisp tie, combing invisibly", 10, 12, 1000, 2, 300},
        {"sure interlacing, visibly combed", 2000, 2400, 100000, 2, 250},
        {"unsure interlacing, no band there", 10, 11, 20, 100, 250},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Survey s = band_survey([](long f) { return f >= 100; }, 2);
        for (FrameRecord& r : s.frames) {
            if (r.frame < 250) continue;
            for (size_t b = 0; b < kBlocks; ++b) {
                if (b >= kLb && b < kRb) continue;
                r.in_comb[b] = c.own * U;
                r.next_comb[0][b] = c.with_next * U;
                r.next_comb[1][b] = c.other * U;
            }
        }
        for (PairRecord& p : s.pairs)
            if (s.frames[p.record].frame >= 250)
                for (size_t b = kLb; b < kRb; ++b)
                    p.comb[(1 * kCoarseShifts + kShift) * kBlocks + b] = pack_energy(c.window * U);
        const Parts parts = find_parts(s, 0, 300, MayRead{});
        ASSERT_GE(parts.segments.size(), 2u);
        const FoundSegment& band = parts.segments[1];
        EXPECT_EQ(kind_name(band.verdict.kind), std::string(kind_name(ClipKind::Window)));
        EXPECT_EQ(band.stretch.start, 100);
        EXPECT_NEAR(band.stretch.end(), c.band_ends, 1);
    }
}

// Out-of-step footage with a band in blocks [0, `width`) whose field is
// also moved, so that no weave restores it: the better weave there leaves 5
// of the other's 100, and only the window under TFF off with shift 12 leaves
// 1. The rest of the picture is restored by the other weave, and by the
// window under TFF on at shift 0, while TFF off with shift 12 halves its
// combing. Field matching over the whole frame takes the weave that more
// blocks prefer: the band's where the band is the larger part.
Survey edge_band_survey(int width, float band_best = 5, float band_other = 100, float band_input = 100) {
    Survey s = synthetic_survey(120, [](long) { return Look::Match; });
    for (FrameRecord& r : s.frames)
        for (size_t b = 0; b < kBlocks; ++b) {
            const bool band = static_cast<int>(b) < width;
            r.in_comb[b] = (band ? band_input : 100) * U;
            r.in_field[b] = 1000 * U;
            r.next_comb[0][b] = (band ? band_best : 100) * U;
            r.next_comb[1][b] = (band ? band_other : 1) * U;
        }
    for (size_t i = 0; i < s.frames.size(); i += 2) {
        PairRecord p;
        p.record = i;
        p.comb.assign(2 * kCoarseShifts * kBlocks, pack_energy(100 * U));
        for (size_t b = 0; b < kBlocks; ++b) {
            const bool band = static_cast<int>(b) < width;
            // Any other window combs the band at least as field matching does.
            for (size_t cell = b; band && cell < p.comb.size(); cell += kBlocks)
                p.comb[cell] = pack_energy(std::max(100.f, band_other) * U);
            p.comb[(0 * kCoarseShifts + kShift) * kBlocks + b] = pack_energy((band ? 1 : 50) * U);
            if (!band) p.comb[(1 * kCoarseShifts + 0) * kBlocks + b] = pack_energy(1 * U);
        }
        s.pairs.push_back(p);
    }
    return s;
}

// The window goes over the band, at the band's shift and TFF, whether the
// band is the larger part of the picture or the smaller; never over the rest
// of the picture at shift 0, which leaves the band combed.
TEST(AnalysisJudge, TheWindowGoesOverTheBandWhenTheBandIsTheLargerPart) {
    const struct {
        int width;
        float band_best, band_other, band_input;
    } cases[] = {
        {14, 5, 100, 100},
        {8, 5, 100, 100},
        // No weave comes near restoring the band: the better leaves it more
        // combed than the other weave leaves the rest.
        {14, 150, 300, 250},
    };
    for (const auto& c : cases) {
        const int width = c.width;
        SCOPED_TRACE(width);
        SCOPED_TRACE(c.band_best);
        const Survey s = edge_band_survey(width, c.band_best, c.band_other, c.band_input);
        const Verdict v = judge(s, all_records(s));
        EXPECT_EQ(kind_name(v.kind), std::string(kind_name(ClipKind::Window)));
        EXPECT_EQ(v.lb, 0);
        EXPECT_EQ(v.rb, width);
        EXPECT_EQ(v.shift, 12);
        EXPECT_EQ(v.tff, 0);
    }
}

// Where a band's edge falls when its window's gain over field matching
// varies along it. The band of frames 100..`end` is strong up to frame 200
// and faint after (its window takes off a fifth of field matching's combing
// there), and frames `lure`..`lure`+29 before it hold no band but a window
// there would take a trace off (5%). The edges fall where the band begins
// and ends, not where its gain drops nor where a trace lures. Where the
// faint tail leaves too few frames after it to judge, the edge is not moved
// there, and the segments say that where they part is unsure.
TEST(AnalysisSegments, ABandsEdgesFallWhereItBeginsAndEndsHoweverStrongly) {
    struct Case {
        long end, lure;
        long window_start, match_start;  // the window segment's first frame, the match segment's after it (-1: any)
        bool unsure;
    } cases[] = {
        {259, -1, 100, 260, false},
        {259, 60, 100, 260, false},
        {289, -1, 100, -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.end * 1000 + c.lure);
        static long band_end;
        band_end = c.end;
        Survey s = band_survey([](long f) { return f >= 100 && f <= band_end; }, 2);
        for (PairRecord& p : s.pairs) {
            const long f = s.frames[p.record].frame;
            float window = 0;
            if (f >= 200 && f <= c.end) window = 80 * U;
            if (c.lure >= 0 && f >= c.lure && f < c.lure + 30) window = 0.9f * U;  // field matching's: 1 U
            if (window > 0)
                for (size_t b = kLb; b < kRb; ++b) p.comb[(1 * kCoarseShifts + kShift) * kBlocks + b] = pack_energy(window);
        }
        const Parts parts = find_parts(s, 0, 300, MayRead{});
        ASSERT_EQ(parts.segments.size(), 3u);
        const auto& g = parts.segments;
        EXPECT_EQ(g[0].verdict.kind, ClipKind::Match);
        EXPECT_EQ(g[1].verdict.kind, ClipKind::Window);
        EXPECT_EQ(g[2].verdict.kind, ClipKind::Match);
        EXPECT_EQ(g[1].stretch.start, c.window_start);
        if (c.match_start >= 0) {
            EXPECT_EQ(g[2].stretch.start, c.match_start);
        }
        EXPECT_EQ(g[0].verdict.unsure.frames, 0);  // the band's window would comb frames 0..99
        EXPECT_EQ(g[2].verdict.unsure.frames > 0, c.unsure);
        EXPECT_EQ(describe(g[2].verdict, Refinement{}, Combing{}).confidence < 0.5, c.unsure);
    }
}

// Each warning speaks where its figure crosses its bar, and only there, and
// a warning holds the confidence below 0.5.
TEST(AnalysisWords, WarnsWhereTheFiguresCastDoubtAndOnlyThere) {
    Verdict match;
    match.kind = ClipKind::Match;
    match.confidence = 1;
    Verdict window = match;
    window.kind = ClipKind::Window;
    Refinement quiet;
    quiet.frames = quiet.moving = 100;
    quiet.settings = SegmentSettings{1, 0, 0, 0, 0};
    Refinement banded = quiet;
    banded.settings = SegmentSettings{1, 64, 128, 8, 0};
    // The old count of frames whose window came from other frames than the
    // weave around it: no tear by itself, where the output shows none.
    banded.torn = 50;
    Refinement misled = quiet;
    misled.chroma_judged = true;
    misled.chroma_disagree = 0.6;
    misled.misled = 10;
    Combing clean;
    clean.frames = 100;
    clean.visible = 9;
    clean.input = 2;
    clean.output = 1.5;
    Combing combed = clean;
    combed.visible = 10;
    // Most of the input's combing taken off: what is left casts no doubt on
    // the kind.
    Combing combed_less = combed;
    combed_less.input = 24;
    combed_less.output = 1;
    Combing flat = clean;
    flat.defined = false;
    Combing torn = clean, torn_less = clean, mended = clean;
    torn.tear = Tear{10, 100, true, ""};
    torn_less.tear = Tear{9, 100, false, ""};
    mended.tear = Tear{10, 100, true, "--tff 0"};
    const struct {
        const char* what;
        const Verdict& v;
        const Refinement& r;
        const Combing& c;
        const char* warning;  // null: none
        bool bounds = true;   // the warning holds the confidence below 0.5
    } cases[] = {
        {"9 of 100 frames visibly combed", match, quiet, clean, nullptr},
        {"10 of 100 frames visibly combed", match, quiet, combed, "visibly combed"},
        {"... where the settings took most of the input's combing off", match, quiet, combed_less, "visibly combed",
         false},
        // A tear nothing tried removes is the footage's own: it casts no
        // doubt on the settings.
        {"the output torn in 10 of 100 moving frames", window, banded, torn, "no setting tried removes it", false},
        {"... and the other TFF removes it", window, banded, mended, "--tff 0 removes it"},
        {"the output torn in 9 of 100", window, banded, torn_less, nullptr},
        {"the window's frames off the weave's, the output not torn", window, banded, clean, nullptr},
        {"the same figures without a window", match, banded, torn, nullptr},
        {"colour that misled field matching", match, misled, clean, "the colour disagrees with luma"},
        {"too little detail", match, quiet, flat, "too little detail"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Words w = describe(c.v, c.r, c.c);
        if (!c.warning) {
            EXPECT_TRUE(w.warnings.empty()) << w.warnings.front();
            EXPECT_EQ(w.confidence, 1.0);
            continue;
        }
        ASSERT_EQ(w.warnings.size(), 1u);
        EXPECT_NE(w.warnings[0].find(c.warning), std::string::npos) << w.warnings[0];
        EXPECT_EQ(w.confidence < 0.5, c.bounds) << w.confidence;
    }
    // Slight evidence says so, where nothing else that bounds the confidence
    // does.
    Verdict slight = match;
    slight.confidence = 0.3;
    Words w = describe(slight, quiet, clean);
    ASSERT_EQ(w.warnings.size(), 1u);
    EXPECT_NE(w.warnings[0].find("the evidence is slight"), std::string::npos);
    slight.kind = ClipKind::Window;
    w = describe(slight, banded, torn);
    ASSERT_EQ(w.warnings.size(), 2u);
    EXPECT_NE(w.warnings[1].find("the evidence is slight"), std::string::npos);
}

}  // namespace

// Settings that leave frames no less combed than the input, frame for frame,
// repair nothing: the segment then reads as the input's own picture, never
// as pelta's kind. A lead that chance gives is no repair either.
TEST(AnalysisRefine, SettingsThatCombAsMuchAsTheInputRepairNothing) {
    struct Row {
        long better[2], worse[2];
        double input;
        int tff;
        bool repairs;
        ClipKind kind;  // the verdict unrepaired gives
    };
    const Row rows[] = {
        // better {TFF off, on}, worse {TFF off, on}
        {{58, 2}, {1, 57}, 4.0, 0, true, ClipKind::Interlaced},     // the chosen TFF repairs
        {{58, 2}, {1, 57}, 4.0, 1, false, ClipKind::Interlaced},    // the other TFF would, not this one
        {{30, 29}, {30, 31}, 4.0, 0, false, ClipKind::Interlaced},  // as often worse as better
        {{37, 0}, {23, 0}, 4.0, 0, false, ClipKind::Interlaced},    // 14 ahead of 60: chance (2 sd is 15.5)
        {{39, 0}, {21, 0}, 4.0, 0, true, ClipKind::Interlaced},     // 18 ahead of 60
        {{0, 0}, {0, 0}, 0.5, 1, false, ClipKind::Progressive},     // nothing changed, input not visibly combed
    };
    for (const Row& row : rows) {
        Refinement r;
        for (int t = 0; t < 2; ++t) r.better[t] = row.better[t], r.worse[t] = row.worse[t];
        r.input_typical = row.input;
        r.settings.tff = row.tff;
        EXPECT_EQ(repairs(r), row.repairs) << row.better[row.tff] << " better, tff " << row.tff;
        Verdict v;
        v.kind = ClipKind::Window;
        v.lb = 3, v.rb = 9, v.shift = 4, v.confidence = 0.8;
        const Verdict u = unrepaired(v, r);
        EXPECT_EQ(u.kind, row.kind);
        EXPECT_EQ(u.rb - u.lb, 0);
        EXPECT_EQ(u.confidence, 0.8);
    }
}

// A band's edge to the column, in a zone of 40 columns from column 100: the
// band's columns gain 100 over field matching (which combs them 110), those
// past its edge nothing (matching combs them 5, the grain). Where the band's
// picture thins towards its edge, the window there gains less than inside
// but still most of what matching leaves: those columns are the band's.
TEST(AnalysisRefine, ABandsEdgeFallsWhereItsColumnsStopGaining) {
    const EdgeColumn band{100, 5, 110}, thin{15, 3, 18}, trace{1.5, 2, 5}, unsure{30, 0.5, 40}, none{0, 0, 5};
    struct Row {
        const char* what;
        std::vector<std::pair<int, EdgeColumn>> runs;  // from the zone's first column on
        bool left_edge;
        int edge;
    };
    const Row rows[] = {
        {"right edge", {{20, band}, {20, none}}, false, 120},
        {"left edge", {{20, none}, {20, band}}, true, 120},
        {"the picture thins for 10 columns before the edge", {{15, band}, {10, thin}, {15, none}}, false, 125},
        {"... at a left edge", {{15, none}, {10, thin}, {15, band}}, true, 115},
        {"a trace of gain outside is no band", {{20, band}, {20, trace}}, false, 120},
        {"a gain that does not stand out of the scatter", {{20, band}, {20, unsure}}, false, 120},
        {"no column gains: the edge stays", {{40, none}}, false, 133},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<EdgeColumn> cols;
        for (const auto& [n, c] : row.runs) cols.insert(cols.end(), static_cast<size_t>(n), c);
        EXPECT_EQ(edge_in_zone(cols, 100, band.gain, row.left_edge, 133), row.edge);
    }
}
