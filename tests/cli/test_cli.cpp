// End-to-end tests of the pelta binary: formats, streaming, strides, the
// decision log against the filter run in memory, errors and host switches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_util.h"
#include "plugin/descriptor.h"
#include "pelta_version.h"

using namespace pelta;

using namespace cli_test;

namespace {

// Small frames with the processing window scaled down to them.
constexpr int kW = 100, kH = 48;
const std::string kWindow = "--left 30 --width 20";
const std::string kRawSize = "--raw 100x48";

void small_window(int track[TRACK_COUNT]) {
    track[TRACK_LEFT] = 30;
    track[TRACK_WIDTH] = 20;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream s(text);
    for (std::string l; std::getline(s, l);) out.push_back(l);
    return out;
}

// The log row a title stands for.
std::string expected_row(size_t frame, const std::string& title) {
    if (title == "FAILED") return std::to_string(frame) + ",,,,failed";
    if (title.empty()) return std::to_string(frame) + ",,,,ok";
    int m, c, t;
    EXPECT_EQ(std::sscanf(title.c_str(), "pelta num:%d comb:%d comb_th:%d", &m, &c, &t), 3) << title;
    return std::to_string(frame) + "," + std::to_string(m) + "," + std::to_string(c) + "," + std::to_string(t) + ",ok";
}

Y4mClip planes_clip(const std::string& header, const std::vector<std::string>& frames) {
    Y4mClip c;
    c.header = header;
    c.frames = frames;
    return c;
}

// Random 8-bit planes: luma anywhere, chroma rows holding one value per field
// (the pictures the chroma resampling promises to keep).
std::vector<std::string> per_field_chroma_frames(size_t luma, size_t chroma, int cw, int frames, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    for (int f = 0; f < frames; ++f) {
        std::string p(luma + 2 * chroma, '\0');
        for (size_t i = 0; i < luma; ++i) p[i] = static_cast<char>(rng());
        for (int comp = 0; comp < 2; ++comp) {
            const char v[2] = {static_cast<char>(rng()), static_cast<char>(rng())};
            for (size_t i = 0; i < chroma; ++i) p[luma + comp * chroma + i] = v[(i / static_cast<size_t>(cw)) & 1];
        }
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace

// ---- round trips ----------------------------------------------------------------

// Pictures the filter hands back untouched must come out byte for byte: the
// range display with an empty window returns every frame as it entered, and a
// still clip without the low-pass weaves back to itself.
TEST(CliRoundTrip, RawFramesComeBackExactly) {
    ScratchDir dir;
    Clip clip;
    clip.w = 37;
    clip.h = 11;
    std::mt19937 rng(5);
    for (int f = 0; f < 5; ++f) {
        Frame fr(static_cast<size_t>(clip.w) * clip.h);
        for (auto& p : fr)
            p = PIXEL_YC{static_cast<int16_t>(rng()), static_cast<int16_t>(rng()), static_cast<int16_t>(rng())};
        clip.frames.push_back(fr);
    }
    write_file(dir / "in.raw", raw_bytes(clip));
    RunResult r = run_pelta(dir.path(), "--raw 37x11 --range 1 --width 0 --log log.csv in.raw out.raw");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "out.raw"), read_file(dir / "in.raw"));
    EXPECT_EQ(read_file(dir / "log.csv"), "frame,match,comb,comb_th,status\n0,,,,ok\n1,,,,ok\n2,,,,ok\n3,,,,ok\n4,,,,ok\n");

    Clip still = clip;
    for (auto& p : still.frames[0]) p = PIXEL_YC{static_cast<int16_t>(rng() % 4097), 0, 0};
    for (auto& f : still.frames) f = still.frames[0];
    write_file(dir / "still.raw", raw_bytes(still));
    r = run_pelta(dir.path(), "--raw 37x11 --lpf 0 still.raw still-out.raw");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "still-out.raw"), read_file(dir / "still.raw"));
}

TEST(CliRoundTrip, Y4mComesBackExactlyInEveryChromaFormat) {
    ScratchDir dir;
    struct Format {
        const char* tag;
        int cw, ch;  // chroma plane size for 33x10
    };
    const Format formats[] = {{"444", 33, 10},      {"422", 17, 10},      {"420jpeg", 17, 5}, {"420mpeg2", 17, 5},
                              {"420paldv", 17, 5}, {"420", 17, 5},       {"mono", 0, 0}};
    for (const Format& fm : formats) {
        const size_t luma = 33 * 10, chroma = static_cast<size_t>(fm.cw) * fm.ch;
        std::vector<std::string> frames = per_field_chroma_frames(luma, chroma, fm.cw > 0 ? fm.cw : 1, 4, 9);
        if (std::string(fm.tag) == "444" || std::string(fm.tag) == "mono") {
            // Full resolution: any picture at all.
            std::mt19937 rng(2);
            for (auto& f : frames)
                for (auto& b : f) b = static_cast<char>(rng());
        }
        const std::string header = std::string("W33 H10 F25:1 Ib A1:1 C") + fm.tag + " XFOO=bar";
        write_file(dir / "in.y4m", y4m_bytes(planes_clip(header, frames)));
        RunResult r = run_pelta(dir.path(), "--range 1 --width 0 in.y4m out.y4m");
        ASSERT_EQ(r.status, 0) << fm.tag << ": " << r.err;
        EXPECT_EQ(read_file(dir / "out.y4m"), read_file(dir / "in.y4m")) << fm.tag;
    }
}

TEST(CliRoundTrip, OutChromaThereAndBack) {
    ScratchDir dir;
    const int cw = 8, ch = 6;
    const std::vector<std::string> frames = per_field_chroma_frames(16 * 12, cw * ch, cw, 3, 4);
    write_file(dir / "in.y4m", y4m_bytes(planes_clip("W16 H12 F30000:1001 It C420jpeg", frames)));
    RunResult r = run_pelta(dir.path(), "--range 1 --width 0 --out-chroma 444 in.y4m full.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    Y4mClip full;
    ASSERT_TRUE(split_y4m(read_file(dir / "full.y4m"), 16 * 12 * 3, full));
    EXPECT_EQ(full.header, "W16 H12 F30000:1001 It C444");
    EXPECT_EQ(full.frames.size(), 3u);
    r = run_pelta(dir.path(), "--range 1 --width 0 --out-chroma 422 full.y4m half.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_pelta(dir.path(), "--range 1 --width 0 --out-chroma 420 half.y4m back.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "back.y4m"), read_file(dir / "in.y4m"));
}

// ---- streaming ----------------------------------------------------------------

// The filter's output and decisions, frame by frame, equal those of the filter
// run over the whole clip in memory with the clip's true length, whether the
// CLI reads a file or a pipe: the read-ahead hides nothing the filter needs.
TEST(CliStreaming, MatchesTheFilterRunOverTheWholeClip) {
    ScratchDir dir;
    std::set<int> offsets;
    bool lowpassed = false;
    for (int tff : {1, 0}) {
        for (int n : {1, 2, 3, 4, 5, 6, 9, 40}) {
            SCOPED_TRACE("tff " + std::to_string(tff) + ", " + std::to_string(n) + " frames");
            const Clip clip = field_shifted_clip(kW, kH, n);
            write_file(dir / "in.raw", raw_bytes(clip));
            const std::string args = kRawSize + " " + kWindow + " --tff " + std::to_string(tff);
            RunResult from_file = run_pelta(dir.path(), args + " --log file.csv in.raw file.raw");
            ASSERT_EQ(from_file.status, 0) << from_file.err;
            RunResult from_pipe =
                run_shell(dir.path(), "cat in.raw | '" + pelta_bin() + "' " + args + " --log pipe.csv - - > pipe.raw");
            ASSERT_EQ(from_pipe.status, 0) << from_pipe.err;
            EXPECT_EQ(read_file(dir / "pipe.raw"), read_file(dir / "file.raw"));
            EXPECT_EQ(read_file(dir / "pipe.csv"), read_file(dir / "file.csv"));

            int track[TRACK_COUNT], check[CHECK_COUNT];
            default_settings(track, check);
            small_window(track);
            check[CHECK_TFF] = tff;
            const ReferenceRun ref = run_reference(clip, track, check);
            const Clip got = parse_raw(read_file(dir / "file.raw"), kW, kH);
            ASSERT_EQ(got.frames.size(), ref.frames.size());
            for (size_t f = 0; f < ref.frames.size(); ++f)
                EXPECT_TRUE(same_frame(got.frames[f], ref.frames[f])) << "frame " << f << " differs";
            const std::vector<std::string> rows = lines(read_file(dir / "file.csv"));
            ASSERT_EQ(rows.size(), ref.titles.size() + 1);
            EXPECT_EQ(rows[0], "frame,match,comb,comb_th,status");
            for (size_t f = 0; f < ref.titles.size(); ++f) {
                EXPECT_EQ(rows[f + 1], expected_row(f, ref.titles[f]));
                int m, c, t;
                if (std::sscanf(ref.titles[f].c_str(), "pelta num:%d comb:%d comb_th:%d", &m, &c, &t) == 3) {
                    offsets.insert(m - static_cast<int>(f));
                    lowpassed |= c >= t;
                }
            }
        }
    }
    // The material makes the filter pick matches on both sides, score third
    // candidates and low-pass: the comparison above covers all of it.
    EXPECT_GE(offsets.size(), 3u);
    EXPECT_TRUE(lowpassed);
}

TEST(CliStreaming, PipeAndFileGiveIdenticalY4m) {
    ScratchDir dir;
    for (int n : {1, 2, 3, 23}) {
        write_file(dir / "in.y4m", y4m_bytes(planes_clip("W90 H46 F30000:1001 It C420mpeg2",
                                                        field_shifted_planes(90, 46, n))));
        const std::string p = "'" + pelta_bin() + "' --left 20 --width 30 --quiet";
        ASSERT_EQ(run_shell(dir.path(), p + " in.y4m a.y4m").status, 0);
        ASSERT_EQ(run_shell(dir.path(), "cat in.y4m | " + p + " - - | cat > b.y4m").status, 0);
        ASSERT_EQ(run_shell(dir.path(), p + " - c.y4m < in.y4m").status, 0);
        const std::string a = read_file(dir / "a.y4m");
        EXPECT_EQ(a.size(), read_file(dir / "in.y4m").size());
        EXPECT_EQ(read_file(dir / "b.y4m"), a) << n << " frames";
        EXPECT_EQ(read_file(dir / "c.y4m"), a) << n << " frames";
    }
}

// The row stride is the host's business: every stage of the filter must give
// the same picture whatever it is.
TEST(CliStreaming, StrideDoesNotChangeTheOutput) {
    ScratchDir dir;
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(kW, kH, 15)));
    for (const std::string settings : {"", "--cy 1 --shift 5", "--mono 1 --shift 24 --stripe 0", "--tff 0 --shift 9"}) {
        std::string first;
        for (const std::string stride : {"--max-w 100", "", "--max-w 137", "--max-w 1000"}) {
            RunResult r = run_pelta(dir.path(), kRawSize + " " + kWindow + " " + settings + " " + stride + " in.raw out.raw");
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string out = read_file(dir / "out.raw");
            if (first.empty())
                first = out;
            else
                EXPECT_EQ(out, first) << "settings '" << settings << "', stride '" << stride << "'";
        }
    }
}

// ---- host switches -------------------------------------------------------------

TEST(CliHost, RangeDisplayInPreviewAndWhenSaving) {
    ScratchDir dir;
    const Clip clip = field_shifted_clip(kW, kH, 6);
    write_file(dir / "in.raw", raw_bytes(clip));
    RunResult r = run_pelta(dir.path(), kRawSize + " " + kWindow + " --range 1 --log range.csv in.raw range.raw");
    ASSERT_EQ(r.status, 0) << r.err;
    // Preview: each frame as it entered, its window a negative image; no title.
    const Clip shown = parse_raw(read_file(dir / "range.raw"), kW, kH);
    ASSERT_EQ(shown.frames.size(), 6u);
    for (size_t f = 0; f < 6; ++f)
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const PIXEL_YC& in = clip.frames[f][static_cast<size_t>(y) * kW + x];
                const PIXEL_YC& out = shown.frames[f][static_cast<size_t>(y) * kW + x];
                const bool inside = x >= 30 && x < 50;
                ASSERT_EQ(out.y, inside ? 4096 - in.y : in.y) << f << ":" << x << "," << y;
                ASSERT_EQ(out.cb, inside ? -in.cb : in.cb);
                ASSERT_EQ(out.cr, inside ? -in.cr : in.cr);
            }
    EXPECT_EQ(lines(read_file(dir / "range.csv"))[6], "5,,,,ok");

    // Saving: the range display is off and the frames are filtered, exactly
    // as in the preview without it.
    ASSERT_EQ(run_pelta(dir.path(), kRawSize + " " + kWindow + " --range 1 --saving in.raw saving.raw").status, 0);
    ASSERT_EQ(run_pelta(dir.path(), kRawSize + " " + kWindow + " --range 0 in.raw preview.raw").status, 0);
    ASSERT_EQ(run_pelta(dir.path(), kRawSize + " " + kWindow + " --saving in.raw saving0.raw").status, 0);
    EXPECT_EQ(read_file(dir / "saving.raw"), read_file(dir / "preview.raw"));
    EXPECT_EQ(read_file(dir / "saving0.raw"), read_file(dir / "preview.raw"));
    EXPECT_NE(read_file(dir / "saving.raw"), read_file(dir / "range.raw"));
}

// A frame the filter cannot make (a clip of one frame has no match) goes out
// as it came in and is counted; --strict turns that into exit status 1 after
// writing everything.
TEST(CliHost, FailedFramesAreWrittenAsTheyCameIn) {
    ScratchDir dir;
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(kW, kH, 1)));
    RunResult r = run_pelta(dir.path(), kRawSize + " --log log.csv in.raw out.raw");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("pelta: 1 frame in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 failed"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / "out.raw"), read_file(dir / "in.raw"));
    EXPECT_EQ(read_file(dir / "log.csv"), "frame,match,comb,comb_th,status\n0,,,,failed\n");

    r = run_pelta(dir.path(), kRawSize + " --strict in.raw strict.raw");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("failed (--strict)"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / "strict.raw"), read_file(dir / "in.raw"));

    write_file(dir / "two.raw", raw_bytes(field_shifted_clip(kW, kH, 2)));
    r = run_pelta(dir.path(), kRawSize + " --strict two.raw two-out.raw");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("0 failed"), std::string::npos) << r.err;
}

// The TFF check box chooses which fields of even and odd frames are woven
// together, not the source's field order, so the Y4M field-order tag does not
// set it: only --tff does, else the filter's default (on).
TEST(CliHost, FieldOrderTagDoesNotChooseTheWeave) {
    ScratchDir dir;
    const std::vector<std::string> frames = field_shifted_planes(64, 32, 12);
    std::map<std::string, std::string> out;
    for (const std::string tag : {"It", "Ib", "Ip", ""}) {
        write_file(dir / "in.y4m", y4m_bytes(planes_clip("W64 H32 " + tag + " C420jpeg", frames)));
        for (const std::string tff : {"", "--tff 0", "--tff 1"}) {
            RunResult r = run_pelta(dir.path(), "--left 10 --width 16 --quiet " + tff + " in.y4m out.y4m");
            ASSERT_EQ(r.status, 0) << r.err;
            Y4mClip c;
            ASSERT_TRUE(split_y4m(read_file(dir / "out.y4m"), 64 * 32 * 3 / 2, c));
            std::string body;
            for (auto& f : c.frames) body += f;
            out[tag + "|" + tff] = body;
        }
    }
    EXPECT_NE(out["It|--tff 0"], out["It|--tff 1"]);
    for (const std::string tag : {"It", "Ib", "Ip", ""}) {
        EXPECT_EQ(out[tag + "|"], out["It|--tff 1"]) << tag;
        EXPECT_EQ(out[tag + "|--tff 0"], out["It|--tff 0"]) << tag;
        EXPECT_EQ(out[tag + "|--tff 1"], out["It|--tff 1"]) << tag;
    }
}

// Output frames are progressive pictures (Ip), except under the range
// display, which shows the input with its window inverted and keeps its tag.
// Each output frame carries its input frame's FRAME parameters.
TEST(CliHost, OutputFieldFlagAndFrameParameters) {
    ScratchDir dir;
    const std::vector<std::string> frames = field_shifted_planes(64, 32, 5);
    const char* params[] = {"", " Itpi", " XA=1 XB", "", " Ibpi"};
    std::string in = "YUV4MPEG2 W64 H32 F30000:1001 It A1:1 C420jpeg\n";
    for (size_t f = 0; f < frames.size(); ++f) in += std::string("FRAME") + params[f] + "\n" + frames[f];
    write_file(dir / "in.y4m", in);
    struct Case {
        std::string args;
        const char* header;
    };
    const Case cases[] = {
        {"", "YUV4MPEG2 W64 H32 F30000:1001 Ip A1:1 C420jpeg"},
        {"--range 1", "YUV4MPEG2 W64 H32 F30000:1001 It A1:1 C420jpeg"},
        {"--range 1 --saving", "YUV4MPEG2 W64 H32 F30000:1001 Ip A1:1 C420jpeg"},
        {"--out-chroma 444", "YUV4MPEG2 W64 H32 F30000:1001 Ip A1:1 C444"},
    };
    for (const Case& c : cases) {
        for (const std::string sink : {"out.y4m", "- > out.y4m"}) {
            SCOPED_TRACE(c.args + " " + sink);
            RunResult r = run_pelta(dir.path(), "--left 10 --width 16 --quiet " + c.args + " in.y4m " + sink);
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string o = read_file(dir / "out.y4m");
            std::vector<std::string> heads;
            size_t pos = o.find('\n');
            ASSERT_EQ(o.substr(0, pos), c.header);
            const size_t payload = c.args.find("444") != std::string::npos ? 64 * 32 * 3 : 64 * 32 * 3 / 2;
            for (++pos; pos < o.size();) {
                const size_t nl = o.find('\n', pos);
                ASSERT_NE(nl, std::string::npos);
                heads.push_back(o.substr(pos, nl - pos));
                pos = nl + 1 + payload;
            }
            ASSERT_EQ(pos, o.size());
            ASSERT_EQ(heads.size(), frames.size());
            for (size_t f = 0; f < frames.size(); ++f) EXPECT_EQ(heads[f], std::string("FRAME") + params[f]);
        }
    }
    // Without a field tag in the input, Ip is added.
    write_file(dir / "bare.y4m", y4m_bytes(planes_clip("W64 H32 C420jpeg", frames)));
    ASSERT_EQ(run_pelta(dir.path(), "--quiet bare.y4m out.y4m").status, 0);
    EXPECT_EQ(lines(read_file(dir / "out.y4m"))[0], "YUV4MPEG2 W64 H32 C420jpeg Ip");
}

// A stream that ends inside a frame: every whole frame is filtered and
// written, as it would be from the whole frames alone, a warning says what was
// dropped, and the exit status is 0, or 1 with --strict (everything written
// all the same), to files and standard output alike.
TEST(CliTruncation, KeepsEveryWholeFrame) {
    ScratchDir dir;
    const std::vector<std::string> frames = field_shifted_planes(64, 32, 6);
    const std::string whole = y4m_bytes(planes_clip("W64 H32 It C420jpeg", frames));
    const size_t frame_bytes = 6 + 64 * 32 * 3 / 2;
    write_file(dir / "whole.y4m", whole.substr(0, whole.size() - frame_bytes));
    write_file(dir / "cut.y4m", whole.substr(0, whole.size() - 100));
    write_file(dir / "cut-head.y4m", whole.substr(0, whole.size() - frame_bytes + 3));
    const Clip clip = field_shifted_clip(kW, kH, 6);
    const std::string raw = raw_bytes(clip);
    write_file(dir / "whole.raw", raw.substr(0, raw.size() - kW * kH * 6));
    write_file(dir / "cut.raw", raw.substr(0, raw.size() - 7));
    ASSERT_EQ(run_pelta(dir.path(), "--left 10 --width 16 --log whole.csv whole.y4m whole-out.y4m").status, 0);
    ASSERT_EQ(run_pelta(dir.path(), "--left 10 --width 16 " + kRawSize + " whole.raw whole-out.raw").status, 0);

    struct Case {
        std::string args, expect_file;
        int status;
        std::string warning;
    };
    const std::string y4m_warn = "truncated last frame: frame 5 has " + std::to_string(frame_bytes - 100) + " of " +
                                 std::to_string(frame_bytes) + " bytes; dropped them and kept the 5 whole frames";
    const Case cases[] = {
        {"cut.y4m out", "whole-out.y4m", 0, y4m_warn},
        {"- out < cut.y4m", "whole-out.y4m", 0, y4m_warn},
        {"cut.y4m - > out", "whole-out.y4m", 0, y4m_warn},
        {"--strict cut.y4m out", "whole-out.y4m", 1, y4m_warn},
        {"--strict - - < cut.y4m > out", "whole-out.y4m", 1, y4m_warn},
        {"cut-head.y4m out", "whole-out.y4m", 0, "frame 5 has 3 of " + std::to_string(frame_bytes) + " bytes"},
        {kRawSize + " cut.raw out", "whole-out.raw", 0,
         "frame 5 has " + std::to_string(kW * kH * 6 - 7) + " of " + std::to_string(kW * kH * 6) + " bytes"},
        {kRawSize + " --strict - out < cut.raw", "whole-out.raw", 1, "dropped them and kept the 5 whole frames"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        RunResult r = run_pelta(dir.path(), "--left 10 --width 16 --log log.csv " + c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        const std::vector<std::string> err = lines(r.err);
        ASSERT_GE(err.size(), 2u) << r.err;
        EXPECT_EQ(err[0].rfind("pelta: warning: truncated last frame", 0), 0u) << r.err;
        EXPECT_NE(err[0].find(c.warning), std::string::npos) << r.err;
        EXPECT_NE(err[1].find("5 frames in"), std::string::npos) << r.err;
        if (c.status) {
            EXPECT_EQ(err.back(), "pelta: the input's last frame was incomplete (--strict)");
        }
        EXPECT_EQ(read_file(dir / "out"), read_file(dir / c.expect_file));
        if (c.expect_file == "whole-out.y4m") {
            EXPECT_EQ(read_file(dir / "log.csv"), read_file(dir / "whole.csv"));
        }
    }
}

// A stream that ends after its header: the header-only output is written all
// the same, with a warning, and --strict makes that an error.
TEST(CliTruncation, NoFramesIsAWarning) {
    ScratchDir dir;
    write_file(dir / "in.y4m", "YUV4MPEG2 W8 H4 C420jpeg\n");
    write_file(dir / "in.raw", "");
    struct Case {
        std::string args, output;
        int status;
    };
    const Case cases[] = {
        {"in.y4m out", "YUV4MPEG2 W8 H4 C420jpeg Ip\n", 0},
        {"--strict - - < in.y4m > out", "YUV4MPEG2 W8 H4 C420jpeg Ip\n", 1},
        {"--raw 8x4 in.raw out", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ASSERT_EQ(run_shell(dir.path(), "rm -f out").status, 0);
        RunResult r = run_pelta(dir.path(), "--quiet --left 0 " + c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.status ? "pelta: warning: no frames in the input\npelta: the input held no frames (--strict)\n"
                                  : "pelta: warning: no frames in the input\n");
        EXPECT_TRUE(file_exists(dir / "out"));
        EXPECT_EQ(read_file(dir / "out"), c.output);
    }
}

// ---- errors ---------------------------------------------------------------------

namespace {

struct ErrorCase {
    const char* name;
    std::string input;  // written to in.y4m (and nothing written if empty name "-")
    std::string args;
    int status;
    const char* message;
    const char* setup = nullptr;  // shell commands run first
};

std::string tiny_y4m(const std::string& tags, int frames, size_t cut = 0) {
    std::string s = "YUV4MPEG2 " + tags + "\n";
    for (int f = 0; f < frames; ++f) s += "FRAME\n" + std::string(8 * 4 * 3 / 2, 'x');
    return s.substr(0, s.size() - cut);
}

// Runs an error case in a directory of its own (expect_refused). A case
// whose args name the binary is a whole shell command.
void expect_refused(const ErrorCase& c) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    if (std::string(c.name) != "missing input") write_file(dir / "in.y4m", c.input);
    if (std::string(c.name) == "directory input") {
        ASSERT_EQ(run_shell(dir.path(), "mkdir sub").status, 0);
    }
    if (c.setup) {
        ASSERT_EQ(run_shell(dir.path(), c.setup).status, 0);
    }
    const bool whole_command = c.args.find(pelta_bin()) != std::string::npos;
    cli_test::expect_refused(dir, whole_command ? c.args : quote(pelta_bin()) + " " + c.args, c.status, c.message);
}

}  // namespace

// Each error: its exit status, one line on standard error naming the
// problem, and nothing left in the directory but what was there before. (An
// output that is the input: Attacks.NoOutputReplacesTheInput.)
TEST(CliErrors, ReportAndLeaveNoOutput) {
    const std::string good = tiny_y4m("W8 H4 C420jpeg", 3);
    const ErrorCase cases[] = {
        {"missing input", "", "nosuch.y4m out.y4m --log log.csv", 1, "cannot open input 'nosuch.y4m'"},
        {"directory input", good, "sub out.y4m --log log.csv", 1, "cannot read input 'sub': it is a directory"},
        {"not Y4M", "hello, world\n", "in.y4m out.y4m --log log.csv", 1, "not a Y4M stream"},
        {"empty input", "", "in.y4m out.y4m --log log.csv", 1, "empty input"},
        {"chroma", tiny_y4m("W8 H4 C411", 1), "in.y4m out.y4m --log log.csv", 1,
         "unsupported chroma format 'C411' (444, 422, 420jpeg, 420mpeg2, 420paldv, 420 or mono at 8 bits; 444pN, "
         "422pN, 420pN or monoN at N = 9, 10, 12, 14 or 16 bits); have ffmpeg convert it with -pix_fmt yuv422p"},
        {"bit depth", tiny_y4m("W8 H4 C420p11", 1), "in.y4m out.y4m --log log.csv", 1,
         "unsupported bit depth in chroma tag 'C420p11' (8, 9, 10, 12, 14 or 16 bits); have ffmpeg convert it with "
         "-pix_fmt yuv420p"},
        {"not Y4M, with the command", "\x1a\x45\xdf\xa3 matroska", "--tff 0 --lpf=0 in.y4m 'my out.y4m'", 1,
         "not a Y4M stream (no YUV4MPEG2 signature); decode it through ffmpeg first: ffmpeg -i in.y4m -f "
         "yuv4mpegpipe -vf scale=interl=1,format=yuv420p - | pelta --tff 0 --lpf=0 - 'my out.y4m'"},
        {"not Y4M on standard input", "\x1a\x45\xdf\xa3 matroska", "--log 'my log.csv' - out.y4m --tff 0 < in.y4m", 1,
         "ffmpeg -i INPUT -f yuv4mpegpipe -vf scale=interl=1,format=yuv420p - | pelta --log 'my log.csv' - out.y4m "
         "--tff 0"},
        {"empty pipe", "", ": | '" + pelta_bin() + "' - out.y4m --log log.csv", 1,
         "empty input: the program writing into the pipe wrote nothing (ffmpeg writes some pixel formats as Y4M "
         "only with -strict -1"},
        {"raw given Y4M", good, "--raw 8x4 --left 0 in.y4m out.raw --log log.csv", 1,
         "the input is a Y4M stream (it starts with YUV4MPEG2): leave out --raw"},
        {"zero size", tiny_y4m("W0 H4", 0), "in.y4m out.y4m", 1, "zero frame size 0x4"},
        {"absurd size", tiny_y4m("W100000 H4", 0), "in.y4m out.y4m", 1, "absurd frame size 100000x4"},
        {"no height", tiny_y4m("W8 C420jpeg", 0), "in.y4m out.y4m", 1, "no H (height) tag"},
        {"out of range", good, "--th-y 300 in.y4m out.y4m", 2, "--th-y 300 is out of range (-256 to 256)"},
        {"out of range low", good, "--freq=599 in.y4m out.y4m", 2, "--freq 599 is out of range (600 to 750)"},
        {"check box", good, "--lpf 2 in.y4m out.y4m", 2, "--lpf 2 is out of range (0 to 1)"},
        {"not a number", good, "--left 3x in.y4m out.y4m", 2, "--left takes a whole number from 0 to 2048"},
        {"unknown option", good, "--bogus in.y4m out.y4m", 2, "unknown option '--bogus'"},
        {"missing value", good, "in.y4m out.y4m --width", 2, "--width needs a value"},
        {"missing output", good, "in.y4m", 2, "missing OUTPUT"},
        {"log and output", good, "--log - in.y4m -", 2, "--log and OUTPUT cannot both be standard output"},
        {"log and saving", good, "--saving --log log.csv in.y4m out.y4m", 2, "--log cannot be used with --saving"},
        {"stride", good, "--max-w 7 in.y4m out.y4m --log log.csv", 2, "--max-w 7 is below the frame width 8"},
        {"raw size", good, "--raw 8 in.y4m out.y4m", 2, "--raw takes the frame size as WxH"},
        {"raw zero", good, "--raw 0x4 in.y4m out.y4m", 2, "zero frame size"},
        {"raw chroma", good, "--raw 8x4 --out-chroma 444 in.y4m out.y4m", 2, "--out-chroma cannot be used with --raw"},
        {"chroma choice", good, "--out-chroma 411 in.y4m out.y4m", 2, "--out-chroma takes 444, 422 or 420"},
        {"depth choice", good, "--out-depth 9 in.y4m out.y4m", 2, "--out-depth takes 8, 10, 12 or 16, not '9'"},
        {"threads", good, "--threads 65 in.y4m out.y4m", 2, "--threads takes a number from 1 to 64, not '65'"},
        {"raw depth", good, "--raw 8x4 --out-depth 10 in.y4m out.y4m", 2, "--out-depth cannot be used with --raw"},
    };
    for (const ErrorCase& c : cases) expect_refused(c);
}

// The output and the log never lead to one file, whichever way the two names
// meet, standard output included; the run is refused before anything is
// written.
TEST(CliErrors, NoTwoOutputsAreOneFile) {
    const std::string good = tiny_y4m("W8 H4 C420jpeg", 3);
    const std::string pelta = "'" + pelta_bin() + "'";
    const char* old_output = "echo old > o.y4m";
    const ErrorCase cases[] = {
        {"log links to the output", good, "--log l.csv in.y4m o.y4m", 1,
         "pelta: --log 'l.csv' and OUTPUT 'o.y4m' are the same file; write them to different files",
         "echo old > o.y4m && ln -s o.y4m l.csv"},
        {"output links to a log not there yet", good, "--log ./l.csv in.y4m o.y4m", 1,
         "--log './l.csv' and OUTPUT 'o.y4m' are the same file", "ln -s l.csv o.y4m"},
        {"hard link", good, "--log h.csv in.y4m o.y4m", 1, "--log 'h.csv' and OUTPUT 'o.y4m' are the same file",
         "echo old > o.y4m && ln o.y4m h.csv"},
        {"/dev/stdout with output -", good, "--log /dev/stdout in.y4m - >> o.y4m", 1,
         "--log '/dev/stdout' and OUTPUT - (standard output) are the same file", old_output},
        {"/proc/self/fd/1 into a pipe", good,
         "bash -o pipefail -c \"" + pelta + " --log /proc/self/fd/1 in.y4m - | cat >> o.y4m\"", 1,
         "--log '/proc/self/fd/1' and OUTPUT - (standard output) are the same file", old_output},
        {"log redirected onto the output", good, "--log /dev/stdout in.y4m o.y4m >> o.y4m", 1,
         "--log '/dev/stdout' and OUTPUT 'o.y4m' are the same file", old_output},
        {"log - redirected onto the output", good, "--log - in.y4m o.y4m >> o.y4m", 1,
         "--log - (standard output) and OUTPUT 'o.y4m' are the same file", old_output},
    };
    for (const ErrorCase& c : cases) expect_refused(c);

    // Into the null device both lose nothing.
    ScratchDir dir;
    write_file(dir / "in.y4m", good);
    EXPECT_EQ(run_pelta(dir.path(), "--quiet --left 0 --log /dev/stdout in.y4m - > /dev/null").status, 0);
}

TEST(CliErrors, WriteFailures) {
    ScratchDir dir;
    // Large enough to overflow a one-block file size limit and stdio's buffer.
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(kW, kH, 60)));
    const std::vector<std::string> before = dir.list();

    RunResult r = run_pelta(dir.path(), kRawSize + " in.raw /dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write '/dev/full': No space left on device"), std::string::npos) << r.err;

    r = run_pelta(dir.path(), kRawSize + " in.raw - > /dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;

    r = run_pelta(dir.path(), kRawSize + " --log /dev/full in.raw out.raw");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write '/dev/full'"), std::string::npos) << r.err;

    // A file size limit: the write fails part way through a regular file.
    r = run_shell(dir.path(), "ulimit -f 64 && '" + pelta_bin() + "' " + kRawSize + " in.raw out.raw");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write 'out.raw': File too large"), std::string::npos) << r.err;

    EXPECT_EQ(dir.list(), before) << "no output or temporary file may remain";
}

// When the reader of standard output goes away, pelta ends as a filter does
// when its pipe closes: by SIGPIPE, without a message, leaving no temporary
// file behind (the log's included).
TEST(CliPipes, ReaderGoingAwayEndsQuietly) {
    ScratchDir dir;
    write_file(dir / "in.y4m", y4m_bytes(planes_clip("W64 H32 It C420jpeg", field_shifted_planes(64, 32, 200))));
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(kW, kH, 60)));
    const std::vector<std::string> before = dir.list();
    const std::string p = "'" + pelta_bin() + "' --left 10 --width 16";
    for (const std::string& cmd : {
             "{ " + p + " in.y4m - 2>err; echo $? >status; } | head -c 100 >/dev/null",
             "{ " + p + " --log log.csv in.y4m - 2>err; echo $? >status; } | head -c 5000 >/dev/null",
             "{ " + p + " " + kRawSize + " in.raw - 2>err; echo $? >status; } | head -c 0",
         }) {
        SCOPED_TRACE(cmd);
        ASSERT_EQ(run_shell(dir.path(), cmd).status, 0);
        EXPECT_EQ(read_file(dir / "status"), "141\n");
        EXPECT_EQ(read_file(dir / "err"), "");
        ASSERT_EQ(run_shell(dir.path(), "rm status err").status, 0);
        EXPECT_EQ(dir.list(), before);
    }
}

// Writing over an existing output keeps its permissions, and a symbolic link
// keeps being a link: its target gets the new content.
TEST(CliOverwrite, KeepsPermissionsAndLinks) {
    ScratchDir dir;
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(kW, kH, 4)));
    ASSERT_EQ(run_pelta(dir.path(), kRawSize + " --quiet in.raw expected.raw").status, 0);
    const std::string setup =
        "mkdir -p real && echo old > real/out.raw && chmod 640 real/out.raw && ln -s real/out.raw link.raw && "
        "ln -s link.raw link2.raw && echo old > plain.raw && chmod 600 plain.raw && ln -s real/new.raw dangling.raw";
    ASSERT_EQ(run_shell(dir.path(), setup).status, 0);
    for (const char* name : {"link.raw", "link2.raw", "plain.raw", "dangling.raw"}) {
        RunResult r = run_pelta(dir.path(), kRawSize + " --quiet in.raw " + name);
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    }
    EXPECT_EQ(read_file(dir / "real/out.raw"), read_file(dir / "expected.raw"));
    EXPECT_EQ(read_file(dir / "real/new.raw"), read_file(dir / "expected.raw"));
    EXPECT_EQ(read_file(dir / "plain.raw"), read_file(dir / "expected.raw"));
    RunResult r = run_shell(dir.path(),
                            "for f in link.raw link2.raw dangling.raw; do readlink $f; done; "
                            "stat -c %a real/out.raw plain.raw; ls real");
    EXPECT_EQ(r.out, "real/out.raw\nlink.raw\nreal/new.raw\n640\n600\nnew.raw\nout.raw\n");
}

// Standard input that is a terminal is refused instead of waited on, video
// is never written onto a terminal (the log, being text, may be), and a
// processing window wholly outside the picture is pointed out.
TEST(CliTerminal, RefusesATerminalAndWarnsOfAWindowOutsideThePicture) {
    ScratchDir dir;
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(kW, kH, 3)));
    RunResult r = run_pelta(dir.path(), kRawSize + " --left 100 in.raw out.raw");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(lines(r.err).size(), 2u) << r.err;
    EXPECT_EQ(lines(r.err)[0],
              "pelta: warning: the processing window starts at column 100, outside the 100-pixel-wide picture; no "
              "window is rebuilt (--left)");
    r = run_pelta(dir.path(), kRawSize + " --left 99 in.raw out.raw");
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;

    if (!can_make_terminal()) GTEST_SKIP() << "script(1) cannot give pelta a pseudo-terminal here";
    write_file(dir / "in.y4m", tiny_y4m("W8 H4 C420jpeg", 2));
    struct Case {
        std::string args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"- out.y4m", 2, "pelta: standard input is a terminal: pipe a video into pelta or name an input file"},
        {"in.y4m -", 2, "pelta: standard output is a terminal: redirect it into a file or a pipe, or name an output file"},
        {kRawSize + " in.raw /dev/stdout", 2, "pelta: '/dev/stdout' is a terminal: name an output file"},
        {"--quiet --left 0 --log - in.y4m out.y4m", 0, "frame,match,comb,comb_th,status"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        r = run_on_terminal(dir.path(), "'" + pelta_bin() + "' " + c.args);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        EXPECT_EQ(file_exists(dir / "out.y4m"), c.status == 0);
    }
}

// A run stopped by a signal removes its temporary files.
TEST(CliErrors, InterruptedRunLeavesNothing) {
    ScratchDir dir, fifo_dir;
    const std::string fifo = fifo_dir / "input";
    ASSERT_EQ(run_shell(fifo_dir.path(), "mkfifo input").status, 0);
    for (const char* sig : {"TERM", "HUP"}) {
        // Two frames arrive, then the input stalls; once the temporary output
        // and log exist, the run is stopped.
        const std::string script =
            "'" + pelta_bin() + "' --raw 8x4 --log log.csv '" + fifo + "' out.raw & pid=$!\n"
            "exec 3>'" + fifo + "'\n"
            "head -c 384 /dev/zero >&3\n"
            "i=0; while [ $i -lt 2400 ] && [ $(ls | grep -c pelta-tmp) -lt 2 ]; do sleep 0.05; i=$((i+1)); done\n"
            "ls | grep -c pelta-tmp\n"
            "kill -" + std::string(sig) + " $pid; wait $pid; echo status $?\n"
            "exec 3>&-";
        RunResult r = run_shell(dir.path(), script);
        EXPECT_EQ(r.out, std::string("2\nstatus ") + (sig[0] == 'T' ? "143" : "129") + "\n") << r.err;
        EXPECT_TRUE(dir.list().empty()) << dir.list().front();
    }
}

// ---- people at a terminal -------------------------------------------------------

TEST(CliTerminal, HelpListsEveryOptionWithTheDescriptorsRangesAndDefaults) {
    ScratchDir dir;
    RunResult r = run_pelta(dir.path(), "--help");
    ASSERT_EQ(r.status, 0);
    const FILTER_DLL* d = GetFilterTable();
    const char* tracks[TRACK_COUNT] = {"left", "width", "shift", "th-y", "th-c", "high", "mid", "stripe", "freq", "phase"};
    const std::vector<std::string> help = lines(r.out);
    auto line_of = [&](const std::string& opt) {
        for (const std::string& l : help)
            if (l.rfind("  " + opt + " ", 0) == 0) return l;
        return std::string();
    };
    for (int i = 0; i < TRACK_COUNT; ++i) {
        const std::string l = line_of(std::string("--") + tracks[i]);
        ASSERT_FALSE(l.empty()) << tracks[i];
        EXPECT_NE(l.find(std::to_string(d->track_s[i]) + ".." + std::to_string(d->track_e[i])), std::string::npos) << l;
        EXPECT_NE(l.find("default " + std::to_string(d->track_default[i])), std::string::npos) << l;
    }
    const char* checks[CHECK_COUNT] = {"tff", "range", "mono", "cy", "lpf"};
    for (int i = 0; i < CHECK_COUNT; ++i) {
        const std::string l = line_of(std::string("--") + checks[i]);
        ASSERT_FALSE(l.empty()) << checks[i];
        EXPECT_NE(l.find("0|1"), std::string::npos) << l;
        EXPECT_NE(l.find(std::to_string(d->check_default[i])), std::string::npos) << l;
    }
    // Every other option, named where a line starts: "  -h, --help  ...",
    // "  --frames N, --start F  ...".
    std::set<std::string> listed;
    for (const std::string& l : help) {
        if (l.rfind("  -", 0) != 0) continue;
        std::istringstream label(l.substr(2, l.find("  ", 2) - 2));
        for (std::string word; label >> word;)
            if (word[0] == '-') listed.insert(word.back() == ',' ? word.substr(0, word.size() - 1) : word);
    }
    for (const char* opt : {"--raw", "--out-chroma", "--out-depth", "--max-w", "--saving", "--log", "--threads", "--auto",
                            "--plan", "--force", "--frames", "--start", "--strict", "--quiet", "-h", "--help",
                            "--version"})
        EXPECT_EQ(listed.count(opt), 1u) << opt;
}

TEST(CliTerminal, VersionIsTheBuildsVersionAndStopsThere) {
    ScratchDir dir;
    // Wherever it stands, --version answers and nothing else happens: no
    // input is needed and the other arguments are not checked.
    for (const char* args : {"--version", "--left 5 --version", "--version no-such-input.y4m out.y4m"}) {
        RunResult r = run_pelta(dir.path(), args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out, "pelta " PELTA_VERSION "\n") << args;
        EXPECT_EQ(r.err, "") << args;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.y4m"));
    int major, minor, patch;
    char end;
    EXPECT_EQ(std::sscanf(PELTA_VERSION, "%d.%d.%d%c", &major, &minor, &patch, &end), 3) << PELTA_VERSION;
}

TEST(CliTerminal, SummaryProgressAndQuiet) {
    ScratchDir dir;
    write_file(dir / "in.raw", raw_bytes(field_shifted_clip(kW, kH, 8)));
    // Standard error is not a terminal here: no progress line, one summary.
    RunResult r = run_pelta(dir.path(), kRawSize + " " + kWindow + " in.raw out.raw");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
    const std::vector<std::string> err = lines(r.err);
    ASSERT_EQ(err.size(), 1u) << r.err;
    EXPECT_EQ(err[0].rfind("pelta: 8 frames in ", 0), 0u) << err[0];
    EXPECT_NE(err[0].find(" fps), 0 failed; wrote out.raw"), std::string::npos) << err[0];

    r = run_pelta(dir.path(), kRawSize + " " + kWindow + " --quiet in.raw out.raw");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    // On a terminal (a pseudo-terminal made by script(1)), the progress line.
    if (!can_make_terminal()) GTEST_SKIP() << "script(1) cannot give pelta a pseudo-terminal here";
    r = run_on_terminal(dir.path(), "'" + pelta_bin() + "' " + kRawSize + " " + kWindow + " in.raw out.raw");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\rpelta: frame "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/8 ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("left"), std::string::npos) << r.out;
    r = run_on_terminal(dir.path(), "'" + pelta_bin() + "' --quiet " + kRawSize + " " + kWindow + " in.raw out.raw");
    EXPECT_EQ(r.out, "");
}
