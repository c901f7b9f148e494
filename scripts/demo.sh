#!/usr/bin/env bash
# Runs the main job on the shipped sample with the programs that `make demo` built.
# Builds nothing itself. blockexpand deletes its input, so it works on a copy.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
bin="$BUILD/bin/blockexpand"
[ -x "$bin" ] || { echo "demo: $bin is missing; run 'make demo' to build it first" >&2; exit 1; }

out_dir="$BUILD/demo"
mkdir -p "$out_dir"
sample=samples/photo320x240.ppm.zlib
cp "$sample" "$out_dir/"
rm -f "$out_dir/photo320x240.ppm"

echo "blockexpand: expanding a copy of $sample (a blocked-compress buffer of $(stat -c %s "$sample") bytes)"
"$bin" "$out_dir/photo320x240.ppm.zlib"
echo "blockexpand: wrote $out_dir/photo320x240.ppm ($(stat -c %s "$out_dir/photo320x240.ppm") bytes, a 320x240 binary PPM image)"
echo "             and deleted its input copy $out_dir/photo320x240.ppm.zlib; the shipped sample is untouched."

# framewise dumps every frame of a VID file into ./frames of the directory it runs in.
framewise="$PWD/$BUILD/bin/framewise"
[ -x "$framewise" ] || { echo "demo: $framewise is missing; run 'make demo' to build it first" >&2; exit 1; }
vid=samples/sample_bayer.vid
fw_dir="$out_dir/framewise"
rm -rf "$fw_dir"
mkdir -p "$fw_dir/frames"
echo
echo "framewise: dumping every frame of $vid (a 160x120 Bayer clip, two bytes per sample, $(stat -c %s "$vid") bytes)"
vid_path="$PWD/$vid"
(cd "$fw_dir" && "$framewise" "$vid_path")
echo
count=$(find "$fw_dir/frames" -name '*.ppm' | wc -l)
echo "framewise: wrote $count demosaiced RGB images, $fw_dir/frames/00000.ppm to $(ls "$fw_dir/frames" | tail -1), binary PPM 160x120"

# vid: what the clip holds, then its frames as PNG images and its raw Bayer samples.
vidtool="$PWD/$BUILD/bin/vid"
echo
"$vidtool" info "$vid"
"$vidtool" export "$vid" -o "$out_dir/png"
"$vidtool" export "$vid" --mosaic --frames 0:1 -o "$out_dir/mosaic"
echo "vid: wrote $(ls "$out_dir/png" | wc -l) PNG images to $out_dir/png and the 16-bit samples of frame 0 to $out_dir/mosaic/00000.png"

# vid record: two seconds of Aravis's in-process fake camera (8-bit RGGB mosaics) into a clip,
# then what it holds.
if "$vidtool" --help | grep -q "^  record"; then
    echo
    rec="$out_dir/fake_camera.vid"
    rm -f "$rec"
    "$vidtool" record "$rec" --camera Fake_1 --pixel-format BayerRG8 --frame-rate 30 --duration 2
    "$vidtool" info "$rec" | head -6
else
    echo "vid: this build records no cameras (Aravis is not part of it)"
fi
