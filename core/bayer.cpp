// Tile Bayer routines: expansion of a one-byte mosaic by tile arrangement and the in-place
// interpolation of the missing channels. See bayer.h for the layouts.
#include "bayer.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

const int tile_colours[8][4] = {
    {0, 1, 1, 2}, {1, 0, 2, 1}, {2, 1, 1, 0}, {1, 2, 0, 1},
    {0, 1, 1, 2}, {1, 0, 2, 1}, {2, 1, 1, 0}, {1, 2, 0, 1},
};

namespace {

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

} // namespace

int gp_bayer_expand(unsigned char* mosaic, int w, int h, unsigned char* rgb, BayerTile tile)
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
            px[tile_colours[t][position_index(x, y)]] = row[src];
        }
    }
    return 0;
}

int gp_bayer_interpolate(unsigned char* rgb, int w, int h, BayerTile tile)
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
                const Pos diagonals[4] = {{x + 1, y + 1}, {x - 1, y - 1}, {x - 1, y + 1},
                                          {x + 1, y - 1}};
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

int gp_bayer_decode(unsigned char* mosaic, int w, int h, unsigned char* rgb, BayerTile tile)
{
    gp_bayer_expand(mosaic, w, h, rgb, tile);
    gp_bayer_interpolate(rgb, w, h, tile);
    return 0;
}
