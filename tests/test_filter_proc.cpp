// The frame procedure: cache request, window, range display, scoring and
// choice, hand-over, title, settings changes, and what each failure leaves
// behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "host_rig.h"
#include "match/match_cache.h"
#include "match/weave.h"
#include "native/platform_native.h"
#include "pipeline/filter_proc.h"
#include "pipeline/title.h"

using namespace pelta;

namespace {

std::string expected_title(int match, int comb, int th) {
    return "pelta num:" + std::to_string(match) + " comb:" + std::to_string(comb) +
           " comb_th:" + std::to_string(th);
}

bool fetched(const MemoryHost& host, int n) {
    return std::find(host.log.fetches.begin(), host.log.fetches.end(), n) != host.log.fetches.end();
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
    TestHost host(20, 10, 4, 32);
    ASSERT_TRUE(host.run(1));
    EXPECT_EQ(host.log.cache_requests, 1);
    EXPECT_EQ(host.log.cache_args[0], 32);
    EXPECT_EQ(host.log.cache_args[1], 10);
    EXPECT_EQ(host.log.cache_args[2], 5);
    EXPECT_EQ(host.log.cache_args[3], 0);
}

TEST(FilterProc, DefaultsOn720x480ShowThreshold6000) {
    TestHost host(720, 480, 3, 736);
    ASSERT_TRUE(host.run(1));
    EXPECT_NE(std::string(host.title()).find(" comb_th:6000"), std::string::npos) << host.title();
}

// Frame k carries cb = 2000 in columns x < m[k] and 0 beyond, so the weave of
// frames n-1 and n combs every evaluated pixel of the columns where the two
// differ: its count is (h - 4) * |m[n] - m[n-1]|, 32 a column.
struct ScoringCase {
    const char* what;
    std::vector<int> m;  // column counts of frames 0..9
    int frame, stripe;
    int match, comb;
    int third;  // the third candidate scored, or -1 for none
};

TEST(FilterProc, ScoringOrderTiesAndTheThirdCandidate) {
    // At frame f the candidates are matches f (frames f-1, f) and f+1 (f,
    // f+1), then f+2 above or f-1 below. At TRACK_STRIPE 32 the threshold is
    // (64 * 32 * 36) >> 9 = 144, so one column (32, four times 128) scores no
    // third; at 0 a third is always scored.
    const ScoringCase cases[] = {
        {"equal counts keep f; cm equal to c0 keeps f", {0, 0, 0, 3, 6, 9, 9, 9, 9, 9}, 4, 32, 4, 96, 3},
        {"c1 < c0, c2 equal keeps f+1", {0, 0, 0, 0, 5, 7, 9, 9, 9, 9}, 4, 32, 5, 64, 6},
        {"c1 < c0, c2 smaller takes f+2", {0, 0, 0, 0, 5, 8, 9, 9, 9, 9}, 4, 32, 6, 32, 6},
        {"c0 < c1, cm smaller takes f-1", {0, 0, 0, 0, 3, 9, 9, 9, 9, 9}, 4, 32, 3, 0, 3},
        {"c0 below a quarter of the threshold scores no third", {0, 0, 0, 5, 6, 9, 9, 9, 9, 9}, 4, 32, 4, 32, -1},
        {"c1 below a quarter scores no third", {0, 0, 0, 0, 9, 10, 20, 20, 20, 20}, 4, 32, 5, 32, -1},
        {"all flat: zero counts keep f", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 4, 32, 4, 0, -1},
        {"threshold 0: 4 * 0 >= 0 scores match f-1", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 4, 0, 4, 0, 3},
        // Frame 0: match 0 names no candidate, match 1 wins even with a comb;
        // four times 288 reaches 144, so match 2 is scored, and ties.
        {"frame 0", {0, 9, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 32, 1, 9 * 32, 2},
        // The last frame (9, odd): match 10 is unavailable, match 9 stays
        // unless 8 combs less.
        {"last frame", {0, 0, 0, 0, 0, 0, 0, 0, 3, 9}, 9, 32, 8, 3 * 32, 8},
    };
    for (const ScoringCase& c : cases) {
        const int W = 64, H = 36;
        TestHost host(W, H, 10);
        for (int f = 0; f < host.frame_n; ++f)
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) host.at(f, x, y) = px(500, x < c.m[f] ? 2000 : 0, 0);
        host.track[TRACK_WIDTH] = 0;  // every column is scored
        host.track[TRACK_STRIPE] = c.stripe;
        ASSERT_TRUE(host.run(c.frame)) << c.what;
        EXPECT_EQ(host.title(), expected_title(c.match, c.comb, (W * c.stripe * H) >> 9)) << c.what;
        EXPECT_EQ(fetched(host, c.frame + 2), c.third == c.frame + 2) << c.what;
        EXPECT_EQ(fetched(host, c.frame - 2), c.third == c.frame - 1) << c.what;
    }
}

TEST(FilterProc, FramesOfFourRowsOrFewerScoreZero) {
    for (int h = 1; h <= 4; ++h) {
        TestHost host(16, h, 6);
        host.fill_random(static_cast<uint32_t>(h));
        ASSERT_TRUE(host.run(3)) << h;
        const int th = (16 * 16 * h) >> 9;
        EXPECT_EQ(host.title(), expected_title(3, 0, th)) << h;
        EXPECT_EQ(fetched(host, 1), th == 0) << "third candidate only at threshold 0, h " << h;
    }
}

TEST(FilterProc, HandsOverTheWovenFrameByExchangingPointers) {
    TestHost host(12, 10, 6);
    host.fill_random(3);
    host.check[CHECK_LPF] = 0;
    ASSERT_TRUE(host.run(2));
    EXPECT_TRUE(host.swapped());
}

TEST(FilterProc, FailedFrameLeavesTheInputAndTheTitle) {
    const struct {
        const char* what;
        int frame_n, frame;
        std::set<int> missing;
        bool refuse;
        bool asks_nothing;  // neither frames nor is_saving, scratch frame untouched
        int must_fetch;     // a frame it asks for, or -1
    } cases[] = {
        {"refused cache request", 6, 2, {}, true, true, -1},
        {"a one-frame clip has no candidate at all", 1, 0, {}, false, true, -1},
        {"frame 2 lost: both candidates unavailable", 6, 2, {2}, false, false, 2},
        {"an even last frame's partner is beyond the clip", 5, 4, {}, false, false, 5},
    };
    for (const auto& c : cases) {
        TestHost host(12, 10, c.frame_n);
        host.missing = c.missing;
        host.refuse_cache = c.refuse;
        host.prepare(c.frame);
        const Frame edit = host.edit.pixels(), temp = host.temp.pixels();
        const long titles = native_window_text_calls();
        EXPECT_FALSE(host.proc()) << c.what;
        EXPECT_TRUE(same_pixels(edit, host.edit)) << c.what;
        EXPECT_EQ(host.fpip.ycp_edit, host.edit.data()) << c.what;
        EXPECT_EQ(native_window_text_calls(), titles) << c.what;
        if (c.asks_nothing) {
            EXPECT_TRUE(host.log.fetches.empty()) << c.what;
            EXPECT_EQ(host.log.saving_asks, 0) << c.what;
            EXPECT_TRUE(same_pixels(temp, host.temp)) << c.what;
        }
        if (c.must_fetch >= 0) {
            EXPECT_TRUE(fetched(host, c.must_fetch)) << c.what;
        }
    }
}

TEST(FilterProc, MissingPartnerLeavesTheChosenWeaveInTheScratchFrame) {
    TestHost host(12, 10, 6);  // the default picture: every candidate scores 0
    host.prepare(2);
    ASSERT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, 2), WEAVE_OK);
    const Frame weave2 = host.temp.pixels();
    ASSERT_EQ(weave_match(host.temp.data(), &host.filter, &host.fpip, 3), WEAVE_OK);
    const Frame weave3 = host.temp.pixels();

    host.missing = {3};  // frame 2's partner; match 3 also needs it
    host.prepare(2);
    const Frame edit = host.edit.pixels();
    EXPECT_FALSE(host.proc());
    EXPECT_TRUE(same_pixels(edit, host.edit));
    EXPECT_TRUE(same_pixels(weave2, host.temp)) << "ycp_temp holds the chosen weave (match 2)";
    EXPECT_FALSE(same_pixels(weave3, host.temp));
    EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
}

TEST(FilterProc, UnavailableCandidateLosesToAnyCount) {
    TestHost host(12, 10, 6);
    host.track[TRACK_TH_C] = 0;  // every available candidate counts (10 - 4) * 12
    host.missing = {1};          // match 2 (frames 1, 2) cannot be woven
    ASSERT_TRUE(host.run(2));
    EXPECT_EQ(host.title(), expected_title(3, 72, (12 * 16 * 10) >> 9));
}

TEST(FilterProc, TitleIsWrittenOnlyWhileNotSaving) {
    TestHost host(16, 12, 6);
    host.fill_random(9);
    ASSERT_TRUE(host.run(2));
    const std::string shown = host.title();
    EXPECT_EQ(shown.rfind("pelta num:", 0), 0u) << shown;
    EXPECT_EQ(shown, filter_title());

    host.saving = true;
    host.fill_random(10);
    const long calls = native_window_text_calls();
    ASSERT_TRUE(host.run(3));
    EXPECT_EQ(native_window_text_calls(), calls);
    EXPECT_EQ(host.title(), shown);
}

TEST(FilterProc, SettingsChangedThroughTheHostRescoreTheNextFrame) {
    // The host announces each change; the filter empties its match cache, so
    // the next frame comes out as on a host that started with the new
    // settings.
    using Step = std::function<void(MemoryHost&)>;
    const struct {
        const char* what;
        Step before, change;
    } changes[] = {
        {"TH_C", nullptr, [](MemoryHost& h) { h.set_track(TRACK_TH_C, 0); }},
        {"TH_Y", nullptr, [](MemoryHost& h) { h.set_track(TRACK_TH_Y, -256); }},
        {"window", nullptr, [](MemoryHost& h) { h.set_window(2, 3); }},
        {"field order", nullptr, [](MemoryHost& h) { h.set_check(CHECK_TFF, 0); }},
        {"back to the defaults", [](MemoryHost& h) { h.track[TRACK_TH_C] = 0; },
         [](MemoryHost& h) { h.reset_settings(); }},
    };
    for (const auto& c : changes) {
        std::string title;
        Frame out;
        std::vector<int> track, check;
        {
            TestHost host(16, 12, 6);
            host.fill_random(5);
            host.track[TRACK_WIDTH] = 4;
            if (c.before) c.before(host);
            for (int f = 1; f <= 4; ++f) ASSERT_TRUE(host.run(f));
            c.change(host);
            ASSERT_TRUE(host.run(3));
            title = host.title();
            out = host.output_pixels();
            track = host.track;
            check = host.check;
        }
        TestHost fresh(16, 12, 6);
        fresh.fill_random(5);
        std::copy(track.begin(), track.end(), fresh.track.begin());
        std::copy(check.begin(), check.end(), fresh.check.begin());
        ASSERT_TRUE(fresh.run(3));
        EXPECT_EQ(title, fresh.title()) << c.what;
        EXPECT_TRUE(same_pixels(out, fresh.output_pixels())) << c.what;
    }
}

TEST(Title, FormatAndBound) {
    char buf[TITLE_BYTES];
    format_title(buf, sizeof buf, "pelta", 12, 0, 6000);
    EXPECT_STREQ(buf, "pelta num:12 comb:0 comb_th:6000");
    format_title(buf, sizeof buf, "pelta", -1, INT_MAX, INT_MIN);
    EXPECT_STREQ(buf, "pelta num:-1 comb:2147483647 comb_th:-2147483648");

    const std::string long_name(400, 'x');
    std::memset(buf, 0x7F, sizeof buf);
    EXPECT_EQ(format_title(buf, sizeof buf, long_name.c_str(), 1, 2, 3), TITLE_BYTES - 1);
    EXPECT_EQ(buf[TITLE_BYTES - 1], '\0');
    EXPECT_EQ(std::string(buf), long_name.substr(0, TITLE_BYTES - 1));

    char tiny[4];
    format_title(tiny, sizeof tiny, "pelta", 1, 2, 3);
    EXPECT_STREQ(tiny, "pel");
}

TEST(RangeDisplay, ShowsTheWindowAsANegativeAndReturns) {
    TestHost host(10, 6, 4);
    host.track[TRACK_LEFT] = 2;
    host.track[TRACK_WIDTH] = 5;
    host.check[CHECK_RANGE] = 2;  // any nonzero value is on
    host.at(1, 3, 1) = px(5000, -32768, 32767);
    host.at(1, 4, 1) = px(-28672, 0, -5);
    host.prepare(1);
    const Frame input = host.edit.pixels(), temp = host.temp.pixels();
    const long titles = native_window_text_calls();
    ASSERT_TRUE(host.proc());

    EXPECT_EQ(host.fpip.ycp_edit, host.edit.data()) << "no pointer exchange";
    EXPECT_TRUE(host.log.fetches.empty()) << "nothing scored or woven";
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
    TestHost host(10, 6, 4);
    host.check[CHECK_RANGE] = 1;
    host.track[TRACK_LEFT] = 3;
    host.track[TRACK_WIDTH] = 0;
    host.prepare(1);
    const Frame input = host.edit.pixels();
    ASSERT_TRUE(host.proc());
    EXPECT_TRUE(same_pixels(input, host.edit));
}

TEST(RangeDisplay, WhileSavingTheFrameIsProcessedInFull) {
    TestHost plain(10, 8, 4), ranged(10, 8, 4);
    for (TestHost* h : {&plain, &ranged}) {
        h->fill_random(21);
        h->saving = true;
    }
    ranged.check[CHECK_RANGE] = 1;
    ASSERT_TRUE(plain.run(1));
    ASSERT_TRUE(ranged.run(1));
    EXPECT_TRUE(same_pixels(plain.output_pixels(), ranged.output_pixels()));
    EXPECT_EQ(ranged.log.saving_asks, 2);
}

// Output of one frame, as the host would take it.
Frame output_of(TestHost& host, int f, int16_t scratch) {
    host.prepare(f, px(scratch, scratch, scratch));
    EXPECT_TRUE(host.proc());
    return host.output_pixels();
}

TEST(FilterProc, OutputDoesNotDependOnTheScratchFrame) {
    // Odd heights included: every row of the output comes from the clip.
    for (int h : {7, 9, 10}) {
        for (int lowpass : {0, 1}) {
            TestHost host(14, h, 6);
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
        TestHost host(16, 12, 6);
        host.fill_random(31);
        host.check[CHECK_TFF] = tff;
        host.track[TRACK_SHIFT] = 6;
        return output_of(host, 2, 0);
    };
    const Frame off = run_with(0), on = run_with(1), two = run_with(2), three = run_with(3);
    EXPECT_TRUE(same_pixels(off, two));
    EXPECT_TRUE(same_pixels(on, three));
    EXPECT_FALSE(same_pixels(off, on));
}

TEST(FilterProc, ForwardPlaybackWeavesAtMostTwoNewCandidatesPerFrame) {
    TestHost host(16, 12, 20);
    host.fill_random(41);
    host.track[TRACK_STRIPE] = 0;  // a third candidate on every frame
    for (int f = 0; f < 20; ++f) {
        ASSERT_TRUE(host.run(f));
        // Two frames per new candidate, two for the chosen weave, one partner.
        EXPECT_LE(host.log.fetches.size(), 2u * 2 + 3) << "frame " << f;
    }
}

}  // namespace
