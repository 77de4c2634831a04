#!/usr/bin/env bash
# Throughput of a job (256 MiB unless MIB says otherwise) through the IP pipe
# printer and the registered pipe component to a loopback listener on
# 127.0.0.1:9100, as a ratio against a plain socket sender of the same file
# to the same listener, and the memory growth while sending (must stay
# flat). Uses port 9100: do not run it while the pipe tests run.
# Usage: bench/pipe_throughput.sh [BUILD_DIR]     (x86_64 build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/x86_64}
bash "$root/scripts/build.sh" x86_64 "$build" >/dev/null
# The benches' own prefix, as in common.sh.
export WINEPREFIX="$build/bench-wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
sh "$root/scripts/wineprefix.sh" "$WINEPREFIX" "$build" >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Wine's output goes to a file, never into a pipe.
if ! wine "$build/bench/pipe_bench.exe" "${MIB:-256}" "${ROUNDS:-3}" >"$out" 2>&1; then
    cat "$out"
    exit 1
fi
cat "$out"
