// What a host might send that the track bars never would, and host faults:
// the filter must stay inside the frames, return, and leave the frames as its
// failure rules promise. Run in the sanitizer build too, where any undefined
// behaviour or stray access aborts the test.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "host_rig.h"
#include "match/match_cache.h"
#include "native/platform_native.h"
#include "wild_host.h"

using namespace pelta;

namespace {

TEST(HostFaults, NullFrameAtEveryPositionTheProcedureAsks) {
    for (int f : {0, 2, 3, 5}) {
        TestHost host(12, 9, 6);
        host.fill_random(static_cast<uint32_t>(f));
        host.track[TRACK_STRIPE] = 0;  // three candidates scored
        clear_match_cache();
        ASSERT_TRUE(host.run(f));
        const std::vector<int> asked = host.log.fetches;
        ASSERT_GE(asked.size(), 3u);
        for (size_t k = 0; k < asked.size(); ++k) {
            clear_match_cache();
            host.fail_fetch_at = static_cast<int>(k);
            host.prepare(f);
            const Frame input = host.edit.pixels();
            const long titles = native_window_text_calls();
            const BOOL ok = host.proc();
            const bool weave_or_partner = k + 3 >= asked.size();
            if (weave_or_partner) {
                EXPECT_FALSE(ok) << "frame " << f << " fetch " << k;
            }
            if (!ok) {
                EXPECT_TRUE(same_pixels(input, host.edit)) << "frame " << f << " fetch " << k;
                EXPECT_EQ(host.fpip.ycp_edit, host.edit.data());
                EXPECT_EQ(native_window_text_calls(), titles);
            } else {
                EXPECT_FALSE(weave_or_partner);
                EXPECT_EQ(native_window_text_calls(), titles + 1);
            }
        }
        host.fail_fetch_at = -1;
    }
}

TEST(WildSettings, AnyTrackAndCheckValuesStayInsideTheFrames) {
    std::mt19937 rng(20261208);
    const std::function<uint32_t()> next = [&rng] { return static_cast<uint32_t>(rng()); };
    for (int iter = 0; iter < 2000; ++iter) {
        const std::string problem = run_wild_scenario(next);
        ASSERT_EQ(problem, "") << "scenario " << iter;
    }
}

}  // namespace
