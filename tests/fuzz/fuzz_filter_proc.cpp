// libFuzzer target: the frame procedure under whatever a host might send.
// The fuzzer's bytes drive every choice of the wild host (geometry, settings,
// frame content, missing frames, refused requests, failed allocations).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "wild_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::function<uint32_t()> next = [&provider] { return provider.ConsumeIntegral<uint32_t>(); };
    const std::string problem = run_wild_scenario(next);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_filter_proc: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
