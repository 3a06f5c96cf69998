// Each stage on its own: the low-pass, the comb count and the interpolated
// field shift with the kernels of every tier, the chroma remodulation.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_host.h"
#include "base/cpu.h"
#include "match/comb.h"
#include "match/lowpass.h"
#include "match/weave.h"
#include "window/carrier.h"
#include "window/shift.h"

using namespace pelta;

namespace {

struct Size {
    int w, h;
};
const Size kSizes[] = {{720, 480}, {1920, 1080}};

bool usable(SimdLevel tier, benchmark::State& state) {
    if (tier > cpu_simd_level()) {
        state.SkipWithError("CPU without this tier");
        return false;
    }
    return true;
}

void frames_per_second(benchmark::State& state, size_t bytes_per_frame) {
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes_per_frame));
}

void lowpass(benchmark::State& state, SimdLevel tier) {
    if (!usable(tier, state)) return;
    const LowpassRowFn kernel = lowpass_kernels_for(tier)->row;
    const Size s = kSizes[state.range(0)];
    const std::vector<PIXEL_YC> src = bench_frame(s.w, s.h, 1);
    std::vector<PIXEL_YC> dst(src.size());
    for (auto _ : state) {
        vertical_lowpass_with(kernel, dst.data(), src.data(), s.h, s.w, s.w);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    frames_per_second(state, src.size() * sizeof(PIXEL_YC));
}

// The comb count of one woven frame with the default settings (window 320
// to 640 columns, so 400 of 720 or 1600 of 1920 columns are counted), with a
// tier's general span kernel alone or with its narrow kernels as well.
void comb(benchmark::State& state, SimdLevel tier, bool narrow) {
    if (!usable(tier, state)) return;
    CombKernels kernels = *comb_kernels_for(tier);
    if (!narrow) kernels.narrow_span = nullptr;
    const Size s = kSizes[state.range(0)];
    MemoryHost& host = shared_bench_host(s.w, s.h, 2);
    const std::vector<PIXEL_YC> src = bench_frame(s.w, s.h, 2);
    host.prepare(0);
    int count = 0;
    for (auto _ : state) {
        count = count_comb_with(&kernels, src.data(), &host.filter, &host.fpip);
        benchmark::DoNotOptimize(count);
    }
    state.counters["combed"] = count;
    frames_per_second(state, src.size() * sizeof(PIXEL_YC));
}

BENCHMARK_CAPTURE(lowpass, scalar, SIMD_SCALAR)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(lowpass, sse2, SIMD_SSE2)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(lowpass, avx2, SIMD_AVX2)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
// "32bit": the general kernel alone, which takes any samples; "narrow" adds
// the 16-bit kernels for rows within the nominal ranges (all rows of these
// frames).
BENCHMARK_CAPTURE(comb, scalar, SIMD_SCALAR, false)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(comb, 32bit_sse2, SIMD_SSE2, false)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(comb, narrow_sse2, SIMD_SSE2, true)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(comb, 32bit_avx2, SIMD_AVX2, false)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(comb, narrow_avx2, SIMD_AVX2, true)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

// Weaving one candidate (two half-frame block copies) at each size.
void weave(benchmark::State& state) {
    const Size s = kSizes[state.range(0)];
    MemoryHost& host = shared_bench_host(s.w, s.h, 3);
    host.prepare(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(weave_match(host.fpip.ycp_temp, &host.filter, &host.fpip, 2));
        benchmark::ClobberMemory();
    }
    frames_per_second(state, host.frame_pixels() * sizeof(PIXEL_YC));
}
BENCHMARK(weave)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

// The interpolated field shift over the default 320-column window of a
// 720 x 480 frame with a tier's row kernel.
void shift_interp(benchmark::State& state, SimdLevel tier) {
    if (!usable(tier, state)) return;
    const ShiftKernels* kernels = shift_kernels_for(tier);
    MemoryHost& host = shared_bench_host(720, 480, 2);
    host.track[TRACK_SHIFT] = static_cast<int>(state.range(0));
    host.prepare(0);
    int32_t taps[4];
    make_shift_taps(taps, host.track[TRACK_SHIFT]);
    for (auto _ : state) {
        shift_window_interp_with(kernels, host.fpip.ycp_temp, host.fpip.ycp_edit, &host.filter,
                                 &host.fpip, taps);
        benchmark::ClobberMemory();
    }
    frames_per_second(state, 0);
}
BENCHMARK_CAPTURE(shift_interp, scalar, SIMD_SCALAR)->Arg(8)->Arg(37)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(shift_interp, sse2, SIMD_SSE2)->Arg(8)->Arg(37)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(shift_interp, avx2, SIMD_AVX2)->Arg(8)->Arg(37)->Unit(benchmark::kMicrosecond);

// build_carrier_tables (cached after the first frame) and the remodulation of
// the default window of a 720 x 480 frame, as the frame procedure runs them.
void carrier(benchmark::State& state) {
    MemoryHost& host = shared_bench_host(720, 480, 2);
    host.check[CHECK_CY] = 1;
    host.prepare(0);
    const int left = host.track[TRACK_LEFT];
    const int right = left + host.track[TRACK_WIDTH];
    for (auto _ : state) {
        if (build_carrier_tables(&host.filter, &host.fpip))
            remodulate_chroma(host.fpip.ycp_edit, host.h, left, right, host.max_w, 1);
        benchmark::ClobberMemory();
    }
    frames_per_second(state, 0);
}
BENCHMARK(carrier)->Unit(benchmark::kMicrosecond);

}  // namespace
