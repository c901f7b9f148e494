"""Real sensor frames for the benchmarks, from Debian packages (each set None when its
package is missing):

- ccd_frames: 16-bit frames of two astronomical CCD cameras (eso-midas-testdata: thar5s.fit,
  4007 x 2671, and badfitskeys.mt, 2148 x 2102), cut into 1600 x 1200 frames at several offsets;
- mosaic_frames: 12-bit RGGB mosaics of a real photograph (libjxl-testdata's flower.png,
  2268 x 1512, as shot), linearised, with shot and read noise, panning slowly;
- rgb_frames: 640 x 480 RGB frames of the same photograph, panning.
Deterministic (seeded)."""
import glob
import os

import numpy as np

MIDAS = "/usr/lib/eso-midas"
FLOWER = "/usr/share/libjxl-testdata/jxl/flower/flower.png"


def _fits(path):
    """The first image of a FITS file as int32 samples (BZERO applied), 16-bit data only."""
    with open(path, "rb") as f:
        data = f.read()
    cards, at = {}, 0
    while True:
        block = data[at:at + 2880].decode("ascii", "replace")
        at += 2880
        for i in range(0, 2880, 80):
            key, value = block[i:i + 8].strip(), block[i + 10:i + 30].strip()
            if key and key not in cards:
                cards[key] = value
        if "END" in cards:
            break
    if int(cards["BITPIX"]) != 16:
        return None
    w, h = int(cards["NAXIS1"]), int(cards["NAXIS2"])
    img = np.frombuffer(data, ">i2", w * h, at).reshape(h, w).astype(np.int32)
    return img + int(float(cards.get("BZERO", "0")))


def ccd_frames(n, w=1600, h=1200):
    paths = sorted(glob.glob(MIDAS + "/*/test/prim/thar5s.fit") +
                   glob.glob(MIDAS + "/*/test/prim/badfitskeys.mt"))
    if not paths:
        return None
    images = [_fits(p) for p in paths]
    rng = np.random.default_rng(3)
    out = np.empty((n, h, w), np.uint16)
    for k in range(n):
        img = images[k % len(images)]
        y = int(rng.integers(0, img.shape[0] - h + 1))
        x = int(rng.integers(0, img.shape[1] - w + 1))
        out[k] = np.clip(img[y:y + h, x:x + w], 0, 65535)
    return out


def _flower():
    if not os.path.exists(FLOWER):
        return None
    from PIL import Image
    return np.asarray(Image.open(FLOWER).convert("RGB"))


def mosaic_frames(n, w=1600, h=1200):
    img = _flower()
    if img is None:
        return None
    linear = (img.astype(np.float32) / 255.0) ** 2.2 * 3600.0 + 64.0   # 12 bits, black 64
    rng = np.random.default_rng(4)
    out = np.empty((n, h, w), np.uint16)
    for k in range(n):
        y, x = 2 * (k % 40), 2 * ((3 * k) % 200)
        crop = linear[y:y + h, x:x + w]
        m = np.empty((h, w), np.float32)
        m[0::2, 0::2] = crop[0::2, 0::2, 0]
        m[0::2, 1::2] = crop[0::2, 1::2, 1]
        m[1::2, 0::2] = crop[1::2, 0::2, 1]
        m[1::2, 1::2] = crop[1::2, 1::2, 2]
        m = rng.poisson(m).astype(np.float32) + rng.normal(0.0, 2.5, m.shape)
        out[k] = np.clip(np.rint(m), 0, 4095)
    return out


def rgb_frames(n, w=640, h=480):
    img = _flower()
    if img is None:
        return None
    out = np.empty((n, h, w, 3), np.uint8)
    for k in range(n):
        y, x = (7 * k) % (img.shape[0] - h), (11 * k) % (img.shape[1] - w)
        out[k] = img[y:y + h, x:x + w]
    return out


if __name__ == "__main__":
    # python3 bench/sensor_frames.py ccd|mosaic|rgb COUNT OUT.raw: the frames back to back
    # (two-byte samples little-endian); prints WIDTH HEIGHT BYTES_PER_PIXEL.
    import sys
    make = {"ccd": ccd_frames, "mosaic": mosaic_frames, "rgb": rgb_frames}[sys.argv[1]]
    frames = make(int(sys.argv[2]))
    if frames is None:
        sys.exit("sensor_frames: the Debian package with these frames is missing")
    frames.astype(frames.dtype.newbyteorder("<")).tofile(sys.argv[3])
    print(frames.shape[2], frames.shape[1], frames.itemsize * (3 if frames.ndim == 4 else 1))
