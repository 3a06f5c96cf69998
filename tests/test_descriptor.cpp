// The descriptor as the host reads it, and the three entry points.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_host.h"
#include "native/platform_native.h"
#include "match/match_cache.h"
#include "pelta_version.h"
#include "window/carrier.h"

using namespace pelta;

namespace {

std::string bytes(const char* s) { return std::string(s); }

TEST(Descriptor, HeaderWordsAndCallbacks) {
    const FILTER_DLL* d = GetFilterTable();
    EXPECT_EQ(d->flag, 0x40000);
    EXPECT_EQ(d->x, 0);
    EXPECT_EQ(d->y, 0);
    EXPECT_STREQ(d->name, "pelta");
    EXPECT_EQ(d->track_n, 10);
    EXPECT_EQ(d->check_n, 5);
    EXPECT_NE(d->func_proc, nullptr);
    EXPECT_EQ(d->func_init, nullptr);
    EXPECT_NE(d->func_exit, nullptr);
    EXPECT_NE(d->func_update, nullptr);
    EXPECT_EQ(d->func_WndProc, nullptr);
    EXPECT_EQ(d->track, nullptr);
    EXPECT_EQ(d->check, nullptr);
    EXPECT_EQ(d->ex_data_ptr, nullptr);
    EXPECT_EQ(d->ex_data_size, 0);
    EXPECT_EQ(d->func_save_start, nullptr);
    EXPECT_EQ(d->func_save_end, nullptr);
    EXPECT_EQ(d->exfunc, nullptr);
    EXPECT_EQ(d->hwnd, nullptr);
    EXPECT_EQ(d->dll_hinst, nullptr);
    EXPECT_EQ(d->ex_data_def, nullptr);
    EXPECT_EQ(d->func_is_saveframe, nullptr);
    EXPECT_EQ(d->func_project_load, nullptr);
    EXPECT_EQ(d->func_project_save, nullptr);
    EXPECT_EQ(d->func_modify_title, nullptr);
    EXPECT_EQ(d->dll_path, nullptr);
    EXPECT_EQ(d->reserve[0], 0);
    EXPECT_EQ(d->reserve[1], 0);
}

TEST(Descriptor, InformationNamesFilterAndVersion) {
    const std::string info = GetFilterTable()->information;
    EXPECT_NE(info.find("pelta"), std::string::npos);
    EXPECT_EQ(info.rfind("pelta ver1.2", 0), 0u) << info;
    // The version comes from the build, the same that pelta --version and
    // the DLL's version resource show.
    EXPECT_EQ(info.rfind("pelta ver" PELTA_VERSION " ", 0), 0u) << info;
    for (unsigned char c : info) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "information must be one ASCII line";
}

TEST(Descriptor, TrackBarLabelsAreShiftJisBytes) {
    const FILTER_DLL* d = GetFilterTable();
    const char* expected[10] = {"\x8D\xB6", "\x95\x9D", "1/60", "\xE8\x87Y", "\xE8\x87" "C",
                                "\x8D\x82\x88\xE6", "\x92\x86\x88\xE6", "\x8E\xC8", "freq", "phase"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(bytes(d->track_name[i]), bytes(expected[i])) << "track " << i;
}

TEST(Descriptor, CheckBoxLabelsKeepTheBackslashByte) {
    const FILTER_DLL* d = GetFilterTable();
    const unsigned char range[] = {0x94, 0xCD, 0x88, 0xCD, 0x95, 0x5C, 0x8E, 0xA6, 0x00};
    EXPECT_EQ(std::memcmp(d->check_name[CHECK_RANGE], range, sizeof range), 0);
    EXPECT_STREQ(d->check_name[CHECK_TFF], "TFF");
    EXPECT_STREQ(d->check_name[CHECK_MONO], "MONO");
    EXPECT_STREQ(d->check_name[CHECK_CY], "C/Y");
    EXPECT_STREQ(d->check_name[CHECK_LPF], "LPF");
}

TEST(Descriptor, DefaultsAndRanges) {
    const FILTER_DLL* d = GetFilterTable();
    const int defaults[10] = {320, 320, 0, 50, 70, 3, 1, 16, 704, 0};
    const int minima[10] = {0, 0, 0, -256, 0, 0, 0, 0, 600, -180};
    const int maxima[10] = {2048, 2048, 256, 256, 256, 8, 8, 32, 750, 180};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(d->track_default[i], defaults[i]) << "track " << i;
        EXPECT_EQ(d->track_s[i], minima[i]) << "track " << i;
        EXPECT_EQ(d->track_e[i], maxima[i]) << "track " << i;
        EXPECT_LE(d->track_s[i], d->track_default[i]);
        EXPECT_LE(d->track_default[i], d->track_e[i]);
    }
    const int check_defaults[5] = {1, 0, 0, 0, 1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(d->check_default[i], check_defaults[i]) << "check " << i;
}

bool cache_empty() {
    const MatchCacheEntry* e = match_cache_entries();
    for (int i = 0; i < MATCH_CACHE_SLOTS; ++i)
        if (e[i].count != 0 || e[i].index != 0) return false;
    return true;
}

TEST(EntryPoints, GetFilterTableIsStableAndEmptiesTheCache) {
    FakeHost host(16, 12, 6);
    ASSERT_TRUE(host.run(2));
    EXPECT_FALSE(cache_empty());
    const FILTER_DLL* first = GetFilterTable();
    EXPECT_TRUE(cache_empty());
    ASSERT_TRUE(host.run(2));
    EXPECT_FALSE(cache_empty());
    EXPECT_EQ(GetFilterTable(), first);
    EXPECT_TRUE(cache_empty());
}

TEST(EntryPoints, UpdateEmptiesTheCacheSoTheNextFrameScoresAfresh) {
    FakeHost host(16, 12, 6);
    EXPECT_EQ(host.filter.func_update(&host.filter, 0), TRUE);  // before any frame
    ASSERT_TRUE(host.run(2));
    host.fetches.clear();
    ASSERT_TRUE(host.run(2));
    const size_t warm = host.fetches.size();  // both candidates hit: only the chosen weave and partner
    EXPECT_EQ(host.filter.func_update(&host.filter, 0), TRUE);
    EXPECT_TRUE(cache_empty());
    host.fetches.clear();
    ASSERT_TRUE(host.run(2));
    EXPECT_GT(host.fetches.size(), warm);
}

TEST(EntryPoints, ExitWithoutTablesAndTwiceIsHarmless) {
    FakeHost host(16, 12, 4);
    release_carrier_tables();  // start with no tables, whatever ran before
    const int live = native_heap_live_blocks();
    EXPECT_EQ(host.filter.func_exit(&host.filter), TRUE);
    EXPECT_EQ(host.filter.func_exit(&host.filter), TRUE);
    EXPECT_EQ(native_heap_live_blocks(), live);
    EXPECT_EQ(carrier_state().cos_table, nullptr);
}

}  // namespace
