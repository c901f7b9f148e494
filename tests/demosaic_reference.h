// Plain per-pixel implementations of the demosaic rules, kept as the reference that the
// tuned production routines are compared against byte for byte. Written for clarity: every
// pixel looks up its site and its clamped neighbours on its own.
#pragma once

#include "bayer.h"

// Two-byte edge-directed demosaic with explicit gains (the production routine reads them
// from its static storage).
void ref_bayer_interpolate_frame(const unsigned char* mosaic, unsigned char* rgb, int width,
                                 int height, float rbal, float gbal, float bbal);

// One-byte tile expansion and interpolation.
int ref_gp_bayer_expand(const unsigned char* mosaic, int w, int h, unsigned char* rgb,
                        BayerTile tile);
int ref_gp_bayer_interpolate(unsigned char* rgb, int w, int h, BayerTile tile);
int ref_gp_bayer_decode(const unsigned char* mosaic, int w, int h, unsigned char* rgb,
                        BayerTile tile);

// The frame demosaic over explicit slice boundaries (row_partitions[0..num_slices]), each
// slice demosaiced as a whole image, two-byte with the gains given, one-byte by tile 3.
void ref_demosaic_slices(const unsigned char* mosaic, unsigned char* rgb, unsigned width,
                         const unsigned* row_partitions, unsigned num_slices, int two_bytes,
                         float rbal, float gbal, float bbal);
