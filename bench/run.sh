#!/bin/sh
# Builds the benchmark in Release in build-bench/ and runs it.  Arguments are
# passed to quorvex_bench (Google Benchmark flags, e.g. --benchmark_filter=connect).
set -eu
cd "$(dirname "$0")/.."

if [ ! -f /usr/include/benchmark/benchmark.h ] || ! command -v cmake >/dev/null || ! command -v g++ >/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update && apt-get install -y --no-install-recommends cmake g++ make libbenchmark-dev
    else
        echo "run.sh: needs cmake, g++ and libbenchmark-dev (apt-get install cmake g++ make libbenchmark-dev)" >&2
        exit 1
    fi
fi

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_TOOLS=OFF
cmake --build build-bench --target quorvex_bench -j "$(nproc)"
exec build-bench/bench/quorvex_bench "$@"
