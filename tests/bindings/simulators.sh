# Sourced by the binding scenarios: starts two simulators on free ports, one
# that serves normally ($port) and one that drops each connection after two
# answers ($drop_port), and stops both when the script exits.
# Set sim (the simulator) and work (a scratch folder) before sourcing it.
sim_pids=
trap 'for p in $sim_pids; do kill "$p" 2>/dev/null; done' EXIT

start_simulator() { # VARIABLE OUTFILE [OPTIONS...]: sets VARIABLE to the port
  var=$1 out=$2; shift 2
  "$sim" --port 0 --quiet "$@" > "$out" 2>&1 &
  sim_pids="$sim_pids $!"
  for _ in $(seq 100); do
    p=$(sed -n 's/^quorvex-sim listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out")
    [ -n "$p" ] && { eval "$var=$p"; return; }
    sleep 0.05
  done
  echo "simulator did not start" >&2
  exit 1
}

start_simulator port "$work/sim.out"
start_simulator drop_port "$work/drop.out" --drop-after 2
