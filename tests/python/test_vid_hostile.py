"""The Python package against hostile files, races and odd arguments."""
import errno
import os
import resource
import struct
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import vid


def frames(n, h=24, w=32, seed=0):
    return np.random.default_rng(seed).integers(0, 256, (n, h, w, 3), dtype=np.uint8)


def test_paths_that_would_name_another_file_are_refused(tmp_path):
    victim = tmp_path / "victim"
    victim.write_bytes(b"keep me")
    for bad in (str(victim) + "\0.vid", bytes(victim) + b"\0.vid"):
        with pytest.raises(vid.VidError, match="null byte"):
            vid.create(bad, 8, 8)
        with pytest.raises(ValueError):
            vid.open(bad)
    with pytest.raises(OSError) as e:
        vid.create(str(tmp_path / ("x" * 200)) * 30, 8, 8)
    assert e.value.errno == errno.ENAMETOOLONG
    assert victim.read_bytes() == b"keep me"


def test_bytes_and_undecodable_paths_go_through_the_file_system_encoding(tmp_path):
    raw = os.fsencode(tmp_path) + b"/clip\xff.vid"
    vid.write(raw, frames(2))
    name = os.fsdecode(raw)  # a str with a surrogate escape
    with vid.open(name) as clip:
        assert clip.path == name and len(clip) == 2
    with vid.open(raw) as clip:
        assert clip.path == name
    with pytest.raises(OSError) as e:
        vid.open(os.fsencode(tmp_path) + b"/missing\xfe.vid")
    assert e.value.errno == errno.ENOENT and "missing\udcfe.vid" in str(e.value)


def test_close_racing_reads_never_gives_wrong_pixels(tmp_path):
    data = frames(8)
    vid.write(tmp_path / "c.vid", data)
    for _ in range(20):
        clip = vid.open(tmp_path / "c.vid")
        wrong, other = [], []

        def reader(k):
            for _ in range(30):
                try:
                    if not np.array_equal(clip[k % 8], data[k % 8]):
                        wrong.append(k)
                except vid.VidError as e:
                    if "closed" not in str(e):
                        other.append(str(e))
                    return

        threads = [threading.Thread(target=reader, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        clip.close()
        for t in threads:
            t.join()
        assert wrong == [] and other == []
    assert "closed" in repr(clip)
    with pytest.raises(vid.VidError, match="closed"):
        len(clip)


def test_workers_read_only_the_file_that_is_open(tmp_path):
    path = tmp_path / "c.vid"
    data = frames(6)
    vid.write(path, data)
    with vid.open(path) as clip:
        vid.write(tmp_path / "other.vid", frames(9, 4, 4, seed=5))
        os.replace(tmp_path / "other.vid", path)  # the path now names another file
        assert np.array_equal(clip.read(0, 6, workers=3), data)


def header(width, height, count):
    return struct.pack("<HHi", width, height, count)


@pytest.mark.parametrize("width,height", [(0, 10), (10, 0), (0, 0)])
def test_frames_without_pixels_raise(tmp_path, width, height):
    path = tmp_path / "z.vid"
    path.write_bytes(header(width, height, -1) + struct.pack("<q", 16) + b"\x78\x9c\x03\x00")
    with vid.open(path) as clip:
        with pytest.raises(vid.VidError, match="no pixels"):
            clip[0]
        with pytest.raises(vid.VidError):
            clip.read(0, 1, workers=2)


def test_a_black_frame_takes_no_second_frame_of_memory(tmp_path):
    # 40 frames of 8000 x 6000 announced by zero-length records: each 144 MB black frame is
    # made in the caller's array alone.
    path = tmp_path / "black.vid"
    table = struct.pack("<40q", *([8 + 8 * 40] * 40))
    path.write_bytes(header(8000, 6000, -40) + table)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    with vid.open(path) as clip:
        frame = clip[39]
        assert frame.shape == (6000, 8000, 3) and not frame.any()
        del frame
    grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024 - before
    assert grown < 1.5 * 8000 * 6000 * 3


def test_a_refused_write_raises_oserror_with_errno_and_the_file_keeps_its_frames(tmp_path):
    # A file size limit refuses the writes (EFBIG), as a full disk does (ENOSPC).
    script = textwrap.dedent("""
        import resource, signal, sys, numpy as np, vid
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        data = np.random.default_rng(1).integers(0, 256, (400, 8, 8, 3), dtype=np.uint8)
        w = vid.create(sys.argv[1], 8, 8, frames_reserved=4)
        resource.setrlimit(resource.RLIMIT_FSIZE, (int(sys.argv[2]), int(sys.argv[2])))
        try:
            for f in data:
                w.append(f)
        except OSError as e:
            print("append", e.errno, len(w), e)
        try:
            w.close()
        except OSError as e:
            print("close", e.errno, e)
    """)
    path = tmp_path / "w.vid"
    out = subprocess.run([sys.executable, "-c", script, str(path), "40000"],
                         capture_output=True, text=True, check=True).stdout
    lines = out.splitlines()
    assert lines[0].startswith("append %d " % errno.EFBIG), out
    assert lines[1].startswith("close %d " % errno.EFBIG), out
    assert "VidHeader:" not in out and "Framewise" not in out, out
    written = int(lines[0].split()[2])
    with vid.open(path) as clip:
        assert len(clip) == 4  # the table's frames; the rest are behind them for vid repair
    subprocess.run([os.environ.get("VID_BIN_DIR", ".") + "/vid", "repair", str(path),
                    str(tmp_path / "r.vid")], check=True, capture_output=True)
    with vid.open(tmp_path / "r.vid") as clip:
        assert len(clip) == written


def test_closed_empty_and_tuple_indexing(tmp_path):
    vid.create(tmp_path / "e.vid", 64, 48).close()
    with vid.open(tmp_path / "e.vid") as clip:
        assert len(clip) == 0 and clip.kind is None
    data = frames(5)
    vid.write(tmp_path / "c.vid", data)
    with vid.open(tmp_path / "c.vid") as clip:
        assert np.array_equal(clip[0, 10], data[0, 10])
        assert np.array_equal(clip[1:4, 2:5, ::2, 1], data[1:4, 2:5, ::2, 1])
        assert np.array_equal(clip[[4, 0], 3], data[[4, 0], 3])
        assert np.array_equal(clip[-1, ..., 0], data[-1, ..., 0])
        assert np.array_equal(clip[[3, 1]], data[[3, 1]])
    for bad in (0, -1, 2.5):
        with pytest.raises(vid.VidError, match="frames_per_chunk"):
            vid.dask_array(tmp_path / "c.vid", bad)


def test_each_failure_has_its_class_and_code(tmp_path):
    good = tmp_path / "g.vid"
    vid.write(good, frames(3))
    (tmp_path / "not.vid").write_bytes(b"not a VID file at all")
    damaged = tmp_path / "d.vid"
    data = bytearray(good.read_bytes())
    at = struct.unpack_from("<Q", data, 8 + 8)[0]  # frame 1's record
    data[at + 30:at + 40] = b"\x55" * 10
    damaged.write_bytes(bytes(data))
    closed = vid.open(good)
    closed.close()
    cases = [  # (what fails, class, code, built-in class)
        (lambda: vid.open(tmp_path / "missing.vid"), vid.VidOSError, "not_found",
         FileNotFoundError),
        (lambda: vid.open(tmp_path / "not.vid"), vid.VidNotVidFileError, "not_vid_file",
         ValueError),
        (lambda: vid.open(damaged)[1], vid.VidDamagedRecordError, "damaged_record", ValueError),
        (lambda: vid.open(good)[7], vid.VidIndexError, "frame_out_of_range", IndexError),
        (lambda: closed[0], vid.VidClosedError, "not_open", ValueError),
        (lambda: vid.create(tmp_path / "x.vid", 0, 8), vid.VidValueError, "bad_argument",
         ValueError),
    ]
    for fail, cls, code, builtin in cases:
        with pytest.raises(cls) as e:
            fail()
        assert e.value.code == code and isinstance(e.value, builtin), (code, e.value)
