#!/usr/bin/env bash
# Makes the Windows packages, Quorvex-<version>-win32.zip and
# Quorvex-<version>-win64.zip, in build/packages/: the DLL of each width
# with its import library and .def, quorvex.h, a README for Windows hosts
# and an example host.  Builds only the two DLLs, not the Linux side.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_WINDOWS_DLLS=ON >/dev/null
cmake --build "$build" --target windows_zips -j"${QUORVEX_JOBS:-2}"
ls -l "$build"/packages/*.zip
