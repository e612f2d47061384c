#!/usr/bin/env bash
# The whole test suite: builds everything (warnings as errors) and runs the
# tests (the Windows DLL's under Wine included), the demo as a smoke test of
# the command-line host and the simulator, the format check and clang-tidy,
# then the hardening runs: the suite again under
# ASan and UBSan, the threaded tests under ThreadSanitizer, every fuzz
# target for a bounded time, and the demo under valgrind's memcheck.
#   QUORVEX_QUICK=1        stop after the demo (no hardening runs)
#   QUORVEX_FUZZ_SECONDS   seconds per fuzz target (default 15 here)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
stage() { printf '\n== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

stage "build and test"
bash "$root/scripts/build.sh"
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 120)
"$build/bin/quorvex" demo >/dev/null
echo "demo: ok"

stage "format and clang-tidy"
bash "$root/scripts/format.sh"
QUORVEX_BUILD_DIR=$build bash "$root/scripts/tidy.sh"

[ "${QUORVEX_QUICK:-0}" = 1 ] && exit 0

stage "sanitizers"
bash "$root/scripts/sanitizers.sh"
stage "thread sanitizer"
bash "$root/scripts/tsan.sh"
stage "fuzz"
QUORVEX_FUZZ_SECONDS=${QUORVEX_FUZZ_SECONDS:-15} bash "$root/scripts/fuzz.sh"
stage "valgrind"
bash "$root/scripts/valgrind-demo.sh"
stage "all passed"
