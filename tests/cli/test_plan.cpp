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
// would decide frame 31 wrongly had the change not emptied it.
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
};

const PlanRun kRuns[] = {
    {"from a file", "{P} --plan plan.json clip.y4m out.y4m --log log.csv", "--tff 1 --left 0 --width 0 --shift 0",
     "--tff 1 --left 96 --width 128 --shift 24 --lpf 0"},
    {"one thread", "{P} --threads 1 --plan plan.json clip.y4m out.y4m --log log.csv",
     "--tff 1 --left 0 --width 0 --shift 0", "--tff 1 --left 96 --width 128 --shift 24 --lpf 0"},
    {"pipe to pipe", "cat clip.y4m | {P} --plan plan.json - - --log log.csv | cat > out.y4m",
     "--tff 1 --left 0 --width 0 --shift 0", "--tff 1 --left 96 --width 128 --shift 24 --lpf 0"},
    {"the plan on standard input", "cat plan.json | {P} --plan - clip.y4m out.y4m --log log.csv",
     "--tff 1 --left 0 --width 0 --shift 0", "--tff 1 --left 96 --width 128 --shift 24 --lpf 0"},
    {"options override every segment", "{P} --plan plan.json --tff 0 --shift 16 --lpf 1 clip.y4m out.y4m --log log.csv",
     "--tff 0 --left 0 --width 0 --shift 16 --lpf 1", "--tff 0 --left 96 --width 128 --shift 16 --lpf 1"},
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
        int filtered_changed = 0;
        for (size_t f = 0; f < 60; ++f) {
            SCOPED_TRACE("frame " + std::to_string(f));
            if (f < 10 || f >= 50) {
                EXPECT_TRUE(frames[f] == input_[f]) << "a passed frame differs from the input";
                EXPECT_EQ(log[f + 1], std::to_string(f) + ",,,,passed");
                continue;
            }
            const auto& want = f < 31 ? match : window;
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
