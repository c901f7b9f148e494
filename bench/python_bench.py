#!/usr/bin/env python3
"""clip[k] in a loop in Python next to VidHeader alone in C++, side by side in one run, on a
640 x 480 RGB file and a 1600 x 1200 two-byte Bayer file (best of three rounds each); and
clip[a:b] of 64 frames next to 64 single reads.

    PYTHONPATH=<build>/python python3 bench/python_bench.py <build-dir>
"""
import os
import subprocess
import sys
import tempfile
import time

import vid

build = sys.argv[1] if len(sys.argv) > 1 else "build/bench"
tool = os.path.join(build, "bin", "vid_read_bench")
with tempfile.TemporaryDirectory() as work:
    for label, mode, frames in (("640x480 RGB", "write", 64), ("1600x1200 Bayer 16-bit", "writebayer", 64)):
        path = os.path.join(work, mode + ".vid")
        subprocess.run([tool, mode, path, str(frames)], check=True)
        cpp = py = 0.0
        for _ in range(3):
            out = subprocess.run([tool, "read", path, "2"], check=True, capture_output=True,
                                 text=True).stdout
            cpp = max(cpp, float(out.split("cpp_frames_per_second")[1].split()[0]))
            with vid.open(path) as clip:
                clip[0]
                t = time.perf_counter()
                for _ in range(2):
                    for k in range(len(clip)):
                        clip[k]
                py = max(py, 2 * len(clip) / (time.perf_counter() - t))
        with vid.open(path) as clip:
            t = time.perf_counter()
            clip[0:64]
            sliced = 64 / (time.perf_counter() - t)
        print("%s: clip[k] %.1f frames/s, VidHeader alone %.1f frames/s: %.0f%%; clip[0:64] "
              "%.1f frames/s" % (label, py, cpp, 100 * py / cpp, sliced))
