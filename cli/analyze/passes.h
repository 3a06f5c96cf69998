// The analysis as passes, each a function from what earlier passes found to
// a result of its own, none writing another's:
//
//   survey    (survey.cpp)   reads the sampled stretches once: per frame and
//                            block of columns, the energies of the frame, of
//                            its weaves with the next frame, of its colour,
//                            and how much it moved; per sampled frame pair,
//                            the window rebuilt under every coarse shift.
//   judge     (verdict.cpp)  from the survey alone: the kind of a run of
//                            frames, and for pelta's kinds the first
//                            settings (the band, a coarse shift, TFF).
//   segment   (segments.cpp) from the judged stretches: the segments.
//   refine    (refine.cpp)   reads a segment's frames again: the shift to
//                            the sixteenth, the band's edges to the column,
//                            then the filter itself settles TFF and the
//                            low-pass and shows what the settings leave.
//   result    (result.cpp)   the filter over the sample with the settings of
//                            each segment: the figures, the profiles and the
//                            picture of the report, the warnings.
//
// analyze.cpp runs them in order; describe.cpp puts the outcome into words.
#pragma once

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "analyze/clip_reader.h"
#include "analyze/findings.h"
#include "analyze/profiles.h"
#include "analyze/sample_runner.h"
#include "analyze/sampling.h"
#include "host/plan.h"

namespace pelta_cli::analysis {

// ---- the shifts the survey tries ---------------------------------------------

// Every fourth up to two field lines, where small displacements need a near
// shift to show, every eighth up to four, every sixteenth beyond, up to the
// track bar's end; the fine search then tries every one within 8 of the
// best.
constexpr int kShiftMax = 256;
constexpr int kCoarseShifts = 32 / 4 + 32 / 8 + (kShiftMax - 64) / 16 + 1;
constexpr int coarse_shift(int k) { return k <= 8 ? 4 * k : k <= 12 ? 32 + 8 * (k - 8) : 64 + 16 * (k - 12); }
static_assert(coarse_shift(kCoarseShifts - 1) == kShiftMax);

// ---- survey ------------------------------------------------------------------

// What the survey keeps of one frame: per block of columns (block_count(w)
// entries each), energies on the block profiles.
struct FrameRecord {
    long frame = 0;    // clip frame number
    int stretch = 0;   // index of its stretch
    bool has_prev = false, has_next = false;
    double luma = 0;   // mean luma (0..4096 nominal)
    double noise = -1; // the grain's standard deviation, per pixel, where estimated (-1: not on this frame)
    double spread = 0; // standard deviation of luma over the picture, averaged kBlock columns at a time
    double change[2] = {0, 0};           // each field's change since the previous frame, per profile row
    std::vector<float> in_comb, in_field;  // the frame as it is
    std::vector<float> next_comb[2];       // weave with the next frame, rows of parity p from this one
    std::vector<float> chroma_in, chroma_next[2];  // comb energy of the colour, the same pictures
    std::vector<float> moved;              // per block: both fields' change since the previous frame
    std::vector<float> moved2;             // ... since the frame before that, where it was read
};

// An energy kept in 16 bits: its logarithm in steps of 1/2048 (a relative
// step of 0.05%), from 0 up to e^32, more than any block holds. The pairs'
// energies, kept for every pair of a long clip, take half the memory so.
uint16_t pack_energy(double e);
float unpack_energy(uint16_t v);

// The window rebuilt over every column on the even frame 2k of a pair, under
// both TFF settings and every coarse shift: comb energy per block.
struct PairRecord {
    size_t record = 0;  // the frame's FrameRecord
    std::vector<uint16_t> comb;  // [(tff * kCoarseShifts + k) * blocks + b], packed
};

struct Survey {
    int w = 0, h = 0, blocks = 0;
    std::vector<Stretch> stretches;
    std::vector<FrameRecord> frames;
    std::vector<PairRecord> pairs;
    double noise = 0;  // the clip's grain: median over the frames estimated
    // What a block typically changes from one frame to the next where the
    // picture does not move on (quiet_change); 0 where too few frames show it.
    double quiet = 0;
    // Each frame's mean absolute luma change from the frame before, by
    // frame number, for every frame read in order (the cuts show in it).
    std::vector<std::pair<long, float>> frame_change;
    float pair_comb(const PairRecord& p, int tff, int k, int b) const {
        return unpack_energy(p.comb[(static_cast<size_t>(tff) * kCoarseShifts + static_cast<size_t>(k)) *
                                        static_cast<size_t>(blocks) +
                                    static_cast<size_t>(b)]);
    }
};

// Reads the stretches (in order, not overlapping) and measures them; with
// `append`, adds them to what `out` holds (stretches that overlap none of
// its own).
bool run_survey(const AnalysisRequest& rq, const std::vector<Stretch>& stretches, Survey& out, std::string& error,
                bool append = false);
// Adds the change of frames [first, end) (from the frame before each) to
// out.frame_change: where a file's cut lies between two stretches.
bool scan_changes(const AnalysisRequest& rq, long first, long end, Survey& out, std::string& error);
// The same for a pipe, read once through (from frame 0 to the end of the
// range asked for): stretches chosen as it goes (StreamSampler), and the
// change of every frame read; `length` is the frames read.
bool survey_stream(const AnalysisRequest& rq, Survey& out, long& length, std::string& error);

// The match index n (the weave of frames n-1 and n, rows of parity
// (tff ^ n) & 1 from frame n-1) as the survey measured it, for the record at
// `index`: the record of frame n-1 holds it. Null where not measured.
const std::vector<float>* weave_comb(const Survey& s, size_t index, long n, int tff);

// ---- readings: each frame by itself ----------------------------------------

// A block's change since the frame before (FrameRecord::moved) up to which
// it counts as still, above the grain.
double still_change(const Survey& s);
// The typical block's change from frame to frame where nothing moves: over
// the frames whose blocks typically change no more over two frames than
// over one, and by less than what counts as motion whatever the two say,
// beside a frame that shows the same, the median of their typical block's
// change. Grain through a codec that smooths it within a frame but not
// from frame to frame (MPEG-2 at a few Mbit/s, grain breathing with its
// groups of pictures) changes a still picture several times more than the
// grain measured within a frame says. 0 where fewer than kFewestMoving
// frames show it.
double quiet_change(const Survey& s);
// Which blocks of a frame moved, and whether the frame did.
struct Motion {
    std::vector<bool> block;
    long blocks = 0;
    bool frame = false;
};
Motion motion_of(const Survey& s, const FrameRecord& r);
bool frame_moves(const Survey& s, const FrameRecord& r);
// Whether one field of a moving frame repeats the frame before's.
bool repeats_a_field(const Survey& s, const FrameRecord& r, const Motion& m);
// Whether a mean luma is black's.
bool is_dark(double luma);
// The frames in [first, end) where the picture cuts (its change from the
// frame before stands several times above the changes around it), in order.
std::vector<long> cuts_between(const Survey& s, long first, long end);

// What one frame's own pictures say it is: not moving (Still, or Dark on
// black), one field repeating the frame before's (Repeat), the frame as it
// is least combed (Whole), a weave with a neighbour least combed and
// standing alone (Weave), the least combed tied with the next (Tie), or
// nothing to tell (Unclear).
enum class Reading : uint8_t { Still, Dark, Repeat, Whole, Weave, Tie, Unclear };

struct FrameReading {
    Reading reading = Reading::Unclear;
    float weight = 1;  // how clearly its pictures stand apart, 0..1
    int16_t band_lb = 0, band_rb = 0;  // a Weave's band of blocks that stays combed, [lb, rb); empty: none
};

// The comb energy of record i's three pictures, summed over its blocks but
// those `skip` marks: c[0] the frame itself, c[1] and c[2] the weaves that
// take the field of parity 0 or 1 from the earlier frame (the less combed of
// the weave with the frame before and the one with the frame after, where
// measured); and its field energy over the same blocks. False where no
// weave was measured.
bool frame_pictures(const Survey& s, size_t i, const std::vector<bool>* skip, double c[3], double* field);
// The reading of the survey's record i.
FrameReading read_frame(const Survey& s, size_t i);
// How much more the blocks [lb, rb) of record i stay combed in the least
// combed of its pictures than the rest of the frame does (the log of their
// ratio): well above 0 where a band there is displaced.
double band_contrast(const Survey& s, size_t i, int lb, int rb);

// ---- verdict -----------------------------------------------------------------

// Survey records a step looks at: indices into Survey::frames.
using FrameSet = std::vector<size_t>;

struct Verdict {
    ClipKind kind = ClipKind::Still;
    long frames = 0, moving = 0;
    double dup_share = 0;    // moving frames that repeat one field of the frame before
    double input_share = 0;  // moving frames whose own weave is the least combed picture
    double gap = 0;          // how far the second-best weave stands from the best (0 a tie, 1 as far as the worst)
    double comb_left = 0;    // share of the input's comb energy the best settings leave, on the sampled pairs
    double input_measure = 0;  // the moving frames' own measure (median), outside any band
    double cadence = 0, cadence_lean = 0;  // how the phases of five frames lean apart (pulldown)
    double black = 0;        // mean luma of a still stretch
    // For pelta's kinds: TFF and the band as the survey sees them.
    int tff = 1;
    int lb = 0, rb = 0;      // the band in blocks, [lb, rb); empty: no window
    int shift = 0;           // coarse shift
    double band_gain = 0;    // share of field matching's combing in the band that the window removes
    double band_z = 0;       // how surely (standard errors of the mean, least over the band's blocks)
    bool tff_ambiguous = false;  // the band restores alike under both settings
    int other_shift = -1;    // the coarse shift of the other TFF setting's band over the same columns (-1: none)
    double confidence = 0;
    // Set by the segments pass: a third of the segment that, judged alone,
    // reads surely as another kind or band (frames = 0: none).
    Stretch unlike;
    ClipKind unlike_kind = ClipKind::Still;
    // Set by the segments pass: a neighbour, one of match and one of window,
    // whose band combs the match frames no more than field matching does, so
    // that where they part is unsure (frames = 0: none).
    Stretch unsure;
};

// The fewest moving frames a verdict reads any kind of motion from: with
// fewer (or fewer than a fifth of its frames), its frames read as still (or
// black), and a set of fewer frames than this always does.
constexpr long kFewestMoving = 4;

// The verdict on a set of survey records (frames of one clip, any order):
// its own steps are motion_and_repeats, pulldown_cadence, band_search,
// frame_readings and choose_kind (verdict.cpp).
Verdict judge(const Survey& s, const FrameSet& records);

// The share of field matching's combing in the band that the window must
// take away for the footage to be a window's: a displaced field put back
// leaves little but the grain, while interpolating the moved field (the
// fractional shifts) takes a sixth or so off any picture, slow footage and
// a codec's texture above all, whose fields belong together already.
constexpr double kWindowGain = 0.4;

// ---- segments ----------------------------------------------------------------

// A segment as the segments pass finds it: its frames, the survey's records
// in them, and the verdict on those together.
struct FoundSegment {
    Stretch stretch;
    FrameSet records;
    Verdict verdict;
};

// What the segments pass may still ask to be read (a file, which can be read
// anywhere): probes inside the gap between two kinds, and the frame-to-frame
// change of the frames where a boundary lies.
struct MayRead {
    bool probes = false;
    bool changes = false;
};

// The segments pass's answer: the segments, or what it wants read first.
struct Parts {
    std::vector<FoundSegment> segments;
    std::vector<Stretch> survey;   // stretches to survey (run_survey, appended), then ask again
    std::vector<Stretch> changes;  // stretches to scan for cuts (scan_changes), then ask again
    bool wants_reading() const { return !survey.empty() || !changes.empty(); }
};

// The clip's frames [first, end) cut into segments: each stretch of the
// survey judged by itself, neighbours of one kind (match and window counting
// as one) joined, and the boundary between two kinds placed at a cut where
// the frames between them show one, else midway. Where `may` allows, it
// first asks for a short stretch inside a gap between two kinds (one at a
// time, until the gaps are narrower than a stretch), then for the frames of
// each gap to look for a cut.
Parts find_parts(const Survey& s, long first, long end, const MayRead& may);

// Segments a and b (a before b) as one, judged together.
FoundSegment joined(const Survey& s, const FoundSegment& a, const FoundSegment& b);

// Two neighbours of one kind that stay apart all the same: each long enough
// to be a segment of its own, one sure of its kind (confidence 0.5 or
// above) and the other not. Joined, the unsure one's frames would thin out
// the sure one's evidence, and --auto would pass both through; apart, it
// filters the footage that shows what it is.
bool sure_beside_unsure(const FoundSegment& a, const FoundSegment& b);

// A verdict of a moving kind weighs its evidence by the moving frames it
// counts, fully from this many on.
constexpr long kFullEvidence = 20;

// Fewer frames than a verdict of a moving kind needs to reach confidence 0.5.
constexpr long kSliver = kFullEvidence / 2;

// A stretch this long is a segment of its own; a shorter one may join a
// neighbour.
constexpr long kOwnSegment = 2 * kStretchFrames;

// A segment that is not of pelta's kinds and not sure of itself (confidence
// below 0.5), too short to show what it is, goes to its neighbours:
// - Fewer than kSliver frames between two segments of pelta's kinds: it is
//   footage of theirs that its own few frames could not show (left alone,
//   --auto would pass those frames through combed between two filtered
//   stretches).
// - Fewer than kSliver frames between a segment of pelta's kinds and one of
//   footage that needs nothing, with a cut in it (or at its ends): the cut
//   is where the footage changes. Without one it stays, for its frames may
//   need nothing.
// - Fewer than kOwnSegment frames between two segments of one kind that
//   needs nothing: it is theirs (as neighbours of one kind join, cut or
//   not).
// Between two of one kind and band, with no cut in it (or needing nothing),
// it joins both, judged again together (it stays where that judgement
// differs).
// Otherwise its frames go to either side of a boundary placed in it as in
// a gap (at its clearest cut, else midway), each side keeping its verdict:
// a cut there may be where the footage changes, even where both sides
// read alike.
// - Fewer than kSliver frames at an end of the clip, beside a segment of
//   pelta's kinds with no cut between: it joins that segment, judged again
//   with it (it stays where that judgement differs).
void absorb_slivers(const Survey& s, std::vector<FoundSegment>& segs);
// The most probes a file's gaps are narrowed by.
constexpr int kMostProbes = 64;

// ---- refinement and result ---------------------------------------------------

// Two figures of combing within this share of the larger are alike.
constexpr double kAlike = 0.03;

// What the filter itself showed of a segment's settings, on the sampled
// frames: the figures the text prints, and what the warnings rest on.
struct Refinement {
    SegmentSettings settings;
    double tff_comb[2] = {0, 0};   // the whole frame's combing after the settings under each TFF, low-pass off
    double band_comb[2] = {0, 0};  // ... in the band
    double rest_comb[2] = {0, 0};  // ... outside it
    // Frame by frame, against the input: how many frames the settings under
    // each TFF leave less combed, and how many more (low-pass off); and the
    // median frame's combing in the input. Counted frame by frame, one frame
    // torn at a cut cannot outweigh the rest as it does in the sums.
    long better[2] = {0, 0}, worse[2] = {0, 0};
    double input_typical = 0;
    long frames = 0;               // frames the filter ran on
    long visible = 0;              // frames left visibly combed (measure >= 1), low-pass off
    long lowpassed = 0;            // frames the low-pass would filter
    long lowpassed_clean = 0;      // ... of which were not visibly combed
    long torn = 0, moving = 0;     // frames whose window shows other frames than the picture around it
    long misled = 0;               // frames where the filter wove fields that luma says do not belong together
    double chroma_disagree = 0;    // colour's vote against luma's weave (0 agree .. 1 all against)
    Tear turned_from;              // TFF turned against a tear: what the other setting showed (moving 0: not turned)
    bool chroma_judged = false;
    // Each frame the filter ran on: its number, and the whole picture's
    // combing under the settings (low-pass off).
    std::vector<std::pair<long, double>> left_by_frame;
};

// The refinement of a moving segment: for a window, the shift to the
// sixteenth and the band's edges to the column; then the filter itself
// under both TFF settings settles TFF and the low-pass.
// With tff 0 or 1 that TFF setting is taken whatever the figures favour.
bool refine(const AnalysisRequest& rq, const Survey& s, const FoundSegment& segment, Refinement& out,
            std::string& error, int tff = -1);

// One column near an edge of a window's band, over a segment's frame pairs:
// the window's mean gain over field matching, how surely it stands out of
// the scatter (standard errors), and field matching's mean combing there.
struct EdgeColumn {
    double gain = 0, sure = 0, matched = 0;
};
// The band's edge in a zone of columns x0, x0+1, ... (`left_edge`: the band
// lies to the right of it; else to the left): the column from which on (or
// up to which) the columns that belong to the band outweigh those that do
// not most, given the typical gain inside the band; `edge` where none do.
int edge_in_zone(const std::vector<EdgeColumn>& cols, int x0, double typical, bool left_edge, int edge);

// Whether a refined segment's settings repair it: they leave more frames
// less combed than the input than more, by more than chance gives (twice
// the standard deviation of a fair coin's lead). Where they do not, the fields were
// never out of step, and unrepaired gives the verdict the input's own
// picture earns: interlaced where it is visibly combed, else progressive.
bool repairs(const Refinement& r);
Verdict unrepaired(const Verdict& v, const Refinement& r);

// Two neighbours of one of pelta's kinds, whose bands overlap where they are
// windows, are one segment where one setting serves both: joined, they are
// refined again together (by `refine_one`, false on a read error), and the
// join stands where it keeps their kind, repairs, leaves each one's frames
// no more combed than its own settings did (within 3%, on the frames both
// filtered), and leaves a segment sure of its kind where either was. Their
// readings had shown the band's edges apart, as they do where the picture
// gives an edge little detail; a band that truly changes leaves one side's
// frames more combed under the other's settings.
using RefineOne = std::function<bool(const FoundSegment&, Refinement&)>;
bool join_refined_alike(const Survey& s, std::vector<FoundSegment>& found, std::vector<Refinement>& refs,
                        const RefineOne& refine_one);

// What the result pass found: the combing of each segment (default for
// those it did not measure), and the report's curves and picture.
struct ResultPass {
    std::vector<Combing> combing;
    ReportCurves curves;
    ReportFrame picture;
};

// The filter over every sampled frame of each moving segment with its
// settings (settings[i] for segments[i]), and field matching alone beside
// it; the curves of the columns and the picture from segment `shown`. The
// curve of the frames shows what --plan and --auto give: the segments of
// the other kinds as they came.
bool run_result(const AnalysisRequest& rq, const Survey& s, const std::vector<FoundSegment>& segments,
                const std::vector<SegmentSettings>& settings, size_t shown, ResultPass& out, std::string& error);

// Field energy that a picture of `blocks` blocks and h rows holds at the
// least to say anything: a second difference of a quarter of an 8-bit code
// per pixel on every row. Below it the picture is flat.
double energy_floor(int blocks, int h);
// The measure of a picture (or of many: sums of their energies and floors):
// comb over field, with the floor that keeps a flat picture from dividing
// by nothing. A clean picture measures well below 1; visible combing 1 and
// more.
inline double picture_measure(double comb, double field, double floor) { return comb / (field + floor); }

// The match index field matching chooses for the frame of record `index`
// under `tff`, foreseen with the survey's measure in place of the filter's
// count, outside the window's blocks [lb, rb): the better of matches f and
// f+1, then a third on the same side while the better still combs. 0 where
// the survey measured neither.
long foreseen_match(const Survey& s, size_t index, int tff, int lb, int rb);


// How much less comb energy the rebuilt window has than woven fields of the
// same content, merely because interpolating the moved field averages its
// grain: a share of the grain's energy in the measure (0 for whole lines).
double smoothing_share(int shift);

// A segment in words: the verdict on it, what its refinement and the result
// pass measured; the warnings, and the confidence they bound.
Words describe(const Verdict& v, const Refinement& r, const Combing& c);

// Whether frames of this kind move (every kind but still and black).
inline bool moving_kind(ClipKind k) { return k != ClipKind::Still && k != ClipKind::Black; }

// The middle value (the upper of the two middle ones), 0 for none.
template <typename T>
T median_of(std::vector<T> v) {
    if (v.empty()) return T{};
    const auto m = v.begin() + static_cast<long>(v.size() / 2);
    std::nth_element(v.begin(), m, v.end());
    return *m;
}

}  // namespace pelta_cli::analysis
