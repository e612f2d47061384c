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

# pkg-config, from a tree that was moved after its install.
mv "$dir/usr" "$dir/moved"
lib=$(echo "$lib" | sed "s|$dir/usr|$dir/moved|")
PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --modversion quorvex
# shellcheck disable=SC2046
cc $cflags "$here/consumer.c" -o "$dir/pc_consumer" $(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --cflags --libs quorvex) \
  -Wl,-rpath,"$lib"
"$dir/pc_consumer"

# CMake.
cmake -S "$here" -B "$dir/cmake" -DCMAKE_PREFIX_PATH="$dir/moved" -DCMAKE_C_FLAGS="$cflags" >/dev/null
cmake --build "$dir/cmake" >/dev/null
"$dir/cmake/consumer"
echo "consumers: ok"
