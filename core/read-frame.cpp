// The two-byte demosaic, its channel gains and white_balance; file_statistics and read_frame.
#include "read-frame.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "le_bytes.h"

// Channel gains of the two-byte demosaic. Only white_balance writes them.
static float rbal = 1.0f;
static float gbal = 1.33f;
static float bbal = 3.05f;

namespace {

// Scales a 16-bit channel value to a byte: the product is rounded to single precision, then
// clamped and truncated. !(p >= 0) also catches a non-number from a NaN or infinite gain,
// whose conversion to an integer would be undefined.
inline unsigned char scale_to_byte(int c, float k)
{
    const float p = float(c) * k;
    if (!(p >= 0.0f))
        return 0;
    if (p > 255.0f)
        return 255;
    return (unsigned char)(int)p;
}

inline int sample(const unsigned char* mosaic, size_t w, int x, int y)
{
    const unsigned char* s = mosaic + 2 * (size_t(y) * w + size_t(x));
    return int(s[0]) | int(s[1]) << 8;
}

// Neighbour coordinates along one axis of length n: mirrored at distance 1 (clamped to the
// pixel itself when the axis has a single position), held at distance 2.
struct Axis {
    int m2, m1, p1, p2;
};
inline Axis axis_neighbours(int i, int n)
{
    Axis a;
    a.m1 = i == 0 ? i + 1 : i - 1;
    a.p1 = i == n - 1 ? i - 1 : i + 1;
    if (a.m1 >= n)
        a.m1 = i;
    if (a.p1 < 0)
        a.p1 = i;
    a.m2 = i < 2 ? i : i - 2;
    a.p2 = i >= n - 2 ? i : i + 2;
    return a;
}

} // namespace

void bayer_interpolate_frame(unsigned char* mosaic, unsigned char* rgb, int width, int height)
{
    if (width < 1 || height < 1)
        return;
    const uint64_t pixels = uint64_t(width) * uint64_t(height);
    if (pixels > uint64_t(SIZE_MAX) / 3)
        return;
    const float kR = rbal * 0.25f;
    const float kG = gbal * 0.25f;
    const float kB = bbal * 0.25f;
    const char* pattern = width == 1600 ? "grbG" : "bGgr";
    const size_t w = size_t(width);

    for (int y = 0; y < height; y++) {
        const Axis ny = axis_neighbours(y, height);
        for (int x = 0; x < width; x++) {
            const Axis nx = axis_neighbours(x, width);
            const char site = pattern[2 * (y & 1) + (x & 1)];
            int red, green, blue;
            if (site == 'r' || site == 'b') {
                const int own = sample(mosaic, w, x, y);
                const int diagonal =
                    (sample(mosaic, w, nx.m1, ny.m1) + sample(mosaic, w, nx.p1, ny.m1) +
                     sample(mosaic, w, nx.m1, ny.p1) + sample(mosaic, w, nx.p1, ny.p1)) >> 2;
                int dh = sample(mosaic, w, nx.m2, y) - sample(mosaic, w, nx.p2, y);
                int dv = sample(mosaic, w, x, ny.m2) - sample(mosaic, w, x, ny.p2);
                dh = dh < 0 ? -dh : dh;
                dv = dv < 0 ? -dv : dv;
                const int left = sample(mosaic, w, nx.m1, y), right = sample(mosaic, w, nx.p1, y);
                const int up = sample(mosaic, w, x, ny.m1), down = sample(mosaic, w, x, ny.p1);
                if (double(dh) > 1.1 * double(dv))
                    green = (up + down) >> 1;
                else if (double(dv) > 1.1 * double(dh))
                    green = (left + right) >> 1;
                else
                    green = (left + right + up + down) >> 2;
                red = site == 'r' ? own : diagonal;
                blue = site == 'r' ? diagonal : own;
            } else if (site == 'G') {
                red = (sample(mosaic, w, x, ny.m1) + sample(mosaic, w, x, ny.p1)) >> 1;
                green = sample(mosaic, w, x, y);
                blue = (sample(mosaic, w, nx.m1, y) + sample(mosaic, w, nx.p1, y)) >> 1;
            } else { // 'g'
                red = (sample(mosaic, w, nx.m1, y) + sample(mosaic, w, nx.p1, y)) >> 1;
                green = sample(mosaic, w, x, y);
                blue = (sample(mosaic, w, x, ny.m1) + sample(mosaic, w, x, ny.p1)) >> 1;
            }
            unsigned char* px = rgb + 3 * (size_t(y) * w + size_t(x));
            px[0] = scale_to_byte(red, kR);
            px[1] = scale_to_byte(green, kG);
            px[2] = scale_to_byte(blue, kB);
        }
    }
}

void white_balance(float red, float green, float blue)
{
    rbal = red;
    gbal = green;
    bbal = blue;
}

int file_statistics(char* path, int* num_frames, int* width, int* height)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        perror(path);
        return -1;
    }
    unsigned char header[8];
    if (fread(header, sizeof header, 1, f) != 1) {
        if (ferror(f))
            perror(path);
        else
            fprintf(stderr, "%s: unexpected end of file\n", path);
        fclose(f);
        return -1;
    }
    if (width)
        *width = get_le16(header);
    if (height)
        *height = get_le16(header + 2);
    if (num_frames)
        *num_frames = int32_t(get_le32(header + 4));
    fclose(f);
    return 0;
}

int read_frame(char*, int, int*, int*)
{
    return 0;
}
