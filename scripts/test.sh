#!/usr/bin/env bash
# The whole test suite: builds everything (warnings as errors) and runs the
# tests (the Windows DLL's under Wine included), the demo as a smoke test of
# the command-line host and the simulator, the format check and clang-tidy,
# then the hardening runs: the suite again under
# ASan and UBSan, the threaded tests under ThreadSanitizer, the library and
# its threaded tests built for 32-bit Linux under ASan and UBSan, the
# cross-built DLL suite repeated on both widths under Wine's heap checking,
# every fuzz target for a bounded time, and the demo under valgrind's memcheck.
#   QUORVEX_QUICK=1        stop after the demo (no hardening runs)
#   QUORVEX_FUZZ_SECONDS   seconds per fuzz target (default 15 here)
#   QUORVEX_ALLOW_MISSING  a comma list of components that this machine may
#                          lack; their tests are skipped instead of failing.
#                          Unset (as in CI), anything missing fails the run
#                          and is named.  The components:
#     wine         Wine (wine, wine64): every Windows DLL test
#     wine32       Wine's 32-bit half (wine32:i386): the 32-bit DLL's tests
#     mingw        the mingw-w64 cross compilers: the DLLs themselves
#     googletest   GoogleTest's sources: the cross-built DLL suite
#     linux32      g++-multilib and the i386 libxml2 and GoogleTest: the
#                  32-bit Linux build (scripts/linux32.sh)
#     xvfb         Xvfb: the dialog tests, on Linux and under Wine
#     gtk          GTK 3: the dialog module and its tests
#     dante, microsocks, tinyproxy   the real proxies' tests
#     mono         Mono: the .NET scenario (and the NuGet package's test)
#     fpc          Free Pascal: the Pascal scenario
#     lazbuild     Lazarus: the Pascal package built as a user builds it
#     nuget        nuget: the NuGet package's test
#     python3-clang  libclang's Python binding: the header and bindings checks
#     wheels       python3-build and python3-venv: the wheels' test
#     debs         dpkg-dev, file, lintian: the Debian packages' test
# A kernel that executes no 32-bit x86 program (some virtual machines)
# cannot run wine32 or linux32 whatever is installed: their tests are then
# not run, and said so, without failing (a missing package still fails).
# The last line says what was skipped and why: "skipped: none", or for
# instance "skipped: wine32 (not runnable: this kernel executes no 32-bit
# x86 programs); xvfb (allowed by QUORVEX_ALLOW_MISSING)".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
stage() { printf '\n== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

quorvex_missing_lib=1
. "$root/tests/support/missing.sh"
quorvex_check_allowed
mkdir -p "$build"
export QUORVEX_SKIP_LOG=$build/skipped-components.txt
: > "$QUORVEX_SKIP_LOG"
skipped_line() {
  local skipped
  skipped=$(sort -u "$QUORVEX_SKIP_LOG" | paste -sd';' - | sed 's/;/; /g')
  echo "skipped: ${skipped:-none}"
}
trap skipped_line EXIT

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
stage "32-bit Linux under ASan"
bash "$root/scripts/linux32.sh"
stage "Wine stress"
QUORVEX_BUILD_DIR=$build bash "$root/scripts/wine-stress.sh"
stage "fuzz"
QUORVEX_FUZZ_SECONDS=${QUORVEX_FUZZ_SECONDS:-15} bash "$root/scripts/fuzz.sh"
stage "valgrind"
bash "$root/scripts/valgrind-demo.sh"
stage "all passed"
