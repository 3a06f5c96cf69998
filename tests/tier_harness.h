// The harness of the SIMD tier tests (tests/test_simd_*.cpp and
// tests/cli/test_convert_tiers.cpp), in the manner of checkasm: each case
// runs once per tier up to the machine's, the tier's kernel (call_new)
// against the scalar reference (call_ref), on inputs from a seeded generator.
//
//  - TierTest: a test per tier (.../scalar, .../sse2, .../avx2), skipped
//    above the machine's tier, with the dispatch capped to the tier while it
//    runs. `rng` is seeded from the test's name, or from PELTA_TIER_SEED; the
//    seed is in every failure message.
//  - KernelTierTest<Table, kernels_for>: the same with a family's tables,
//    ref() and tested(), and same_output(), which runs both into copies of
//    one Guarded output and compares all of it.
//  - Guarded<T>: an output row between guard zones, all of it random: the
//    reference's and the tested kernel's copies start out the same, and a
//    write outside the row, by either, fails.
//  - Values: where random samples come from, a range with extremes mixed in.
//  - PELTA_TIER_BENCH=1 prints, per test, the time spent in call_ref and
//    call_new (never asserted).
//  - expect_dispatch_follows_cap: a family's table in force is that of
//    min(CPU tier, cap), the CPU tier lowered with limit_cpu_simd_level.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/cpu.h"

namespace tier_harness {

using pelta::SimdLevel;

constexpr SimdLevel kAllTiers[] = {pelta::SIMD_SCALAR, pelta::SIMD_SSE2, pelta::SIMD_AVX2};

// Test names end in the tier's name.
inline std::string tier_name(const ::testing::TestParamInfo<SimdLevel>& info) {
    return pelta::simd_level_name(info.param);
}

// PELTA_TIER_SEED, or a hash of the test's name (the same at every tier).
inline uint32_t tier_seed(const char* test_name) {
    if (const char* env = std::getenv("PELTA_TIER_SEED"); env && *env)
        return static_cast<uint32_t>(std::strtoul(env, nullptr, 0));
    uint32_t h = 2166136261u;
    for (const char* c = test_name; *c && *c != '/'; ++c) h = (h ^ static_cast<uint8_t>(*c)) * 16777619u;
    return h;
}

// Random samples: uniform over [lo, hi], and one time in `one_in` one of the
// extremes (none: always uniform; one_in 1: always an extreme).
struct Values {
    int lo, hi;
    std::vector<int> extremes;
    uint32_t one_in = 4;
    int draw(std::mt19937& rng) const {
        if (!extremes.empty() && rng() % one_in == 0) return extremes[rng() % extremes.size()];
        return lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1));
    }
};

// Any 16-bit sample; the extremes include the ends, where sums of two
// saturate or wrap, and the values around half the range.
inline const Values kAnySample{-32768, 32767, {-32768, -32767, -20000, -16385, -16384, -1, 0, 1, 16383, 16384, 20000, 32766, 32767}};

// Every int16 sample of v (int16_t, or a struct of them such as PIXEL_YC).
template <class T>
void fill(std::vector<T>& v, const Values& values, std::mt19937& rng) {
    static_assert(sizeof(T) % sizeof(int16_t) == 0, "int16 samples");
    int16_t* s = reinterpret_cast<int16_t*>(v.data());
    for (size_t i = 0; i < v.size() * (sizeof(T) / sizeof(int16_t)); ++i) s[i] = static_cast<int16_t>(values.draw(rng));
}
template <class T>
std::vector<T> random_row(size_t n, const Values& values, std::mt19937& rng) {
    std::vector<T> v(n);
    fill(v, values, rng);
    return v;
}

// Values of guard zone on each side of a Guarded row.
constexpr size_t kGuard = 32;

// An output of n values of T, `offset` values past the start of the guard
// zone's end (to vary the alignment), between guard zones; all of it holds
// the same random bytes in want() (the reference's copy) and got().
template <class T>
class Guarded {
public:
    Guarded(size_t n, std::mt19937& rng, size_t offset = 0) : lead_(kGuard + offset), n_(n), orig_(lead_ + n + kGuard) {
        uint8_t* bytes = reinterpret_cast<uint8_t*>(orig_.data());
        for (size_t i = 0; i < orig_.size() * sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(rng());
        want_ = got_ = orig_;
    }
    T* want() { return want_.data() + lead_; }
    T* got() { return got_.data() + lead_; }
    // What the row held before either call.
    const T* original() const { return orig_.data() + lead_; }

    // Empty when neither copy was written outside the row and the rows agree;
    // else the first place where that fails.
    std::string difference() const {
        for (const std::vector<T>* copy : {&want_, &got_})
            for (size_t i = 0; i < orig_.size(); i = i + 1 == lead_ ? lead_ + n_ : i + 1)
                if (!same(*copy, orig_, i))
                    return std::string(copy == &want_ ? "the reference" : "the tested kernel") + " wrote at " +
                           where(i) + ", outside the row of " + std::to_string(n_);
        for (size_t i = lead_; i < lead_ + n_; ++i)
            if (!same(want_, got_, i)) return "the rows differ first at " + where(i);
        return {};
    }

private:
    static bool same(const std::vector<T>& a, const std::vector<T>& b, size_t i) {
        return std::memcmp(&a[i], &b[i], sizeof(T)) == 0;
    }
    std::string where(size_t i) const { return std::to_string(static_cast<long>(i) - static_cast<long>(lead_)); }
    size_t lead_, n_;
    std::vector<T> orig_, want_, got_;
};

// A test run once per tier; see the top of this file.
class TierTest : public ::testing::TestWithParam<SimdLevel> {
protected:
    void SetUp() override {
        seed = tier_seed(::testing::UnitTest::GetInstance()->current_test_info()->name());
        rng.seed(seed);
        trace_ = std::make_unique<::testing::ScopedTrace>(
            __FILE__, __LINE__, "seed " + std::to_string(seed) + " (PELTA_TIER_SEED repeats it)");
        if (tier() > pelta::cpu_simd_level()) GTEST_SKIP() << "CPU without " << pelta::simd_level_name(tier());
        pelta::set_simd_cap(tier());
    }
    void TearDown() override {
        pelta::set_simd_cap(pelta::SIMD_AVX2);
        if (bench_ && (ref_ns_ || new_ns_))
            std::printf("[ tier     ] %s: %.3f ms, reference %.3f ms\n",
                        ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                        static_cast<double>(new_ns_) * 1e-6, static_cast<double>(ref_ns_) * 1e-6);
        trace_.reset();
    }
    SimdLevel tier() const { return GetParam(); }

    // f() as the reference's call or the tested one's, timed with
    // PELTA_TIER_BENCH.
    template <class F>
    decltype(auto) call_ref(F&& f) {
        const Timer t{bench_ ? &ref_ns_ : nullptr};
        return f();
    }
    template <class F>
    decltype(auto) call_new(F&& f) {
        const Timer t{bench_ ? &new_ns_ : nullptr};
        return f();
    }

    std::mt19937 rng;
    uint32_t seed = 0;

private:
    typedef std::chrono::steady_clock Clock;
    struct Timer {
        int64_t* ns;
        Clock::time_point start = Clock::now();
        ~Timer() {
            if (ns) *ns += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        }
    };
    const char* const bench_env_ = std::getenv("PELTA_TIER_BENCH");
    const bool bench_ = bench_env_ && *bench_env_ && std::strcmp(bench_env_, "0") != 0;
    int64_t ref_ns_ = 0, new_ns_ = 0;
    std::unique_ptr<::testing::ScopedTrace> trace_;
};

// A tier test of one kernel family: ref() is the scalar table, tested() the
// tier's.
template <class Table, const Table* (*KernelsFor)(SimdLevel)>
class KernelTierTest : public TierTest {
protected:
    static const Table& ref() { return *KernelsFor(pelta::SIMD_SCALAR); }
    const Table& tested() const { return *KernelsFor(tier()); }

    // call(table, out) with the reference table and the tested one, each into
    // its own copy of a Guarded output of n values of T.
    template <class T, class Call>
    ::testing::AssertionResult same_output(size_t n, Call call, size_t offset = 0) {
        Guarded<T> out(n, rng, offset);
        call_ref([&] { call(ref(), out.want()); });
        call_new([&] { call(tested(), out.got()); });
        const std::string d = out.difference();
        if (d.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << d;
    }
};

// Runs the tests of a TierTest suite at every tier.
#define PELTA_TIER_TESTS(suite) \
    INSTANTIATE_TEST_SUITE_P(Tiers, suite, ::testing::ValuesIn(tier_harness::kAllTiers), tier_harness::tier_name)

// For every CPU tier the machine can stand in for and every cap, up and down:
// the family's table in force is that of min(CPU tier, cap).
template <class Table>
void expect_dispatch_follows_cap(const Table* (*kernels_for)(SimdLevel), const Table* (*kernels)()) {
    const SimdLevel machine = pelta::cpu_simd_level();
    for (SimdLevel limit : kAllTiers)
        for (SimdLevel cap : {pelta::SIMD_AVX2, pelta::SIMD_SCALAR, pelta::SIMD_SSE2, pelta::SIMD_AVX2}) {
            pelta::limit_cpu_simd_level(limit);
            pelta::set_simd_cap(cap);
            SimdLevel want = machine < limit ? machine : limit;
            if (cap < want) want = cap;
            EXPECT_EQ(pelta::simd_level(), want) << "CPU limit " << limit << ", cap " << cap;
            EXPECT_EQ(kernels(), kernels_for(want)) << "CPU limit " << limit << ", cap " << cap;
        }
    pelta::limit_cpu_simd_level(pelta::SIMD_AVX2);
    pelta::set_simd_cap(pelta::SIMD_AVX2);
}

}  // namespace tier_harness
