// Builders of codec test and benchmark inputs: photographic-like RGB frames, random bytes,
// and an independent construction of the blocked-compress buffer from per-block compress2
// calls, against which compress_MT's bytes are compared.
#pragma once

#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace codec_test {

// An RGB frame (3 bytes per pixel, rows from the top) that compresses like a camera frame:
// smooth gradients, a few soft discs, bright bars, a textured quarter and sensor-like noise.
inline std::vector<uint8_t> photo_like_frame(int width, int height, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 1.6f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    struct Disc {
        float x, y, r, colour[3];
    };
    Disc discs[6];
    for (Disc& d : discs) {
        d.x = unit(rng) * width;
        d.y = unit(rng) * height;
        d.r = (0.05f + 0.2f * unit(rng)) * height;
        for (float& c : d.colour)
            c = 40.0f + 180.0f * unit(rng);
    }
    std::vector<uint8_t> frame(size_t(width) * height * 3);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            float rgb[3] = {60.0f + 120.0f * x / width, 50.0f + 100.0f * y / height,
                            90.0f + 60.0f * std::sin(0.01f * (x + y))};
            for (const Disc& d : discs) {
                float dist = std::hypot(x - d.x, y - d.y);
                float w = dist < d.r ? 1.0f : std::exp(-(dist - d.r) * 0.08f);
                for (int c = 0; c < 3; c++)
                    rgb[c] = rgb[c] * (1 - w) + d.colour[c] * w;
            }
            if ((y / 40) % 5 == 0 && x > width / 3 && x < width / 2)
                rgb[0] = rgb[1] = rgb[2] = 230.0f;
            if (x < width / 2 && y > height / 2) { // fine texture, like foliage or fabric
                float t = 14.0f * std::sin(0.31f * x + 0.07f * y) * std::sin(0.23f * y);
                for (float& c : rgb)
                    c += t;
            }
            for (int c = 0; c < 3; c++) {
                float v = rgb[c] + noise(rng);
                frame[(size_t(y) * width + x) * 3 + c] = uint8_t(v < 0     ? 0
                                                                 : v > 255 ? 255
                                                                           : std::lround(v));
            }
        }
    }
    return frame;
}

inline std::vector<uint8_t> random_bytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v)
        b = uint8_t(rng() >> 24);
    return v;
}

// Bytes of S-long data made of short runs of a few values: compresses well and fast.
inline std::vector<uint8_t> run_bytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    size_t i = 0;
    while (i < n) {
        uint8_t value = uint8_t(rng() % 7 * 37);
        size_t run = 1 + rng() % 13;
        for (size_t k = 0; k < run && i < n; k++)
            v[i++] = value;
    }
    return v;
}

inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = uint8_t(v >> 8 * i);
}

inline uint32_t get32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

// Packs the given zlib streams, with the given block end offsets, into a blocked-compress
// buffer: marker, count, ends, sizes, streams.
inline std::vector<uint8_t> pack_blocks(const std::vector<uint32_t>& ends,
                                        const std::vector<std::vector<uint8_t>>& streams)
{
    const size_t n = ends.size();
    std::vector<uint8_t> out(12 + 8 * n);
    const uint8_t marker[8] = {0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18};
    memcpy(out.data(), marker, 8);
    put32(out, 8, uint32_t(n));
    for (size_t i = 0; i < n; i++) {
        put32(out, 12 + 4 * i, ends[i]);
        put32(out, 12 + 4 * n + 4 * i, uint32_t(streams[i].size()));
    }
    for (const auto& s : streams)
        out.insert(out.end(), s.begin(), s.end());
    return out;
}

inline std::vector<uint8_t> zlib_level9(const uint8_t* data, size_t len)
{
    uLongf room = compressBound(uLong(len));
    std::vector<uint8_t> out(room);
    if (compress2(out.data(), &room, data, uLong(len), 9) != Z_OK)
        return {};
    out.resize(room);
    return out;
}

// The cut rule written out independently: n = ceil(S / 76800) capped at 8, blocks of
// ceil(S / n) bytes with a shorter last one.
inline std::vector<uint32_t> reference_block_ends(size_t S)
{
    size_t n = (S + 76799) / 76800;
    if (n > 8)
        n = 8;
    if (n == 0)
        n = 1;
    size_t L = (S + n - 1) / n;
    std::vector<uint32_t> ends;
    for (size_t i = 1; i <= n; i++)
        ends.push_back(uint32_t(L * i < S ? L * i : S));
    return ends;
}

inline std::vector<uint8_t> reference_blocked_compress(const std::vector<uint8_t>& data)
{
    std::vector<uint32_t> ends = reference_block_ends(data.size());
    std::vector<std::vector<uint8_t>> streams;
    uint32_t start = 0;
    for (uint32_t end : ends) {
        streams.push_back(zlib_level9(data.data() + start, end - start));
        start = end;
    }
    return pack_blocks(ends, streams);
}

} // namespace codec_test
