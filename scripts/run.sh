#!/usr/bin/env bash
# Sets up everything and runs Morvane under Wine: installs what is missing,
# builds the 64-bit program, starts the print scheduler with its raw queue
# (a loopback printer that stores what it gets under build/services/capture)
# and a display when there is none, then runs the program until it is closed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/bootstrap.sh || exit 1
mkdir -p build
bash scripts/build.sh x86_64 || exit 1

exe=$root/build/x86_64/app/Morvane.exe
if [ ! -f "$exe" ]; then
    echo "The program itself is not built yet: nothing runs."
    exit 0
fi

# shellcheck source=scripts/session.sh
source "$root/scripts/session.sh"
services_up
case "$(cat "$state/display.how" 2>/dev/null)" in
started) echo "No usable display was set: started a virtual X display (Xvfb) on $DISPLAY." ;;
reused) echo "No usable display was set: using the virtual X display already running on $DISPLAY." ;;
esac
if [ "$(cat "$state/display.how" 2>/dev/null)" != given ]; then
    echo "The window is there; to see it: DISPLAY=$DISPLAY import -window root shot.png"
fi
echo "Morvane runs on DISPLAY=$DISPLAY; the printer queue '$MORVANE_CUPS_QUEUE' stores jobs in $MORVANE_CAPTURE_DIR"
# In the background and waited for, so a signal reaches the traps at once.
WINEPREFIX=$root/build/x86_64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wine "$exe" &
wait $!
