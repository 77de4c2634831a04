#!/usr/bin/env bash
# Throughput of the spooler path: one file (256 MiB unless BENCH_MB says
# otherwise) sent by the program's worker through Wine's spooler to a CUPS
# raw queue, against the same file sent with `lp -o raw` to the same queue.
# Both are timed from the start to the last byte stored by the loopback
# printer, and the bytes are compared.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bench_setup

mb=${BENCH_MB:-256}
data=$(mktemp /tmp/morvane-bench-XXXX.prn)
head -c $((mb * 1024 * 1024)) /dev/urandom >"$data"
bytes=$(stat -c %s "$data")
sum=$(sha256sum <"$data" | cut -d' ' -f1)

check() {
    local got
    got=$(sha256sum <"$(find "$MORVANE_CAPTURE_DIR" -name 'job-*.bin' | head -n1)" | cut -d' ' -f1)
    [ "$got" = "$sum" ] || { echo "bytes differ after $1" >&2; exit 1; }
    rm -f "$MORVANE_CAPTURE_DIR"/*
}

t0=$(now)
lp -d "$MORVANE_CUPS_QUEUE" -o raw "$data" >/dev/null
wait_capture 1 "$bytes" || exit 1
t_ref=$(echo "$(now) - $t0" | bc -l)
check "lp -o raw"

t0=$(now)
wine "$build/bench/SpoolBench.exe" spool "$MORVANE_CUPS_QUEUE" "$(winepath -w "$data")" 1 \
    >/tmp/morvane-bench.out 2>&1 || { cat /tmp/morvane-bench.out; exit 1; }
wait_capture 1 "$bytes" || exit 1
t_prog=$(echo "$(now) - $t0" | bc -l)
check "the program"
rm -f "$data"

printf 'file: %d MiB\n' "$mb"
printf 'lp -o raw:      %6.2f s  %7.1f MiB/s\n' "$t_ref" "$(echo "$mb / $t_ref" | bc -l)"
printf 'Morvane worker: %6.2f s  %7.1f MiB/s\n' "$t_prog" "$(echo "$mb / $t_prog" | bc -l)"
printf 'throughput ratio (Morvane / lp): %.2f\n' "$(echo "$t_ref / $t_prog" | bc -l)"
