#!/usr/bin/env bash
# Takes the README's pictures of the program again, from the real program
# under Wine on a virtual display:
#   docs/main-window.png          four queued jobs, the second one selected
#   docs/setup-dialog.png         the setup dialog with the print spooler chosen
#   docs/waiting-for-printer.png  a job waiting: the network printer (a test
#                                 SNMP agent on udp 127.0.0.1:161) reports
#                                 paper out
#   docs/notification-area.png    Wine's desktop with the icon and its
#                                 balloon: retry on, and nothing listening
#                                 on the printer's port
# (docs/job-history.png is not among them.)
# Builds the 64-bit program when needed and works in a Wine prefix of its own
# (build/x86_64/shots-wineprefix): the queue and settings it seeds never
# reach the prefix scripts/run.sh opens. It starts the print scheduler's raw
# queue, a display, the SNMP agent and a listener on 127.0.0.1:9100 that
# never reads, and stops all of them on the way out, however it ends.
# MORVANE_CUPS_QUEUE (the printer's name in the pictures), MORVANE_RAW_PORT
# and MORVANE_DISPLAY choose other names than the defaults below.
# Holds /tmp/morvane-9100.lock for the whole run: ports 9100 and 161 are
# shared with the tests.
set -euo pipefail
if [ -z "${MORVANE_SHOTS_LOCKED:-}" ]; then
    export MORVANE_SHOTS_LOCKED=1
    exec flock /tmp/morvane-9100.lock bash "$0" "$@"
fi

# bench/common.sh gives root, build, bench_prefix (a fresh wineserver for
# the prefix) and the Wine settings; the prefix here is another one.
# shellcheck source=bench/common.sh
source "$(cd "$(dirname "$0")/.." && pwd)/bench/common.sh"
export WINEPREFIX=$build/shots-wineprefix
export MORVANE_CUPS_QUEUE=${MORVANE_CUPS_QUEUE:-label_printer}
export MORVANE_RAW_PORT=${MORVANE_RAW_PORT:-19330}
export MORVANE_DISPLAY=${MORVANE_DISPLAY:-:94}
export MORVANE_HISTORY=off
timeout=60

bash "$root/scripts/bootstrap.sh" >/dev/null
bash "$root/scripts/build.sh" x86_64 >/dev/null
exe=$build/app/Morvane.exe
uibench=$build/bench/UiBench.exe

work=$build/shots
state=$work/services
rm -rf "$work"
mkdir -p "$state"
app=
listener=

teardown() {
    set +e
    [ -n "$app" ] && kill "$app" 2>/dev/null
    wineserver -k >/dev/null 2>&1
    [ -n "$listener" ] && kill "$listener" 2>/dev/null
    bash "$root/scripts/snmp_agent.sh" stop "$work/snmp" 161 >/dev/null 2>&1
    bash "$root/scripts/services.sh" stop "$state" >/dev/null 2>&1
}
trap teardown EXIT
trap 'exit 130' INT TERM HUP

# Printing goes nowhere near a real printer: the raw queue points at the
# loopback listener that services.sh starts. The display must be a virtual
# one of our own, whatever DISPLAY says, so no other window is in the way.
(
    unset DISPLAY
    bash "$root/scripts/services.sh" start "$state"
) >"$work/services.log" 2>&1 || {
    cat "$work/services.log"
    exit 1
}
# shellcheck disable=SC1091
source "$state/env"
bench_prefix "$build"

# The job files, under C:\spool in the prefix.
spool=$WINEPREFIX/drive_c/spool
mkdir -p "$spool/labels" "$spool/reports" "$spool/forms"
head -c 4096 /dev/zero >"$spool/invoice-0412.prn"
head -c 4096 /dev/zero >"$spool/labels/shipping-labels.zpl"
head -c 4096 /dev/zero >"$spool/reports/report.ps"
head -c 4096 /dev/zero >"$spool/forms/form-b.pcl"
head -c 4096 /dev/zero >"$spool/receipt-0417.prn"

source "$(dirname "$0")/x_window.sh"

# shoot TITLE FILE: the window named TITLE, as it is on the display, into
# docs/FILE.
shoot() {
    local id
    id=$(window_id "$1")
    import -window "$id" "$work/$2"
    # A palette and no time stamps: the picture changes only when what it
    # shows does.
    convert "$work/$2" -strip -colors 256 "PNG8:$root/docs/$2"
    echo "docs/$2: $(identify -format '%wx%h' "$root/docs/$2")"
}

start_app() {
    wine "$exe" >"$work/app.log" 2>&1 &
    app=$!
}

# close_app: the program's Close, and its end awaited.
close_app() {
    wine "$uibench" shot-close "$timeout" >>"$work/ui.log" 2>&1
    wait "$app" 2>/dev/null || true
    app=
}

ui() { wine "$uibench" "$@" >>"$work/ui.log" 2>&1 || { cat "$work/ui.log" >&2; return 1; }; }

# 1 and 2: the print spooler with four jobs.
ui shot-preset "$MORVANE_CUPS_QUEUE" \
    invoice-0412.prn 'C:\spool\invoice-0412.prn' 2 \
    shipping-labels.zpl 'C:\spool\labels\shipping-labels.zpl' 25 \
    report.ps 'C:\spool\reports\report.ps' 1 \
    form-b.pcl 'C:\spool\forms\form-b.pcl' 3
start_app
ui shot-select 1 "$timeout"
shoot "Tolvar Morvane - $MORVANE_CUPS_QUEUE" main-window.png
ui shot-setup "$timeout"
shoot setup setup-dialog.png
close_app

# 3: the network printer 127.0.0.1 out of paper. Its agent answers on 161,
# where the program asks; the listener on 9100 takes connections and never
# reads, so no copy could finish even if one were sent.
mkdir -p "$work/snmp"
echo noPaper >"$work/snmp/printer_state"
bash "$root/scripts/snmp_agent.sh" start "$work/snmp" 161 >"$work/snmp.log" 2>&1 || {
    cat "$work/snmp.log"
    exit 1
}
if [ "$(cat "$work/snmp/port")" != 161 ]; then
    echo "screenshots: udp 127.0.0.1:161 is taken; the program would not see the agent" >&2
    exit 1
fi
python3 - "$work/listener.ready" >"$work/listener.log" 2>&1 <<'PY' &
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 9100))
s.listen(8)
open(sys.argv[1], "w").close()
held = []
while True:
    held.append(s.accept()[0])
PY
listener=$!
for _ in $(seq 1 50); do
    [ -f "$work/listener.ready" ] && break
    kill -0 "$listener" 2>/dev/null || break
    sleep 0.1
done
[ -f "$work/listener.ready" ] || {
    echo "screenshots: cannot listen on 127.0.0.1:9100" >&2
    cat "$work/listener.log" >&2
    exit 1
}

ui shot-preset ip \
    shipping-labels.zpl 'C:\spool\labels\shipping-labels.zpl' 3 \
    receipt-0417.prn 'C:\spool\receipt-0417.prn' 1
start_app
ui press-start "$timeout"
# The first row's status column shows the wait once the printer was asked:
# wait until that part of the window holds dark text and stays the same.
id=$(window_id "Tolvar Morvane - 127.0.0.1")
last=
seen=
for _ in $(seq 1 $((timeout * 4))); do
    import -window "$id" "$work/poll.png"
    now=$(convert "$work/poll.png" -crop 140x14+375+36 +repage -threshold 50% -format '%[fx:mean]' info:)
    if [ "$now" = "$last" ] && awk -v m="$now" 'BEGIN { exit !(m < 0.97) }'; then
        seen=1
        break
    fi
    last=$now
    sleep 0.25
done
[ -n "$seen" ] || { echo "screenshots: the job's row never showed the wait" >&2; exit 1; }
shoot "Tolvar Morvane - 127.0.0.1" waiting-for-printer.png
close_app

# 4: the notification area of Wine's desktop. Retry is on, the network
# printer is gone (nothing on 9100, no agent on 161): the first failure
# shows the balloon, which is white where the desktop is blue.
kill "$listener" 2>/dev/null || true
wait "$listener" 2>/dev/null || true
listener=
bash "$root/scripts/snmp_agent.sh" stop "$work/snmp" 161 >/dev/null 2>&1 || true
for hive in HKLM HKCU; do
    wine reg add "$hive\\SOFTWARE\\Tolvar\\Tolvar Morvane\\OnFailure" /v Retry /t REG_DWORD /d 1 \
        /f /reg:32 </dev/null >>"$work/ui.log" 2>&1
done
ui shot-preset ip receipt-0417.prn 'C:\spool\receipt-0417.prn' 2
wine explorer /desktop=morvane,800x600 "$exe" /start >"$work/app.log" 2>&1 &
app=$!
id=$(window_id "morvane - Wine desktop")
seen=
for _ in $(seq 1 $((timeout * 4))); do
    import -window "$id" "$work/poll.png"
    now=$(convert "$work/poll.png" -gravity SouthEast -crop 340x90+0+20 +repage -format '%[fx:mean]' info:)
    if awk -v m="$now" 'BEGIN { exit !(m > 0.55) }'; then
        seen=1
        break
    fi
    sleep 0.25
done
[ -n "$seen" ] || { echo "screenshots: no balloon came" >&2; exit 1; }
shoot "morvane - Wine desktop" notification-area.png
wine "$uibench" shot-close "$timeout" >>"$work/ui.log" 2>&1
wineserver -k >/dev/null 2>&1
wait "$app" 2>/dev/null || true
app=
