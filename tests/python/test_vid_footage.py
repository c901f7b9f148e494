"""Footage in and out: packed raw streams, camera times through a CSV round trip, and no
invented times."""
import os
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
