# Shared by the bench scripts: builds the 64-bit tools, starts the services
# on ports of their own, and waits for captured jobs.
# The benches work in a Wine prefix of their own (bench_prefix below), never
# in the one scripts/run.sh and the tests use: a bench that stops early
# leaves its queue and settings there, and the program must not open them
# at its next ordinary start.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/x86_64
export WINEPREFIX=$build/bench-wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# bench_prefix BUILD: the benches' prefix (WINEPREFIX) for the build in BUILD,
# made when missing, with its wineserver started afresh from this shell.
# Call it once DISPLAY is final: the prefix's desktop process keeps the
# display it was started with for as long as its wineserver runs, so one
# started without a display leaves every later window invisible.
bench_prefix() {
    wineserver -k >/dev/null 2>&1 || true
    bash "$root/scripts/wineprefix.sh" "$WINEPREFIX" "$1" >/dev/null
}

# run_tool OUT ARGS...: builds, runs SpoolBench with ARGS in the build's
# prefix, stores its output in OUT, prints it; returns the tool's status.
run_tool() {
    local out=$1
    shift
    bash "$root/scripts/bootstrap.sh" || return 1
    bash "$root/scripts/build.sh" x86_64 >/dev/null || return 1
    bench_prefix "$build"
    wine "$build/bench/SpoolBench.exe" "$@" >"$out" 2>&1
    local rc=$?
    wineserver -k >/dev/null 2>&1 || true
    cat "$out"
    return $rc
}

bench_setup() {
    bash "$root/scripts/bootstrap.sh" || exit 1
    bash "$root/scripts/build.sh" x86_64 >/dev/null || exit 1
    state=$root/build/bench-services
    mkdir -p "$state"
    export MORVANE_CUPS_QUEUE=morvane_bench MORVANE_RAW_PORT=${BENCH_PORT:-19300} MORVANE_DISPLAY=:96
    bash "$root/scripts/services.sh" start "$state" >"$state/start.log" 2>&1 || { cat "$state/start.log"; exit 1; }
    # shellcheck disable=SC1091
    source "$state/env"
    bench_prefix "$build"
    trap bench_teardown EXIT
}

bench_teardown() {
    wineserver -k >/dev/null 2>&1 || true
    bash "$root/scripts/services.sh" stop "$state" >/dev/null 2>&1 || true
    rm -f "$state"/capture/* 2>/dev/null || true
}

# wait_capture N BYTES: until N whole jobs of BYTES each are in the capture dir.
wait_capture() {
    local n=$1 bytes=$2
    for _ in $(seq 1 6000); do
        local count
        count=$(find "$MORVANE_CAPTURE_DIR" -name 'job-*.bin' -size "${bytes}c" | wc -l)
        [ "$count" -ge "$n" ] && return 0
        sleep 0.05
    done
    echo "timed out waiting for $n jobs of $bytes bytes" >&2
    return 1
}

now() { date +%s.%N; }

# use_display DEFAULT: keeps DISPLAY when it answers, else starts a virtual
# display on DEFAULT; xvfb_pid is then its process (empty when none was
# started), for the caller's clean-up to end.
xvfb_pid=
use_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    export DISPLAY=$1
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
}
