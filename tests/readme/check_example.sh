#!/bin/sh
# The README's C or C++ example and its build line, run as written: the
# example is cut from the README, built with the README's own command line
# in a folder laid out like the source tree after the quick start (its build
# in build-demo/), and run against the simulator
# in a UTF-8 locale.  What it prints must be UTF-8.
#   check_example.sh README SOURCE_DIR BUILD_DIR SIMULATOR [c|cpp]
set -eu
readme=$1 source=$2 build=$3 sim=$4 language=${5:-c}
. "$source/tests/support/simulator_port.sh"
# The section that holds the example, its code block and the build line's start.
case $language in
  c) section='## The API in brief' fence=c host=host.c compile='cc' ;;
  cpp) section='## C++' fence=cpp host=host.cpp compile='c++ -std=c++17' ;;
  *) echo "unknown language $language"; exit 1 ;;
esac
work=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

# Laid out as the quick start leaves the tree: its build in build-demo/.
ln -s "$source/include" "$work/include"
ln -s "$build" "$work/build-demo"

# The first block of the language after the section's heading, and the line
# that builds it.
awk -v section="$section" -v fence="$fence" \
  '$0 == section { on = 1 } on && $0 == "```" fence { copy = 1; next } copy && /^```$/ { exit } copy' \
  "$readme" > "$work/$host"
line=$(grep -o "\`$compile $host[^\`]*\`" "$readme" | head -n 1 | tr -d '`')
[ -s "$work/$host" ] && [ -n "$line" ] || { echo "example or build line missing"; exit 1; }

# The simulator on a free port; the example's 9000 becomes that port.  The
# file exists before the simulator starts, so that reading it never races
# the background shell that opens it.
: > "$work/sim.out"
"$sim" --port 0 --quiet > "$work/sim.out" &
sim_pid=$!
port=$(simulator_port "$work/sim.out") || exit 1
sed -i "s/\"127\.0\.0\.1\", 9000\([,)]\)/\"127.0.0.1\", $port\1/" "$work/$host"

cd "$work"
echo "$line"
env -u LD_LIBRARY_PATH LC_ALL=C.UTF-8 sh -c "$line" > out.txt 2>&1 || { cat out.txt; exit 1; }
cat out.txt
iconv -f UTF-8 -t UTF-8 out.txt > /dev/null
grep -q '^number rules: ' out.txt
echo "readme example: ok"
