// The demo's sample clip and ffmpeg on both sides of pelta.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace cli_test;

namespace {

bool have_ffmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// Share of pixels in columns [x0, x1) of an 8-bit luma plane whose row
// stands out from both neighbouring rows in the same direction by more than
// 12 code values: the zig-zag that weaving fields of different moments leaves.
double zigzag_share(const std::string& plane, int w, int h, int x0, int x1) {
    long combed = 0, total = 0;
    auto at = [&](int x, int y) { return static_cast<unsigned char>(plane[static_cast<size_t>(y) * w + x]); };
    for (int y = 1; y + 1 < h; ++y)
        for (int x = x0; x < x1; ++x) {
            const int up = at(x, y) - at(x, y - 1), down = at(x, y) - at(x, y + 1);
            if ((up > 12 && down > 12) || (up < -12 && down < -12)) ++combed;
            ++total;
        }
    return static_cast<double>(combed) / static_cast<double>(total);
}

struct Shares {
    double outside = 0, window = 0;  // mean over frames
};
Shares measure(const std::string& y4m) {
    Y4mClip c;
    const int w = 720, h = 480;
    EXPECT_TRUE(split_y4m(y4m, w * h * 3 / 2, c));
    Shares s;
    for (const std::string& f : c.frames) {
        const std::string luma = f.substr(0, static_cast<size_t>(w) * h);
        s.outside += zigzag_share(luma, w, h, 0, 320) / static_cast<double>(c.frames.size());
        s.window += zigzag_share(luma, w, h, 320, 640) / static_cast<double>(c.frames.size());
    }
    return s;
}

}  // namespace

// The sample shows what the filter is for: combed throughout, inside and
// outside the window, and clean after the default settings.
TEST(CliSample, DefaultSettingsCleanUpTheSampleClip) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg not installed (scripts/deps.sh test installs it)";
    ScratchDir dir;
    RunResult r = run_shell(dir.path(), "'" + source_dir() + "/scripts/make_sample.sh' sample.y4m 2");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_pelta(dir.path(), "--quiet --log log.csv sample.y4m out.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string in = read_file(dir / "sample.y4m");
    EXPECT_EQ(in.substr(0, in.find('\n')), "YUV4MPEG2 W720 H480 F30000:1001 It A1:1 C420jpeg XYSCSS=420JPEG");
    const Shares before = measure(in), after = measure(read_file(dir / "out.y4m"));
    EXPECT_GT(before.outside, 0.005);
    EXPECT_GT(before.window, 0.005);
    EXPECT_LT(after.outside, before.outside / 10) << before.outside << " -> " << after.outside;
    EXPECT_LT(after.window, before.window / 10) << before.window << " -> " << after.window;

    // The weave that repairs a frame changes during the clip: the log shows
    // matches on both sides of the current frame.
    const std::string log = read_file(dir / "log.csv");
    bool earlier = false, later = false;
    size_t pos = log.find('\n') + 1;
    while (pos < log.size()) {
        int f, m;
        if (std::sscanf(log.c_str() + pos, "%d,%d,", &f, &m) == 2) {
            earlier |= m == f;
            later |= m == f + 1;
        }
        pos = log.find('\n', pos) + 1;
        if (pos == 0) break;
    }
    EXPECT_TRUE(earlier && later);
}

// ffmpeg's Y4M goes in (with its extension tags and each chroma format) and
// pelta's comes out readable by ffmpeg, frame for frame.
TEST(CliSample, FfmpegPipelinesBothWays) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg not installed (scripts/deps.sh test installs it)";
    ScratchDir dir;
    for (const std::string fmt : {"yuv420p", "yuv422p", "yuv444p", "gray"}) {
        RunResult r = run_shell(
            dir.path(),
            "ffmpeg -v error -f lavfi -i testsrc2=s=176x144:r=25 -frames:v 9 -pix_fmt " + fmt +
                " -field_order tt -f yuv4mpegpipe - | '" + pelta_bin() + "' --quiet - - | "
                "ffmpeg -v error -f yuv4mpegpipe -i - -f framecrc -");
        ASSERT_EQ(r.status, 0) << fmt << ": " << r.err;
        int frames = 0;
        for (size_t p = 0; (p = r.out.find("\n0,", p)) != std::string::npos; ++p) ++frames;
        EXPECT_EQ(frames, 9) << fmt << "\n" << r.out;
    }
}
