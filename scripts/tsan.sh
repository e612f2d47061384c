#!/usr/bin/env bash
# Builds the library, its tools and the test suite under ThreadSanitizer
# (the preset "tsan" of CMakePresets.json, in build-tsan/) and runs the
# tests that use threads: host threads sharing the connection, disconnects
# from other threads, the seeded fault run, sessions side by side and
# destroyed under a blocked call, jobs cancelled and one account shared, and
# the trace switched on and off by another thread.  Any report fails the
# run.
# (The fault matrix, the proxy handshake faults and the many-sessions test
# count the process's threads, which TSan's own background thread upsets; they run under the
# other builds.)
#   QUORVEX_TSAN_TESTS   ctest regex of the tests to run (default below;
#                        "." runs the whole suite)
#   QUORVEX_JOBS         parallel build and test jobs (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QUORVEX_JOBS:-2}
tests=${QUORVEX_TSAN_TESTS:-'Threads|StreamInStep|StreamFaults|Relogin|FailureOrder|Outcome|TraceTest|SessionsProperty|Sessions\.|SessionsBadInput\.A|SessionHandles|JobFaults|JobAccounts|Operations|JournalSends'}
cd "$root"
bash scripts/setup.sh
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
ctest --preset tsan -j"$jobs" -R "$tests"
echo "tsan: ok"
