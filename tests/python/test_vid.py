"""The Python package vid: round trips, indexing rules, refusals, damaged files, equality
with the C++ reader (through `vid export`), threads, and the dask path."""

import os
import subprocess
import threading

import numpy as np
import pytest

import vid

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ.get("VID_BIN_DIR", os.path.join(ROOT, "build", "bin"))
SAMPLE = os.path.join(ROOT, "samples", "sample_bayer.vid")


def frames(n, h=24, w=32, seed=0):
    rng = np.random.default_rng(seed)
    base = np.add.outer(np.arange(h), np.arange(w))[..., None] + np.arange(3) * 40
    return np.stack([(base + 7 * k + rng.integers(0, 4, base.shape)) % 256
                     for k in range(n)]).astype(np.uint8)


def cpp_frames(path, *options):
    """What the C++ reader returns for every frame, through vid export --format raw."""
    out = subprocess.run([os.path.join(BIN, "vid"), "export", str(path), "--format", "raw",
                          *options, "-o", "-"], check=True, capture_output=True).stdout
    return np.frombuffer(out, np.uint8)


def test_round_trip_and_indexing(tmp_path):
    data = frames(7)
    path = tmp_path / "a.vid"
    vid.write(path, data)
    with vid.open(path) as clip:
        assert (len(clip), clip.width, clip.height, clip.kind) == (7, 32, 24, "rgb")
        assert clip.shape == data.shape
        assert np.array_equal(clip[0], data[0]) and np.array_equal(clip[-1], data[6])
        assert np.array_equal(clip[2:5], data[2:5]) and np.array_equal(clip[::3], data[::3])
        assert np.array_equal(clip[[6, 0, 3]], data[[6, 0, 3]])
        assert np.array_equal(clip.read(1, 6, workers=3), data[1:7])   # frames side by side
        assert np.array_equal(np.stack(list(clip)), data)
        for bad in (7, -8):
            with pytest.raises(IndexError):
                clip[bad]
        with pytest.raises(TypeError):
            clip[1.5]
    assert np.array_equal(cpp_frames(path), data.ravel())


def test_writer_takes_any_strides_refuses_other_arrays_and_is_readable_after_each_append(
        tmp_path):
    data = frames(5)
    path = tmp_path / "b.vid"
    with vid.create(path, 32, 24, effort=1, frames_reserved=2) as w:
        for k in range(5):
            w.append(np.asfortranarray(data[k]))      # other strides
            with vid.open(path) as clip:               # readable after every append
                assert np.array_equal(clip[min(k, 1)], data[min(k, 1)])
        for bad in (data[0].astype(np.uint16), data[0][:, :, :2], data[0].T, data[:2]):
            with pytest.raises(ValueError, match="expected a uint8 array of shape"):
                w.append(bad)
    with vid.open(path) as clip:
        assert np.array_equal(clip[:], data)
    for effort in (0, 10):
        with pytest.raises(vid.VidError, match="effort"):
            vid.create(tmp_path / "c.vid", 32, 24, effort=effort)
    assert not (tmp_path / "c.vid").exists()


def test_bayer_frames_and_mosaic_equal_the_cpp_reader():
    with vid.open(SAMPLE) as clip:
        assert clip.kind == "bayer16"
        assert np.array_equal(clip[:].ravel(), cpp_frames(SAMPLE))
        mosaic = clip.mosaic(3)
        assert mosaic.dtype == np.uint16 and mosaic.shape == (clip.height, clip.width)
        raw = cpp_frames(SAMPLE, "--mosaic", "--frames", "3:4").view("<u2")
        assert np.array_equal(mosaic.ravel(), raw)


def test_errors_are_exceptions_and_nothing_is_printed(tmp_path, capfd):
    missing = tmp_path / "missing.vid"
    with pytest.raises(vid.VidError) as e:
        vid.open(missing)
    assert isinstance(e.value, OSError) and e.value.errno == 2
    data = frames(3)
    damaged = tmp_path / "d.vid"
    vid.write(damaged, data)
    raw = bytearray(damaged.read_bytes())
    raw[-40] ^= 0xFF                                    # inside the last record
    damaged.write_bytes(bytes(raw))
    with vid.open(damaged) as clip:
        assert np.array_equal(clip[0], data[0])
        with pytest.raises(ValueError) as e:
            clip[2]
        # the file, the frame as Python counts it, the reason in plain words
        assert isinstance(e.value, vid.VidError)
        assert str(e.value) == "%s: frame 2: damaged record (its record does not expand to " \
            "the frame's %d bytes)" % (damaged, 3 * clip.width * clip.height), str(e.value)
    (tmp_path / "junk.vid").write_bytes(b"xyz")
    with pytest.raises(ValueError):
        vid.open(tmp_path / "junk.vid")
    out, err = capfd.readouterr()
    assert out == "" and err == ""
    # A failed open leaves no descriptor behind.
    before = len(os.listdir("/proc/self/fd"))
    for _ in range(1000):
        with pytest.raises(vid.VidError):
            vid.open(missing)
    assert len(os.listdir("/proc/self/fd")) == before


def test_one_clip_from_several_threads(tmp_path):
    data = frames(12)
    path = tmp_path / "t.vid"
    vid.write(path, data)
    bad = []
    with vid.open(path) as clip:
        def work(offset):
            for k in list(range(offset, 12)) * 3:
                if not np.array_equal(clip[k], data[k]):
                    bad.append(k)
        threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert bad == []


def test_dask_array_per_frame_mean(tmp_path):
    pytest.importorskip("dask")
    data = frames(10)
    path = tmp_path / "k.vid"
    vid.write(path, data)
    lazy = vid.dask_array(path, frames_per_chunk=4)
    assert lazy.shape == data.shape and lazy.chunks[0] == (4, 4, 2)
    means = lazy.mean(axis=(1, 2, 3)).compute(scheduler="threads")
    assert np.allclose(means, data.mean(axis=(1, 2, 3)))


def test_crop_trims_merges_and_refuses_like_the_command(tmp_path):
    data = frames(6, 8, 16)
    a = tmp_path / "a.vid"
    vid.write(a, data)
    assert vid.crop(tmp_path / "t.vid", a, frames=range(1, 4)) == (3, 8, 16)
    with vid.open(tmp_path / "t.vid") as t:
        assert np.array_equal(t[:], data[1:4])
    # stacked, the second input's box only, 8 rows of black between them
    n, h, w = vid.crop(tmp_path / "s.vid", [a, a], layout="stacked", gap=8,
                       box=[None, (4, 0, 8, 8)], background=(0, 0, 0))
    assert (n, h, w) == (6, 24, 16)
    with vid.open(tmp_path / "s.vid") as s:
        assert np.array_equal(s[2][:8], data[2])
        assert not s[2][8:16].any()
        assert np.array_equal(s[2][16:, 4:12], data[2][:, 4:12])
    with pytest.raises(vid.VidError, match="also an input"):
        vid.crop(a, a)
    with pytest.raises(FileNotFoundError):
        vid.crop(tmp_path / "o.vid", tmp_path / "missing.vid")
    assert not (tmp_path / "o.vid").exists()
