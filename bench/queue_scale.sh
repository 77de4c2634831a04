#!/usr/bin/env bash
# A long queue (10,000 jobs unless BENCH_JOBS says otherwise): the time to
# save it at close, to load it at start, and the memory it takes, against
# the budget we hold the program to (load under 2 s, save under 3 s).
set -uo pipefail
source "$(dirname "$0")/common.sh"
run_tool /tmp/morvane-queue.out queue-scale "${BENCH_JOBS:-10000}"
rc=$?
awk '/load at start/ { print ($4 < 2.0) ? "load within budget" : "load OVER budget" }
     /save at close/ { print ($4 < 3.0) ? "save within budget" : "save OVER budget" }' /tmp/morvane-queue.out
exit $rc
