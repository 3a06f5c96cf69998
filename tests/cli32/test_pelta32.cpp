// pelta32 end to end: the shipped pelta.auf run through --plugin must give the
// native 64-bit pelta's output and log byte for byte, as must pelta32's own
// 32-bit build of the filter, run as this machine runs it (directly where the
// kernel can, else under qemu-i386-static; run32 in cli_test_util.h) and
// under qemu-i386-static on an SSE2-only CPU (so the DLL's SSE2 path runs,
// and its AVX2 path where this CPU has AVX2); bad plug-in files are reported
// as bad input; scripts/pelta-dll runs the DLL either way. Every 32-bit
// program here runs through run32, so PELTA_FORCE_QEMU=1 runs the whole
// suite under the emulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cli_test_util.h"
#include "convert/convert.h"

using namespace cli_test;
using pelta::TRACK_COUNT;
using pelta::TRACK_STRIPE;

namespace {

const std::string kPelta32 = PELTA32_BIN;
const std::string kAuf = PELTA_AUF_PATH;
const std::string kBadPlugins = PELTA_BAD_PLUGINS_DIR;

// ---------------------------------------------------------------------------
// Clips

struct ClipCase {
    const char* name;
    int w, h, frames;
    const char* chroma;     // Y4M chroma tag, or nullptr for raw frames
    const char* interlace;  // Y4M interlace tag
};

const ClipCase kClips[] = {
    {"4:2:0 jpeg, top field first", 96, 72, 12, "420jpeg", "It"},
    {"4:2:2, bottom field first, odd height", 80, 51, 10, "422", "Ib"},
    {"raw, odd height", 72, 41, 9, nullptr, nullptr},
    {"4:2:0 mpeg2, bottom first, default window inside", 400, 64, 6, "420mpeg2", "Ib"},
};

pelta_cli::Chroma chroma_of(const std::string& tag) {
    using pelta_cli::Chroma;
    for (Chroma c : {Chroma::C444, Chroma::C422, Chroma::C420jpeg, Chroma::C420mpeg2, Chroma::C420paldv,
                     Chroma::C420, Chroma::Mono})
        if (tag == pelta_cli::chroma_tag(c)) return c;
    ADD_FAILURE() << "no chroma " << tag;
    return Chroma::C444;
}

// Writes the clip as the test's input file; answers the format arguments.
std::string write_clip(const ClipCase& c, const std::string& path) {
    const Clip clip = field_shifted_clip(c.w, c.h, c.frames, 3);
    if (!c.chroma) {
        write_file(path, raw_bytes(clip));
        return "--raw " + std::to_string(c.w) + "x" + std::to_string(c.h);
    }
    const pelta_cli::Chroma chroma = chroma_of(c.chroma);
    Y4mClip y4m;
    y4m.header = "W" + std::to_string(c.w) + " H" + std::to_string(c.h) + " F30000:1001 " + c.interlace +
                 " A1:1 C" + c.chroma;
    for (const Frame& f : clip.frames) {
        std::string planes(pelta_cli::plane_sizes(chroma, c.w, c.h).frame(), '\0');
        pelta_cli::yc_to_planes(f.data(), c.w, c.w, c.h, chroma, reinterpret_cast<uint8_t*>(planes.data()));
        y4m.frames.push_back(planes);
    }
    write_file(path, y4m_bytes(y4m));
    return "";
}

// The defaults, and settings that between them turn on every stage: a
// fractional shift with C/Y and the low-pass forced, a whole-line shift with
// MONO and other thresholds and weights, the range display; and a plan
// (kPlan), whose settings change between segments through the filter's
// settings-change handler.
const struct {
    const char* name;
    const char* args;
} kSettings[] = {
    {"defaults", ""},
    {"fractional shift, C/Y, low-pass forced", "--left 16 --width 40 --shift 5 --stripe 0 --cy 1 --freq 655 --phase 37"},
    {"whole-line shift, MONO, thresholds", "--left 8 --width 30 --shift 16 --mono 1 --th-y 10 --th-c 5 --high 8 --mid 0"},
    {"range display", "--left 10 --width 20 --range 1"},
    {"a plan: segments with their own settings, frames passed through", "--stripe 4 --plan plan.json"},
};

// Frames 0 and 1 field-matched, 2 passed, 3 and 4 with a window, the rest
// passed (every clip above has 6 frames or more).
const char kPlan[] = R"({"segments": [
  {"start": 0, "frames": 2, "kind": "match", "tff": 0, "left": 0, "width": 0, "shift": 0},
  {"start": 2, "frames": 1, "kind": "progressive"},
  {"start": 3, "frames": 2, "kind": "window", "tff": 1, "left": 16, "width": 40, "shift": 5, "lpf": 0}]})";

struct Runner {
    const char* name;
    std::string command;  // pelta's arguments follow
};

std::vector<Runner> runners() {
    const std::string plugin = " --plugin " + quote(kAuf);
    const std::string qemu32 = run32(kPelta32, "qemu32");
    return {
        {"pelta32", run32(kPelta32)},
        {"pelta32 --plugin pelta.auf", run32(kPelta32) + plugin},
        {"qemu32: pelta32", qemu32},
        {"qemu32: pelta32 --plugin pelta.auf", qemu32 + plugin},
    };
}

TEST(Pelta32, PluginAndOwnBuildMatchNativePeltaByteForByte) {
    std::printf("note: pelta32 runs %s\n", run32_native(kPelta32) ? "directly" : "under qemu-i386-static");
    ScratchDir dir;
    write_file(dir / "plan.json", kPlan);
    int compared = 0;
    for (const ClipCase& c : kClips) {
        SCOPED_TRACE(c.name);
        const std::string format = write_clip(c, dir / "in");
        for (const auto& s : kSettings) {
            SCOPED_TRACE(s.name);
            const std::string args = format + " " + s.args + " --quiet --log ";
            const RunResult ref = run_pelta(dir.path(), args + "ref.csv in ref.out");
            ASSERT_EQ(ref.status, 0) << ref.err;
            const std::string want = read_file(dir / "ref.out"), want_log = read_file(dir / "ref.csv");
            ASSERT_EQ(std::count(want_log.begin(), want_log.end(), '\n'), c.frames + 1);
            for (const Runner& r : runners()) {
                SCOPED_TRACE(r.name);
                const RunResult got = run_shell(dir.path(), r.command + " " + args + "got.csv in got.out");
                ASSERT_EQ(got.status, 0) << got.err;
                EXPECT_TRUE(read_file(dir / "got.out") == want) << "output differs from native pelta's";
                EXPECT_EQ(read_file(dir / "got.csv"), want_log);
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, static_cast<int>(std::size(kClips) * std::size(kSettings) * runners().size()));
}

// A plan nested 100000 levels deep, and a plan followed by a NUL byte and
// junk, are refused by every 32-bit route as by the native pelta: the same
// one line, status 1, no output. (The plan is read by code they share; the
// deep one crashed the 32-bit builds, whose stacks are smaller.)
TEST(Pelta32, RefusesADeepPlanAndTrailingJunkAsNativePeltaDoes) {
    ScratchDir dir;
    write_clip(kClips[0], dir / "in.y4m");
    const std::string plan =
        R"({"segments": [{"start": 0, "frames": 4, "kind": "match", "tff": 1, "left": 0, "width": 0, "shift": 0}]})";
    write_file(dir / "deep.json", "{\"segments\": " + std::string(100000, '[') + std::string(100000, ']') + "}");
    write_file(dir / "zero.json", plan + std::string(1, '\0') + "junk");
    const std::vector<std::string> before = dir.list();
    for (const char* name : {"deep.json", "zero.json"}) {
        SCOPED_TRACE(name);
        const std::string args = std::string(" --plan ") + name + " in.y4m out.y4m";
        const RunResult want = run_pelta(dir.path(), args);
        EXPECT_EQ(want.status, 1);
        EXPECT_EQ(std::count(want.err.begin(), want.err.end(), '\n'), 1) << want.err;
        for (const Runner& r : runners()) {
            SCOPED_TRACE(r.name);
            const RunResult got = run_shell(dir.path(), r.command + args);
            EXPECT_EQ(got.status, 1);
            EXPECT_EQ(got.err, want.err);
            EXPECT_EQ(dir.list(), before) << "an output or temporary file was left";
        }
    }
}

// ---------------------------------------------------------------------------
// Bad plug-in files

uint32_t get32(const std::string& b, size_t off) {
    uint32_t v = 0;
    if (off + 4 <= b.size()) std::memcpy(&v, b.data() + off, 4);
    return v;
}
uint16_t get16(const std::string& b, size_t off) {
    uint16_t v = 0;
    if (off + 2 <= b.size()) std::memcpy(&v, b.data() + off, 2);
    return v;
}
void put16(std::string& b, size_t off, uint16_t v) { std::memcpy(b.data() + off, &v, 2); }

// Byte offsets in pelta.auf: the COFF header and the file offset of an RVA.
size_t coff_header(const std::string& pe) { return get32(pe, 0x3C) + 4; }
size_t file_offset(const std::string& pe, uint32_t rva) {
    const size_t coff = coff_header(pe), sections = coff + 20 + get16(pe, coff + 16);
    for (int i = 0; i < get16(pe, coff + 2); ++i) {
        const size_t s = sections + 40 * i;
        const uint32_t va = get32(pe, s + 12), raw = get32(pe, s + 16), ptr = get32(pe, s + 20);
        if (rva >= va && rva < va + raw) return ptr + (rva - va);
    }
    ADD_FAILURE() << "RVA " << rva << " is in no section";
    return 0;
}

// pelta.auf with its first HIGHLOW base relocation turned into type 10 (DIR64).
std::string with_foreign_relocation(std::string pe) {
    const uint32_t dir = get32(pe, coff_header(pe) + 20 + 96 + 8 * 5);
    const size_t first_entry = file_offset(pe, dir) + 8;
    EXPECT_EQ(get16(pe, first_entry) >> 12, 3);
    put16(pe, first_entry, static_cast<uint16_t>((get16(pe, first_entry) & 0x0FFF) | 0xA000));
    return pe;
}

std::string with_machine(std::string pe, uint16_t machine) {
    put16(pe, coff_header(pe), machine);
    return pe;
}

TEST(Pelta32, BadPluginFilesAreReportedInOneLineAndLeaveNoOutput) {
    const std::string auf = read_file(kAuf);
    ASSERT_GT(auf.size(), 4096u);
    const std::string bad = kBadPlugins + "/";
    const struct {
        const char* name;
        std::string bytes;     // written as the plug-in file, unless `path` is given
        std::string path;      // an existing file to load instead
        const char* expected;  // in the message
    } cases[] = {
        {"text file", "not a DLL\n", "", "is not a PE file (no MZ header)"},
        {"empty file", "", "", "is not a PE file"},
        {"truncated in the headers", auf.substr(0, 200), "", "is truncated"},
        {"truncated in a section", auf.substr(0, auf.size() / 2), "", "is truncated"},
        {"x86-64 image", with_machine(auf, 0x8664), "", "not a 32-bit x86 (i386) image (machine type 0x8664)"},
        {"unsupported relocation", with_foreign_relocation(auf), "", "base relocation of type 10"},
        {"no GetFilterTable export (mingw-built DLL)", "", bad + "no_export.auf", "exports no function named GetFilterTable"},
        {"import without a stand-in (mingw-built DLL)", "", bad + "unknown_import.auf", "imports kernel32.dll!Sleep"},
        {"another filter's descriptor (mingw-built DLL)", "", bad + "foreign_filter.auf", "describes 3 track bars"},
        {"fault in the plug-in's code (mingw-built DLL)", "", bad + "crashing_filter.auf",
         "Segmentation fault during the run, in the plug-in's code at RVA"},
        {"missing file", "", "/nonexistent/pelta.auf", "cannot be read: No such file or directory"},
        {"directory", "", "/", "is a directory"},
    };
    ScratchDir dir;
    write_clip(kClips[0], dir / "in.y4m");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = c.path;
        if (path.empty()) {
            path = dir / "plugin.auf";
            write_file(path, c.bytes);
        }
        const std::vector<std::string> before = dir.list();
        const RunResult r = run_shell(dir.path(), run32(kPelta32) + " --plugin " + quote(path) +
                                                      " --log out.csv in.y4m out.y4m");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.back(), '\n');
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        if (!std::strstr(c.expected, "Segmentation")) {
            EXPECT_EQ(r.err.rfind("pelta: plug-in '" + path + "' ", 0), 0u) << r.err;
        }
        EXPECT_EQ(dir.list(), before) << "an output or temporary file was left";
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(Pelta32, SixtyFourBitPeltaRefusesPluginsAsAUsageError) {
    ScratchDir dir;
    const RunResult r = run_pelta(dir.path(), "--plugin " + quote(kAuf) + " in.y4m out.y4m");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--plugin needs pelta32"), std::string::npos) << r.err;
}

// ---------------------------------------------------------------------------
// The controls come from the plug-in's descriptor

// pelta.auf with the default of one track bar changed in its descriptor.
std::string with_track_default(std::string pe, int index, int value) {
    const int defaults[TRACK_COUNT] = {320, 320, 0, 50, 70, 3, 1, 16, 704, 0};
    const std::string pattern(reinterpret_cast<const char*>(defaults), sizeof defaults);
    const size_t at = pe.find(pattern);
    EXPECT_NE(at, std::string::npos) << "the track defaults are not in pelta.auf";
    EXPECT_EQ(pe.find(pattern, at + 1), std::string::npos) << "the track defaults appear twice";
    if (at == std::string::npos) return pe;
    std::memcpy(pe.data() + at + sizeof(int) * index, &value, sizeof value);
    return pe;
}

std::string help_line(const std::string& help, const std::string& option) {
    const size_t at = help.find("\n  " + option + " ");
    if (at == std::string::npos) return "";
    return help.substr(at + 1, help.find('\n', at + 1) - at - 1);
}

TEST(Pelta32, ControlsAndHelpComeFromThePluginsDescriptor) {
    ScratchDir dir;
    write_file(dir / "patched.auf", with_track_default(read_file(kAuf), TRACK_STRIPE, 0));
    write_clip(kClips[0], dir / "in.y4m");

    const std::string pelta32 = run32(kPelta32);
    const RunResult own = run_shell(dir.path(), pelta32 + " --help");
    const RunResult shipped = run_shell(dir.path(), pelta32 + " --plugin " + quote(kAuf) + " --help");
    const RunResult patched = run_shell(dir.path(), pelta32 + " --plugin patched.auf --help");
    ASSERT_EQ(own.status, 0);
    ASSERT_EQ(shipped.status, 0);
    ASSERT_EQ(patched.status, 0);
    EXPECT_EQ(shipped.out, own.out);
    EXPECT_EQ(own.out.rfind("Usage: pelta32 [OPTIONS] INPUT OUTPUT\n", 0), 0u) << own.out;
    EXPECT_NE(help_line(own.out, "--plugin FILE"), "");
    EXPECT_NE(help_line(own.out, "--stripe N").find("default 16"), std::string::npos) << own.out;
    EXPECT_NE(help_line(patched.out, "--stripe N").find("default 0"), std::string::npos) << patched.out;

    // Run with its own default, the patched plug-in filters as the native
    // build does when told --stripe 0.
    ASSERT_EQ(run_pelta(dir.path(), "--quiet --stripe 0 --log ref.csv in.y4m ref.y4m").status, 0);
    const RunResult r = run_shell(dir.path(), pelta32 + " --quiet --plugin patched.auf --log got.csv in.y4m got.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(dir / "got.y4m") == read_file(dir / "ref.y4m"));
    EXPECT_EQ(read_file(dir / "got.csv"), read_file(dir / "ref.csv"));
    ASSERT_EQ(run_pelta(dir.path(), "--quiet in.y4m default.y4m").status, 0);
    EXPECT_FALSE(read_file(dir / "default.y4m") == read_file(dir / "ref.y4m"))
        << "the clip does not tell --stripe 0 from the default";
}

// ---------------------------------------------------------------------------
// scripts/pelta-dll

TEST(Pelta32, WrapperRunsTheShippedDllDirectlyOrEmulated) {
    ScratchDir dir;
    write_clip(kClips[1], dir / "in.y4m");
    ASSERT_EQ(run_pelta(dir.path(), "--quiet --log ref.csv in.y4m ref.y4m").status, 0);
    const RunResult analysis = run_pelta(dir.path(), "analyse -q --json in.y4m");
    ASSERT_EQ(analysis.status, 0) << analysis.err;
    const std::string wrapper =
        "PELTA_BUILD_DIR=" + quote(PELTA_BUILD_DIR) + " " + quote(source_dir() + "/scripts/pelta-dll");
    for (const std::string how : {"", "PELTA_FORCE_QEMU=1 QEMU_CPU=qemu32 ", "PELTA_DLL_EMULATE=1 "}) {
        SCOPED_TRACE(how.empty() ? "as this machine runs pelta32" : how);
        const RunResult r = run_shell(dir.path(), how + wrapper + " --quiet --log got.csv in.y4m got.y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(read_file(dir / "got.y4m") == read_file(dir / "ref.y4m"));
        EXPECT_EQ(read_file(dir / "got.csv"), read_file(dir / "ref.csv"));
        // The subcommand, with --plugin after it.
        const RunResult a = run_shell(dir.path(), how + wrapper + " analyse -q --json in.y4m");
        EXPECT_EQ(a.status, 0) << a.err;
        EXPECT_EQ(a.out, analysis.out);
    }
    const RunResult missing = run_shell(dir.path(), "PELTA_BUILD_DIR=/nonexistent PELTA32= PELTA_AUF= " +
                                                        quote(source_dir() + "/scripts/pelta-dll") + " in.y4m x.y4m");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("pelta-dll: no pelta32"), std::string::npos) << missing.err;
}

}  // namespace
