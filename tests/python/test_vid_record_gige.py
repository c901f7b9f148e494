"""vid record over Aravis's GigE Vision fake camera, streaming real GVSP packets on loopback:
every frame arrives and is written; with packet loss and no resend the damaged frames are
counted as incomplete (as Aravis's own stream counts them) and only whole frames are kept. And
the Python twin, vid.cameras() and vid.record(), over the in-process fake camera."""
import json
import os
import shutil
import signal
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
pytestmark = pytest.mark.skipif(not has_record, reason="needs a vid built with Aravis")


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


@pytest.mark.skipif(FAKE is None, reason="needs aravis-tools (the fake GigE Vision camera)")
def test_every_frame_arrives_and_loss_is_counted(tmp_path):
    with FakeCamera():
        out, meta = record(tmp_path / "clean.vid", "--frames", "60", "--frame-rate", "30",
                           "--size", "128x96", "--pixel-format", "BayerRG8")
        assert meta["drops"] == {"recorder": 0, "incomplete": 0, "missing": 0, "gaps": []}, out
        assert meta["cfa"] == "RGGB" and meta["transport"] == "GigEVision"
        info = json.loads(subprocess.run([VID, "info", "--json", str(tmp_path / "clean.vid")],
                                         capture_output=True, text=True).stdout)
        assert info["frames"] == 60
    with FakeCamera("-r", "5"):
        out, meta = record(tmp_path / "lossy.vid", "--frames", "40", "--duration", "20",
                           "--frame-rate", "50", "--size", "64x64", "--no-resend")
        drops = meta["drops"]
        assert drops["incomplete"] > 0, out
        # the count agrees with the stream's own
        assert "counted %d damaged frames" % drops["incomplete"] in out, out
        # only whole frames were written, and every one reads
        verify = subprocess.run([VID, "verify", str(tmp_path / "lossy.vid")],
                                capture_output=True, text=True)
        assert verify.returncode == 0, verify.stdout + verify.stderr


def test_python_twin_records_the_in_process_fake(tmp_path):
    import vid
    assert any(c["id"] == "Fake_1" and "Mono16" in c["pixel_formats"]
               for c in vid.cameras(fake=True))
    path = tmp_path / "twin.vid"
    seen = []
    s = vid.record(path, camera="Fake_1", frames=30, pixel_format="Mono16", size=(64, 48),
                   frame_rate=100, metadata={"sample": "kidney"},
                   progress=lambda *a: seen.append(a))
    assert s["frames"] == 30 and s["ended_by"] == "frames"
    assert s["drops"] == {"recorder": 0, "incomplete": 0, "missing": 0}
    clip = vid.open(path)
    assert (len(clip), clip.kind, clip.shape[1:]) == (30, "mono16", (48, 64))
    assert clip.metadata["sample"] == "kidney" and clip.metadata["pixel_format"] == "Mono16"
    with pytest.raises(RuntimeError, match="cannot be stored in a clip"):
        vid.record(tmp_path / "no.vid", camera="Fake_1", frames=1, pixel_format="YUV422_8")
    assert not (tmp_path / "no.vid").exists()


def frames_on_disk(path):
    r = subprocess.run([VID, "info", "--json", str(path)], capture_output=True, text=True)
    return json.loads(r.stdout)["frames"] if r.returncode == 0 else 0


@pytest.mark.parametrize("how", [signal.SIGINT, signal.SIGKILL])
def test_ctrl_c_finishes_the_file_and_kill_keeps_every_frame(tmp_path, how):
    import numpy as np
    import vid
    path = tmp_path / "live.vid"
    p = subprocess.Popen([VID, "record", str(path), "--camera", "Fake_1", "--frame-rate", "50",
                          "--size", "64x48", "--duration", "60"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        for _ in range(200):
            if frames_on_disk(path) >= 10:
                break
            time.sleep(0.05)
        p.send_signal(how)
        out, err = p.communicate(timeout=30)
    finally:
        if p.poll() is None:
            p.kill()
    if how == signal.SIGINT:
        assert p.returncode == 0, err
        assert "ended by stop" in out
        info = json.loads(subprocess.run([VID, "info", "--json", str(path)],
                                         capture_output=True, text=True).stdout)
        assert info["state"] == "complete" and info["frames"] >= 10
        assert vid.open(path).metadata["drops"]["recorder"] == 0
    else:
        clip = vid.open(path)
        assert len(clip) >= 10
        t = clip.timestamps
        assert t is not None and len(t) == len(clip) and np.all(np.diff(t) > 0)
        for k in range(len(clip)):
            clip.mosaic(k)


def test_refusals_are_one_line_and_exit_1(tmp_path):
    for args, says in [(["--camera", "NoSuchCamera_7"], "NoSuchCamera_7"),
                       (["--camera", "Fake_1", "--set", "NoSuchFeature=3"], "unknown feature"),
                       (["--camera", "Fake_1", "--pixel-format", "YUV422_8"], "cannot be stored")]:
        r = subprocess.run([VID, "record", str(tmp_path / "x.vid"), "--frames", "3", *args],
                           capture_output=True, text=True, timeout=60)
        assert r.returncode == 1 and says in r.stderr, r.stderr
        assert len(r.stderr.strip().splitlines()) == 1, r.stderr
        assert not (tmp_path / "x.vid").exists()


if __name__ == "__main__":
    sys.exit(pytest.main([__file__, "-q"]))
