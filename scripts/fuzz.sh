#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz and runs each for a
# bounded time (60 seconds in all): the machine protocol's decoding and the
# audio driver's control requests. Exits non-zero when a fuzzer finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build-fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLX_FUZZ=ON -DLX_BENCHMARKS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > build-fuzz/configure.log 2>&1 || { cat build-fuzz/configure.log; exit 1; }
cmake --build build-fuzz --target lxmachine_request_fuzz heronau_control_fuzz -j "$(nproc)"
mkdir -p build-fuzz/corpus build-fuzz/corpus-audio
build-fuzz/bin/lxmachine_request_fuzz -max_total_time=30 -print_final_stats=1 build-fuzz/corpus
build-fuzz/bin/heronau_control_fuzz -max_total_time=30 -print_final_stats=1 build-fuzz/corpus-audio
