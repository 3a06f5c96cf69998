// Hostile command lines and inputs against pelta, pelta analyze and --auto,
// as tables: every output kind against every way of naming the input, sizes
// that would cost memory before a frame arrives, and the smaller points of a
// user's first tries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace cli_test;

namespace {

std::string with(std::string text, const std::string& key, const std::string& value) {
    for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    return text;
}

// {P} in a command: the pelta binary.
std::string command(const std::string& text) { return with(text, "{P}", quote(pelta_bin())); }

// A clip the analysis can judge: fields out of step, 96x48 4:2:0.
std::string judged_clip(int frames) {
    return y4m_bytes({"W96 H48 F30000:1001 It C420jpeg", field_shifted_planes(96, 48, frames)});
}

}  // namespace

// Every output (pelta's OUTPUT and --log, --auto's, analyze's page and its
// verdict on standard output) against every way of naming the input: its
// name, a link, a hard link, another spelling, /dev/stdout or /dev/stdin
// onto it, a descriptor the shell opened on it, and the input read from
// standard input. Each is refused in one line with status 1 before any work,
// and no file changes.
TEST(Attacks, NoOutputReplacesTheInput) {
    struct Output {
        const char* kind;
        const char* to_file;    // {IN}: the input's argument, {OUT}: the output's name
        const char* to_stdout;  // the same output on standard output; null: there is no such form
    };
    const Output outputs[] = {
        {"OUTPUT", "{P} --quiet {IN} {OUT}", "{P} --quiet {IN} -"},
        {"--log", "{P} --quiet --log {OUT} {IN} o.y4m", "{P} --quiet --log - {IN} o.y4m"},
        {"--auto OUTPUT", "{P} --quiet --auto --force {IN} {OUT}", "{P} --quiet --auto --force {IN} -"},
        {"--auto --log", "{P} --quiet --auto --force --log {OUT} {IN} o.y4m",
         "{P} --quiet --auto --force --log - {IN} o.y4m"},
        {"analyze --report", "{P} analyze -q --report {OUT} {IN}", nullptr},
        {"analyze's verdict", nullptr, "{P} analyze -q {IN}"},
        {"analyze --json", nullptr, "{P} analyze -q --json {IN}"},
    };
    struct Naming {
        const char* how;
        const char* in;        // {IN}
        const char* out;       // {OUT}, for an output named on the command line
        const char* redirect;  // after the command
    };
    const Naming file_namings[] = {
        {"its name", "in.y4m", "in.y4m", ""},
        {"a symbolic link", "in.y4m", "link.y4m", ""},
        {"a hard link", "in.y4m", "hard.y4m", ""},
        {"another spelling", "in.y4m", "./sub/../in.y4m", ""},
        {"the input through a link", "link.y4m", "in.y4m", ""},
        {"/dev/stdout onto the input", "in.y4m", "/dev/stdout", " 1<>in.y4m"},
        {"the input on standard input", "-", "in.y4m", " < in.y4m"},
        {"/dev/stdin as the output", "-", "/dev/stdin", " < in.y4m"},
    };
    const Naming stdout_namings[] = {
        {"1<> on the input", "in.y4m", nullptr, " 1<>in.y4m"},
        {">> on a link to the input", "in.y4m", nullptr, " >>link.y4m"},
        {"both ends on the input", "-", nullptr, " < in.y4m 1<>in.y4m"},
    };
    ScratchDir dir;
    write_file(dir / "in.y4m", judged_clip(12));
    ASSERT_EQ(run_shell(dir.path(), "mkdir sub && ln -s in.y4m link.y4m && ln in.y4m hard.y4m").status, 0);
    int cases = 0;
    for (const Output& o : outputs) {
        SCOPED_TRACE(o.kind);
        for (const Naming& n : file_namings) {
            if (!o.to_file) break;
            SCOPED_TRACE(n.how);
            expect_refused(dir, command(with(with(o.to_file, "{OUT}", n.out), "{IN}", n.in) + n.redirect), 1,
                           "is the input file; write to another file");
            ++cases;
        }
        for (const Naming& n : stdout_namings) {
            if (!o.to_stdout) break;
            SCOPED_TRACE(n.how);
            expect_refused(dir, command(with(o.to_stdout, "{IN}", n.in) + n.redirect), 1,
                           "standard output is the input file; write to another file");
            ++cases;
        }
    }
    EXPECT_EQ(cases, 5 * 8 + 6 * 3);
}

// Sizes that would cost memory before a frame arrives: a header's promise
// allocates nothing until its frames come, and the pixel cap holds for
// every way of setting a size (a Y4M header, --raw for pelta and analyze,
// --max-w counted against it), refused before any work (before --auto's
// analysis). Each run has 200 MB of address space (ulimit -v), where the
// frames these headers promise would need gigabytes: a buffer made for them
// would end the run with "not enough memory". (Under AddressSanitizer, whose
// shadow memory needs more address space than that, without the limit.)
TEST(Attacks, SizesCostNothingBeforeTheirFramesCome) {
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit;
#else
    const std::string limit = "ulimit -v 200000 && ";
#endif
    ScratchDir dir;
    // 8192x4320 4:2:0 (53 MB a frame; the filter's 13 buffers 2.8 GB), and
    // 16384x4096 16-bit 4:4:4 (403 MB a frame) with the first 100 bytes of
    // its first frame.
    write_file(dir / "big.y4m", "YUV4MPEG2 W8192 H4320 F25:1 C420jpeg\n");
    write_file(dir / "big16.y4m", "YUV4MPEG2 W16384 H4096 C444p16\nFRAME\n" + std::string(100, 'x'));
    write_file(dir / "wide.y4m", "YUV4MPEG2 W16384 H8192 C420jpeg\n");
    write_file(dir / "tiny.raw", std::string(221184, '\x10'));
    write_file(dir / "short.y4m", judged_clip(5));
    struct Case {
        const char* args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"--quiet big.y4m out.y4m", 0, "pelta: warning: no frames in the input"},
        {"--quiet --threads 1 big.y4m out.y4m", 0, "pelta: warning: no frames in the input"},
        {"--quiet - - < big.y4m > out.y4m", 0, "pelta: warning: no frames in the input"},
        {"--quiet big16.y4m out.y4m", 0, "truncated last frame: frame 0 has 106 of 402653190 bytes"},
        {"--quiet --raw 8192x4320 tiny.raw out.raw", 0, "truncated last frame: frame 0 has 221184 of 212336640 bytes"},
        {"--quiet --raw 8192x4320 --threads 1 - out.raw < tiny.raw", 0, "truncated last frame: frame 0 has 221184"},
        {"--quiet wide.y4m out.y4m", 1, "absurd frame size 16384x8192 (at most 16384 on a side and 67108864 pixels)"},
        {"--quiet --raw 16384x16384 tiny.raw out.raw", 2, "--raw 16384x16384: absurd frame size"},
        {"analyze -q --raw 16384x16384 tiny.raw", 2, "--raw 16384x16384: absurd frame size"},
        {"--quiet --max-w 16384 big.y4m out.y4m", 2, "--max-w 16384 is too wide for frames of 4320 rows"},
        {"--quiet --raw 8192x4320 --max-w 16384 tiny.raw out.raw", 2, "--max-w 16384 is too wide for frames of 4320 rows"},
        {"--quiet --auto --max-w 16384 big.y4m out.y4m", 2, "--max-w 16384 is too wide for frames of 4320 rows"},
        {"--quiet --auto --max-w 95 short.y4m out.y4m", 2, "--max-w 95 is below the frame width 96"},
    };
    for (const Case& c : cases) {
        const std::string cmd = limit + quote(pelta_bin()) + " " + c.args;
        if (c.status) {
            expect_refused(dir, cmd, c.status, c.message);
            continue;
        }
        SCOPED_TRACE(c.args);
        const RunResult r = run_shell(dir.path(), cmd);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(file_exists(dir / (std::string(c.args).find("raw") != std::string::npos ? "out.raw" : "out.y4m")));
        ASSERT_EQ(run_shell(dir.path(), "rm -f out.y4m out.raw").status, 0);
    }
}

// A user's first tries, and streams that are not what they claim: each row a
// command, its exit status, how many lines it writes on standard error and
// what the last one holds, and what standard output starts with. No byte on
// standard error is a control character, and no row leaves a file behind.
TEST(Attacks, FirstTriesGetAnAnswer) {
    ScratchDir dir;
    const std::string clip = judged_clip(12);
    write_file(dir / "in.y4m", clip);
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(8, 4, 3)));
    // The clip and 1000 bytes of a thirteenth frame.
    write_file(dir / "cut.y4m", clip + "FRAME\n" + std::string(994, '\x80'));
    write_file(dir / "nul.y4m", std::string("YUV4MPEG2 W8 H4 C4\0" "20\n", 22));
    write_file(dir / "escape.y4m", "YUV4MPEG2 W8\x1b]0;owned\x07 H4\n");
    write_file(dir / "verdict.txt", "");
    // Moving fields out of step, every sample pushed to one end of 16 bits
    // (which --raw admits), so every measure of the analysis and the filter
    // meets the largest differences there are; under the sanitizers an
    // overflow aborts.
    Clip extreme = field_shifted_clip(64, 48, 12);
    for (Frame& f : extreme.frames)
        for (PIXEL_YC& p : f) {
            p.y = p.y >= 2000 ? INT16_MAX : INT16_MIN;
            p.cb = p.cb >= 0 ? INT16_MAX : INT16_MIN;
            p.cr = p.cr >= 0 ? INT16_MIN : INT16_MAX;
        }
    write_file(dir / "extreme.raw", raw_bytes(extreme));
    const std::vector<std::string> before = dir.list();
    struct Case {
        const char* what;
        const char* command;  // {P}: the pelta binary
        int status;
        int lines;        // on standard error
        const char* err;  // in the last of them
        const char* out;  // what standard output starts with
    };
    const Case cases[] = {
        {"the README's spelling", "{P} analyse --help", 0, 0, "", "Usage: pelta analyze [OPTIONS] INPUT"},
        {"-q for pelta", "{P} -q --left 0 --raw 8x4 in.raw /dev/null", 0, 0, "", ""},
        {"-q for --auto", "{P} -q --auto --force in.y4m /dev/null", 0, 2, "): filtering with", ""},
        {"--auto's summary counts its analysis", "{P} --auto --force in.y4m /dev/null", 0, 3,
         " s with the analysis), 0 failed", ""},
        {"a container's name", "{P} in.y4m out.mp4", 2, 1,
         "pelta: OUTPUT 'out.mp4' names an MP4 file, but pelta writes Y4M video; have ffmpeg encode it: pelta ... - "
         "| ffmpeg -f yuv4mpegpipe -i - out.mp4",
         ""},
        {"a container's name in capitals, raw", "{P} --raw 8x4 in.raw OUT.MKV", 2, 1,
         "names a Matroska file, but pelta --raw writes raw frames; name a .raw file", ""},
        {"help into a full disk", "{P} --help > /dev/full", 1, 1,
         "pelta: cannot write standard output: No space left on device", ""},
        {"analyze's help into a full disk", "{P} analyze --help > /dev/full", 1, 1,
         "pelta analyze: cannot write standard output: No space left on device", ""},
        {"video into a full disk", "{P} --left 0 in.y4m - > /dev/full", 1, 1,
         "pelta: cannot write standard output: No space left on device", ""},
        {"the verdict into a full disk", "{P} analyze -q in.y4m > /dev/full", 1, 1,
         "pelta analyze: cannot write standard output: No space left on device", ""},
        {"a closed standard output", "{P} --left 0 --log - in.y4m out.y4m >&-", 1, 1,
         "pelta: cannot write standard output: Bad file descriptor", ""},
        {"a closed standard input", "{P} - out.y4m <&-", 1, 1, "pelta: cannot read input: Bad file descriptor", ""},
        {"analyze, a closed standard input", "{P} analyze - <&-", 1, 1,
         "pelta analyze: cannot read input: Bad file descriptor", ""},
        {"analyze, an empty pipe", ": | {P} analyze -", 1, 1,
         "pelta analyze: empty input: the program writing into the pipe wrote nothing (ffmpeg writes some pixel "
         "formats as Y4M only with -strict -1",
         ""},
        {"analyze, a truncated last frame", "{P} analyze -q --json cut.y4m", 0, 1,
         "pelta analyze: warning: truncated last frame: frame 12 has 1000 of 6918 bytes", "{\"kind\":"},
        {"analyze, --start beyond its limit", "{P} analyze --start 1073741824 in.y4m", 2, 1,
         "--start takes a frame number from 0 to 1073741823, not '1073741824'", ""},
        {"analyze, --report -", "{P} analyze --report - in.y4m", 2, 1,
         "--report - would mix the page into the verdict on standard output; name a file for the page", ""},
        {"analyze, --report onto the verdict", "{P} analyze --report /dev/stdout in.y4m >> verdict.txt", 1, 1,
         "--report '/dev/stdout' and the verdict on standard output are the same file", ""},
        {"a NUL byte in the header", "{P} nul.y4m out.y4m", 1, 1,
         "pelta: unsupported chroma format 'C4\\x0020' (444, 422, 420jpeg", ""},
        {"analyze, samples at both ends of 16 bits", "{P} analyze -q --raw 64x48 extreme.raw", 0, 0, "", "verdict:"},
        {"the filter, samples at both ends of 16 bits",
         "{P} -q --left 8 --width 32 --shift 12 --raw 64x48 extreme.raw /dev/null", 0, 0, "", ""},
        {"escape bytes in the header", "{P} analyze escape.y4m", 1, 1,
         "pelta analyze: bad width tag 'W8\\x1b]0;owned\\x07' in the Y4M header", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RunResult r = run_shell(dir.path(), command(c.command));
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.lines) << r.err;
        const size_t last = r.err.rfind('\n', r.err.size() < 2 ? 0 : r.err.size() - 2);
        EXPECT_NE(r.err.find(c.err, last == std::string::npos ? 0 : last), std::string::npos) << r.err;
        for (const char ch : r.err) EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7f)) << "raw byte " << int(ch);
        EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << r.out;
        EXPECT_EQ(dir.list(), before);
    }

    // --auto's progress line on a terminal names --auto, not analyze.
    if (!can_make_terminal()) GTEST_SKIP() << "script(1) cannot give pelta a pseudo-terminal here";
    const RunResult r = run_on_terminal(dir.path(), command("{P} --auto --force in.y4m /dev/null"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\rpelta --auto: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("pelta analyze"), std::string::npos) << r.out;
}

namespace {

// A 600-frame clip (longer than the 450 frames the analysis reads whole, so
// it seeks) whose FRAME line for frame f is "FRAME" + params(f) + "\n".
template <class Params>
std::string clip_with_frame_lines(Params params) {
    const std::vector<std::string> planes = field_shifted_planes(96, 48, 600);
    std::string s = "YUV4MPEG2 W96 H48 F30000:1001 It C420jpeg\n";
    for (size_t f = 0; f < planes.size(); ++f) s += "FRAME" + params(f) + "\n" + planes[f];
    return s;
}

// The analysis's JSON "span" (the frames the clip holds from --start).
long span_of(const std::string& json) {
    const size_t at = json.find("\"span\":");
    return at == std::string::npos ? -1 : std::stol(json.substr(at + 7));
}

}  // namespace

// What the plan, the analysis's input and its standard output let through,
// as a table: a plan nested deeper than 16 levels, followed by a NUL byte and
// junk or by junk, larger than 4 MB, or on standard input redirected from the
// file an output would replace; a Y4M file with a bad FRAME line; and the
// analysis's standard output gone, are each refused in one line with status
// 1, or end quietly by SIGPIPE as the filter does, and no file changes.
// Named pipes, /dev/stdin fed by a pipe, a shell's <(...) and Y4M files
// whose later FRAME lines carry parameters are read right: as standard
// input from a pipe is read, to the byte.
TEST(Attacks, PlansPipesAndFrameLinesAreRefusedOrReadRight) {
    ScratchDir dir;
    write_file(dir / "in.y4m", judged_clip(60));
    const std::string plan =
        R"({"segments": [{"start": 0, "frames": 60, "kind": "match", "tff": 1, "left": 0, "width": 0, "shift": 0}]})";
    write_file(dir / "p.json", plan);
    write_file(dir / "deep.json", "{\"segments\": " + std::string(100000, '[') + std::string(100000, ']') + "}");
    write_file(dir / "zero.json", plan + std::string(1, '\0') + "junk");
    write_file(dir / "junk.json", plan + " junk");
    write_file(dir / "big.json", plan.substr(0, plan.size() - 1) + ", \"note\": \"" + std::string(4 << 20, 'x') + "\"}");
    // First FRAME line bare, the others with parameters (as ffmpeg reads
    // them: up to 80 bytes a line).
    auto later = [](size_t f) { return f ? " Ip XMARK=" + std::to_string(f) + " X" + std::string(50, 'p') : ""; };
    write_file(dir / "later.y4m", clip_with_frame_lines(later));
    // Parameters on frames 100 to 198 only, one frame's bytes in all: the
    // line where the last frame would start is a bare FRAME line all the
    // same, so only the reading finds them.
    write_file(dir / "middle.y4m", clip_with_frame_lines([](size_t f) {
                   return f < 100 || f > 198 ? std::string() : " X" + std::string(f < 198 ? 68 : 56, 'q');
               }));
    ASSERT_EQ(read_file(dir / "middle.y4m").size(),
              read_file(dir / "middle.y4m").find('\n') + 1 + 601 * (96 * 48 * 3 / 2 + 6));
    std::string bad = read_file(dir / "later.y4m");
    const size_t line500 = bad.find("FRAME Ip XMARK=500 ");
    ASSERT_NE(line500, std::string::npos);
    bad[line500 + 4] = 'X';
    write_file(dir / "bad.y4m", bad);

    struct Case {
        const char* what;
        const char* command;  // {P}: the pelta binary; bash where it says so
        int status;
        // 1: refused in one line holding this; 141: ended by SIGPIPE
        // without a word; 0: read right, its standard output and out.y4m
        // the same as those of `same_as`.
        const char* message;
        const char* same_as;
    };
    const char* const from_pipe = "cat in.y4m | {P} analyze -q --json -";
    const char* const auto_from_pipe = "cat in.y4m | {P} -q --auto --force - out.y4m";
    const Case cases[] = {
        {"a plan nested 100000 levels deep", "{P} --plan deep.json in.y4m out.y4m", 1,
         "pelta: plan 'deep.json' is not a plan: its values nest more than 16 levels deep (a plan needs 3)", nullptr},
        {"the same on standard input", "cat deep.json | {P} --plan - in.y4m out.y4m", 1,
         "pelta: the plan on standard input is not a plan: its values nest more than 16 levels deep", nullptr},
        {"JSON, a NUL byte and junk", "{P} --plan zero.json in.y4m out.y4m", 1,
         "pelta: plan 'zero.json' is not JSON: a NUL byte at line 1, column 105", nullptr},
        {"JSON and junk", "{P} --plan junk.json in.y4m out.y4m", 1,
         "pelta: plan 'junk.json' is not JSON: parse error at line 1, column 106: syntax error", nullptr},
        {"a plan over 4 MB", "{P} --plan big.json in.y4m out.y4m", 1,
         "pelta: plan 'big.json' is not a plan: it is larger than 4 MB", nullptr},
        {"--plan - onto its file", "{P} --plan - in.y4m p.json < p.json", 1,
         "pelta: 'p.json' is the plan on standard input; write to another file", nullptr},
        {"--plan - with --log onto its file", "{P} --plan - --log p.json in.y4m out.y4m < p.json", 1,
         "pelta: 'p.json' is the plan on standard input; write to another file", nullptr},
        {"--plan - with standard output onto its file", "{P} --plan - in.y4m - < p.json >> p.json", 1,
         "pelta: standard output is the plan on standard input; write to another file", nullptr},
        {"a bad FRAME line in a file with parameters", "{P} analyze -q bad.y4m", 1,
         "pelta analyze: bad Y4M frame header at frame 500 (expected FRAME)", nullptr},
        {"analyze's standard output gone",
         "mkfifo gone && exec 3<>gone 4>gone 3<&- && rm gone && {P} analyze -q in.y4m >&4", 141, "", nullptr},
        {"analyze --json's standard output gone",
         "mkfifo gone && exec 3<>gone 4>gone 3<&- && rm gone && {P} analyze -q --json in.y4m >&4", 141, "", nullptr},
        {"analyze <(...)", "bash -c \"{P} analyze -q --json <(cat in.y4m)\"", 0, "", from_pipe},
        {"analyze a named pipe",
         "mkfifo fifo && { cat in.y4m > fifo & } && {P} analyze -q --json fifo; s=$?; rm fifo; exit $s", 0, "",
         from_pipe},
        {"analyze /dev/stdin fed by a pipe", "cat in.y4m | {P} analyze -q --json /dev/stdin", 0, "", from_pipe},
        {"--auto <(...)", "bash -c \"{P} -q --auto --force <(cat in.y4m) out.y4m\"", 0, "", auto_from_pipe},
        {"--auto from a named pipe",
         "mkfifo fifo && { cat in.y4m > fifo & } && {P} -q --auto --force fifo out.y4m; s=$?; rm fifo; exit $s", 0,
         "", auto_from_pipe},
        {"--auto from /dev/stdin fed by a pipe", "cat in.y4m | {P} -q --auto --force /dev/stdin out.y4m", 0, "",
         auto_from_pipe},
        {"analyze, parameters on later FRAME lines", "{P} analyze -q --json later.y4m", 0, "",
         "cat later.y4m | {P} analyze -q --json -"},
        {"analyze, parameters found only by reading", "{P} analyze -q --json middle.y4m", 0, "",
         "cat middle.y4m | {P} analyze -q --json -"},
        {"--plan by the analysis of such a file",
         "{P} analyze -q --json later.y4m > plan.json && {P} -q --plan plan.json later.y4m out.y4m", 0, "",
         "cat later.y4m | {P} analyze -q --json - > plan.json && cat later.y4m | {P} -q --plan plan.json - out.y4m"},
        {"--auto on such a file", "{P} -q --auto --force later.y4m out.y4m", 0, "",
         "cat later.y4m | {P} analyze -q --json - > plan.json && {P} -q --plan plan.json later.y4m out.y4m"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.status == 1) {
            expect_refused(dir, command(c.command), 1, c.message);
            continue;
        }
        const std::map<std::string, std::string> before = contents(dir);
        const RunResult r = run_shell(dir.path(), command(c.command));
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status == 141) {
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(contents(dir) == before) << "a file was changed, made or left behind";
            continue;
        }
        const std::string out = file_exists(dir / "out.y4m") ? read_file(dir / "out.y4m") : "";
        ASSERT_EQ(run_shell(dir.path(), "rm -f out.y4m plan.json").status, 0);
        const RunResult want = run_shell(dir.path(), command(c.same_as));
        EXPECT_EQ(want.status, 0) << want.err;
        EXPECT_NE(r.out + out, "");
        EXPECT_TRUE(r.out == want.out) << r.out << "\nwhere " << c.same_as << " gives\n" << want.out;
        EXPECT_TRUE(out == (file_exists(dir / "out.y4m") ? read_file(dir / "out.y4m") : ""))
            << "out.y4m differs from that of " << c.same_as;
        ASSERT_EQ(run_shell(dir.path(), "rm -f out.y4m plan.json").status, 0);
        EXPECT_TRUE(contents(dir) == before) << "a file was changed, made or left behind";
    }

    // ffmpeg reads the files with parameters as 600 frames, and so does the
    // analysis.
    if (run_shell(dir.path(), "command -v ffprobe").status != 0) GTEST_SKIP() << "ffprobe is not installed";
    for (const char* name : {"later.y4m", "middle.y4m"}) {
        SCOPED_TRACE(name);
        const RunResult probe = run_shell(
            dir.path(), std::string("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 ") +
                            name);
        EXPECT_EQ(probe.out, "600\n") << probe.err;
        EXPECT_EQ(span_of(run_shell(dir.path(), command(std::string("{P} analyze -q --json ") + name)).out), 600);
    }
}
