// Vectorised row kernels of the demosaic and the choice among them at run time.
//
// Both demosaics split an image into an interior, where every neighbour a pixel needs lies
// inside the image, and a border of a few pixels, which the per-pixel code handles. The
// interior goes through a row kernel: a portable scalar one, or one built for SSE4.1 or
// AVX2 (compiled with those instruction sets in their own source files and called only when
// the processor reports them). All paths give the same bytes.
//
// Kernels keep no state; several threads may run them at once.
#pragma once

#include <stdint.h>

enum BayerPath {
    BAYER_PATH_PORTABLE = 0,
    BAYER_PATH_SSE41 = 1,
    BAYER_PATH_AVX2 = 2,
};

// Whether this build has the path and the processor can run it. The portable path always.
bool bayer_path_available(BayerPath path);

// The fastest available path. Asked afresh at every demosaic call (it is a cheap look-up of
// the processor's feature bits), so there is no state to set up.
BayerPath bayer_best_path();

// bayer_interpolate_frame and gp_bayer_decode on a chosen path; an unavailable path falls
// back to the portable one. For tests and benchmarks; the system calls the plain entries,
// which take the best path.
void bayer_interpolate_frame_on_path(unsigned char* mosaic, unsigned char* rgb, int width,
                                     int height, BayerPath path);
int gp_bayer_decode_on_path(unsigned char* mosaic, int w, int h, unsigned char* rgb, int tile,
                            BayerPath path);

// Two-byte row kernel. rows[0..4] are the input rows y-2, y-1, y, y+1, y+2 (already resolved
// by the border rules); out_row is output row y. Processes whole vectors of columns from x
// while every column it reads stays below x_end + 2 and returns the first column it did not
// process. bg_row: the row holds blue sites at even columns and green sites at odd ones;
// otherwise green sites at even columns and red sites at odd ones. gains: red, green and
// blue gains already multiplied by 0.25.
int demosaic16_row_sse41(const unsigned char* const rows[5], unsigned char* out_row, int x,
                         int x_end, int bg_row, const float gains[3]);
int demosaic16_row_avx2(const unsigned char* const rows[5], unsigned char* out_row, int x,
                        int x_end, int bg_row, const float gains[3]);

// One-byte row kernel over rows up, mid, down (natural column order) of an interior row,
// writing all three channels of output row out_row from column x while every column it reads
// stays below x_end + 1; returns the first column it did not process. colour_parity: the
// parity of the columns that hold the row's red or blue sites; colour_is_red: those sites are
// red (else blue).
int tile_row_sse41(const unsigned char* up, const unsigned char* mid, const unsigned char* down,
                   unsigned char* out_row, int x, int x_end, int colour_parity, int colour_is_red);
int tile_row_avx2(const unsigned char* up, const unsigned char* mid, const unsigned char* down,
                  unsigned char* out_row, int x, int x_end, int colour_parity, int colour_is_red);

// The renderer's 8-bit row kernel (vid_render.cpp) over values of at most 15 bits: rows[0..4]
// are the rows y-2 .. y+2, green_x the parity of the row's green columns, red_row whether its
// other colour is red; black and the channels' factors k (Q15, below 32768) give the output
// byte (value - black) * k / 32768. Writes RGB bytes of out_row from column x (even) while every
// column it reads stays below width and returns the first column it did not write.
int render8_row_sse41(const uint16_t* const rows[5], int x, int width, int green_x, int red_row,
                      int black, const short k[3], unsigned char* out_row);
int render8_row_avx2(const uint16_t* const rows[5], int x, int width, int green_x, int red_row,
                     int black, const short k[3], unsigned char* out_row);
