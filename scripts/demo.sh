#!/usr/bin/env bash
# Installs only what the library, the simulator and the command-line host
# need, builds them (no tests, no benchmarks, no Windows DLL) into
# build-demo/ (or $QUORVEX_DEMO_BUILD_DIR), and runs the command-line
# host's tour against an embedded simulator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_DEMO_BUILD_DIR:-$root/build-demo}
bash "$root/scripts/setup.sh" demo
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
exec "$build/bin/quorvex" demo
