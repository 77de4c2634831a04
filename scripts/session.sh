# shellcheck shell=bash
# Sourced by run.sh and test.sh, after they set root (the checkout) and cd
# there.
# services_up starts the print scheduler with its raw queue, the loopback
# printer and a display (scripts/services.sh), brings the 64-bit build's
# Wine prefix up to date, and arranges for services_down to stop what was
# started when the calling script exits, however it exits.
# shellcheck disable=SC2154 # root is the sourcing script's
state=$root/build/services

services_down() {
    WINEPREFIX=$root/build/x86_64/wineprefix wineserver -k >/dev/null 2>&1 || true
    bash "$root/scripts/services.sh" stop "$state" >/dev/null 2>&1 || true
}

services_up() {
    mkdir -p "$state"
    trap services_down EXIT
    # Stopped from outside (Ctrl-C, a time-out): still stop what we started.
    trap 'exit 130' INT TERM HUP
    bash "$root/scripts/services.sh" start "$state" >"$state/start.log" 2>&1 \
        || { cat "$state/start.log"; exit 1; }
    # shellcheck disable=SC1091
    source "$state/env"
    bash "$root/scripts/wineprefix.sh" "$root/build/x86_64/wineprefix" "$root/build/x86_64" >/dev/null
}
