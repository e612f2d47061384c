#!/bin/sh
# The bindings benchmark: the same loop of Heartbeat calls on a session
# (QvHeartbeat), against one loopback peer that answers every record at once
# (bench/bindings/peer.c), through C (the floor), C++, Python, .NET (Mono)
# and Pascal, in one run.  Prints each one's median time per call, its ratio
# to C (C's time over its own: 1.00 is C's speed) and what it adds to C's
# call.  Hosts whose toolchain is missing are skipped.  Not part of the tests.
#   sh bench/bindings.sh [CALLS [ROUNDS [PASSES]]]   (default 20000 9 3)
# The library is built in Release in build-bench/, or taken from the build
# folder BUILD names (built there, configured as it is).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
calls=${1:-20000} rounds=${2:-9} passes=${3:-3}
build=${BUILD:-$root/build-bench}
work=$build/bindings-bench
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_TOOLS=OFF > /dev/null
cmake --build "$build" --target quorvex -j2 > /dev/null
lib=$(find "$build/src" -name 'libquorvex.so*' -type f | head -n 1)
libdir=$(dirname "$lib")
here=$root/bench/bindings
rm -rf "$work" && mkdir -p "$work"

cc -O2 -pthread -o "$work/peer" "$here/peer.c"
cc -O2 -I"$root/include" -o "$work/c" "$here/host.c" -L"$libdir" -lquorvex -Wl,-rpath,"$libdir"
hosts="C"
if command -v c++ > /dev/null; then
  c++ -std=c++20 -O2 -I"$root/include" -o "$work/cpp" "$here/host.cpp" -L"$libdir" -lquorvex -Wl,-rpath,"$libdir"
  hosts="$hosts C++"
fi
hosts="$hosts Python Python-ctypes"
if command -v mcs > /dev/null && command -v mono > /dev/null; then
  mcs -optimize+ -target:library -out:"$work/Quorvex.Net.dll" "$root"/bindings/dotnet/Quorvex*.cs > /dev/null
  mcs -optimize+ -r:"$work/Quorvex.Net.dll" -out:"$work/host.exe" "$here/Host.cs" > /dev/null
  hosts="$hosts .NET"
fi
if command -v fpc > /dev/null; then
  mkdir -p "$work/units"
  fpc -O2 -Mdelphi -FU"$work/units" -Fu"$root/bindings/pascal" -Fi"$root/bindings/pascal" -Fl"$libdir" \
    -k-rpath -k"$libdir" -o"$work/pascal" "$here/host.pas" > "$work/fpc.log" 2>&1 || { cat "$work/fpc.log"; exit 1; }
  hosts="$hosts Pascal"
fi

"$work/peer" > "$work/peer.port" &
peer=$!
trap 'kill $peer 2>/dev/null' EXIT
while [ ! -s "$work/peer.port" ]; do sleep 0.05; done
port=$(cat "$work/peer.port")

run() { # HOST: one pass's median, in nanoseconds per call
  set -- "$port" "$calls" "$rounds"
  case $host in
    C) "$work/c" "$@" ;;
    C++) "$work/cpp" "$@" ;;
    Python) PYTHONPATH="$root/bindings/python" QUORVEX_LIBRARY="$lib" python3 "$here/host.py" "$@" ;;
    Python-ctypes) PYTHONPATH="$root/bindings/python" QUORVEX_LIBRARY="$lib" python3 "$here/host.py" "$@" ctypes ;;
    .NET) LD_LIBRARY_PATH="$libdir" mono "$work/host.exe" "$@" ;;
    Pascal) "$work/pascal" "$@" ;;
  esac
}

# The hosts take turns, pass after pass, so that a slow moment of the
# machine falls on all of them; each one's figure is the median of its passes.
: > "$work/figures"
for pass in $(seq "$passes"); do
  for host in $hosts; do
    echo "$host $(run)" >> "$work/figures"
  done
done
echo "Heartbeat on a session, $calls calls x $rounds rounds x $passes passes, median per call:"
awk -v hosts="$hosts" '
  { t[$1] = t[$1] " " $2 }
  function median(list,   v, n, i, j, x) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) { x = v[i] + 0; for (j = i - 1; j >= 1 && v[j] + 0 > x; j--) v[j + 1] = v[j]; v[j + 1] = x }
    return (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  END {
    n = split(hosts, h, " "); floor = median(t["C"])
    printf "| %-14s | %12s | %9s | %14s |\n", "Host", "per call", "C / host", "added to C"
    printf "|%s|%s|%s|%s|\n", "----------------", "-------------:", "----------:", "---------------:"
    for (i = 1; i <= n; i++) {
      m = median(t[h[i]])
      printf "| %-14s | %9.2f µs | %8.2fx | %+11.2f µs |\n", h[i], m / 1000, floor / m, (m - floor) / 1000
    }
  }' "$work/figures"
