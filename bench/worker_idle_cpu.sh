#!/usr/bin/env bash
# Processor time the worker uses while stopped and while running with an
# empty queue, next to a thread that polls a flag without pause.
set -uo pipefail
source "$(dirname "$0")/common.sh"
run_tool /tmp/morvane-idle.out idle-cpu "${BENCH_SECONDS:-3}"
rc=$?
exit $rc
