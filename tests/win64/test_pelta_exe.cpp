// pelta.exe under Wine against the native pelta. One shell command runs in
// two copies of the same directory, once with each program as {P}: both must
// leave the same files with the same bytes, write the same bytes on standard
// output and standard error (the summary's timing aside) and end with the
// same status. Then what only Windows has: other spellings of a file's name,
// Ctrl+C, the NUL device and a console's progress line.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace cli_test;

namespace {

// pelta.exe as a shell command: through run_wine.sh, in the build's prefix.
std::string pelta_exe() {
    return quote(PELTA_RUN_WINE) + " " + quote(PELTA_WINE64) + " " + quote(PELTA_WINE_PREFIX) + " " +
           quote(PELTA_EXE_PATH);
}

std::string with_program(std::string command, const std::string& program) {
    for (size_t at; (at = command.find("{P}")) != std::string::npos;) command.replace(at, 3, program);
    return command;
}

// The summary's measured times and rate.
std::string without_timing(const std::string& err) {
    static const std::regex timing(R"([0-9]+\.[0-9]+ (s|fps)\b)");
    return std::regex_replace(err, timing, "N $1");
}

// What one run left: its result and every file in its directory.
struct Outcome {
    RunResult run;
    std::vector<std::string> names;
    std::vector<std::string> contents;
};

Outcome run_in_copy(const ScratchDir& inputs, const std::string& command) {
    ScratchDir dir;
    EXPECT_EQ(run_shell(dir.path(), "cp -R " + quote(inputs.path()) + "/. .").status, 0);
    Outcome o;
    o.run = run_shell(dir.path(), command);
    o.run.err = without_timing(o.run.err);
    o.names = dir.list();
    for (const std::string& name : o.names) o.contents.push_back(read_file(dir / name));
    return o;
}

// Interlaced 4:2:0 material wide enough for the default window (columns 320
// to 639), and long enough that a pipe's reader can leave part way.
const int kW = 416, kH = 48, kFrames = 40;

void write_inputs(const ScratchDir& dir) {
    const Y4mClip clip{"W416 H48 F30000:1001 It A1:1 C420jpeg", field_shifted_planes(kW, kH, kFrames)};
    write_file(dir / "in.y4m", y4m_bytes(clip));
    write_file(dir / "入力 ファイル.y4m", y4m_bytes(clip));
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(64, 32, 10)));
    write_file(dir / "plan.json", R"({"segments": [{"start": 0, "frames": 10, "kind": "match", "tff": 1, "left": 0,
        "width": 0, "shift": 0}, {"start": 10, "frames": 10, "kind": "interlaced"}, {"start": 20, "frames": 10,
        "kind": "window", "tff": 0, "left": 100, "width": 64, "shift": 24, "lpf": 0}]})");
    write_file(dir / "beyond.json", R"({"segments": [{"start": 30, "frames": 11, "kind": "still"}]})");
    // Nested deeper than the 1 MB stack of Windows' main thread could
    // recurse, and a plan followed by a NUL byte and junk (not named nul.*:
    // Windows takes that for the null device).
    write_file(dir / "deep.json", "{\"segments\": " + std::string(100000, '[') + std::string(100000, ']') + "}");
    write_file(dir / "zero.json", R"({"segments": [{"start": 0, "frames": 5, "kind": "still"}]})" + std::string(1, '\0') +
                                     "junk");
}

struct SameCase {
    const char* name;
    const char* command;
};

// To compare another behaviour, add a row.
const SameCase kSameCases[] = {
    {"defaults, with a log", "{P} in.y4m out.y4m --log log.csv"},
    {"a narrow window, other thresholds, one thread",
     "{P} --left 100 --width 64 --shift 24 --th-y 30 --th-c 40 --tff 0 --threads 1 in.y4m out.y4m --log log.csv"},
    {"saving, 4:4:4 at 10 bits", "{P} --saving --lpf 0 --out-chroma 444 --out-depth 10 in.y4m out.y4m"},
    {"range display, raw frames", "{P} --raw 64x32 --left 8 --width 40 --range 1 in.raw out.raw"},
    {"- to -, through pipes", "cat in.y4m | {P} --left 100 --width 64 - - | cat > out.y4m"},
    {"a Japanese file name with a space", "{P} '入力 ファイル.y4m' '出力 ファイル.y4m'"},
    {"analyze --json from a pipe", "cat in.y4m | {P} analyze --json --frames 30 - > analysis.json"},
    {"analyze --report", "{P} analyze --frames 30 --report page.html in.y4m"},
    {"--auto from a pipe", "cat in.y4m | {P} --auto --force - out.y4m"},
    {"--plan from a pipe, with a log", "cat in.y4m | {P} --plan plan.json - out.y4m --log log.csv"},
    {"the reader leaves early", "{ {P} in.y4m - 2>err; echo $? >status; } | head -c 100 >/dev/null"},
    {"error: the output is the input", "{P} in.y4m in.y4m"},
    {"error: the log is the output, named another way", "{P} --log out.y4m in.y4m ./out.y4m"},
    {"error: an unknown option", "{P} --bogus in.y4m out.y4m"},
    {"error: a plan beyond the input's end", "{P} --plan beyond.json in.y4m out.y4m"},
    {"error: a plan nested 100000 levels deep", "{P} --plan deep.json in.y4m out.y4m"},
    {"error: a plan followed by a NUL byte and junk", "{P} --plan zero.json in.y4m out.y4m"},
    {"error: a missing input", "{P} nosuch.y4m out.y4m"},
};

}  // namespace

TEST(PeltaExe, DoesWhatTheNativePeltaDoes) {
    ScratchDir inputs;
    write_inputs(inputs);
    const std::string native = quote(pelta_bin());
    for (const SameCase& c : kSameCases) {
        SCOPED_TRACE(c.name);
        const Outcome want = run_in_copy(inputs, with_program(c.command, native));
        const Outcome got = run_in_copy(inputs, with_program(c.command, pelta_exe()));
        EXPECT_EQ(got.run.status, want.run.status) << "stderr: " << got.run.err;
        EXPECT_EQ(got.run.err, want.run.err);
        EXPECT_TRUE(got.run.out == want.run.out) << "standard output differs";
        ASSERT_EQ(got.names, want.names);
        for (size_t i = 0; i < got.names.size(); ++i)
            EXPECT_TRUE(got.contents[i] == want.contents[i]) << got.names[i] << " differs";
    }
}

// The identity of the file, not its name, tells: a name in other letter case,
// with backslashes or as a full path, is still the input, for every output
// (--auto's and analyze's too), and so is standard input or output
// redirected from or onto it; and a log and an output not there yet are one
// file when their names differ in case only.
TEST(PeltaExe, KnowsAFileUnderAnotherName) {
    ScratchDir dir;
    write_inputs(dir);
    const std::vector<std::string> before = dir.list();
    std::string full = "Z:" + dir.path() + "\\IN.y4m";  // Wine's Z: is the Unix root
    for (char& c : full)
        if (c == '/') c = '\\';
    const struct {
        std::string args, message;
    } cases[] = {
        {"in.y4m '.\\IN.Y4M'", "pelta: '.\\IN.Y4M' is the input file; write to another file"},
        {"in.y4m " + quote(full), "pelta: '" + full + "' is the input file; write to another file"},
        {"--log '.\\In.Y4m' in.y4m out.y4m", "pelta: '.\\In.Y4m' is the input file; write to another file"},
        {"--log OUT.Y4M in.y4m out.y4m",
         "pelta: --log 'OUT.Y4M' and OUTPUT 'out.y4m' are the same file; write them to different files"},
        {"--auto --force --log IN.Y4M in.y4m out.y4m", "pelta: 'IN.Y4M' is the input file; write to another file"},
        {"analyze -q --report IN.Y4M in.y4m", "pelta analyze: 'IN.Y4M' is the input file; write to another file"},
        {"analyze -q --report '.\\In.y4M' - < in.y4m",
         "pelta analyze: '.\\In.y4M' is the input file; write to another file"},
        {"analyze -q in.y4m >> in.y4m", "pelta analyze: standard output is the input file; write to another file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run_shell(dir.path(), pelta_exe() + " " + c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message + "\n");
        EXPECT_EQ(dir.list(), before);
    }
}

// The commands of the Japanese README's section for cmd.exe, in Wine's
// cmd.exe: pelta.exe into pelta.exe through its pipe (which Wine's cmd.exe
// makes with a temporary file, not a Windows pipe) gives the native result.
TEST(PeltaExe, RunsInCmdExe) {
    ScratchDir dir;
    write_inputs(dir);
    std::string exe = std::string("Z:") + PELTA_EXE_PATH;
    for (char& c : exe)
        if (c == '/') c = '\\';
    const std::string stages = " --left 100 --width 64 in.y4m - | {P} --quiet --threads 1 - out.y4m";
    const RunResult want = run_shell(dir.path(), with_program("{P}" + stages, quote(pelta_bin())));
    ASSERT_EQ(want.status, 0) << want.err;
    const std::string expected = read_file(dir / "out.y4m");
    const RunResult r = run_shell(dir.path(), quote(PELTA_RUN_WINE) + " " + quote(PELTA_WINE64) + " " +
                                                  quote(PELTA_WINE_PREFIX) + " cmd /c " +
                                                  quote(with_program(exe + stages, exe)));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(without_timing(r.err), without_timing(want.err));
    EXPECT_TRUE(read_file(dir / "out.y4m") == expected) << "out.y4m differs";
}

// Ctrl+C (Wine turns SIGINT into the console's Ctrl+C event) while the input
// stalls: the temporary output and log go, and the process ends with
// STATUS_CONTROL_C_EXIT (0xC000013A; a Unix parent sees its low byte, 58).
TEST(PeltaExe, CtrlCLeavesNothing) {
    ScratchDir dir, fifo_dir;
    const std::string fifo = fifo_dir / "input";
    ASSERT_EQ(run_shell(fifo_dir.path(), "mkfifo input").status, 0);
    const std::string script =
        pelta_exe() + " --raw 8x4 --left 0 --log log.csv - out.raw <" + quote(fifo) + " & pid=$!\n"
        "exec 3>" + quote(fifo) + "\n"
        "head -c 384 /dev/zero >&3\n"
        "i=0; while [ $i -lt 2400 ] && [ $(ls | grep -c pelta-tmp) -lt 2 ]; do sleep 0.05; i=$((i+1)); done\n"
        "ls | grep -c pelta-tmp\n"
        "kill -INT $pid; wait $pid; echo status $?\n"
        "exec 3>&-";
    const RunResult r = run_shell(dir.path(), script);
    EXPECT_EQ(r.out, "2\nstatus 58\n") << r.err;
    EXPECT_TRUE(dir.list().empty()) << dir.list().front();
}

// NUL is a device: written to directly, with no temporary file beside it.
TEST(PeltaExe, WritesToTheNulDevice) {
    ScratchDir dir;
    write_inputs(dir);
    const std::vector<std::string> before = dir.list();
    for (const char* name : {"NUL", "nul"}) {
        SCOPED_TRACE(name);
        const RunResult r = run_shell(dir.path(), pelta_exe() + " --quiet in.y4m " + name);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(dir.list(), before);
    }
}

// On a console (Wine makes one on script(1)'s pseudo-terminal) the progress
// line appears; elsewhere it does not (the comparison above covers that).
// Video is not written onto the console, named either way.
TEST(PeltaExe, ShowsProgressOnAConsoleAndWritesNoVideoThere) {
    ScratchDir dir;
    write_inputs(dir);
    const size_t inputs = dir.list().size();
    if (run_shell(dir.path(), "command -v script").status != 0) GTEST_SKIP() << "script(1) not installed";
    if (run_shell(dir.path(), "script -qec true /dev/null").status != 0)
        GTEST_SKIP() << "script(1) cannot open a pseudo-terminal here (no /dev/pts?)";
    const std::string p = pelta_exe();
    const RunResult r = run_shell(dir.path(), "script -qec " +
                                                  quote(p + " in.y4m out.y4m; echo status $?; " + p +
                                                        " in.y4m -; echo status $?; " + p +
                                                        " in.y4m CON; echo status $?") +
                                                  " /dev/null");
    // The console redraws the text with escapes of its own between the
    // characters (and cursor moves for some spaces): compare the rest.
    std::string text = std::regex_replace(r.out, std::regex("\x1b\\[[0-9;?]*[A-Za-z]|\\s"), "");
    if (text.size() > 4000) text = text.substr(0, 2000) + "..." + text.substr(text.size() - 2000);
    EXPECT_NE(text.find("pelta:frame1/" + std::to_string(kFrames) + "("), std::string::npos) << text;
    EXPECT_NE(text.find("pelta:" + std::to_string(kFrames) + "framesin"), std::string::npos) << text;
    EXPECT_NE(text.find("status0pelta:standardoutputisaterminal:redirectitintoafileorapipe,ornameanoutputfilestatus2"
                        "pelta:'CON'isaterminal:nameanoutputfilestatus2"),
              std::string::npos)
        << text;
    EXPECT_EQ(dir.list().size(), inputs + 1);  // the inputs and out.y4m
}
