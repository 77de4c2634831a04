#!/usr/bin/env bash
# A test printer's SNMP agent on loopback: net-snmp's snmpd answering the
# printer's state objects and its page counter from STATE_DIR/printer_state (rewritten by the
# tests at will; see snmp_printer_state.py for its words).
# Usage: snmp_agent.sh start|stop STATE_DIR PORT
#   start: writes the agent's configuration into STATE_DIR, starts it on
#          udp:127.0.0.1:PORT, or on one of the next 19 ports when PORT is
#          taken (another build's tests on this machine), writes the port
#          it answers on to STATE_DIR/port and waits (bounded) until it
#          answers; the state starts as "idle" unless STATE_DIR/printer_state
#          exists.
#   stop:  stops the agent that start left in STATE_DIR, waits for its end.
set -euo pipefail
action=${1:?start or stop}
dir=${2:?state folder}
port=${3:?port}
root=$(cd "$(dirname "$0")/.." && pwd)
pidfile="$dir/snmpd.pid"
# Asks the agent on port $1 once; 0 when it answered.
probe() {
    snmpget -v2c -c public -r0 -t1 -On "127.0.0.1:$1" .1.3.6.1.2.1.25.3.5.1.1.1 \
        >/dev/null 2>&1
}

stop_agent() {
    [ -f "$pidfile" ] || return 0
    local pid
    pid=$(cat "$pidfile")
    rm -f "$pidfile"
    # Only the agent this folder started, and only while it is one.
    if [ -n "$pid" ] && [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = snmpd ]; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || return 0
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
}

case "$action" in
start)
    command -v snmpd >/dev/null || { echo "snmp_agent: snmpd missing (scripts/bootstrap.sh)" >&2; exit 1; }
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    pidfile="$dir/snmpd.pid"
    stop_agent
    rm -f "$dir/port"
    [ -f "$dir/printer_state" ] || echo idle >"$dir/printer_state"
    for candidate in $(seq "$port" $((port + 19))); do
        # Another agent already answering there (its bind may not exclude ours).
        if probe "$candidate"; then
            continue
        fi
        cat >"$dir/snmpd.conf" <<CONF
agentAddress udp:127.0.0.1:$candidate
rocommunity public 127.0.0.1
pass_persist .1.3.6.1.2.1.25.3 /usr/bin/env python3 $root/scripts/snmp_printer_state.py $dir/printer_state .1.3.6.1.2.1.25.3
pass_persist .1.3.6.1.2.1.43 /usr/bin/env python3 $root/scripts/snmp_printer_state.py $dir/printer_state .1.3.6.1.2.1.43
CONF
        # -I leaves out the built-in host resources modules, which would
        # answer the printer's objects first; -C reads no other configuration.
        SNMP_PERSISTENT_DIR="$dir/persist" MIBS="" \
            setsid snmpd -f -Lo -C -c "$dir/snmpd.conf" \
            -I -hr_device,hr_print,hr_disk,hr_network,hr_proc,hr_partition,hr_filesys,hr_swinst,hr_swrun,hr_storage,hr_system \
            -p "$pidfile" </dev/null >"$dir/snmpd.log" 2>&1 &
        agent=$!
        for _ in $(seq 100); do
            if probe "$candidate"; then
                # snmpd writes the pid file itself; keep ours in case it has not.
                [ -s "$pidfile" ] || echo "$agent" >"$pidfile"
                echo "$candidate" >"$dir/port"
                echo "snmp_agent: answering on udp 127.0.0.1:$candidate (pid $(cat "$pidfile"))"
                exit 0
            fi
            kill -0 "$agent" 2>/dev/null || break
            sleep 0.1
        done
        kill "$agent" 2>/dev/null || true
        wait "$agent" 2>/dev/null || true
        rm -f "$pidfile"
        # Only a taken port is worth another try.
        grep -q "Error opening specified endpoint" "$dir/snmpd.log" || break
    done
    echo "snmp_agent: the agent did not answer; its log:" >&2
    cat "$dir/snmpd.log" >&2 || true
    exit 1
    ;;
stop)
    stop_agent
    echo "snmp_agent: stopped"
    ;;
*)
    echo "usage: snmp_agent.sh start|stop STATE_DIR PORT" >&2
    exit 2
    ;;
esac
