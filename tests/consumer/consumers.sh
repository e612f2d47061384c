#!/bin/sh
# Builds consumer.c against an installed tree the two ways a C or C++
# project does, with pkg-config and with CMake's find_package(Quorvex), and
# runs each host.  A tree staged below a root (DESTDIR, an unpacked
# package) is read with PKG_CONFIG_SYSROOT_DIR set to that root.
#   consumers.sh <installed prefix> <scratch folder> [C flags]
set -eu
prefix=$1 work=$2 cflags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
pc=$(dirname "$(find "$prefix" -name quorvex.pc | head -n 1)")
lib=$(dirname "$pc")
named=$(PKG_CONFIG_PATH=$pc pkg-config --variable=prefix quorvex)
case $prefix in
  "$named") root= ;;
  *"$named") root=${prefix%"$named"} ;;
  *) echo "quorvex.pc names the prefix $named, not $prefix"; exit 1 ;;
esac

PKG_CONFIG_PATH=$pc pkg-config --modversion quorvex
flags=$(PKG_CONFIG_PATH=$pc PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs quorvex)
case $flags in *..*) echo "pkg-config prints a path with '..': $flags"; exit 1 ;; esac
# shellcheck disable=SC2086
cc $cflags "$here/consumer.c" -o "$work/pc_consumer" $flags -Wl,-rpath,"$lib"
"$work/pc_consumer"

rm -rf "$work/cmake"
cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$cflags" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer"
