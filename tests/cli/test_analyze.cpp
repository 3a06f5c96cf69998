// pelta analyze on generated clips whose right settings are known: the kind,
// the settings within tolerance, and, what counts, a picture restored no
// worse than the right settings restore it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/sample_runner.h"
#include "cli_test_util.h"
#include "io/y4m.h"
#include "plugin/descriptor.h"

using namespace cli_test;

namespace {

bool have_ffmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// The still pictures the clips pan across, rendered once: the sample's own
// source (ffmpeg's testsrc2) and a detailed fractal, both softened and given
// grain as a camera would.
class AnalyzeClips : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!have_ffmpeg()) return;
        dir_ = new ScratchDir;
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
    const std::string tag = "\"" + key + "\": ";
    const size_t at = json.find(tag);
    if (at == std::string::npos) return "";
    const size_t from = at + tag.size();
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
        pelta_cli::add_column_energy(frame.data(), hd.width, hd.width, hd.height, comb.data(), field.data(), nullptr);
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
    const char* kind;
    int left, width, shift, tff;  // the generator's settings (window kinds)
};

const Case kCases[] = {
    {"progressive", "--kind progressive --size 720x480", "mandelbrot", "progressive", 0, 0, 0, 1},
    {"progressive_444", "--kind progressive --size 480x360 --chroma 444", "testsrc2", "progressive", 0, 0, 0, 1},
    {"pulldown", "--kind pulldown --size 720x480", "mandelbrot", "pulldown", 0, 0, 0, 1},
    {"pulldown_444", "--kind pulldown --size 480x360 --chroma 444", "testsrc2", "pulldown", 0, 0, 0, 1},
    {"interlaced", "--kind interlaced --size 720x480", "mandelbrot", "interlaced", 0, 0, 0, 1},
    {"interlaced_small", "--kind interlaced --size 480x360", "testsrc2", "interlaced", 0, 0, 0, 1},
    {"match_bottom_late", "--kind match --late bottom --size 720x480", "mandelbrot", "match", 0, 0, 0, 1},
    {"match_top_late_444", "--kind match --late top --size 480x360 --chroma 444", "testsrc2", "match", 0, 0, 0, 1},
    {"match_alternate_10bit", "--kind match --late alternate --size 480x360 --depth 10", "mandelbrot", "match", 0,
     0, 0, 1},
    {"window_fractional", "--kind window --late alternate --band 104,342 --shift 26 --tff 1 --size 720x480",
     "mandelbrot", "window", 104, 342, 26, 1},
    {"window_whole_tff0", "--kind window --late bottom --band 400,200 --shift 16 --tff 0 --size 720x480",
     "testsrc2", "window", 400, 200, 16, 0},
    {"window_left_edge_444", "--kind window --late top --band 0,160 --shift 40 --tff 1 --size 480x360 --chroma 444",
     "mandelbrot", "window", 0, 160, 40, 1},
    {"window_narrow_small_shift", "--kind window --late alternate --band 200,96 --shift 5 --tff 1 --size 480x360",
     "testsrc2", "window", 200, 96, 5, 1},
    {"window_right_edge_444", "--kind window --late bottom --band 560,160 --shift 64 --tff 0 --size 720x480 --chroma 444",
     "mandelbrot", "window", 560, 160, 64, 0},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class AnalyzeKinds : public AnalyzeClips, public ::testing::WithParamInterface<Case> {};

// Each clip's kind; for pelta's kinds, settings close to the generator's and a
// restored picture as clean, in the band and outside it, as with the
// generator's own settings.
TEST_P(AnalyzeKinds, NamesTheKindAndSettingsThatRestoreThePicture) {
    const Case& c = GetParam();
    const std::string clip = path(std::string(c.name) + ".y4m");
    RunResult r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) + "' --frames 60 --picture " +
                                              c.picture + ".ppm " + c.clip + " > '" + clip + "'");
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
    EXPECT_NEAR(left, c.left, 4) << json;
    EXPECT_NEAR(left + width, c.left + c.width, 4) << json;
    EXPECT_NEAR(shift, c.shift, 2) << json;

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
    const Combing right = filtered(c.left, c.width, c.shift, c.tff);
    EXPECT_LE(suggested.band, right.band * 1.15 + 0.03) << json;
    EXPECT_LE(suggested.rest, right.rest * 1.15 + 0.03) << json;
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
    };
    for (const auto& p : pictures) {
        SCOPED_TRACE(p.name);
        std::vector<PIXEL_YC> frame(static_cast<size_t>(stride) * h, PIXEL_YC{4000, 0, 0});
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) frame[static_cast<size_t>(y * stride + x)].y = static_cast<int16_t>(p.row(y));
        std::vector<double> comb(w), field(w), field4(w);
        pelta_cli::add_column_energy(frame.data(), stride, w, h, comb.data(), field.data(), field4.data());
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
