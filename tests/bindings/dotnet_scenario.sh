#!/bin/sh
# The .NET assembly and its scenario, built with Mono's C# compiler and run
# against the library and two simulators, then
# the README's example as written.  Without Mono it fails, or is skipped
# where QUORVEX_ALLOW_MISSING lists mono (tests/support/missing.sh).
#   dotnet_scenario.sh BINDING_DIR WORKDIR LIBRARY SIMULATOR
set -eu
src=$1 work=$2 lib=$3 sim=$4
command -v mcs > /dev/null && command -v mono > /dev/null ||
  sh "$(dirname "$0")/../support/missing.sh" mono "Mono's mcs or mono is not installed (Debian mono-mcs, mono-runtime)"
mkdir -p "$work"
mcs -target:library -warnaserror -out:"$work/Quorvex.Net.dll" "$src"/Quorvex*.cs
mcs -warnaserror -r:"$work/Quorvex.Net.dll" -out:"$work/scenario.exe" "$src/Scenario.cs"
. "$(dirname "$0")/harness.sh"
# DllImport("quorvex") finds libquorvex.so through the library path.
LD_LIBRARY_PATH="$(dirname "$lib")" LC_ALL=C.UTF-8 mono "$work/scenario.exe" "$port" "$drop_port" "$sim"
run_readme_example "### .NET" csharp Host.cs
echo "dotnet scenario: ok"
