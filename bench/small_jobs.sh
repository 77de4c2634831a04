#!/usr/bin/env bash
# Small network jobs side by side: JOBS one-copy files of SIZE bytes (500
# and 2048 unless told; about 550 fit on one command line) sent to a
# counting receiver on 127.0.0.1:9100, ROUNDS times (7 unless told: a round
# of the plain sender lasts a tenth of a second, and its rate swings by
# three times from round to round), each round by the plain sender
# (bench/PlainSender.cpp: connect, send, shut down, wait for the close) and
# then by Morvane.exe (the files on its command line with /start; nothing
# answers on udp 161, so each copy's state question is the quick one of a
# silent printer). Rates are counted at the receiver, from the first
# connection to the last; prints each round's rates, the ratio Morvane /
# plain and the median ratio against the goal (at least a third).
# Holds /tmp/morvane-9100.lock for the whole run: port 9100 is shared.
set -uo pipefail
if [ -z "${MORVANE_SMALL_LOCKED:-}" ]; then
    export MORVANE_SMALL_LOCKED=1
    exec flock /tmp/morvane-9100.lock bash "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
bash "$root/scripts/bootstrap.sh" >/dev/null || exit 1
bash "$root/scripts/build.sh" x86_64 >/dev/null || exit 1

jobs=${JOBS:-500}
size=${SIZE:-2048}
rounds=${ROUNDS:-7}
work=$build/small-jobs
rm -rf "$work"
mkdir -p "$work/files"
receiver_pid=
cleanup() {
    [ -n "$receiver_pid" ] && kill "$receiver_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
use_display "${SMALL_DISPLAY:-:58}"
bench_prefix "$build"

args=()
dir=$(winepath -w "$work/files")
for i in $(seq 1 "$jobs"); do
    f=$work/files/job$i.prn
    head -c "$size" /dev/urandom >"$f"
    args+=("$dir\\job$i.prn")
done
one=$(winepath -w "$work/files/job1.prn")

# receive OUT: starts the receiver for one round and waits until it listens.
receive() {
    rm -f "$1" "$1.ready"
    python3 "$root/bench/count_receiver.py" --size "$size" --count "$jobs" --idle 60 \
        --out "$1" --times "$1.times" &
    receiver_pid=$!
    for _ in $(seq 1 100); do
        [ -e "$1.ready" ] && return 0
        sleep 0.05
    done
    echo "the receiver did not start" >&2
    return 1
}

# rate OUT: waits for the receiver; sets jobs_per_s from its line, and
# fails unless every job came whole.
rate() {
    wait "$receiver_pid"
    receiver_pid=
    local whole=0 other=0 secs=0
    [ -f "$1" ] && read -r _ whole _ other _ _ _ secs <"$1"
    if [ "$whole" -ne "$jobs" ] || [ "$other" -ne 0 ]; then
        echo "only $whole of $jobs jobs whole ($other other)" >&2
        return 1
    fi
    jobs_per_s=$(awk "BEGIN{printf \"%.1f\", $whole / ($secs > 0 ? $secs : 0.001)}")
}

ratios=()
plains=()
ourss=()
for r in $(seq 1 "$rounds"); do
    receive "$work/plain.out" || exit 1
    wine "$build/bench/plain_sender.exe" 127.0.0.1 9100 "$one" "$jobs" >"$work/plain.log" 2>&1
    rate "$work/plain.out" || exit 1
    plain=$jobs_per_s

    wine reg delete 'HKLM\Software\Tolvar' /f /reg:32 >/dev/null 2>&1
    wine reg add 'HKLM\Software\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerType \
        /t REG_DWORD /d 2 /f /reg:32 >/dev/null
    wine reg add 'HKLM\Software\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerIPAddress \
        /t REG_DWORD /d 2130706433 /f /reg:32 >/dev/null
    receive "$work/morvane.out" || exit 1
    wine "$build/app/Morvane.exe" /start "${args[@]}" >"$work/morvane.log" 2>&1 &
    app=$!
    rate "$work/morvane.out" || exit 1
    ours=$jobs_per_s
    wine "$build/bench/UiBench.exe" shot-close 30 >/dev/null 2>&1
    wait "$app" 2>/dev/null
    ratio=$(awk "BEGIN{printf \"%.2f\", $ours / $plain}")
    # Where Morvane's time went: the gaps between one connection's end and
    # the next one's accept, the long ones (the first copies' questions to a
    # printer not yet known to be silent) apart from the rest.
    gaps=$(awk 'NR > 1 { g = $1 - end; if (g > 0.1) { n++; long += g } else { short += g; m++ } }
        { end = $2; conn += $2 - $1 }
        END { printf "connection %.2f ms, gap %.2f ms, %d gaps over 100 ms (%.2f s)",
              1000 * conn / NR, 1000 * short / (m ? m : 1), n, long }' "$work/morvane.out.times")
    ratios+=("$ratio")
    plains+=("$plain")
    ourss+=("$ours")
    echo "round $r: plain $plain jobs/s, Morvane $ours jobs/s, ratio $ratio ($gaps)"
done
median_of() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
median=$(median_of "${ratios[@]}")
echo "median rates: plain $(median_of "${plains[@]}") jobs/s, Morvane $(median_of "${ourss[@]}") jobs/s"
echo "small jobs ($jobs x $size bytes): median ratio Morvane / plain sender $median (goal: at least 0.33)"
awk "BEGIN{exit !($median >= 0.33)}"
