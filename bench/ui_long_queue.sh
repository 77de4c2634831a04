#!/usr/bin/env bash
# A long queue in the window (10,000 jobs unless BENCH_JOBS says otherwise):
# Morvane.exe is started on a virtual display with the queue preset on the
# null printer, and bench/UiBench.cpp reports the time until the window shows
# every row, the program's memory, how long the list box keeps the user
# waiting while the worker spools, and the time to save at close. Each figure
# is held against the budget we defend to a user.
# It runs twice, with the job history and without it (MORVANE_HISTORY=off),
# so the cost of writing an entry per job shows side by side
# (BENCH_HISTORY="on" or "off" runs one of them only).
# BENCH_BUILD names another build folder than build/x86_64.
set -uo pipefail
source "$(dirname "$0")/common.sh"
build=${BENCH_BUILD:-$build}
export WINEPREFIX=$build/bench-wineprefix
bash "$root/scripts/bootstrap.sh" || exit 1
bash "$root/scripts/build.sh" x86_64 "$build" >/dev/null || exit 1

use_display "${BENCH_DISPLAY:-:95}"
bench_prefix "$build"

out=/tmp/morvane-ui-long-queue.out
rc=0
for history in ${BENCH_HISTORY:-on off}; do
    # Each run starts from no history, so both write the same.
    rm -f "$WINEPREFIX"/drive_c/users/*/AppData/Local/Tolvar/Morvane/history*.csv
    MORVANE_HISTORY=$history wine "$build/bench/UiBench.exe" long-queue \
        "$(winepath -w "$build/app/Morvane.exe")" "${BENCH_JOBS:-10000}" "${BENCH_SECONDS:-12}" \
        >"$out.$history" 2>&1 || rc=1
done
wineserver -k >/dev/null 2>&1 || true
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
for history in ${BENCH_HISTORY:-on off}; do
    echo "== job history $history"
    cat "$out.$history"
    # Budgets: rows shown within 2 s, close and save within 3 s, Stop within
    # 200 ms, a working set under 100 MB, no paint of the rows later than 200 ms.
    awk '/window shown with its rows/ { print ($6 < 2.0) ? "start: within budget (2 s)" : "start: OVER budget (2 s)" }
         /close and save/ { print ($4 < 3.0) ? "close: within budget (3 s)" : "close: OVER budget (3 s)" }
         /memory with the queue loaded/ { print ($8 < 100) ? "memory: within budget (100 MB working set)" : "memory: OVER budget (100 MB working set)" }
         /stop takes effect/ { print ($4 < 0.2) ? "stop: within budget (200 ms)" : "stop: OVER budget (200 ms)" }
         /did not paint/ { print "paint: OVER budget (200 ms): no paint within 10 s" }
         /longest paint while/ { split($0, a, ": "); split(a[1], w, "while "); ms = a[2] + 0
                                  verdict = ($0 ~ /of 0 probes/) ? "not measured" : ((ms <= 200) ? "within budget (200 ms)" : "OVER budget (200 ms)")
                                  print "paint while " w[2] ": " verdict }' "$out.$history"
done
exit $rc
