// Y4M at 9 to 16 bits end to end, with ffmpeg making the clips and reading
// what pelta writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace cli_test;

namespace {

bool have_ffmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0; }

constexpr int kW = 96, kH = 64, kFrames = 5;

// A still clip from ffmpeg: one picture of testsrc2 repeated, so weaving any
// two of its fields rebuilds the picture and the filter (without its
// low-pass) changes nothing.
std::string make_still(const ScratchDir& dir, const std::string& pix_fmt, const std::string& name) {
    const RunResult r = run_shell(dir.path(), "ffmpeg -y -v error -f lavfi -i 'testsrc2=s=" + std::to_string(kW) + "x" +
                                                  std::to_string(kH) + ":r=25,trim=end_frame=1,loop=loop=" +
                                                  std::to_string(kFrames - 1) + ":size=1' -pix_fmt " + pix_fmt +
                                                  " -strict -1 -f yuv4mpegpipe " + name);
    EXPECT_EQ(r.status, 0) << r.err;
    return read_file(dir / name);
}

// The 16-bit samples of every frame of a Y4M stream of `samples` samples a frame.
std::vector<std::vector<int>> words(const std::string& y4m, size_t samples) {
    Y4mClip clip;
    EXPECT_TRUE(split_y4m(y4m, samples * 2, clip));
    std::vector<std::vector<int>> out;
    for (const std::string& f : clip.frames) {
        std::vector<int> v(samples);
        for (size_t i = 0; i < samples; ++i)
            v[i] = static_cast<unsigned char>(f[2 * i]) | static_cast<unsigned char>(f[2 * i + 1]) << 8;
        out.push_back(v);
    }
    return out;
}

std::string probe(const ScratchDir& dir, const std::string& file) {
    const RunResult r = run_shell(dir.path(), "ffprobe -v error -count_frames -show_entries "
                                              "stream=pix_fmt,nb_read_frames -of csv=p=0 " + file);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

}  // namespace

// 4:4:4 at 10 and 12 bits comes back byte for byte; 4:2:2 brings luma back
// exactly and each chroma row as the resampling leaves it: the 1/8, 6/8, 1/8
// smoothing of co-sited chroma (edges repeated), within one code.
TEST(CliHighDepth, StillClipsComeBack) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg not installed (scripts/deps.sh test installs it)";
    ScratchDir dir;
    for (const int depth : {10, 12}) {
        const std::string d = std::to_string(depth);
        const std::string in444 = make_still(dir, "yuv444p" + d + "le", "in444.y4m");
        RunResult r = run_pelta(dir.path(), "--quiet --lpf 0 in444.y4m out444.y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(in444.substr(0, in444.find('\n')), "YUV4MPEG2 W96 H64 F25:1 Ip A1:1 C444p" + d + " XYSCSS=444P" + d +
                                                         " XCOLORRANGE=LIMITED");
        EXPECT_TRUE(read_file(dir / "out444.y4m") == in444) << depth << "-bit 4:4:4 changed";

        const std::string in422 = make_still(dir, "yuv422p" + d + "le", "in422.y4m");
        r = run_pelta(dir.path(), "--quiet --lpf 0 in422.y4m out422.y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string out422 = read_file(dir / "out422.y4m");
        EXPECT_EQ(out422.substr(0, out422.find('\n')), in422.substr(0, in422.find('\n')));
        const int cw = kW / 2;
        const size_t luma = static_cast<size_t>(kW) * kH, chroma = static_cast<size_t>(cw) * kH;
        const auto a = words(in422, luma + 2 * chroma), b = words(out422, luma + 2 * chroma);
        ASSERT_EQ(a.size(), static_cast<size_t>(kFrames));
        ASSERT_EQ(b.size(), a.size());
        int worst = 0, changed = 0;
        for (size_t f = 0; f < a.size(); ++f) {
            for (size_t i = 0; i < luma; ++i) ASSERT_EQ(b[f][i], a[f][i]) << depth << "-bit luma sample " << i;
            for (size_t i = luma; i < a[f].size(); ++i) {
                const size_t x = (i - luma) % cw;
                const int left = a[f][x > 0 ? i - 1 : i], right = a[f][x + 1 < static_cast<size_t>(cw) ? i + 1 : i];
                const double smooth = (left + 6.0 * a[f][i] + right) / 8.0;
                worst = std::max(worst, static_cast<int>(std::abs(b[f][i] - smooth) + 0.5));
                changed += b[f][i] != a[f][i];
            }
        }
        EXPECT_LE(worst, 1) << depth << "-bit 4:2:2 chroma";
        EXPECT_GT(changed, 0) << "the picture has chroma detail, which the smoothing changes";
    }
}

// Every output format pelta can be asked for is one ffmpeg reads: each depth
// of --out-depth with each chroma format, from 8-bit and from deeper input,
// and the depths ffmpeg writes besides (9 and 14) kept as they came. An
// 8-bit 4:4:4 picture made 10 or 12 bits deep is what ffmpeg makes of it.
TEST(CliHighDepth, FfmpegReadsEveryOutputFormat) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg not installed (scripts/deps.sh test installs it)";
    ScratchDir dir;
    make_still(dir, "yuv420p", "in8.y4m");
    make_still(dir, "gray10le", "gray10.y4m");
    struct Case {
        const char* input;
        std::string args, pix_fmt;
    };
    std::vector<Case> cases;
    for (const std::string d : {"8", "10", "12", "16"}) {
        const std::string suffix = d == "8" ? "p" : "p" + d + "le";
        cases.push_back({"in8.y4m", "--out-depth " + d + " --out-chroma 444", "yuv444" + suffix});
        cases.push_back({"in8.y4m", "--out-depth " + d + " --out-chroma 422", "yuv422" + suffix});
        cases.push_back({"in8.y4m", "--out-depth " + d, "yuv420" + suffix});
        cases.push_back({"gray10.y4m", "--out-depth " + d, d == "8" ? "gray" : "gray" + d + "le"});
    }
    for (const std::string fmt : {"yuv420p9le", "yuv422p14le", "yuv444p14le", "gray9le"}) {
        make_still(dir, fmt, fmt + ".y4m");
        cases.push_back({nullptr, fmt + ".y4m", fmt});
    }
    for (const Case& c : cases) {
        const std::string input = c.input ? c.input : "";
        const RunResult r = run_pelta(dir.path(), "--quiet " + c.args + " " + input + " out.y4m");
        ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_EQ(probe(dir, "out.y4m"), c.pix_fmt + "," + std::to_string(kFrames)) << input << " " << c.args;
    }

    make_still(dir, "yuv444p", "in444.y4m");
    for (const std::string d : {"10", "12"}) {
        const RunResult r = run_pelta(dir.path(), "--quiet --lpf 0 --out-depth " + d + " in444.y4m deep.y4m");
        ASSERT_EQ(r.status, 0) << r.err;
        const RunResult f = run_shell(dir.path(), "ffmpeg -y -v error -i in444.y4m -pix_fmt yuv444p" + d +
                                                      "le -strict -1 -f yuv4mpegpipe ffmpeg.y4m");
        ASSERT_EQ(f.status, 0) << f.err;
        EXPECT_TRUE(read_file(dir / "deep.y4m") == read_file(dir / "ffmpeg.y4m")) << d << " bits";
    }
}

// A 10-bit pipeline as docs/cli.md shows it, through pipes both ways.
TEST(CliHighDepth, TenBitPipeline) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg not installed (scripts/deps.sh test installs it)";
    ScratchDir dir;
    const RunResult r = run_shell(
        dir.path(), "ffmpeg -v error -f lavfi -i testsrc2=s=176x144:r=25 -frames:v 9 -pix_fmt yuv422p10le -strict -1 "
                    "-f yuv4mpegpipe - | '" + pelta_bin() + "' --quiet - - | "
                    "ffmpeg -v error -f yuv4mpegpipe -i - -c:v ffv1 out.mkv && "
                    "ffprobe -v error -count_frames -show_entries stream=pix_fmt,nb_read_frames -of csv=p=0 out.mkv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "yuv422p10le,9\n");
}
