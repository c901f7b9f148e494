"""Second-generation compact records read by a plain reference decoder written from the layout
in core/records/vid_compact2.h alone (as a reader in another language would be): on every
content kind, sample width, awkward size and effort, its frames equal what was written and
what the library reads."""
import struct

import numpy as np
import pytest

import vid

MARKER = bytes([0x83, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18])


class Bits:
    """Extra bits, packed from the least significant bit of each byte up."""

    def __init__(self, data):
        self.value, self.at, self.size = int.from_bytes(data, "little"), 0, 8 * len(data)

    def take(self, n):
        v = (self.value >> self.at) & ((1 << n) - 1)
        self.at += n
        assert self.at <= self.size, "extra bits run past their stream"
        return v


def level(q):
    if q < 16:
        return q
    h = q.bit_length() - 1
    return 16 + 4 * (h - 4) + ((q >> (h - 2)) & 3)


def decode_plane(d, p, w, rows, bits, guide=None):
    """A plane and where the next begins; its zigzag rows (None when stored) guide the next."""
    n = w * rows
    if d[p] == 0xFF:
        assert d[p + 1:p + 4] == b"\0\0\0"
        if bits == 16:
            return list(struct.unpack_from("<%dH" % n, d, p + 4)), p + 4 + 2 * n, None
        return list(d[p + 4:p + 4 + n]), p + 4 + n, None
    pred, s, k, m = d[p] & 15, d[p] >> 4, d[p + 1] & 15, d[p + 1] >> 4
    base, contexts, guided = d[p + 2] | d[p + 3] << 8, d[p + 4] & 0x7F, d[p + 4] & 0x80
    assert not guided or guide is not None
    thresholds = list(d[p + 5:p + 4 + contexts])
    assert not any(d[p + 4 + contexts:p + 12])
    p += 12
    tokens = 2 ** k + ((bits - k) << m if bits > k else 0)
    tables = []
    for _ in range(contexts):
        used, p = d[p] + 1, p + 1
        freq = []
        for _ in range(used):
            v, p = d[p], p + 1
            if v & 0x80:
                v, p = (v & 0x7F) | d[p] << 7, p + 1
            freq.append(v)
        freq += [0] * (tokens - used)
        assert sum(freq) == 2048
        cum = [sum(freq[:t]) for t in range(tokens)]
        slot = [t for t in range(tokens) for _ in range(freq[t])]
        tables.append((freq, cum, slot))
    lengths = struct.unpack_from("<5I", d, p)
    p += 20
    streams = []
    for j in range(4):
        streams.append([struct.unpack_from("<I", d, p)[0], p + 4, p + lengths[j]])
        p += lengths[j]
    extra = Bits(d[p:p + lengths[4]])
    p += lengths[4]

    def value_of(t):
        if t < 2 ** k:
            return t, 0
        high = ((t - 2 ** k) >> m) + k
        top = (t - 2 ** k) & ((1 << m) - 1)
        return ((1 << m) | top) << (high - m), high - m

    plane, above, mask, zigzags = [0] * n, [0] * w, (1 << bits) - 1, []
    for y in range(rows):
        u = []
        source = guide[y] if guided else above if y > 0 else None
        for x in range(w):
            context = 0
            if source is not None:
                q = 2 * source[x] + source[x - 1 if x > 0 else x] + \
                    source[x + 1 if x + 1 < w else x]
                context = sum(level(min(q, 4095)) > t for t in thresholds)
            freq, cum, slot_token = tables[context]
            st = streams[x % 4]
            slot = st[0] % 2048
            t = slot_token[slot]
            st[0] = freq[t] * (st[0] >> 11) + slot - cum[t]
            if st[0] < 2 ** 15:
                st[0] = st[0] << 16 | struct.unpack_from("<H", d, st[1])[0]
                st[1] += 2
            b, nb = value_of(t)
            u.append(b + extra.take(nb))
        for x in range(w):
            def at(xx, yy):
                return plane[yy * w + xx]
            if pred == 0:
                guess = base
            elif y < s:
                guess = at(x - s, y) if x >= s else base
            elif x < s:
                guess = at(x, y - s)
            else:
                a, b, c = at(x - s, y), at(x, y - s), at(x - s, y - s)
                right = at(x + s, y - s) if x + s < w else b
                if pred == 1:
                    guess = a
                elif pred == 2:
                    guess = b
                elif pred == 4:
                    guess = (a + b + 1) >> 1
                elif pred == 5:
                    guess = (2 * a + 2 * b + right - c + 2) >> 2
                elif c >= max(a, b):
                    guess = min(a, b)
                elif c <= min(a, b):
                    guess = max(a, b)
                else:
                    guess = a + b - c
            z = u[x]
            difference = -(z >> 1) - 1 if z & 1 else z >> 1
            plane[y * w + x] = (guess + difference) & mask
        above = u
        zigzags.append(u)
    for st in streams:
        assert st[1] == st[2] and st[0] == 2 ** 15, "a token stream does not end sound"
    return plane, p, zigzags


def decode_record(record):
    assert record[:8] == MARKER and record[9] == 2
    samples = record[8]
    w, h, blocks = struct.unpack_from("<3I", record, 12)
    ends = struct.unpack_from("<%dI" % blocks, record, 24)
    lengths = struct.unpack_from("<%dI" % blocks, record, 24 + 4 * blocks)
    at, first, out = 24 + 8 * blocks, 0, []
    bits = 16 if samples == 3 else 8
    for b in range(blocks):
        rows, data = ends[b] - first, record[at:at + lengths[b]]
        p, planes, zigzags = 0, [], None
        for k in range(3 if samples == 1 else 1):
            # B - G may take its contexts from the zigzag rows of R - G
            plane, p, zigzags = decode_plane(data, p, w, rows, bits, zigzags if k == 2 else None)
            planes.append(np.array(plane, np.uint16 if bits == 16 else np.uint8))
        assert p == len(data)
        if samples == 1:
            g, r, bl = planes
            out.append(np.dstack([r + g, g, bl + g]).reshape(rows, w, 3))
        else:
            out.append(planes[0].reshape(rows, w))
        at, first = at + lengths[b], ends[b]
    return np.concatenate(out)


def records_of(path):
    data = open(path, "rb").read()
    _, _, count = struct.unpack_from("<HHi", data)
    table = struct.unpack_from("<%dq" % abs(count), data, 8)
    for offset in table:
        blocks = struct.unpack_from("<I", data, offset + 20)[0]
        length = 24 + 8 * blocks + sum(struct.unpack_from("<%dI" % blocks, data,
                                                          offset + 24 + 4 * blocks))
        yield data[offset:offset + length]


def content(kind, h, w, what, seed):
    rng = np.random.default_rng(seed)
    top = 4095 if kind in ("bayer16", "mono16") else 255
    shape = (h, w, 3) if kind == "rgb" else (h, w)
    y, x = np.mgrid[0:h, 0:w]
    if kind == "rgb":
        y, x = y[..., None], x[..., None] * np.array([1, 2, 3])
    f = {"flat": np.full(shape, top // 3),
         "noise": rng.integers(0, top + 1, shape),
         "gradient": (x * 7 + y * 3) % (top + 1),
         "edges": ((x // 5 + y // 3) % 2) * top,
         "mosaic": ((x % 2) * 600 + (y % 2) * 300 + x + rng.integers(0, 17, shape)) % (top + 1),
         "saturated": np.where(rng.random(shape) < 0.97, top, rng.integers(0, top + 1, shape)),
         "smooth": (np.sin(x / 4.0) * np.cos(y / 5.0) * top / 3 + top / 2 +
                    rng.normal(0, 1, shape)).clip(0, top)}[what]
    return np.ascontiguousarray(np.broadcast_to(f, shape)).astype(
        np.uint16 if top > 255 else np.uint8)


@pytest.mark.parametrize("kind", ["rgb", "bayer8", "bayer16", "mono16"])
def test_reference_decoder_reads_every_content_size_and_effort(tmp_path, kind):
    sizes = [(1, 40), (40, 1), (29, 37)] + ([(260, 160)] if kind == "bayer16" else [])
    for h, w in sizes:
        for effort in (2, 9):
            frames = [content(kind, h, w, what, h * w + effort)
                      for what in ("flat", "noise", "gradient", "edges", "mosaic", "saturated",
                                   "smooth")]
            path = str(tmp_path / ("%s_%d_%d_%d.vid" % (kind, h, w, effort)))
            vid.write(path, np.stack(frames), kind=kind, records="compact", effort=effort)
            clip = vid.open(path)
            for k, (frame, record) in enumerate(zip(frames, records_of(path))):
                got = decode_record(record)
                np.testing.assert_array_equal(got, frame, "%s %dx%d effort %d frame %d"
                                              % (kind, w, h, effort, k))
                mine = clip[k] if kind == "rgb" else clip.mosaic(k)
                np.testing.assert_array_equal(np.asarray(mine).reshape(frame.shape), frame)
