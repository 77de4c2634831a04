#!/usr/bin/env bash
# Configures and builds one target. Usage: build.sh x86_64|i686 [BUILD_DIR]
set -euo pipefail
arch=${1:?x86_64 or i686}
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${2:-$root/build/$arch}
mkdir -p "$(dirname "$dir")"
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" \
        -DCMAKE_BUILD_TYPE="${MORVANE_BUILD_TYPE:-RelWithDebInfo}" >"$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log"; exit 1; }
fi
cmake --build "$dir" -- -j"$(nproc)" >"$dir.build.log" 2>&1 || { tail -n 80 "$dir.build.log"; exit 1; }
grep -E "warning:" "$dir.build.log" | sort -u | head -n 40 || true
echo "built $arch in $dir"
