#!/usr/bin/env bash
# Pictures of the program at 96 and 144 DPI (100 % and 150 % scaling), from
# the real program under Wine on a virtual display of its own: for each DPI
# the main window with four queued jobs, the second one selected, the setup
# dialog and the job history, into OUT (build/x86_64/dpi-shots unless
# given) as main-window-DPI.png, setup-dialog-DPI.png, job-history-DPI.png.
# Wine takes the DPI from LogPixels in the user's desktop settings when a
# program starts; this works in a Wine prefix of its own
# (build/x86_64/dpi-wineprefix), whose setting it puts back to 96 at the end.
# MORVANE_DISPLAY chooses another display than :71.
# Usage: dpi_screenshots.sh [OUT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/x86_64
out=$(realpath -m "${1:-$build/dpi-shots}")
export WINEPREFIX=$build/dpi-wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=${MORVANE_DISPLAY:-:71}
timeout=60
exe=$build/app/Morvane.exe
uibench=$build/bench/UiBench.exe
work=$build/dpi-shots-work
rm -rf "$work"
mkdir -p "$work" "$out"
xvfb=
app=

# set_dpi DPI: the setting, and a fresh server, so that no process of the
# prefix keeps the DPI it started with.
set_dpi() {
    bash "$root/scripts/wineprefix.sh" "$WINEPREFIX" "$build" >/dev/null
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        </dev/null >>"$work/ui.log" 2>&1
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w || true
    bash "$root/scripts/wineprefix.sh" "$WINEPREFIX" "$build" >/dev/null
}

teardown() {
    set +e
    [ -n "$app" ] && kill "$app" 2>/dev/null
    set_dpi 96
    wineserver -k >/dev/null 2>&1
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
}
trap teardown EXIT
trap 'exit 130' INT TERM HUP

Xvfb "$DISPLAY" -screen 0 1600x1200x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 1 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

spool=$WINEPREFIX/drive_c/spool

source "$(dirname "$0")/x_window.sh"

# shoot TITLE FILE: the window named TITLE into OUT/FILE, once two looks
# in a row agree (painted whole).
shoot() {
    local id last='' now
    id=$(window_id "$1")
    for _ in $(seq 1 40); do
        import -window "$id" "$work/$2"
        now=$(md5sum <"$work/$2")
        [ "$now" = "$last" ] && break
        last=$now
        sleep 0.25
    done
    convert "$work/$2" -strip -colors 256 "PNG8:$out/$2"
    echo "$out/$2: $(identify -format '%wx%h' "$out/$2")"
}

ui() { wine "$uibench" "$@" >>"$work/ui.log" 2>&1 || { cat "$work/ui.log" >&2; return 1; }; }

for dpi in 96 144; do
    set_dpi "$dpi"
    mkdir -p "$spool/labels" "$spool/reports" "$spool/forms"
    # The queue and the output, as a previous run would have left them.
    ui shot-preset label_printer \
        invoice-0412.prn 'C:\spool\invoice-0412.prn' 2 \
        shipping-labels.zpl 'C:\spool\labels\shipping-labels.zpl' 25 \
        report.ps 'C:\spool\reports\report.ps' 1 \
        form-b.pcl 'C:\spool\forms\form-b.pcl' 3
    wine "$exe" >"$work/app.log" 2>&1 &
    app=$!
    ui shot-select 1 "$timeout"
    shoot "Tolvar Morvane - label_printer" "main-window-$dpi.png"
    ui shot-setup "$timeout"
    shoot setup "setup-dialog-$dpi.png"
    # Setup's Cancel, then the program's Close (which forgets the queue).
    ui shot-close "$timeout"
    wait "$app" 2>/dev/null || true
    # The history, modal over a window of its own start; the program ends
    # with the prefix's server.
    wine "$exe" >"$work/app.log" 2>&1 &
    app=$!
    ui sys-command 2016
    shoot "Job History" "job-history-$dpi.png"
    wineserver -k >/dev/null 2>&1 || true
    wait "$app" 2>/dev/null || true
    app=
done
