// Which SIMD instruction sets this CPU and operating system can run. Asked
// once, lazily: the DLL runs no constructors at load.
#pragma once

// SSE2 is the baseline of every build (the DLL's target, and x86-64).
bool cpu_has_avx2(void);

// Lets tests and benchmarks pin the dispatch to the baseline: while set,
// cpu_has_avx2 answers false.
void cpu_disable_avx2(bool disabled);
