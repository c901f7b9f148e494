// Plain per-pixel reference of the demosaic rules (see demosaic_reference.h).
#include "demosaic_reference.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace {

const int ref_tile_colours[8][4] = {
    {0, 1, 1, 2}, {1, 0, 2, 1}, {2, 1, 1, 0}, {1, 2, 0, 1},
    {0, 1, 1, 2}, {1, 0, 2, 1}, {2, 1, 1, 0}, {1, 2, 0, 1},
};

enum { RED = 0, GREEN = 1, BLUE = 2 };

// Position index q of each site role, per arrangement: red site, green site with red to the
// left and right, green site with red above and below, blue site.
struct SiteRoles {
    int red, green_red_sideways, green_red_vertical, blue;
};
const SiteRoles kRoles[4] = {{0, 1, 2, 3}, {1, 0, 3, 2}, {3, 2, 1, 0}, {2, 3, 0, 1}};

const SiteRoles& roles_of(BayerTile tile)
{
    int t = int(tile);
    return (t >= 0 && t < 8) ? kRoles[t & 3] : kRoles[0];
}

// Whether a w x h image of three-byte pixels can be addressed with size_t offsets; the
// routines refuse sizes whose byte count would wrap rather than compute a wrong offset.
bool image_is_addressable(int w, int h)
{
    if (w < 1 || h < 1)
        return false;
    const uint64_t pixels = uint64_t(w) * uint64_t(h); // both below 2^31: no wrap
    return pixels <= uint64_t(SIZE_MAX) / 3;
}

inline int position_index(int x, int y)
{
    return ((x & 1) ? 0 : 1) + ((y & 1) ? 0 : 2);
}

struct Pos {
    int x, y;
};

// Neighbour estimate of one channel over four positions; with line_test the positions are
// left, right, up, down (in that order) and a clear edge picks the mean along it.
int neighbour_estimate(const unsigned char* rgb, int w, int h, int channel, const Pos (&p)[4],
                       bool line_test)
{
    int v[4];
    int count = 0, sum = 0;
    bool inside[4];
    for (int i = 0; i < 4; i++) {
        inside[i] = p[i].x >= 0 && p[i].x < w && p[i].y >= 0 && p[i].y < h;
        if (inside[i]) {
            v[i] = rgb[3 * (size_t(p[i].y) * size_t(w) + size_t(p[i].x)) + channel];
            sum += v[i];
            count++;
        }
    }
    if (count == 0)
        return 0; // a 1 x 1 image: nothing to estimate from
    if (count == 4 && line_test) {
        const int l = v[0], r = v[1], u = v[2], d = v[3];
        const int hd = (r - l) * (r - l), vd = (d - u) * (d - u);
        if (hd > 2 * vd)
            return (u + d) / 2;
        if (vd > 2 * hd)
            return (l + r) / 2;
    }
    const int mean = sum / count;
    if (count < 4)
        return mean;
    int above = 0, above_sum = 0;
    for (int i = 0; i < 4; i++)
        if (v[i] > mean) {
            above++;
            above_sum += v[i];
        }
    if (above == 3)
        return above_sum / 3;
    if (above == 1)
        return (sum - above_sum) / 3;
    return mean;
}

// Mean of one channel over two positions, counting only those inside; 0 when neither is.
int pair_mean(const unsigned char* rgb, int w, int h, int channel, Pos a, Pos b)
{
    int sum = 0, count = 0;
    for (const Pos& p : {a, b})
        if (p.x >= 0 && p.x < w && p.y >= 0 && p.y < h) {
            sum += rgb[3 * (size_t(p.y) * size_t(w) + size_t(p.x)) + channel];
            count++;
        }
    return count ? sum / count : 0;
}

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

int ref_gp_bayer_expand(const unsigned char* mosaic, int w, int h, unsigned char* rgb,
                        BayerTile tile)
{
    const int t = int(tile);
    if (t < 0 || t > 7 || !image_is_addressable(w, h))
        return 0;
    const bool interlaced = t >= 4;
    const size_t width = size_t(w);
    for (int y = 0; y < h; y++) {
        const unsigned char* row = mosaic + size_t(y) * width;
        unsigned char* out = rgb + 3 * size_t(y) * width;
        for (int x = 0; x < w; x++) {
            size_t src = size_t(x);
            if (interlaced)
                src = (x & 1) ? size_t(x / 2) : width / 2 + size_t(x / 2);
            unsigned char* px = out + 3 * size_t(x);
            px[0] = px[1] = px[2] = 0;
            px[ref_tile_colours[t][position_index(x, y)]] = row[src];
        }
    }
    return 0;
}

int ref_gp_bayer_interpolate(unsigned char* rgb, int w, int h, BayerTile tile)
{
    if (!image_is_addressable(w, h))
        return 0;
    const SiteRoles& roles = roles_of(tile);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            unsigned char* px = rgb + 3 * (size_t(y) * size_t(w) + size_t(x));
            const int q = position_index(x, y);
            const Pos left{x - 1, y}, right{x + 1, y}, up{x, y - 1}, down{x, y + 1};
            if (q == roles.red || q == roles.blue) {
                const Pos cross[4] = {left, right, up, down};
                const Pos diagonals[4] = {
                    {x + 1, y + 1}, {x - 1, y - 1}, {x - 1, y + 1}, {x + 1, y - 1}};
                const int other = q == roles.red ? BLUE : RED;
                px[GREEN] = (unsigned char)neighbour_estimate(rgb, w, h, GREEN, cross, true);
                px[other] = (unsigned char)neighbour_estimate(rgb, w, h, other, diagonals, false);
            } else if (q == roles.green_red_sideways) {
                px[RED] = (unsigned char)pair_mean(rgb, w, h, RED, left, right);
                px[BLUE] = (unsigned char)pair_mean(rgb, w, h, BLUE, up, down);
            } else {
                px[BLUE] = (unsigned char)pair_mean(rgb, w, h, BLUE, left, right);
                px[RED] = (unsigned char)pair_mean(rgb, w, h, RED, up, down);
            }
        }
    }
    return 0;
}

int ref_gp_bayer_decode(const unsigned char* mosaic, int w, int h, unsigned char* rgb,
                        BayerTile tile)
{
    ref_gp_bayer_expand(mosaic, w, h, rgb, tile);
    ref_gp_bayer_interpolate(rgb, w, h, tile);
    return 0;
}

void ref_bayer_interpolate_frame(const unsigned char* mosaic, unsigned char* rgb, int width,
                                 int height, float rbal, float gbal, float bbal)
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
                     sample(mosaic, w, nx.m1, ny.p1) + sample(mosaic, w, nx.p1, ny.p1)) >>
                    2;
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

void ref_demosaic_slices(const unsigned char* mosaic, unsigned char* rgb, unsigned width,
                         const unsigned* row_partitions, unsigned num_slices, int two_bytes,
                         float rbal, float gbal, float bbal)
{
    for (unsigned i = 0; i < num_slices; i++) {
        const unsigned start = row_partitions[i];
        const unsigned rows = row_partitions[i + 1] - start;
        const unsigned char* in = mosaic + size_t(start) * width * (two_bytes ? 2 : 1);
        unsigned char* out = rgb + size_t(start) * width * 3;
        if (two_bytes)
            ref_bayer_interpolate_frame(in, out, int(width), int(rows), rbal, gbal, bbal);
        else
            ref_gp_bayer_decode(in, int(width), int(rows), out, BAYER_TILE_GRBG);
    }
}
