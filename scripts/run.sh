#!/usr/bin/env bash
# Installs the dependencies, builds, and runs on the default simulated
# machine (booted if none runs):
# - with a display ($DISPLAY or $WAYLAND_DISPLAY): LxPerf, the single-card
#   demonstration program, showing card 1's live video and every command;
# - without one: the headless capture tool, which opens card 1, snaps five
#   frames into static memory and writes them as bitmaps (further arguments
#   go to lxsnap, for instance --as png), and says how to see LxPerf.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/bin/LxPerf ]; then
  build/bin/lxmachine status >/dev/null 2>&1 || build/bin/lxmachine boot
  echo "Starting LxPerf on the default machine (View > Capture, or Ctrl+1, for live video)."
  exec build/bin/LxPerf
fi
out=${LXSNAP_OUT:-snapshots}
build/bin/lxsnap --frames "${LXSNAP_FRAMES:-5}" --out "$out" "$@"
build/bin/lxmachine status
echo "Frames written to $out/. Stop the machine with: build/bin/lxmachine shutdown"
if [ -x build/bin/LxPerf ]; then
  echo "No display here: to see LxPerf, run it under a virtual X server, for instance"
  echo "  xvfb-run -s '-screen 0 1024x768x24' build/bin/LxPerf &"
  echo "and look at the screen with: xwd -root -display :99 | convert xwd:- lxperf.png"
  echo "(or run 'bash scripts/run.sh' in a desktop session)."
fi
