// pelta_make_clip --part: the long corpus (bench/long_captures.sh) joins
// stretches of different kinds made as parts of one longer clip, and its
// truth holds only if a part is exactly those frames of the longer clip and
// the picture around the band does not depend on the kind or the band.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace cli_test;

namespace {

constexpr int kW = 160, kH = 120, kFrames = 24;

// The frames of a Y4M stream, each with its FRAME line.
std::vector<std::string> frames_of(const std::string& y4m) {
    std::vector<std::string> frames;
    const size_t bytes = static_cast<size_t>(kW) * kH * 3 / 2;  // 4:2:0
    size_t pos = y4m.find('\n') + 1;
    while (pos < y4m.size()) {
        const size_t end = y4m.find('\n', pos) + 1 + bytes;
        frames.push_back(y4m.substr(pos, end - pos));
        pos = end;
    }
    return frames;
}

class MakeClipPart : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir;
        const int pw = 240, ph = 180;
        std::string ppm = "P6 " + std::to_string(pw) + " " + std::to_string(ph) + " 255\n";
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                const double v = 128 + 90 * std::sin(x * 0.23 + y * 0.07) * std::cos(y * 0.17 + x * 0.013);
                ppm += static_cast<char>(static_cast<int>(v));
                ppm += static_cast<char>(255 - static_cast<int>(v));
                ppm += static_cast<char>((x * 3 + y * 5) & 255);
            }
        write_file(*dir_ / "pic.ppm", ppm);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    // The clip's frames (and its truth's text in *truth) made with `args`.
    static std::vector<std::string> make(const std::string& args, std::string* truth = nullptr) {
        const RunResult r = run_shell(dir_->path(), "'" + std::string(PELTA_MAKE_CLIP) +
                                                        "' --picture pic.ppm --size 160x120 --chroma 420i " + args +
                                                        " --truth t.json > c.y4m");
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
        if (truth) *truth = read_file(*dir_ / "t.json");
        return frames_of(read_file(*dir_ / "c.y4m"));
    }
    static ScratchDir* dir_;
};
ScratchDir* MakeClipPart::dir_ = nullptr;

// The options that shape the picture: a pan, a cut between the fields of a
// frame, a still and a black stretch, grain, a slow zoom.
const std::string kScene = "--frames 24 --seed 5 --pan 1.3,0.4 --cut 10.5 --still 14,16 --black 5,6 --grain 2 "
                           "--zoom 0.002";

// Parts of every kind, joined, are the whole clip made as one part (a band
// showing another place of the picture is placed for its part's own
// frames, so only a band showing the picture around it is compared); without
// --part a clip without a band is the same picture.
TEST_F(MakeClipPart, PartsJoinIntoTheWholeClip) {
    const char* kinds[] = {"--kind progressive", "--kind pulldown", "--kind interlaced",
                           "--kind match --late random",
                           "--kind window --late alternate --late-period 7 --band 40,48 --shift 11 --tff 0 "
                           "--band-motion late --band-scene same",
                           "--kind window --band 100,40 --shift 5 --band-scene same"};
    for (const char* kind : kinds) {
        SCOPED_TRACE(kind);
        const std::string base = std::string(kind) + " " + kScene;
        const std::vector<std::string> whole = make(base + " --part 0,24");
        ASSERT_EQ(whole.size(), static_cast<size_t>(kFrames));
        std::vector<std::string> joined;
        for (const char* part : {"0,7", "7,10", "17,7"}) {
            std::vector<std::string> f = make(base + " --part " + part);
            joined.insert(joined.end(), f.begin(), f.end());
        }
        ASSERT_EQ(joined.size(), whole.size());
        for (size_t i = 0; i < whole.size(); ++i) EXPECT_EQ(joined[i], whole[i]) << "frame " << i;
        if (std::string(kind).find("--band") == std::string::npos) {
            EXPECT_EQ(make(base), whole);
        }
    }
}

// A part's truth numbers its frames as the longer clip does: the field times
// of frames 7..16 are those of the whole clip's frames 7..16.
TEST_F(MakeClipPart, TruthKeepsTheLongerClipsTimes) {
    std::string whole, part;
    make("--kind match --late random " + kScene + " --part 0,24", &whole);
    make("--kind match --late random " + kScene + " --part 7,10", &part);
    auto times = [](const std::string& t) {
        const size_t a = t.find("\"field_times\": [") + 16;
        return t.substr(a, t.find("]]", a) - a + 1);
    };
    const std::string w = times(whole), p = times(part);
    // Frame k of the whole clip's list is its k-th "[top, bottom]".
    auto nth = [](const std::string& s, int k) {
        size_t at = 0;
        for (int i = 0; i < k; ++i) at = s.find('[', at) + 1;
        const size_t a = s.find('[', at);
        return s.substr(a, s.find(']', a) - a + 1);
    };
    for (int k = 0; k < 10; ++k) EXPECT_EQ(nth(p, k), nth(w, 7 + k)) << "frame " << 7 + k;
    EXPECT_NE(part.find("\"part\": [7, 10]"), std::string::npos);
    EXPECT_NE(part.find("\"frames\": 10"), std::string::npos);
}

// Around the band, a window part shows the very picture that a match part
// of the same scene shows, whatever the band: a change of kind without a cut.
TEST_F(MakeClipPart, TheBandLeavesThePictureAroundIt) {
    const std::vector<std::string> match = make("--kind match --late top " + kScene + " --part 8,12");
    for (const char* band : {"--band 40,48 --shift 11 --band-pan 2.5,1", "--band 0,120 --shift 90 --tff 0",
                             "--band 64,32 --shift 3 --band-scene same --band-motion late"}) {
        SCOPED_TRACE(band);
        const std::vector<std::string> window =
            make("--kind window --late top " + std::string(band) + " " + kScene + " --part 8,12");
        ASSERT_EQ(window.size(), match.size());
        int left = 0, width = 0;
        ASSERT_EQ(std::sscanf(std::string(band).c_str(), "--band %d,%d", &left, &width), 2);
        int differ = 0;
        for (size_t i = 0; i < match.size(); ++i) {
            const std::string& a = match[i];
            const std::string& b = window[i];
            ASSERT_EQ(a.size(), b.size());
            const size_t luma = a.find('\n') + 1;
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) {
                    const size_t at = luma + static_cast<size_t>(y) * kW + x;
                    if (x >= left && x < left + width) {
                        differ += a[at] != b[at];
                    } else {
                        ASSERT_EQ(a[at], b[at]) << "frame " << i << " row " << y << " column " << x;
                    }
                }
        }
        EXPECT_GT(differ, 0);  // the band itself is another picture
    }
}

}  // namespace
