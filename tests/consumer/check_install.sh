#!/bin/sh
# Installs a build into an empty folder and builds a host against it the
# two ways a C or C++ project does: with pkg-config, and with CMake's
# find_package(Quorvex).  Each host must run.  Also checks the versioned
# shared object and its links.
#   check_install.sh <build dir> <folder of this script> [C flags]
# The C flags are the build's own, so that hosts of a sanitizer build are
# instrumented as its library is.
set -eu
build=$1 here=$2 cflags=${3:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cmake --install "$build" --prefix "$dir/usr" >/dev/null
lib=$(dirname "$(find "$dir/usr" -name 'libquorvex.so.0' | head -n 1)")
readelf -d "$lib/libquorvex.so.0" | grep -q 'SONAME.*\[libquorvex\.so\.0\]'
[ -L "$lib/libquorvex.so" ] && [ -L "$lib/libquorvex.so.0" ]

# From a tree that was moved after its install.
mv "$dir/usr" "$dir/moved"
sh "$here/consumers.sh" "$dir/moved" "$dir" "$cflags"
echo "consumers: ok"
