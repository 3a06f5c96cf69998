#include "cli_test_util.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "native/memory_host.h"
#include "native/platform_native.h"
#include "plugin/descriptor.h"

using namespace pelta;

namespace cli_test {

std::string pelta_bin() { return PELTA_BIN; }
std::string source_dir() { return PELTA_SOURCE_DIR; }

namespace {

std::string make_temp_dir(const char* prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    return buf.data();
}

}  // namespace

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

ScratchDir::ScratchDir() : path_(make_temp_dir("pelta-cli-")) {}

ScratchDir::~ScratchDir() {
    std::string cmd = "rm -rf " + quote(path_);
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path_.c_str());
}

std::vector<std::string> ScratchDir::list() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(path_.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

RunResult run_shell(const std::string& dir, const std::string& command) {
    // Captures go to a directory of their own, so they never show up among
    // the files a test inspects.
    struct CaptureDir {
        std::string path = make_temp_dir("pelta-cli-capture-");
        ~CaptureDir() {
            unlink((path + "/out").c_str());
            unlink((path + "/err").c_str());
            rmdir(path.c_str());
        }
    };
    static const CaptureDir capture;
    const std::string out = capture.path + "/out", err = capture.path + "/err";
    const std::string full =
        "cd " + quote(dir) + " && { " + command + " ; } >" + quote(out) + " 2>" + quote(err) + " </dev/null";
    const int raw = std::system(full.c_str());
    RunResult r;
    if (WIFEXITED(raw))
        r.status = WEXITSTATUS(raw);
    else if (WIFSIGNALED(raw))
        r.status = 128 + WTERMSIG(raw);
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

RunResult run_pelta(const std::string& dir, const std::string& args) {
    return run_shell(dir, quote(pelta_bin()) + " " + args);
}

bool run32_native(const std::string& program) {
    static std::map<std::string, bool> kernel_runs;  // by program
    const char* force = std::getenv("PELTA_FORCE_QEMU");
    if (force && std::string(force) == "1") return false;
    const auto known = kernel_runs.find(program);
    if (known != kernel_runs.end()) return known->second;
    return kernel_runs[program] = run_shell("/", quote(program) + " --help >/dev/null 2>&1").status == 0;
}

std::string run32(const std::string& program, const std::string& qemu_cpu) {
    if (qemu_cpu.empty() && run32_native(program)) return quote(program);
    const RunResult qemu = run_shell("/", "command -v qemu-i386-static");
    if (qemu.status != 0)
        throw std::runtime_error("the 32-bit " + program +
                                 " needs qemu-i386-static here (this kernel does not run 32-bit x86 programs, or "
                                 "PELTA_FORCE_QEMU=1 or a CPU model asks for it), and it is missing: scripts/deps.sh "
                                 "test installs it");
    const std::string path = qemu.out.substr(0, qemu.out.find('\n'));
    return quote(path) + (qemu_cpu.empty() ? "" : " -cpu " + quote(qemu_cpu)) + " " + quote(program);
}

bool can_make_terminal() {
    static const bool yes = run_shell("/", "script -qec true /dev/null").status == 0;
    return yes;
}

RunResult run_on_terminal(const std::string& dir, const std::string& command) {
    return run_shell(dir, "script -qec " + quote(command) + " /dev/null");
}

std::map<std::string, std::string> contents(const ScratchDir& dir) {
    std::map<std::string, std::string> files;
    for (const std::string& name : dir.list()) files[name] = read_file(dir / name);
    return files;
}

void expect_refused(const ScratchDir& dir, const std::string& command, int status, const std::string& message) {
    SCOPED_TRACE(command);
    const std::map<std::string, std::string> before = contents(dir);
    const RunResult r = run_shell(dir.path(), command);
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << "stderr: " << r.err;
    EXPECT_EQ(r.err.rfind("pelta", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contents(dir) == before) << "a file was changed, made or left behind";
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool same_frame(const Frame& a, const Frame& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(PIXEL_YC)) == 0;
}

std::string raw_bytes(const Clip& clip) {
    std::string s;
    for (const Frame& f : clip.frames)
        for (const PIXEL_YC& p : f)
            for (int16_t v : {p.y, p.cb, p.cr}) {
                s += static_cast<char>(static_cast<uint16_t>(v) & 0xFF);
                s += static_cast<char>(static_cast<uint16_t>(v) >> 8);
            }
    return s;
}

Clip parse_raw(const std::string& bytes, int w, int h) {
    Clip c;
    c.w = w;
    c.h = h;
    const size_t frame = static_cast<size_t>(w) * h * 6;
    for (size_t off = 0; off + frame <= bytes.size(); off += frame) {
        Frame f(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < f.size(); ++i) {
            auto s16 = [&](size_t k) {
                const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + off + 6 * i + 2 * k);
                return static_cast<int16_t>(b[0] | b[1] << 8);
            };
            f[i] = PIXEL_YC{s16(0), s16(1), s16(2)};
        }
        c.frames.push_back(std::move(f));
    }
    return c;
}

std::string y4m_bytes(const Y4mClip& clip) {
    std::string s = "YUV4MPEG2 " + clip.header + "\n";
    for (const std::string& f : clip.frames) s += "FRAME\n" + f;
    return s;
}

bool split_y4m(const std::string& bytes, size_t frame_bytes, Y4mClip& out) {
    out = Y4mClip{};
    size_t nl = bytes.find('\n');
    if (bytes.rfind("YUV4MPEG2 ", 0) != 0 || nl == std::string::npos) return false;
    out.header = bytes.substr(10, nl - 10);
    size_t pos = nl + 1;
    while (pos < bytes.size()) {
        if (bytes.compare(pos, 6, "FRAME\n") != 0 || pos + 6 + frame_bytes > bytes.size()) return false;
        out.frames.push_back(bytes.substr(pos + 6, frame_bytes));
        pos += 6 + frame_bytes;
    }
    return true;
}

namespace {

// Which pictures the top and the bottom field of frame f show.
struct FieldSources {
    int top, bottom;
};
FieldSources field_sources(int f, int segment) {
    const int seg = f / segment, start = seg * segment;
    switch (seg % 4) {
        case 0: return {f, std::max(f - 1, 0)};  // bottom field one frame late
        case 1: return {std::max(f - 1, 0), f};  // top field one frame late
        case 2: return {start, start};           // still
        default: return {f, f};                  // both fields of one moving picture
    }
}

// A moving picture with detail in both directions; j is the picture number.
double picture_luma(int x, int y, int j) {
    return 2000 + 1100 * std::sin(0.23 * (x - 4 * j)) * std::cos(0.11 * y + 0.05 * j) + 500 * std::sin(0.07 * y);
}
double picture_cb(int x, int y, int j) { return 700 * std::sin(0.17 * (x + 2 * j) + 0.02 * y); }
double picture_cr(int x, int y, int j) { return 600 * std::cos(0.09 * y + 0.3 * j + 0.01 * x); }

}  // namespace

Clip field_shifted_clip(int w, int h, int frames, int segment) {
    Clip c;
    c.w = w;
    c.h = h;
    for (int f = 0; f < frames; ++f) {
        const FieldSources src = field_sources(f, segment);
        Frame fr(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y) {
            const int j = (y & 1) ? src.bottom : src.top;
            for (int x = 0; x < w; ++x)
                fr[static_cast<size_t>(y) * w + x] =
                    PIXEL_YC{static_cast<int16_t>(std::lround(picture_luma(x, y, j))),
                             static_cast<int16_t>(std::lround(picture_cb(x, y, j))),
                             static_cast<int16_t>(std::lround(picture_cr(x, y, j)))};
        }
        c.frames.push_back(std::move(fr));
    }
    return c;
}

std::vector<std::string> field_shifted_planes(int w, int h, int frames) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    auto to8 = [](double v) { return static_cast<char>(std::clamp(static_cast<int>(std::lround(v)), 0, 255)); };
    std::vector<std::string> out;
    for (int f = 0; f < frames; ++f) {
        const FieldSources src = field_sources(f, 7);
        std::string p;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                p += to8(16 + picture_luma(x, y, (y & 1) ? src.bottom : src.top) * 219 / 4096);
        for (auto fn : {picture_cb, picture_cr})
            for (int y = 0; y < ch; ++y)
                for (int x = 0; x < cw; ++x)
                    p += to8(128 + fn(2 * x, 2 * y, (y & 1) ? src.bottom : src.top) * 224 / 4096);
        out.push_back(std::move(p));
    }
    return out;
}

void default_settings(int track[TRACK_COUNT], int check[CHECK_COUNT]) {
    const FILTER_DLL* d = GetFilterTable();
    for (int i = 0; i < TRACK_COUNT; ++i) track[i] = d->track_default[i];
    for (int i = 0; i < CHECK_COUNT; ++i) check[i] = d->check_default[i];
}

ReferenceRun run_reference(const Clip& clip, const int track[TRACK_COUNT], const int check[CHECK_COUNT], bool saving,
                           int stride) {
    const int n = static_cast<int>(clip.frames.size());
    MemoryHost host(GetFilterTable(), clip.w, clip.h, n, stride ? stride : clip.w);
    for (int f = 0; f < n; ++f) {
        std::fill(host.clip[f].begin(), host.clip[f].end(), PIXEL_YC{0, 0, 0});
        for (int y = 0; y < clip.h; ++y)
            std::copy_n(clip.frames[f].begin() + static_cast<ptrdiff_t>(y) * clip.w, clip.w, &host.at(f, 0, y));
    }
    host.replicate_edges = true;
    host.saving = saving;
    std::copy_n(track, TRACK_COUNT, host.track.begin());
    std::copy_n(check, CHECK_COUNT, host.check.begin());
    host.update();

    ReferenceRun run;
    for (int f = 0; f < n; ++f) {
        native_window_text_reset();
        const BOOL ok = host.run(f);
        const PIXEL_YC* result = ok ? host.output() : host.clip[f].data();
        Frame out(static_cast<size_t>(clip.w) * clip.h);
        for (int y = 0; y < clip.h; ++y)
            std::copy_n(result + static_cast<ptrdiff_t>(y) * host.max_w, clip.w,
                        out.begin() + static_cast<ptrdiff_t>(y) * clip.w);
        run.frames.push_back(std::move(out));
        run.titles.push_back(ok ? host.title() : "FAILED");
    }
    host.exit();
    return run;
}

}  // namespace cli_test
