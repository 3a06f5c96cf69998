// pelta analyze on generated clips whose right settings are known, clean and
// as captures store them (grain, softness, MPEG-2 and H.264 round trips,
// cuts, 4:2:2, 1920x1080, narrow bands and small shifts): the kind, the
// settings within tolerance, and, what counts, a picture restored no worse
// than the right settings restore it; clips of several kinds cut into their
// segments, read from a file and from a pipe, and filtered by them; the
// warnings where the result is doubtful; and the passes' own pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <cstdlib>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/profiles.h"
#include "analyze/sample_runner.h"
#include "analyze/sampling.h"
#include "analyze/tear.h"
#include "cli_test_util.h"
#include "io/y4m.h"
#include "native/host_side.h"
#include "plugin/descriptor.h"
#include "window/shift.h"

using namespace cli_test;

namespace {

// The analysis's measure taken column by column rather than on block
// profiles, what these tests judge a restored picture by: per column, the
// comb energy (second difference across the fields), the field energy (the
// same within a field) and, when `field4` is not null, the within-field
// difference at twice the distance, added into the sums.
void add_column_energy(const PIXEL_YC* frame, int stride, int w, int h, double* comb, double* field,
                       double* field4) {
    auto row = [&](int y) { return frame + static_cast<size_t>(y) * static_cast<size_t>(stride); };
    // In 64 bits: a reader admits any 16-bit sample, and a second difference
    // of them reaches 2^18, its square 2^36. A column's sum over any frame
    // height stays far below 2^53, so adding the squares as doubles is
    // exact.
    for (int y = 2; y + 2 < h; ++y) {
        const PIXEL_YC *m2 = row(y - 2), *m1 = row(y - 1), *p0 = row(y), *p1 = row(y + 1), *p2 = row(y + 2);
        for (int x = 0; x < w; ++x) {
            const int64_t a = 2 * int64_t{p0[x].y};
            const int64_t d1 = m1[x].y + int64_t{p1[x].y} - a;
            const int64_t d2 = m2[x].y + int64_t{p2[x].y} - a;
            comb[x] += static_cast<double>(d1 * d1);
            field[x] += static_cast<double>(d2 * d2);
        }
        if (field4 && y >= 4 && y + 4 < h) {
            const PIXEL_YC *m4 = row(y - 4), *p4 = row(y + 4);
            for (int x = 0; x < w; ++x) {
                const int64_t d4 = m4[x].y + int64_t{p4[x].y} - 2 * int64_t{p0[x].y};
                field4[x] += static_cast<double>(d4 * d4);
            }
        }
    }
}

bool have_ffmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// The still pictures the clips pan across, rendered once: the sample's own
// source (ffmpeg's testsrc2) and a detailed fractal, both softened and given
// grain as a camera would.
class AnalyzeClips : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!have_ffmpeg()) return;
        dir_ = new ScratchDir;
        // A photograph (python3-skimage's sample), where Debian's package
        // is installed.
        const std::string photo = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
        if (file_exists(photo)) {
            RunResult r = run_shell(dir_->path(), "ffmpeg -nostdin -loglevel error -y -i " + photo +
                                                      " -vf scale=1024:1024:flags=lanczos -pix_fmt rgb24 photo.ppm");
            ASSERT_EQ(r.status, 0) << r.err;
        }
        for (const char* src : {"testsrc2=s=1024x768", "mandelbrot=s=1024x768:end_pts=1:start_scale=0.5:"
                                                         "end_scale=0.5:maxiter=200"}) {
            const std::string name = std::string(src).substr(0, std::string(src).find('=')) + ".ppm";
            RunResult r = run_shell(dir_->path(), "ffmpeg -nostdin -loglevel error -y -f lavfi -i '" +
                                                      std::string(src) +
                                                      "' -frames:v 1 -vf gblur=sigma=0.6,noise=alls=6:allf=t "
                                                      "-pix_fmt rgb24 " +
                                                      name);
            ASSERT_EQ(r.status, 0) << r.err;
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "ffmpeg not installed (scripts/deps.sh test installs it)";
    }
    static std::string path(const std::string& name) { return *dir_ / name; }
    static ScratchDir* dir_;
};
ScratchDir* AnalyzeClips::dir_ = nullptr;

// A value of the flat JSON object pelta analyze prints: the text after
// "key": up to the next comma or brace (integers), or between quotes.
std::string json_value(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    const size_t at = json.find(tag);
    if (at == std::string::npos) return "";
    const size_t from = json.find_first_not_of(' ', at + tag.size());
    if (json[from] == '"') return json.substr(from + 1, json.find('"', from + 1) - from - 1);
    return json.substr(from, json.find_first_of(",}", from) - from);
}
int json_int(const std::string& json, const std::string& key) {
    const std::string v = json_value(json, key);
    return v.empty() ? -999 : std::stoi(v);
}
std::string json_text(const std::string& json, const std::string& key) { return json_value(json, key); }

// The combing of a Y4M stream in columns [l, r) and in the rest: comb energy
// across the fields against that within them, over every frame.
struct Combing {
    double band = 0, rest = 0;
};
Combing combing(const std::string& y4m, int l, int r) {
    pelta_cli::MemorySource src(reinterpret_cast<const uint8_t*>(y4m.data()), y4m.size());
    pelta_cli::Y4mReader reader(src);
    std::string error;
    EXPECT_TRUE(reader.read_header(error)) << error;
    const pelta_cli::Y4mHeader& hd = reader.header();
    std::vector<double> comb(static_cast<size_t>(hd.width)), field(comb.size());
    std::vector<uint8_t> planes;
    std::vector<PIXEL_YC> frame(static_cast<size_t>(hd.width) * hd.height);
    while (reader.read_frame(planes, error) == pelta_cli::ReadStatus::Frame) {
        pelta_cli::planes_to_yc(planes.data(), hd.chroma, hd.width, hd.height, frame.data(), hd.width, hd.depth);
        add_column_energy(frame.data(), hd.width, hd.width, hd.height, comb.data(), field.data(), nullptr);
    }
    double c[2] = {0, 0}, f[2] = {0, 0};
    for (int x = 0; x < hd.width; ++x) {
        const int in = x >= l && x < r ? 0 : 1;
        c[in] += comb[static_cast<size_t>(x)];
        f[in] += field[static_cast<size_t>(x)];
    }
    return {f[0] > 0 ? c[0] / f[0] : 0, f[1] > 0 ? c[1] / f[1] : 0};
}

struct Case {
    const char* name;
    const char* clip;  // pelta_make_clip arguments besides --picture
    const char* picture;
    // How the clip is stored: "" as made; "mpeg2:M" an interlaced MPEG-2
    // round trip (field DCT) at M Mbit/s; "h264:C" interlaced H.264 at CRF C;
    // "trap" 4:2:2 turned into 4:2:0 by a progressive conversion.
    const char* store;
    const char* kind;
    int left, width, shift, tff;  // the generator's settings (window kinds); tff -1: either restores
};

const Case kCases[] = {
    // The kinds on clean clips.
    {"progressive", "--kind progressive --size 720x480", "mandelbrot", "", "progressive", 0, 0, 0, -1},
    {"progressive_444", "--kind progressive --size 480x360 --chroma 444", "testsrc2", "", "progressive", 0, 0, 0, -1},
    {"pulldown", "--kind pulldown --size 720x480", "mandelbrot", "", "pulldown", 0, 0, 0, -1},
    {"pulldown_444", "--kind pulldown --size 480x360 --chroma 444", "testsrc2", "", "pulldown", 0, 0, 0, -1},
    {"interlaced", "--kind interlaced --size 720x480", "mandelbrot", "", "interlaced", 0, 0, 0, -1},
    {"interlaced_small", "--kind interlaced --size 480x360", "testsrc2", "", "interlaced", 0, 0, 0, -1},
    {"match_bottom_late", "--kind match --late bottom --size 720x480", "mandelbrot", "", "match", 0, 0, 0, -1},
    {"match_top_late_444", "--kind match --late top --size 480x360 --chroma 444", "testsrc2", "", "match", 0, 0, 0, -1},
    {"match_alternate_10bit", "--kind match --late alternate --size 480x360 --depth 10", "mandelbrot", "", "match",
     0, 0, 0, -1},
    {"window_fractional", "--kind window --late alternate --band 104,342 --shift 26 --tff 1 --size 720x480",
     "mandelbrot", "", "window", 104, 342, 26, -1},
    {"window_whole_tff0", "--kind window --late bottom --band 400,200 --shift 16 --tff 0 --size 720x480",
     "testsrc2", "", "window", 400, 200, 16, -1},
    {"window_left_edge_444", "--kind window --late top --band 0,160 --shift 40 --tff 1 --size 480x360 --chroma 444",
     "mandelbrot", "", "window", 0, 160, 40, -1},
    {"window_narrow_small_shift", "--kind window --late alternate --band 200,96 --shift 5 --tff 1 --size 480x360",
     "mandelbrot", "", "window", 200, 96, 5, -1},
    {"window_right_edge_444", "--kind window --late bottom --band 560,160 --shift 64 --tff 0 --size 720x480 --chroma 444",
     "mandelbrot", "", "window", 560, 160, 64, -1},
    // The hardships of captures, a few at a time.
    {"progressive_grain_mpeg2", "--kind progressive --size 720x480 --chroma 420i --pan 2.5,0.7 --grain 2.5",
     "photo", "mpeg2:4", "progressive", 0, 0, 0, -1},
    {"pulldown_soft_h264", "--kind pulldown --size 720x480 --chroma 420i --pan 2,-0.6 --soft 1.4 --grain 1",
     "photo", "h264:22", "pulldown", 0, 0, 0, -1},
    {"interlaced_grain_cut_mpeg2", "--kind interlaced --size 720x480 --chroma 420i --pan 1.8,0.5 --grain 2 --cut 30",
     "mandelbrot", "mpeg2:6", "interlaced", 0, 0, 0, -1},
    {"match_grain3_h264_422", "--kind match --late alternate --size 720x480 --chroma 422 --pan -2,0.8 --grain 3",
     "photo", "h264:24", "match", 0, 0, 0, -1},
    {"window_narrow_grain_mpeg2", "--kind window --late bottom --band 300,40 --shift 12 --tff 1 --size 720x480 "
                                  "--chroma 420i --pan 2,0.6 --grain 2.5",
     "photo", "mpeg2:3", "window", 300, 40, 12, -1},
    {"window_late_small_shift_cut", "--kind window --late alternate --band 120,96 --shift 3 --tff 0 "
                                    "--band-motion late --size 720x480 --chroma 420i --pan 1.5,-0.5 --grain 2 --cut 31",
     "mandelbrot", "h264:22", "window", 120, 96, 3, 0},
    {"window_same_scene_soft_trap", "--kind window --late top --band 420,160 --shift 20 --tff 1 --band-motion late "
                                    "--band-scene same --size 720x480 --chroma 422 --pan 2.2,0.4 --soft 1.2 --grain 1",
     "photo", "trap", "window", 420, 160, 20, 1},
    {"window_1080_mpeg2", "--kind window --late alternate --band 900,64 --shift 6 --tff 1 --band-motion late "
                          "--size 1920x1080 --chroma 420i --pan 3,0.7 --grain 2 --frames 40",
     "mandelbrot", "mpeg2:18", "window", 900, 64, 6, 1},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The shell command that stores a clip made as `clip.y4m` the way `store`
// says, into `out`.
std::string store_command(const std::string& store, const std::string& out) {
    const std::string ff = "ffmpeg -nostdin -loglevel error -y ";
    if (store.empty()) return "mv src.y4m '" + out + "'";
    if (store == "trap")
        return ff + "-i src.y4m -f yuv4mpegpipe -pix_fmt yuv420p '" + out + "'";
    const std::string codec = store.substr(0, store.find(':')), value = store.substr(store.find(':') + 1);
    const std::string enc = codec == "mpeg2"
                                ? "-c:v mpeg2video -pix_fmt yuv420p -flags +ildct+ilme -top 1 -b:v " + value +
                                      "M -maxrate " + value + "M -bufsize 2M -g 15 -bf 2 enc.mpg"
                                : "-c:v libx264 -pix_fmt yuv420p -preset fast -crf " + value +
                                      " -flags +ildct+ilme -x264-params interlaced=1:tff=1 enc.mp4";
    // Decoded back as it was coded, interlaced 4:2:0, without a conversion.
    return ff + "-i src.y4m " + enc + " && " + ff + "-i " + enc.substr(enc.rfind(' ') + 1) +
           " -f yuv4mpegpipe '" + out + "'";
}

class AnalyzeKinds : public AnalyzeClips, public ::testing::WithParamInterface<Case> {};

// Each clip's kind; for pelta's kinds, settings close to the generator's and a
// restored picture as clean, in the band and outside it, as with the
// generator's own settings.
TEST_P(AnalyzeKinds, NamesTheKindAndSettingsThatRestoreThePicture) {
    const Case& c = GetParam();
    if (!file_exists(path(std::string(c.picture) + ".ppm"))) GTEST_SKIP() << "no " << c.picture << " picture";
    const std::string clip = path(std::string(c.name) + ".y4m");
    const std::string frames = std::string(c.clip).find("--frames") == std::string::npos ? " --frames 60" : "";
    RunResult r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) + "'" + frames + " --picture " +
                                              c.picture + ".ppm " + c.clip + " > src.y4m && " +
                                              store_command(c.store, clip));
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_pelta(dir_->path(), "analyze --json '" + clip + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string& json = r.out;
    EXPECT_EQ(json_text(json, "kind"), c.kind) << json;
    const int left = json_int(json, "left"), width = json_int(json, "width"), shift = json_int(json, "shift"),
              tff = json_int(json, "tff");
    if (std::string(c.kind) == "match") {
        EXPECT_EQ(width, 0) << json;
    }
    if (std::string(c.kind) != "window") return;
    EXPECT_NEAR(left, c.left, 8) << json;
    EXPECT_NEAR(left + width, c.left + c.width, 8) << json;
    EXPECT_NEAR(shift, c.shift, 2) << json;
    if (c.tff >= 0) {
        EXPECT_EQ(tff, c.tff) << json;
    }

    // Both filtered without the low-pass, which would hide combing.
    auto filtered = [&](int l, int w, int s, int t) {
        const std::string out = path(std::string(c.name) + "-out.y4m");
        RunResult f = run_pelta(dir_->path(), "--quiet --lpf 0 --left " + std::to_string(l) + " --width " +
                                                  std::to_string(w) + " --shift " + std::to_string(s) + " --tff " +
                                                  std::to_string(t) + " '" + clip + "' '" + out + "'");
        EXPECT_EQ(f.status, 0) << f.err;
        return combing(read_file(out), c.left, c.left + c.width);
    };
    const Combing suggested = filtered(left, width, shift, tff);
    const Combing right = filtered(c.left, c.width, c.shift, c.tff >= 0 ? c.tff : tff);
    EXPECT_LE(suggested.band, right.band * 1.15 + 0.05) << json;
    EXPECT_LE(suggested.rest, right.rest * 1.15 + 0.05) << json;
}

INSTANTIATE_TEST_SUITE_P(Clips, AnalyzeKinds, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// What the analysis refuses, each with one line and status 1 (2 for usage);
// and the same verdict read from a pipe, --start, and --auto.
TEST_F(AnalyzeClips, InputsItCannotJudgeAndTheWaysOfReading) {
    RunResult r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) +
                                              "' --frames 40 --picture mandelbrot.ppm --kind window --late bottom "
                                              "--band 96,128 --shift 24 --tff 1 --size 480x360 > w.y4m && '" +
                                              PELTA_MAKE_CLIP +
                                              "' --frames 8 --picture mandelbrot.ppm --kind match --size 480x360 "
                                              "> short.y4m && ffmpeg -nostdin -loglevel error -f lavfi -i "
                                              "color=gray:s=320x240:r=30000/1001:d=1 -pix_fmt yuv420p still.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    struct Refusal {
        const char* args;
        int status;
        const char* message;
    };
    const Refusal refusals[] = {
        {"analyze short.y4m", 1, "needs at least 10 frames"},
        {"analyze --raw 8x10 w.y4m", 1, "too small to measure"},
        {"analyze still.y4m", 1, "cannot tell"},
        {"analyze --start 35 w.y4m", 1, "needs at least 10 frames"},
        {"--auto --start 35 --frames 10 w.y4m out.y4m", 1, "needs at least 10 frames from frame 35"},
        {"analyze missing.y4m", 1, "cannot open input"},
        {"analyze --frames 3 w.y4m", 2, "--frames takes"},
        {"analyze", 2, "missing INPUT"},
        {"--auto still.y4m out.y4m", 1, "cannot tell"},
    };
    for (const Refusal& x : refusals) {
        RunResult e = run_pelta(dir_->path(), x.args);
        EXPECT_EQ(e.status, x.status) << x.args;
        EXPECT_NE(e.err.find(x.message), std::string::npos) << x.args << ": " << e.err;
        EXPECT_EQ(std::count(e.err.begin(), e.err.end(), '\n'), 1) << x.args << ": " << e.err;
    }
    EXPECT_FALSE(file_exists(dir_->path() + "/out.y4m"));
    // A pipe's scratch copy goes where TMPDIR says, and the first write that
    // fails there ends the analysis, with its reason.
    const std::pair<const char*, const char*> scratch[] = {
        {"TMPDIR=/nonexistent", "cannot make a temporary file for the input (TMPDIR): No such file or directory"},
        {"ulimit -f 1000;", "cannot keep the frames the analysis reads again in a temporary file (TMPDIR): File too large"},
    };
    for (const auto& [how, message] : scratch) {
        RunResult e = run_shell(dir_->path(), std::string(how) + " '" + pelta_bin() + "' analyze -q - < w.y4m");
        EXPECT_EQ(e.status, 1) << how;
        EXPECT_EQ(e.err, "pelta analyze: " + std::string(message) + "\n") << how;
    }

    // A pipe gives what the file gives; --start moves the sample (-q: --quiet).
    const RunResult file = run_pelta(dir_->path(), "analyze --json w.y4m");
    const RunResult pipe = run_shell(dir_->path(), "cat w.y4m | '" + pelta_bin() + "' analyze --json -");
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_EQ(pipe.out, file.out);
    const RunResult later = run_pelta(dir_->path(), "analyze -q --json --start 10 w.y4m");
    EXPECT_EQ(json_int(later.out, "start"), 10) << later.out;
    EXPECT_EQ(json_int(later.out, "frames"), 30) << later.out;

    // --auto filters with what the analysis suggests, from a file and from a
    // pipe alike; explicit options win.
    const std::string cmd = json_text(file.out, "command");
    ASSERT_EQ(cmd.rfind("pelta ", 0), 0u) << file.out;
    r = run_pelta(dir_->path(), "--quiet " + cmd.substr(6) + " w.y4m want.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_pelta(dir_->path(), "--auto w.y4m auto.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("filtering with " + cmd.substr(6)), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir_->path() + "/auto.y4m"), read_file(dir_->path() + "/want.y4m"));
    r = run_shell(dir_->path(), "cat w.y4m | '" + pelta_bin() + "' --quiet --auto - - > piped.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir_->path() + "/piped.y4m"), read_file(dir_->path() + "/want.y4m"));
    // From a pipe it says which frames it judged: here all 40 the pipe held.
    EXPECT_NE(r.err.find("pelta: --auto: from a pipe it judged frames 0..39, all it held (read before filtering)"),
              std::string::npos)
        << r.err;
    r = run_pelta(dir_->path(), "--quiet --auto --width 0 w.y4m auto0.y4m");
    EXPECT_NE(r.err.find("--width 0 "), std::string::npos) << r.err;

    // Not pelta's kind: refused unless forced.
    r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) +
                                    "' --frames 30 --picture mandelbrot.ppm --kind progressive --size 320x240 > p.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_pelta(dir_->path(), "--auto p.y4m p-out.y4m");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("progressive"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(dir_->path() + "/p-out.y4m"));
    r = run_pelta(dir_->path(), "--quiet --auto --force p.y4m p-out.y4m");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(file_exists(dir_->path() + "/p-out.y4m"));
}

// The segments of a clip of several kinds, stored as a capture is (an
// interlaced MPEG-2 round trip, which leaves the black stretch flickering
// from frame to frame): where each begins (at the cut between two kinds, to
// the frame), read from a file (by seeking) and from a pipe (read once) alike; the JSON as a plan gives the frames of the other
// kinds back byte for byte, and --auto filters as that plan does.
TEST_F(AnalyzeClips, CutsAClipOfSeveralKindsIntoItsSegments) {
    // The clip's parts: generator arguments and frames, joined off any grid
    // of 10 or 30 frames and at odd frames.
    const std::pair<const char*, long> parts[] = {
        {"--kind progressive --pan 2.5,0.6 --grain 1.5", 97},
        {"--kind match --late alternate --pan -2,0.7 --grain 1.5", 151},
        {"--kind interlaced --pan 2,0.5 --grain 1.5", 67},
        {"--kind match --late bottom --pan 2,-0.6 --black 0,59 --grain 1.5", 120},  // black, then out of step
    };
    std::string made = "rm -f made.y4m";
    for (size_t i = 0; i < std::size(parts); ++i) {
        const std::string part = "part" + std::to_string(i) + ".y4m";
        made += " && '" + std::string(PELTA_MAKE_CLIP) + "' --size 480x360 --chroma 420i --picture mandelbrot.ppm --seed " +
                std::to_string(i + 1) + " --frames " + std::to_string(parts[i].second) + " " + parts[i].first + " > " +
                part + " && " + (i == 0 ? "cat " + part : "tail -n +2 " + part) + " >> made.y4m";
    }
    made += " && ffmpeg -nostdin -loglevel error -y -i made.y4m -c:v mpeg2video -pix_fmt yuv420p -flags +ildct+ilme "
            "-top 1 -b:v 3M -maxrate 3M -bufsize 2M -g 15 -bf 2 enc.mpg && "
            "ffmpeg -nostdin -loglevel error -y -i enc.mpg -f yuv4mpegpipe mixed.y4m";
    RunResult r = run_shell(dir_->path(), made);
    ASSERT_EQ(r.status, 0) << r.err;
    // The kinds and where they begin (within 2 frames): the black stretch
    // opens the last part.
    const std::vector<std::pair<long, std::string>> want = {
        {0, "progressive"}, {97, "match"}, {248, "interlaced"}, {315, "black"}, {375, "match"}};
    for (const auto& [how, into] : {std::pair<const char*, const char*>{"mixed.y4m", "plan.json"}, {"- < mixed.y4m", "piped.json"}}) {
        SCOPED_TRACE(how);
        r = run_pelta(dir_->path(), std::string("analyze --json ") + how + " > " + into);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string json = read_file(dir_->path() + "/" + into);
        std::vector<std::pair<long, std::string>> got;
        for (size_t at = json.find("\"segments\""); (at = json.find("{\"start\":", at)) != std::string::npos; ++at)
            got.emplace_back(std::stol(json.substr(at + 9)), json_value(json.substr(at), "kind"));
        ASSERT_EQ(got.size(), want.size()) << json;
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].second, want[i].second) << json;
            EXPECT_LE(std::labs(got[i].first - want[i].first), 2) << json;
        }
        EXPECT_EQ(json_text(json, "kind"), "match") << json;  // pelta's kind holds a third of the clip and more
    }
    // Filtered by the analysis: the progressive, interlaced and black frames
    // as they came; --auto does the same.
    r = run_pelta(dir_->path(), "--quiet --plan plan.json mixed.y4m planned.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_pelta(dir_->path(), "--quiet --auto mixed.y4m auto.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir_->path() + "/auto.y4m"), read_file(dir_->path() + "/planned.y4m"));
    const std::string in = read_file(dir_->path() + "/mixed.y4m"), out = read_file(dir_->path() + "/planned.y4m");
    const size_t in_head = in.find('\n') + 1, out_head = out.find('\n') + 1;
    long total = 0;
    for (const auto& part : parts) total += part.second;
    const size_t frame = (in.size() - in_head) / static_cast<size_t>(total);
    ASSERT_EQ(out.size() - out_head, in.size() - in_head);
    for (const auto& [first, end] : {std::pair<long, long>{0, 95}, {250, 373}})
        EXPECT_EQ(out.substr(out_head + first * frame, (end - first) * frame), in.substr(in_head + first * frame, (end - first) * frame))
            << "frames " << first << ".." << end - 1;
    EXPECT_NE(out.substr(out_head + 100 * frame, frame), in.substr(in_head + 100 * frame, frame));
}

// Where the result is doubtful the analysis says so, and its confidence
// stays below 0.5; where it is not, it says nothing and suggests the
// low-pass off if field matching leaves nothing to hide. A tear that no
// setting removes is the footage's own: it is told, but casts no doubt on
// the settings.
TEST_F(AnalyzeClips, WarnsWhereTheResultIsDoubtful) {
    struct Doubt {
        const char* name;
        const char* clip;
        const char* warning;  // a part of the one warning; "" none
        int lpf;              // -1: either
        bool doubtful = true;  // with the warning, confidence below 0.5
    } doubts[] = {
        // Colour averaged across the fields (the generator's 4:2:0) on a
        // picture of strong colours misleads the filter's own count.
        {"colour", "--kind window --late alternate --band 200,96 --shift 5 --tff 1 --size 480x360 --picture testsrc2.ppm",
         "colour disagrees with luma", -1},
        // A band of the picture around it whose late field stays the
        // bottom one while the rest changes shows other moments than its
        // surroundings, and its edges step where the picture moves.
        {"tear", "--kind window --late alternate --band 240,160 --shift 8 --tff 1 --band-motion late "
                 "--band-scene same --size 480x360 --chroma 420i --picture mandelbrot.ppm",
         "a tear:", -1, false},
        {"clean", "--kind match --late alternate --size 480x360 --chroma 420i --picture mandelbrot.ppm", "", 0},
    };
    for (const Doubt& d : doubts) {
        SCOPED_TRACE(d.name);
        RunResult r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) + "' --frames 60 " + d.clip + " > " +
                                                  d.name + ".y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        r = run_pelta(dir_->path(), "analyze --json " + std::string(d.name) + ".y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string warnings = r.out.substr(r.out.find("\"warnings\""), r.out.find("\"command\"") - r.out.find("\"warnings\""));
        const double confidence = std::stod(json_value(r.out, "confidence"));
        if (*d.warning) {
            EXPECT_NE(warnings.find(d.warning), std::string::npos) << r.out;
            EXPECT_EQ(confidence < 0.5, d.doubtful) << r.out;
        } else {
            EXPECT_EQ(warnings, "\"warnings\":[],") << r.out;
            EXPECT_GE(confidence, 0.5) << r.out;
        }
        if (d.lpf >= 0) {
            EXPECT_EQ(json_int(r.out, "lpf"), d.lpf) << r.out;
        }
        // The text gives each warning a line of its own.
        r = run_pelta(dir_->path(), "analyze -q " + std::string(d.name) + ".y4m");
        EXPECT_EQ(r.out.find("warning:") != std::string::npos, *d.warning != 0) << r.out;
    }
}

// The window the filter rebuilds, foreseen on block profiles: every block's
// row sums of the filter's own output, whatever the shift, TFF, frame parity
// and height, within the rounding of its samples (half a code each).
TEST(AnalyzeProfiles, RebuildAsTheFilterDoes) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> sample(0, 4096);
    for (int h : {12, 13, 57}) {
        const int w = 37, stride = 40;
        std::vector<PIXEL_YC> own(static_cast<size_t>(stride) * h), partner(own.size());
        for (auto* f : {&own, &partner})
            for (PIXEL_YC& p : *f) p = PIXEL_YC{static_cast<int16_t>(sample(rng)), 0, 0};
        for (int shift : {0, 3, 8, 16, 21, 40, 100, 255})
            for (int tff = 0; tff < 2; ++tff)
                for (long frame : {10L, 11L}) {
                    SCOPED_TRACE(testing::Message() << "h " << h << " shift " << shift << " tff " << tff << " frame " << frame);
                    // The filter's step: ycp_edit is the frame with the
                    // partner's field of the moved parity; the shift rewrites
                    // the window (every column) of ycp_temp from it.
                    std::vector<PIXEL_YC> edit = own, temp(own.size());
                    const int moved = (frame & 1) == tff ? 0 : 1;
                    for (int y = moved; y < h; y += 2)
                        std::copy(partner.begin() + y * stride, partner.begin() + (y + 1) * stride, edit.begin() + y * stride);
                    int track[pelta::TRACK_COUNT] = {}, check[pelta::CHECK_COUNT] = {};
                    track[pelta::TRACK_WIDTH] = w;
                    track[pelta::TRACK_SHIFT] = shift;
                    check[pelta::CHECK_TFF] = tff;
                    FILTER fp = filter_record_for(GetFilterTable(), track, check, nullptr, nullptr);
                    FILTER_PROC_INFO fpip = proc_info_for(edit.data(), temp.data(), w, h, stride, static_cast<int>(frame), 100, nullptr);
                    if (shift & 15) {
                        int32_t taps[4];
                        pelta::make_shift_taps(taps, shift);
                        pelta::shift_window_interp(temp.data(), edit.data(), &fp, &fpip, taps);
                    } else {
                        pelta::shift_window_whole(temp.data(), edit.data(), &fp, &fpip);
                    }
                    pelta_cli::analysis::Profiles a, b, filtered;
                    pelta_cli::analysis::make_profiles(own.data(), stride, 0, w, h, 8, false, a);
                    pelta_cli::analysis::make_profiles(partner.data(), stride, 0, w, h, 8, false, b);
                    pelta_cli::analysis::make_profiles(temp.data(), stride, 0, w, h, 8, false, filtered);
                    std::vector<float> foreseen(a.y.size());
                    pelta_cli::analysis::apply_rebuild(pelta_cli::analysis::rebuild_map(h, frame, tff, shift), a.y.data(),
                                                       b.y.data(), a.n, foreseen.data());
                    for (size_t i = 0; i < foreseen.size(); ++i)
                        ASSERT_NEAR(foreseen[i], filtered.y[i], 4.5) << "row " << i / static_cast<size_t>(a.n) << " block "
                                                                      << i % static_cast<size_t>(a.n);
                }
    }
}

// Which frames are looked at: a file's stretches lie within the range, in
// order, and are those a pipe of the same frames keeps, so that both are
// read alike; a short range is read whole. A pipe's, chosen as it is read,
// stay about as many however long it runs, spread over all of it, and every
// frame of them was kept (with its neighbours) when read.
TEST(AnalyzeSampling, StretchesSpreadOverTheClip) {
    using namespace pelta_cli::analysis;
    using pelta_cli::Stretch;
    constexpr long kWhole = 450;
    for (const auto& [first, end] : {std::pair<long, long>{0, 300}, {7, 460}, {0, 107892}, {1000, 1200}, {3, 2000}}) {
        SCOPED_TRACE(testing::Message() << first << ".." << end);
        const std::vector<Stretch> st = sampled_stretches(first, end, kWhole);
        ASSERT_FALSE(st.empty());
        long frames = 0;
        for (size_t i = 0; i < st.size(); ++i) {
            EXPECT_GE(st[i].start, first);
            EXPECT_LE(st[i].end(), end);
            if (i) {
                EXPECT_GE(st[i].start, st[i - 1].end());
            }
            frames += st[i].frames;
        }
        if (end - first <= kWhole) {
            EXPECT_EQ(frames, end - first);
            continue;
        }
        StreamSampler pipe(first, -1, kWhole);
        for (long f = first; f < end; ++f) pipe.read(f);
        const std::vector<Stretch> piped = pipe.stretches(end - 1);
        ASSERT_EQ(piped.size(), st.size());
        for (size_t i = 0; i < st.size(); ++i) {
            EXPECT_EQ(piped[i].start, st[i].start);
            EXPECT_EQ(piped[i].frames, st[i].frames);
        }
    }
    for (long length : {200L, 650L, 5000L, 107892L}) {
        SCOPED_TRACE(length);
        StreamSampler sampler(0, -1, kWhole);
        std::vector<bool> kept(static_cast<size_t>(length), false);
        for (long f = 0; f < length; ++f) {
            kept[static_cast<size_t>(f)] = sampler.keep(f);
            sampler.read(f);
        }
        const std::vector<Stretch> st = sampler.stretches(length - 1);
        long frames = 0, widest_gap = 0;
        for (size_t i = 0; i < st.size(); ++i) {
            frames += st[i].frames;
            for (long f = std::max(0L, st[i].start - kAround); f < std::min(length, st[i].start + st[i].frames + kAround); ++f)
                ASSERT_TRUE(kept[static_cast<size_t>(f)]) << "frame " << f;
            if (i) {
                widest_gap = std::max(widest_gap, st[i].start - st[i - 1].start);
            }
        }
        EXPECT_LE(frames, 2 * kSampleFrames);
        if (length <= 2 * kSampleFrames) {
            EXPECT_EQ(frames, length);
        } else {
            EXPECT_GE(frames, kSampleFrames / 2);
        }
        // The last within one spacing of the end.
        EXPECT_GE(st.back().start + st.back().frames, length - std::max(widest_gap, kStretchFrames));
    }
}

// The measure's energies are squared second differences summed over every
// row that has the rows they reach: y-1 and y+1 (comb) and y-2 and y+2
// (field) for rows 2 .. h-3, y-4 and y+4 for rows 4 .. h-5. Pictures whose
// rows each hold one value give them in closed form; rows `stride` apart,
// with columns beyond the picture that must not count.
TEST(AnalyzeMeasure, ColumnEnergiesSumEveryRowThatHasItsNeighbours) {
    constexpr int w = 3, h = 20, stride = 5;
    const struct {
        const char* name;
        int (*row)(int y);
        double comb, field, field4;
    } pictures[] = {
        {"rows alternating 0 and 100", [](int y) { return 100 * (y & 1); }, 4.0 * 100 * 100 * (h - 4), 0, 0},
        {"rows y squared", [](int y) { return y * y; }, 4.0 * (h - 4), 64.0 * (h - 4), 1024.0 * (h - 8)},
        // The largest second difference 16-bit samples can make, squared.
        {"rows alternating at both ends of 16 bits", [](int y) { return (y & 1) ? 32767 : -32768; },
         4.0 * 65535 * 65535 * (h - 4), 0, 0},
    };
    for (const auto& p : pictures) {
        SCOPED_TRACE(p.name);
        std::vector<PIXEL_YC> frame(static_cast<size_t>(stride) * h, PIXEL_YC{4000, 0, 0});
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) frame[static_cast<size_t>(y * stride + x)].y = static_cast<int16_t>(p.row(y));
        std::vector<double> comb(w), field(w), field4(w);
        add_column_energy(frame.data(), stride, w, h, comb.data(), field.data(), field4.data());
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(comb[static_cast<size_t>(x)], p.comb) << x;
            EXPECT_EQ(field[static_cast<size_t>(x)], p.field) << x;
            EXPECT_EQ(field4[static_cast<size_t>(x)], p.field4) << x;
        }
    }
}

// The analysis filters each frame of its sample as the whole clip run does,
// the clip's last frames included, where the frames after them are the last
// one again; under settings that change between calls, as the passes change
// them.
TEST(AnalyzeRunner, FiltersEveryFrameAsTheWholeClipRunDoes) {
    class ClipFrames : public pelta_cli::FrameInput {
    public:
        explicit ClipFrames(const Clip& c) : clip_(c) {}
        pelta_cli::ReadStatus next(PIXEL_YC* dst, int stride, std::string&) override {
            if (next_ == clip_.frames.size()) return pelta_cli::ReadStatus::End;
            const Frame& f = clip_.frames[next_++];
            for (int y = 0; y < clip_.h; ++y)
                std::copy(f.begin() + y * clip_.w, f.begin() + (y + 1) * clip_.w, dst + y * stride);
            return pelta_cli::ReadStatus::Frame;
        }

    private:
        const Clip& clip_;
        size_t next_ = 0;
    };
    const Clip clip = field_shifted_clip(100, 48, 12);
    const FILTER_DLL* desc = GetFilterTable();
    const pelta_cli::Controls base = pelta_cli::default_controls(desc);
    const pelta_cli::Controls settings[] = {pelta_cli::analysis::controls_for(base, 1, 30, 20, 5, 1),
                                            pelta_cli::analysis::controls_for(base, 0, 0, 0, 0, 0)};
    std::vector<ReferenceRun> want;
    for (const pelta_cli::Controls& c : settings) want.push_back(run_reference(clip, c.track, c.check, true));

    ClipFrames in(clip);
    pelta_cli::analysis::SampleRunner runner(desc, clip.w, clip.h, 0);
    std::string error;
    for (long f = 0; f < static_cast<long>(clip.frames.size()); ++f) {
        while (!runner.ended() && runner.loaded() <= f + 2) runner.advance(in, error);
        for (size_t s = 0; s < want.size(); ++s) {
            const PIXEL_YC* out = runner.run(settings[s], f);
            Frame got;
            for (int y = 0; y < clip.h; ++y) got.insert(got.end(), out + y * runner.stride(), out + y * runner.stride() + clip.w);
            EXPECT_TRUE(same_frame(got, want[s].frames[static_cast<size_t>(f)])) << "frame " << f << ", settings " << s;
        }
    }
}

}  // namespace

namespace {

// The frames of a Y4M stream after its header line, FRAME lines included.
std::string after_header(const std::string& y4m) { return y4m.substr(y4m.find('\n') + 1); }

}  // namespace

// --auto filters a segment of pelta's kinds only where the analysis is sure
// of it (confidence 0.5 or more): a doubtful one (here a band whose colour,
// averaged across the fields, misleads the filter) passes through byte for
// byte, each segment named with what was done with it; --force filters it
// as its settings say.
TEST_F(AnalyzeClips, AutoPassesADoubtfulSegmentThroughUnlessForced) {
    RunResult r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) +
                                              "' --frames 60 --kind window --late alternate --band 200,96 --shift 5 "
                                              "--tff 1 --size 480x360 --pan 3,0.7 --picture testsrc2.ppm > doubt.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    const RunResult analysis = run_pelta(dir_->path(), "analyze --json doubt.y4m");
    ASSERT_EQ(analysis.status, 0) << analysis.err;
    ASSERT_LT(std::stod(json_value(analysis.out, "confidence")), 0.5) << analysis.out;
    const std::string in = read_file(path("doubt.y4m"));

    r = run_pelta(dir_->path(), "--auto -q doubt.y4m passed.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("pelta: --auto: frames 0..end (window, confidence 0.4"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("): passed through (doubtful: below 0.50; --force filters it)\n"), std::string::npos) << r.err;
    EXPECT_TRUE(after_header(read_file(path("passed.y4m"))) == after_header(in));

    r = run_pelta(dir_->path(), "--auto --force -q doubt.y4m forced.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string cmd = json_text(analysis.out, "command");
    EXPECT_NE(r.err.find("filtering with " + cmd.substr(6) + " (doubtful; --force)\n"), std::string::npos) << r.err;
    r = run_pelta(dir_->path(), "-q " + cmd.substr(6) + " doubt.y4m want.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(path("forced.y4m")) == read_file(path("want.y4m")));
}

namespace {

// Every frame of a Y4M stream in the filter's samples, w pixels a row.
std::vector<std::vector<PIXEL_YC>> yc_frames(const std::string& y4m, int& w, int& h) {
    pelta_cli::MemorySource src(reinterpret_cast<const uint8_t*>(y4m.data()), y4m.size());
    pelta_cli::Y4mReader reader(src);
    std::string error;
    EXPECT_TRUE(reader.read_header(error)) << error;
    const pelta_cli::Y4mHeader& hd = reader.header();
    w = hd.width;
    h = hd.height;
    std::vector<std::vector<PIXEL_YC>> frames;
    std::vector<uint8_t> planes;
    while (reader.read_frame(planes, error) == pelta_cli::ReadStatus::Frame) {
        frames.emplace_back(static_cast<size_t>(w) * static_cast<size_t>(h));
        pelta_cli::planes_to_yc(planes.data(), hd.chroma, w, h, frames.back().data(), w, hd.depth);
    }
    return frames;
}

// A picture with detail in both directions, w x h, columns from `dx` on
// moved `move` pixels along the row, plus grain of `sigma` (the filter's
// samples) from `seed`.
std::vector<PIXEL_YC> scene(int w, int h, int dx, double move, double sigma, unsigned seed, double content = 0) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> grain(0.0, sigma);
    std::vector<PIXEL_YC> p(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = x + (x >= dx ? move : 0.0);
            // From dx on, with `content`, another picture: brighter, and of
            // other detail.
            const double other = x >= dx ? content : 0.0;
            const double v = 2048 + 900 * other + 600 * std::sin(0.37 * u + 0.11 * y + other) +
                             400 * std::cos(0.05 * u * (1 + other) - 0.23 * y) + (sigma > 0 ? grain(rng) : 0.0);
            p[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] = PIXEL_YC{static_cast<int16_t>(v), 0, 0};
        }
    return p;
}

}  // namespace

// A tear, measured in the output: a step across an edge of the window that
// the input does not show there, beyond the columns beside it and beyond the
// grain. An edge where the content itself changes (the same in input and
// output) is no tear, nor is an edge outside the picture.
TEST(AnalyzeTear, AStepAcrossTheWindowEdgeThatTheInputDoesNotShow) {
    constexpr int w = 64, h = 40;
    const struct {
        const char* name;
        std::vector<PIXEL_YC> input, output;
        int left, right;
        double grain;
        bool torn;
    } cases[] = {
        {"the picture moved 3 pixels from the window on", scene(w, h, 0, 0, 0, 1), scene(w, h, 24, 3, 0, 1), 24, 48, 0,
         true},
        {"... at the window's right edge", scene(w, h, 0, 0, 0, 1), scene(w, h, 40, 3, 0, 1), 8, 40, 0, true},
        {"... with grain", scene(w, h, 0, 0, 16, 1), scene(w, h, 24, 3, 16, 2), 24, 48, 16, true},
        {"no step", scene(w, h, 0, 0, 16, 1), scene(w, h, 0, 0, 16, 2), 24, 48, 16, false},
        {"a step the input shows too", scene(w, h, 24, 3, 0, 1), scene(w, h, 24, 3, 0, 1), 24, 48, 0, false},
        {"another picture from the edge on, in both", scene(w, h, 24, 0, 0, 1, 1.3), scene(w, h, 24, 2, 0, 1, 1.3), 24,
         48, 0, false},
        {"a step drowned in grain", scene(w, h, 0, 0, 400, 1), scene(w, h, 24, 0.3, 400, 2), 24, 48, 400, false},
        {"the step outside the window's edges", scene(w, h, 0, 0, 0, 1), scene(w, h, 30, 3, 0, 1), 24, 48, 0, false},
        {"a window whose left edge is the picture's", scene(w, h, 0, 0, 0, 1), scene(w, h, 1, 3, 0, 1), 0, 48, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pelta_cli::analysis::torn_frame(c.input.data(), c.output.data(), w, w, h, c.left, c.right, c.grain),
                  c.torn)
            << c.name;
    }
}

// The same on generated bands that show the picture around them (their
// edges show no change of content), filtered by pelta under each TFF: a band
// whose late field is the one the setting moves is restored and does not
// tear, and under the other TFF it tears; a band with one picture per frame
// pair is restored by either setting, but under TFF off shows the pair's
// other moment than the picture around it, and tears; with the rest late
// the other way the band never keeps step with it. The analysis warns of a
// tear exactly where its own settings' output tears, and names the other
// TFF where that removes it.
TEST_F(AnalyzeClips, TearsMeasuredInTheFilteredOutput) {
    const std::string common = "--kind window --picture mandelbrot.ppm --size 480x360 --chroma 420i --frames 60 "
                               "--band 160,128 --shift 8 --tff 1 --pan 2,0.5 --grain 1 --band-scene same ";
    const struct {
        const char* name;
        const char* clip;
        bool torn[2];  // under TFF off, on
    } cases[] = {
        {"late band", "--late bottom --band-motion late", {true, false}},
        {"pair band", "--late bottom --band-motion pair", {true, false}},
        {"late band, the rest late the other way", "--late top --band-motion late", {true, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) + "' " + common + c.clip + " > tear.y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        int w = 0, h = 0;
        const auto in = yc_frames(read_file(path("tear.y4m")), w, h);
        for (int tff = 0; tff < 2; ++tff) {
            r = run_pelta(dir_->path(), "-q --left 160 --width 128 --shift 8 --lpf 0 --tff " + std::to_string(tff) +
                                            " tear.y4m torn.y4m");
            ASSERT_EQ(r.status, 0) << r.err;
            const auto out = yc_frames(read_file(path("torn.y4m")), w, h);
            ASSERT_EQ(in.size(), out.size());
            long torn = 0;
            for (size_t f = 0; f < in.size(); ++f)
                torn += pelta_cli::analysis::torn_frame(in[f].data(), out[f].data(), w, w, h, 160, 288, 16.0);
            EXPECT_EQ(torn * 10 >= static_cast<long>(in.size()), c.torn[tff])
                << "TFF " << tff << ": " << torn << " of " << in.size() << " frames torn";
        }
        r = run_pelta(dir_->path(), "analyze --json tear.y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        const int tff = json_int(r.out, "tff");
        ASSERT_TRUE(tff == 0 || tff == 1) << r.out;
        EXPECT_EQ(r.out.find("a tear:") != std::string::npos, c.torn[tff]) << r.out;
        if (c.torn[tff] && !c.torn[1 - tff]) {
            EXPECT_NE(r.out.find("--tff " + std::to_string(1 - tff) + " removes it"), std::string::npos) << r.out;
        }
        if (c.torn[tff] && c.torn[1 - tff]) {
            EXPECT_EQ(r.out.find("removes it without"), std::string::npos) << r.out;
        }
    }
}

// Where the analysis names a setting that removes a tear, that setting does:
// its output tears in fewer than a tenth of the frames, and the columns
// around the window's edges come out no more combed than with the
// suggested settings. Moving an edge 8 columns out into the picture around a
// band loses the step the tear is measured by while the window combs those
// columns; that advice must not be given.
TEST_F(AnalyzeClips, TheTearAdviceRemovesTheTear) {
    // A band of one picture per frame pair, the rest late: it tears under
    // either TFF, and 8 columns out of the band the picture is finely drawn.
    RunResult r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) +
                                              "' --kind window --picture mandelbrot.ppm --size 720x480 --frames 60 "
                                              "--pan -1.3311,0.5620 --soft 0.8 --chroma 422 --grain 3 --late bottom "
                                              "--band 121,400 --shift 20 --tff 0 --band-motion pair --band-scene same "
                                              "> tear.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_pelta(dir_->path(), "analyze --json tear.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = r.out;
    const size_t said = json.find(" removes it without combing more");
    if (said == std::string::npos) return;
    const size_t from = json.rfind("; ", said) + 2;
    const std::string advice = json.substr(from, said - from);
    int left = json_int(json, "left"), width = json_int(json, "width");
    const int tff = json_int(json, "tff"), right = left + width;
    auto run = [&](const std::string& options) {
        const RunResult f = run_pelta(dir_->path(), "-q --shift " + std::to_string(json_int(json, "shift")) +
                                                        " --lpf " + std::to_string(json_int(json, "lpf")) + " " +
                                                        options + " tear.y4m out.y4m");
        EXPECT_EQ(f.status, 0) << f.err;
        return read_file(path("out.y4m"));
    };
    const std::string suggested = run("--left " + std::to_string(left) + " --width " + std::to_string(width) +
                                      " --tff " + std::to_string(tff));
    std::string options = advice;
    if (advice.rfind("--left ", 0) == 0) {
        ASSERT_EQ(std::sscanf(advice.c_str(), "--left %d --width %d", &left, &width), 2) << advice;
        options += " --tff " + std::to_string(tff);
    } else {
        options += " --left " + std::to_string(left) + " --width " + std::to_string(width);
    }
    const std::string advised = run(options);
    int w = 0, h = 0;
    const auto in = yc_frames(read_file(path("tear.y4m")), w, h), out = yc_frames(advised, w, h);
    ASSERT_EQ(out.size(), in.size());
    long torn = 0;
    for (size_t f = 0; f < in.size(); ++f)
        torn += pelta_cli::analysis::torn_frame(in[f].data(), out[f].data(), w, w, h, left, left + width, 3.0);
    EXPECT_LT(torn * 10, static_cast<long>(in.size())) << advice << ": " << torn << " frames torn";
    for (int edge : {json_int(json, "left"), right}) {
        const double before = combing(suggested, edge - 8, edge + 8).band;
        const double after = combing(advised, edge - 8, edge + 8).band;
        EXPECT_LE(after, std::max(1.03 * before, before + 0.1)) << advice << " at column " << edge;
    }
}
