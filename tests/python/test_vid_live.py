"""Following recordings while they are written (real writer processes), vid watch on a terminal
and not, refresh, MP4 movies through ffmpeg, and a pipe that closes early."""

import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import vid

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ.get("VID_BIN_DIR", os.path.join(ROOT, "build", "bin"))
VID = os.path.join(BIN, "vid")
# The suite follows small frames; `make bench` (VID_FOLLOW_BENCH=1) follows 2,100 camera-sized
# frames and prints how far the follower trails the writer.
BENCH = os.environ.get("VID_FOLLOW_BENCH") == "1"
W, H = (1600, 1200) if BENCH else (160, 120)
FOLLOWED, TABLE = (2100, 512) if BENCH else (300, 64)

WRITER = textwrap.dedent("""
    import sys, time, numpy as np, vid
    path, frames, reserved = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    base = (np.add.outer(np.arange(%d) * 3, np.arange(%d) * 5) %% 4096).astype(np.uint16)
    with vid.create(path, %d, %d, kind="bayer16", effort=1, records="compact",
                    frames_reserved=reserved, frame_rate=1000) as w:
        for k in range(frames):
            w.append((base + k) & 0xFFF, timestamp=1000 * k)
            print(k, time.time(), flush=True)
    print("finished", time.time(), flush=True)
""" % (H, W, W, H))


def expected(k, base=[]):
    if not base:
        base.append((np.add.outer(np.arange(H) * 3, np.arange(W) * 5) % 4096).astype(np.uint16))
    return (base[0] + k) & 0xFFF


def start_writer(path, frames, reserved):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.Popen([sys.executable, "-c", WRITER, str(path), str(frames), str(reserved)],
                            stdout=subprocess.PIPE, env=env, text=True)
    while not (os.path.exists(path) and os.path.getsize(path) >= 8):
        time.sleep(0.002)
    return proc


def test_a_follower_takes_every_frame_while_the_writer_runs_past_its_table(tmp_path):
    path = tmp_path / "live.vid"
    writer = start_writer(path, FOLLOWED, TABLE)
    wrong = got = 0
    stamps_ok = True
    for k, frame, t in vid.follow(path, timeout=20, samples=True):
        wrong += k != got or not np.array_equal(frame, expected(k))
        stamps_ok &= t is None or t == 1000 * k     # frames past the table get theirs at the end
        got += 1
    followed_at = time.time()
    lines = writer.stdout.read().split("\n")
    assert writer.wait() == 0
    last = [l for l in lines if l.startswith("%d " % (FOLLOWED - 1))][0]
    assert (got, wrong, stamps_ok) == (FOLLOWED, 0, True)
    if BENCH:
        print("vid.follow: %d frames of %d x %d past a %d-entry table, the follower %.3f s behind "
              "the writer" % (FOLLOWED, W, H, TABLE, followed_at - float(last.split()[1])))
    with vid.open(path) as clip:                    # the finished file: every time in place
        assert clip.finished and clip.timestamps.tolist() == [1000 * k for k in range(FOLLOWED)]


def test_a_follower_of_a_killed_writer_ends_with_every_returned_frame(tmp_path):
    path = tmp_path / "killed.vid"
    writer = start_writer(path, 100000, 64)
    returned = -1
    for line in writer.stdout:
        returned = int(line.split()[0])
        if returned >= 150:
            break
    writer.send_signal(signal.SIGKILL)
    writer.wait()
    got = [k for k, frame, t in vid.follow(path, timeout=1, samples=True)
           if np.array_equal(frame, expected(k))]
    assert got == list(range(len(got))) and len(got) > returned


def test_refresh_in_python_and_octave_and_vid_watch(tmp_path):
    path = tmp_path / "r.vid"
    w = vid.create(path, 32, 24, frame_rate=10, frames_reserved=2)
    w.append(np.zeros((24, 32, 3), np.uint8), timestamp=0)
    clip = vid.open(path)
    assert len(clip) == 1 and clip.finished is False
    for k in (1, 2, 3):
        w.append(np.full((24, 32, 3), k, np.uint8), timestamp=100_000_000 * (k + 2))
    assert clip.refresh() == 4 and clip[3][0, 0, 0] == 3     # frame 3 is past the table
    octave = shutil.which("octave-cli")
    if octave:
        script = ("r = VidReader('%s'); n0 = r.NumFrames; n = refresh(r); "
                  "printf('%%d %%d %%d\\n', n0, n, r.NumFrames);" % path)
        out = subprocess.run([octave, "--norc", "--no-history", "--path",
                              os.path.join(os.path.dirname(BIN), "mex"), "--eval", script],
                             capture_output=True, text=True)
        assert out.stdout.split()[:3] == ["2", "4", "4"], out.stderr   # 2 in the table
    # vid watch on a pipe: plain lines; ends after --idle while the writer is open
    out = subprocess.run([VID, "watch", str(path), "--idle", "0.5", "--interval", "0.05"],
                         capture_output=True, text=True, timeout=30)
    assert out.returncode == 0 and "4 frames" in out.stdout.splitlines()[-1]
    assert "1 gaps" in out.stdout          # 300 ms between frames 0 and 1 at 10 frames/s
    w.close()
    # on a terminal: one live line, rewritten; ends when the writer has finished
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(VID, [VID, "watch", str(path), "--interval", "0.05"])
    text = b""
    deadline = time.time() + 20
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.5)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            text += chunk
    _, status = os.waitpid(pid, 0)
    assert os.WEXITSTATUS(status) == 0 and b"\r" in text and b"finished" in text, text


@pytest.mark.skipif(shutil.which("ffmpeg") is None or shutil.which("ffprobe") is None,
                    reason="ffmpeg is not installed")
def test_mp4_of_an_odd_clip_and_the_failures_around_it(tmp_path):
    y, x = np.mgrid[0:61, 0:83]
    frames = np.stack([np.dstack([x * 3, y * 4, 128 + 60 * np.sin((x + y + k) / 9)])
                       for k in range(12)]).astype(np.uint8)     # smooth, as camera frames are
    vid.write(tmp_path / "odd.vid", frames, frame_rate=25)
    movie = tmp_path / "odd.mp4"
    subprocess.run([VID, "export", str(tmp_path / "odd.vid"), "--format", "mp4", "-o", str(movie)],
                   check=True, capture_output=True)
    probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames",
                            "-show_entries", "stream=codec_name,pix_fmt,width,height,"
                            "r_frame_rate,nb_read_frames", "-of", "csv=p=0", str(movie)],
                           check=True, capture_output=True, text=True).stdout.strip()
    assert probe == "h264,84,62,yuv420p,25/1,12"
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", str(movie), "-vf", "format=rgb24,crop=83:61:0:0",
                          "-f", "rawvideo", "-pix_fmt", "rgb24", "-"], check=True,
                         capture_output=True).stdout
    decoded = np.frombuffer(raw, np.uint8).reshape(12, 61, 83, 3).astype(float)
    mse = ((decoded[5] - frames[5]) ** 2).mean()
    assert 10 * np.log10(255 ** 2 / mse) > 35
    # ffmpeg missing: one line, exit 1, no partial movie
    r = subprocess.run([VID, "export", str(tmp_path / "odd.vid"), "--format", "mp4", "-o",
                        str(tmp_path / "no.mp4")], capture_output=True, text=True,
                       env=dict(os.environ, PATH="/nonexistent"))
    assert r.returncode == 1 and "ffmpeg was not found" in r.stderr
    assert not any(p.name.startswith("no.mp4") for p in tmp_path.iterdir())
    # ffmpeg stopping early: its own words, exit 1
    bad = tmp_path / "bin"
    bad.mkdir()
    (bad / "ffmpeg").write_text("#!/bin/sh\necho 'Unknown encoder libx264' >&2\nexit 1\n")
    (bad / "ffmpeg").chmod(0o755)
    r = subprocess.run([VID, "export", str(tmp_path / "odd.vid"), "--format", "mp4", "-o",
                        str(tmp_path / "no.mp4")], capture_output=True, text=True,
                       env=dict(os.environ, PATH=str(bad)))
    assert r.returncode == 1 and "Unknown encoder libx264" in r.stderr
    # a raw stream whose reader stops early: said, exit 1, no SIGPIPE death
    r = subprocess.run("set -o pipefail; %s export %s --format raw -o - | head -c 100 > /dev/null"
                       % (VID, tmp_path / "odd.vid"), shell=True, executable="/bin/bash",
                       capture_output=True, text=True)
    assert r.returncode == 1 and "the reader of standard output stopped" in r.stderr
