#!/usr/bin/env python3
"""Recording 1600 x 1200 two-byte Bayer frames from Python: vid.create(kind="bayer16") at the
balanced effort (2), classic and compact records, next to h5py with gzip level 1 (one chunk per frame), on the same
camera-like frames, in one run: frames per second written and file size (best of three).

    PYTHONPATH=<build>/python python3 bench/recording_bench.py [frames]
"""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import camera_frames  # noqa: E402
import vid  # noqa: E402

n = int(sys.argv[1]) if len(sys.argv) > 1 else 24
frames = camera_frames.bayer_frames(n)
try:
    import h5py
except ImportError:
    h5py = None


def vid_writer(records):
    def write(path):
        with vid.create(path, 1600, 1200, kind="bayer16", effort=2, frame_rate=500.0,
                        metadata={"camera": "bench", "bit_depth": 12}, frames_reserved=n,
                        records=records) as w:
            for f in frames:
                w.append(f)
    return write


def write_h5(path):
    with h5py.File(path, "w") as f:
        d = f.create_dataset("frames", (n, 1200, 1600), dtype="u2", chunks=(1, 1200, 1600),
                             compression="gzip", compression_opts=1)
        for k in range(n):
            d[k] = frames[k]


with tempfile.TemporaryDirectory() as work:
    results = {}
    writers = [("vid bayer16, effort 2", vid_writer("classic"), "a.vid"),
               ("vid compact, effort 2", vid_writer("compact"), "b.vid")]
    if h5py is not None:
        writers.append(("h5py gzip 1", write_h5, "a.h5"))
    for _ in range(3):
        for label, write, name in writers:
            path = os.path.join(work, name)
            t = time.perf_counter()
            write(path)
            fps = n / (time.perf_counter() - t)
            size = os.path.getsize(path)
            best = results.get(label, (0, size))
            results[label] = (max(best[0], fps), size)
    raw = frames.nbytes
    for label, (fps, size) in results.items():
        print("recording 1600x1200 bayer16, %d frames: %-22s %7.1f frames/s, %6.1f MB (ratio %.3f)"
              % (n, label, fps, size / 1e6, raw / size))
    if "h5py gzip 1" in results:
        h = results["h5py gzip 1"]
        for label in ("vid bayer16, effort 2", "vid compact, effort 2"):
            v = results[label]
            print("recording: %s writes %.2fx the frames per second of h5py gzip 1, file %.3f "
                  "of its size" % (label, v[0] / h[0], v[1] / h[1]))
    else:
        print("recording: h5py not installed (Debian python3-h5py); no peer measured")
