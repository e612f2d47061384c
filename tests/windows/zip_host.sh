#!/bin/sh
# A Windows zip as a host developer meets it: unpacked into an empty folder,
# its example host built with mingw-w64 from nothing but what the zip holds,
# then run under Wine beside the zip's DLL against the simulator.
#   zip_host.sh ZIP MINGW_GCC QUORVEX_SIM WINEPREFIX
set -eu
zip=$1 gcc=$2 sim=$3
export WINEPREFIX=$4 WINEDEBUG=-all

dir=$(mktemp -d)
sim_pid=
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

mkdir "$dir/unpacked"
(cd "$dir/unpacked" && cmake -E tar xf "$zip")
cd "$dir/unpacked"/Quorvex-*
for f in Quorvex.dll libQuorvex.dll.a quorvex.def quorvex.h README.txt LICENSE.txt example_host.c; do
  [ -f "$f" ] || { echo "the zip lacks $f"; exit 1; }
done
# Warnings are errors: the header must compile cleanly for the zip's width.
"$gcc" -Wall -Wextra -Werror -o example_host.exe example_host.c -L. -lQuorvex

"$sim" --port 0 --quiet > "$dir/sim.out" &
sim_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^quorvex-sim listening on 127.0.0.1://p' "$dir/sim.out")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "the simulator did not start"; exit 1; }

out=$(timeout 60 wine example_host.exe 127.0.0.1 "$port" 2>/dev/null | tr -d '\r')
echo "$out"
[ "$out" = "login: code 900
heartbeat: 1
CheckTels: 1" ] && echo "zip host: ok"
