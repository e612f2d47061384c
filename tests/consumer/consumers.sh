#!/bin/sh
# Builds consumer.c against an installed tree the two ways a C or C++
# project does, with pkg-config and with CMake's find_package(Quorvex), and
# runs each host.
#   consumers.sh <installed prefix> <scratch folder> [C flags]
set -eu
prefix=$1 work=$2 cflags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
pc=$(dirname "$(find "$prefix" -name quorvex.pc | head -n 1)")
lib=$(dirname "$pc")

PKG_CONFIG_PATH=$pc pkg-config --modversion quorvex
# shellcheck disable=SC2046
cc $cflags "$here/consumer.c" -o "$work/pc_consumer" $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs quorvex) \
  -Wl,-rpath,"$lib"
"$work/pc_consumer"

cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$cflags" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer"
