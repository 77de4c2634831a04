#!/usr/bin/env bash
# Sets up everything and runs the tests: installs what is missing, builds
# both targets (only the 64-bit one can run here), starts the print
# scheduler, the loopback printer and a display, runs ctest under Wine, and
# stops what it started. ctest's summary is the last thing printed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/bootstrap.sh || exit 1
mkdir -p build
bash scripts/build.sh x86_64 || exit 1
bash scripts/build.sh i686 || exit 1

# shellcheck source=scripts/session.sh
source "$root/scripts/session.sh"
services_up

# A warm wineserver makes each test start in a fraction of a second.
WINEPREFIX=$root/build/x86_64/wineprefix wineserver -p

cd build/x86_64
# In the background and waited for, so a signal reaches the traps at once.
ctest --output-on-failure ${MORVANE_CTEST_ARGS:-} >ctest.out 2>&1 &
wait $!
rc=$?
services_down
trap - EXIT
cat ctest.out
exit "$rc"
