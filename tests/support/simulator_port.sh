# Sourced by the tests' shell scripts that start quorvex-sim --port 0.
#
# simulator_port OUTFILE: waits (at most 5 s) for the simulator's
# "listening on" line in OUTFILE and prints its port; fails the script
# when the simulator did not start.
simulator_port() {
  for _ in $(seq 100); do
    p=$(sed -n 's/^quorvex-sim listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$1")
    [ -n "$p" ] && { echo "$p"; return 0; }
    sleep 0.05
  done
  echo "simulator did not start" >&2
  exit 1
}
