// The Y4M and raw readers, driven from memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/y4m.h"

using namespace pelta_cli;

namespace {

MemorySource source(const std::string& s) {
    return MemorySource(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::string header_error(const std::string& line) {
    Y4mHeader h;
    std::string error;
    EXPECT_FALSE(parse_y4m_header(line, h, error)) << line;
    return error;
}

}  // namespace

TEST(Y4mHeader, ReadsTheTagsAndKeepsTheirOrder) {
    Y4mHeader h;
    std::string error;
    const std::string line = "YUV4MPEG2 W720 H480 F30000:1001 It A10:11 C420mpeg2 XYSCSS=420MPEG2 XCOLORRANGE=LIMITED";
    ASSERT_TRUE(parse_y4m_header(line, h, error)) << error;
    EXPECT_EQ(h.width, 720);
    EXPECT_EQ(h.height, 480);
    EXPECT_EQ(h.chroma, Chroma::C420mpeg2);
    EXPECT_EQ(h.interlace, 't');
    EXPECT_EQ(format_y4m_header(h, Chroma::C420mpeg2), line + "\n");
    // Another chroma format or depth replaces the C tag and rewrites the
    // subsampling extension to match it, as ffmpeg writes it; the other tags
    // stay. Monochrome has no such extension.
    EXPECT_EQ(format_y4m_header(h, Chroma::C444),
              "YUV4MPEG2 W720 H480 F30000:1001 It A10:11 C444 XYSCSS=444 XCOLORRANGE=LIMITED\n");
    EXPECT_EQ(format_y4m_header(h, Chroma::C420, 10, 0),
              "YUV4MPEG2 W720 H480 F30000:1001 It A10:11 C420p10 XYSCSS=420P10 XCOLORRANGE=LIMITED\n");
    EXPECT_EQ(format_y4m_header(h, Chroma::Mono, 16, 'p'),
              "YUV4MPEG2 W720 H480 F30000:1001 Ip A10:11 Cmono16 XCOLORRANGE=LIMITED\n");
    // A field-order override replaces the I tag in place, or is added.
    EXPECT_EQ(format_y4m_header(h, Chroma::C420mpeg2, 'p'),
              "YUV4MPEG2 W720 H480 F30000:1001 Ip A10:11 C420mpeg2 XYSCSS=420MPEG2 XCOLORRANGE=LIMITED\n");
    ASSERT_TRUE(parse_y4m_header("YUV4MPEG2 W4 H2 C444", h, error)) << error;
    EXPECT_EQ(format_y4m_header(h, Chroma::C444, 'p'), "YUV4MPEG2 W4 H2 C444 Ip\n");
}

TEST(Y4mHeader, DefaultsAndEveryChromaName) {
    Y4mHeader h;
    std::string error;
    ASSERT_TRUE(parse_y4m_header("YUV4MPEG2 W4 H2", h, error));
    EXPECT_EQ(h.chroma, Chroma::C420jpeg);  // no C tag: 4:2:0 jpeg
    EXPECT_EQ(h.interlace, '?');
    EXPECT_EQ(format_y4m_header(h, Chroma::C420jpeg), "YUV4MPEG2 W4 H2\n");
    EXPECT_EQ(format_y4m_header(h, Chroma::C422), "YUV4MPEG2 W4 H2 C422\n");
    const std::pair<const char*, Chroma> names[] = {
        {"444", Chroma::C444},           {"422", Chroma::C422},           {"420jpeg", Chroma::C420jpeg},
        {"420mpeg2", Chroma::C420mpeg2}, {"420paldv", Chroma::C420paldv}, {"420", Chroma::C420},
        {"mono", Chroma::Mono},
    };
    for (auto [tag, chroma] : names) {
        ASSERT_TRUE(parse_y4m_header(std::string("YUV4MPEG2 W4 H2 Ib C") + tag, h, error)) << tag;
        EXPECT_EQ(h.chroma, chroma) << tag;
        EXPECT_EQ(h.interlace, 'b');
    }
}

TEST(Y4mHeader, RefusesWhatItCannotRead) {
    EXPECT_NE(header_error("YUV4MPEG W4 H2").find("not a Y4M stream"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2X W4 H2").find("not a Y4M stream"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 H2").find("no W (width)"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W4").find("no H (height)"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W0 H2").find("zero frame size"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W4 H0").find("zero frame size"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W99999 H2").find("absurd frame size"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W16384 H16384").find("absurd frame size"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W999999999999 H2").find("absurd frame size"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W99999999999999999999 H2").find("bad width"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W-4 H2").find("bad width"), std::string::npos);
    EXPECT_NE(header_error("YUV4MPEG2 W4 H2x").find("bad height"), std::string::npos);
    for (const char* tag : {"C411", "C444alpha", "Cyuyv", "C", "C420jpegp10", "C411p10", "Cp10"})
        EXPECT_NE(header_error(std::string("YUV4MPEG2 W4 H2 ") + tag).find("unsupported chroma format '" +
                                                                           std::string(tag) + "'"),
                  std::string::npos)
            << tag;
    for (const char* tag : {"C420p8", "C444p11", "C422p13", "Cmono15", "C444p17", "C420p010"})
        EXPECT_NE(header_error(std::string("YUV4MPEG2 W4 H2 ") + tag).find("unsupported bit depth in chroma tag '" +
                                                                           std::string(tag) + "'"),
                  std::string::npos)
            << tag;
    // Without a C tag the format comes from XYSCSS, and 4:1:1 there is refused too.
    EXPECT_NE(header_error("YUV4MPEG2 W4 H2 XYSCSS=411").find("unsupported chroma format 'XYSCSS=411'"), std::string::npos);
}

// Every tag of deeper samples that ffmpeg writes, the format it stands for,
// and the frame size it gives.
TEST(Y4mHeader, DeepTags) {
    struct Case {
        const char* tag;
        Chroma chroma;
        int depth;
        size_t frame_bytes;  // of a 6x4 frame
    };
    const Case cases[] = {
        {"C420p9", Chroma::C420, 9, (24 + 2 * 6) * 2},   {"C420p10", Chroma::C420, 10, (24 + 2 * 6) * 2},
        {"C420p12", Chroma::C420, 12, (24 + 2 * 6) * 2}, {"C420p14", Chroma::C420, 14, (24 + 2 * 6) * 2},
        {"C420p16", Chroma::C420, 16, (24 + 2 * 6) * 2}, {"C422p9", Chroma::C422, 9, (24 + 2 * 12) * 2},
        {"C422p10", Chroma::C422, 10, (24 + 2 * 12) * 2}, {"C422p12", Chroma::C422, 12, (24 + 2 * 12) * 2},
        {"C422p14", Chroma::C422, 14, (24 + 2 * 12) * 2}, {"C422p16", Chroma::C422, 16, (24 + 2 * 12) * 2},
        {"C444p9", Chroma::C444, 9, 24 * 3 * 2},         {"C444p10", Chroma::C444, 10, 24 * 3 * 2},
        {"C444p12", Chroma::C444, 12, 24 * 3 * 2},       {"C444p14", Chroma::C444, 14, 24 * 3 * 2},
        {"C444p16", Chroma::C444, 16, 24 * 3 * 2},       {"Cmono9", Chroma::Mono, 9, 24 * 2},
        {"Cmono10", Chroma::Mono, 10, 24 * 2},           {"Cmono12", Chroma::Mono, 12, 24 * 2},
        {"Cmono14", Chroma::Mono, 14, 24 * 2},           {"Cmono16", Chroma::Mono, 16, 24 * 2},
        // No C tag: XYSCSS decides, as in ffmpeg.
        {"XYSCSS=422P10", Chroma::C422, 10, (24 + 2 * 12) * 2}, {"XYSCSS=444", Chroma::C444, 8, 24 * 3},
        {"XYSCSS=420MPEG2", Chroma::C420mpeg2, 8, 24 + 2 * 6}, {"XYSCSS=WHATEVER", Chroma::C420jpeg, 8, 24 + 2 * 6},
        // Both: the C tag wins.
        {"C444p12 XYSCSS=420JPEG", Chroma::C444, 12, 24 * 3 * 2},
    };
    for (const Case& c : cases) {
        const std::string stream = std::string("YUV4MPEG2 W6 H4 ") + c.tag + "\n";
        MemorySource src = source(stream);
        Y4mReader r(src);
        std::string error;
        ASSERT_TRUE(r.read_header(error)) << c.tag << ": " << error;
        EXPECT_EQ(r.header().chroma, c.chroma) << c.tag;
        EXPECT_EQ(r.header().depth, c.depth) << c.tag;
        EXPECT_EQ(r.frame_bytes(), c.frame_bytes) << c.tag;
        // Kept as it came when nothing changes.
        EXPECT_EQ(format_y4m_header(r.header(), c.chroma), stream) << c.tag;
    }
    Y4mHeader h;
    std::string error;
    ASSERT_TRUE(parse_y4m_header("YUV4MPEG2 W6 H4 XYSCSS=422P10", h, error));
    EXPECT_EQ(format_y4m_header(h, Chroma::C422, 8, 0), "YUV4MPEG2 W6 H4 XYSCSS=422 C422\n");
    EXPECT_EQ(y4m_chroma_tag(Chroma::C420mpeg2, 8), "420mpeg2");
    EXPECT_EQ(y4m_chroma_tag(Chroma::C420, 14), "420p14");
}

// Every refused chroma tag names the ffmpeg pixel format to convert to: the
// nearest one read here that keeps every sample; where colour is halved
// vertically (4:4:0), converted with each field apart.
TEST(Y4mHeader, RefusedChromaNamesThePixelFormatThatWorks) {
    const std::pair<const char*, const char*> cases[] = {
        {"C411", "-pix_fmt yuv422p"},  {"C410", "-pix_fmt yuv420p"},
        {"C440", "-vf scale=interl=1,format=yuv444p"},  {"C444alpha", "-pix_fmt yuv444p"},
        {"Cyuyv", "-pix_fmt yuv444p"}, {"C420p11", "-pix_fmt yuv420p"}, {"C422p13", "-pix_fmt yuv422p"},
        {"C444p17", "-pix_fmt yuv444p"}, {"Cmono15", "-pix_fmt gray"},  {"C420p8", "-pix_fmt yuv420p"},
        {"C411p10", "-pix_fmt yuv422p"},
    };
    for (auto [tag, conversion] : cases)
        EXPECT_NE(header_error(std::string("YUV4MPEG2 W4 H2 ") + tag).find(conversion), std::string::npos)
            << tag << ": " << header_error(std::string("YUV4MPEG2 W4 H2 ") + tag);
}

TEST(Y4mReader, ReadsFramesUntilTheEnd) {
    const std::string frame(4 * 2 * 3, 'a');  // 4x2 4:4:4
    const std::string stream = "YUV4MPEG2 W4 H2 C444\nFRAME\n" + frame + "FRAME Ixyz\n" + frame;
    MemorySource src = source(stream);
    Y4mReader r(src);
    std::string error;
    ASSERT_TRUE(r.read_header(error)) << error;
    EXPECT_EQ(r.header_bytes(), 21u);
    EXPECT_EQ(r.frame_bytes(), 24u);
    std::vector<uint8_t> planes;
    EXPECT_EQ(r.read_frame(planes, error), ReadStatus::Frame);
    EXPECT_EQ(planes, std::vector<uint8_t>(frame.begin(), frame.end()));
    EXPECT_EQ(r.frame_params(), "");
    EXPECT_EQ(r.read_frame(planes, error), ReadStatus::Frame) << "frame parameters are allowed";
    EXPECT_EQ(r.frame_params(), " Ixyz");
    EXPECT_EQ(r.read_frame(planes, error), ReadStatus::End);
    EXPECT_EQ(r.frames_read(), 2);
    EXPECT_FALSE(r.truncation().happened());
}

// A stream that ends inside a frame gives every whole frame, then End, and
// says how many bytes of the last frame it dropped (FRAME line included).
TEST(Y4mReader, TruncatedLastFrameEndsTheStreamAndIsReported) {
    struct Case {
        std::string tail;  // after one whole frame
        size_t dropped, expected;
    };
    const std::string frame(24, 'a');
    const Case cases[] = {
        {"FRAME\n" + frame.substr(0, 10), 16, 30},
        {"FRAME Ixyz\n" + frame.substr(0, 1), 12, 35},
        {"FRA", 3, 30},
        {"FRAME\n", 6, 30},
    };
    for (const Case& c : cases) {
        const std::string stream = "YUV4MPEG2 W4 H2 C444\nFRAME\n" + frame + c.tail;
        MemorySource src = source(stream);
        Y4mReader r(src);
        std::string error;
        ASSERT_TRUE(r.read_header(error)) << error;
        std::vector<uint8_t> planes;
        EXPECT_EQ(r.read_frame(planes, error), ReadStatus::Frame);
        EXPECT_EQ(r.read_frame(planes, error), ReadStatus::End) << c.tail;
        EXPECT_EQ(r.frames_read(), 1);
        EXPECT_EQ(r.truncation().frame, 1);
        EXPECT_EQ(r.truncation().bytes, c.dropped) << c.tail;
        EXPECT_EQ(r.truncation().expected, c.expected) << c.tail;
        EXPECT_EQ(r.truncation().describe(), "truncated last frame: frame 1 has " + std::to_string(c.dropped) +
                                                 " of " + std::to_string(c.expected) +
                                                 " bytes; dropped them and kept the 1 whole frame before it");
    }
}

TEST(Y4mReader, ReportsBrokenStreams) {
    struct Case {
        std::string stream;
        const char* message;
        bool header_fails;
    };
    const std::string frame(24, 'a');
    const Case cases[] = {
        {"", "empty input", true},
        {"YUV4", "not a Y4M stream", true},
        {"RIFF....WAVEfmt ", "not a Y4M stream", true},
        {"YUV4MPEG2 W4 H2 C444", "truncated Y4M header", true},
        {"YUV4MPEG2 W4 H2 C444\nFRAME\n" + frame + "FRAMES\n" + frame, "bad Y4M frame header at frame 1", false},
        {"YUV4MPEG2 W4 H2 C444\nframe\n" + frame, "bad Y4M frame header at frame 0", false},
    };
    for (const Case& c : cases) {
        MemorySource src = source(c.stream);
        Y4mReader r(src);
        std::string error;
        bool header_ok = r.read_header(error);
        EXPECT_EQ(header_ok, !c.header_fails) << c.stream;
        if (header_ok) {
            std::vector<uint8_t> planes;
            ReadStatus s;
            while ((s = r.read_frame(planes, error)) == ReadStatus::Frame) {
            }
            EXPECT_EQ(s, ReadStatus::Error) << c.stream;
        }
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error;
    }
}

TEST(RawReader, ReadsLittleEndianFramesIntoAWiderStride) {
    // Two 2x1 frames.
    const uint8_t bytes[] = {1, 0, 0xFF, 0xFF, 0, 0x80, 2, 1, 3, 0, 4, 0,  //
                             5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 10, 0,  //
                             1, 2, 3};  // and a truncated third
    MemorySource src(bytes, sizeof bytes);
    RawReader r(src, 2, 1);
    std::vector<PIXEL_YC> f(4, PIXEL_YC{99, 99, 99});
    std::string error;
    ASSERT_EQ(r.read_frame(f.data(), 4, error), ReadStatus::Frame);
    EXPECT_EQ(f[0].y, 1);
    EXPECT_EQ(f[0].cb, -1);
    EXPECT_EQ(f[0].cr, -32768);
    EXPECT_EQ(f[1].y, 258);
    EXPECT_EQ(f[2].y, 99) << "columns beyond w untouched";
    ASSERT_EQ(r.read_frame(f.data(), 4, error), ReadStatus::Frame);
    EXPECT_EQ(f[1].cr, 10);
    EXPECT_EQ(r.read_frame(f.data(), 4, error), ReadStatus::End);
    EXPECT_EQ(r.truncation().describe(),
              "truncated last frame: frame 2 has 3 of 12 bytes; dropped them and kept the 2 whole frames before it");

    std::vector<uint8_t> packed(12);
    pack_raw_frame(f.data(), 4, 2, 1, packed.data());
    EXPECT_EQ(std::vector<uint8_t>(bytes + 12, bytes + 24), packed);
}

// A Y4M stream read as raw frames would be filtered as noise.
TEST(RawReader, RefusesAY4mStream) {
    const std::string stream = "YUV4MPEG2 W4 H2 C444\nFRAME\n" + std::string(24, 'a');
    for (int w : {2, 4, 40}) {
        MemorySource src = source(stream);
        RawReader r(src, w, 1);
        std::vector<PIXEL_YC> f(static_cast<size_t>(w));
        std::string error;
        EXPECT_EQ(r.read_frame(f.data(), w, error), ReadStatus::Error) << w;
        EXPECT_NE(error.find("is a Y4M stream"), std::string::npos) << error;
        EXPECT_NE(error.find("leave out --raw"), std::string::npos) << error;
    }
}
