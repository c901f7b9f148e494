// Multi-page TIFF stacks: reading one page by page through libtiff (gray of 8 or 16 bits, or
// 8-bit RGB; ImageJ's frame interval), and writing one laid out as ImageJ lays out its stacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// True for the first bytes of a TIFF or BigTIFF file.
bool tiff_is(const unsigned char* head, size_t n);

class TiffReader {
  public:
    ~TiffReader();
    // Opens a stack and checks every page against the first: false with `error` (naming the
    // file, the page and the reason).
    bool open(const std::string& path, std::string& error);
    // The next page's samples (rows back to back, two-byte samples little-endian).
    bool read(unsigned char* out, std::string& error);
    int width = 0, height = 0, channels = 1, bits = 8;
    int64_t pages = 0;
    double frame_interval = 0; // ImageJ's finterval, seconds (0: not given)
    size_t frame_bytes() const
    {
        return size_t(width) * size_t(height) * size_t(channels) * (bits / 8);
    }

  private:
    void* tif_ = nullptr;
    std::string path_;
    int64_t next_ = 0;
};

// Writes a stack as ImageJ does (the pixels of every page in one run behind the header, the
// pages' directories behind them), uncompressed, BigTIFF when a classic TIFF could not address
// it; under a temporary name until finish() gives it its name.
class TiffWriter {
  public:
    ~TiffWriter();
    // channels 1 or 3, bits 8 or 16 (two-byte samples given little-endian, as stored);
    // frame_interval seconds (0: unknown) for ImageJ.
    bool open(const std::string& path, int width, int height, int channels, int bits,
              int64_t frames, double frame_interval, std::string& error, bool bigtiff = false);
    bool write(const unsigned char* frame, std::string& error);
    // Directories, sync, rename; false with `error` (the temporary file is then removed).
    bool finish(std::string& error);

  private:
    FILE* f_ = nullptr;
    std::string path_, temp_;
    int width_ = 0, height_ = 0, channels_ = 1, bits_ = 8;
    int64_t frames_ = 0, written_ = 0;
    uint64_t header_bytes_ = 8, frame_bytes_ = 0;
    bool big_ = false;
    std::string description_;
};
