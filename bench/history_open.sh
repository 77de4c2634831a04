#!/usr/bin/env bash
# The job history window on a long history (100,000 entries unless
# BENCH_ENTRIES says otherwise): bench/HistoryBench.cpp writes the file and
# reports the time until the window is up with its rows painted, held
# against the budget of one second.
# BENCH_BUILD names another build folder than build/x86_64.
set -uo pipefail
source "$(dirname "$0")/common.sh"
build=${BENCH_BUILD:-$build}
export WINEPREFIX=$build/bench-wineprefix
bash "$root/scripts/bootstrap.sh" || exit 1
bash "$root/scripts/build.sh" x86_64 "$build" >/dev/null || exit 1

use_display "${BENCH_DISPLAY:-:95}"
bench_prefix "$build"

out=/tmp/morvane-history-open.out
rc=0
for round in 1 2 3; do
    wine "$build/bench/HistoryBench.exe" open "${BENCH_ENTRIES:-100000}" >"$out.$round" 2>&1 || rc=1
    echo "round $round:"
    cat "$out.$round"
done
wineserver -k >/dev/null 2>&1 || true
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
awk '/history window open/ { print ($8 < 1.0) ? "open: within budget (1 s)" : "open: OVER budget (1 s)" }' "$out".[123]
exit $rc
