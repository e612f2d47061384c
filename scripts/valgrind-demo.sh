#!/usr/bin/env bash
# Runs the command-line host's demo (the tour of every export against the
# embedded simulator) under valgrind's memcheck and fails on any invalid
# access, use of uninitialised memory, or leak (definite, indirect or
# possible).  Memory still reachable at exit (the C library's and libxml2's
# own) is not a leak.  Builds the host and the library in build-valgrind/
# (or $QUORVEX_VALGRIND_BUILD_DIR) without sanitizers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_VALGRIND_BUILD_DIR:-$root/build-valgrind}
command -v valgrind >/dev/null || { echo "valgrind is missing" >&2; exit 1; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target quorvex-cli
log=$build/valgrind-demo.log
if ! valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
    --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
    --track-origins=yes --suppressions="$root/tools/cli/valgrind.supp" \
    --log-file="$log" "$build/bin/quorvex" demo >/dev/null; then
  cat "$log" >&2
  echo "valgrind-demo: memcheck found errors (log: $log)" >&2
  exit 1
fi
grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable' "$log" || true
echo "valgrind-demo: ok"
