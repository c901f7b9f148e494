// Image files for the command-line programs: PNG through libpng (where the build has it:
// VID_HAVE_PNG), binary PPM/PGM by hand.
//
// Images are held as rows from the top, channels interleaved: RGB 3 bytes per pixel, gray 1
// byte, or gray 2 bytes per sample in the host's order (uint16_t), which the writers turn
// into the big-endian samples both file formats require. Every function reports failure
// through `error` as one line naming the file and the reason (strerror where the system gave
// one) and leaves no file behind under `path` when writing fails. Thread-safe: no state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An image read from a file: RGB pixels, or a mosaic's samples (read_mosaic_image).
struct ImageSamples {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb; // RGB: width * height * 3; samples: width * height * 1 or 2
};

// Reads an 8-bit PNG (RGB, RGBA, gray, gray+alpha or palette; alpha is dropped, gray is
// spread to R = G = B) or a binary PPM/PGM of maxval 255 into RGB. The format is told by the
// file's first bytes, not its name. 16-bit images are refused (they would lose bits).
bool read_rgb_image(const std::string& path, ImageSamples& image, std::string& error);
// Reads a gray image as a Bayer mosaic's samples into image.rgb: 16-bit gray PNG or PGM
// (maxval above 255) for two-byte samples, held little-endian as a record holds them; 8-bit
// gray for one-byte samples. Colour images and other depths are refused.
bool read_mosaic_image(const std::string& path, int bytes_per_sample, ImageSamples& image,
                       std::string& error);

// PNG at this zlib level (see image_io.cpp for why this one).
extern const int kPngCompressionLevel;

// Writes RGB (channels 3) or gray (channels 1) of 8 bits (from `pixels`, width * height *
// channels bytes) or 16 bits (from `gray16`, width * height * channels values, interleaved) as
// PNG or as binary PPM/PGM.
bool write_png(const std::string& path, int width, int height, int channels, int bit_depth,
               const unsigned char* pixels, const uint16_t* gray16, std::string& error);
bool write_pnm(const std::string& path, int width, int height, int channels, int bit_depth,
               const unsigned char* pixels, const uint16_t* gray16, std::string& error);

// In memory, for the viewer's answers: an RGB image (rows from the top) as PNG at zlib level 1
// (Sub filter), or as baseline JPEG of `quality` (1 to 100) through libturbojpeg. False when the
// encoder fails (or this build has no PNG).
bool encode_png(int width, int height, const unsigned char* rgb, std::vector<unsigned char>& out);
bool encode_jpeg(int width, int height, const unsigned char* rgb, int quality,
                 std::vector<unsigned char>& out);
