#!/bin/sh
# Builds the benchmarks in Release in build-bench/, runs them, and prints one
# Markdown table: each figure of the library beside its floor measured in
# the same run (a raw socket doing the same bytes), or beside the same host
# without the library's calls.  The benchmarks' own output goes to
# build-bench/table-logs/; only the table goes to standard output.
#
# QUORVEX_BENCH_QUICK=1 shortens the Google Benchmark runs (fewer, shorter
# repetitions) for a quick look; the README's table comes from a full run.
set -eu
cd "$(dirname "$0")/.."

if [ ! -f /usr/include/benchmark/benchmark.h ] || ! command -v cmake >/dev/null || ! command -v g++ >/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update && apt-get install -y --no-install-recommends cmake g++ make libbenchmark-dev
    else
        echo "table.sh: needs cmake, g++ and libbenchmark-dev (apt-get install cmake g++ make libbenchmark-dev)" >&2
        exit 1
    fi
fi

build=build-bench
logs=$build/table-logs
bin=$build/bench
mkdir -p "$logs"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_TOOLS=OFF \
    >"$logs/configure.log" 2>&1 || { cat "$logs/configure.log" >&2; exit 1; }

# Each benchmark on its own: one that does not build leaves its rows
# "not measured" instead of stopping the table.
for target in quorvex_bench quorvex_xml_bench quorvex_recovery_bench quorvex_rss_host quorvex_xml_cost_host \
    quorvex_sessions_bench; do
    echo "table.sh: building $target" >&2
    cmake --build "$build" --target "$target" -j 2 >"$logs/build-$target.log" 2>&1 ||
        echo "table.sh: $target did not build (see $logs/build-$target.log)" >&2
done

quick=""
sessions_rounds="7 400"
if [ "${QUORVEX_BENCH_QUICK:-0}" = 1 ]; then
    quick="--benchmark_repetitions=3 --benchmark_min_time=0.1"
    sessions_rounds="3 200"
fi

# run NAME COMMAND...: runs a benchmark with its output in the log; an empty
# log when it cannot run.
run() {
    name=$1
    shift
    : >"$logs/$name.log"
    if [ -x "$1" ]; then
        echo "table.sh: running $name" >&2
        "$@" >"$logs/$name.log" 2>&1 || echo "table.sh: $name failed (see $logs/$name.log)" >&2
    fi
}

# shellcheck disable=SC2086  # $quick is a list of flags
run exchange "$bin/quorvex_bench" $quick
# shellcheck disable=SC2086
run xml "$bin/quorvex_xml_bench" $quick
run recovery "$bin/quorvex_recovery_bench" 101
# shellcheck disable=SC2086  # $sessions_rounds is two arguments
run sessions "$bin/quorvex_sessions_bench" $sessions_rounds
run idle "$bin/quorvex_sessions_bench" --idle 500
: >"$logs/rss.log"
if [ -x "$bin/quorvex_rss_host" ]; then
    echo "table.sh: running quorvex_rss_host" >&2
    for i in 1 2 3 4 5; do
        "$bin/quorvex_rss_host" | sed 's/^/library /' >>"$logs/rss.log"
        "$bin/quorvex_rss_host" --baseline | sed 's/^/baseline /' >>"$logs/rss.log"
    done
fi

# The figures are taken from each benchmark's closing summary: the word after
# "library", "raw", "ratio" and so on, on the line that starts with the
# summary's label.
cat "$logs/exchange.log" "$logs/xml.log" "$logs/recovery.log" "$logs/rss.log" "$logs/idle.log" | awk '
function after(line, word,    n, i, t) {
    n = split(line, t, /[ \t]+/)
    for (i = 1; i < n; i++) if (t[i] == word) { sub(/[,\/].*$/, "", t[i + 1]); return t[i + 1] }
    return ""
}
function grouped(x,    s, sign) {
    s = sprintf("%.0f", x); sign = ""
    if (s ~ /^-/) { sign = "-"; s = substr(s, 2) }
    while (s ~ /[0-9][0-9][0-9][0-9]/) sub(/[0-9][0-9][0-9]($|,)/, ",&", s)
    return sign s
}
function median(list,    n, v, i, j, x) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) { x = v[i] + 0; for (j = i - 1; j >= 1 && v[j] + 0 > x; j--) v[j + 1] = v[j]; v[j + 1] = x }
    return n ? v[int((n + 1) / 2)] + 0 : ""
}
function row(measure, library, floor, comparison) {
    if (library == "" || floor == "") { library = "not measured"; floor = ""; comparison = "" }
    printf "| %s | %s | %s | %s |\n", measure, library, floor, comparison
}
/^record exchange \(Heartbeat\)/  { hb_lib = after($0, "library"); hb_raw = after($0, "raw"); hb_ratio = after($0, "ratio") }
/^record exchange \(MMSMaxSize\)/ { mms_lib = after($0, "library"); mms_raw = after($0, "raw"); mms_ratio = after($0, "ratio") }
/^record exchange \(Heartbeat, traced\)/ { tr_lib = after($0, "library"); tr_raw = after($0, "raw"); tr_ratio = after($0, "ratio") }
/^timed connect median/           { con_lib = after($0, "library"); con_raw = after($0, "raw") }
/^heap allocations per exchange/  { alloc_hb = after($0, "Heartbeat"); alloc_mms = after($0, "MMSMaxSize") }
/^XML login/                      { xl_lib = after($0, "library"); xl_raw = after($0, "raw"); xl_ratio = after($0, "ratio") }
/^query \(fxNumRule/              { xq_lib = after($0, "library"); xq_raw = after($0, "raw"); xq_ratio = after($0, "ratio") }
/^recovery after a drop/          { rec_lib = after($0, "library"); rec_raw = after($0, "raw"); rec_ratio = after($0, "ratio") }
/^library rss_after_kib/          { rss_lib = rss_lib " " $3 }
/^baseline rss_after_kib/         { rss_base = rss_base " " $3 }
/^idle session resident/          { idle_lib = after($0, "library"); idle_raw = after($0, "raw"); if (match($0, /\([0-9]+ connected/)) idle_count = substr($0, RSTART + 1, RLENGTH - 11) }
END {
    print "| Measure | Quorvex | Floor (same run) | Quorvex vs floor |"
    print "|---|---:|---:|---:|"
    if (hb_lib != "") row("Record exchange throughput, Heartbeat", grouped(hb_lib) " /s", grouped(hb_raw) " /s", hb_ratio "×")
    else row("Record exchange throughput, Heartbeat", "", "", "")
    if (mms_lib != "") row("Record exchange throughput, MMSMaxSize", grouped(mms_lib) " /s", grouped(mms_raw) " /s", mms_ratio "×")
    else row("Record exchange throughput, MMSMaxSize", "", "", "")
    if (tr_lib != "") row("Record exchange throughput, Heartbeat, trace on (to a file in memory)", grouped(tr_lib) " /s", grouped(tr_raw) " /s", tr_ratio "×")
    else row("Record exchange throughput, Heartbeat, trace on (to a file in memory)", "", "", "")
    if (xl_lib != "") row("XML pair latency, login (fxLogin_Req + _Resp)", xl_lib " µs", xl_raw " µs", xl_ratio "×")
    else row("XML pair latency, login (fxLogin_Req + _Resp)", "", "", "")
    if (xq_lib != "") row("XML pair latency, query (fxNumRule_Req + _Resp)", xq_lib " µs", xq_raw " µs", xq_ratio "×")
    else row("XML pair latency, query (fxNumRule_Req + _Resp)", "", "", "")
    if (con_lib != "" && con_raw + 0 > 0) row("Timed-connect latency", con_lib " µs", con_raw " µs", sprintf("%.2f×", con_lib / con_raw))
    else row("Timed-connect latency", "", "", "")
    if (rec_lib != "") row("Recovery after a dropped connection (failing call, relogin, next call)", rec_lib " µs", rec_raw " µs", rec_ratio "×")
    else row("Recovery after a dropped connection (failing call, relogin, next call)", "", "", "")
    if (alloc_hb != "") row("Heap allocations per record exchange (Heartbeat / MMSMaxSize)", alloc_hb " / " alloc_mms, "—", "")
    else row("Heap allocations per record exchange (Heartbeat / MMSMaxSize)", "", "", "")
    if (rss_lib != "" && rss_base != "") {
        lib = median(rss_lib); base = median(rss_base)
        row("Resident memory of a host after initialise, connect and login", grouped(lib) " KiB", grouped(base) " KiB without the calls", sprintf("%+d KiB", lib - base))
    } else row("Resident memory of a host after initialise, connect and login", "", "", "")
    if (idle_lib != "") row("Resident memory of an idle session, connected and logged in (" idle_count " at once, each)", idle_lib " KiB", idle_raw " KiB per raw socket", sprintf("%+.1f KiB", idle_lib - idle_raw))
    else row("Resident memory of an idle session, connected and logged in", "", "", "")
}'

# Sessions: Heartbeat exchanges per second with N sessions on N threads
# against a server answering 1 ms after each request, beside N raw sockets.
echo
echo "| Sessions on as many threads (server answers after 1 ms) | Quorvex | Raw sockets (same run) | Quorvex vs raw | Scaling: Quorvex(N) / Quorvex(1) / N (raw) |"
echo "|---:|---:|---:|---:|---:|"
awk '
function after(line, word,    n, i, t) {
    n = split(line, t, /[ \t]+/)
    for (i = 1; i < n; i++) if (t[i] == word) { sub(/[,\/].*$/, "", t[i + 1]); return t[i + 1] }
    return ""
}
function grouped(x,    s) {
    s = sprintf("%.0f", x)
    while (s ~ /[0-9][0-9][0-9][0-9]/) sub(/[0-9][0-9][0-9]($|,)/, ",&", s)
    return s
}
/^sessions +[0-9]+ exchanges/ {
    seen = 1
    printf "| %s | %s /s | %s /s | %s× | %s (%s) |\n", $2, grouped(after($0, "library")), grouped(after($0, "raw")), after($0, "ratio"), after($0, "scaling"), after($0, "raw_scaling")
}
END { if (!seen) print "| not measured | | | | |" }' "$logs/sessions.log"

# Adversarial XML replies, one process each: the pair's time and the growth
# of the host's peak resident memory.  Replies over the body limit are
# refused at their header.
if [ -x "$bin/quorvex_xml_cost_host" ]; then
    echo "table.sh: running quorvex_xml_cost_host" >&2
    echo
    echo "| Adversarial XML reply (fxNotify pair) | 1 MiB | 4 MiB | 16 MiB |"
    echo "|---|---:|---:|---:|"
    for shape in elements attributes text nesting namespaces; do
        line="| $shape |"
        for size in 1 4 16; do
            cell=$(timeout 120 "$bin/quorvex_xml_cost_host" "$shape" "$size" 2>>"$logs/xml_cost.log" |
                sed -n 's/^.*: \([0-9.]*\) ms, peak +\([0-9]*\) KiB.*$/\1 ms, +\2 KiB/p')
            line="$line ${cell:-not measured} |"
        done
        echo "$line"
    done
fi
