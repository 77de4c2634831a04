#!/usr/bin/env bash
# Many small network jobs handed to Morvane.exe on its command line, as
# another program hands them over, to a receiver on 127.0.0.1:9100 that
# takes each copy and closes at its end, with nothing on udp 161 (a printer
# that answers no questions): RUNS runs (3 unless told) of JOBS one-copy
# 2 KB files (200 unless told). Each run must deliver every job once and
# whole, and the program must then close when asked: one left hanging means
# Wine's server went down under it. The receiver is a native process: one
# under Wine would share the server and change the timing.
# Usage: small_network_jobs.sh BUILD_DIR [RUNS]. Under ctest: the build's
# prefix (WINEPREFIX) and the test display (DISPLAY).
set -uo pipefail
build=$1
runs=${2:-3}
jobs=${JOBS:-200}
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$build/app/Morvane.exe
work=$build/small-network-jobs
key='HKLM\Software\Tolvar'
setup_key='HKLM\Software\Tolvar\Tolvar Morvane\SpoolerSetup'

receiver_pid=
app_pid=
cleanup() {
    [ -n "$receiver_pid" ] && kill "$receiver_pid" 2>/dev/null
    [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null
    wine reg delete "$key" /f /reg:32 >/dev/null 2>&1
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

[ -f "$exe" ] || fail "no program at $exe (build it first)"
rm -rf "$work"
mkdir -p "$work/files"
dir=$(winepath -w "$work/files") || fail "winepath failed"
args=()
for i in $(seq 1 "$jobs"); do
    head -c 2048 /dev/urandom >"$work/files/j$i.prn"
    args+=("$dir\\j$i.prn")
done

for r in $(seq 1 "$runs"); do
    wine reg delete "$key" /f /reg:32 >/dev/null 2>&1
    wine reg add "$setup_key" /v SpoolerType /t REG_DWORD /d 2 /f /reg:32 >/dev/null &&
        wine reg add "$setup_key" /v SpoolerIPAddress /t REG_DWORD /d 2130706433 /f \
            /reg:32 >/dev/null || fail "could not write the settings"

    rm -f "$work/out" "$work/out.ready"
    python3 "$root/bench/count_receiver.py" --size 2048 --count "$jobs" --idle 20 \
        --linger 1 --out "$work/out" &
    receiver_pid=$!
    for _ in $(seq 1 100); do
        [ -e "$work/out.ready" ] && break
        sleep 0.05
    done
    [ -e "$work/out.ready" ] || fail "the receiver did not start (is port 9100 taken?)"

    wine "$exe" /start "${args[@]}" >"$work/app$r.log" 2>&1 &
    app_pid=$!
    wait "$receiver_pid"
    receiver_pid=
    whole=0 other=0 distinct=0
    [ -f "$work/out" ] && read -r _ whole _ other _ distinct _ _ <"$work/out"
    [ "$whole" -eq "$jobs" ] && [ "$distinct" -eq "$jobs" ] && [ "$other" -eq 0 ] ||
        fail "run $r: $whole of $jobs jobs arrived whole ($distinct distinct), $other other connections"

    # Asked to close as a user would (WM_CLOSE), with an empty queue.
    wine taskkill /im Morvane.exe >/dev/null 2>&1
    for _ in $(seq 1 300); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$app_pid" 2>/dev/null && fail "run $r: the program did not close when asked"
    app_pid=
done
echo "small network jobs: $runs runs of $jobs jobs, every job arrived once and whole"
