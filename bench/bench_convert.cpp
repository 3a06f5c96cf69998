// The command-line host's conversions between Y4M planes and PIXEL_YC frames:
// 1920x1080 4:2:2 and 4:2:0 at 8 and 10 bits, each way, with the kernels of
// each SIMD tier (2 AVX2, 1 SSE2, 0 the plain ones).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "convert/convert.h"
#include "base/cpu.h"

using namespace pelta;

namespace {

using pelta_cli::Chroma;

constexpr int kW = 1920, kH = 1080;

// Args: chroma (0 4:2:2, 1 4:2:0), depth, SIMD tier.
void convert(benchmark::State& state, bool to_planes) {
    const Chroma c = state.range(0) == 0 ? Chroma::C422 : Chroma::C420mpeg2;
    const int depth = static_cast<int>(state.range(1));
    const SimdLevel tier = static_cast<SimdLevel>(state.range(2));
    if (tier > cpu_simd_level()) {
        state.SkipWithError("CPU without this tier");
        return;
    }
    set_simd_cap(tier);
    const pelta_cli::PlaneSizes ps = pelta_cli::plane_sizes(c, kW, kH, depth);
    std::vector<uint8_t> planes(ps.frame());
    std::mt19937 rng(1);
    for (size_t i = 0; i < planes.size(); ++i) planes[i] = static_cast<uint8_t>(depth > 8 && i % 2 ? rng() & 3 : rng());
    const int stride = kW + 32;
    std::vector<PIXEL_YC> frame(static_cast<size_t>(stride) * kH);
    pelta_cli::planes_to_yc(planes.data(), c, kW, kH, frame.data(), stride, depth);
    for (auto _ : state) {
        if (to_planes)
            pelta_cli::yc_to_planes(frame.data(), stride, kW, kH, c, planes.data(), depth);
        else
            pelta_cli::planes_to_yc(planes.data(), c, kW, kH, frame.data(), stride, depth);
        benchmark::ClobberMemory();
    }
    set_simd_cap(SIMD_AVX2);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void args(benchmark::internal::Benchmark* b) {
    for (int chroma : {0, 1})
        for (int depth : {8, 10})
            for (int tier : {SIMD_AVX2, SIMD_SSE2, SIMD_SCALAR}) b->Args({chroma, depth, tier});
    b->ArgNames({"chroma420", "depth", "simd"})->Unit(benchmark::kMicrosecond);
}

void BM_PlanesToYc(benchmark::State& state) { convert(state, false); }
void BM_YcToPlanes(benchmark::State& state) { convert(state, true); }
BENCHMARK(BM_PlanesToYc)->Apply(args);
BENCHMARK(BM_YcToPlanes)->Apply(args);

}  // namespace
