#!/bin/sh
# The .NET assembly's journal against the library and the simulator (one
# that answers at once, one that waits 200 ms), built with Mono's C#
# compiler.  Without Mono it fails, or is skipped where
# QUORVEX_ALLOW_MISSING lists mono (tests/support/missing.sh).
#   dotnet_journal_scenario.sh BINDING_DIR WORKDIR LIBRARY SIMULATOR
set -eu
src=$1 work=$2 lib=$3 sim=$4
command -v mcs > /dev/null && command -v mono > /dev/null ||
  sh "$(dirname "$0")/../support/missing.sh" mono "Mono's mcs or mono is not installed (Debian mono-mcs, mono-runtime)"
mkdir -p "$work"
mcs -target:library -warnaserror -out:"$work/Quorvex.Net.dll" "$src"/Quorvex*.cs > "$work/mcs.out" 2>&1 ||
  { cat "$work/mcs.out"; exit 1; }
mcs -warnaserror -r:"$work/Quorvex.Net.dll" -out:"$work/journal.exe" "$(dirname "$0")/dotnet/JournalScenario.cs"
. "$(dirname "$0")/harness.sh"
start_simulator slow_port "$work/slow.out" --delay 200
journals=$work/journals
rm -rf "$journals" && mkdir -p "$journals"
LD_LIBRARY_PATH="$(dirname "$lib")" LC_ALL=C.UTF-8 mono "$work/journal.exe" "$port" "$slow_port" "$journals"
