#!/usr/bin/env bash
# The kill test: Morvane.exe sends a queue of six jobs (different sizes, 1 to
# 4 copies, contents a listener tells apart) to a network printer on
# 127.0.0.1:9100 and is killed (kill -9 of its process) at random moments,
# KILL_ROUNDS times (20 unless told), restarted after each kill and made to
# go on (the driver presses Start), until the queue is empty. The listener
# then checks that every job arrived whole at least its copies, none more
# than its copies plus the kills that hit it, none is lost, and every
# incomplete connection ended in a reset.
# KILL_SEED picks the moments (printed, so a run can be repeated).
# Uses the display in DISPLAY when it answers, else starts one on
# KILL_DISPLAY (:57 unless told). Works in the benches' own Wine prefix
# (common.sh), so the queue it leaves is never the one scripts/run.sh opens.
# Holds /tmp/morvane-9100.lock for the whole run: port 9100 is shared.
set -uo pipefail
if [ -z "${MORVANE_KILL_LOCKED:-}" ]; then
    export MORVANE_KILL_LOCKED=1
    exec flock /tmp/morvane-9100.lock bash "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
bash "$root/scripts/bootstrap.sh" >/dev/null || exit 1
bash "$root/scripts/build.sh" x86_64 >/dev/null || exit 1

rounds=${KILL_ROUNDS:-20}
seed=${KILL_SEED:-$RANDOM}
echo "kill test: $rounds kills, seed $seed"
work=$build/kill-test
rm -rf "$work"
mkdir -p "$work"
log=$work/connections.jsonl
kills=$work/kills.txt
: >"$kills"
exe=$build/app/Morvane.exe
ui=$build/bench/UiBench.exe

listener_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null
    touch "$work/stop"
    [ -n "$listener_pid" ] && wait "$listener_pid" 2>/dev/null
    wine "$ui" queue-left >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

# The display first: the prefix's services must start on it.
use_display "${KILL_DISPLAY:-:57}"
bench_prefix "$build"

# Six jobs: a first line that names the job, then bytes of its own.
jobspecs=()
preset=()
i=0
for sizecopies in 1500:2 6000:4 2000:4 8000:3 2500:3 1000:4; do
    i=$((i + 1))
    kib=${sizecopies%:*}
    copies=${sizecopies#*:}
    f=$work/job$i.prn
    python3 - "$f" "$i" "$kib" <<'PY'
import random, sys
path, k, kib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
r = random.Random(k)
with open(path, "wb") as out:
    out.write(b"MORVANE-KILL-JOB-%d\n" % k)
    out.write(r.randbytes(kib * 1024))
PY
    jobspecs+=(--job "$f:$copies")
    preset+=("job$i" "$(winepath -w "$f")" "$copies")
done

python3 "$root/bench/kill_listener.py" serve --log "$log" --stop "$work/stop" \
    --rate "${KILL_RATE:-4000000}" --lifetime 1200 &
listener_pid=$!
for _ in $(seq 1 100); do
    [ -e "$log.ready" ] && break
    sleep 0.05
done
[ -e "$log.ready" ] || { echo "the listener did not start"; exit 1; }

wine "$ui" kill-preset "${preset[@]}" || { echo "cannot preset the queue"; exit 1; }

# The moments, drawn from the seed: seconds after Start (the first copy of
# a job waits up to 2 s for the printer's answer to its state question).
mapfile -t delays < <(python3 -c "
import random
r = random.Random($seed)
for _ in range($rounds): print('%.3f' % r.uniform(0.3, 6.0))")

start_app() {
    wine "$exe" >/dev/null 2>&1 &
    app_pid=$!
    echo "start $(date +%s.%N)" >>"$kills"
    wine "$ui" press-start 60 >/dev/null 2>&1
}

done_kills=0
left=
for d in "${delays[@]}"; do
    left=$(wine "$ui" queue-left 2>/dev/null)
    [ -z "$left" ] && break
    start_app || { echo "could not press Start"; exit 1; }
    sleep "$d"
    echo "kill $(date +%s.%N)" >>"$kills"
    kill -9 "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=
    done_kills=$((done_kills + 1))
    echo "kill $done_kills after ${d}s; queue then: $(wine "$ui" queue-left 2>/dev/null | tr '\n' ' ')"
done

# The last run goes to the end of the queue and closes in order.
left=$(wine "$ui" queue-left 2>/dev/null)
if [ -n "$left" ]; then
    start_app || { echo "could not press Start"; exit 1; }
    wine "$ui" wait-empty 300 || echo "the queue did not empty"
    wait "$app_pid" 2>/dev/null
    app_pid=
fi
left=$(wine "$ui" queue-left 2>/dev/null)
# The listener logs the connections it is still reading, then ends.
touch "$work/stop"
wait "$listener_pid" 2>/dev/null
listener_pid=

echo "queue left in the store: ${left:-none}"
python3 "$root/bench/kill_listener.py" report --log "$log" --kills "$kills" "${jobspecs[@]}"
rc=$?
[ -n "$left" ] && rc=1
exit $rc
