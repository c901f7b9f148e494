#!/usr/bin/python3
"""Checks that every unit of core/ includes only core headers of its own layer or of the layers
below it (core/README.md). Prints each include that reaches up and exits 1 if there is one."""
import os
import re
import sys

LAYERS = [
    ["le_bytes", "vid_files", "threading", "report", "errbox", "vid_result", "vid_output_file",
     "vid_json"],
    ["vid_format", "vid_kind"],
    ["compress_uncompress_MT"],
    ["vid_compact"],
    ["vid_record"],
    ["bayer", "bayer_simd", "bayer_simd_avx2", "bayer_simd_sse41", "bayer_kernels",
     "bayer_interpolate_MT", "read-frame"],
    ["vid_clip"],
    ["VidHeader", "vid_header_report", "vid_header_files"],
    ["vid_records", "vid_read", "vid_follow"],
    ["vid_salvage", "vid_crop", "vid_crop_plan", "vid_convert"],
]
LAYER = {unit: n for n, units in enumerate(LAYERS) for unit in units}

core = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "core")
bad = []
for name in sorted(os.listdir(core)):
    unit, ext = os.path.splitext(name)
    if ext not in (".h", ".cpp", ".inc"):
        continue
    if unit not in LAYER:
        bad.append("core/%s: in no layer of core/README.md" % name)
        continue
    for included in re.findall(r'#include "([^"]+)\.(?:h|inc)"', open(os.path.join(core, name)).read()):
        if included in LAYER and LAYER[included] > LAYER[unit]:
            bad.append("core/%s (layer %d) includes %s.h (layer %d)"
                       % (name, LAYER[unit], included, LAYER[included]))
for line in bad:
    print("layers:", line, file=sys.stderr)
sys.exit(1 if bad else 0)
