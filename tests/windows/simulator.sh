# Sourced by the Windows tests' scripts: a scratch folder removed on exit,
# and the simulator started on a free loopback port (sim_port), stopped on
# exit.  Needs sim (the quorvex-sim program), and sim_runner (wine) to run
# a Windows one.
dir=$(mktemp -d)
sim_pid=
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

start_simulator() {
  : > "$dir/sim.out"  # there before the background shell opens it
  ${sim_runner:-} "$sim" --port 0 --quiet > "$dir/sim.out" &
  sim_pid=$!
  sim_port=
  for _ in $(seq 200); do
    sim_port=$(sed -n 's/^quorvex-sim listening on 127[.]0[.]0[.]1:\([0-9]*\).*/\1/p' "$dir/sim.out")
    [ -n "$sim_port" ] && return 0
    sleep 0.05
  done
  echo "the simulator did not start"
  exit 1
}
