#!/bin/sh
# A Windows zip as a host developer meets it: unpacked into an empty folder,
# its example host built with mingw-w64 from nothing but what the zip holds,
# then run under Wine beside the zip's DLL against the simulator.
#   zip_host.sh ZIP MINGW_GCC QUORVEX_SIM WINEPREFIX
set -eu
zip=$1 gcc=$2 sim=$3
export WINEPREFIX=$4 WINEDEBUG=-all

. "$(dirname "$0")/simulator.sh"

mkdir "$dir/unpacked"
(cd "$dir/unpacked" && cmake -E tar xf "$zip")
cd "$dir/unpacked"/Quorvex-*
for f in Quorvex.dll libQuorvex.dll.a quorvex.def quorvex.h README.txt LICENSE.txt example_host.c; do
  [ -f "$f" ] || { echo "the zip lacks $f"; exit 1; }
done
# Warnings are errors: the header must compile cleanly for the zip's width.
"$gcc" -Wall -Wextra -Werror -o example_host.exe example_host.c -L. -lQuorvex

start_simulator
out=$(timeout 60 wine example_host.exe 127.0.0.1 "$sim_port" 2>/dev/null | tr -d '\r')
echo "$out"
[ "$out" = "login: code 900
heartbeat: 1
CheckTels: 1" ] && echo "zip host: ok"
