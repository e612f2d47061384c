#!/usr/bin/env bash
# Builds the library, the simulator and the tests that use threads for
# 32-bit x86 Linux (-m32, the preset "linux32" of CMakePresets.json, in
# build-linux32/) under AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs those tests: faults that only a 32-bit pointer width exposes (a size
# or an offset cut to 32 bits, an object laid out differently, a stack of
# another size) are caught by a sanitizer here, not only by Wine.  Only
# the targets the tests need are built: no dialogs, no bindings, no DLLs.
# Where the i386 packages or 32-bit execution are missing it fails, unless
# QUORVEX_ALLOW_MISSING lists linux32 (tests/support/missing.sh).
#   QUORVEX_LINUX32_TESTS   ctest regex of the tests to run (default below)
#   QUORVEX_JOBS            parallel build and test jobs (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QUORVEX_JOBS:-2}
tests=${QUORVEX_LINUX32_TESTS:-'^(Threads|SimulatorAccept|Sessions|SessionsProperty|SessionsBadInput|StreamInStep)\.'}
targets=(quorvex_thread_tests quorvex_session_tests quorvex_session_api_tests quorvex_stream_in_step_tests)
cd "$root"
quorvex_missing_lib=1
. tests/support/missing.sh
# Skipped where allowed (the script then succeeds), a failure otherwise.
missing() {
  quorvex_skipped linux32 "$1" && exit 0
  echo "missing: linux32: $1" >&2
  echo "  bash scripts/setup.sh installs g++-multilib, libxml2-dev:i386, libsqlite3-dev:i386 and libgtest-dev:i386; QUORVEX_ALLOW_MISSING=linux32 skips this stage" >&2
  exit 1
}
bash scripts/setup.sh
for p in g++-multilib libxml2-dev:i386 libsqlite3-dev:i386 libgtest-dev:i386; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing "$p is not installed"
done
# Some virtual machines' kernels run no 32-bit x86 programs: a probe built
# as the tests are built says whether this one does, before the build.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'int main(void) { return sizeof(void *) == 4 ? 0 : 1; }' > "$probe/probe.c"
cc -m32 -fsanitize=address,undefined "$probe/probe.c" -o "$probe/probe" 2>"$probe/log" ||
  missing "a 32-bit program with ASan and UBSan does not build: $(head -c 300 "$probe/log")"
"$probe/probe" 2>"$probe/log" || missing "32-bit programs do not run here: $(head -c 300 "$probe/log")"
cmake --preset linux32 >/dev/null
cmake --build --preset linux32 -j"$jobs" --target "${targets[@]}"
ctest --preset linux32 -j"$jobs" -R "$tests"
echo "linux32: ok"
