#!/usr/bin/python3
"""Checks the core's layers (core/README.md): each unit lies in the folder of its layer, includes
only core headers of its own layer or of the layers below it, and the front ends (tools/, mex/,
python/) include no private header of the core. Prints each breach and exits 1 if there is one."""
import os
import re
import sys

# (folder, units), from the bottom up; a folder may hold several layers.
LAYERS = [
    ("base", ["le_bytes", "vid_files", "threading", "report", "vid_result", "vid_output_file",
              "vid_json", "vid_version"]),
    ("records", ["vid_format", "vid_kind"]),
    ("records", ["compress_uncompress_MT"]),
    ("records", ["vid_compact", "vid_compact2"]),
    ("records", ["vid_record"]),
    ("image", ["bayer", "bayer_simd", "bayer_simd_avx2", "bayer_simd_sse41", "bayer_kernels",
               "bayer16", "bayer_interpolate_MT", "read-frame", "vid_sensor", "vid_render", "vid_render_path",
               "vid_pixel_format"]),
    ("container", ["vid_clip"]),
    ("container", ["VidHeader", "vid_header_report", "vid_header_files"]),
    ("container", ["vid_records", "vid_read", "vid_follow"]),
    ("jobs", ["vid_salvage", "vid_crop", "vid_crop_plan", "vid_convert", "vid_meta", "vid_ser"]),
    ("camera", ["vid_recorder", "vid_camera"]),
]
LAYER = {unit: n for n, (_, units) in enumerate(LAYERS) for unit in units}
FOLDER = {unit: folder for folder, units in LAYERS for unit in units}
# Private to the core: the front ends reach them only through the core's API. (The programs'
# file helpers and thread primitives are shared with tools/ on purpose.)
PRIVATE = {"vid_header_report", "bayer_simd", "bayer_kernels", "vid_render_path"}

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
core = os.path.join(root, "core")
bad = []
for folder in sorted(os.listdir(core)):
    path = os.path.join(core, folder)
    if not os.path.isdir(path):
        continue
    for name in sorted(os.listdir(path)):
        unit, ext = os.path.splitext(name)
        if ext == ".in":
            unit = os.path.splitext(unit)[0]
        elif ext not in (".h", ".cpp", ".inc"):
            continue
        if unit not in LAYER:
            bad.append("core/%s/%s: in no layer of core/README.md" % (folder, name))
            continue
        if FOLDER[unit] != folder:
            bad.append("core/%s/%s: belongs in core/%s" % (folder, name, FOLDER[unit]))
        text = open(os.path.join(path, name)).read()
        for included in re.findall(r'#include "([^"]+)\.(?:h|inc)"', text):
            if included in LAYER and LAYER[included] > LAYER[unit]:
                bad.append("core/%s/%s (layer %d) includes %s.h (layer %d)"
                           % (folder, name, LAYER[unit], included, LAYER[included]))
for front in ("tools", "mex", "python"):
    for top, _, names in os.walk(os.path.join(root, front)):
        for name in names:
            if os.path.splitext(name)[1] not in (".h", ".cpp", ".cc"):
                continue
            text = open(os.path.join(top, name)).read()
            for included in re.findall(r'#include "([^"]+)\.h"', text):
                if included in PRIVATE:
                    bad.append("%s includes the core's private %s.h"
                               % (os.path.relpath(os.path.join(top, name), root), included))
for line in bad:
    print("layers:", line, file=sys.stderr)
sys.exit(1 if bad else 0)
