"""vid record over Aravis's GigE Vision fake camera, streaming real GVSP packets on loopback:
every frame arrives and is written; with packet loss and no resend the damaged frames are
counted as incomplete (as Aravis's own stream counts them) and only whole frames are kept."""
import json
import os
import shutil
import subprocess
import sys
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ.get("VID_BIN_DIR", os.path.join(ROOT, "build", "bin"))
VID = os.path.join(BIN, "vid")
FAKE = shutil.which("arv-fake-gv-camera-0.8")
CAMERA = "Aravis-Fake-GV01"

has_record = subprocess.run([VID, "--help"], capture_output=True, text=True).stdout.find(
    "record ") >= 0
pytestmark = pytest.mark.skipif(FAKE is None or not has_record,
                                reason="needs aravis-tools and a vid built with Aravis")


class FakeCamera:
    def __init__(self, *args):
        self.args = [FAKE, "-i", "127.0.0.1", *args]

    def __enter__(self):
        self.p = subprocess.Popen(self.args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            out = subprocess.run([VID, "cameras", "--json"], capture_output=True, text=True)
            if any(c["id"] == CAMERA for c in json.loads(out.stdout or "[]")):
                return self
            time.sleep(0.1)
        raise RuntimeError("the fake GigE Vision camera did not appear")

    def __exit__(self, *exc):
        self.p.terminate()
        self.p.wait(timeout=10)


def record(path, *args):
    r = subprocess.run([VID, "record", str(path), "--camera", CAMERA, *args],
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    meta = json.loads(subprocess.run([VID, "meta", str(path)], capture_output=True,
                                     text=True).stdout)
    return r.stdout, meta


def test_every_frame_arrives_and_loss_is_counted(tmp_path):
    with FakeCamera():
        out, meta = record(tmp_path / "clean.vid", "--frames", "60", "--frame-rate", "30",
                           "--size", "128x96", "--pixel-format", "BayerRG8")
        assert meta["drops"] == {"recorder": 0, "incomplete": 0, "missing": 0, "gaps": []}, out
        assert meta["cfa"] == "RGGB" and meta["transport"] == "GigEVision"
        info = json.loads(subprocess.run([VID, "info", "--json", str(tmp_path / "clean.vid")],
                                         capture_output=True, text=True).stdout)
        assert info["frames"] == 60
    with FakeCamera("-r", "30"):
        out, meta = record(tmp_path / "lossy.vid", "--frames", "40", "--frame-rate", "50",
                           "--size", "64x64", "--no-resend")
        drops = meta["drops"]
        assert drops["incomplete"] > 0, out
        # the count agrees with the stream's own
        assert "counted %d damaged frames" % drops["incomplete"] in out, out
        # only whole frames were written, and every one reads
        verify = subprocess.run([VID, "verify", str(tmp_path / "lossy.vid")],
                                capture_output=True, text=True)
        assert verify.returncode == 0, verify.stdout + verify.stderr


if __name__ == "__main__":
    sys.exit(pytest.main([__file__, "-q"]))
