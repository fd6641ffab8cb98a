#!/usr/bin/env bash
# Builds the tests of the threaded parts with ThreadSanitizer in build-tsan
# (or $1) and runs them: the kernel runtime's request paths, the compat
# layer's threads and machine connections, the daemon under misbehaving
# clients, the snap-ex engine with the whole stack under it (and its timing,
# line stamps and the capture tool that streams through it), the public
# API's capture and card paths, and a user's program killed mid-capture.
# Only these targets are built. (Monitored capture runs only with Qt's GUI bridge,
# whose libraries are not built with the sanitizer: it is left out.)
# Known reports that are not ours are suppressed, each with its reason, in
# scripts/tsan.supp.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tsan}
tests=(nt_tests win32_threads_test win32_messages_test lxmachine_client_tests lxmachine_misbehaving_client_tests
       lxvidex_snap_ex_machine_test lxvidex_snap_ex_lifecycle_machine_test lxvidex_snap_ex_timing_machine_test
       lxvidex_snap_ex_stamp_machine_test lxsnap_machine_test lxvideo_capture_machine_test lxvideo_card_machine_test
       lx_e2e_killed_program_test)
cmake -S . -B "$build" -G Ninja -DLX_SANITIZE=thread -DLX_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo "${@:2}"
cmake --build "$build" -j "$(nproc)" --target "${tests[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
pattern=$(IFS='|'; echo "^(${tests[*]})\$")
ctest --test-dir "$build" --output-on-failure -j 1 -R "$pattern"
