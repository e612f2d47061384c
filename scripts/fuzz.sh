#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ (or
# $QUORVEX_FUZZ_BUILD_DIR) and runs each one for a bounded time on a copy of
# its seed corpus.  Fails when a target crashes, leaks or trips a sanitizer;
# the input that did it is kept in build-fuzz/fuzz/findings/<target>/.
#
#   QUORVEX_FUZZ_SECONDS   seconds per target (default 20)
#   QUORVEX_FUZZ_TARGETS   the targets to run (default: all, as listed below)
#   scripts/fuzz.sh [target...]   the same as QUORVEX_FUZZ_TARGETS
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${QUORVEX_FUZZ_SECONDS:-20}
all_targets=(record_response fx_reply xml_document socks_reply http_proxy_reply http_response settings_file check_tels journal_content journal_file)
if [ $# -gt 0 ]; then
  targets=("$@")
elif [ -n "${QUORVEX_FUZZ_TARGETS:-}" ]; then
  read -r -a targets <<<"$QUORVEX_FUZZ_TARGETS"
else
  targets=("${all_targets[@]}")
fi

command -v clang++ >/dev/null || { echo "clang++ is missing (clang and libclang-rt-dev)" >&2; exit 1; }
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_BUILD_FUZZ=ON \
  -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_TOOLS=OFF -DQUORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for t in "${targets[@]}"; do
  [ -d "$root/fuzz/corpus/$t" ] || { echo "no seed corpus fuzz/corpus/$t" >&2; exit 1; }
  work=$build/fuzz/run/$t findings=$build/fuzz/findings/$t
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  cp -R "$root/fuzz/corpus/$t/." "$work/"
  echo "== $t: ${seconds}s"
  # Inputs up to three records, so that the record targets can hand over
  # a second record (the document target expands small inputs to replies
  # up to the body limit); -timeout fails the run on any input that takes
  # more than 3 s, a read that waits instead of failing or a parse whose
  # cost is out of proportion.
  if ! "$build/fuzz/${t}_fuzzer" "$work" -max_total_time="$seconds" -max_len=8192 \
      -rss_limit_mb=2048 -timeout=3 -print_final_stats=1 -artifact_prefix="$findings/" \
      >"$build/fuzz/$t.log" 2>&1; then
    tail -n 60 "$build/fuzz/$t.log" >&2
    failed+=("$t")
  else
    grep -E '^stat::number_of_executed_units|^Done' "$build/fuzz/$t.log" | tr '\n' ' '
    echo
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs in $build/fuzz/findings/)" >&2
  exit 1
fi
echo "fuzz: ok (${#targets[@]} targets, ${seconds}s each)"
