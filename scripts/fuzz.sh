#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz and runs each for a
# bounded time (20 seconds each, 100 in all): the machine protocol's decoding,
# the control requests of the audio driver, the card driver and the
# static-memory driver, and the demonstration programs' bitmap loader. All but
# the first two start from the seed corpus kept beside them. Exits non-zero
# when a fuzzer finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build-fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLX_FUZZ=ON -DLX_BENCHMARKS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > build-fuzz/configure.log 2>&1 || { cat build-fuzz/configure.log; exit 1; }
cmake --build build-fuzz -j "$(nproc)" --target lxmachine_request_fuzz heronau_control_fuzz \
  terncardvi_control_fuzz hmbserv_control_fuzz democommon_bitmap_fuzz
mkdir -p build-fuzz/corpus build-fuzz/corpus-audio build-fuzz/corpus-card build-fuzz/corpus-static-memory \
  build-fuzz/corpus-bitmap
run() { "$@" -max_total_time=20 -print_final_stats=1; }
run build-fuzz/bin/lxmachine_request_fuzz build-fuzz/corpus
run build-fuzz/bin/heronau_control_fuzz build-fuzz/corpus-audio
run build-fuzz/bin/terncardvi_control_fuzz build-fuzz/corpus-card TernCardVI/fuzz/corpus
run build-fuzz/bin/hmbserv_control_fuzz build-fuzz/corpus-static-memory HMBServ/fuzz/corpus
run build-fuzz/bin/democommon_bitmap_fuzz build-fuzz/corpus-bitmap DemoCommon/fuzz/corpus
