// Conversions between the RGB frame layout of a VidHeader's pixmap (rows from the top,
// pixels left to right, bytes red, green, blue) and MATLAB's column-major image layout
// (element (y, x, c), counted from 0, at y + M x + M N c for an M x N x P array).
// Header-only, no state, no host calls: used by clipReadMex, clipWriteMex and the benchmark.
#pragma once

#include <cstddef>

// Writes the width x height frame in pixmap as a height x width x 3 image of doubles or
// uint8 into out (3 * width * height elements), values 0 to 255. The transpose goes tile by
// tile (32 x 32 pixels), so that both the rows read and the columns written stay in cache.
template <class Element>
inline void vid_pixmap_to_planes(const unsigned char* pixmap, size_t width, size_t height,
                                 Element* out)
{
    const size_t plane = width * height;
    const size_t row_bytes = width * 3;
    const size_t tile = 32;
    for (size_t x0 = 0; x0 < width; x0 += tile) {
        const size_t x1 = x0 + tile < width ? x0 + tile : width;
        for (size_t y0 = 0; y0 < height; y0 += tile) {
            const size_t y1 = y0 + tile < height ? y0 + tile : height;
            for (size_t x = x0; x < x1; x++) {
                const unsigned char* src = pixmap + y0 * row_bytes + 3 * x;
                Element* r = out + height * x;
                Element* g = r + plane;
                Element* b = g + plane;
                for (size_t y = y0; y < y1; y++, src += row_bytes) {
                    r[y] = src[0];
                    g[y] = src[1];
                    b[y] = src[2];
                }
            }
        }
    }
}

// Copies planes 0 to 2 of a rows x cols x P uint8 image (P >= 3) into the width x height
// frame in pixmap, over the rows and columns both have; the rest of pixmap is left alone
// (the caller whitens it first), so a smaller image leaves the frame's right and bottom
// parts as they were and a larger one is cropped.
inline void vid_planes_to_pixmap(const unsigned char* image, size_t rows, size_t cols,
                                 unsigned char* pixmap, size_t width, size_t height)
{
    const size_t plane = rows * cols;
    const size_t used_cols = cols < width ? cols : width;
    const size_t used_rows = rows < height ? rows : height;
    for (size_t x = 0; x < used_cols; x++) {
        const unsigned char* r = image + rows * x;
        const unsigned char* g = r + plane;
        const unsigned char* b = g + plane;
        unsigned char* dst = pixmap + 3 * x;
        for (size_t y = 0; y < used_rows; y++, dst += 3 * width) {
            dst[0] = r[y];
            dst[1] = g[y];
            dst[2] = b[y];
        }
    }
}
