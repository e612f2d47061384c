#!/bin/sh
# Runs the poll()-driven C host against a simulator that answers slowly.
#   async_host.sh SIMULATOR HOST
sim=$1 host=$2
. "$(dirname "$0")/support/simulator_port.sh"
out=$(mktemp)
trap 'kill "$sim_pid" 2>/dev/null; rm -f "$out"' EXIT
"$sim" --port 0 --delay 30 --quiet > "$out" 2>&1 &
sim_pid=$!
port=$(simulator_port "$out") || exit 1
"$host" "$port"
