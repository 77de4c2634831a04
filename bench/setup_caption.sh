#!/usr/bin/env bash
# How long after OK in the setup dialog the main window's caption shows the
# new output, seen from inside (the window's text, by UiBench) and from the
# X server (WM_NAME, polled with xprop as a user's desktop would see it).
# BENCH_ROUNDS rounds (10 unless told) switch between the network printer
# and the null printer. Prints one line a round and the medians, and how long
# the dialog took to be shown after Setup.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bench_setup
work=$build/setup-caption
rm -rf "$work"
mkdir -p "$work"

wine "$build/app/Morvane.exe" >/dev/null 2>&1 &
app=$!
win=
for _ in $(seq 1 600); do
    win=$(xwininfo -root -tree 2>/dev/null | awk '/"Tolvar Morvane/ {print $1; exit}')
    [ -n "$win" ] && break
    sleep 0.1
done
if [ -z "$win" ]; then
    echo "the program's window did not appear" >&2
    kill "$app" 2>/dev/null
    exit 1
fi

# The X server's caption, a line each time it changes: UNIX_MS TEXT.
touch "$work/polling"
(
    last=
    while [ -f "$work/polling" ]; do
        name=$(xprop -id "$win" WM_NAME 2>/dev/null | sed -n 's/^WM_NAME([^)]*) = "\(.*\)"$/\1/p')
        if [ -n "$name" ] && [ "$name" != "$last" ]; then
            echo "$(date +%s%3N) $name"
            last=$name
        fi
    done
) >"$work/x.txt" &
poller=$!

wine "$build/bench/UiBench.exe" setup-caption "${BENCH_ROUNDS:-10}" >"$work/ok.txt" 2>&1
rc=$?
rm -f "$work/polling"
wait "$poller"
wait "$app" 2>/dev/null
[ $rc -eq 0 ] || { cat "$work/ok.txt"; exit 1; }

python3 - "$work/ok.txt" "$work/x.txt" <<'PY'
import statistics, sys
oks = [l.split(None, 4) for l in open(sys.argv[1]) if l.startswith("ok ")]
xs = []
for l in open(sys.argv[2]):
    t, _, name = l.rstrip("\n").partition(" ")
    xs.append((int(t), name))
inside, outside, opening = [], [], []
for i, (_, t_ok, ms, open_ms, text) in enumerate(oks):
    t_ok = int(t_ok)
    seen = next((t for t, name in xs if t >= t_ok and name == text.strip()), None)
    x_ms = None if seen is None else seen - t_ok
    print(f"round {i + 1}: dialog shown after {open_ms} ms; '{text.strip()}' window {ms} ms, "
          f"X server {'not seen' if x_ms is None else f'{x_ms} ms'}")
    opening.append(float(open_ms))
    if ms != "-":
        inside.append(float(ms))
    if x_ms is not None:
        outside.append(x_ms)
if inside:
    print(f"median: window {statistics.median(inside):.1f} ms, "
          f"X server {statistics.median(outside) if outside else float('nan'):.0f} ms "
          f"(the X figure includes up to one xprop poll, a few ms); "
          f"dialog shown after {statistics.median(opening):.0f} ms, the longest {max(opening):.0f} ms")
PY
