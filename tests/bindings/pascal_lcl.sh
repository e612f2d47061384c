#!/bin/sh
# The Pascal async session in a Lazarus window: tests/bindings/pascal/lclhost.pas
# built with the LCL's GTK 2 widgetset against the package's units, run on
# an Xvfb of its own against a simulator that answers each request late:
# 8 sessions send 20 jobs each while the window's timer keeps ticking.
# Without fpc, the LCL's GTK 2 units or Xvfb it fails, or is skipped where
# QUORVEX_ALLOW_MISSING lists them (tests/support/missing.sh).
#   pascal_lcl.sh BINDING_DIR WORKDIR LIBRARY SIMULATOR
set -eu
src=$1 work=$2 lib=$3 sim=$4
here=$(dirname "$0")
missing="$here/../support/missing.sh"
command -v fpc > /dev/null || sh "$missing" fpc "Free Pascal's fpc is not installed (Debian fp-compiler)"
lazarus=$(dirname "$(readlink -f "$(command -v lazbuild || echo /nonexistent)")")
target=$(fpc -iTP)-$(fpc -iTO)
lcl=$lazarus/lcl/units/$target
[ -f "$lcl/gtk2/interfaces.ppu" ] ||
  sh "$missing" lazbuild "the LCL's GTK 2 units are not installed (Debian lcl-units-2.2, lcl-gtk2-2.2)"
command -v Xvfb > /dev/null || sh "$missing" xvfb "Xvfb is not installed (Debian xvfb)"
rm -rf "$work" && mkdir -p "$work"
libdir=$(dirname "$lib")
sh "$here/pascal_package.sh" "$src" "$work/package" > /dev/null
cp "$here/pascal/lclhost.pas" "$work/"
fpc -Mdelphi -vew -dLCL -dLCLgtk2 -Fu"$(cat "$work/package/units")" -Fu"$lcl/gtk2" -Fu"$lcl" \
  -Fu"$lazarus/components/lazutils/lib/$target" -Fu"$lazarus/packager/units/$target" -FU"$work" -FE"$work" \
  -Fl"$libdir" -k-rpath -k"$libdir" "$work/lclhost.pas" > "$work/fpc.log" 2>&1 || { cat "$work/fpc.log"; exit 1; }

root=$(cd "$src/../.." && pwd)
. "$root/tests/support/simulator_port.sh"
sim_pid= xvfb_pid=
trap 'for p in $sim_pid $xvfb_pid; do kill "$p" 2>/dev/null; done' EXIT
# Each session logs in to an account of its own, so that their jobs (one at
# a time per account) run side by side.
sessions=8 jobs=20 delay=200
: > "$work/sim.out"
"$sim" --port 0 --quiet --accounts $sessions --delay $delay > "$work/sim.out" 2>&1 &
sim_pid=$!
port=$(simulator_port "$work/sim.out")
# Xvfb picks a free display and writes its number once it accepts clients.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/displayfd" > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r display < "$work/displayfd" || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
DISPLAY=:$display NO_AT_BRIDGE=1 "$work/lclhost" "$port" $sessions $jobs
echo "pascal lcl: ok"
