#!/usr/bin/env bash
# Processor time the worker uses while stopped and while running with an
# empty queue, next to a thread that polls a flag without pause.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$root/scripts/bootstrap.sh" || exit 1
bash "$root/scripts/build.sh" x86_64 >/dev/null || exit 1
bash "$root/scripts/wineprefix.sh" "$WINEPREFIX" "$build" >/dev/null
wine "$build/bench/SpoolBench.exe" idle-cpu "${BENCH_SECONDS:-3}" >/tmp/morvane-idle.out 2>&1
rc=$?
wineserver -k >/dev/null 2>&1 || true
cat /tmp/morvane-idle.out
exit $rc
