#!/usr/bin/env bash
# Makes the Debian packages: libquorvex0 (the library), libquorvex-gtk (its
# dialog module), libquorvex-dev (header, link, pkg-config and CMake files)
# and quorvex-tools (simulator, command-line host, example settings file),
# and python3-quorvex (the Python binding; scripts/python-deb.sh).
# Configures a build for /usr with Debian's build flags in build-debs/ (or
# $QUORVEX_DEBS_BUILD_DIR), builds the library and the tools only, and has
# CPack write the packages into the output folder.
#   debs.sh [output folder, default build-debs/debs]
#   QUORVEX_JOBS   parallel build jobs (default: the number of processors)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_DEBS_BUILD_DIR:-$root/build-debs}
out=${1:-$build/debs}
for tool in cmake cpack dpkg-deb dpkg-shlibdeps dpkg-gensymbols file; do
  command -v "$tool" >/dev/null || { echo "debs: $tool is missing (bash scripts/setup.sh installs it)" >&2; exit 1; }
done
# The hardening and optimisation flags that Debian's own packages build
# with; CMake reads no CPPFLAGS, so they join the compilers' flags.
flags=()
if command -v dpkg-buildflags >/dev/null; then
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cpp=$(dpkg-buildflags --get CPPFLAGS) ld=$(dpkg-buildflags --get LDFLAGS)
  flags=("-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $cpp"
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $cpp"
    "-DCMAKE_EXE_LINKER_FLAGS=$ld" "-DCMAKE_SHARED_LINKER_FLAGS=$ld" "-DCMAKE_MODULE_LINKER_FLAGS=$ld")
fi
# No run path: the library lies in a directory that the loader searches.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON \
  -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF -DQUORVEX_BUILD_FUZZ=OFF "${flags[@]}" >/dev/null
cmake --build "$build" -j"${QUORVEX_JOBS:-$(nproc)}"
rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$build/cpack" >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
# CPack runs ldconfig from maintainer scripts of its own; a package of a
# shared library activates dpkg's ldconfig trigger instead.  A library
# with a shlibs file gets a symbols file too, from its exports.
mkdir -p "$out"
tree=$build/cpack/tree
for deb in "$build"/cpack/*.deb; do
  rm -rf "$tree"
  dpkg-deb -R "$deb" "$tree"
  if grep -qs ldconfig "$tree/DEBIAN/postinst"; then
    rm -f "$tree/DEBIAN/postinst" "$tree/DEBIAN/postrm"
    echo 'activate-noawait ldconfig' >"$tree/DEBIAN/triggers"
  fi
  if [ -f "$tree/DEBIAN/shlibs" ]; then
    package=$(dpkg-deb -f "$deb" Package) version=$(dpkg-deb -f "$deb" Version)
    dpkg-gensymbols -q -p"$package" -v"${version%-*}" -P"$tree" -O"$tree/DEBIAN/symbols" \
      $(find "$tree" -name 'lib*.so.*' -type f -printf '-e%p ')
    sed -i "1a * Build-Depends-Package: $(dpkg-deb -f "$build"/cpack/*-dev_*.deb Package)" "$tree/DEBIAN/symbols"
  fi
  dpkg-deb --root-owner-group --build "$tree" "$out/${deb##*/}" >/dev/null
  echo "$out/${deb##*/}"
done
# The Python binding, a package of Python files alone, needs no build.
bash "$root/scripts/python-deb.sh" "$out" "$(dpkg-deb -f "$build"/cpack/libquorvex0_*.deb Version)" \
  "$(dpkg-deb -f "$build"/cpack/libquorvex0_*.deb Maintainer)"
