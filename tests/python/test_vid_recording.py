"""Recording: Bayer mosaics through every writer, timestamps, frame rate and metadata in the
clip block, what readers that know nothing of the block read, damaged blocks, a killed
writer, the command line, and the dask/xarray path on worker processes."""

import json
import os
import pickle
import signal
import struct
import subprocess
import sys
import textwrap
import warnings
import zlib

import numpy as np
import pytest

import vid

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ.get("VID_BIN_DIR", os.path.join(ROOT, "build", "bin"))
VID = os.path.join(BIN, "vid")
KINDS = {"bayer16": np.uint16, "bayer8": np.uint8}


def mosaics(n, kind, h=24, w=32, seed=1):
    rng = np.random.default_rng(seed)
    top = 4096 if kind == "bayer16" else 256
    base = np.add.outer(np.arange(h) * 37, np.arange(w) * 11)
    return np.stack([(base + 97 * k + rng.integers(0, 30, base.shape)) % top
                     for k in range(n)]).astype(KINDS[kind])


def plain_reader(path):
    """Frames as a reader written from the format alone sees them: header, table entry k,
    record k (a blocked-compress buffer of zlib streams, or one zlib stream). It knows
    nothing of clip blocks."""
    data = open(path, "rb").read()
    width, height, count = struct.unpack_from("<HHi", data)
    n = -count if count < 0 else count
    table = struct.unpack_from("<%dq" % n, data, 8)
    out = []
    for k in range(n):
        end = table[k + 1] if k + 1 < n else len(data)
        record = data[table[k]:end]
        if record[:8] == bytes([0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18]):
            blocks = struct.unpack_from("<I", record, 8)[0]
            sizes = struct.unpack_from("<%dI" % blocks, record, 12 + 4 * blocks)
            at, parts = 12 + 8 * blocks, []
            for size in sizes:
                parts.append(zlib.decompress(record[at:at + size]))
                at += size
            out.append(b"".join(parts))
        else:
            out.append(zlib.decompress(record))
    return (width, height, count), out


def test_bayer_round_trips_with_times_rate_and_metadata(tmp_path):
    meta = {"camera": "cam0", "exposure_us": 250, "bit_depth": 12, "gains": [1.0, 1.2, 2.9],
            "trigger_frame": 3, "description": "über"}
    for kind, dtype in KINDS.items():
        meta["bit_depth"] = 12 if kind == "bayer16" else 8  # what a sample of the kind holds
        data = mosaics(6, kind)
        path = tmp_path / (kind + ".vid")
        stamps = [10**18 + 2_000_000 * k + (5_000_000 if k == 4 else 0) for k in range(6)]
        # frames_reserved=2: the table grows and the finish rewrites the block exactly
        with vid.create(path, 32, 24, kind=kind, frame_rate=500, metadata=meta,
                        frames_reserved=2, effort=2) as w:
            for k in range(6):
                w.append(data[k], timestamp=stamps[k])
        with vid.open(path) as clip:
            assert (clip.kind, len(clip), clip.frame_rate, clip.metadata) == (kind, 6, 500, meta)
            assert clip.timestamps.dtype == np.int64 and clip.timestamps.tolist() == stamps
            assert clip.start_time.endswith("Z") and clip.start_time[:2] == "20"
            assert all(np.array_equal(clip.mosaic(k), data[k]) for k in range(6))
            assert pickle.loads(pickle.dumps(clip))[5].shape == (24, 32, 3)
        # a reader from the format alone: the same samples, little-endian
        _, records = plain_reader(path)
        assert [np.frombuffer(r, "<u2" if kind == "bayer16" else "u1").reshape(24, 32).tolist()
                for r in records] == data.tolist()
        info = json.loads(subprocess.run([VID, "info", "--json", str(path)], check=True,
                                         capture_output=True, text=True).stdout)
        assert (info["frame_rate"], info["gaps"], info["metadata"], info["finished"]) == \
            (500, 1, meta, True)
        assert info["largest_gap"] == {"from_frame": 3, "to_frame": 4, "seconds": 0.007}
    # vid.write and the host's clock when no timestamp is given
    data = mosaics(3, "bayer16")
    vid.write(tmp_path / "w.vid", data, kind="bayer16")
    with vid.open(tmp_path / "w.vid") as clip:
        t = clip.timestamps
        assert np.array_equal(np.stack([clip.mosaic(k) for k in range(3)]), data)
        assert abs(int(t[0]) / 1e9 - __import__("time").time()) < 60 and np.all(np.diff(t) >= 0)
    with pytest.raises(ValueError):
        vid.create(tmp_path / "x.vid", 32, 24, kind="bayer12")
    with vid.create(tmp_path / "y.vid", 32, 24, kind="bayer8") as w:
        with pytest.raises(ValueError):
            w.append(data[0])        # uint16 into a one-byte file


def test_existing_readers_read_a_file_with_a_block_as_the_same_file_without(tmp_path):
    data = mosaics(5, "bayer16")
    plain, recorded = tmp_path / "plain.vid", tmp_path / "recorded.vid"
    raw = data.astype("<u2").tobytes()
    (tmp_path / "s.raw").write_bytes(raw)
    for out, extra in ((plain, []), (recorded, ["--frame-rate", "250", "--meta", "camera=c"])):
        subprocess.run([VID, "import", str(out), "--kind", "bayer16", "--size", "32x24",
                        str(tmp_path / "s.raw"), *extra], check=True)
    assert plain_reader(plain) == plain_reader(recorded)
    assert os.path.getsize(recorded) > os.path.getsize(plain)
    dumps = []
    for f in (plain, recorded):
        folder = tmp_path / (f.stem + "_dump")
        folder.mkdir()
        subprocess.run([os.path.join(BIN, "framewise"), str(f)], cwd=folder, check=True,
                       capture_output=True)
        dumps.append([(folder / "frames" / n).read_bytes()
                      for n in sorted(os.listdir(folder / "frames"))])
    assert dumps[0] == dumps[1] and len(dumps[0]) == 5
    with vid.open(recorded) as clip:
        assert clip.timestamps.tolist() == [k * 4_000_000 for k in range(5)]  # k / rate
    with vid.open(plain) as clip:
        assert (clip.timestamps, clip.frame_rate, clip.metadata) == (None, None, {})


def test_damaged_block_is_said_and_frames_read_as_ever(tmp_path):
    data = mosaics(3, "bayer16")
    path = tmp_path / "d.vid"
    vid.write(path, data, kind="bayer16", metadata={"camera": "c"}, frame_rate=100)
    raw = bytearray(path.read_bytes())
    at = raw.index(b'"camera"')
    raw[at + 2] ^= 0x20                      # the metadata no longer matches its checksum
    path.write_bytes(bytes(raw))
    with vid.open(path) as clip:
        with pytest.warns(vid.VidMetadataWarning, match="damaged"):
            assert clip.frame_rate is None
        assert np.array_equal(clip.mosaic(2), data[2]) and clip.timestamps is None
    out = subprocess.run([VID, "info", str(path)], capture_output=True, text=True)
    assert out.returncode == 0 and "clip block     damaged" in out.stdout
    assert subprocess.run([VID, "verify", str(path)], capture_output=True).returncode == 0


def test_killed_bayer_writer_keeps_every_returned_frame_with_its_time(tmp_path):
    path = tmp_path / "k.vid"
    script = textwrap.dedent("""
        import sys, numpy as np, vid
        w = vid.create(sys.argv[1], 64, 48, kind="bayer16", frames_reserved=4096, effort=1)
        k = 0
        while True:
            w.append(np.full((48, 64), k % 4096, np.uint16), timestamp=1000 * k)
            print(k, flush=True)
            k += 1
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.Popen([sys.executable, "-c", script, str(path)], stdout=subprocess.PIPE,
                            env=env, text=True)
    returned = -1
    for line in proc.stdout:
        returned = int(line)
        if returned >= 40:
            break
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    with vid.open(path) as clip:
        n = len(clip)
        assert n > returned
        assert clip.timestamps.tolist() == [1000 * k for k in range(n)]
        assert all(clip.mosaic(k)[0, 0] == k for k in range(n))


def test_command_line_round_trips_mosaics_and_times(tmp_path):
    data = mosaics(4, "bayer8")
    vid.write(tmp_path / "a.vid", data, kind="bayer8", frame_rate=50,
              timestamps=[0, 20_000_000, 40_000_000, 100_000_000])
    subprocess.run([VID, "export", str(tmp_path / "a.vid"), "--mosaic", "-o",
                    str(tmp_path / "png")], check=True, capture_output=True)
    images = sorted(str(p) for p in (tmp_path / "png").iterdir())
    subprocess.run([VID, "import", str(tmp_path / "b.vid"), "--kind", "bayer8", *images],
                   check=True, capture_output=True)
    with vid.open(tmp_path / "b.vid") as clip:
        assert np.array_equal(np.stack([clip.mosaic(k) for k in range(4)]), data)
    subprocess.run([VID, "export", str(tmp_path / "a.vid"), "--timestamps",
                    str(tmp_path / "t.csv"), "--frames", "1:4"], check=True)
    assert (tmp_path / "t.csv").read_text().splitlines() == [
        "frame,timestamp_ns,seconds", "1,20000000,0.000000000", "2,40000000,0.020000000",
        "3,100000000,0.080000000"]
    text = subprocess.run([VID, "info", str(tmp_path / "a.vid")], capture_output=True,
                          text=True).stdout
    assert "50 frames/s" in text and "between frames 2 and 3" in text
    # a stream that ends inside a frame keeps the whole ones and fails; limits refused early
    raw = data.tobytes()[:-5]
    r = subprocess.run([VID, "import", str(tmp_path / "c.vid"), "--kind", "bayer8", "--size",
                        "32x24", "-"], input=raw, capture_output=True)
    assert r.returncode == 1 and len(vid.open(tmp_path / "c.vid")) == 3
    r = subprocess.run([VID, "import", str(tmp_path / "d.vid"), "--kind", "bayer8", "--size",
                        "28673x1", "-"], input="", capture_output=True, text=True)
    assert r.returncode == 1 and "28672" in r.stderr and not (tmp_path / "d.vid").exists()
    # repair and crop carry the block and the kept frames' times
    subprocess.run([VID, "repair", str(tmp_path / "a.vid"), str(tmp_path / "r.vid")],
                   check=True, capture_output=True)
    vid.crop(tmp_path / "t.vid", tmp_path / "a.vid", frames=(1, 3))
    for name, times in (("r.vid", [0, 20_000_000, 40_000_000, 100_000_000]),
                        ("t.vid", [20_000_000, 40_000_000])):
        with vid.open(tmp_path / name) as clip:
            assert (clip.timestamps.tolist(), clip.frame_rate) == (times, 50)


def test_xarray_and_dask_on_a_cluster_of_worker_processes(tmp_path):
    xr = pytest.importorskip("xarray")
    distributed = pytest.importorskip("distributed")
    data = mosaics(9, "bayer16", h=32, w=48)
    path = tmp_path / "x.vid"
    vid.write(path, data, kind="bayer16", frame_rate=100,
              timestamps=[5 + 10_000_000 * k for k in range(9)])
    arr = vid.xarray(path, frames_per_chunk=4)
    assert isinstance(arr, xr.DataArray) and arr.dims == ("time", "y", "x", "channel")
    assert arr["time"].values.tolist() == [5 + 10_000_000 * k for k in range(9)]
    assert arr.attrs["frame_rate"] == 100
    with vid.open(path) as clip:
        expected = clip[:].mean(axis=(1, 2, 3))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        means = client.compute(arr.mean(dim=("y", "x", "channel")).data).result()
    assert np.allclose(means, expected)
    assert vid.dask_array(path).chunks[0] == (9,)     # default chunks are large


def test_compact_records_round_trip_convert_back_and_stay_unreadable_to_old_readers(tmp_path):
    rng = np.random.default_rng(3)
    contents = {"rgb": rng.integers(0, 256, (3, 21, 35, 3)).astype(np.uint8),
                "bayer8": mosaics(3, "bayer8", h=21, w=35),
                "bayer16": mosaics(3, "bayer16", h=21, w=35)}
    for kind, data in contents.items():
        for effort in (1, 2, 9):
            path = tmp_path / ("%s%d.vid" % (kind, effort))
            vid.write(path, data, kind=kind, effort=effort, records="compact")
            with vid.open(path) as clip:
                back = clip[:] if kind == "rgb" else np.stack([clip.mosaic(k) for k in range(3)])
                assert np.array_equal(back, data), (kind, effort)
    # classic -> compact -> classic gives the very bytes the classic writer made, block and all
    data = mosaics(5, "bayer16", h=120, w=160)
    classic, compact, back = tmp_path / "c.vid", tmp_path / "k.vid", tmp_path / "b.vid"
    vid.write(classic, data, kind="bayer16", frame_rate=60, metadata={"camera": "c"},
              timestamps=[7 * k for k in range(5)])
    subprocess.run([VID, "convert", str(classic), str(compact), "--records", "compact",
                    "--effort", "2"], check=True)
    subprocess.run([VID, "convert", str(compact), str(back)], check=True)
    assert back.read_bytes() == classic.read_bytes()
    assert os.path.getsize(compact) < os.path.getsize(classic)
    info = json.loads(subprocess.run([VID, "info", "--json", str(compact)], check=True,
                                     capture_output=True, text=True).stdout)
    assert info["records"] == {"classic": 0, "compact": 5, "black": 0}
    assert info["metadata"] == {"camera": "c"} and info["first_timestamp"] == 0
    with pytest.raises(zlib.error):     # a reader of today's records fails, never returns pixels
        plain_reader(compact)
