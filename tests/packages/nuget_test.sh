#!/bin/sh
# The NuGet package as a .NET developer gets it: packed by scripts/nuget.sh
# from the build, restored offline from a local folder with nuget install,
# checked for its layout and licence, then the README's .NET example built
# with mcs against the restored assembly and run under Mono against the
# simulator with the restored Linux library; without that library it must
# fail naming the file and where it was looked for.  Without nuget or Mono
# it fails, or is skipped where QUORVEX_ALLOW_MISSING lists the component
# (tests/support/missing.sh).
#   nuget_test.sh SOURCE_DIR BUILD_DIR WORKDIR SIMULATOR
set -eu
root=$1 build=$2 work=$3 sim=$4
. "$root/tests/support/simulator_port.sh"
for tool in nuget:nuget unzip:nuget mcs:mono mono:mono; do
  command -v "${tool%%:*}" > /dev/null ||
    sh "$root/tests/support/missing.sh" "${tool#*:}" "${tool%%:*} is not installed (Debian nuget, unzip, mono-mcs, mono-runtime)"
done
rm -rf "$work" && mkdir -p "$work/feed" "$work/restored" "$work/host"
package=$(QUORVEX_BUILD_DIR=$build QUORVEX_NUGET_DIR=$work/pack bash "$root/scripts/nuget.sh" --no-build | tail -1)
cp "$package" "$work/feed/"

unzip -Z1 "$package" | sort > "$work/contents.txt"
for f in lib/net46/Quorvex.Net.dll lib/net46/Quorvex.Net.xml lib/net46/Quorvex.Net.dll.config \
  runtimes/win-x86/native/Quorvex.dll runtimes/win-x64/native/Quorvex.dll \
  runtimes/linux-x64/native/libquorvex.so.0 build/Quorvex.targets LICENSE.txt; do
  grep -qx "$f" "$work/contents.txt" || { echo "package lacks $f"; cat "$work/contents.txt"; exit 1; }
done
unzip -p "$package" Quorvex.nuspec | grep -q '<license type="expression">Apache-2.0</license>' ||
  { echo "the manifest names no licence"; exit 1; }
# Each DLL is of its width (PE machine 0x14c, 0x8664) and the documentation covers the job helper.
python3 - "$package" <<'PY'
import struct, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for name, machine in (("runtimes/win-x86/native/Quorvex.dll", 0x14C), ("runtimes/win-x64/native/Quorvex.dll", 0x8664)):
    pe = z.read(name)
    at = struct.unpack_from("<I", pe, 0x3C)[0]
    assert pe[at:at + 4] == b"PE\0\0" and struct.unpack_from("<H", pe, at + 4)[0] == machine, name
docs = z.read("lib/net46/Quorvex.Net.xml").decode()
for member in ("M:Quorvex.Session.SendJob", "M:Quorvex.Reply.Check", "T:Quorvex.OutcomeKind"):
    assert member in docs, member
session = docs.split('<member name="M:Quorvex.Session.SubmitTelList(System.String)">')[1].split("</member>")[0]
assert "the recipients" in session and "inheritdoc" not in docs, session
PY

HOME=$work/home nuget install Quorvex -Source "$work/feed" -OutputDirectory "$work/restored" -NonInteractive < /dev/null > "$work/install.txt"
pkg=$(echo "$work"/restored/Quorvex.*)
[ -d "$pkg" ] || { cat "$work/install.txt"; exit 1; }

# The assembly has the package's version; on .NET (Core), whose imports know no
# dllmap, its resolver loads the package's own Linux library first.  (Mono has
# no resolver: what it runs here is the search of places, not the loading.)
version=$(sed -n 's/^project(quorvex VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
cat > "$work/probe.cs" <<'END'
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
class Probe
{
    static void Main()
    {
        var library = typeof(Quorvex.Library);
        Console.WriteLine("assembly version: " + library.Assembly.GetName().Version);
        var places = (IEnumerable<string>)library.GetMethod("SharedObjectPlaces", BindingFlags.NonPublic | BindingFlags.Static)
            .Invoke(null, null);
        Console.WriteLine("resolver loads: " + places.First(File.Exists));
    }
}
END
mcs -r:"$pkg/lib/net46/Quorvex.Net.dll" -out:"$work/probe.exe" "$work/probe.cs"
MONO_PATH="$pkg/lib/net46" mono "$work/probe.exe" > "$work/probe.out" 2>&1 || { cat "$work/probe.out"; exit 1; }
cat "$work/probe.out"
[ "$(cat "$work/probe.out")" = "assembly version: $version.0
resolver loads: $pkg/runtimes/linux-x64/native/libquorvex.so.0" ] || exit 1

# The build targets in a .NET Framework project (xbuild's copy step alone: no
# .NET Framework reference assemblies here to compile against): the DLL of the
# project's platform beside the program, both widths in x86/ and x64/ for AnyCPU.
if command -v xbuild > /dev/null; then
  mkdir -p "$work/project"
  cat > "$work/project/Host.csproj" <<END
<Project ToolsVersion="4.0" xmlns="http://schemas.microsoft.com/developer/msbuild/2003">
  <PropertyGroup>
    <OutputType>Exe</OutputType>
    <TargetFrameworkVersion>v4.6</TargetFrameworkVersion>
    <OutputPath>bin/\$(Platform)/</OutputPath>
  </PropertyGroup>
  <Import Project="\$(MSBuildToolsPath)/Microsoft.CSharp.targets" />
  <Import Project="$pkg/build/Quorvex.targets" />
</Project>
END
  for platform in AnyCPU x86 x64; do
    (cd "$work/project" && xbuild /nologo /v:quiet /t:_CopyDeployFilesToOutputDirectory /p:Platform=$platform \
      Host.csproj) > "$work/project/$platform.txt" 2>&1 || { cat "$work/project/$platform.txt"; exit 1; }
  done
  python3 - "$work/project/bin" <<'PY'
import os, struct, sys
def machine(path):
    pe = open(path, "rb").read()
    return struct.unpack_from("<H", pe, struct.unpack_from("<I", pe, 0x3C)[0] + 4)[0]
bin_dir = sys.argv[1]
found = sorted(os.path.relpath(os.path.join(d, f), bin_dir) for d, _, fs in os.walk(bin_dir) for f in fs)
want = {"AnyCPU/x86/Quorvex.dll": 0x14C, "AnyCPU/x64/Quorvex.dll": 0x8664,
        "x86/Quorvex.dll": 0x14C, "x64/Quorvex.dll": 0x8664}
assert found == sorted(want), found
for name, m in want.items():
    assert machine(os.path.join(bin_dir, name)) == m, name
print("build targets: ok")
PY
else
  echo "xbuild missing: the build targets were not tried"
fi

# A host builds against lib/net46 and gets the assembly and its .config copied beside it, as the README says.
awk '$0 == "### .NET" { on = 1 } on && $0 == "```csharp" { c = 1; next } c && /^```$/ { exit } c' \
  "$root/README.md" > "$work/host/Host.cs"
"$sim" --port 0 --quiet > "$work/sim.out" 2>&1 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null' EXIT
port=$(simulator_port "$work/sim.out") || exit 1
sed -i "s/, 9000, 5000,/, $port, 5000,/" "$work/host/Host.cs"
# The README's recipe as written, from nuget install to mono, with build-nuget/ the feed.
ln -s "$work/feed" "$work/host/build-nuget"
awk '/^nuget install Quorvex/ { c = 1 } c && /^```$/ { exit } c' "$root/README.md" > "$work/host/recipe.sh"
grep -q '^mono Host.exe\|mono Host.exe$' "$work/host/recipe.sh" || { echo "no .NET recipe in the README"; exit 1; }
(cd "$work/host" && HOME=$work/home LC_ALL=C.UTF-8 bash -e recipe.sh < /dev/null) > "$work/host.out" 2>&1 ||
  { cat "$work/host.out"; exit 1; }
grep '^number rules: ' "$work/host.out"

# An installed library would be found: the missing case is left out then.
if ldconfig -p 2>/dev/null | grep -q 'libquorvex\.so\.0 '; then
  echo "libquorvex.so.0 is installed: the missing-library check is left out"
  echo "nuget package: ok"
  exit 0
fi
if env -u LD_LIBRARY_PATH LC_ALL=C.UTF-8 mono "$work/host/Host.exe" > "$work/missing.out" 2>&1; then
  echo "the host ran without its library"; exit 1
fi
grep -q 'QuorvexLibraryNotFoundException: the native Quorvex library libquorvex.so.0 could not be loaded; looked in .*'"$work/host"'.*LD_LIBRARY_PATH (unset)' \
  "$work/missing.out" || { echo "the missing library is not named with where it was looked for:"; cat "$work/missing.out"; exit 1; }
echo "nuget package: ok"
