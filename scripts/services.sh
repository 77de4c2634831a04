#!/usr/bin/env bash
# Starts and stops what the tests and the program talk to:
#   - cupsd with a raw queue whose socket backend points at a loopback listener
#     that stores every job it receives (scripts/raw_listener.py);
#   - an Xvfb display for windows.
# Usage: services.sh start|stop STATE_DIR
# start writes STATE_DIR/env with the names the tests read; stop ends only
# what start started.
set -euo pipefail
cmd=${1:?start or stop}
state=${2:?state dir}
here=$(cd "$(dirname "$0")" && pwd)

queue=${MORVANE_CUPS_QUEUE:-morvane_raw}
port=${MORVANE_RAW_PORT:-19100}
display=${MORVANE_DISPLAY:-:97}

start() {
    mkdir -p "$state/capture"
    rm -f "$state/capture"/* "$state/capture/.ready" "$state/started" 2>/dev/null || true
    touch "$state/started"

    if ! lpstat -r 2>/dev/null | grep -q "is running"; then
        cupsd
        echo cupsd >>"$state/started"
        for _ in $(seq 1 50); do
            lpstat -r 2>/dev/null | grep -q "is running" && break
            sleep 0.1
        done
        # It daemonises: its process id is the one it writes, or the newest.
        { cat /run/cups/cupsd.pid 2>/dev/null || pgrep -n -x cupsd; } >"$state/cupsd.pid" || true
    fi
    lpadmin -p "$queue" -E -v "socket://127.0.0.1:$port" -m raw >/dev/null 2>&1
    echo "queue $queue" >>"$state/started"
    # A second queue that turns every job away, for the failure tests.
    lpadmin -p "${queue}_reject" -E -v "socket://127.0.0.1:$port" -m raw >/dev/null 2>&1
    cupsreject "${queue}_reject"
    echo "queue ${queue}_reject" >>"$state/started"
    cupsenable "$queue" && cupsaccept "$queue"

    python3 "$here/raw_listener.py" --port "$port" --dir "$state/capture" 2>"$state/listener.log" &
    echo $! >"$state/listener.pid"
    for _ in $(seq 1 50); do
        [ -f "$state/capture/.ready" ] && break
        kill -0 "$(cat "$state/listener.pid")" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -f "$state/capture/.ready" ]; then
        echo "services: the loopback printer could not listen on 127.0.0.1:$port (in use?)" >&2
        cat "$state/listener.log" >&2
        exit 1
    fi

    # display.how says which display the programs get: the one given in
    # DISPLAY, a virtual one already running on $display, or one started
    # here (and stopped by stop).
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        echo "export DISPLAY=$DISPLAY" >"$state/display.env"
        echo given >"$state/display.how"
    elif DISPLAY=$display xdpyinfo >/dev/null 2>&1; then
        echo "export DISPLAY=$display" >"$state/display.env"
        echo reused >"$state/display.how"
    else
        Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
        echo $! >"$state/xvfb.pid"
        echo "export DISPLAY=$display" >"$state/display.env"
        echo started >"$state/display.how"
        for _ in $(seq 1 50); do
            DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
            sleep 0.1
        done
    fi

    cat >"$state/env" <<EOT
export MORVANE_CUPS_QUEUE=$queue
export MORVANE_CUPS_REJECT_QUEUE=${queue}_reject
export MORVANE_CAPTURE_DIR=$state/capture
export MORVANE_RAW_PORT=$port
EOT
    cat "$state/display.env" >>"$state/env"
}

stop() {
    for f in listener xvfb; do
        if [ -f "$state/$f.pid" ]; then
            kill "$(cat "$state/$f.pid")" 2>/dev/null || true
            rm -f "$state/$f.pid"
        fi
    done
    if [ -f "$state/started" ]; then
        for q in $(sed -n 's/^queue //p' "$state/started"); do
            lpadmin -x "$q" 2>/dev/null || true
        done
        # Only the scheduler this folder started, and only while it is one.
        if grep -qx cupsd "$state/started" && [ -s "$state/cupsd.pid" ]; then
            pid=$(cat "$state/cupsd.pid")
            if [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = cupsd ]; then
                kill "$pid" 2>/dev/null || true
            fi
            rm -f "$state/cupsd.pid"
        fi
    fi
    rm -f "$state/started"
}

"$cmd"
