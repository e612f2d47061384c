#!/usr/bin/env bash
# Configures with the dev preset (warnings as errors) and builds into build/
# (or $QUORVEX_BUILD_DIR); extra arguments go to the configure step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
cmake -S "$root" --preset dev -B "$build" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
