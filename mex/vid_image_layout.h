// Conversions between the RGB frame layout of a VidHeader's pixmap (rows from the top,
// pixels left to right, bytes red, green, blue) and MATLAB's column-major image layout
// (element (y, x, c), counted from 0, at y + M x + M N c for an M x N x P array).
// Header-only, no state, no host calls: used by clipReadMex, clipWriteMex and the benchmark.
#pragma once

#include <cstddef>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

// The 16-vector loops below must be unrolled to keep the vectors in registers, whatever the
// optimisation level the module is built at (mkoctfile builds at -O2).
#if defined(__GNUC__)
#define VID_UNROLL _Pragma("GCC unroll 16")
#else
#define VID_UNROLL
#endif

// Writes the part x0 <= x < x1, y0 <= y < y1 of the width x height frame in pixmap into the
// height x width x 3 image out (doubles or uint8, values 0 to 255). The transpose goes tile
// by tile (32 x 32 pixels), so that both the rows read and the columns written stay in cache.
template <class Element>
inline void vid_pixmap_part_to_planes(const unsigned char* pixmap, size_t width, size_t height,
                                      Element* out, size_t x0, size_t x1, size_t y0, size_t y1)
{
    const size_t plane = width * height;
    const size_t row_bytes = width * 3;
    const size_t tile = 32;
    for (size_t tx = x0; tx < x1; tx += tile) {
        const size_t tx1 = tx + tile < x1 ? tx + tile : x1;
        for (size_t ty = y0; ty < y1; ty += tile) {
            const size_t ty1 = ty + tile < y1 ? ty + tile : y1;
            for (size_t x = tx; x < tx1; x++) {
                const unsigned char* src = pixmap + ty * row_bytes + 3 * x;
                Element* r = out + height * x;
                Element* g = r + plane;
                Element* b = g + plane;
                for (size_t y = ty; y < ty1; y++, src += row_bytes) {
                    r[y] = src[0];
                    g[y] = src[1];
                    b[y] = src[2];
                }
            }
        }
    }
}

// Rows y_begin <= y < y_end of the frame, whole (see vid_pixmap_part_to_planes).
template <class Element>
inline void vid_pixmap_rows_to_planes(const unsigned char* pixmap, size_t width, size_t height,
                                      Element* out, size_t y_begin, size_t y_end)
{
    vid_pixmap_part_to_planes(pixmap, width, height, out, 0, width, y_begin, y_end);
}

#if defined(__SSE2__) || defined(_M_X64)
// Transposes the 16 x 16 bytes in v (row i in v[i]) in four rounds of interleaving: after
// round r, each vector holds 2^r-byte runs of one column from 2^r consecutive rows.
inline void vid_transpose_16x16(__m128i v[16])
{
    __m128i t[16];
    VID_UNROLL
    for (int i = 0; i < 8; i++) {
        t[i] = _mm_unpacklo_epi8(v[2 * i], v[2 * i + 1]);
        t[i + 8] = _mm_unpackhi_epi8(v[2 * i], v[2 * i + 1]);
    }
    VID_UNROLL
    for (int i = 0; i < 4; i++) {
        v[i] = _mm_unpacklo_epi16(t[2 * i], t[2 * i + 1]);
        v[i + 4] = _mm_unpackhi_epi16(t[2 * i], t[2 * i + 1]);
        v[i + 8] = _mm_unpacklo_epi16(t[8 + 2 * i], t[8 + 2 * i + 1]);
        v[i + 12] = _mm_unpackhi_epi16(t[8 + 2 * i], t[8 + 2 * i + 1]);
    }
    VID_UNROLL
    for (int k = 0; k < 8; k++) {
        const int q = k / 2, i = k % 2;
        t[4 * q + i] = _mm_unpacklo_epi32(v[4 * q + 2 * i], v[4 * q + 2 * i + 1]);
        t[4 * q + i + 2] = _mm_unpackhi_epi32(v[4 * q + 2 * i], v[4 * q + 2 * i + 1]);
    }
    VID_UNROLL
    for (int k = 0; k < 8; k++) {
        v[2 * k] = _mm_unpacklo_epi64(t[2 * k], t[2 * k + 1]);
        v[2 * k + 1] = _mm_unpackhi_epi64(t[2 * k], t[2 * k + 1]);
    }
}

// uint8 frames, the readers' hot path: 16 rows of 16 pixels at a time. Those rows' 48 bytes
// each form a 16 x 48 byte matrix; its transpose, taken as three 16 x 16 transposes, holds in
// its row j the bytes j of the 16 rows, which is channel j % 3 of pixel j / 3 down 16 rows:
// a run of 16 elements of one output column, stored in one go. Rows and columns that do not
// fill whole tiles go through the general loop. Writes only rows y_begin .. y_end - 1 of
// the output, so that threads may fill disjoint row ranges side by side.
inline void vid_pixmap_rows_to_planes(const unsigned char* pixmap, size_t width, size_t height,
                                      unsigned char* out, size_t y_begin, size_t y_end)
{
    const size_t plane = width * height;
    const size_t row_bytes = width * 3;
    const size_t full_width = width / 16 * 16;
    const size_t tiled_end =
        y_end - y_begin >= 16 ? y_begin + (y_end - y_begin) / 16 * 16 : y_begin;
    for (size_t x0 = 0; x0 < full_width; x0 += 16)
        for (size_t y0 = y_begin; y0 < tiled_end; y0 += 16) {
            const unsigned char* src = pixmap + y0 * row_bytes + 3 * x0;
            VID_UNROLL
            for (int part = 0; part < 3; part++) {
                __m128i v[16];
                VID_UNROLL
                for (int i = 0; i < 16; i++)
                    v[i] = _mm_loadu_si128(
                        reinterpret_cast<const __m128i*>(src + i * row_bytes + 16 * part));
                vid_transpose_16x16(v);
                VID_UNROLL
                for (int j = 0; j < 16; j++) {
                    const size_t byte = size_t(16 * part + j);
                    unsigned char* dst = out + plane * (byte % 3) + height * (x0 + byte / 3) + y0;
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v[j]);
                }
            }
        }
    vid_pixmap_part_to_planes(pixmap, width, height, out, 0, full_width, tiled_end, y_end);
    vid_pixmap_part_to_planes(pixmap, width, height, out, full_width, width, y_begin, y_end);
}
#endif

// Writes the width x height frame in pixmap as a height x width x 3 image of doubles or
// uint8 into out (3 * width * height elements), values 0 to 255.
template <class Element>
inline void vid_pixmap_to_planes(const unsigned char* pixmap, size_t width, size_t height,
                                 Element* out)
{
    vid_pixmap_rows_to_planes(pixmap, width, height, out, 0, height);
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
