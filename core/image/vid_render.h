// Pictures of a described clip (vid_sensor.h) from its stored samples: the black level taken
// off, scaled to the white level, demosaiced by the clip's pattern (a mono plane taken as it
// is), white-balanced and, where the clip gives one, through its colour matrix; then 8 bits
// for display (linear, or the sRGB curve) or 16 bits linear for analysis.
//
// The demosaic is gradient-corrected bilinear interpolation on a 5 x 5 neighbourhood, the same
// for all four patterns and both sample widths; borders are mirrored about the edge pixel, which
// keeps every neighbour on its colour's site. Linear 8-bit pictures without a matrix go through
// vector kernels that keep 15 bits of each value (exact on flat areas, within one step of a byte of
// the full arithmetic elsewhere). Rows are rendered side by side on the core's fan-out. Nothing
// here keeps state; thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "vid_sensor.h"

// Renders a width x height frame of samples (sample_bytes 1 or 2 per sample, two-byte samples
// little-endian as stored) into `rgb` (3 bytes per pixel, rows from the top, R G B; a mono
// frame gives R = G = B) or, with channels 1 (mono only), one byte per pixel. srgb: the sRGB
// curve, else linear. False (a report in *report) when the arguments cannot be rendered or
// memory runs out.
bool vid_render8(const VidSensor& sensor, const unsigned char* samples, int sample_bytes, int width,
                 int height, unsigned char* out, int channels, bool srgb, std::string* report);
// The same into 16-bit linear values (0 black, 65535 white).
bool vid_render16(const VidSensor& sensor, const unsigned char* samples, int sample_bytes,
                  int width, int height, uint16_t* out, int channels, std::string* report);
