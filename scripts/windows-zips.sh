#!/usr/bin/env bash
# Makes the Windows packages, Quorvex-<version>-win32.zip and
# Quorvex-<version>-win64.zip, in build-zips/packages/ (or the packages/
# folder of $QUORVEX_ZIPS_BUILD_DIR): the DLL of each width with its import
# library and .def, the headers, the simulator and the command-line host
# built for that width, a settings file, a README for Windows hosts and an
# example host.  Installs only what they need (setup.sh zips) and builds
# only the two Windows builds, in a build of their own: no Linux library,
# tools or tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_ZIPS_BUILD_DIR:-$root/build-zips}
bash "$root/scripts/setup.sh" zips
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEX_WINDOWS_DLLS=ON \
  -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_TOOLS=OFF -DQUORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target windows_zips -j"${QUORVEX_JOBS:-2}"
ls -l "$build"/packages/*.zip
