// The descriptor as the host reads it, and the three entry points.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "expected_descriptor.h"
#include "host_rig.h"
#include "match/match_cache.h"
#include "native/platform_native.h"
#include "pelta_version.h"
#include "plugin/descriptor.h"
#include "window/carrier.h"

using namespace pelta;

namespace {

TEST(Descriptor, HeaderWordsAndCallbacks) {
    const FILTER_DLL* d = GetFilterTable();
    EXPECT_EQ(d->flag, 0x40000);
    EXPECT_EQ(d->x, 0);
    EXPECT_EQ(d->y, 0);
    EXPECT_STREQ(d->name, "pelta");
    EXPECT_EQ(d->track_n, expected::kTrackCount);
    EXPECT_EQ(d->check_n, expected::kCheckCount);
    EXPECT_NE(d->func_proc, nullptr);
    EXPECT_NE(d->func_exit, nullptr);
    EXPECT_NE(d->func_update, nullptr);
    for (const expected::UnsetField& f : expected::unset_fields(d)) EXPECT_FALSE(f.set) << f.name;
}

TEST(Descriptor, InformationNamesFilterAndVersion) {
    const std::string info = GetFilterTable()->information;
    EXPECT_EQ(info.rfind("pelta ver1.2", 0), 0u) << info;
    // The version comes from the build, the same that pelta --version and
    // the DLL's version resource show.
    EXPECT_EQ(info.rfind("pelta ver" PELTA_VERSION " ", 0), 0u) << info;
    for (unsigned char c : info) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "information must be one ASCII line";
}

TEST(Descriptor, LabelsDefaultsAndRanges) {
    const FILTER_DLL* d = GetFilterTable();
    for (int i = 0; i < expected::kTrackCount; ++i) {
        EXPECT_EQ(std::string(d->track_name[i]), expected::kTrackLabels[i]) << "track " << i;
        EXPECT_EQ(d->track_default[i], expected::kTrackDefaults[i]) << "track " << i;
        EXPECT_EQ(d->track_s[i], expected::kTrackMinima[i]) << "track " << i;
        EXPECT_EQ(d->track_e[i], expected::kTrackMaxima[i]) << "track " << i;
        EXPECT_LE(d->track_s[i], d->track_default[i]);
        EXPECT_LE(d->track_default[i], d->track_e[i]);
    }
    for (int i = 0; i < expected::kCheckCount; ++i) {
        EXPECT_EQ(std::string(d->check_name[i]), expected::kCheckLabels[i]) << "check " << i;
        EXPECT_EQ(d->check_default[i], expected::kCheckDefaults[i]) << "check " << i;
    }
    // The range display's label keeps its backslash byte as it is.
    const unsigned char range[] = {0x94, 0xCD, 0x88, 0xCD, 0x95, 0x5C, 0x8E, 0xA6, 0x00};
    EXPECT_EQ(std::memcmp(d->check_name[CHECK_RANGE], range, sizeof range), 0);
}

bool cache_empty() {
    const MatchCacheEntry* e = match_cache_entries();
    for (int i = 0; i < MATCH_CACHE_SLOTS; ++i)
        if (e[i].count != 0 || e[i].index != 0) return false;
    return true;
}

TEST(EntryPoints, GetFilterTableIsStableAndEmptiesTheCache) {
    TestHost host(16, 12, 6);
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
    TestHost host(16, 12, 6);
    EXPECT_EQ(host.update(), TRUE);  // before any frame
    ASSERT_TRUE(host.run(2));
    ASSERT_TRUE(host.run(2));
    const size_t warm = host.log.fetches.size();  // both candidates hit: only the chosen weave and partner
    EXPECT_EQ(host.update(), TRUE);
    EXPECT_TRUE(cache_empty());
    ASSERT_TRUE(host.run(2));
    EXPECT_GT(host.log.fetches.size(), warm);
}

TEST(EntryPoints, ExitWithoutTablesAndTwiceIsHarmless) {
    TestHost host(16, 12, 4);
    release_carrier_tables();  // start with no tables, whatever ran before
    const int live = native_heap_live_blocks();
    EXPECT_EQ(host.exit(), TRUE);
    EXPECT_EQ(host.exit(), TRUE);
    EXPECT_EQ(native_heap_live_blocks(), live);
    EXPECT_EQ(carrier_state().cos_table, nullptr);
}

}  // namespace
