// A host that sends what no track bar would: random geometry, any int in
// every track bar and check box, random frame content, frames that go
// missing, refused cache requests and failing heap allocations, through the
// in-memory host (native/memory_host.h), whose frames carry guard zones so
// that a stray write is seen in any build. Shared by the robustness test
// (seeded random numbers) and the filter_proc fuzz target (fuzzer bytes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Runs one scenario whose every choice is drawn from `next`. Returns an empty
// string when the filter behaved, else what went wrong.
std::string run_wild_scenario(const std::function<uint32_t()>& next);
