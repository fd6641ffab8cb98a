#!/usr/bin/env bash
# Installs the dependencies, builds into build/ (or $1) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j "$(nproc)"
# LX_TEST_JOBS: tests run at once (the sanitizer build runs them one at a
# time: its machines are slow enough that two at once can miss field waits).
ctest --test-dir "$build" --output-on-failure -j "${LX_TEST_JOBS:-$(nproc)}"
