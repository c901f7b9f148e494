#!/usr/bin/env bash
# Speed-up of compress_MT and uncompress_MT over one zlib stream, Linux build and Windows x64
# build (under Wine) side by side in one run, alternating so that both see the same machine
# load. Wine is not a performance platform and the Windows build expands with zlib alone
# (no libdeflate): the Windows figures are information, not a target.
# Usage: scripts/bench-windows.sh [rounds] [repetitions per measurement]
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
ROUNDS=${1:-3}
REPS=${2:-9}
OUT=${VID_WINDOWS_BUILD:-build/windows}
export WINEDEBUG=${WINEDEBUG:--all}

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVID_BUILD_BENCH=ON -DVID_BUILD_TESTS=OFF \
    > /dev/null
cmake --build build/bench -j "$JOBS" --target codec_speedup > /dev/null
if [ ! -f "$OUT/x64/CMakeCache.txt" ]; then
    echo "run scripts/test-windows.sh first (it configures $OUT/x64)" >&2
    exit 1
fi
cmake --build "$OUT/x64" -j "$JOBS" --target codec_speedup > /dev/null

trap 'wineserver -k 2>/dev/null || true' EXIT
wineserver -p 2>/dev/null || true
wine "$OUT/x64/bin/codec_speedup.exe" 1 > /dev/null 2>&1 || true
echo "# $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 1; r <= ROUNDS; r++)); do
    build/bench/bin/codec_speedup "$REPS"
    wine "$OUT/x64/bin/codec_speedup.exe" "$REPS"
done
