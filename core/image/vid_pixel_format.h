// Camera pixel formats (their GenICam names) as frames of a clip: which kind, pattern and bit
// depth a format gives, and the unpacking of packed samples to two-byte ones.
//
// Packed layouts, a row after another, each row starting on a whole byte:
//   "p" (Mono10p, Mono12p, Bayer..10p, Bayer..12p): one little-endian bit stream, each sample's
//       least significant bit first (12 bits: two samples in three bytes, 10 bits: four in five);
//   "Packed" (Mono12Packed, Bayer..12Packed, Mono10Packed): two samples in three bytes, byte 0
//       the high bits of sample 0, byte 1 the low bits of sample 0 (low nibble) and of sample 1
//       (high nibble), byte 2 the high bits of sample 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vid_format.h"
#include "vid_sensor.h"

enum class VidPacking { none, p10, p12, packed10, packed12 };

struct VidPixelFormat {
    const char* name = nullptr;   // the GenICam name
    VidKind kind = VidKind::none; // what the clip stores
    VidCfa cfa = VidCfa::none;    // the pattern of Bayer formats
    int bits = 8;                 // significant bits of a sample
    VidPacking packing = VidPacking::none;
};

// The format of a GenICam name (as cameras give it, any case); false for formats a clip cannot
// hold.
bool vid_pixel_format_find(const std::string& name, VidPixelFormat& out);
// The names vid_pixel_format_find takes, separated by ", ".
std::string vid_pixel_format_names();
// Bytes of one row of `width` pixels in the camera's layout (packed rows rounded up to a byte).
size_t vid_pixel_format_row_bytes(const VidPixelFormat& f, int width);
// Bytes of one row as the clip stores it (1 or 2 a sample, 3 a pixel for RGB).
size_t vid_pixel_format_stored_row_bytes(const VidPixelFormat& f, int width);
// Converts `rows` rows of `width` pixels from the camera's layout (rows `in_stride` bytes apart)
// to the clip's samples (two-byte ones little-endian, rows back to back). Unpacked formats are
// copied; two-byte samples above the format's bits are kept as they are.
void vid_pixel_format_convert(const VidPixelFormat& f, int width, int rows, const unsigned char* in,
                              size_t in_stride, unsigned char* out);
