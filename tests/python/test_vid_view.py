"""vid view: the server alone (page, frames as PNG equal to the reader's and as JPEG, 4xx for
bad requests, loopback only, a bounded load of concurrent requests with flat memory), then the
page in headless Chromium (slider, arrow keys, zoom, pixel readout, live following), with a
screenshot kept under the build folder and the scrubbing and playing figures printed."""

import json
import os
import shutil
import struct
import subprocess
import sys
import textwrap
import time
import urllib.error
import urllib.request
import zlib
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import vid

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ.get("VID_BIN_DIR", os.path.join(ROOT, "build", "bin"))
VID = os.path.join(BIN, "vid")
ARTIFACTS = os.environ.get("VID_ARTIFACT_DIR", os.path.join(os.path.dirname(BIN), "artifacts"))


def png_pixels(data):
    """An 8-bit RGB PNG decoded from the format alone."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat, width, height = 8, b"", 0, 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 2)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 3
    out = np.zeros((height, stride), np.int32)
    for y in range(height):
        f, row = raw[y * (stride + 1)], np.frombuffer(raw, np.uint8, stride, y * (stride + 1) + 1)
        prev = out[y - 1] if y else np.zeros(stride, np.int32)
        cur = row.astype(np.int32)
        if f == 1:
            for i in range(3, stride):
                cur[i] = (cur[i] + cur[i - 3]) & 255
        elif f == 2:
            cur = (cur + prev) & 255
        elif f != 0:
            raise AssertionError("filter %d not expected from our encoder" % f)
        out[y] = cur
    return out.reshape(height, width, 3).astype(np.uint8)


class Server:
    def __init__(self, path, *options):
        self.proc = subprocess.Popen([VID, "view", str(path), "--no-open", *options],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.url = self.proc.stdout.readline().strip()
        assert self.url.startswith("http://127.0.0.1:"), self.url
        self.base, self.token = self.url.split("?token=")
        self.port = int(self.base.rsplit(":", 1)[1].strip("/"))

    def get(self, path, token=True, headers=None):
        url = self.base + path.lstrip("/")
        if token:
            url += ("&" if "?" in url else "?") + "token=" + self.token
        try:
            request = urllib.request.Request(url, headers=headers or {})
            with urllib.request.urlopen(request, timeout=10) as r:
                return r.status, r.read(), dict(r.headers)
        except urllib.error.HTTPError as e:
            return e.code, e.read(), {}

    def rss_kb(self):
        for line in open("/proc/%d/status" % self.proc.pid):
            if line.startswith("VmRSS:"):
                return int(line.split()[1])

    def stop(self):
        self.proc.send_signal(2)
        assert self.proc.wait(timeout=10) == 0


def clip_frames(n=40, h=48, w=64):
    y, x = np.mgrid[0:h, 0:w]
    return np.stack([np.dstack([(x * 4 + k) % 256, y * 5, np.full_like(x, k * 6)])
                     for k in range(n)]).astype(np.uint8)


def test_the_server_answers_frames_facts_and_refusals(tmp_path):
    frames = clip_frames()
    path = tmp_path / "c.vid"
    vid.write(path, frames, frame_rate=25, metadata={"camera": "c"})
    bayer = tmp_path / "b.vid"
    mosaic = (np.add.outer(np.arange(24) * 40, np.arange(32) * 7) % 4096).astype(np.uint16)
    vid.write(bayer, np.stack([mosaic, mosaic + 1]), kind="bayer16")
    s = Server(path)
    try:
        status, page, headers = s.get("/")
        assert status == 200 and b"<canvas" in page and b"http" not in page.split(b"<script>")[1]
        info = json.loads(s.get("/info")[1])
        expected = json.loads(subprocess.run([VID, "info", "--json", str(path)], check=True,
                                             capture_output=True, text=True).stdout)
        assert info == expected
        for k in (0, 17, 39):
            status, png, headers = s.get("/frame/%d.png" % k)
            assert status == 200 and headers["Content-Type"] == "image/png"
            assert np.array_equal(png_pixels(png), frames[k])
            assert "X-Vid-Timestamp" in headers
            status, jpg, headers = s.get("/frame/%d.jpg" % k)
            assert status == 200 and jpg[:2] == b"\xff\xd8"
        for bad in ("/frame/40.png", "/frame/-1.png", "/frame/1.gif", "/frame/x.png",
                    "/frame/99999999999.png", "/../../etc/passwd", "/sample/1?x=999&y=0",
                    "/sample/1?x=a&y=0", "/nothing"):
            assert 400 <= s.get(bad)[0] < 500, bad
        # bound to loopback only: the listening socket's address in the kernel's table
        port = s.port
        listening = [l.split()[1] for l in open("/proc/net/tcp").readlines()[1:]
                     if l.split()[3] == "0A"]
        assert "0100007F:%04X" % port in listening
        assert not any(a.endswith(":%04X" % port) and a != "0100007F:%04X" % port
                       for a in listening)
        assert not any(l.split()[1].endswith(":%04X" % port) for l in
                       open("/proc/net/tcp6").readlines()[1:] if l.split()[3] == "0A")
        # 1,000 requests from 16 connections at once: every answer right, memory flat
        reference = {k: s.get("/frame/%d.png" % k)[1] for k in range(40)}
        before = s.rss_kb()
        with ThreadPoolExecutor(16) as pool:
            answers = list(pool.map(lambda i: (i % 40, s.get("/frame/%d.png" % (i % 40))),
                                    range(1000)))
        assert all(a[1][0] == 200 and a[1][1] == reference[a[0]] for a in answers)
        assert s.rss_kb() - before < 20000, (before, s.rss_kb())
    finally:
        s.stop()
    s = Server(bayer)
    try:
        sample = json.loads(s.get("/sample/1?x=3&y=2")[1])
        assert sample["raw"] == int(mosaic[2, 3]) + 1 and sample["site"] in "RGB"
        assert sample["rgb"] == vid.open(bayer)[1][2, 3].tolist()
    finally:
        s.stop()


def browser():
    return browser_with()


def browser_with(*flags):
    webdriver = pytest.importorskip("selenium.webdriver")
    if not (shutil.which("chromium") and shutil.which("chromedriver")):
        pytest.skip("chromium and chromium-driver are not installed")
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--window-size=1000,800",
                 *flags):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


def wait(driver, condition, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        value = driver.execute_script("return " + condition)
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + condition)


def slide(driver, k, release=True):
    """Moves the slider to frame k (an input event), and lets it go (a change event)."""
    driver.execute_script(
        "const s = document.getElementById('slider'); s.value = %d;"
        "s.dispatchEvent(new Event('input'));%s" % (
            k, "s.dispatchEvent(new Event('change'));" if release else ""))


def scrub_figures(driver, frames):
    """Distinct frames shown per second while the slider moves across the clip (60 steps a
    second for 2 s), and the 95th percentile from release to the exact frame shown."""
    driver.execute_script("viewer.drawn = 0")
    t0 = time.time()
    for i in range(120):
        slide(driver, int(i * (frames - 1) / 119), release=False)
        time.sleep(max(0, t0 + (i + 1) / 60 - time.time()))
    shown = driver.execute_script("return viewer.drawn") / (time.time() - t0)
    latencies = []
    for k in [int(f * (frames - 1)) for f in (.1, .45, .75, .9, .2, .6, .03, 1, .3, .55)]:
        t = time.time()
        slide(driver, k)
        wait(driver, "viewer.shown === %d && viewer.exact" % k)
        latencies.append(time.time() - t)
    return shown, 1e3 * sorted(latencies)[int(0.95 * len(latencies)) - 1]


def test_the_page_in_a_browser(tmp_path):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    frames = clip_frames(n=200, h=480, w=640)
    path = tmp_path / "c.vid"
    vid.write(path, frames, frame_rate=100, effort=1)
    s = Server(path)
    driver = browser()
    try:
        driver.get(s.url)
        wait(driver, "viewer.shown === 0 && viewer.exact")
        driver.execute_script("document.getElementById('zoom').value = '1';"
                              "document.getElementById('zoom').dispatchEvent(new Event('change'))")

        def pixel(x, y):
            return driver.execute_script(
                "return Array.from(document.getElementById('canvas').getContext('2d')"
                ".getImageData(%d, %d, 1, 1).data).slice(0, 3)" % (x, y))


        slide(driver, 57)
        wait(driver, "viewer.shown === 57 && viewer.exact")
        assert pixel(5, 7) == frames[57][7, 5].tolist()
        body = driver.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.ARROW_RIGHT)
        wait(driver, "viewer.shown === 58 && viewer.exact")
        ActionChains(driver).key_down(Keys.SHIFT).send_keys(Keys.ARROW_RIGHT).key_up(
            Keys.SHIFT).perform()
        wait(driver, "viewer.shown === 68 && viewer.exact")
        assert pixel(100, 50) == frames[68][50, 100].tolist()
        driver.execute_script("document.getElementById('zoom').value = '4';"
                              "document.getElementById('zoom').dispatchEvent(new Event('change'))")
        assert driver.execute_script("return document.getElementById('canvas').width") == 4 * 640
        assert pixel(4 * 100 + 1, 4 * 50 + 2) == frames[68][50, 100].tolist()  # nearest neighbour
        left, top = driver.execute_script(
            "const r = document.getElementById('canvas').getBoundingClientRect();"
            "return [r.left, r.top]")
        ActionChains(driver).move_by_offset(int(left) + 4 * 30 + 2, int(top) + 4 * 20 + 2).perform()
        r, g, b = frames[68][20, 30].tolist()
        wait(driver, "viewer.readout.includes('30, 20: R %d G %d B %d')" % (r, g, b))
        os.makedirs(ARTIFACTS, exist_ok=True)
        driver.save_screenshot(os.path.join(ARTIFACTS, "vid_view.png"))

        shown_per_s, latency = scrub_figures(driver, 200)
        # Playing at 100 frames/s from frame 0 to the end.
        driver.execute_script("document.getElementById('fps').value = 100")
        slide(driver, 0)
        wait(driver, "viewer.shown === 0 && viewer.exact")
        driver.execute_script("document.getElementById('play').click()")
        wait(driver, "!viewer.playing && viewer.shown === 199", 20)
        print("\nvid view, 640x480 RGB, headless Chromium: %.1f distinct frames shown per second "
              "while scrubbing; release to exact frame %.0f ms (95th percentile of 10); playing "
              "200 frames at 100 frames/s dropped %d" % (
                  shown_per_s, latency, driver.execute_script("return viewer.dropped")))
    finally:
        driver.quit()
        s.stop()
    # Scrubbing a 1600x1200 two-byte Bayer clip (compact records).
    mosaic = (np.add.outer(np.arange(1200) * 3, np.arange(1600) * 5) % 4096).astype(np.uint16)
    bayer = tmp_path / "b.vid"
    with vid.create(bayer, 1600, 1200, kind="bayer16", records="compact", effort=1) as w:
        for k in range(60):
            w.append((mosaic + 37 * k) & 0xFFF)
    s = Server(bayer)
    driver = browser()
    try:
        driver.get(s.url)
        wait(driver, "viewer.shown === 0 && viewer.exact")

        shown_per_s, latency = scrub_figures(driver, 60)
        print("vid view, 1600x1200 Bayer two-byte, headless Chromium: %.1f distinct frames shown "
              "per second while scrubbing; release to exact frame %.0f ms (95th percentile of 10)"
              % (shown_per_s, latency))
    finally:
        driver.quit()
        s.stop()


def test_live_mode_follows_a_writer(tmp_path):
    path = tmp_path / "live.vid"
    writer = subprocess.Popen([sys.executable, "-c", textwrap.dedent("""
        import sys, time, numpy as np, vid
        w = vid.create(sys.argv[1], 32, 24, frame_rate=10, frames_reserved=4)
        for k in range(3):
            w.append(np.full((24, 32, 3), k, np.uint8))
        print("ready", flush=True)
        sys.stdin.readline()
        for k in range(3, 9):
            w.append(np.full((24, 32, 3), k, np.uint8))
        w.close()
        print("done", flush=True)
    """), str(path)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
        env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert writer.stdout.readline().strip() == "ready"
    s = Server(path)
    driver = browser()
    try:
        driver.get(s.url)
        wait(driver, "viewer.frames === 3 && viewer.shown === 0 && viewer.exact")
        driver.execute_script("document.getElementById('slider').value = 2;"
                              "document.getElementById('slider').dispatchEvent(new Event('change'));"
                              "document.getElementById('live').click()")
        writer.stdin.write("go\n")
        writer.stdin.flush()
        assert writer.stdout.readline().strip() == "done"
        wait(driver, "viewer.frames === 9 && viewer.shown === 8 && viewer.exact")
        wait(driver, "document.getElementById('note').textContent.includes('finished')")
    finally:
        driver.quit()
        s.stop()
        writer.wait()


def test_the_doors_refuse_other_hosts_missing_tokens_slow_clients_and_a_taken_port(tmp_path):
    import socket
    path = tmp_path / "c.vid"
    vid.write(path, clip_frames(4), metadata={"secret": "s"})
    s = Server(path)
    try:
        port = s.port
        for host, token, status in [("127.0.0.1:%d" % port, True, 200),
                                    ("localhost:%d" % port, True, 200),
                                    ("attacker.example:%d" % port, True, 403),
                                    ("127.0.0.1:%d" % (port + 1), True, 403),
                                    ("127.0.0.1:%d" % port, False, 403)]:
            for what in ("/info", "/frame/0.png", "/"):
                assert s.get(what, token, {"Host": host})[0] == status, (host, token, what)
        assert s.get("/info", headers={"Cookie": "vid_view_token_%d=%s" % (port, s.token)},
                     token=False)[0] == 200
        # 16 connections that send a header line a second never hold a frame up for 1 s
        slow = [socket.create_connection(("127.0.0.1", port)) for _ in range(16)]
        for c in slow:
            c.sendall(b"GET /info HTTP/1.1\r\n")
        time.sleep(0.3)
        delays = []
        for _ in range(3):
            for c in slow:
                try:
                    c.sendall(b"X-Slow: 1\r\n")
                except OSError:
                    pass
            start = time.monotonic()
            assert s.get("/frame/1.png")[0] == 200
            delays.append(time.monotonic() - start)
            time.sleep(1)
        for c in slow:
            c.close()
        assert max(delays) < 1.0, delays
        # a taken port is refused, not shared
        taken = subprocess.run([VID, "view", str(path), "--no-open", "--port", str(port)],
                               capture_output=True, text=True, timeout=20)
        assert taken.returncode == 1 and "cannot listen" in taken.stderr
    finally:
        s.stop()
    # a page of another site whose name resolves to 127.0.0.1 reads nothing, even with the
    # token (DNS rebinding)
    driver = browser_with("--host-resolver-rules=MAP attacker.example 127.0.0.1")
    s = Server(path)
    try:
        driver.get("http://attacker.example:%d/info?token=%s" % (s.port, s.token))
        assert "secret" not in driver.page_source and "answers only" in driver.page_source
        driver.get("http://127.0.0.1:%d/info" % s.port)
        assert "secret" not in driver.page_source and "needs the token" in driver.page_source
        driver.get(s.url)
        wait(driver, "V.info !== null && V.frames === 4")
    finally:
        driver.quit()
        s.stop()


def test_a_described_clip_is_shown_as_the_camera_saw_it(tmp_path):
    """A 12-bit RGGB clip: a red patch shows red, a grey 12-bit field neither white nor black;
    the levels, the histogram, the readout's raw sample and site, the sensor line."""
    h, w = 48, 64
    m = np.full((h, w), 1000, np.uint16)              # grey: about a quarter of 4095
    red = np.zeros((16, 16), np.uint16)
    red[0::2, 0::2] = 4095
    m[8:24, 8:24] = red
    path = tmp_path / "s.vid"
    vid.write(path, m[None], kind="bayer16", metadata={"cfa": "RGGB", "bit_depth": 12})
    s = Server(path)
    try:
        status, png, _ = s.get("/frame/0.png")
        shown = png_pixels(png)
        assert status == 200 and shown[15, 15].tolist() == [255, 0, 0]
        assert 40 < shown[40, 50, 1] < 80                  # 1000 / 4095 of white, linear
        status, data, _ = s.get("/histogram/0")
        hist = json.loads(data)
        assert hist["bits"] == 12 and sum(hist["bins"]) == h * w and hist["low"] == 0
        status, png, _ = s.get("/frame/0.png?black=900&white=1100")
        assert 100 < png_pixels(png)[40, 50, 1] < 160      # stretched about the grey
        status, data, _ = s.get("/sample/0?x=8&y=8")
        assert json.loads(data)["raw"] == 4095 and json.loads(data)["site"] == "R"
        status, data, _ = s.get("/info")
        assert json.loads(data)["sensor"]["cfa"] == "RGGB"
        if shutil.which("chromium") and shutil.which("chromedriver"):
            driver = browser()
            try:
                driver.get(s.url)
                wait(driver, "viewer.shown === 0 && viewer.exact")
                wait(driver, "document.getElementById('levels').style.display === 'flex'")
                driver.execute_script("document.getElementById('zoom').value = '1';"
                                      "document.getElementById('zoom').dispatchEvent(new Event('change'))")
                pixel = "document.getElementById('canvas').getContext('2d').getImageData(%d, %d, 1, 1).data"
                assert list(driver.execute_script("return Array.from(%s)" % (pixel % (15, 15))))[:3] == [255, 0, 0]
                grey = driver.execute_script("return Array.from(%s)" % (pixel % (50, 40)))[1]
                assert 30 < grey < 90
                assert "RGGB, 12 bits" in driver.find_element("id", "sensor").text
                assert "sensor" in driver.find_element("id", "meta").text
                driver.execute_script("document.getElementById('auto').click()")
                wait(driver, "viewer.levels.white !== null && viewer.shown === 0 && viewer.exact")
            finally:
                driver.quit()
    finally:
        s.stop()
