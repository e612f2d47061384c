#!/bin/sh
# A Windows zip as a host developer meets it: unpacked into an empty folder,
# its example host built with mingw-w64 from nothing but what the zip holds;
# then, under Wine, the zip's own simulator started, and the example host,
# a C++ host and the zip's command-line host run against it, as the zip's
# README says.
#   zip_host.sh ZIP MINGW_GCC WINEPREFIX
set -eu
zip=$1 gcc=$2
export WINEPREFIX=$3 WINEDEBUG=-all
objdump=${gcc%gcc}objdump

. "$(dirname "$0")/simulator.sh"

mkdir "$dir/unpacked"
(cd "$dir/unpacked" && cmake -E tar xf "$zip")
cd "$dir/unpacked"/Quorvex-*
for f in Quorvex.dll libQuorvex.dll.a quorvex.def quorvex.h quorvex_sessions.h quorvex_async.h README.txt LICENSE.txt \
  example_host.c quorvex-sim.exe quorvex.exe Quorvex.ini; do
  [ -f "$f" ] || { echo "the zip lacks $f"; exit 1; }
done
# The programs are of the DLL's width and need nothing the zip lacks.
width=$("$objdump" -f Quorvex.dll | sed -n 's/.*file format //p')
for exe in quorvex-sim.exe quorvex.exe; do
  [ "$("$objdump" -f $exe | sed -n 's/.*file format //p')" = "$width" ] || { echo "$exe is not $width"; exit 1; }
  imports=$("$objdump" -p $exe | sed -n 's/^[[:space:]]*DLL Name: //p' | tr A-Z a-z)
  if echo "$imports" | grep -Evx '(quorvex|kernel32|msvcrt|ws2_32|shell32)[.]dll'; then
    echo "$exe imports DLLs that Windows lacks"
    exit 1
  fi
done
# Warnings are errors: the header must compile cleanly for the zip's width.
"$gcc" -Wall -Wextra -Werror -o example_host.exe example_host.c -L. -lQuorvex

sim=quorvex-sim.exe sim_runner=wine
start_simulator
out=$(timeout 60 wine example_host.exe 127.0.0.1 "$sim_port" 2>/dev/null | tr -d '\r')
echo "$out"
[ "$out" = "login: code 900
heartbeat: 1
CheckTels: 1" ] || exit 1

# A C++ host that includes windows.h after quorvex.hpp, built with the
# README's own g++ line, runs with nothing but the zip's DLL beside it.
cat >host.cpp <<'EOF'
#include "quorvex.hpp"
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  quorvex::Session session;
  if (!session.connect(argv[1], std::atoi(argv[2]))) return 1;
  auto login = session.login("demo", "demo123");
  std::printf("c++ login: code %d, GetMessage: %d\n", login.code, session.GetMessage().ok);
  return login.accepted() ? 0 : 1;
}
EOF
line=$(sed -n 's/^  g++ //p' README.txt)
# shellcheck disable=SC2086
"${gcc%gcc}g++" $line
out=$(timeout 60 wine host.exe 127.0.0.1 "$sim_port" 2>/dev/null | tr -d '\r')
echo "$out"
[ "$out" = "c++ login: code 900, GetMessage: 1" ] || { echo "host.exe did not log in (a DLL it needs is missing?)"; exit 1; }

# Runs a program of the zip under Wine into $dir/NAME, without the console's
# carriage returns; shows the output when the program fails.
run() {
  name=$1 status=0
  shift
  timeout 120 wine "$@" >"$dir/$name.raw" 2>&1 || status=$?
  tr -d '\r' <"$dir/$name.raw" >"$dir/$name"
  [ "$status" = 0 ] || { tail -30 "$dir/$name"; echo "$1 failed ($status)"; exit 1; }
}

# The README's call line: the login and the query answered by the
# simulator, its texts shown as UTF-8.
run call.out quorvex.exe call dllInitialize -- TcpConnect 127.0.0.1 "$sim_port" 5000 \
  -- Login_Request app extra demo demo123 1.0 -- Login_Feedback -- GetUdInfo
cat "$dir/call.out"
[ "$(grep -c '^    = 1    Code 900$' "$dir/call.out")" = 2 ] && grep -q '企业:演示企业' "$dir/call.out" ||
  { echo "the calls were not answered"; exit 1; }

run demo.out quorvex.exe demo
tail -1 "$dir/demo.out"
grep -q '^demo passed: ' "$dir/demo.out" && echo "zip host: ok"
