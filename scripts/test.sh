#!/bin/sh
# Sets up what is missing, builds everything (native library, command-line
# host, tests, benchmarks, and pelta.auf with mingw-w64) and runs every test.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
