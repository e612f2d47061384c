#!/bin/sh
# The journal host under Wine, against a simulator on this side of loopback.
#   journal_host.sh QUORVEX_SIM WINEPREFIX WINE_DIR
set -eu
sim=$1
export WINEPREFIX="$2" WINEDEBUG=-all
wine_dir=$3

. "$(dirname "$0")/simulator.sh"
start_simulator
cd "$wine_dir"
timeout 60 wine journal_host.exe "$sim_port" | tr -d '\r'
