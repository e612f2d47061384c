#!/usr/bin/env bash
# Runs the cross-built DLL suite (tests/windows/dll_suite_test.cpp) under
# Wine several times in a row on both widths (the two widths side by side),
# with Wine checking the heap on every operation (WINEDEBUG=warn+heap): a
# run fails on a crash, a failed test, a nonzero exit or any report of
# Wine's heap channel (tests/wine_test.cpp's driver judges each run).  The
# suite's stress cases end calls from other threads a few hundred times
# each, so a fault that corrupts the heap now and then shows here.  Uses the
# build of the test command (scripts/build.sh) as it is.
#   QUORVEX_WINE_STRESS_RUNS   runs of the suite per width (default 3)
#   QUORVEX_STRESS_ROUNDS      rounds of each stress case (default 300 here)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
runs=${QUORVEX_WINE_STRESS_RUNS:-3}
quorvex_missing_lib=1
. "$root/tests/support/missing.sh"
# Skipped where allowed, a failure otherwise.
missing() {
  quorvex_skipped "$1" "$2" && return 0
  echo "missing: $1: $2; QUORVEX_ALLOW_MISSING=$1 skips it" >&2
  exit 1
}
driver=$build/tests/quorvex_wine_tests
[ -x "$driver" ] || { echo "wine stress: $driver is not built (bash scripts/build.sh)" >&2; exit 1; }
widths=()
for width in i686 x86_64; do
  if [ ! -f "$build/windows-$width/wine/quorvex_dll_tests.exe" ]; then
    missing googletest "the $width suite is not built"
  elif [ "$width" = i686 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    missing wine32 "Wine's 32-bit half is not installed or does not run here: the 32-bit suite is not stressed"
  else
    widths+=("$width")
  fi
done
[ ${#widths[@]} -gt 0 ] || { echo "wine stress: nothing to run"; exit 0; }

# Wine's 64-bit loader where the 32-bit one is installed but cannot run
# (tests/CMakeLists.txt).
[ ! -d "$build/wine64-loader" ] || export PATH=$build/wine64-loader:$PATH
# The prefix of the test suite's Wine tests, made as their fixture makes it.
prefix=$build/wineprefix64
[ -d "$prefix" ] || WINEARCH=win64 WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wineboot -i
export QUORVEX_WINEDEBUG=warn+heap QUORVEX_WINE_SUITE_SECONDS=${QUORVEX_WINE_SUITE_SECONDS:-280}
export QUORVEX_STRESS_ROUNDS=${QUORVEX_STRESS_ROUNDS:-300}
# The suite's timing test of adversarial replies (a million allocations,
# each checked) takes minutes under heap checking and measures nothing
# then; it runs in the suite's plain run.  The filter reaches the suite
# through Wine; the driver's own comes from its command line.
export GTEST_FILTER=-Dll.AdversarialRepliesCostTimeInProportionToTheirSize
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
for run in $(seq "$runs"); do
  pids=()
  for width in "${widths[@]}"; do
    QV_WINE_DIR=$build/windows-$width/wine "$driver" \
      --gtest_filter=WineHost.CrossBuiltSuitePassesAgainstTheSimulator > "$logs/$width" 2>&1 &
    pids+=($!)
  done
  failed=0
  for i in "${!widths[@]}"; do
    if wait "${pids[$i]}"; then
      echo "run $run of $runs, ${widths[$i]}: passed ($(grep -o '([0-9]* ms total)' "$logs/${widths[$i]}" | tail -1))"
    else
      echo "run $run of $runs, ${widths[$i]}: FAILED"
      cat "$logs/${widths[$i]}"
      failed=1
    fi
  done
  [ "$failed" = 0 ] || exit 1
done
echo "wine stress: ok (${widths[*]}: $runs runs each, $QUORVEX_STRESS_ROUNDS rounds per stress case)"
