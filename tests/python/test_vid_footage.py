"""Footage in and out: packed raw streams, camera times through a CSV round trip and no
invented times, SER (read back by ffmpeg and Siril), multi-page TIFF (read back by tifffile),
and a clip read through its zarr store by zarr, dask and xarray."""
import os
import shutil
import subprocess

import numpy as np
import pytest

import vid

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ.get("VID_BIN_DIR", os.path.join(ROOT, "build", "bin"))
VID = os.path.join(BIN, "vid")


def run(*args):
    return subprocess.run([VID, *map(str, args)], capture_output=True, text=True)


# Hand-made rows in each GenICam layout, and their samples (a frame: six such rows of 4).
PACKED = [
    ("12p", bytes([0x23, 0xC1, 0xAB, 0xFF, 0x0F, 0x00]), [0x123, 0xABC, 0xFFF, 0x000]),
    ("10p", bytes([0xFF, 0x07, 0x00, 0x60, 0x55]), [0x3FF, 0x001, 0x200, 0x155]),
    ("12packed", bytes([0x12, 0xC3, 0xAB, 0xFF, 0x0F, 0x00]), [0x123, 0xABC, 0xFFF, 0x000]),
    ("10packed", bytes([0xFF, 0x13, 0x00, 0x01, 0x20, 0x80]), [0x3FF, 0x001, 0x004, 0x202]),
]


@pytest.mark.parametrize("packing,stream,samples", PACKED)
def test_packed_streams_unpack_to_their_samples(tmp_path, packing, stream, samples):
    raw = tmp_path / "in.raw"
    raw.write_bytes(stream * 6 * 3)  # three frames
    out = tmp_path / "out.vid"
    r = run("import", out, "--kind", "mono16", "--packing", packing, "--size", "4x6", raw)
    assert r.returncode == 0, r.stderr
    clip = vid.open(out)
    assert len(clip) == 3 and clip.metadata["bit_depth"] == (12 if "12" in packing else 10)
    for k in range(3):
        assert clip.mosaic(k).ravel().tolist() == samples * 6


def test_times_survive_a_csv_round_trip_and_none_are_invented(tmp_path):
    src = tmp_path / "src.vid"
    frames = np.arange(4 * 6 * 8, dtype=np.uint16).reshape(4, 6, 8)
    stamps = [1_000_000_007, 1_040_000_011, 1_080_000_013, 1_120_000_017]
    vid.write(src, frames, kind="bayer16", timestamps=stamps, metadata={"cfa": "RGGB"})
    raw, csv = tmp_path / "f.raw", tmp_path / "t.csv"
    assert run("export", src, "--mosaic", "--format", "raw", "-o", raw,
               "--timestamps", csv).returncode == 0
    back = tmp_path / "back.vid"
    r = run("import", back, "--kind", "bayer16", "--size", "8x6", raw, "--timestamps", csv)
    assert r.returncode == 0, r.stderr
    assert vid.open(back).timestamps.tolist() == stamps
    # metadata alone: the clip block, and no time made up for any frame
    bare = tmp_path / "bare.vid"
    assert run("import", bare, "--kind", "bayer16", "--size", "8x6", raw,
               "--meta", "cfa=RGGB").returncode == 0
    assert vid.open(bare).timestamps.mask.all()
    # a CSV that does not match the frames is refused, and nothing is written
    short = tmp_path / "short.csv"
    short.write_text("frame,timestamp_ns\n0,5\n1,6\n")
    r = run("import", tmp_path / "no.vid", "--kind", "bayer16", "--size", "8x6", raw,
            "--timestamps", short)
    assert r.returncode == 1 and "2 timestamps for 4 frames" in r.stderr
    assert not (tmp_path / "no.vid").exists()


def ser_file(path, color, width, height, depth, frames, little=0, trailer=b"", cut=0):
    import struct
    head = (b"LUCAM-RECORDER" + struct.pack("<7i", 0, color, little, width, height, depth,
                                            len(frames)) + b"obs".ljust(40, b"\0")
            + b"cam".ljust(40, b"\0") + b"scope".ljust(40, b"\0") + struct.pack("<2q", 0, 0))
    data = head + b"".join(frames) + trailer
    path.write_bytes(data[:len(data) - cut])
    return path


SIRIL = shutil.which("siril-cli")


def siril_stats(path, tmp_path):
    """Siril's per-frame mean, min and max of a SER file (in 1/65535), Siril run with its
    configuration in tmp_path."""
    work = tmp_path / "siril"
    work.mkdir(exist_ok=True)
    shutil.copy(path, work / "s.ser")
    env = dict(os.environ, HOME=str(tmp_path), XDG_CONFIG_HOME=str(tmp_path / "config"))
    # the first run finds the sequence (its .seq file), the second measures it
    for script in ("seqstat s.ser x.csv basic", "seqstat s stats.csv basic"):
        (work / "run.ssf").write_text("requires 1.0.0\n" + script + "\n")
        subprocess.run([SIRIL, "-d", str(work), "-s", str(work / "run.ssf")], env=env,
                       capture_output=True, timeout=60)
    rows = (work / "stats.csv").read_text().strip().splitlines()[1:]
    return [float(v) for r in rows for v in (r.split()[2], r.split()[5], r.split()[6])]


def ffmpeg_frames(path, pix_fmt):
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-f", "rawvideo", "-pix_fmt",
                        pix_fmt, "-"], capture_output=True)
    assert r.returncode == 0, r.stderr
    return r.stdout


@pytest.mark.parametrize("kind,meta,pix_fmt", [
    ("mono8", {}, "gray"), ("mono16", {"bit_depth": 12}, "gray16le"),
    ("bayer8", {"cfa": "RGGB"}, "bayer_rggb8"), ("bayer16", {"cfa": "GBRG"}, "bayer_gbrg16le"),
    ("rgb", {}, "rgb24")])
def test_ser_round_trips_and_ffmpeg_reads_the_same_frames(tmp_path, kind, meta, pix_fmt):
    rng = np.random.default_rng(3)
    shape = (4, 6, 8, 3) if kind == "rgb" else (4, 6, 8)
    dtype = np.uint16 if kind.endswith("16") else np.uint8
    frames = rng.integers(0, 4096 if dtype == np.uint16 else 256, shape).astype(dtype)
    stamps = [1_700_000_000_000_000_000 + k * 10_000_000 for k in range(4)]
    src, ser, back = tmp_path / "a.vid", tmp_path / "a.ser", tmp_path / "b.vid"
    vid.write(src, frames, kind=kind, timestamps=stamps, metadata=meta)
    assert run("export", src, "--format", "ser", "-o", ser).returncode == 0
    # ffmpeg reads the byte-order flag the other way round from the capture programs and
    # Siril: it takes two-byte samples as big-endian ones (asked for those, it gives the bytes)
    if dtype == np.uint16:
        pix_fmt = pix_fmt.replace("16le", "16be")
    assert ffmpeg_frames(ser, pix_fmt) == frames.astype(frames.dtype.newbyteorder("<")).tobytes()
    if SIRIL and kind != "rgb":
        # every frame, each one's least and greatest sample (Siril measures in 1/65535)
        stats = siril_stats(ser, tmp_path)
        assert len(stats) == 3 * len(frames)
        want = [v / 65535.0 for f in frames for v in (f.min(), f.max())]
        assert [v for i, v in enumerate(stats) if i % 3] == pytest.approx(want, rel=1e-5)
    r = run("import", back, ser)
    assert r.returncode == 0, r.stderr
    clip = vid.open(back)
    assert clip.kind == kind and clip.timestamps.tolist() == stamps
    read = [clip[k] if kind == "rgb" else clip.mosaic(k) for k in range(4)]
    assert np.array_equal(np.stack(read), frames)


def test_ser_byte_order_bgr_and_hostile_files(tmp_path):
    import struct
    samples = [0x0102, 0x0A0B, 0x0FFF, 0x0000] * 12  # a 8 x 6 frame
    le = b"".join(struct.pack("<H", v) for v in samples)
    be = b"".join(struct.pack(">H", v) for v in samples)
    # the byte-order flag as the capture programs write it and Siril reads it: 0 little-endian,
    # 1 big-endian (ffmpeg reads it the other way round)
    for flag, data in [(0, le), (1, be)]:
        ser = ser_file(tmp_path / ("o%d.ser" % flag), 0, 8, 6, 12, [data], little=flag)
        assert ffmpeg_frames(ser, "gray16be") == le
        out = tmp_path / ("o%d.vid" % flag)
        assert run("import", out, ser).returncode == 0
        assert vid.open(out).mosaic(0).ravel().tolist() == samples
        assert vid.open(out).metadata["instrument"] == "cam"
    bgr = bytes(range(8 * 6 * 3))
    out = tmp_path / "bgr.vid"
    assert run("import", out, ser_file(tmp_path / "bgr.ser", 101, 8, 6, 8, [bgr])).returncode == 0
    assert vid.open(out)[0].ravel().tolist() == list(
        np.frombuffer(bgr, np.uint8).reshape(-1, 3)[:, ::-1].ravel())
    frame = bytes(48)
    for name, kwargs, says in [
        ("cut", dict(color=0, width=8, height=6, depth=8, frames=[frame] * 3, cut=10),
         "the file holds 2 whole frames"),
        ("huge", dict(color=0, width=65536, height=65536, depth=16, frames=[]), "65536 x 65536"),
        ("colour", dict(color=16, width=8, height=6, depth=8, frames=[frame]), "colour id 16"),
        ("deep", dict(color=100, width=8, height=6, depth=16, frames=[bytes(288)]), "RGB of 16"),
        ("trailer", dict(color=0, width=8, height=6, depth=8, frames=[frame] * 2,
                         trailer=bytes(12)), "trailer of times ends early"),
    ]:
        ser = ser_file(tmp_path / (name + ".ser"), **kwargs)
        r = run("import", tmp_path / (name + ".vid"), ser)
        assert r.returncode == 1 and says in r.stderr, (name, r.stderr)
        assert not (tmp_path / (name + ".vid")).exists()
    (tmp_path / "short.ser").write_bytes(b"LUCAM-RECORDER" + bytes(20))
    r = run("import", tmp_path / "short.vid", tmp_path / "short.ser")
    assert r.returncode == 1 and "178-byte header" in r.stderr


tifffile = pytest.importorskip("tifffile")


@pytest.mark.parametrize("kind,meta", [("mono8", {}), ("mono16", {"bit_depth": 12}),
                                       ("bayer16", {"cfa": "GRBG"}), ("rgb", {})])
def test_tiff_round_trips_and_tifffile_reads_the_same_stack(tmp_path, kind, meta):
    rng = np.random.default_rng(5)
    shape = (5, 6, 8, 3) if kind == "rgb" else (5, 6, 8)
    dtype = np.uint16 if kind.endswith("16") else np.uint8
    frames = rng.integers(0, 4096 if dtype == np.uint16 else 256, shape).astype(dtype)
    src, tif, back = tmp_path / "a.vid", tmp_path / "a.tif", tmp_path / "b.vid"
    vid.write(src, frames, kind=kind, frame_rate=20, metadata=meta)
    big = kind == "mono16"  # BigTIFF, as above 4 GB
    assert run("export", src, "--format", "tiff", "-o", tif,
               *(["--bigtiff"] if big else [])).returncode == 0
    with tifffile.TiffFile(tif) as t:
        assert t.is_bigtiff == big
        assert len(t.pages) == 5 and np.array_equal(t.asarray(), frames)
        assert t.imagej_metadata["finterval"] == pytest.approx(0.05)
    extra = ["--kind", kind, "--cfa", meta["cfa"]] if kind.startswith("bayer") else []
    r = run("import", back, tif, *extra)
    assert r.returncode == 0, r.stderr
    clip = vid.open(back)
    assert clip.kind == kind and clip.frame_rate == pytest.approx(20)
    read = [clip[k] if kind == "rgb" else clip.mosaic(k) for k in range(5)]
    assert np.array_equal(np.stack(read), frames)


def test_tiled_pages_import_whole(tmp_path):
    frames = np.random.default_rng(4).integers(0, 65535, (3, 40, 56)).astype(np.uint16)
    with tifffile.TiffWriter(tmp_path / "tiled.tif") as w:
        for page in frames:  # 16 x 16 tiles, partial ones at the right and bottom edges
            w.write(page, tile=(16, 16), photometric="minisblack")
    assert run("import", tmp_path / "t.vid", tmp_path / "tiled.tif").returncode == 0
    clip = vid.open(tmp_path / "t.vid")
    assert np.array_equal(np.stack([clip.mosaic(k) for k in range(3)]), frames)


def test_hostile_tiffs_are_refused_with_the_reason(tmp_path):
    good = tmp_path / "good.tif"
    tifffile.imwrite(good, np.zeros((3, 6, 8), np.uint16))
    data = good.read_bytes()
    (tmp_path / "cut.tif").write_bytes(data[:len(data) // 2])
    with tifffile.TiffWriter(tmp_path / "mixed.tif") as w:
        w.write(np.zeros((6, 8), np.uint8))
        w.write(np.zeros((7, 8), np.uint8))
    tifffile.imwrite(tmp_path / "float.tif", np.zeros((2, 6, 8), np.float32))
    tifffile.imwrite(tmp_path / "huge.tif", np.zeros((1, 70000), np.uint8))
    for name, says in [("cut", "page"), ("mixed", "unlike page 0"), ("float", "unsigned"),
                       ("huge", "70000 x 1 pixels")]:
        r = run("import", tmp_path / (name + ".vid"), tmp_path / (name + ".tif"))
        assert r.returncode == 1 and says in r.stderr and name + ".tif" in r.stderr, r.stderr
        assert not (tmp_path / (name + ".vid")).exists()


def test_zarr_dask_and_xarray_read_a_clip_through_its_store(tmp_path):
    zarr = pytest.importorskip("zarr")
    import dask.array as da
    import xarray as xr
    path = tmp_path / "z.vid"
    frames = np.random.default_rng(7).integers(0, 4096, (5, 6, 8)).astype(np.uint16)
    stamps = [10**18 + k * 25_000_000 for k in range(5)]
    vid.write(path, frames, kind="bayer16", timestamps=stamps, frame_rate=40,
              metadata={"cfa": "RGGB", "bit_depth": 12})
    clip = vid.open(path)
    raw = zarr.open(vid.zarr_store(path, raw=True), mode="r")
    assert raw.shape == frames.shape and np.array_equal(raw[1:4], frames[1:4])
    assert raw.attrs["frame_rate"] == 40 and raw.attrs["timestamps"] == stamps
    assert raw.attrs["sensor"]["cfa"] == "RGGB"
    pictures = da.from_zarr(vid.zarr_store(path))
    assert np.array_equal(pictures[2].compute(), clip[2])
    ds = xr.open_zarr(vid.zarr_store(path, raw=True, dataset=True))
    assert ds.frames.dtype == np.uint16 and np.array_equal(ds.frames.values, frames)
    assert ds.time.values.astype(np.int64).tolist() == stamps
    with pytest.raises(vid.VidError):
        vid.zarr_store(path)["0.0.0"] = b""
