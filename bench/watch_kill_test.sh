#!/usr/bin/env bash
# The watched folder under kills: a writer puts WATCH_FILES files (200 unless
# told) into the watched folder at random moments, some in two pieces, while
# Morvane.exe (started, printing to a network printer on 127.0.0.1:9100) is
# killed (kill -9) KILL_ROUNDS times (10 unless told) at random moments and
# restarted. A last run empties the folder and the queue. Then every file
# written must be in "Printed" exactly once, whole, nothing may be left in
# the folder or in "Queued", and the printer must have got every file whole:
# at least once, and more often only where a kill cut the run that was
# sending it (a reprint beyond that is a failure).
# KILL_SEED picks the moments (printed, so a run can be repeated). Uses the
# display in DISPLAY when it answers, else starts one on WATCH_DISPLAY (:92
# unless told).
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$root/scripts/bootstrap.sh" >/dev/null || exit 1
bash "$root/scripts/build.sh" x86_64 >/dev/null || exit 1
bash "$root/scripts/wineprefix.sh" "$WINEPREFIX" "$build" >/dev/null
use_display "${WATCH_DISPLAY:-:92}"

rounds=${KILL_ROUNDS:-10}
files=${WATCH_FILES:-200}
seed=${KILL_SEED:-$RANDOM}
RANDOM=$seed
echo "watched folder kill test: $files files, $rounds kills, seed $seed"
work=$build/watch-kill
rm -rf "$work"
mkdir -p "$work/in"
in=$work/in
exe=$build/app/Morvane.exe
ui=$build/bench/UiBench.exe
app_pid=
writer_pid=
listener_pid=
log=$work/printer.log
kills=$work/kills
: >"$kills"
cleanup() {
    [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null
    [ -n "$writer_pid" ] && kill "$writer_pid" 2>/dev/null
    [ -n "$listener_pid" ] && kill "$listener_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

key='HKLM\Software\Tolvar\Tolvar Morvane'
wine reg delete "$key\\Job_List" /reg:32 /f >/dev/null 2>&1
wine reg add "$key\\SpoolerSetup" /reg:32 /f /v SpoolerType /t REG_DWORD /d 2 >/dev/null 2>&1 &&
    wine reg add "$key\\SpoolerSetup" /reg:32 /f /v SpoolerIPAddress /t REG_DWORD /d 2130706433 \
        >/dev/null 2>&1 &&
    wine reg add "$key\\WatchedFolder" /reg:32 /f /v Enabled /t REG_DWORD /d 1 >/dev/null 2>&1 &&
    wine reg add "$key\\WatchedFolder" /reg:32 /f /v Folder /t REG_SZ /d "Z:${in//\//\\}" \
        >/dev/null 2>&1 &&
    wine reg add "$key\\WatchedFolder" /reg:32 /f /v SettleMs /t REG_DWORD /d 200 >/dev/null 2>&1 ||
    { echo "could not store the settings" >&2; exit 1; }

python3 "$root/bench/kill_listener.py" serve --log "$log" --stop "$work/stop" \
    --rate 50000000 --lifetime 1800 &
listener_pid=$!
for _ in $(seq 1 100); do
    [ -e "$log.ready" ] && break
    sleep 0.05
done
[ -e "$log.ready" ] || { echo "the printer did not start"; exit 1; }

# The writer: each file's content names it; every fifth comes in two pieces.
(
    for i in $(seq 1 "$files"); do
        f=$(printf 'f%04d.prn' "$i")
        if [ $((i % 5)) -eq 0 ]; then
            printf 'first half of %s;' "$f" >"$in/$f"
            sleep 0.05
            printf 'second half of %s\n' "$f" >>"$in/$f"
        else
            printf 'whole %s\n' "$f" >"$in/$f"
        fi
        sleep "0.0$((RANDOM % 10))"
    done
) &
writer_pid=$!

start_app() {
    wine "$exe" >/dev/null 2>&1 &
    app_pid=$!
    echo "start $(date +%s.%N)" >>"$kills"
    wine "$ui" press-start 60 >/dev/null 2>&1
}

for k in $(seq 1 "$rounds"); do
    start_app || { echo "could not press Start"; exit 1; }
    d="$((RANDOM % 3)).$((RANDOM % 10))"
    sleep "$d"
    echo "kill $(date +%s.%N)" >>"$kills"
    kill -9 "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=
    echo "kill $k after ${d}s: $(find "$in" -maxdepth 1 -type f | wc -l) waiting," \
        "$(find "$in/Queued" -type f 2>/dev/null | wc -l) in Queued," \
        "$(find "$in/Printed" -type f 2>/dev/null | wc -l) printed"
done
wait "$writer_pid"
writer_pid=

# The last run: until the folder and "Queued" are empty (bounded), then an
# orderly close.
start_app || { echo "could not press Start"; exit 1; }
for _ in $(seq 1 1200); do
    [ "$(find "$in" -type f -not -path "$in/Printed/*" | wc -l)" -eq 0 ] && break
    sleep 0.1
done
wine "$ui" wait-empty 120 >/dev/null 2>&1 || echo "the queue did not empty"
wait "$app_pid" 2>/dev/null
app_pid=
touch "$work/stop"
wait "$listener_pid" 2>/dev/null
listener_pid=

fail=0
left=$(find "$in" -type f -not -path "$in/Printed/*" | wc -l)
printed=$(find "$in/Printed" -type f | wc -l)
suffixed=$(find "$in/Printed" -type f -name '* (*' | wc -l)
missing=0
wrong=0
for i in $(seq 1 "$files"); do
    f=$(printf 'f%04d.prn' "$i")
    if [ ! -f "$in/Printed/$f" ]; then
        missing=$((missing + 1))
        continue
    fi
    if [ $((i % 5)) -eq 0 ]; then
        want="first half of $f;second half of $f"
    else
        want="whole $f"
    fi
    [ "$(cat "$in/Printed/$f")" = "$want" ] || wrong=$((wrong + 1))
done
echo "files written: $files; in Printed: $printed; missing: $missing; not whole: $wrong;" \
    "moved twice (suffixed): $suffixed; left in the folder or Queued: $left"
[ "$missing" -eq 0 ] && [ "$wrong" -eq 0 ] && [ "$suffixed" -eq 0 ] && [ "$left" -eq 0 ] &&
    [ "$printed" -eq "$files" ] || fail=1
# What reached the printer, held against the files and the kills.
jobspecs=()
for f in "$in"/Printed/*; do
    jobspecs+=(--job "$f:1")
done
python3 "$root/bench/kill_listener.py" report --log "$log" --kills "$kills" "${jobspecs[@]}" ||
    fail=1
[ "$fail" -eq 0 ] && echo "PASS" || echo "FAIL"
exit "$fail"
