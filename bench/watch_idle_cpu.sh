#!/usr/bin/env bash
# Processor time of Morvane.exe while it watches a folder where nothing
# arrives (0 expected: the watcher waits on the folder's change
# notification), over WATCH_SECONDS (10 unless told). Then one file is
# dropped to show the watch was live. Uses the display in DISPLAY when it
# answers, else starts one on WATCH_DISPLAY (:91 unless told).
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$root/scripts/bootstrap.sh" >/dev/null || exit 1
bash "$root/scripts/build.sh" x86_64 >/dev/null || exit 1
bash "$root/scripts/wineprefix.sh" "$WINEPREFIX" "$build" >/dev/null
use_display "${WATCH_DISPLAY:-:91}"

seconds=${WATCH_SECONDS:-10}
work=$build/watch-idle
rm -rf "$work"
mkdir -p "$work/in"
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

key='HKLM\Software\Tolvar\Tolvar Morvane\WatchedFolder'
wfolder="Z:${work//\//\\}\\in"
wine reg add "$key" /reg:32 /f /v Enabled /t REG_DWORD /d 1 >"$work/reg.log" 2>&1 &&
    wine reg add "$key" /reg:32 /f /v Folder /t REG_SZ /d "$wfolder" >>"$work/reg.log" 2>&1 ||
    { echo "could not store the settings" >&2; cat "$work/reg.log" >&2; exit 1; }

wine "$build/app/Morvane.exe" >"$work/app.log" 2>&1 &
app=$!
for _ in $(seq 1 600); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Tolvar Morvane' && break
    sleep 0.1
done
# The program's own process (the launcher may have handed over to it): the
# one running Morvane.exe in this prefix.
pid=
for p in $(pgrep -f 'Morvane\.exe'); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
        pid=$p
    fi
done
if [ -z "$pid" ]; then
    echo "the program is not running" >&2
    cat "$work/app.log" >&2
    exit 1
fi
# The process's own ticks (user + system) from the kernel.
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
sleep 2 # start-up work done
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
used=$((t1 - t0))
echo "idle for ${seconds} s: $used ticks of 1/$hz s ($(awk -v u="$used" -v h="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * u / h / s }') % of one core)"

echo data >"$work/in/live.prn"
for _ in $(seq 1 100); do
    [ -f "$work/in/Queued/live.prn" ] && break
    sleep 0.1
done
if [ ! -f "$work/in/Queued/live.prn" ]; then
    echo "the folder was not watched: a dropped file was not queued" >&2
    exit 1
fi
echo "a file dropped afterwards was queued: the watch was live"
