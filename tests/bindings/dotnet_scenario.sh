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
# Every public type and member carries a documentation comment: CS1591
# names any that does not, and fails the build as every warning does.
mcs -target:library -warnaserror -doc:"$work/Quorvex.Net.xml" -out:"$work/Quorvex.Net.dll" \
  "$src"/Quorvex*.cs > "$work/mcs.out" 2>&1 || { cat "$work/mcs.out"; exit 1; }
mcs -warnaserror -r:"$work/Quorvex.Net.dll" -out:"$work/scenario.exe" "$(dirname "$0")/dotnet/Scenario.cs" \
  "$(dirname "$0")/dotnet/AsyncScenario.cs"
. "$(dirname "$0")/harness.sh"
start_simulator slow_port "$work/slow.out" --accounts 2 --delay 200
# DllImport("quorvex") finds libquorvex.so through the library path.
LD_LIBRARY_PATH="$(dirname "$lib")" LC_ALL=C.UTF-8 mono "$work/scenario.exe" "$port" "$drop_port" "$sim" "$slow_port"
run_readme_example "### .NET" csharp Host.cs

# Planted copies of the library (working ones, so that loading one would
# pass) above the program's folder, in runtimes/ folders there and in the
# current directory are never loaded: without a copy in the program's folder
# or on the library path the first call fails, naming where it looked.  The
# folders that Windows would try are the program's own and those below it.
plant=$work/plant app=$work/plant/a/app
rm -rf "$plant" && mkdir -p "$app" "$plant/cwd"
for d in "$plant" "$plant/a" "$plant/cwd" "$plant/runtimes/linux-x64/native" "$plant/runtimes/win-x64/native"; do
  mkdir -p "$d" && cp "$lib" "$d/libquorvex.so" && cp "$lib" "$d/libquorvex.so.0" && cp "$lib" "$d/Quorvex.dll"
done
cat > "$work/Probe.cs" <<'END'
using System; using System.Reflection;
static class Probe {
    static int Main(string[] args) {
        var folders = (System.Collections.IEnumerable)typeof(Quorvex.Library)
            .GetMethod("ProgramFolders", BindingFlags.NonPublic | BindingFlags.Static).Invoke(null, null);
        foreach (string f in folders) Console.WriteLine("windows folder: " + f);
        try { Quorvex.Library.Ensure(); Console.WriteLine("loaded"); return 1; }
        catch (Quorvex.QuorvexLibraryNotFoundException e) { Console.WriteLine(e.Message); return 0; }
    }
}
END
cp "$work/Quorvex.Net.dll" "$app/"
mcs -warnaserror -r:"$app/Quorvex.Net.dll" -out:"$app/probe.exe" "$work/Probe.cs"
if ldconfig -p 2>/dev/null | grep -q 'libquorvex\.so'; then
  echo "the library is installed: the planted copies are not tried"
else
  (cd "$plant/cwd" && env -u LD_LIBRARY_PATH mono "$app/probe.exe") > "$work/plant.out" 2>&1 ||
    { echo "a planted library was loaded:"; cat "$work/plant.out"; exit 1; }
  grep -q "could not be loaded; looked in $app" "$work/plant.out" || { cat "$work/plant.out"; exit 1; }
  [ "$(grep -c '^windows folder: ' "$work/plant.out")" = 3 ] &&
    ! grep '^windows folder: ' "$work/plant.out" | grep -Ev "^windows folder: $app(/(x64|x86|runtimes/win-x(64|86)/native))?/?\$" ||
    { echo "Windows would look outside the program's folder:"; cat "$work/plant.out"; exit 1; }
fi
echo "dotnet scenario: ok"
