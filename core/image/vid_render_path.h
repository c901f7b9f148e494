// For tests and benchmarks: vid_render8 with the 8-bit row kernel of a chosen path
// (BAYER_PATH_PORTABLE: none, the exact 32-bit arithmetic throughout; a path the processor
// lacks falls back to the next one below). The system calls vid_render8, which takes the best.
#pragma once

#include <string>

#include "bayer_simd.h"
#include "vid_sensor.h"

bool vid_render8_on_path(const VidSensor& sensor, const unsigned char* samples, int sample_bytes,
                         int width, int height, unsigned char* out, int channels, bool srgb,
                         BayerPath path, std::string* report);
