#!/usr/bin/env bash
# Checks the Linux library's exports against abi/libquorvex.so.0.abi, the
# interface its soname promises: an export removed, or one whose
# parameters or result changed type, fails; an export added passes.  The
# library must carry its debug information (the default build does).
#   abi.sh LIBRARY            check (exit 77 when abigail-tools is missing)
#   abi.sh --update LIBRARY   write the baseline from LIBRARY, for a release
#                             that raises the soname or adds exports
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
baseline=$root/abi/libquorvex.so.0.abi
update=0
if [ "${1:-}" = --update ]; then update=1; shift; fi
library=${1:?usage: abi.sh [--update] LIBRARY}
command -v abidiff >/dev/null && command -v abidw >/dev/null || {
  echo "abi.sh: abidw and abidiff are missing (Debian abigail-tools; bash scripts/setup.sh)" >&2
  exit 77
}
# Only what the public header declares, without source paths or line
# numbers, so that the baseline reads the same from any checkout.
options=(--headers-dir "$root/include" --drop-private-types --exported-interfaces-only)
if [ "$update" = 1 ]; then
  abidw "${options[@]}" --no-corpus-path --no-show-locs --type-id-style hash "$library" |
    sed -e "s# comp-dir-path='[^']*'##" -e "s#path='$root/#path='#" >"$baseline"
  echo "abi: $(grep -c '<elf-symbol' "$baseline") exports written to abi/libquorvex.so.0.abi"
  exit 0
fi
status=0
abidiff --no-added-syms --drop-private-types --exported-interfaces-only \
  --headers-dir2 "$root/include" "$baseline" "$library" || status=$?
# abidiff's status is a bit set: 1 its own error, 2 a usage error, 4 a
# change, 8 an incompatible change.
if [ "$status" != 0 ]; then
  echo "abi: the exports differ from abi/libquorvex.so.0.abi (abidiff status $status)" >&2
  exit 1
fi
echo "abi: $(grep -c '<elf-symbol' "$baseline") exports as the baseline has them"
