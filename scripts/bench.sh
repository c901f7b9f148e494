#!/usr/bin/env bash
# Runs the benchmarks of a build made with VID_BUILD_BENCH=ON (`make bench` builds it).
# Usage: scripts/bench.sh [build directory, default build/bench]
# The figures mean something only on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/bench}
[ -x "$dir/bin/bench_codec" ] || { echo "bench: $dir/bin/bench_codec is missing; run 'make bench'" >&2; exit 1; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
"$dir/bin/bench_codec"
# Write speed and file size by compression effort, pigz -1/-9 beside them.
"$dir/bin/bench_effort"
# What crash-safe writing costs next to a plain write loop.
"$dir/bin/bench_writer"
if [ -x "$dir/bin/bench_clipCrop" ]; then python3 bench/crop_overhead.py "$dir/bin/bench_clipCrop"; fi

# VID container: VidHeader reads next to the sum of their parts.
if [ -x "$dir/bin/bench_container" ]; then
    python3 bench/container_overhead.py "$dir/bin/bench_container"
fi

# Demosaic: bayer_interpolate_MT next to the plain reference on the same slices (and next to
# OpenCV's Bayer demosaics when the bench build found them).
if [ -x "$dir/bin/bench_demosaic" ]; then
    "$dir/bin/bench_demosaic"
fi

# Rendering described clips: PSNR against the photograph in each pattern, and speed next to the
# fixed two-byte demosaic (and OpenCV's edge-aware one when the bench build found OpenCV).
if [ -x "$dir/bin/bench_render" ]; then
    "$dir/bin/bench_render"
fi

# Compact records of both generations at the codec, on real sensor frames (when Debian's
# eso-midas-testdata and libjxl-testdata are installed).
if [ -x "$dir/bin/bench_compact_records" ]; then
    raw=$(mktemp -d)
    for set in ccd mosaic rgb; do
        if dims=$(/usr/bin/python3 bench/sensor_frames.py $set 8 "$raw/$set.raw" 2> /dev/null); then
            "$dir/bin/bench_compact_records" "$raw/$set.raw" $dims 3 $([ $set = ccd ] && echo mono)
        fi
    done
    rm -rf "$raw"
fi

# The recorder next to the plain writer on 1920x1200 12-bit mosaics; the in-process fake camera.
if [ -x "$dir/bin/bench_recorder" ]; then
    raw=$(mktemp -d)
    if dims=$(/usr/bin/python3 bench/sensor_frames.py mosaic 8 "$raw/mosaic.raw" 2> /dev/null); then
        "$dir/bin/bench_recorder" "$raw/mosaic.raw" ${dims% *} 120 30
    fi
    rm -rf "$raw"
fi

# clipReadMex in Octave next to VidHeader alone in C++ (when Octave and the modules are there).
if command -v octave-cli > /dev/null && [ -f "$dir/mex/clipReadMex.mex" ] && [ -x "$dir/bin/vid_read_bench" ]; then
    bench/clipReadMex_bench.sh "$dir"
fi

# vid export/import next to VidHeader alone, PNG export next to framewise.
if [ -x "$dir/bin/vid" ] && [ -x "$dir/bin/vid_read_bench" ]; then
    bench/vid_io_bench.sh "$dir"
fi

# Recording from Python: two-byte Bayer frames next to h5py (python3-h5py) on the same frames.
if [ -d "$dir/python/vid" ]; then
    PYTHONPATH="$dir/python" /usr/bin/python3 bench/recording_bench.py
fi

# Compact records next to today's and the peers (h5py, zarr, FFV1 through PyAV) on the same frames.
if [ -d "$dir/python/vid" ]; then
    PYTHONPATH="$dir/python" /usr/bin/python3 bench/compact_bench.py
fi

# Python: clip[k] next to VidHeader alone.
if [ -d "$dir/python/vid" ] && [ -x "$dir/bin/vid_read_bench" ]; then
    PYTHONPATH="$dir/python" /usr/bin/python3 bench/python_bench.py "$dir"
fi

# How far a follower trails a writer of 2,100 camera-sized frames running past its table.
if [ -d "$dir/python/vid" ]; then
    VID_FOLLOW_BENCH=1 VID_BIN_DIR="$dir/bin" PYTHONPATH="$dir/python" \
        /usr/bin/python3 -m pytest -q -s -p no:cacheprovider tests/python/test_vid_live.py \
        -k past_its_table | grep '^vid.follow' || true
fi

# vid view in headless Chromium: scrubbing rates, release latency, dropped frames while playing
# (the browser test prints them; it needs chromium, chromium-driver and python3-selenium).
if [ -x "$dir/bin/vid" ] && command -v chromium > /dev/null && command -v chromedriver > /dev/null; then
    VID_BIN_DIR="$dir/bin" VID_ARTIFACT_DIR="$dir/artifacts" PYTHONPATH="$dir/python" \
        /usr/bin/python3 -m pytest -q -s -p no:cacheprovider tests/python/test_vid_view.py -k browser \
        | grep '^vid view' || true
fi

