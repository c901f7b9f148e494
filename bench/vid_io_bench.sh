#!/usr/bin/env bash
# vid export and vid import next to VidHeader alone, side by side in one run, on a 640 x 480
# RGB file of camera-like frames (best of three rounds each):
#   export --format raw to a pipe   vs  VidHeader reading the same frames
#   import from a raw file          vs  VidHeader writing the same frames from memory
#   export as PNG (zlib level 1)    vs  framewise's PPM images
#
#   bench/vid_io_bench.sh <build-dir>     (a build with VID_BUILD_BENCH=ON)
set -euo pipefail
build=${1:?usage: vid_io_bench.sh <build-dir>}
bin=$(cd "$build/bin" && pwd)
frames=200
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/clip.vid
"$bin/vid_read_bench" write "$file" $frames
"$bin/vid" export "$file" --format raw -o "$work/clip.rgb"

rate() { # frames per second of a command, best of three
    local best=0 t0 t1 fps
    for _ in 1 2 3; do
        t0=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        t1=$(date +%s.%N)
        fps=$(awk -v n=$frames -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", n / (b - a)}')
        best=$(awk -v a="$best" -v b="$fps" 'BEGIN {print (b > a) ? b : a}')
    done
    echo "$best"
}
best_of() { # best value of a "key value" line printed by vid_read_bench, three rounds
    local best=0 v
    for _ in 1 2 3; do
        v=$("$bin/vid_read_bench" "$1" "$file" 1 2>/dev/null | awk -v k="$2" '$1 == k {print $2}')
        best=$(awk -v a="$best" -v b="$v" 'BEGIN {print (b > a) ? b : a}')
    done
    echo "$best"
}
read_fps=$(best_of read cpp_frames_per_second)
export_fps=$(rate sh -c "'$bin/vid' export '$file' --format raw -o - > /dev/null")
write_fps=$(best_of rewrite writer_frames_per_second)
import_fps=$(rate "$bin/vid" import "$work/back.vid" --size 640x480 "$work/clip.rgb")
png_fps=$(rate "$bin/vid" export "$file" -o "$work/png")
mkdir -p "$work/fw"
ppm_fps=$(rate sh -c "cd '$work/fw' && '$bin/framewise' '$file'")
echo "vid export raw: $export_fps frames/s, VidHeader reading alone $read_fps frames/s:" \
     "$(awk -v a="$export_fps" -v b="$read_fps" 'BEGIN {printf "%.0f%%", 100 * a / b}')"
echo "vid import raw: $import_fps frames/s, VidHeader writing alone $write_fps frames/s:" \
     "$(awk -v a="$import_fps" -v b="$write_fps" 'BEGIN {printf "%.0f%%", 100 * a / b}')"
echo "vid export PNG (zlib level 1): $png_fps frames/s, framewise PPM $ppm_fps frames/s"
