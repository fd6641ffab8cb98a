#!/usr/bin/env bash
# Builds the machine protocol's fuzz target with clang in build-fuzz and runs
# it for 60 seconds; exits non-zero when the fuzzer finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build-fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLX_FUZZ=ON -DLX_BENCHMARKS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > build-fuzz/configure.log 2>&1 || { cat build-fuzz/configure.log; exit 1; }
cmake --build build-fuzz --target lxmachine_request_fuzz -j "$(nproc)"
mkdir -p build-fuzz/corpus
build-fuzz/bin/lxmachine_request_fuzz -max_total_time=60 -print_final_stats=1 build-fuzz/corpus
