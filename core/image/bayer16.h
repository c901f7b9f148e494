// The two-byte demosaic: a mosaic of 16-bit little-endian samples to 8-bit RGB with an
// edge-directed rule and three per-channel gains. The gains are the only process-wide mutable
// state of the colour reconstruction: they start at red 1.0, green 1.33, blue 3.05 and change
// only through white_balance, which takes no lock and so must not run while a demosaic is in
// progress. Everything else here may run on several threads at once.
#pragma once

// Demosaics a width x height mosaic of two-byte little-endian samples (2 * width * height
// bytes) into width x height RGB pixels (3 * width * height bytes, R G B, rows from the top).
// The colour-filter pattern depends on the width: exactly 1600 gives green-red over
// blue-green, every other width blue-green over green-red. Neighbours are mirrored at
// distance 1 and held at distance 2 at the borders; in a frame of width or height 1 the
// mirrored neighbour does not exist and the pixel's own sample stands in for it.
// Each channel value is scaled by its gain times 0.25 in single precision and clamped to
// 0..255 (a non-number counts as 0). The gains are read once, at entry.
// Writes nothing when width or height is below 1, or when the byte counts do not fit the
// address space.
void bayer_interpolate_frame(unsigned char* mosaic, unsigned char* rgb, int width, int height);

// Sets the red, green and blue gains used by every later bayer_interpolate_frame call in
// this process. Unchecked; not thread-safe against a running demosaic.
void white_balance(float red, float green, float blue);
