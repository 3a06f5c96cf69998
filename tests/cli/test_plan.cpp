// pelta --plan end to end: a clip of four kinds filtered by its segments,
// each filtered frame against the filter run over the whole clip with that
// segment's settings, each passed frame against the input byte for byte;
// and every plan that does not fit refused in one line before anything is
// written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "analyze/combing_check.h"
#include "app/analyze_cmd.h"
#include "app/plan_cmd.h"
#include "cli_test_util.h"

using namespace cli_test;

namespace {

constexpr int kW = 320, kH = 240;
constexpr size_t kFrameBytes = kW * kH * 3 / 2;  // 4:2:0, 8 bits

// A Y4M stream's frames, each with its FRAME line as it stands.
std::vector<std::string> frames_of(const std::string& y4m) {
    std::vector<std::string> frames;
    size_t pos = y4m.find('\n');
    if (pos == std::string::npos) return frames;
    for (++pos; pos < y4m.size();) {
        const size_t end = y4m.find('\n', pos) + 1 + kFrameBytes;
        frames.push_back(y4m.substr(pos, end - pos));
        pos = end;
    }
    return frames;
}

// Frames 0..9 progressive, 10..29 out of step (the late field changing
// every 30 frames of the generator's own count), 30..49 out of step with a
// band in columns 96..223 displaced by 24/16 field lines, 50..59 one still
// picture whose FRAME lines carry parameters. Made once per test program.
class PlanClip : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir;
        // A still picture with detail at every scale for the pans.
        const int pw = kW + 128, ph = kH + 80;
        std::string ppm = "P6 " + std::to_string(pw) + " " + std::to_string(ph) + " 255\n";
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                const double v = 128 + 90 * std::sin(x * 0.21 + y * 0.05) * std::cos(y * 0.13 + x * 0.011);
                ppm += static_cast<char>(static_cast<int>(v));
                ppm += static_cast<char>(255 - static_cast<int>(v));
                ppm += static_cast<char>((x * 3 + y * 5) & 255);
            }
        write_file(*dir_ / "pic.ppm", ppm);
        const std::string make = "'" + std::string(PELTA_MAKE_CLIP) + "' --picture pic.ppm --size " +
                                 std::to_string(kW) + "x" + std::to_string(kH);
        const RunResult r = run_shell(
            dir_->path(), make + " --kind progressive --frames 10 > a.y4m && " + make +
                              " --kind match --late alternate --frames 20 > b.y4m && " + make +
                              " --kind window --band 96,128 --shift 24 --tff 1 --frames 20 > c.y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        // The same format throughout: the first file whole, the others
        // without their header line.
        std::string clip = read_file(*dir_ / "a.y4m");
        for (const char* part : {"b.y4m", "c.y4m"}) {
            const std::string y4m = read_file(*dir_ / part);
            clip += y4m.substr(y4m.find('\n') + 1);
        }
        const std::string still = frames_of(clip).back().substr(6);
        for (int i = 0; i < 10; ++i) clip += "FRAME Ip XMARK=" + std::to_string(i) + "\n" + still;
        write_file(*dir_ / "clip.y4m", clip);
        input_ = frames_of(clip);
        ASSERT_EQ(input_.size(), 60u);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string path(const std::string& name) { return *dir_ / name; }
    static ScratchDir* dir_;
    static std::vector<std::string> input_;
};
ScratchDir* PlanClip::dir_ = nullptr;
std::vector<std::string> PlanClip::input_;

// The match segment leaves out "lpf" (the filter's default, 1). The two
// filtered segments meet at frame 31, where the settings change: the
// filter's first candidate there, match 31, was counted at frame 30 under
// the match segment's settings, and the count kept in its match cache
// would decide frame 31 wrongly had the change not emptied it. Frame 31's
// partner, frame 30, is the match segment's, so frame 31 is filtered with
// the window closed.
const char kPlan[] = R"({"kind": "match", "frame_width": 320, "frame_height": 240, "note": "ignored", "segments": [
  {"start": 0, "frames": 10, "kind": "progressive", "tff": 1, "left": 0, "width": 0, "shift": 0, "lpf": 0},
  {"start": 10, "frames": 21, "kind": "match", "tff": 1, "left": 0, "width": 0, "shift": 0, "confidence": 0.9},
  {"start": 31, "frames": 19, "kind": "window", "tff": 1, "left": 96, "width": 128, "shift": 24, "lpf": 0,
   "extra": [1, 2]},
  {"start": 50, "frames": 10, "kind": "still", "confidence": 1}
]})";

struct PlanRun {
    const char* name;
    const char* command;  // {P}: pelta; writes out.y4m and log.csv
    // The whole-clip settings each filtered segment must match, command-line
    // overrides applied.
    const char* match_settings;
    const char* window_settings;
    const char* closed_window_settings;  // the window segment's first frame
};

const PlanRun kRuns[] = {
    {"from a file", "{P} --plan plan.json clip.y4m out.y4m --log log.csv", "--tff 1 --left 0 --width 0 --shift 0",
     "--tff 1 --left 96 --width 128 --shift 24 --lpf 0",
     "--tff 1 --left 96 --width 0 --shift 24 --lpf 0"},
    {"one thread", "{P} --threads 1 --plan plan.json clip.y4m out.y4m --log log.csv",
     "--tff 1 --left 0 --width 0 --shift 0", "--tff 1 --left 96 --width 128 --shift 24 --lpf 0",
     "--tff 1 --left 96 --width 0 --shift 24 --lpf 0"},
    {"pipe to pipe", "cat clip.y4m | {P} --plan plan.json - - --log log.csv | cat > out.y4m",
     "--tff 1 --left 0 --width 0 --shift 0", "--tff 1 --left 96 --width 128 --shift 24 --lpf 0",
     "--tff 1 --left 96 --width 0 --shift 24 --lpf 0"},
    {"the plan on standard input", "cat plan.json | {P} --plan - clip.y4m out.y4m --log log.csv",
     "--tff 1 --left 0 --width 0 --shift 0", "--tff 1 --left 96 --width 128 --shift 24 --lpf 0",
     "--tff 1 --left 96 --width 0 --shift 24 --lpf 0"},
    {"options override every segment", "{P} --plan plan.json --tff 0 --shift 16 --lpf 1 clip.y4m out.y4m --log log.csv",
     "--tff 0 --left 0 --width 0 --shift 16 --lpf 1", "--tff 0 --left 96 --width 128 --shift 16 --lpf 1",
     "--tff 0 --left 96 --width 0 --shift 16 --lpf 1"},
};

std::string with_pelta(std::string command) {
    const size_t at = command.find("{P}");
    return command.replace(at, 3, "'" + pelta_bin() + "' --quiet");
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t pos = 0, nl; (nl = text.find('\n', pos)) != std::string::npos; pos = nl + 1)
        lines.push_back(text.substr(pos, nl - pos));
    return lines;
}

}  // namespace

// Filtered frames are what the whole-clip run with their segment's settings
// gives: the frames they read beside them are the input's, whatever segment
// those are in, and the match cache that the settings change empties holds
// only counts the filter computes again alike. Passed frames, FRAME lines
// included, are the input's. The log marks them.
TEST_F(PlanClip, FiltersEachSegmentAsTheWholeClipRunAndPassesTheRest) {
    write_file(path("plan.json"), kPlan);
    std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> whole;  // frames, log rows
    auto whole_clip = [&](const std::string& settings) -> const auto& {
        auto& run = whole[settings];
        if (run.first.empty()) {
            const RunResult r = run_pelta(dir_->path(), "--quiet " + settings + " clip.y4m ref.y4m --log ref.csv");
            EXPECT_EQ(r.status, 0) << r.err;
            run = {frames_of(read_file(path("ref.y4m"))), lines_of(read_file(path("ref.csv")))};
        }
        return run;
    };
    std::string first_output;
    for (const PlanRun& c : kRuns) {
        SCOPED_TRACE(c.name);
        const RunResult r = run_shell(dir_->path(), with_pelta(c.command));
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string out = read_file(path("out.y4m"));
        EXPECT_EQ(out.substr(0, out.find('\n')), "YUV4MPEG2 W320 H240 F30000:1001 Ip A1:1 C420jpeg");
        const std::vector<std::string> frames = frames_of(out), log = lines_of(read_file(path("log.csv")));
        ASSERT_EQ(frames.size(), 60u);
        ASSERT_EQ(log.size(), 61u);
        const auto& match = whole_clip(c.match_settings);
        const auto& window = whole_clip(c.window_settings);
        const auto& closed = whole_clip(c.closed_window_settings);
        int filtered_changed = 0;
        for (size_t f = 0; f < 60; ++f) {
            SCOPED_TRACE("frame " + std::to_string(f));
            if (f < 10 || f >= 50) {
                EXPECT_TRUE(frames[f] == input_[f]) << "a passed frame differs from the input";
                EXPECT_EQ(log[f + 1], std::to_string(f) + ",,,,passed");
                continue;
            }
            const auto& want = f < 31 ? match : f == 31 ? closed : window;
            EXPECT_TRUE(frames[f] == want.first[f]) << "differs from the whole-clip run";
            EXPECT_EQ(log[f + 1], want.second[f + 1]);
            filtered_changed += frames[f] != input_[f];
        }
        EXPECT_GE(filtered_changed, 30);  // the filter did run
        if (std::string(c.match_settings) == kRuns[0].match_settings) {
            if (first_output.empty()) first_output = out;
            EXPECT_TRUE(out == first_output) << "differs from the run from a file on two threads";
        }
    }
}

// A plan that does not fit is refused in one line naming what is wrong,
// with exit status 1 (2: a usage error), and no output file.
TEST_F(PlanClip, RefusesAPlanThatDoesNotFitBeforeWritingAnything) {
    const std::string ok_match = R"("kind": "match", "tff": 1, "left": 0, "width": 0, "shift": 0)";
    auto plan = [](const std::string& segments) { return R"({"segments": [)" + segments + "]}"; };
    const struct {
        const char* name;
        std::string plan;     // written as p.json
        std::string command;  // {P}: pelta; the output would be out.y4m
        int status;
        std::string message;
    } cases[] = {
        {"not JSON", "{\"segments\": [", "{P} --plan p.json clip.y4m out.y4m", 1,
         "plan 'p.json' is not JSON: parse error at line 1, column 15"},
        {"no segments", R"({"kind": "match", "tff": 1})", "{P} --plan p.json clip.y4m out.y4m", 1,
         "plan 'p.json' has no \"segments\""},
        {"an empty list", plan(""), "{P} --plan p.json clip.y4m out.y4m", 1, "plan 'p.json' has no segments"},
        {"a missing setting", plan(R"({"start": 0, "frames": 5, "kind": "window", "tff": 1, "left": 0, "width": 9})"),
         "{P} --plan p.json clip.y4m out.y4m", 1,
         "segment 1: \"shift\" is missing (a window segment needs tff, left, width and shift)"},
        {"a missing start", plan(R"({"frames": 5, "kind": "still"})"), "{P} --plan p.json clip.y4m out.y4m", 1,
         "segment 1: \"start\" is missing"},
        {"a wrong type", plan(R"({"start": 0, "frames": 5.5, "kind": "still"})"), "{P} --plan p.json clip.y4m out.y4m",
         1, "segment 1: \"frames\" must be a whole number, not 5.5"},
        {"out of range, as --left is", plan(R"({"start": 0, "frames": 5, "kind": "match", "tff": 1, "left": 2049, )"
                                            R"("width": 0, "shift": 0})"),
         "{P} --plan p.json clip.y4m out.y4m", 1, "segment 1: \"left\" 2049 is out of range (0 to 2048)"},
        {"tff not 0 or 1", plan(R"({"start": 0, "frames": 5, "kind": "match", "tff": 2, "left": 0, "width": 0, )"
                                R"("shift": 0})"),
         "{P} --plan p.json clip.y4m out.y4m", 1, "segment 1: \"tff\" 2 is out of range (0 to 1)"},
        {"an unknown kind", plan(R"({"start": 0, "frames": 5, "kind": "telecine"})"),
         "{P} --plan p.json clip.y4m out.y4m", 1,
         "segment 1: unknown kind \"telecine\" (known: progressive, pulldown, interlaced, match, window, still, "
         "black)"},
        {"overlapping", plan(R"({"start": 0, "frames": 10, "kind": "still"}, {"start": 9, "frames": 5, )" + ok_match +
                             "}"),
         "{P} --plan p.json clip.y4m out.y4m", 1, "segment 2 (frames 9..13) overlaps segment 1 (frames 0..9)"},
        {"out of order", plan(R"({"start": 20, "frames": 10, "kind": "still"}, {"start": 0, "frames": 5, )" +
                              ok_match + "}"),
         "{P} --plan p.json clip.y4m out.y4m", 1,
         "segment 2 (frames 0..4) starts before segment 1 (frames 20..29): segments must be in frame order"},
        {"beyond a file's end", plan(R"({"start": 50, "frames": 11, )" + ok_match + "}"),
         "{P} --plan p.json clip.y4m out.y4m", 1,
         "segment 1 (frames 50..60) reaches beyond the input's end: the input holds 60 frames (0..59)"},
        {"beyond a pipe's end", plan(R"({"start": 50, "frames": 11, )" + ok_match + "}"),
         "cat clip.y4m | {P} --plan p.json - out.y4m", 1,
         "segment 1 (frames 50..60) reaches beyond the input's end: the input ended after 60 frames (0..59); "
         "'out.y4m' was not written"},
        {"another frame size", R"({"frame_width": 720, "frame_height": 480, "segments": [{"start": 0, "frames": 5, )" +
                                   ok_match + "}]}",
         "{P} --plan p.json clip.y4m out.y4m", 1, "plan 'p.json' is for 720x480 frames; the input's are 320x240"},
        {"no plan file", "", "{P} --plan none.json clip.y4m out.y4m", 1, "cannot read plan 'none.json'"},
        {"the output is the plan", plan(R"({"start": 0, "frames": 5, "kind": "still"})"),
         "{P} --plan p.json clip.y4m p.json", 1, "'p.json' is the plan file; write to another file"},
        {"with --auto", plan(R"({"start": 0, "frames": 5, "kind": "still"})"),
         "{P} --auto --plan p.json clip.y4m out.y4m", 2, "--plan cannot be used with --auto"},
    };
    std::remove(path("out.y4m").c_str());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(path("p.json"), c.plan);
        const RunResult r = run_shell(dir_->path(), with_pelta(c.command));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.find("pelta: "), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(file_exists(path("out.y4m")));
        EXPECT_EQ(read_file(path("p.json")), c.plan);
    }
}

namespace {

// A picture in the filter's samples, w x h with rows w apart: a pattern with
// detail in both directions, its rows of one parity taken from the same
// pattern moved `comb` pixels along the row (fields of two moments), only
// in columns [x0, x1).
std::vector<PIXEL_YC> pattern(int w, int h, double comb, int x0, int x1, double scale = 1.0) {
    std::vector<PIXEL_YC> p(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = (y & 1) && x >= x0 && x < x1 ? comb : 0.0;
            const double v = 2048 + scale * (700 * std::sin(0.45 * (x + dx) + 0.3 * y) + 500 * std::cos(0.2 * y - 0.1 * (x + dx)));
            p[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] = PIXEL_YC{static_cast<int16_t>(v), 0, 0};
        }
    return p;
}

}  // namespace

// The check a plan's run makes of each filtered segment: more combed after
// than before, over the whole frame or, with a window, in its columns or in
// the rest, beyond 2%; equal combing, combing removed and pictures too flat
// to tell are not reported.
TEST(CombingCheck, ReportsWhereAFilteredSegmentCameOutMoreCombed) {
    constexpr int w = 96, h = 48;
    const auto clean = [] { return pattern(w, h, 0, 0, w); };
    const struct {
        const char* name;
        std::vector<PIXEL_YC> before, after;
        int left, width;       // the stretch's window
        bool worse[3];         // whole, window, rest
    } cases[] = {
        {"a clean picture combed", clean(), pattern(w, h, 5, 0, w), 0, 0, {true, false, false}},
        {"a combed picture restored", pattern(w, h, 5, 0, w), clean(), 0, 0, {false, false, false}},
        {"the same picture", pattern(w, h, 2, 0, w), pattern(w, h, 2, 0, w), 0, 0, {false, false, false}},
        {"1% more combed, within the tolerance", pattern(w, h, 5, 0, w), pattern(w, h, 5, 0, w, 1.005), 0, 0,
         {false, false, false}},
        {"combed in the window's columns only", clean(), pattern(w, h, 5, 32, 64), 32, 32, {true, true, false}},
        {"the window restored, the rest combed", pattern(w, h, 5, 32, 64), pattern(w, h, 5, 0, 32), 32, 32,
         {false, false, true}},
        {"a window reaching beyond the picture", pattern(w, h, 5, 0, 64), pattern(w, h, 5, 64, w), 64, 500,
         {false, true, false}},
        {"flat pictures cannot tell", std::vector<PIXEL_YC>(w * h, PIXEL_YC{256, 0, 0}),
         std::vector<PIXEL_YC>(w * h, PIXEL_YC{300, 0, 0}), 0, 0, {false, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pelta_cli::FilterSchedule schedule(2);
        schedule[0].start = 10;
        schedule[0].frames = 4;
        schedule[1].start = 20;
        schedule[1].frames = pelta_cli::kThroughEnd;
        schedule[1].controls.track[pelta::TRACK_LEFT] = c.left;
        schedule[1].controls.track[pelta::TRACK_WIDTH] = c.width;
        pelta_cli::CombingCheck check(schedule, w, h);
        // Stretch 0 holds frames that stay as they are; stretch 1 the case.
        for (long f = 10; f < 14; ++f) {
            check.input(0, f, c.after.data(), w);
            check.output(0, f, c.after.data(), w);
        }
        for (long f = 20; f < 25; ++f) {
            check.input(1, f, c.before.data(), w);
            check.output(1, f, c.after.data(), w);
        }
        const std::vector<pelta_cli::CombingChange> changes = check.changes();
        ASSERT_EQ(changes.size(), 2u);
        EXPECT_FALSE(changes[0].any_worse());
        EXPECT_EQ(changes[0].first, 10);
        EXPECT_EQ(changes[0].last, 13);
        const pelta_cli::CombingChange& g = changes[1];
        EXPECT_EQ(g.first, 20);
        EXPECT_EQ(g.last, 24);
        for (int p = 0; p < 3; ++p) EXPECT_EQ(g.worse[p], c.worse[p]) << "place " << p << ": " << g.before[p] << " -> " << g.after[p];
        const std::vector<std::string> lines = pelta_cli::worse_lines(changes, {"match", "window"});
        ASSERT_EQ(lines.size(), g.any_worse() ? 1u : 0u);
        if (g.any_worse()) {
            EXPECT_EQ(lines[0].rfind("frames 20..24 (window) came out more combed than they went in: ", 0), 0u)
                << lines[0];
        }
    }
}

// A window is rebuilt from each frame and its partner, the other frame of
// its pair {2k, 2k+1}. Where that partner lies outside the stretch (a
// stretch that begins on an odd frame or ends on an even one), the frame is
// filtered with the window closed; every other control stays the stretch's.
TEST(ControlsAt, ClosesTheWindowWhereThePartnerLiesOutsideTheStretch) {
    const struct {
        long start, frames;
        int width;
        long frame;
        bool closed;
    } cases[] = {
        {31, 19, 128, 31, true},   // odd start: partner 30 is before it
        {31, 19, 128, 32, false},  // partner 33
        {31, 19, 128, 49, false},  // odd last frame: partner 48
        {30, 19, 128, 48, true},   // even last frame: partner 49 is after it
        {30, 19, 128, 30, false},  // even start: partner 31
        {31, pelta_cli::kThroughEnd, 128, 31, true},
        {31, pelta_cli::kThroughEnd, 128, 1000000, false},
        {31, 19, 0, 31, false},  // no window to close
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("stretch " + std::to_string(c.start) + "+" + std::to_string(c.frames) + ", frame " +
                     std::to_string(c.frame));
        pelta_cli::FilterStretch stretch;
        stretch.start = c.start;
        stretch.frames = c.frames;
        for (int i = 0; i < pelta::TRACK_COUNT; ++i) stretch.controls.track[i] = 10 + i;
        for (int i = 0; i < pelta::CHECK_COUNT; ++i) stretch.controls.check[i] = i & 1;
        stretch.controls.track[pelta::TRACK_WIDTH] = c.width;
        pelta_cli::Controls want = stretch.controls;
        if (c.closed) want.track[pelta::TRACK_WIDTH] = 0;
        EXPECT_TRUE(pelta_cli::controls_at(stretch, c.frame) == want);
    }
}

// --auto names, on each filtered window segment's line, the edge frames it
// filters with the window closed.
TEST(AutoSegmentLines, NameTheFramesFilteredWithTheWindowClosed) {
    using pelta_cli::ClipKind;
    const struct {
        ClipKind kind;
        long start, frames;
        const char* said;  // what the line ends with; "" where nothing is closed
    } cases[] = {
        {ClipKind::Window, 9, 21, "; frame 9 with the window closed (its pair's other frame is outside the segment)"},
        {ClipKind::Window, 10, 21, "; frame 30 with the window closed (its pair's other frame is outside the segment)"},
        {ClipKind::Window, 9, 22,
         "; frames 9 and 30 with the window closed (their pairs' other frames are outside the segment)"},
        {ClipKind::Window, 10, 20, ""},
        {ClipKind::Window, 9, pelta_cli::kThroughEnd,
         "; frame 9 with the window closed (its pair's other frame is outside the segment)"},
        {ClipKind::Match, 9, 21, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + "+" + std::to_string(c.frames));
        pelta_cli::Options opt;
        opt.auto_settings = true;
        pelta_cli::Segment g;
        g.start = c.start;
        g.frames = c.frames;
        g.kind = c.kind;
        g.confidence = 1;
        if (c.kind == ClipKind::Window) g.settings = {1, 96, 128, 24, 0};
        opt.plan = {g};
        const std::vector<std::string> lines = pelta_cli::auto_segment_lines(opt);
        ASSERT_EQ(lines.size(), 1u);
        const std::string& line = lines[0];
        const std::string said = c.said;
        if (said.empty()) {
            EXPECT_EQ(line.find("closed"), std::string::npos) << line;
        } else {
            ASSERT_GE(line.size(), said.size()) << line;
            EXPECT_EQ(line.substr(line.size() - said.size()), said) << line;
        }
    }
}

// What a run by a plan does with each segment: a plan file's segments of
// pelta's kinds are filtered whatever their confidence; --auto's only at
// 0.5 or above, unless --force, which also filters every segment of a clip
// with none of pelta's kinds.
TEST(SegmentFate, AutoFiltersOnlyTheSegmentsItIsSureOf) {
    using pelta_cli::ClipKind;
    using pelta_cli::SegmentFate;
    const struct {
        bool from_auto, force, every;
        ClipKind kind;
        double confidence;
        SegmentFate fate;
    } cases[] = {
        {false, false, false, ClipKind::Match, 0.0, SegmentFate::Filter},
        {false, false, false, ClipKind::Window, 0.3, SegmentFate::Filter},
        {false, false, false, ClipKind::Progressive, 1.0, SegmentFate::PassOtherKind},
        {true, false, false, ClipKind::Window, 0.5, SegmentFate::Filter},
        {true, false, false, ClipKind::Match, 0.49, SegmentFate::PassDoubtful},
        {true, true, false, ClipKind::Match, 0.49, SegmentFate::FilterForced},
        {true, true, false, ClipKind::Match, 0.9, SegmentFate::Filter},
        {true, false, false, ClipKind::Interlaced, 0.9, SegmentFate::PassOtherKind},
        {true, true, false, ClipKind::Interlaced, 0.9, SegmentFate::PassOtherKind},
        {true, true, true, ClipKind::Interlaced, 0.2, SegmentFate::FilterForced},
    };
    for (const auto& c : cases) {
        pelta_cli::Options opt;
        opt.auto_settings = c.from_auto;
        opt.force = c.force;
        opt.plan_filters_every_segment = c.every;
        pelta_cli::Segment s;
        s.kind = c.kind;
        s.confidence = c.confidence;
        EXPECT_EQ(pelta_cli::segment_fate(opt, s), c.fate)
            << pelta_cli::kind_name(c.kind) << " " << c.confidence << (c.from_auto ? " --auto" : " --plan")
            << (c.force ? " --force" : "");
    }
}

// A run by a plan measures each filtered segment before and after: the
// progressive frames filtered as out of step come out more combed, which is
// said by segment and ends the run with status 3, the output complete and
// the passed frames as they came; the frames the plan restores are not
// reported. --quiet keeps the warning.
TEST_F(PlanClip, SaysWhereAFilteredSegmentCameOutMoreCombed) {
    const std::string match = R"("kind": "match", "tff": 1, "left": 0, "width": 0, "shift": 0, "lpf": 0)";
    const struct {
        const char* name;
        std::string segment;
        long first, end;  // the frames it filters
        int status;
        const char* message;  // "" none
    } cases[] = {
        {"progressive frames called match", R"({"start": 0, "frames": 10, )" + match + "}", 0, 10, 3,
         "pelta: warning: frames 0..9 (match) came out more combed than they went in: the whole frame "},
        {"the frames out of step", R"({"start": 10, "frames": 20, )" + match + "}", 10, 30, 0, ""},
        {"the band with its window",
         R"({"start": 31, "frames": 19, "kind": "window", "tff": 1, "left": 96, "width": 128, "shift": 24, "lpf": 0})",
         31, 50, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(path("p.json"), R"({"segments": [)" + c.segment + "]}");
        std::remove(path("out.y4m").c_str());
        const RunResult r = run_shell(dir_->path(), with_pelta("{P} --plan p.json clip.y4m out.y4m"));
        EXPECT_EQ(r.status, c.status) << r.err;
        if (*c.message) {
            EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
            EXPECT_NE(r.err.find("pelta: 1 segment filtered by plan 'p.json' came out more combed than it went in "
                                 "(exit status 3)\n"),
                      std::string::npos)
                << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
        const std::vector<std::string> frames = frames_of(read_file(path("out.y4m")));
        ASSERT_EQ(frames.size(), 60u);
        for (long f = 0; f < 60; ++f)
            if (f < c.first || f >= c.end) {
                EXPECT_TRUE(frames[static_cast<size_t>(f)] == input_[static_cast<size_t>(f)]) << f;
            }
    }
}
