#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the headless capture tool on the
# default simulated machine: it boots the machine if none runs, opens card 1,
# snaps five frames into static memory and writes them as bitmaps. Further
# arguments go to lxsnap (for instance --as png).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
out=${LXSNAP_OUT:-snapshots}
build/bin/lxsnap --frames "${LXSNAP_FRAMES:-5}" --out "$out" "$@"
build/bin/lxmachine status
echo "Frames written to $out/. Stop the machine with: build/bin/lxmachine shutdown"
