#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then the demo as a smoke
# test of the command-line host and the simulator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 120)
"$build/bin/quorvex" demo >/dev/null
echo "demo: ok"
