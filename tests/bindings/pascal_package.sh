#!/bin/sh
# Builds the Lazarus package from a copy holding only the files it lists, as
# a user's Lazarus would, and writes the folder of its compiled units to
# OUT/units.  Without a Lazarus installation (lazbuild and its lcl folder)
# the build fails, unless QUORVEX_ALLOW_MISSING lists lazbuild: then the
# package's units are compiled with fpc the way lazbuild compiles them.
#   pascal_package.sh BINDING_DIR OUT
set -eu
src=$1 out=$2
lpk=quorvexpkg.lpk
rm -rf "$out" && mkdir -p "$out"
cp "$src/$lpk" "$out/"
for f in $(sed -n 's/.*<Filename Value="\([^"]*\)".*/\1/p' "$src/$lpk"); do cp "$src/$f" "$out/"; done
grep -q '<License Value="Apache License 2.0' "$out/$lpk" || { echo "$lpk does not name the licence"; exit 1; }
units=$out/lib/$(fpc -iTP)-$(fpc -iTO)
lazarus=$(dirname "$(readlink -f "$(command -v lazbuild || echo /nonexistent)")")
if [ -d "$lazarus/lcl" ]; then
  (cd "$out" && lazbuild --pcp="$out/config" "$lpk") > "$out/build.log" 2>&1 || { cat "$out/build.log"; exit 1; }
  echo "package built with lazbuild"
else
  rc=0
  sh "$(dirname "$0")/../support/missing.sh" lazbuild \
    "lazbuild with its lcl folder is not installed (Debian lcl-utils, lazarus-src-2.2)" || rc=$?
  [ "$rc" -eq 77 ] || exit 1
  mkdir -p "$units"
  (cd "$out" && fpc -Mdelphi -vew -FU"$units" Quorvex.pas) > "$out/build.log" 2>&1 ||
    { cat "$out/build.log"; exit 1; }
  echo "package units built with fpc (no lazbuild)"
fi
[ -f "$units/Quorvex.ppu" ] || { echo "no Quorvex.ppu in $units"; exit 1; }
echo "$units" > "$out/units"
