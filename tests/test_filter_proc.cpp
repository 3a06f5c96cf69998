// The frame procedure: cache request, window, range display, scoring and
// choice, hand-over, title, and what each failure leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "fake_host.h"
#include "native/platform_native.h"
#include "match/match_cache.h"
#include "match/weave.h"
#include "pipeline/filter_proc.h"
#include "pipeline/title.h"

using namespace pelta;

namespace {

std::string title_of(FakeHost& host) {
    const char* t = native_window_text(host.hwnd());
    return t ? t : "";
}

std::string expected_title(int match, int comb, int th) {
    return "pelta num:" + std::to_string(match) + " comb:" + std::to_string(comb) +
           " comb_th:" + std::to_string(th);
}

bool fetched(const FakeHost& host, int n) {
    return std::find(host.fetches.begin(), host.fetches.end(), n) != host.fetches.end();
}

TEST(CombThreshold, IsAFractionOfThePixelsOutsideTheWindow) {
    EXPECT_EQ(comb_threshold(720, 320, 640, 16, 480), 6000);
    EXPECT_EQ(comb_threshold(720, 0, 720, 16, 480), 0);
    EXPECT_EQ(comb_threshold(720, 720, 720, 16, 480), (720 * 16 * 480) >> 9);
    EXPECT_EQ(comb_threshold(720, 320, 640, 0, 480), 0);
    // 4 * 0x7FFFFFFF wraps to -4; the arithmetic shift keeps the sign.
    EXPECT_EQ(comb_threshold(1, 0, 0, INT_MAX, 4), -1);
}

TEST(FilterProc, AsksTheHostToCacheFiveFramesOfTheStride) {
    FakeHost host(20, 10, 4, 32);
    ASSERT_TRUE(host.run(1));
    EXPECT_EQ(host.cache_size_calls, 1);
    EXPECT_EQ(host.last_cache_request.w, 32);
    EXPECT_EQ(host.last_cache_request.h, 10);
    EXPECT_EQ(host.last_cache_request.d, 5);
    EXPECT_EQ(host.last_cache_request.flag, 0);
}

TEST(FilterProc, DefaultsOn720x480ShowThreshold6000) {
    FakeHost host(720, 480, 3, 736);
    ASSERT_TRUE(host.run(1));
    EXPECT_NE(title_of(host).find(" comb_th:6000"), std::string::npos) << title_of(host);
}

// Frame k carries cb = 2000 in columns x < m[k] and 0 beyond, so the weave of
// frames n-1 and n combs every evaluated pixel of the columns where the two
// differ: its count is (h - 4) * |m[n] - m[n-1]|.
struct ScoringClip {
    static constexpr int W = 64, H = 36, ROWS = H - 4;
    FakeHost host{W, H, 10};

    explicit ScoringClip(const std::vector<int>& m) {
        for (int f = 0; f < host.frame_n; ++f)
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) host.at(f, x, y) = px(500, x < m[f] ? 2000 : 0, 0);
        host.track[TRACK_WIDTH] = 0;    // every column is scored
        host.track[TRACK_STRIPE] = 32;  // threshold (64 * 32 * 36) >> 9 = 144
    }
};

struct ScoringCase {
    const char* what;
    std::vector<int> m;  // column counts of frames 0..9
    int match;           // chosen at frame 4
    int comb;
    int third;  // the third candidate scored, or 0 for none
};

TEST(FilterProc, ScoringOrderTiesAndTheThirdCandidate) {
    // At frame 4 the candidates are matches 4 (frames 3, 4) and 5 (4, 5), then
    // 6 (5, 6) above or 3 (2, 3) below. Counts are 32 per differing column;
    // the threshold is 144, so one column (32, four times 128) scores no third.
    const ScoringCase cases[] = {
        {"equal counts keep f; cm equal to c0 keeps f", {0, 0, 0, 3, 6, 9, 9, 9, 9, 9}, 4, 96, 3},
        {"c1 < c0, c2 equal keeps f+1", {0, 0, 0, 0, 5, 7, 9, 9, 9, 9}, 5, 64, 6},
        {"c1 < c0, c2 smaller takes f+2", {0, 0, 0, 0, 5, 8, 9, 9, 9, 9}, 6, 32, 6},
        {"c0 < c1, cm smaller takes f-1", {0, 0, 0, 0, 3, 9, 9, 9, 9, 9}, 3, 0, 3},
        {"c0 below a quarter of the threshold scores no third", {0, 0, 0, 5, 6, 9, 9, 9, 9, 9}, 4, 32, 0},
        {"c1 below a quarter scores no third", {0, 0, 0, 0, 9, 10, 20, 20, 20, 20}, 5, 32, 0},
        {"all flat: zero counts keep f", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 4, 0, 0},
    };
    for (const ScoringCase& c : cases) {
        ScoringClip clip(c.m);
        ASSERT_TRUE(clip.host.run(4)) << c.what;
        EXPECT_EQ(title_of(clip.host), expected_title(c.match, c.comb, 144)) << c.what;
        EXPECT_EQ(fetched(clip.host, 6), c.third == 6) << c.what;
        EXPECT_EQ(fetched(clip.host, 2), c.third == 3) << c.what;
    }
}

TEST(FilterProc, ZeroThresholdAlwaysScoresAThirdCandidate) {
    ScoringClip clip({4, 4, 4, 4, 4, 4, 4, 4, 4, 4});
    clip.host.track[TRACK_STRIPE] = 0;
    ASSERT_TRUE(clip.host.run(4));
    EXPECT_EQ(title_of(clip.host), expected_title(4, 0, 0));
    EXPECT_TRUE(fetched(clip.host, 2)) << "4 * 0 >= 0 scores match 3";
}

TEST(FilterProc, ClipEdges) {
    {  // frame 0: match 0 names no candidate, match 1 wins even with a comb
        ScoringClip clip({0, 9, 0, 0, 0, 0, 0, 0, 0, 0});
        ASSERT_TRUE(clip.host.run(0));
        EXPECT_EQ(title_of(clip.host), expected_title(1, 9 * ScoringClip::ROWS, 144));
        EXPECT_TRUE(fetched(clip.host, 2)) << "four times 288 reaches 144: match 2 is scored, and ties";
    }
    {  // last frame (9, odd): match 10 is unavailable, match 9 stays unless 8 combs less
        ScoringClip clip({0, 0, 0, 0, 0, 0, 0, 0, 3, 9});
        ASSERT_TRUE(clip.host.run(9));
        EXPECT_EQ(title_of(clip.host), expected_title(8, 3 * ScoringClip::ROWS, 144));
    }
    {  // an even last frame asks for its partner beyond the clip; this host has none
        FakeHost host(8, 10, 5);
        host.prepare(4);
        const Frame before = host.edit;
        EXPECT_FALSE(host.filter.func_proc(&host.filter, &host.fpip));
        EXPECT_TRUE(fetched(host, 5));
        EXPECT_TRUE(same_pixels(before, host.edit));
        EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
    }
}

TEST(FilterProc, FramesOfFourRowsOrFewerScoreZero) {
    for (int h = 1; h <= 4; ++h) {
        FakeHost host(16, h, 6);
        host.fill_random(static_cast<uint32_t>(h));
        ASSERT_TRUE(host.run(3)) << h;
        const int th = (16 * 16 * h) >> 9;
        EXPECT_EQ(title_of(host), expected_title(3, 0, th)) << h;
        EXPECT_EQ(fetched(host, 1), th == 0) << "third candidate only at threshold 0, h " << h;
    }
}

TEST(FilterProc, HandsOverTheWovenFrameByExchangingPointers) {
    FakeHost host(12, 10, 6);
    host.fill_random(3);
    host.check[CHECK_LPF] = 0;
    host.prepare(2);
    PIXEL_YC* edit = host.fpip.ycp_edit;
    PIXEL_YC* temp = host.fpip.ycp_temp;
    ASSERT_TRUE(host.filter.func_proc(&host.filter, &host.fpip));
    EXPECT_EQ(host.fpip.ycp_edit, temp);
    EXPECT_EQ(host.fpip.ycp_temp, edit);
}

TEST(FilterProc, RefusedCacheTouchesNothing) {
    FakeHost host(12, 10, 6);
    host.refuse_cache = true;
    host.prepare(2);
    const Frame edit = host.edit, temp = host.temp;
    const long titles = native_window_text_calls();
    EXPECT_FALSE(host.filter.func_proc(&host.filter, &host.fpip));
    EXPECT_TRUE(host.fetches.empty());
    EXPECT_EQ(host.is_saving_calls, 0);
    EXPECT_TRUE(same_pixels(edit, host.edit));
    EXPECT_TRUE(same_pixels(temp, host.temp));
    EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
    EXPECT_EQ(native_window_text_calls(), titles);
}

TEST(FilterProc, ChosenWeaveFailingLeavesTheInputFrameAndTitle) {
    {  // a one-frame clip has no candidate at all
        FakeHost host(12, 10, 1);
        host.prepare(0);
        const Frame edit = host.edit;
        const long titles = native_window_text_calls();
        EXPECT_FALSE(host.filter.func_proc(&host.filter, &host.fpip));
        EXPECT_TRUE(same_pixels(edit, host.edit));
        EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
        EXPECT_EQ(native_window_text_calls(), titles);
        EXPECT_TRUE(host.fetches.empty());
    }
    {  // the host loses frame 2: both candidates of frame 2 are unavailable
        FakeHost host(12, 10, 6);
        host.missing = {2};
        host.prepare(2);
        const Frame edit = host.edit;
        EXPECT_FALSE(host.filter.func_proc(&host.filter, &host.fpip));
        EXPECT_TRUE(same_pixels(edit, host.edit));
        EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
    }
}

TEST(FilterProc, MissingPartnerLeavesTheInputFrameAndTheChosenWeave) {
    FakeHost host(12, 10, 6);  // the default picture: every candidate scores 0
    host.prepare(2);
    ASSERT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, 2), WEAVE_OK);
    const Frame weave2 = host.temp;
    ASSERT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, 3), WEAVE_OK);
    const Frame weave3 = host.temp;

    host.missing = {3};  // frame 2's partner; match 3 also needs it
    host.prepare(2);
    const Frame edit = host.edit;
    EXPECT_FALSE(host.filter.func_proc(&host.filter, &host.fpip));
    EXPECT_TRUE(same_pixels(edit, host.edit));
    EXPECT_TRUE(same_pixels(weave2, host.temp)) << "ycp_temp holds the chosen weave (match 2)";
    EXPECT_FALSE(same_pixels(weave3, host.temp));
    EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
}

TEST(FilterProc, UnavailableCandidateLosesToAnyCount) {
    FakeHost host(12, 10, 6);
    host.track[TRACK_TH_C] = 0;  // every available candidate counts (10 - 4) * 12
    host.missing = {1};          // match 2 (frames 1, 2) cannot be woven
    ASSERT_TRUE(host.run(2));
    EXPECT_EQ(title_of(host), expected_title(3, 72, (12 * 16 * 10) >> 9));
}

TEST(FilterProc, TitleIsWrittenOnlyWhileNotSaving) {
    FakeHost host(16, 12, 6);
    host.fill_random(9);
    ASSERT_TRUE(host.run(2));
    const std::string shown = title_of(host);
    EXPECT_EQ(shown.rfind("pelta num:", 0), 0u) << shown;
    EXPECT_EQ(shown, filter_title());

    host.saving = true;
    host.fill_random(10);
    const long calls = native_window_text_calls();
    ASSERT_TRUE(host.run(3));
    EXPECT_EQ(native_window_text_calls(), calls);
    EXPECT_EQ(title_of(host), shown);
}

TEST(Title, FormatAndBound) {
    char buf[TITLE_BYTES];
    format_title(buf, sizeof buf, "pelta", 12, 0, 6000);
    EXPECT_STREQ(buf, "pelta num:12 comb:0 comb_th:6000");
    format_title(buf, sizeof buf, "pelta", -1, INT_MAX, INT_MIN);
    EXPECT_STREQ(buf, "pelta num:-1 comb:2147483647 comb_th:-2147483648");

    const std::string long_name(400, 'x');
    std::memset(buf, 0x7F, sizeof buf);
    char guard[16];
    std::memset(guard, 0x55, sizeof guard);
    EXPECT_EQ(format_title(buf, sizeof buf, long_name.c_str(), 1, 2, 3), TITLE_BYTES - 1);
    EXPECT_EQ(buf[TITLE_BYTES - 1], '\0');
    EXPECT_EQ(std::string(buf), long_name.substr(0, TITLE_BYTES - 1));

    char tiny[4];
    format_title(tiny, sizeof tiny, "pelta", 1, 2, 3);
    EXPECT_STREQ(tiny, "pel");
}

TEST(RangeDisplay, ShowsTheWindowAsANegativeAndReturns) {
    FakeHost host(10, 6, 4);
    host.track[TRACK_LEFT] = 2;
    host.track[TRACK_WIDTH] = 5;
    host.check[CHECK_RANGE] = 2;  // any nonzero value is on
    host.at(1, 3, 1) = px(5000, -32768, 32767);
    host.at(1, 4, 1) = px(-28672, 0, -5);
    host.prepare(1);
    const Frame input = host.edit, temp = host.temp;
    const long titles = native_window_text_calls();
    ASSERT_TRUE(host.filter.func_proc(&host.filter, &host.fpip));

    EXPECT_EQ(host.fpip.ycp_edit, host.edit.data()) << "no pointer exchange";
    EXPECT_TRUE(host.fetches.empty()) << "nothing scored or woven";
    EXPECT_EQ(native_window_text_calls(), titles);
    EXPECT_TRUE(same_pixels(temp, host.temp));
    for (int y = 0; y < host.h; ++y)
        for (int x = 0; x < host.max_w; ++x) {
            const size_t i = static_cast<size_t>(y) * host.max_w + x;
            const PIXEL_YC in = input[i], out = host.edit[i];
            if (x >= 2 && x < 7) {
                EXPECT_EQ(out.y, static_cast<int16_t>(4096 - in.y)) << x << "," << y;
                EXPECT_EQ(out.cb, static_cast<int16_t>(-in.cb));
                EXPECT_EQ(out.cr, static_cast<int16_t>(-in.cr));
            } else {
                EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0) << x << "," << y;
            }
        }
    const PIXEL_YC a = host.edit[1 * host.max_w + 3], b = host.edit[1 * host.max_w + 4];
    EXPECT_EQ(a.y, -904);
    EXPECT_EQ(a.cb, -32768) << "-(-32768) wraps to itself";
    EXPECT_EQ(a.cr, -32767);
    EXPECT_EQ(b.y, -32768) << "4096 + 28672 wraps";
}

TEST(RangeDisplay, EmptyWindowReturnsTheFrameUnchanged) {
    FakeHost host(10, 6, 4);
    host.check[CHECK_RANGE] = 1;
    host.track[TRACK_LEFT] = 3;
    host.track[TRACK_WIDTH] = 0;
    host.prepare(1);
    const Frame input = host.edit;
    ASSERT_TRUE(host.filter.func_proc(&host.filter, &host.fpip));
    EXPECT_TRUE(same_pixels(input, host.edit));
}

TEST(RangeDisplay, WhileSavingTheFrameIsProcessedInFull) {
    FakeHost plain(10, 8, 4), ranged(10, 8, 4);
    for (FakeHost* h : {&plain, &ranged}) {
        h->fill_random(21);
        h->saving = true;
    }
    ranged.check[CHECK_RANGE] = 1;
    ASSERT_TRUE(plain.run(1));
    const Frame expected(plain.output(), plain.output() + plain.edit.size());
    ASSERT_TRUE(ranged.run(1));
    EXPECT_TRUE(same_pixels(expected, ranged.output()));
    EXPECT_EQ(ranged.is_saving_calls, 2);
}

// Output of one frame, as the host would take it.
Frame output_of(FakeHost& host, int f, int16_t scratch) {
    host.prepare(f, scratch);
    EXPECT_TRUE(host.filter.func_proc(&host.filter, &host.fpip));
    return Frame(host.output(), host.output() + host.edit.size());
}

TEST(FilterProc, OutputDoesNotDependOnTheScratchFrame) {
    // Odd heights included: every row of the output comes from the clip.
    for (int h : {7, 9, 10}) {
        for (int lowpass : {0, 1}) {
            FakeHost host(14, h, 6);
            host.fill_random(static_cast<uint32_t>(h * 10 + lowpass));
            host.track[TRACK_LEFT] = 4;
            host.track[TRACK_WIDTH] = 5;
            host.track[TRACK_SHIFT] = 5;
            host.track[TRACK_STRIPE] = lowpass ? 0 : 32;
            host.check[CHECK_LPF] = lowpass;
            for (int f = 0; f < 5; ++f) {
                clear_match_cache();
                const Frame a = output_of(host, f, 0x3333);
                clear_match_cache();
                const Frame b = output_of(host, f, -0x4444);
                EXPECT_TRUE(same_pixels(a, b)) << "h " << h << " lowpass " << lowpass << " frame " << f;
            }
        }
    }
}

TEST(FilterProc, FieldOrderValueTwoCountsAsOff) {
    auto run_with = [](int tff) {
        FakeHost host(16, 12, 6);
        host.fill_random(31);
        host.check[CHECK_TFF] = tff;
        host.track[TRACK_SHIFT] = 6;
        Frame out = output_of(host, 2, 0);
        return out;
    };
    const Frame off = run_with(0), on = run_with(1), two = run_with(2), three = run_with(3);
    EXPECT_TRUE(same_pixels(off, two));
    EXPECT_TRUE(same_pixels(on, three));
    EXPECT_FALSE(same_pixels(off, on));
}

TEST(FilterProc, ForwardPlaybackWeavesAtMostTwoNewCandidatesPerFrame) {
    FakeHost host(16, 12, 20);
    host.fill_random(41);
    host.track[TRACK_STRIPE] = 0;  // a third candidate on every frame
    for (int f = 0; f < 20; ++f) {
        host.fetches.clear();
        ASSERT_TRUE(host.run(f));
        // Two frames per new candidate, two for the chosen weave, one partner.
        EXPECT_LE(host.fetches.size(), 2u * 2 + 3) << "frame " << f;
    }
}

}  // namespace
