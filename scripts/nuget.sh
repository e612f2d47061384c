#!/usr/bin/env bash
# Makes the NuGet package Quorvex.<version>.nupkg in build-nuget/ (or
# $QUORVEX_NUGET_DIR) with Debian's nuget: the managed assembly and its XML
# documentation for .NET Framework 4.6 and later (lib/net46: mcs builds
# against Mono's 4.x profile, and the GBK fallback for .NET needs
# Encoding.RegisterProvider, new in 4.6; no .NET Standard reference
# assemblies are installed here, so there is no lib/netstandard2.0), the 32- and 64-bit
# Windows DLLs and the Linux library under runtimes/, and build targets that
# copy the Windows DLLs into .NET Framework projects.  Installs only what it
# uses (setup.sh nuget, and setup.sh zips for the DLLs), and builds the
# simulator beside the library to try the package against.
#   nuget.sh             builds the library and both DLLs in build/ (or
#                        $QUORVEX_BUILD_DIR) first; a build that does not
#                        exist is configured without tests
#   nuget.sh --linux     the Linux library alone: no DLL, no mingw-w64, no
#                        build targets (which serve Windows projects)
#   nuget.sh --no-build  packs what the build holds
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BUILD_DIR:-$root/build}
out=${QUORVEX_NUGET_DIR:-$root/build-nuget}
make=1 windows=1
for option in "$@"; do
  case $option in
    --no-build) make=0 ;;
    --linux) windows=0 ;;
    *) echo "usage: nuget.sh [--linux] [--no-build]" >&2; exit 2 ;;
  esac
done
if [ "$make" = 1 ]; then
  sets=(nuget)
  [ "$windows" = 0 ] || sets+=(zips)
  bash "$root/scripts/setup.sh" "${sets[@]}"
  command -v nuget >/dev/null || { echo "nuget missing: apt-get install nuget" >&2; exit 1; }
  targets=(quorvex quorvex-sim)
  fresh=()
  [ -f "$build/CMakeCache.txt" ] ||
    fresh=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF)
  if [ "$windows" = 1 ]; then
    targets+=(quorvex_windows_i686 quorvex_windows_x86_64)
    cmake -S "$root" -B "$build" -DQUORVEX_WINDOWS_DLLS=ON "${fresh[@]}" >/dev/null
  elif [ ${#fresh[@]} -gt 0 ]; then
    cmake -S "$root" -B "$build" -DQUORVEX_WINDOWS_DLLS=OFF "${fresh[@]}" >/dev/null
  fi
  cmake --build "$build" --target "${targets[@]}" -j"${QUORVEX_JOBS:-2}"
fi
version=$(sed -n 's/^project(quorvex VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
src=$root/bindings/dotnet
stage=$out/stage
rm -rf "$stage" && mkdir -p "$stage/lib/net46" "$stage/build" "$stage/runtimes/linux-x64/native" \
  "$stage/runtimes/win-x86/native" "$stage/runtimes/win-x64/native"

# The assembly carries the package's version (the project's).
cat > "$stage/AssemblyVersion.cs" <<END
[assembly: System.Reflection.AssemblyVersion("$version.0")]
[assembly: System.Reflection.AssemblyFileVersion("$version.0")]
[assembly: System.Reflection.AssemblyInformationalVersion("$version")]
END
# Every public member is documented: a missing comment (CS1591) fails the
# build as every warning does.
mcs -target:library -warnaserror -out:"$stage/lib/net46/Quorvex.Net.dll" \
  -doc:"$stage/lib/net46/Quorvex.Net.xml" "$src"/Quorvex*.cs "$stage/AssemblyVersion.cs"
cp "$src/package/Quorvex.Net.dll.config" "$stage/lib/net46/"
cp "$root/LICENSE" "$stage/LICENSE.txt"
cp -L "$build/src/libquorvex.so.0" "$stage/runtimes/linux-x64/native/"
sed "s/@VERSION@/$version/" "$src/package/Quorvex.nuspec" > "$stage/Quorvex.nuspec"
if [ "$windows" = 1 ]; then
  cp "$src/package/Quorvex.targets" "$stage/build/"
  cp "$build/windows-i686/src/Quorvex.dll" "$stage/runtimes/win-x86/native/"
  cp "$build/windows-x86_64/src/Quorvex.dll" "$stage/runtimes/win-x64/native/"
else
  sed -i -e '/Quorvex\.dll" target="runtimes\/win-/d' -e '/Quorvex\.targets"/d' \
    -e 's/(Quorvex\.dll for 32- and 64-bit Windows, libquorvex\.so\.0 for 64-bit Linux, both included)/(libquorvex.so.0 for 64-bit Linux included)/' \
    "$stage/Quorvex.nuspec"
fi

# NuGet before 4.9 knows no <license> element: such a nuget packs with the
# licence's URL, and the element is put back into the packed manifest.
# (nuget help repeats itself without end when its output is not a terminal: only its first line is read.)
nuget_version=$( (nuget help </dev/null 2>/dev/null || true) | head -1 | sed -n 's/^NuGet Version: \([0-9]*\.[0-9]*\).*/\1/p')
old=$(python3 -c "import sys; print(int(tuple(map(int, sys.argv[1].split('.'))) < (4, 9)))" "${nuget_version:-0.0}")
if [ "$old" = 1 ]; then
  sed -i 's|<license type="expression">Apache-2.0</license>|<licenseUrl>https://licenses.nuget.org/Apache-2.0</licenseUrl>|' \
    "$stage/Quorvex.nuspec"
fi
rm -f "$out"/Quorvex.*.nupkg
# nuget keeps its settings under HOME; a scratch one keeps the user's untouched and the pack offline.
(cd "$stage" && HOME="$out/home" nuget pack Quorvex.nuspec -OutputDirectory "$out" -NonInteractive -NoDefaultExcludes </dev/null) >/dev/null
package=$out/Quorvex.$version.nupkg
if [ "$old" = 1 ]; then
  python3 - "$package" <<'PY'
import sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path) as z:
    entries = [(i, z.read(i.filename)) for i in z.infolist()]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for info, data in entries:
        if info.filename == "Quorvex.nuspec":
            url = b"<licenseUrl>https://licenses.nuget.org/Apache-2.0</licenseUrl>"
            assert url in data, "the packed manifest lost its licence URL"
            data = data.replace(url, b'<license type="expression">Apache-2.0</license>\n    ' + url)
        z.writestr(info, data)
PY
fi
# The simulator to try the package against, or the one command that builds it.
if [ -x "$build/bin/quorvex-sim" ]; then
  echo "simulator: $build/bin/quorvex-sim --port 9000"
else
  echo "simulator: cmake --build $build --target quorvex-sim, then $build/bin/quorvex-sim --port 9000"
fi
echo "$package"
