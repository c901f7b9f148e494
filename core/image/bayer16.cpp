// The two-byte demosaic, its channel gains and white_balance (bayer16.h).
#include "bayer16.h"

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "bayer_simd.h"
#include "le_bytes.h"
#include "vid_format.h"

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
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0
    // x87 arithmetic keeps excess precision; a store rounds the product to single precision.
    volatile float rounded = float(c) * k;
    const float p = rounded;
#else
    const float p = float(c) * k;
#endif
    if (!(p >= 0.0f))
        return 0;
    if (p > 255.0f)
        return 255;
    return (unsigned char)(int)p;
}

// Neighbour coordinates along one axis of length n: mirrored at distance 1 (the position
// itself when the axis has a single position and the mirror would fall outside too), held
// at distance 2.
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

// One output pixel of row y. rows[0..4] are the input rows y-2 .. y+2 after the border
// rules, a the column neighbours of x. In a "bG" row blue sites sit at even columns and
// green sites (red above and below) at odd ones; in a "gr" row green sites (red left and
// right) sit at even columns and red sites at odd ones. Both patterns start every row with
// the even-column site, so the row kind alone decides.
inline void demosaic16_pixel(const unsigned char* const rows[5], int x, const Axis& a, bool bg_row,
                             const float k[3], unsigned char* px)
{
    auto v = [rows](int row, int col) {
        const unsigned char* s = rows[row] + 2 * size_t(col);
        return int(s[0]) | int(s[1]) << 8;
    };
    const int own = v(2, x);
    const int left = v(2, a.m1), right = v(2, a.p1), up = v(1, x), down = v(3, x);
    int red, green, blue;
    if (bg_row == ((x & 1) == 0)) { // a blue or a red site
        const int diagonal = (v(1, a.m1) + v(1, a.p1) + v(3, a.m1) + v(3, a.p1)) >> 2;
        int dh = v(2, a.m2) - v(2, a.p2);
        int dv = v(0, x) - v(4, x);
        dh = dh < 0 ? -dh : dh;
        dv = dv < 0 ? -dv : dv;
        // dh > 1.1 * dv in double precision is exactly 10 * dh > 11 * dv for these ranges
        if (10 * dh > 11 * dv)
            green = (up + down) >> 1;
        else if (10 * dv > 11 * dh)
            green = (left + right) >> 1;
        else
            green = (left + right + up + down) >> 2;
        red = bg_row ? diagonal : own;
        blue = bg_row ? own : diagonal;
    } else if (bg_row) { // green, red above and below
        red = (up + down) >> 1;
        green = own;
        blue = (left + right) >> 1;
    } else { // green, red left and right
        red = (left + right) >> 1;
        green = own;
        blue = (up + down) >> 1;
    }
    px[0] = scale_to_byte(red, k[0]);
    px[1] = scale_to_byte(green, k[1]);
    px[2] = scale_to_byte(blue, k[2]);
}

typedef int (*Demosaic16RowKernel)(const unsigned char* const*, unsigned char*, int, int, int,
                                   const float*);

Demosaic16RowKernel row_kernel(BayerPath path)
{
#if defined(VID_X86_KERNELS)
    if (path == BAYER_PATH_AVX2)
        return demosaic16_row_avx2;
    if (path == BAYER_PATH_SSE41)
        return demosaic16_row_sse41;
#endif
    (void)path;
    return nullptr;
}

} // namespace

void bayer_interpolate_frame_on_path(unsigned char* mosaic, unsigned char* rgb, int width,
                                     int height, BayerPath path)
{
    if (width < 1 || height < 1)
        return;
    const uint64_t pixels = uint64_t(width) * uint64_t(height);
    if (pixels > uint64_t(SIZE_MAX) / 3)
        return;
    const float k[3] = {rbal * 0.25f, gbal * 0.25f, bbal * 0.25f};
    // Width 1600 reads "grbG" (row 0 is a "gr" row), every other width "bGgr".
    const int bg_parity = width == 1600 ? 1 : 0;
    const Demosaic16RowKernel kernel = bayer_path_available(path) ? row_kernel(path) : nullptr;
    const size_t row_bytes = 2 * size_t(width);

    for (int y = 0; y < height; y++) {
        const Axis ay = axis_neighbours(y, height);
        const unsigned char* const rows[5] = {
            mosaic + size_t(ay.m2) * row_bytes, mosaic + size_t(ay.m1) * row_bytes,
            mosaic + size_t(y) * row_bytes, mosaic + size_t(ay.p1) * row_bytes,
            mosaic + size_t(ay.p2) * row_bytes};
        unsigned char* out = rgb + 3 * size_t(y) * size_t(width);
        const bool bg_row = (y & 1) == bg_parity;

        // Columns 2 .. width - 3 have all four column neighbours in place: no border rule.
        const int interior_end = width - 2;
        int x = 0;
        for (; x < 2 && x < width; x++)
            demosaic16_pixel(rows, x, axis_neighbours(x, width), bg_row, k, out + 3 * size_t(x));
        if (kernel && x < interior_end)
            x = kernel(rows, out, x, interior_end, bg_row, k);
        for (; x < interior_end; x++)
            demosaic16_pixel(rows, x, Axis{x - 2, x - 1, x + 1, x + 2}, bg_row, k,
                             out + 3 * size_t(x));
        for (; x < width; x++)
            demosaic16_pixel(rows, x, axis_neighbours(x, width), bg_row, k, out + 3 * size_t(x));
    }
}

void bayer_interpolate_frame(unsigned char* mosaic, unsigned char* rgb, int width, int height)
{
    bayer_interpolate_frame_on_path(mosaic, rgb, width, height, bayer_best_path());
}

void white_balance(float red, float green, float blue)
{
    rbal = red;
    gbal = green;
    bbal = blue;
}
