"""Recordings against what a second hostile campaign tried: followers of a path another
recording took, the first milliseconds of a file, a finish on a full disk, clip blocks whose
checksum holds over broken fields, missing timestamps, and inputs that announce more than they
hold."""

import json
import os
import resource
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
SHIM = os.environ.get("VID_TEST_SHIM")
NO_TIME = -2**63


def frames(n, h=16, w=16, seed=0):
    return np.random.default_rng(seed).integers(0, 256, (n, h, w, 3), dtype=np.uint8)


def run(*args, **kw):
    return subprocess.run([VID, *map(str, args)], capture_output=True, text=True, timeout=60, **kw)


def info(path):
    r = run("info", "--json", path)
    return json.loads(r.stdout)  # valid JSON whatever the block holds


def trailer(b):
    return struct.unpack_from("<Q", b, 8)[0] - 80


def reforge(path, metadata=None, start=None, rate=None, version=None, stamp=None):
    """Rewrites fields of a file's clip block and gives it a checksum that holds again."""
    b = bytearray(open(path, "rb").read())
    t = trailer(b)
    n = struct.unpack_from("<I", b, t + 72)[0]
    if metadata is not None:
        assert len(metadata) <= n
        b[t - n:t] = metadata.ljust(n, b" ")
    if start is not None:
        b[t + 40:t + 72] = start.ljust(32, b"\0")
    if rate is not None:
        struct.pack_into("<d", b, t + 32, rate)
    if version is not None:
        struct.pack_into("<I", b, t + 8, version)
    if stamp is not None:
        slots = struct.unpack_from("<Q", b, t + 24)[0]
        struct.pack_into("<q", b, t - n - 8 * slots + 8 * stamp[0], stamp[1])
    struct.pack_into("<I", b, t + 76, zlib.crc32(bytes(b[t - n:t]) + bytes(b[t:t + 76])))
    open(path, "wb").write(b)


def test_a_follower_moves_only_to_its_own_recording(tmp_path):
    path = tmp_path / "r.vid"
    a = vid.create(path, 16, 16, frames_reserved=100000, frame_rate=10)
    for f in frames(10):
        a.append(f)
    follower = vid.open(path)
    assert len(follower) == 10
    a.close()  # the finish gives back the unused table: a new file renamed into place
    assert follower.refresh() == 10 and follower.finished
    # another recording to the same name, of the same size and kind and more frames: every
    # follower ends with a message
    a = vid.create(path, 16, 16, frames_reserved=64, frame_rate=10)
    for f in frames(10):
        a.append(f)
    follower = vid.open(path)
    watcher = subprocess.Popen([VID, "watch", path, "--interval", "0.05"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    while not watcher.stdout.readline().startswith(str(path)):
        pass
    vid.write(path, frames(30, seed=1))  # as vid import, crop and convert replace by rename
    _, err = watcher.communicate(timeout=20)
    assert watcher.returncode == 1 and "replaced by another recording" in err
    with pytest.raises(vid.VidError, match="replaced by another recording"):
        follower.refresh()
    with pytest.raises(vid.VidError, match="replaced by another recording"):
        for _ in vid.follow(path, timeout=5):
            vid.write(path, frames(50, seed=3))
    # the first writer's finish takes nothing from the file that has its name now
    with pytest.raises(vid.VidError, match="another file took its name") as e:
        a.close()
    aside = [p for p in tmp_path.iterdir() if p.name.startswith("r.vid.partial")]
    assert len(aside) == 1 and str(aside[0]) in str(e.value)
    assert len(vid.open(path)) == 50 and len(vid.open(aside[0])) == 10
    assert run("watch", tmp_path / "never.vid", "--idle", "0.3").returncode == 1


def test_a_new_recording_is_readable_from_the_moment_its_name_exists(tmp_path):
    path = tmp_path / "new.vid"
    poller = subprocess.Popen([sys.executable, "-c", textwrap.dedent("""
        import os, sys, time, vid
        path = sys.argv[1]
        print("ready", flush=True)
        end = time.time() + 30
        while not os.path.exists(path) and time.time() < end:
            pass
        with vid.open(path) as clip:
            print(len(clip), clip.finished, flush=True)
    """), str(path)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert poller.stdout.readline().strip() == "ready"
    with vid.create(path, 64, 64, kind="bayer16", frames_reserved=1_000_000) as w:
        out, err = poller.communicate(timeout=60)
        assert poller.returncode == 0, err
        assert out.split() == ["0", "False"]
        w.append(np.zeros((64, 64), np.uint16))
    assert not [p for p in os.listdir(tmp_path) if "partial" in p]


@pytest.mark.skipif(not SHIM, reason="the disk-filling shim is built only without sanitizers")
def test_a_finish_on_a_full_disk_keeps_a_complete_finished_file(tmp_path):
    path = tmp_path / "f.vid"
    # The second file made beside f.vid (after the writer's own creation) is the finish's
    # compacted copy: the disk is full for it.
    child = subprocess.run([sys.executable, "-c", textwrap.dedent("""
        import sys, numpy as np, vid
        w = vid.create(sys.argv[1], 32, 32, kind="bayer16", frames_reserved=200000)
        for k in range(20):
            w.append(np.full((32, 32), k, np.uint16), timestamp=k)
        try:
            w.close()
        except vid.VidError as e:
            print(e)
    """), str(path)], capture_output=True, text=True, timeout=60,
        env=dict(os.environ, LD_PRELOAD=SHIM, VID_FULL_DISK="f.vid.partial:2"))
    assert "keeps all its 20 frames, complete and finished" in child.stdout, child
    assert "No space left on device" in child.stdout
    with vid.open(path) as clip:
        assert len(clip) == 20 and clip.finished and clip.timestamps.tolist() == list(range(20))
        assert clip.mosaic(19)[0, 0] == 19
    # a repaired file is finished too
    assert run("repair", path, tmp_path / "r.vid").returncode == 0
    assert info(tmp_path / "r.vid")["finished"] is True
    assert [k for k, _, _ in vid.follow(tmp_path / "r.vid", timeout=5)] == list(range(20))


def test_missing_timestamps_are_masked_and_nat(tmp_path):
    path = tmp_path / "t.vid"
    vid.write(path, frames(4), frame_rate=25, timestamps=[0, 40_000_000, 80_000_000, 120_000_000])
    reforge(path, stamp=(2, NO_TIME))
    with vid.open(path) as clip:
        t = clip.timestamps
        assert t.mask.tolist() == [False, False, True, False]
        assert t.compressed().tolist() == [0, 40_000_000, 120_000_000]
    time = vid.xarray(path).time.values
    assert time.dtype == np.dtype("datetime64[ns]")
    assert np.isnat(time).tolist() == [False, False, True, False]
    assert time[3] == np.datetime64(120_000_000, "ns")
    text = run("info", path).stdout
    assert "1 of 4 frames without one" in text and "gaps           none" in text
    assert info(path)["first_timestamp"] == 0


def test_broken_fields_under_a_good_checksum_lose_only_themselves(tmp_path):
    src = tmp_path / "src.vid"
    pad = "x" * 25000
    vid.write(src, frames(3), frame_rate=50, metadata={"pad": pad}, timestamps=[5, 6, 7])
    deep = b"{\"a\": " + b"[" * 3000 + b"]" * 3000 + b"}"
    cases = [  # (field, value, what the reader says)
        ("metadata", deep, "nested deeper than 64"),
        ("metadata", b'{"a": .5}', "not valid JSON"),
        ("metadata", b'{"a": "\x1b[31m"}', "not valid JSON"),
        ("metadata", b"[1, 2]", "must be a JSON object"),
        ("metadata", b"{} x", "not valid JSON"),
        ("metadata", b'{"a": "\xff"}', "not valid JSON"),
        ("start", b"\xff\xfe2026", "start time is not printable"),
        ("rate", 5e-324, "frame rate is not a rate"),
        ("rate", float("inf"), "frame rate is not a rate"),
    ]
    for field, value, said in cases:
        path = tmp_path / "c.vid"
        path.write_bytes(src.read_bytes())
        reforge(path, **{field: value})
        with vid.open(path) as clip, warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            assert clip.timestamps.tolist() == [5, 6, 7], field
            assert clip.finished is True
            assert clip.metadata is (None if field == "metadata" else clip.metadata)
            assert clip.start_time is None or field != "start"
            assert clip.frame_rate == (None if field == "rate" else 50)
            assert np.array_equal(clip[2], frames(3)[2])
        assert any(said in str(w.message) for w in caught), (field, value)
        facts = info(path)
        assert facts["clip_block"] == "damaged" and facts["last_timestamp"] == 7
        assert facts["duration"] is not None and facts["duration"] < 1
        text = run("info", path).stdout
        assert "\x1b" not in text and said in text
        # the frames and times go on through every command that carries a block
        for command in (["convert", path, tmp_path / "v.vid"],
                        ["crop", tmp_path / "k.vid", path, "--frames", "1:"],
                        ["export", path, "--timestamps", tmp_path / "t.csv", "--format", "raw",
                         "-o", tmp_path / "f.raw"]):
            r = run(*command)
            assert r.returncode == 0, (field, command, r.stderr)
        assert vid.open(tmp_path / "k.vid").timestamps.tolist() == [6, 7]
    # a start time of all 32 characters and metadata that is no object are carried along too
    path.write_bytes(src.read_bytes())
    reforge(path, start=b"2026-12-10T08:15:02.123456789+01", metadata=b"[]")
    assert run("convert", path, tmp_path / "w.vid").returncode == 0
    assert vid.open(tmp_path / "w.vid").start_time == "2026-12-10T08:15:02.123456789+01"
    path.write_bytes(src.read_bytes())
    reforge(path, version=0)
    assert "layout version 0 is not a layout version" in run("info", path).stdout
    # a block beyond reading: the frames are exported all the same, the status says the rest
    r = run("export", path, "--timestamps", tmp_path / "u.csv", "--format", "raw", "-o",
            tmp_path / "u.raw")
    assert r.returncode == 1 and "damaged" in r.stderr
    assert (tmp_path / "u.raw").read_bytes() == frames(3).tobytes()


def test_writers_check_what_they_are_given(tmp_path):
    import datetime
    p = tmp_path / "w.vid"
    nested = {"a": 1}
    for _ in range(70):
        nested = {"n": nested}
    refused = [dict(metadata=nested), dict(frame_rate=1e-300), dict(frame_rate=1e12),
               dict(start_time=datetime.datetime(2026, 12, 10)), dict(start_time=5)]
    for kw in refused:
        with pytest.raises(vid.VidError):
            vid.create(p, 8, 8, **kw)
    aware = datetime.datetime(2026, 12, 10, 9, 15, 2, 250000,
                              tzinfo=datetime.timezone(datetime.timedelta(hours=1)))
    vid.write(p, frames(1, 8, 8), start_time=aware,
              metadata={"gain": np.float32(1.5), "n": np.int64(3), "ok": np.bool_(True),
                        "gains": np.array([1, 2])})
    with vid.open(p) as clip:
        assert clip.start_time == "2026-12-10T08:15:02.250000Z"
        assert clip.metadata == {"gain": 1.5, "n": 3, "ok": True, "gains": [1, 2]}
    img = tmp_path / "g.pgm"
    img.write_bytes(b"P5\n8 8\n255\n" + bytes(range(64)))
    for value, stored in [(".5", ".5"), ("+1", "+1"), ("01", "01"), ("1.", "1."), ("1e3", 1000.0),
                          ("[1, {\"b\": null}]", [1, {"b": None}]), ('"q"', "q"),
                          ("\x9b31m", "\x9b31m")]:
        r = run("import", "--kind", "bayer8", "--meta", "k=" + value, tmp_path / "m.vid", img)
        assert r.returncode == 0, r.stderr
        assert info(tmp_path / "m.vid")["metadata"] == {"k": stored}
        assert "\x9b" not in run("info", tmp_path / "m.vid").stdout
    for value in ('{"a":}', "[1,", "[" * 100 + "]" * 100):
        r = run("import", "--kind", "bayer8", "--meta", "k=" + value, tmp_path / "x.vid", img)
        assert r.returncode == 2 and "bad metadata" in r.stderr
    assert run("export", p, "--format", "mp4", "--fps", "1e-300").returncode == 2
    # what a crop cuts to its input's frames is said; a name's control bytes never reach the
    # terminal
    odd = tmp_path / "e\x1b[31m.vid"
    vid.write(odd, frames(30))
    r = run("crop", tmp_path / "c.vid", odd, "--frames", "20:40", "--box", "0,0,50,8")
    assert r.returncode == 0 and len(vid.open(tmp_path / "c.vid")) == 10
    assert "frames 20:40 of its 30 taken as 20:30" in r.stderr
    assert "box 0,0,50,8 of its 16 x 16 pixels taken as 0,0,16,8" in r.stderr
    assert "\x1b" not in run("info", odd).stdout


def limited(megabytes):
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))
    return limit


def test_floods_and_long_tables_cost_what_they_hold(tmp_path):
    # vid repair of 16 MB of forged markers in 200 MB of address space (it took 15 times the
    # file's size)
    flood = tmp_path / "flood.vid"
    flood.write_bytes(bytes(8) + bytes([0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18]) * 2_000_000)
    r = run("repair", flood, tmp_path / "out.vid", preexec_fn=limited(200))
    assert r.returncode == 1 and "more dropped" in r.stderr and "no intact frame" in r.stderr
    # a follower walks only what was appended since it last looked: an early record behind the
    # full table that is overwritten afterwards does not hide the frames that follow it
    path = tmp_path / "grown.vid"
    w = vid.create(path, 16, 16, frames_reserved=4)
    for f in frames(12):
        w.append(f)
    clip = vid.open(path)
    assert clip.refresh() == 12
    data = path.read_bytes()
    marker = bytes([0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18])
    starts = [i for i in range(len(data)) if data.startswith(marker, i)]
    assert len(starts) == 12
    with open(path, "r+b") as f:  # the marker of frame 6, behind the table
        f.seek(starts[6])
        f.write(b"\0")
    for f in frames(5, seed=4):
        w.append(f)
    assert clip.refresh() == 17
    assert np.array_equal(clip[16], frames(5, seed=4)[4])
    with open(path, "r+b") as f:
        f.seek(starts[6])
        f.write(marker[:1])
    # vid info counts the frames beyond the table among the stored ones
    facts = info(path)
    assert facts["frames"] == 4 and facts["frames_beyond_table"] == 13
    assert facts["stored_bytes_per_frame"] < 1.2 * path.stat().st_size / 17
    w.close()
    assert len(vid.open(path)) == 17
