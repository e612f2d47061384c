#!/usr/bin/env bash
# Builds the library, its tools and the whole test suite under
# AddressSanitizer and UndefinedBehaviorSanitizer (the preset "asan" of
# CMakePresets.json, in build-asan/) and runs the tests.  Any sanitizer
# report aborts its test, so the run fails.  The Windows DLL and its Wine
# tests are left out of this build.
#   QUORVEX_JOBS   parallel build and test jobs (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QUORVEX_JOBS:-2}
cd "$root"
bash scripts/setup.sh
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"
echo "sanitizers: ok"
