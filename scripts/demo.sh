#!/usr/bin/env bash
# Builds everything and runs the command-line host's tour against an
# embedded simulator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
exec "$build/bin/quorvex" demo
