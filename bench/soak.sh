#!/usr/bin/env bash
# The long soak: the window and the worker under random drops, removals,
# copies edits and Start/Stop clicks (a fixed seed), the worker spooling
# SOAK_JOBS one-chunk jobs (2,000 unless told), under Wine's heap checking.
# Passes when nothing crashed, Wine reported no heap error and every job's
# copies add up (copies sent + copies still queued or removed = asked).
# The test suite runs the same test shorter.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bench_setup
jobs=${SOAK_JOBS:-2000}
out=$build/soak.out
start=$(now)
MORVANE_SOAK_JOBS=$jobs WINEDEBUG=warn+heap \
    wine "$build/tests/app/test_app_soak.exe" --gtest_color=no >"$out" 2>&1
rc=$?
end=$(now)
heap=$(grep -cE "err:heap|warn:heap" "$out")
crash=$(grep -c "Unhandled exception" "$out")
printf 'soak: %d jobs in %.1f s, heap errors %d, crashes %d, test exit %d\n' \
    "$jobs" "$(awk "BEGIN{print $end - $start}")" "$heap" "$crash" "$rc"
grep -E "^\[  (PASSED|FAILED)" "$out"
[ "$rc" -eq 0 ] && [ "$heap" -eq 0 ] && [ "$crash" -eq 0 ]
