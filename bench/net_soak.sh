#!/usr/bin/env bash
# The network soak: SOAK_JOBS one-copy files of 2 KB (2,000 unless told)
# sent by Morvane.exe to a counting receiver on 127.0.0.1:9100, while a
# test agent on udp 127.0.0.1:161 answers every state and page-counter
# question (now and then "paper out" for a few seconds, so copies wait).
# The files reach the running program in batches of 250, as a second start
# hands its command line over. Passes when every job arrived exactly once
# and whole, and neither the program nor Wine's server crashed.
# The test suite runs a shorter form at the component (SmallJobsSoak).
# Holds /tmp/morvane-9100.lock for the whole run: port 9100 is shared.
set -uo pipefail
if [ -z "${MORVANE_SOAK_LOCKED:-}" ]; then
    export MORVANE_SOAK_LOCKED=1
    exec flock /tmp/morvane-9100.lock bash "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
bash "$root/scripts/bootstrap.sh" >/dev/null || exit 1
bash "$root/scripts/build.sh" x86_64 >/dev/null || exit 1

jobs=${SOAK_JOBS:-2000}
size=2048
batch=250
work=$build/net-soak
agent=$work/agent
rm -rf "$work"
mkdir -p "$work/files" "$agent"
receiver_pid=
flipper_pid=
cleanup() {
    [ -n "$flipper_pid" ] && kill "$flipper_pid" 2>/dev/null
    [ -n "$receiver_pid" ] && kill "$receiver_pid" 2>/dev/null
    wine "$build/bench/UiBench.exe" shot-close 30 >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    bash "$root/scripts/snmp_agent.sh" stop "$agent" 161 >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
use_display "${SOAK_DISPLAY:-:59}"
bench_prefix "$build"
echo idle >"$agent/printer_state"
bash "$root/scripts/snmp_agent.sh" start "$agent" 161 >/dev/null || exit 1

files=()
dir=$(winepath -w "$work/files")
for i in $(seq 1 "$jobs"); do
    f=$work/files/job$i.prn
    head -c "$size" /dev/urandom >"$f"
    files+=("$dir\\job$i.prn")
done

wine reg delete 'HKLM\Software\Tolvar' /f /reg:32 >/dev/null 2>&1
wine reg add 'HKLM\Software\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerType \
    /t REG_DWORD /d 2 /f /reg:32 >/dev/null
wine reg add 'HKLM\Software\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerIPAddress \
    /t REG_DWORD /d 2130706433 /f /reg:32 >/dev/null

python3 "$root/bench/count_receiver.py" --size "$size" --count "$jobs" --idle 120 \
    --linger 5 --out "$work/receiver.out" &
receiver_pid=$!
for _ in $(seq 1 100); do
    [ -e "$work/receiver.out.ready" ] && break
    sleep 0.05
done

# Paper out for 3 s about every 20 s, until the receiver is done.
(
    while kill -0 "$receiver_pid" 2>/dev/null; do
        sleep 17
        echo noPaper >"$agent/printer_state"
        sleep 3
        echo idle >"$agent/printer_state"
    done
) &
flipper_pid=$!

start=$(now)
wine "$build/app/Morvane.exe" /start "${files[@]:0:$batch}" >"$work/morvane.log" 2>&1 &
for ((at = batch; at < jobs; at += batch)); do
    # A second start hands its files to the running window and ends.
    wine "$build/app/Morvane.exe" "${files[@]:$at:$batch}" >>"$work/handover.log" 2>&1
done
wait "$receiver_pid"
receiver_pid=
end=$(now)
whole=0 other=0 distinct=0
[ -f "$work/receiver.out" ] && read -r _ whole _ other _ distinct _ _ <"$work/receiver.out"
crashes=$(cat "$work"/*.log | grep -cE "Assertion|corrupted|Unhandled exception|Unhandled page fault")
printf 'net soak: %d jobs, %d arrived whole (%d distinct), %d other connections, %.1f s, crash reports %d\n' \
    "$jobs" "$whole" "$distinct" "$other" "$(awk "BEGIN{print $end - $start}")" "$crashes"
[ "$whole" -eq "$jobs" ] && [ "$distinct" -eq "$jobs" ] && [ "$other" -eq 0 ] && [ "$crashes" -eq 0 ]
