#!/usr/bin/env bash
# The spooler path under faults, with the program's worker (SpoolBench) and
# a CUPS raw queue of its own. For each fault: does the copy fail (and the
# job stay) exactly when the document did not get through, with no hang?
#   1. the queue rejects jobs
#   2. the scheduler is stopped before the job
#   3. the scheduler is stopped while a large document is being spooled
#   4. the queue is disabled: the job is held and prints once enabled
# Prints one PASS or FAIL line per case; exits non-zero on any FAIL.
set -uo pipefail
BENCH_PORT=${BENCH_PORT:-19400}
source "$(dirname "$0")/common.sh"
bench_setup

fails=0
verdict() { # name ok(0/1) detail
    if [ "$2" -eq 0 ]; then echo "PASS  $1: $3"; else echo "FAIL  $1: $3"; fails=$((fails + 1)); fi
}
spool() { # file copies -> exit code of the worker run (0: every copy printed)
    timeout 300 wine "$build/bench/SpoolBench.exe" spool "$MORVANE_CUPS_QUEUE" "$(winepath -w "$1")" "$2" \
        >/tmp/morvane-faults.out 2>&1
}
captured() { find "$MORVANE_CAPTURE_DIR" -name 'job-*.bin' | wc -l; }
ensure_cupsd() { lpstat -r 2>/dev/null | grep -q "is running" || { cupsd; sleep 1; }; }

small=$(mktemp /tmp/morvane-faults-XXXX.prn)
head -c 100000 /dev/urandom >"$small"
big=$(mktemp /tmp/morvane-faults-XXXX.prn)
head -c $((512 * 1024 * 1024)) /dev/urandom >"$big"

# 1. Rejecting queue.
cupsreject "$MORVANE_CUPS_QUEUE"
spool "$small" 2; rc=$?
cupsaccept "$MORVANE_CUPS_QUEUE"
[ $rc -ne 0 ] && grep -q "Print Job Failed" /tmp/morvane-faults.out && [ "$(captured)" -eq 0 ]
verdict "queue rejects jobs" $? "worker exit $rc, $(captured) documents arrived"

# 2. Scheduler stopped before the job.
pkill -x cupsd; sleep 1
spool "$small" 2; rc=$?
ensure_cupsd
[ $rc -ne 0 ] && grep -q "Print Job Failed" /tmp/morvane-faults.out && [ "$(captured)" -eq 0 ]
verdict "scheduler stopped" $? "worker exit $rc, $(captured) documents arrived"

# 3. Scheduler stopped in the middle of a large document.
spool "$big" 1 &
pid=$!
sleep 2
pkill -x cupsd
wait $pid; rc=$?
ensure_cupsd
sleep 2
arrived=$(find "$MORVANE_CAPTURE_DIR" -name 'job-*.bin' -size "$(stat -c %s "$big")c" | wc -l)
if [ $rc -eq 0 ]; then
    # Reported printed: then it must have arrived whole.
    [ "$arrived" -eq 1 ]
else
    grep -q "Print Job Failed" /tmp/morvane-faults.out
fi
verdict "scheduler stopped mid-document" $? "worker exit $rc, whole documents arrived: $arrived"
rm -f "$MORVANE_CAPTURE_DIR"/job-*

# 4. Disabled queue: held, not lost.
cupsdisable "$MORVANE_CUPS_QUEUE"
spool "$small" 1; rc=$?
sleep 1
held=$(captured)
cupsenable "$MORVANE_CUPS_QUEUE"
wait_capture 1 100000 >/dev/null 2>&1
[ $rc -eq 0 ] && [ "$held" -eq 0 ] && [ "$(captured)" -eq 1 ]
verdict "queue disabled" $? "worker exit $rc, held until enabled, then $(captured) document arrived"

rm -f "$small" "$big"
echo "$fails failed"
exit $((fails > 0))
