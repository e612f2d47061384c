#!/bin/sh
# The Pascal unit's scenario, built with Free Pascal against the Lazarus
# package's compiled units and run against the library and the simulators,
# under a UTF-8 locale and under LANG=C, then the README's example as
# written.  Without fpc it fails, or is skipped where QUORVEX_ALLOW_MISSING lists fpc (tests/support/missing.sh).
#   pascal_scenario.sh BINDING_DIR WORKDIR LIBRARY SIMULATOR
set -eu
src=$1 work=$2 lib=$3 sim=$4
command -v fpc > /dev/null || sh "$(dirname "$0")/../support/missing.sh" fpc "Free Pascal's fpc is not installed (Debian fp-compiler)"
rm -rf "$work" && mkdir -p "$work"
libdir=$(dirname "$lib")
sh "$(dirname "$0")/pascal_package.sh" "$src" "$work/package"
# The scenario beside no unit source, so that it uses the package's units.
cp "$(dirname "$0")/pascal/scenario.pas" "$work/"
fpc -Mdelphi -vew -Fu"$(cat "$work/package/units")" -FU"$work" -FE"$work" -Fl"$libdir" -k-rpath -k"$libdir" \
  "$work/scenario.pas" > "$work/fpc.log" 2>&1 || { cat "$work/fpc.log"; exit 1; }
. "$(dirname "$0")/harness.sh"
LC_ALL=C.UTF-8 "$work/scenario" "$port" "$drop_port" "$sim"
# Text travels the same whatever the locale: a host started with LANG=C.
env -u LC_ALL LANG=C "$work/scenario" "$port" "$drop_port" "$sim"
# Without cthreads first, an async session, or the run-time library as the
# program starts, says how to fix the program.
cp "$(dirname "$0")/pascal/nothreads.pas" "$work/"
for define in NONE LATE; do
  fpc -Mdelphi -vew -d$define -Fu"$(cat "$work/package/units")" -FU"$work" -FE"$work" -Fl"$libdir" -k-rpath \
    -k"$libdir" -o"$work/nothreads-$define" "$work/nothreads.pas" > "$work/fpc.log" 2>&1 || { cat "$work/fpc.log"; exit 1; }
done
"$work/nothreads-NONE"
if "$work/nothreads-LATE" > "$work/late.out" 2>&1 || ! grep -q 'cthreads one of the first units' "$work/late.out"; then
  cat "$work/late.out"
  exit 1
fi
# The send-job journal, blocking and as an operation.
cp "$(dirname "$0")/pascal/journal.pas" "$work/"
fpc -Mdelphi -vew -Fu"$(cat "$work/package/units")" -FU"$work" -FE"$work" -Fl"$libdir" -k-rpath -k"$libdir" \
  "$work/journal.pas" > "$work/fpc.log" 2>&1 || { cat "$work/fpc.log"; exit 1; }
LC_ALL=C.UTF-8 "$work/journal" "$port" "$work"
run_readme_example "### Pascal" pascal host.pas
echo "pascal scenario: ok"
