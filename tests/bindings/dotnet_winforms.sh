#!/bin/sh
# The .NET binding's awaits in a WinForms window under Mono, on an X server
# of its own, against a simulator that waits before every answer and has an
# account for each of the window's sessions.  Without Mono, its WinForms or
# Xvfb it fails, or is skipped where QUORVEX_ALLOW_MISSING lists the
# component (tests/support/missing.sh).
#   dotnet_winforms.sh BINDING_DIR WORKDIR LIBRARY SIMULATOR
set -eu
src=$1 work=$2 lib=$3 sim=$4
here=$(dirname "$0")
missing=$here/../support/missing.sh
command -v mcs > /dev/null && command -v mono > /dev/null ||
  sh "$missing" mono "Mono's mcs or mono is not installed (Debian mono-mcs, mono-runtime)"
[ -e /usr/lib/mono/4.5/System.Windows.Forms.dll ] ||
  sh "$missing" mono "Mono's WinForms is not installed (Debian libmono-system-windows-forms4.0-cil)"
command -v Xvfb > /dev/null || sh "$missing" xvfb "Xvfb is not installed (Debian xvfb)"
mkdir -p "$work"
mcs -target:library -warnaserror -out:"$work/Quorvex.Net.dll" "$src"/Quorvex*.cs
mcs -warnaserror -r:"$work/Quorvex.Net.dll" -r:System.Windows.Forms.dll -r:System.Drawing.dll \
  -out:"$work/winforms.exe" "$here/dotnet/WinFormsHost.cs"

xvfb_pid= sim_pid=
trap 'for p in $xvfb_pid $sim_pid; do kill "$p" 2>/dev/null; done' EXIT
# Xvfb picks a free display number and writes it once it accepts clients
# (a read of the fifo waits for it; ctest's time-out bounds a dead Xvfb).
rm -f "$work/displayfd" && mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3> "$work/displayfd" > "$work/xvfb.out" 2>&1 &
xvfb_pid=$!
read -r display < "$work/displayfd" || { cat "$work/xvfb.out"; echo "Xvfb did not start"; exit 1; }
root=$(cd "$src/../.." && pwd)
. "$root/tests/support/simulator_port.sh"
: > "$work/sim.out"
"$sim" --port 0 --quiet --accounts 8 --delay 200 > "$work/sim.out" 2>&1 &
sim_pid=$!
port=$(simulator_port "$work/sim.out") || exit 1
DISPLAY=:$display LD_LIBRARY_PATH="$(dirname "$lib")" LC_ALL=C.UTF-8 mono "$work/winforms.exe" "$port"
