// Tile Bayer routines: expansion of a one-byte mosaic by tile arrangement and the in-place
// interpolation of the missing channels. See bayer.h for the layouts.
#include "bayer.h"

#include <cstddef>
#include <cstdint>
#include <new>

#include "bayer_simd.h"

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

const SiteRoles& roles_of(int tile)
{
    return (tile >= 0 && tile < 8) ? kRoles[tile & 3] : kRoles[0];
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

inline size_t interlaced_column(int x, int w)
{
    return (x & 1) ? size_t(x / 2) : size_t(w / 2) + size_t(x / 2);
}

// floor(x / 3) for the sums of at most three bytes.
inline int div3(int x)
{
    return (x * 43691) >> 17;
}

// Neighbour estimate over four values that all lie inside the image. With the line test
// (green only) a, b, c, d are left, right, up, down, and a clear difference across one
// direction picks the mean along the other.
inline int estimate4(int a, int b, int c, int d, bool line_test)
{
    if (line_test) {
        const int hd = (b - a) * (b - a), vd = (d - c) * (d - c);
        if (hd > 2 * vd)
            return (c + d) >> 1;
        if (vd > 2 * hd)
            return (a + b) >> 1;
    }
    const int sum = a + b + c + d;
    const int mean = sum >> 2;
    const int above = (a > mean) + (b > mean) + (c > mean) + (d > mean);
    const int above_sum =
        (a > mean ? a : 0) + (b > mean ? b : 0) + (c > mean ? c : 0) + (d > mean ? d : 0);
    if (above == 3)
        return div3(above_sum);
    if (above == 1)
        return div3(sum - above_sum);
    return mean;
}

// One pixel by the interpolation rules with full inside checks, for the border and for any
// image whose samples are read through an accessor: sample(x, y) gives the value of the
// site's own colour. Writes the two channels the site lacks; with write_own also its own.
template <class Sample>
void interpolate_pixel(const Sample& sample, int x, int y, int w, int h, const SiteRoles& roles,
                       unsigned char* px, bool write_own)
{
    auto inside = [w, h](int i, int j) { return i >= 0 && i < w && j >= 0 && j < h; };
    // Mean over the positions that lie inside; the mean of none is 0 (a missing neighbour
    // in an image of width or height 1).
    auto mean_of = [&](const int(*pos)[2], int n, int& count, int* values) {
        int sum = 0;
        count = 0;
        for (int i = 0; i < n; i++)
            if (inside(pos[i][0], pos[i][1])) {
                values[count] = sample(pos[i][0], pos[i][1]);
                sum += values[count++];
            }
        return count ? sum / count : 0;
    };
    const int q = position_index(x, y);
    const int left[2] = {x - 1, y}, right[2] = {x + 1, y}, up[2] = {x, y - 1}, down[2] = {x, y + 1};
    int count, values[4];
    if (q == roles.red || q == roles.blue) {
        const int cross[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        const int diagonals[4][2] = {
            {x + 1, y + 1}, {x - 1, y - 1}, {x - 1, y + 1}, {x + 1, y - 1}};
        const int mean_cross = mean_of(cross, 4, count, values);
        const int green =
            count == 4 ? estimate4(values[0], values[1], values[2], values[3], true) : mean_cross;
        const int mean_diagonal = mean_of(diagonals, 4, count, values);
        const int other = count == 4 ? estimate4(values[0], values[1], values[2], values[3], false)
                                     : mean_diagonal;
        const bool red_site = q == roles.red;
        px[GREEN] = (unsigned char)green;
        px[red_site ? BLUE : RED] = (unsigned char)other;
        if (write_own)
            px[red_site ? RED : BLUE] = (unsigned char)sample(x, y);
    } else {
        const int sideways[2][2] = {{left[0], left[1]}, {right[0], right[1]}};
        const int vertical[2][2] = {{up[0], up[1]}, {down[0], down[1]}};
        const int h_mean = mean_of(sideways, 2, count, values);
        const int v_mean = mean_of(vertical, 2, count, values);
        const bool red_sideways = q == roles.green_red_sideways;
        px[RED] = (unsigned char)(red_sideways ? h_mean : v_mean);
        px[BLUE] = (unsigned char)(red_sideways ? v_mean : h_mean);
        if (write_own)
            px[GREEN] = (unsigned char)sample(x, y);
    }
}

// Portable interior of one row: columns x .. x_end - 1, all neighbours inside.
void tile_row_portable(const unsigned char* up, const unsigned char* mid, const unsigned char* down,
                       unsigned char* out_row, int x, int x_end, int colour_parity,
                       int colour_is_red)
{
    for (; x < x_end; x++) {
        unsigned char* px = out_row + 3 * size_t(x);
        const int own = mid[x], l = mid[x - 1], r = mid[x + 1], u = up[x], d = down[x];
        if ((x & 1) == colour_parity) {
            const int green = estimate4(l, r, u, d, true);
            const int other = estimate4(down[x + 1], up[x - 1], down[x - 1], up[x + 1], false);
            px[RED] = (unsigned char)(colour_is_red ? own : other);
            px[GREEN] = (unsigned char)green;
            px[BLUE] = (unsigned char)(colour_is_red ? other : own);
        } else {
            const int h_mean = (l + r) >> 1, v_mean = (u + d) >> 1;
            px[RED] = (unsigned char)(colour_is_red ? h_mean : v_mean);
            px[GREEN] = (unsigned char)own;
            px[BLUE] = (unsigned char)(colour_is_red ? v_mean : h_mean);
        }
    }
}

typedef int (*TileRowKernel)(const unsigned char*, const unsigned char*, const unsigned char*,
                             unsigned char*, int, int, int, int);

TileRowKernel tile_kernel(BayerPath path)
{
#if defined(VID_X86_KERNELS)
    if (path == BAYER_PATH_AVX2)
        return tile_row_avx2;
    if (path == BAYER_PATH_SSE41)
        return tile_row_sse41;
#endif
    (void)path;
    return nullptr;
}

// Expansion and interpolation in one pass for arrangements 0 to 7. Interpolation reads only
// the sample channel of each site and writes only the others, so its result depends on the
// mosaic alone and can be computed from it directly. Interior rows go through the row
// kernels, over the mosaic rows themselves or, for interlaced arrangements, over a ring of
// three rows brought into column order. Returns false when that ring cannot be allocated.
bool decode_fused(const unsigned char* mosaic, int w, int h, unsigned char* rgb, int tile,
                  BayerPath path)
{
    const SiteRoles& roles = roles_of(tile);
    const bool interlaced = tile >= 4;
    const size_t width = size_t(w);
    auto sample = [=](int x, int y) {
        const unsigned char* row = mosaic + size_t(y) * width;
        return int(interlaced ? row[interlaced_column(x, w)] : row[x]);
    };
    auto border_pixel = [&](int x, int y) {
        interpolate_pixel(sample, x, y, w, h, roles, rgb + 3 * (size_t(y) * width + size_t(x)),
                          true);
    };

    unsigned char* ring = nullptr;
    if (interlaced && h > 2 && w > 2) {
        ring = new (std::nothrow) unsigned char[3 * width];
        if (!ring)
            return false;
    }
    // Row in column order, from the ring for interlaced rows.
    auto natural_row = [&](int y) -> const unsigned char* {
        if (!interlaced)
            return mosaic + size_t(y) * width;
        return ring + size_t(y % 3) * width;
    };
    auto fill_ring = [&](int y) {
        const unsigned char* src = mosaic + size_t(y) * width;
        unsigned char* dst = ring + size_t(y % 3) * width;
        for (int x = 0; x < w; x++)
            dst[x] = src[interlaced_column(x, w)];
    };

    const TileRowKernel kernel = bayer_path_available(path) ? tile_kernel(path) : nullptr;
    for (int y = 0; y < h; y++) {
        if (y == 0 || y == h - 1 || w < 3) {
            for (int x = 0; x < w; x++)
                border_pixel(x, y);
            continue;
        }
        if (interlaced) {
            if (y == 1) {
                fill_ring(0);
                fill_ring(1);
            }
            fill_ring(y + 1);
        }
        const unsigned char *up = natural_row(y - 1), *mid = natural_row(y),
                            *down = natural_row(y + 1);
        // The row's red or blue sites: those whose position index is the red or blue role.
        const int q_even_column = position_index(0, y);
        const bool even_is_colour = q_even_column == roles.red || q_even_column == roles.blue;
        const int colour_parity = even_is_colour ? 0 : 1;
        const int colour_q = position_index(colour_parity, y);
        const int colour_is_red = colour_q == roles.red;
        unsigned char* out = rgb + 3 * size_t(y) * width;

        border_pixel(0, y);
        int x = 1;
        if (kernel)
            x = kernel(up, mid, down, out, x, w - 1, colour_parity, colour_is_red);
        tile_row_portable(up, mid, down, out, x, w - 1, colour_parity, colour_is_red);
        border_pixel(w - 1, y);
    }
    delete[] ring;
    return true;
}

} // namespace

bool bayer_path_available(BayerPath path)
{
    switch (path) {
    case BAYER_PATH_PORTABLE:
        return true;
#if defined(VID_X86_KERNELS)
    case BAYER_PATH_SSE41:
        return __builtin_cpu_supports("sse4.1");
    case BAYER_PATH_AVX2:
        return __builtin_cpu_supports("avx2");
#endif
    default:
        return false;
    }
}

BayerPath bayer_best_path()
{
    if (bayer_path_available(BAYER_PATH_AVX2))
        return BAYER_PATH_AVX2;
    if (bayer_path_available(BAYER_PATH_SSE41))
        return BAYER_PATH_SSE41;
    return BAYER_PATH_PORTABLE;
}

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
            unsigned char* px = out + 3 * size_t(x);
            px[0] = px[1] = px[2] = 0;
            px[tile_colours[t][position_index(x, y)]] =
                row[interlaced ? interlaced_column(x, w) : size_t(x)];
        }
    }
    return 0;
}

int gp_bayer_interpolate(unsigned char* rgb, int w, int h, BayerTile tile)
{
    if (!image_is_addressable(w, h))
        return 0;
    const SiteRoles& roles = roles_of(int(tile));
    const size_t width = size_t(w);
    // The site's own colour, by its role: red sites keep red, blue sites blue, green green.
    auto sample = [&](int x, int y) {
        const int q = position_index(x, y);
        const int channel = q == roles.red ? RED : q == roles.blue ? BLUE : GREEN;
        return int(rgb[3 * (size_t(y) * width + size_t(x)) + channel]);
    };
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            interpolate_pixel(sample, x, y, w, h, roles, rgb + 3 * (size_t(y) * width + size_t(x)),
                              false);
    return 0;
}

int gp_bayer_decode_on_path(unsigned char* mosaic, int w, int h, unsigned char* rgb, int tile,
                            BayerPath path)
{
    if (!image_is_addressable(w, h))
        return 0;
    if (tile >= 0 && tile <= 7 && decode_fused(mosaic, w, h, rgb, tile, path))
        return 0;
    // A tile outside 0 to 7 (nothing to expand) or no memory for the interlace ring.
    gp_bayer_expand(mosaic, w, h, rgb, BayerTile(tile));
    gp_bayer_interpolate(rgb, w, h, BayerTile(tile));
    return 0;
}

int gp_bayer_decode(unsigned char* mosaic, int w, int h, unsigned char* rgb, BayerTile tile)
{
    return gp_bayer_decode_on_path(mosaic, w, h, rgb, int(tile), bayer_best_path());
}
