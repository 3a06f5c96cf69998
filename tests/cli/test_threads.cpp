// pelta --threads N: the output, the log and every way a run can end are the
// same whatever N is, reading files or pipes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace cli_test;

namespace {

constexpr int kThreadCounts[] = {1, 2, 3};

std::string threads(int n) { return "--threads " + std::to_string(n) + " "; }

std::string y4m_clip(int frames) {
    Y4mClip c;
    c.header = "W90 H46 F30000:1001 It C420jpeg";
    c.frames = field_shifted_planes(90, 46, frames);
    return y4m_bytes(c);
}

// The clip with frame `at` announcing itself wrongly ("FRAMX").
std::string y4m_with_bad_frame_header(int frames, int at) {
    std::string s = y4m_clip(frames);
    const size_t frame_bytes = 6 + 90 * 46 * 3 / 2;
    s.replace(s.find('\n') + 1 + static_cast<size_t>(at) * frame_bytes, 5, "FRAMX");
    return s;
}

// The same run, one way for each thread count: the files it leaves and what
// it prints.
struct Outcome {
    int status;
    std::string err, out, output, log;
    std::vector<std::string> files;
};

Outcome outcome(const ScratchDir& dir, const RunResult& r) {
    Outcome o{r.status, r.err, r.out, "", "", dir.list()};
    if (file_exists(dir / "out")) o.output = read_file(dir / "out");
    if (file_exists(dir / "log.csv")) o.log = read_file(dir / "log.csv");
    return o;
}

void expect_same(const Outcome& a, const Outcome& b, int n) {
    EXPECT_EQ(b.status, a.status) << "threads " << n;
    EXPECT_EQ(b.err, a.err) << "threads " << n;
    EXPECT_EQ(b.out, a.out) << "threads " << n;
    EXPECT_TRUE(b.output == a.output) << "threads " << n << ": the output differs";
    EXPECT_EQ(b.log, a.log) << "threads " << n;
    EXPECT_EQ(b.files, a.files) << "threads " << n;
}

}  // namespace

// Complete runs, successful and failing, from a file and through pipes: the
// output, the log, standard error and the exit status do not depend on N.
TEST(CliThreads, EveryRunEndsTheSameForEveryThreadCount) {
    const std::string y4m = y4m_clip(31);
    const std::string bad_header = y4m_with_bad_frame_header(31, 12);
    const std::string raw = raw_bytes(field_shifted_clip(100, 48, 40));
    struct Case {
        const char* name;
        std::string input;
        std::string command;  // %P is the pelta command with --threads
    };
    const Case cases[] = {
        {"y4m file", y4m, "%P --log log.csv in out"},
        {"y4m pipes", y4m, "cat in | %P --log log.csv - - > out"},
        {"y4m stdin, low-pass and every stage", y4m,
         "%P --cy 1 --shift 7 --stripe 0 --log log.csv - out < in"},
        {"raw file", raw, "%P --raw 100x48 --left 30 --width 20 --log log.csv in out"},
        {"raw pipe, saving", raw, "cat in | %P --raw 100x48 --saving - out"},
        {"one frame", y4m_clip(1), "%P --log log.csv in out"},
        {"two frames through pipes", y4m_clip(2), "cat in | %P --log log.csv - - | cat > out"},
        {"truncated last frame", y4m.substr(0, y4m.size() - 100), "%P --log log.csv in out"},
        {"truncated last frame on a pipe", y4m.substr(0, y4m.size() - 100),
         "cat in | %P --log log.csv - out"},
        {"bad frame header mid-stream", bad_header, "%P --log log.csv in out"},
        {"truncated raw on a pipe", raw.substr(0, raw.size() - 1000), "cat in | %P --raw 100x48 - out"},
        {"full disk", raw, "%P --raw 100x48 --log log.csv in /dev/full"},
        {"full disk on standard output", raw, "%P --raw 100x48 in - > /dev/full"},
        {"full log", y4m, "%P --log /dev/full in out"},
        {"file size limit", raw, "ulimit -f 64 && %P --raw 100x48 --log log.csv in out"},
        {"strict", raw, "%P --raw 100x48 --strict --log log.csv in out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Outcome> got;
        for (int n : kThreadCounts) {
            ScratchDir dir;
            write_file(dir / "in", c.input);
            std::string cmd = c.command;
            cmd.replace(cmd.find("%P"), 2, "'" + pelta_bin() + "' --quiet " + threads(n));
            got.push_back(outcome(dir, run_shell(dir.path(), cmd)));
        }
        for (size_t i = 1; i < got.size(); ++i) expect_same(got[0], got[i], kThreadCounts[i]);
    }
}

// The failing cases above do fail, with one line and no file left.
TEST(CliThreads, FailuresLeaveOneLineAndNoFile) {
    const std::string raw = raw_bytes(field_shifted_clip(100, 48, 40));
    const std::string bad_header = y4m_with_bad_frame_header(31, 12);
    struct Case {
        std::string input, args, message;
    };
    const Case cases[] = {
        {bad_header, "--left 20 --width 30 --log log.csv in out",
         "bad Y4M frame header at frame 12 (expected FRAME)"},
        {raw, "--raw 100x48 --left 30 --width 20 --log log.csv in /dev/full",
         "cannot write '/dev/full': No space left on device"},
        {raw, "--raw 100x48 --left 30 --width 20 --log /dev/full in out", "cannot write '/dev/full'"},
    };
    for (const Case& c : cases)
        for (int n : kThreadCounts) {
            SCOPED_TRACE(c.args + ", threads " + std::to_string(n));
            ScratchDir dir;
            write_file(dir / "in", c.input);
            const RunResult r = run_pelta(dir.path(), threads(n) + c.args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err.rfind("pelta: " + c.message, 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(dir.list(), std::vector<std::string>{"in"});
        }
}

// Runs that stop while the input stalls: a write error ends the run at once
// (the reader waiting for more input does not hold it), and a signal removes
// the temporary output and log, for every thread count.
TEST(CliThreads, StopsWhileTheInputStalls) {
    ScratchDir fifo_dir;
    const std::string fifo = fifo_dir / "input";
    ASSERT_EQ(run_shell(fifo_dir.path(), "mkfifo input").status, 0);
    // The run is started on the pipe, five frames are sent and nothing more
    // while the pipe stays open, `then` runs, and the run is waited for
    // (killed if still running after two minutes: the waits end as soon as
    // what they wait for happens, and only a run that hangs meets them).
    auto stalled = [&](const std::string& dir, const std::string& args, const std::string& bytes,
                       const std::string& then) {
        return run_shell(dir, "'" + pelta_bin() + "' " + args + " & pid=$!\n"
                              "exec 3>'" + fifo + "'\n"
                              "head -c " + bytes + " /dev/zero >&3 2>/dev/null\n" + then +
                              "i=0; while kill -0 $pid 2>/dev/null && [ $i -lt 2400 ]; do sleep 0.05; i=$((i+1)); done\n"
                              "kill -0 $pid 2>/dev/null && { echo still running; kill -KILL $pid; }\n"
                              "wait $pid; echo status $?\n"
                              "exec 3>&-");
    };
    for (int n : kThreadCounts) {
        SCOPED_TRACE("threads " + std::to_string(n));
        {
            // 64x64 frames (24576 bytes) are larger than the buffer of
            // /dev/full, so the first frame written fails.
            ScratchDir dir;
            const RunResult r =
                stalled(dir.path(), threads(n) + "--raw 64x64 --left 0 --width 8 '" + fifo + "' /dev/full", "122880", "");
            EXPECT_EQ(r.out, "status 1\n") << r.err;
            EXPECT_EQ(r.err, "pelta: cannot write '/dev/full': No space left on device\n");
            EXPECT_TRUE(dir.list().empty());
        }
        {
            // Once the temporary output and log exist, the run is stopped.
            ScratchDir dir;
            const RunResult r = stalled(
                dir.path(), threads(n) + "--raw 8x4 --log log.csv '" + fifo + "' out.raw", "960",
                "i=0; while [ $i -lt 2400 ] && [ $(ls | grep -c pelta-tmp) -lt 2 ]; do sleep 0.05; i=$((i+1)); done\n"
                "sleep 0.2; kill -TERM $pid\n");
            EXPECT_EQ(r.out, "status 143\n") << r.err;
            EXPECT_TRUE(dir.list().empty());
        }
    }
}
