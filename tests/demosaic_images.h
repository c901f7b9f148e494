// Builders of test mosaics: uniform noise, and "photographic" content (smooth shading,
// hard edges at several angles, fine texture and sensor noise) in one- or two-byte samples.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// Every sample uniform over its full range (0..255 or 0..65535), little-endian.
inline std::vector<unsigned char> random_mosaic(unsigned w, unsigned h, int two_bytes,
                                                uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<unsigned char> m(size_t(w) * h * (two_bytes ? 2 : 1));
    for (unsigned char& b : m)
        b = (unsigned char)(rng() & 0xff);
    return m;
}

// A scene of max_value range: shaded background, a bright disc, diagonal stripes, a dark
// rectangle with hard edges, and a little noise. Two-byte mosaics use max_value up to 65535
// (sensor data is usually 10 to 16 bits), one-byte ones 255.
inline std::vector<unsigned char> photographic_mosaic(unsigned w, unsigned h, int two_bytes,
                                                      uint32_t seed, unsigned max_value = 0)
{
    if (max_value == 0)
        max_value = two_bytes ? 4095 : 255;
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<unsigned char> m(size_t(w) * h * (two_bytes ? 2 : 1));
    const double cx = w * 0.6, cy = h * 0.4, radius = (w < h ? w : h) * 0.25 + 1;
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x++) {
            double v = 0.25 + 0.35 * x / (w + 1.0) + 0.2 * y / (h + 1.0);
            const double dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy < radius * radius)
                v += 0.3;
            if (x > w / 8 && x < w / 3 && y > h / 2 && y < h * 7 / 8)
                v *= 0.3;
            v += 0.08 * std::sin((x + 2.0 * y) * 0.35);
            // colour-filter modulation: neighbouring sites see different channels
            v *= ((x ^ y) & 1) ? 1.0 : ((y & 1) ? 0.6 : 0.8);
            v += noise(rng);
            long s = std::lround(v * max_value);
            s = s < 0 ? 0 : (s > long(max_value) ? long(max_value) : s);
            const size_t i = size_t(y) * w + x;
            if (two_bytes) {
                m[2 * i] = (unsigned char)(s & 0xff);
                m[2 * i + 1] = (unsigned char)(s >> 8);
            } else {
                m[i] = (unsigned char)s;
            }
        }
    return m;
}
