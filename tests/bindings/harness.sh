# Sourced by the binding scenarios, after they set src (the binding's folder),
# work (a scratch folder), lib (the library) and sim (the simulator).
#
# Starts two simulators on free ports, one that serves normally ($port, with
# the accounts demo and demo2) and one that drops each connection after two
# answers ($drop_port), and stops both when the script exits.
root=$(cd "$src/../.." && pwd)
. "$root/tests/support/simulator_port.sh"
sim_pids=
trap 'for p in $sim_pids; do kill "$p" 2>/dev/null; done' EXIT

start_simulator() { # VARIABLE OUTFILE [OPTIONS...]: sets VARIABLE to the port
  var=$1 out=$2; shift 2
  : > "$out"  # there before the background shell opens it
  "$sim" --port 0 --quiet "$@" > "$out" 2>&1 &
  sim_pids="$sim_pids $!"
  p=$(simulator_port "$out") || exit 1
  eval "$var=$p"
}

# The README's example for a language, run as written: its first LANG block
# after the HEADING line becomes FILE (port 9000 turned into $port) in a folder
# laid out like the source tree, where the first sh block after the heading
# builds and runs it.  It must print the number rules.
run_readme_example() { # HEADING LANG FILE
  dir=$work/readme
  rm -rf "$dir" && mkdir -p "$dir/build-demo"
  ln -s "$root/bindings" "$dir/bindings"
  ln -s "$(dirname "$lib")" "$dir/build-demo/src"  # as the quick start builds it
  awk -v h="$1" -v f="$2" '$0 == h { on = 1 } on && $0 == "```" f { c = 1; next } c && /^```$/ { exit } c' \
    "$root/README.md" | sed "s/, 9000, 5000,/, $port, 5000,/" > "$dir/$3"
  awk -v h="$1" '$0 == h { on = 1 } on && $0 == "```sh" { c = 1; next } c && /^```$/ { exit } c' \
    "$root/README.md" > "$dir/build.sh"
  [ -s "$dir/$3" ] && [ -s "$dir/build.sh" ] || { echo "README example for $2 missing"; exit 1; }
  (cd "$dir" && env -u LD_LIBRARY_PATH LC_ALL=C.UTF-8 sh -e build.sh) > "$dir/out.txt" 2>&1 ||
    { cat "$dir/out.txt"; exit 1; }
  grep '^number rules: ' "$dir/out.txt"
}

start_simulator port "$work/sim.out" --accounts 2
start_simulator drop_port "$work/drop.out" --drop-after 2
