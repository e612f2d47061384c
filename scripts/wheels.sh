#!/usr/bin/env bash
# Makes the Python package's wheels in build-wheels/dist/ (or the folder
# given): quorvex-<version>-py3-none-linux_x86_64.whl with libquorvex.so.0
# inside (and its dialog module, where the build has GTK 3), and py3-none-win32 and py3-none-win_amd64 wheels with the 32- and
# 64-bit Quorvex.dll inside.  Each is built offline by Debian's python3-build
# with the package's own backend (bindings/python/wheel_backend.py).
# Installs only what it uses (setup.sh wheels, and setup.sh zips for the
# DLLs), and builds the simulator beside the library to try a wheel against.
#   wheels.sh [--linux] [--no-build] [output folder]
#   QUORVEX_BUILD_DIR  the build to take the libraries from (default build/);
#                      configured without tests, with the Windows DLLs, when
#                      it does not exist
#   --linux            the Linux wheel alone: no DLL built, no mingw-w64
#   --no-build         take the libraries as they are; a missing DLL skips its
#                      wheel instead of building it (the tests use this)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
make=1 windows=1
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) make=0 ;;
    --linux) windows=0 ;;
    -*) echo "usage: wheels.sh [--linux] [--no-build] [output folder]" >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done
if [ "$make" = 1 ]; then
  sets=(wheels)
  [ "$windows" = 0 ] || sets+=(zips)
  bash "$root/scripts/setup.sh" "${sets[@]}"
fi
out=$(mkdir -p "${1:-$root/build-wheels/dist}" && cd "${1:-$root/build-wheels/dist}" && pwd)
# Debian's python3-build, also where another python3 comes first on the path.
py=
for candidate in python3 /usr/bin/python3; do
  if (cd "$out" && "$candidate" -c 'import build.__main__') 2>/dev/null; then py=$candidate; break; fi
done
[ -n "$py" ] || { echo "wheels: python3-build is missing (bash scripts/setup.sh wheels installs it)" >&2; exit 1; }
if [ "$make" = 1 ]; then
  dlls=ON
  [ "$windows" = 1 ] || dlls=OFF
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_WINDOWS_DLLS=$dlls \
      -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF >/dev/null
  targets=(quorvex quorvex-sim)
  [ "$windows" = 0 ] || ! grep -q '^QUORVEX_WINDOWS_DLLS:BOOL=ON' "$build/CMakeCache.txt" ||
    targets+=(quorvex_windows_i686 quorvex_windows_x86_64)
  # The dialog module, where the build has one (GTK 3 found).
  if cmake --build "$build" --target help | grep ' quorvex-gtk$' >/dev/null; then
    targets+=(quorvex-gtk)
  fi
  cmake --build "$build" --target "${targets[@]}" -j"${QUORVEX_JOBS:-2}"
fi
wheel() { # PLATFORM LIBRARY [MODULE]
  if [ ! -f "$2" ]; then
    [ "$make" = 0 ] && { echo "wheels: $2 is not built: no $1 wheel"; return; }
    echo "wheels: $2 is missing" >&2
    exit 1
  fi
  library=$(readlink -f "$2")
  # Without its debugging sections, which a build with debug information carries.
  if [ "$1" = linux_x86_64 ] && command -v strip >/dev/null; then
    strip --strip-unneeded -o "$stage/libquorvex.so.0" "$library"
    library=$stage/libquorvex.so.0
  fi
  module=()
  if [ -n "${3:-}" ] && [ -f "$3" ]; then
    strip --strip-unneeded -o "$stage/libquorvex-gtk.so" "$3" 2>/dev/null || cp "$3" "$stage/libquorvex-gtk.so"
    module=(-C "module=$stage/libquorvex-gtk.so")
  fi
  # Out of the source folder, so that nothing lands beside the sources.
  (cd "$out" && "$py" -m build --no-isolation --wheel --outdir "$out" \
    -C "library=$library" -C "platform=$1" "${module[@]}" "$root/bindings/python") >/dev/null
}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
rm -f "$out"/quorvex-*.whl
wheel linux_x86_64 "$build/src/libquorvex.so.0" "$build/src/quorvex/libquorvex-gtk.so"
if [ "$windows" = 1 ]; then
  wheel win32 "$build/windows-i686/src/Quorvex.dll"
  wheel win_amd64 "$build/windows-x86_64/src/Quorvex.dll"
fi
# The simulator to try a wheel against, or the one command that builds it.
if [ -x "$build/bin/quorvex-sim" ]; then
  echo "simulator: $build/bin/quorvex-sim --port 9000"
else
  echo "simulator: cmake --build $build --target quorvex-sim, then $build/bin/quorvex-sim --port 9000"
fi
ls "$out"/quorvex-*.whl
