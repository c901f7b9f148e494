#!/usr/bin/env python3
"""Compact records next to classic records and the peers users pick instead, on the same
frames, in one run: real 16-bit CCD frames, 12-bit mosaics of a real photograph and RGB frames
of it (bench/sensor_frames.py, from Debian's eso-midas-testdata and libjxl-testdata), and the
camera-like frames of the shipped photograph (bench/camera_frames.py). For each: stored ratio
(raw bytes / file bytes), write frames per second, random frame reads per second (raw samples
for mosaics). Peers (each skipped, and said so, when its Debian package is missing): h5py gzip 4
+ shuffle (python3-h5py), shuffle + LZ4 through hdf5plugin (python3-hdf5plugin; Debian 12's has
no bitshuffle), zarr with
blosc zstd 3 + shuffle and lz4 + shuffle (python3-zarr, python3-numcodecs), FFV1 lossless video
through PyAV (python3-av), seeking.

    PYTHONPATH=<build>/python python3 bench/compact_bench.py [bayer frames] [rgb frames]
"""
import os
import random
import shutil
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import camera_frames  # noqa: E402
import sensor_frames  # noqa: E402
import vid  # noqa: E402

n_bayer = int(sys.argv[1]) if len(sys.argv) > 1 else 24
n_rgb = int(sys.argv[2]) if len(sys.argv) > 2 else 120
READS = 300


def size_of(path):
    if os.path.isdir(path):
        return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(path) for f in fs)
    return os.path.getsize(path)


def timed_reads(read, n, count):
    rng = random.Random(5)
    ks = [rng.randrange(n) for _ in range(count)]
    read(ks[0])
    t = time.perf_counter()
    for k in ks:
        read(k)
    return count / (time.perf_counter() - t)


def vid_entry(records, effort):
    def write(path, frames, kind):
        with vid.create(path, frames.shape[2], frames.shape[1], kind=kind, effort=effort,
                        records=records, frames_reserved=len(frames)) as w:
            for f in frames:
                w.append(f)

    def reader(path, kind):
        clip = vid.open(path)
        return clip.mosaic if kind != "rgb" else clip.__getitem__
    return write, reader


def h5_entry():
    import h5py

    def write(path, frames, kind):
        with h5py.File(path, "w") as f:
            f.create_dataset("frames", data=frames, chunks=(1,) + frames.shape[1:],
                             compression="gzip", compression_opts=4, shuffle=True)

    def reader(path, kind):
        d = h5py.File(path, "r")["frames"]
        return lambda k: d[k]
    return write, reader


def h5_bitshuffle_entry():
    import h5py
    import hdf5plugin

    def write(path, frames, kind):
        with h5py.File(path, "w") as f:
            # Debian 12's hdf5plugin has no bitshuffle filter: HDF5's shuffle, then its LZ4
            f.create_dataset("frames", data=frames, chunks=(1,) + frames.shape[1:],
                             shuffle=True, **hdf5plugin.LZ4())

    def reader(path, kind):
        d = h5py.File(path, "r")["frames"]
        return lambda k: d[k]
    return write, reader


def zarr_entry(cname, clevel, shuffle):
    import zarr
    from numcodecs import Blosc

    def write(path, frames, kind):
        z = zarr.open(path, mode="w", shape=frames.shape, chunks=(1,) + frames.shape[1:],
                      dtype=frames.dtype,
                      compressor=Blosc(cname=cname, clevel=clevel, shuffle=shuffle))
        z[:] = frames

    def reader(path, kind):
        z = zarr.open(path, mode="r")
        return lambda k: z[k]
    return write, reader


def ffv1_entry():
    import av

    def write(path, frames, kind):
        with av.open(path, "w", format="matroska") as c:
            s = c.add_stream("ffv1", rate=100)
            s.width, s.height = frames.shape[2], frames.shape[1]
            s.pix_fmt = "gray16le" if kind != "rgb" else "bgr0"
            for f in frames:
                img = f if kind != "rgb" else np.dstack([f[..., 2], f[..., 1], f[..., 0],
                                                            np.zeros(f.shape[:2], np.uint8)])
                fmt = "gray16le" if kind != "rgb" else "bgra"
                for p in s.encode(av.VideoFrame.from_ndarray(np.ascontiguousarray(img), format=fmt)):
                    c.mux(p)
            for p in s.encode():
                c.mux(p)

    def reader(path, kind):
        c = av.open(path)
        s = c.streams.video[0]
        step = int(round(1 / (s.time_base * 100)))

        def read(k):
            c.seek(k * step, stream=s, any_frame=False, backward=True)
            for frame in c.decode(s):
                if frame.pts is not None and frame.pts >= k * step:
                    return frame.to_ndarray(format="gray16le" if kind != "rgb" else "rgb24")
        return read
    return write, reader


def entries():
    out = [("VID classic (level 9)", lambda: vid_entry("classic", 9)),
           ("VID classic, balanced (effort 2)", lambda: vid_entry("classic", 2)),
           ("VID compact, fastest (effort 1)", lambda: vid_entry("compact", 1)),
           ("VID compact, balanced (effort 2)", lambda: vid_entry("compact", 2)),
           ("VID compact, smallest (effort 9)", lambda: vid_entry("compact", 9))]
    out += [("HDF5 (h5py) gzip 4 + shuffle", h5_entry),
            ("HDF5 shuffle + LZ4 (hdf5plugin)", h5_bitshuffle_entry),
            ("zarr, blosc zstd 3 + shuffle", lambda: zarr_entry("zstd", 3, 1)),
            ("zarr, blosc lz4 + shuffle", lambda: zarr_entry("lz4", 5, 1)),
            ("FFV1 lossless (PyAV), seeking", ffv1_entry)]
    return out


def run(label, frames, kind, work):
    print("\n%s, %d frames, %.1f MB raw, 2 cores" % (label, len(frames), frames.nbytes / 1e6))
    print("| %-34s | ratio | write frames/s | random reads/s |" % "")
    for name, make in entries():
        try:
            write, reader = make()
        except ImportError as e:
            print("| %-34s | (not installed: %s)" % (name, e.name))
            continue
        path = os.path.join(work, "x")
        shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else None
        if os.path.exists(path) and not os.path.isdir(path):
            os.remove(path)
        wfps = 0.0
        for _ in range(2):   # the better of two writes: the machine's noise hits both alike
            if os.path.isdir(path):
                shutil.rmtree(path)
            t = time.perf_counter()
            write(path, frames, kind)
            wfps = max(wfps, len(frames) / (time.perf_counter() - t))
        ratio = frames.nbytes / size_of(path)
        read = reader(path, kind)
        count = 30 if name.startswith("FFV1") else READS
        got = read(len(frames) // 2)
        expect = frames[len(frames) // 2]
        assert np.array_equal(np.asarray(got), expect), name + " returned other pixels"
        rps = timed_reads(read, len(frames), count)
        print("| %-34s | %5.2f | %14.1f | %14.0f |" % (name, ratio, wfps, rps))
        sys.stdout.flush()


with tempfile.TemporaryDirectory() as work:
    sets = [("1600x1200 real 16-bit CCD frames (mono16)", sensor_frames.ccd_frames(n_bayer),
             "mono16"),
            ("1600x1200 12-bit RGGB mosaics of a real photograph", sensor_frames.mosaic_frames(
                n_bayer), "bayer16"),
            ("640x480 RGB of a real photograph, panning", sensor_frames.rgb_frames(n_rgb), "rgb"),
            ("1600x1200 two-byte Bayer mosaics of the shipped photograph",
             camera_frames.bayer_frames(n_bayer), "bayer16")]
    for label, frames, kind in sets:
        if frames is None:
            print("\n%s: skipped (its Debian package is missing)" % label)
            continue
        run(label, frames, kind, work)
