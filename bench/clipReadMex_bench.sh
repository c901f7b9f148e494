#!/usr/bin/env bash
# Frames per second of clipReadMex in Octave on a 640 x 480 RGB file, next to the same frames
# read by VidHeader alone in C++, measured side by side in one run (five rounds, best of
# each). The difference per frame is what the Octave side adds: the double result array,
# the conversion into MATLAB's column order, and the call itself.
#
#   bench/clipReadMex_bench.sh <build-dir>     (a build with VID_BUILD_BENCH=ON)
set -euo pipefail
build=${1:?usage: clipReadMex_bench.sh <build-dir>}
bin=$build/bin/vid_read_bench
mexdir=$build/mex
frames=60
passes=5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/bench640x480.vid

"$bin" write "$file" $frames
best_cpp=0
best_oct=0
best_conv=1e9
best_cls=0
for round in 1 2 3 4 5; do
    ref=$("$bin" read "$file" $passes 2>/dev/null)
    cpp=$(awk '/cpp_frames_per_second/ {print $2}' <<< "$ref")
    conv=$(awk '/conversion_ms_per_frame/ {print $2}' <<< "$ref")
    oct=$(octave-cli --norc --no-history --no-window-system --path "$mexdir" --eval "
        [h, d] = clipOpenMex ('$file');
        img = clipReadMex (h, 0);
        t = tic ();
        for p = 1:$passes
          for k = 0:d(3)-1
            img = clipReadMex (h, k);
          end
        end
        s = toc (t);
        clipCloseMex (h);
        printf ('%.2f\n', $passes * d(3) / s);" | tail -1)
    cls=$(octave-cli --norc --no-history --no-window-system --path "$mexdir" --eval "
        r = VidReader ('$file');
        img = read (r, 1);
        t = tic ();
        for p = 1:$passes
          for k = 1:r.NumFrames
            img = read (r, k);
          end
        end
        s = toc (t);
        printf ('%.2f\n', $passes * r.NumFrames / s);" | tail -1)
    best_cls=$(awk -v a="$best_cls" -v b="$cls" 'BEGIN {print (b > a) ? b : a}')
    echo "round $round: VidReader read (uint8) $cls frames/s"
    echo "round $round: VidHeader in C++ $cpp frames/s, clipReadMex in Octave $oct frames/s," \
         "conversion alone $conv ms/frame"
    best_cpp=$(awk -v a="$best_cpp" -v b="$cpp" 'BEGIN {print (b > a) ? b : a}')
    best_oct=$(awk -v a="$best_oct" -v b="$oct" 'BEGIN {print (b > a) ? b : a}')
    best_conv=$(awk -v a="$best_conv" -v b="$conv" 'BEGIN {print (b < a) ? b : a}')
done
awk -v c="$best_cpp" -v o="$best_oct" -v v="$best_conv" -v u="$best_cls" 'BEGIN {
    printf "best: VidHeader %.1f frames/s, clipReadMex %.1f frames/s, ratio %.2f\n", c, o, o / c
    printf "best: VidReader read (uint8) %.1f frames/s, ratio to VidHeader %.2f\n", u, u / c
    printf "per frame: expansion (C++ read) %.2f ms, conversion to doubles %.2f ms (%.2f of the expansion),\n", 1000 / c, v, v * c / 1000
    printf "           everything the Octave call adds %.2f ms (result array, conversion, return)\n", 1000 / o - 1000 / c
}'
