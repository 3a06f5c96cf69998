#!/bin/sh
# Sets up what is missing, builds everything (native library, command-line
# host and its 32-bit build pelta32, tests, benchmarks, and pelta.auf with
# mingw-w64) and runs every test, and the tests of the 32-bit programs a
# second time under qemu-i386-static (PELTA_FORCE_QEMU=1);
# then builds the native code again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the unit and end-to-end tests there;
# last, gives each libFuzzer target a short bounded run (PELTA_FUZZ_SECONDS,
# default 45) from its seed corpus.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc 2>/dev/null || echo 2)

echo "== release build: native, pelta.auf, tests, benchmarks"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
echo "== the 32-bit programs' tests again under qemu-i386-static, as a machine without 32-bit execution runs them"
PELTA_FORCE_QEMU=1 ctest --test-dir build --output-on-failure -j "$jobs" -R 'Pelta32|dll_runs_like_native|cli_install'

echo "== sanitizer build: AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELTA_SANITIZE=ON \
      -DPELTA_BUILD_DLL=OFF -DPELTA_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
echo "== fuzzing: short bounded runs of each libFuzzer target"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELTA_FUZZ=ON \
      -DPELTA_BUILD_DLL=OFF -DPELTA_BUILD_BENCH=OFF -DPELTA_FUZZ_SECONDS="${PELTA_FUZZ_SECONDS:-45}"
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure -j "$jobs" -L fuzz

echo "== all tests passed"
