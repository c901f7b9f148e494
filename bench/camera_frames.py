"""Camera-like frames for the benchmarks, from the shipped photograph: 1600 x 1200 two-byte
Bayer mosaics (12 significant bits, RGGB) of a slowly panning view with shot and read noise,
and 640 x 480 RGB frames of the same kind. Deterministic (seeded)."""
import os
import struct
import zlib

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def photo():
    """The shipped 320 x 240 photograph as (240, 320, 3) float, 0 to 1."""
    data = open(os.path.join(ROOT, "samples", "photo320x240.ppm.zlib"), "rb").read()
    blocks = struct.unpack_from("<I", data, 8)[0]
    sizes = struct.unpack_from("<%dI" % blocks, data, 12 + 4 * blocks)
    at, parts = 12 + 8 * blocks, []
    for size in sizes:
        parts.append(zlib.decompress(data[at:at + size]))
        at += size
    ppm = b"".join(parts)
    w, h = 320, 240   # the pixels are the last w * h * 3 bytes, behind the P6 header
    pixels = np.frombuffer(ppm[len(ppm) - w * h * 3:], np.uint8).reshape(h, w, 3)
    return pixels.astype(np.float32) / 255.0


def _resize(img, h, w):
    """Bilinear resize of (H, W, C)."""
    H, W = img.shape[:2]
    ys = np.linspace(0, H - 1, h)
    xs = np.linspace(0, W - 1, w)
    y0 = np.floor(ys).astype(int)
    x0 = np.floor(xs).astype(int)
    y1 = np.minimum(y0 + 1, H - 1)
    x1 = np.minimum(x0 + 1, W - 1)
    fy = (ys - y0)[:, None, None]
    fx = (xs - x0)[None, :, None]
    top = img[y0][:, x0] * (1 - fx) + img[y0][:, x1] * fx
    bottom = img[y1][:, x0] * (1 - fx) + img[y1][:, x1] * fx
    return top * (1 - fy) + bottom * fy


def bayer_frames(n, h=1200, w=1600, seed=7):
    """n (h, w) uint16 mosaics: RGGB sites of the photograph (panning one pixel a frame),
    12 bits, shot noise (gain 4 electrons per count) and read noise (2 counts)."""
    rng = np.random.default_rng(seed)
    big = _resize(photo(), h, w + n)
    out = np.empty((n, h, w), np.uint16)
    site = np.zeros((h, w), int)
    site[0::2, 1::2] = 1
    site[1::2, 0::2] = 1
    site[1::2, 1::2] = 2
    for k in range(n):
        view = big[:, k:k + w]
        signal = np.take_along_axis(view, site[..., None], axis=2)[..., 0] * 3800 + 64
        noisy = signal + rng.normal(0, 1, signal.shape) * np.sqrt(signal / 4 + 4)
        out[k] = np.clip(np.rint(noisy), 0, 4095)
    return out


def rgb_frames(n, h=480, w=640, seed=8):
    """n (h, w, 3) uint8 frames of the photograph panning, with sensor noise."""
    rng = np.random.default_rng(seed)
    big = _resize(photo(), h, w + n)
    out = np.empty((n, h, w, 3), np.uint8)
    for k in range(n):
        signal = big[:, k:k + w] * 235 + 10
        out[k] = np.clip(np.rint(signal + rng.normal(0, 2.0, signal.shape)), 0, 255)
    return out
