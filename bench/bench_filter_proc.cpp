// The whole frame procedure over forward passes of a telecined clip, so the
// match cache works as in real use: each frame finds the first of its
// candidates scored by the frame before.
#include <benchmark/benchmark.h>

#include "bench_host.h"
#include "base/cpu.h"

using namespace pelta;

namespace {

constexpr int kClipFrames = 30;

// range(0): 0 for 720 x 480, 1 for 1920 x 1080. range(1): 0 default
// settings, 1 every stage on. range(2): 1 to pin the kernels to the SSE2
// baseline.
void filter_proc_pass(benchmark::State& state) {
    const bool large = state.range(0) != 0;
    MemoryHost& host = shared_bench_host(large ? 1920 : 720, large ? 1080 : 480, kClipFrames);
    if (state.range(1)) all_stages(host);
    set_simd_cap((state.range(2) != 0) ? SIMD_SSE2 : SIMD_AVX2);
    int f = 0;
    long failed = 0;
    long lowpassed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        host.prepare(f);  // the host's own copy of the input frame
        state.ResumeTiming();
        if (!host.proc()) ++failed;
        lowpassed += host.output() == host.edit.data();
        f = f + 1 == kClipFrames ? 0 : f + 1;
    }
    set_simd_cap(SIMD_AVX2);
    if (failed) state.SkipWithError("a frame failed");
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["lowpass_share"] =
        static_cast<double>(lowpassed) / static_cast<double>(state.iterations());
}

BENCHMARK(filter_proc_pass)
    ->ArgNames({"size1080", "all_stages", "sse2_only"})
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
