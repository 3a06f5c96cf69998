// The report page's text, and the JSON beside it, from an analysis made up
// here: the figures from one place, the frames that stay combed listed by
// segment as ranges and marked on the chart of the frames, whose x axis is
// the clip's frame numbers, the line broken where frames were not looked at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "cli_test_util.h"

using namespace cli_test;
using namespace pelta_cli;

namespace {

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

Analysis made_up() {
    Analysis a;
    a.start = 100;
    a.frames = 12;
    a.span = 60;
    a.w = 64;
    a.h = 24;
    SegmentAnalysis other, match;
    other.segment = Segment{100, 20, ClipKind::Interlaced, SegmentSettings{1, 0, 0, 0, 0}, 0.8};
    other.words.figures = {Figure{"input", "the input, over the 6 frames looked at", 2.5, true}};
    match.segment = Segment{120, 40, ClipKind::Match, SegmentSettings{1, 0, 0, 0, 0}, 0.9};
    match.words.verdict = "match: made up";
    match.words.evidence = "field matching leaves combing 0.31, against 1.75 in the input";
    match.words.figures = {Figure{"settings", "field matching with TFF on", 0.314, true},
                           Figure{"input", "the input", 1.7468, true}, Figure{"output", "with the settings", 0, false}};
    a.segments = {other, match};
    a.focus = 1;
    ReportCurves& cv = a.curves;
    cv.column_input.assign(8, 1.0);
    cv.column_matched.assign(8, 0.5);
    cv.column_output.assign(8, 0.3);
    // Two stretches read (101..106 and 130..135), out of order as probes
    // come; frames 102, 103, 105 and 131 stay combed.
    cv.frame_numbers = {130, 131, 132, 133, 134, 135, 101, 102, 103, 104, 105, 106};
    cv.frame_input = std::vector<double>(12, 2.0);
    cv.frame_matched = std::vector<double>(12, 0.4);
    cv.frame_output = {0.3, 1.0, 0.2, 0.2, 0.2, 0.2, 0.5, 1.5, 3.0, 0.9, 1.2, 0.1};
    return a;
}

}  // namespace

TEST(ReportPage, FiguresCombedFramesAndAxesAsTheAnalysisHasThem) {
    const Analysis a = made_up();
    EXPECT_EQ(combed_ranges(a, 0), (std::vector<std::pair<long, long>>{{102, 103}, {105, 105}}));
    EXPECT_EQ(combed_ranges(a, 1), (std::vector<std::pair<long, long>>{{131, 131}}));

    ScratchDir dir;
    std::string error;
    ASSERT_TRUE(write_analysis_report(a, "clip.y4m", dir / "page.html", error)) << error;
    const std::string page = read_file(dir / "page.html");
    // The figures, printed as the text prints them.
    EXPECT_NE(page.find("data-figure=\"settings\">0.31</td>"), std::string::npos);
    EXPECT_NE(page.find("data-figure=\"input\">1.75</td>"), std::string::npos);
    EXPECT_NE(page.find("data-figure=\"output\">cannot tell</td>"), std::string::npos);
    EXPECT_NE(page.find("<p id=\"evidence\">field matching leaves combing 0.31, against 1.75 in the input</p>"),
              std::string::npos);
    // The combed frames by segment, as ranges, and one circle for each.
    EXPECT_NE(page.find("frames 100..119 (interlaced, passed through): <span class=\"frames\">102..103, 105</span> "
                        "(3 of 6 frames looked at)"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("frames 120..159 (match, filtered): <span class=\"frames\">131</span> (1 of 6 frames looked at)"),
              std::string::npos);
    EXPECT_EQ(count(page, "class=\"combed\""), 4u);
    for (const char* f : {"102", "103", "105", "131"})
        EXPECT_NE(page.find("class=\"combed\" data-frame=\"" + std::string(f) + "\""), std::string::npos) << f;
    // The frames' axis: the clip's frame numbers over 100..159; the columns'
    // over 0..64.
    const std::string frames_chart = page.substr(page.find("id=\"frames-chart\""));
    for (const char* t : {"100", "110", "150"})
        EXPECT_NE(frames_chart.find("data-value=\"" + std::string(t) + "\""), std::string::npos) << t;
    EXPECT_EQ(frames_chart.substr(0, frames_chart.find("</svg>")).find("data-value=\"160\""), std::string::npos);
    const std::string columns_chart = page.substr(page.find("id=\"columns-chart\""));
    EXPECT_NE(columns_chart.find("data-value=\"0\""), std::string::npos);
    EXPECT_NE(columns_chart.find("data-value=\"60\""), std::string::npos);
    // Three series over two stretches: six lines on the chart of the frames.
    EXPECT_EQ(count(frames_chart.substr(0, frames_chart.find("</svg>")), "<polyline"), 6u);

    // The JSON gives the same figures and ranges.
    const std::string json = analysis_json(a);
    EXPECT_NE(json.find("\"figures\":{\"settings\":0.31,\"input\":1.75,\"output\":null}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"input_comb\":1.75,\"output_comb\":null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"combed\":[[102,103],[105,105]]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"combed\":[[131,131]]"), std::string::npos) << json;
}
