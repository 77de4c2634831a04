#!/usr/bin/env bash
# A long queue (10,000 jobs unless BENCH_JOBS says otherwise): the time to
# save it at close, to load it at start, and the memory it takes, against
# the budget we hold the program to (load under 2 s, save under 3 s).
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$root/scripts/bootstrap.sh" || exit 1
bash "$root/scripts/build.sh" x86_64 >/dev/null || exit 1
bash "$root/scripts/wineprefix.sh" "$WINEPREFIX" "$build" >/dev/null
wine "$build/bench/SpoolBench.exe" queue-scale "${BENCH_JOBS:-10000}" >/tmp/morvane-queue.out 2>&1
rc=$?
wineserver -k >/dev/null 2>&1 || true
cat /tmp/morvane-queue.out
awk '/load at start/ { print ($4 < 2.0) ? "load within budget" : "load OVER budget" }
     /save at close/ { print ($4 < 3.0) ? "save within budget" : "save OVER budget" }' /tmp/morvane-queue.out
exit $rc
