#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy's checks, every finding an error) over the
# library's sources as the build in build/ (or $QUORVEX_BUILD_DIR) compiles
# them, two files at a time, within a time limit.
#   QUORVEX_TIDY_SECONDS   the limit (default 900)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
cd "$root"
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
[ -n "$tidy" ] || { echo "tidy.sh: clang-tidy is missing (bash scripts/setup.sh)" >&2; exit 1; }
[ -f "$build/compile_commands.json" ] || { echo "tidy.sh: no $build/compile_commands.json (bash scripts/build.sh)" >&2; exit 1; }
# The sources that the Linux build compiles; the Windows ones are checked by
# the mingw builds' warnings.
mapfile -t files < <(git ls-files 'src/*.cpp' | grep -v '^src/platform/windows/\|^src/ui/windows/')
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\n' "${files[@]}" |
  timeout "${QUORVEX_TIDY_SECONDS:-900}" xargs -P 2 -n 1 "$tidy" -p "$build" --quiet >"$log" 2>&1 || status=$?
grep -v '^[0-9]* warnings\? generated\.$\|^Suppressed [0-9]* warnings\|^Use -header-filter\|^Use -system-headers' "$log" || true
if [ "$status" = 124 ]; then
  echo "tidy: stopped after ${QUORVEX_TIDY_SECONDS:-900} s" >&2
  exit 1
fi
[ "$status" = 0 ] || { echo "tidy: findings above" >&2; exit 1; }
echo "tidy: ${#files[@]} files, no findings"
