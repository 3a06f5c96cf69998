// Helpers for the command-line host's tests: scratch directories, running the
// binary through the shell, writing Y4M and raw clips, synthetic interlaced
// material, and an in-memory reference host that runs the filter over a whole
// clip at once.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "abi/controls.h"
#include "abi/host_records.h"

namespace cli_test {

// Path of the pelta binary and of the source tree (set by CMake).
std::string pelta_bin();
std::string source_dir();

// A scratch directory removed at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Names of the files in the directory, sorted.
    std::vector<std::string> list() const;

private:
    std::string path_;
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// Runs `command` with /bin/sh in `dir`; stdout and stderr are captured unless
// the command redirects them itself.
RunResult run_shell(const std::string& dir, const std::string& command);
// Runs pelta with `args` (already quoted for the shell) in `dir`.
RunResult run_pelta(const std::string& dir, const std::string& args);
// A static 32-bit x86 Linux program (pelta32, the DLL harness) as the start
// of a shell command: the program itself where this kernel runs such
// programs, else the program under qemu-i386-static, as run32 in
// scripts/run32.sh has it. The kernel can when `program --help` ends with
// status 0; PELTA_FORCE_QEMU=1 in the environment takes qemu-i386-static all
// the same, so both ways can be tried on any machine. A `qemu_cpu` model
// ("qemu32": SSE2 without SSSE3 or AVX) always emulates, on that CPU. Throws
// std::runtime_error when qemu-i386-static is needed and missing.
std::string run32(const std::string& program, const std::string& qemu_cpu = "");
// Whether run32(program) runs it directly.
bool run32_native(const std::string& program);
// Whether script(1) can give a command a pseudo-terminal here.
bool can_make_terminal();
// Runs `command` on a pseudo-terminal of its own (made by script(1)) as its
// standard input, output and error; all it showed there comes back in `out`.
RunResult run_on_terminal(const std::string& dir, const std::string& command);

// Every file of the directory by name, with its bytes.
std::map<std::string, std::string> contents(const ScratchDir& dir);

// A run that must be refused: runs the shell command `command` in `dir` and
// expects its exit status, one line on standard error that starts with
// "pelta" and holds `message`, nothing on standard output, and every file
// in `dir` as it was before (no output, no temporary file).
void expect_refused(const ScratchDir& dir, const std::string& command, int status, const std::string& message);

// An argument quoted for the shell.
std::string quote(const std::string& s);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& data);
bool file_exists(const std::string& path);

// Frames of PIXEL_YC with rows exactly w pixels apart.
using Frame = std::vector<PIXEL_YC>;
struct Clip {
    int w = 0, h = 0;
    std::vector<Frame> frames;
};

bool same_frame(const Frame& a, const Frame& b);

std::string raw_bytes(const Clip& clip);
Clip parse_raw(const std::string& bytes, int w, int h);

// 8-bit Y4M pictures: planes as stored in the stream.
struct Y4mClip {
    std::string header;  // the header line, without "YUV4MPEG2 " and the newline
    std::vector<std::string> frames;
};
std::string y4m_bytes(const Y4mClip& clip);
// Splits a Y4M stream into header tags and frame payloads (frame_bytes each).
bool split_y4m(const std::string& bytes, size_t frame_bytes, Y4mClip& out);

// Moving interlaced material in the filter's own units. Each frame's two
// fields come from pictures one frame apart, the late field changing every
// `segment` frames (bottom late, top late, bottom late, ...); some stretches
// are still, and some have both fields from the same picture (a weave the
// filter's candidates cannot rebuild, so it scores further candidates and
// low-passes).
Clip field_shifted_clip(int w, int h, int frames, int segment = 7);
// The same material as 8-bit 4:2:0 planes (chroma rows by field parity).
std::vector<std::string> field_shifted_planes(int w, int h, int frames);

// Runs the filter over the whole clip on the in-memory host
// (native/memory_host.h) with the clip's true length as frame_n, edge
// replication for frames outside it, and rows `stride` pixels apart. Returns each frame's output (w pixels a row) and the title it
// set, or "" when it set none; a failed frame gives its input and "FAILED".
struct ReferenceRun {
    std::vector<Frame> frames;
    std::vector<std::string> titles;
};
ReferenceRun run_reference(const Clip& clip, const int track[pelta::TRACK_COUNT], const int check[pelta::CHECK_COUNT],
                           bool saving = false, int stride = 0);

// The descriptor's defaults.
void default_settings(int track[pelta::TRACK_COUNT], int check[pelta::CHECK_COUNT]);

}  // namespace cli_test
