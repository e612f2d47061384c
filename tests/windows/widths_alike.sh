#!/bin/sh
# The DLLs of both widths behave alike: one host session, run by each
# width's win_host.exe against the same simulator, prints the same results
# and outputs, and its trace (every call, and a hex dump of every byte sent
# and received) is the same but for the times.
#   widths_alike.sh QUORVEX_SIM WINEPREFIX WINE_DIR...
set -eu
sim=$1
export WINEPREFIX=$2 WINEDEBUG=-all
shift 2

. "$(dirname "$0")/simulator.sh"
start_simulator

# "彩信" and "139,移动" in GBK, as win_host takes bytes.
session="init -- connect 127.0.0.1 1 2000 -- connect 127.0.0.1 $sim_port 5000 -- login app extra demo demo123 1.0
  -- feedback -- heartbeat -- mms x:b2cac5c5 KB -- numrule -- relogin -- submitallover -- getmessage
  -- checktels 13912345678 x:3133392cd2c6b6af -- readini dx -- release"
n=0
for wine_dir in "$@"; do
  n=$((n + 1))
  # shellcheck disable=SC2086 # the session is split into words on purpose
  (cd "$wine_dir" && QUORVEX_TRACE="$dir/trace$n" QUORVEX_TRACE_HEX=1 timeout 60 wine win_host.exe $session) \
    2>/dev/null | tr -d '\r' > "$dir/out$n"
  sed 's/^[0-9.]* //; s/[0-9.]* ms/N ms/g' "$dir/trace$n" > "$dir/events$n"
done
echo "$n widths, $(wc -l < "$dir/out1") steps, $(wc -l < "$dir/events1") trace lines"
grep -q '^feedback 1 code=900 ' "$dir/out1" || { cat "$dir/out1"; exit 1; }
for k in $(seq 2 "$n"); do
  diff "$dir/out1" "$dir/out$k" || exit 1
  diff "$dir/events1" "$dir/events$k" || exit 1
done
echo "widths alike: ok"
