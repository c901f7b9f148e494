// Multi-page TIFF stacks (tiff_io.h).
#include "tiff_io.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// libtiff reports through handlers: its last error is kept for the message, its warnings (tags
// of other programs) are not shown.
thread_local std::string g_tiff_error;

void keep_error(const char* module, const char* fmt, va_list ap)
{
    char text[512];
    vsnprintf(text, sizeof text, fmt, ap);
    g_tiff_error = text;
    (void)module;
}

void ignore_warning(const char*, const char*, va_list) {}

void install_handlers()
{
    static const bool installed = [] {
        TIFFSetErrorHandler(keep_error);
        TIFFSetWarningHandler(ignore_warning);
        return true;
    }();
    (void)installed;
}

TIFF* tif(void* p)
{
    return static_cast<TIFF*>(p);
}

std::string why(const char* otherwise)
{
    std::string s = g_tiff_error.empty() ? otherwise : g_tiff_error;
    g_tiff_error.clear();
    return s;
}

struct Page {
    uint32_t width = 0, height = 0;
    uint16_t spp = 1, bits = 0, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
};

Page page_of(TIFF* t)
{
    Page p;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &p.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &p.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &p.spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &p.bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &p.format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &p.planar);
    return p;
}

} // namespace

bool tiff_is(const unsigned char* h, size_t n)
{
    return n >= 4 && ((h[0] == 'I' && h[1] == 'I' && (h[2] == 42 || h[2] == 43) && h[3] == 0) ||
                      (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && (h[3] == 42 || h[3] == 43)));
}

TiffReader::~TiffReader()
{
    if (tif_ != nullptr)
        TIFFClose(tif(tif_));
}

bool TiffReader::open(const std::string& path, std::string& error)
{
    install_handlers();
    path_ = path;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (t == nullptr) {
        error = path + ": not a TIFF file this system reads: " + why("it cannot be opened");
        return false;
    }
    tif_ = t;
    const Page first = page_of(t);
    auto refuse = [&](int64_t page, const std::string& what) {
        error = path + ": page " + std::to_string(page) + ": " + what;
        return false;
    };
    if (first.format != SAMPLEFORMAT_UINT || (first.bits != 8 && first.bits != 16) ||
        (first.spp != 1 && first.spp != 3) || (first.spp == 3 && first.bits != 8))
        return refuse(0, std::to_string(first.spp) + " samples of " + std::to_string(first.bits) +
                             " bits a pixel (clips take 8- or 16-bit gray and 8-bit RGB, "
                             "unsigned)");
    if (first.spp == 3 && first.planar != PLANARCONFIG_CONTIG)
        return refuse(0, "RGB in separate planes (clips take interleaved RGB)");
    if (first.width < 1 || first.height < 1 || first.width > 65535 || first.height > 65535)
        return refuse(0, "a page of " + std::to_string(first.width) + " x " +
                             std::to_string(first.height) + " pixels");
    width = int(first.width);
    height = int(first.height);
    channels = first.spp;
    bits = first.bits;
    // Every page like the first (libtiff follows the chain of pages and stops at a loop).
    int64_t n = 0;
    do {
        const Page p = page_of(t);
        if (p.width != first.width || p.height != first.height || p.spp != first.spp ||
            p.bits != first.bits || p.format != first.format || p.planar != first.planar)
            return refuse(n, std::to_string(p.width) + " x " + std::to_string(p.height) + ", " +
                                 std::to_string(p.spp) + " x " + std::to_string(p.bits) +
                                 " bits, unlike page 0 (" + std::to_string(width) + " x " +
                                 std::to_string(height) + ", " + std::to_string(channels) + " x " +
                                 std::to_string(bits) + " bits)");
        n++;
    } while (TIFFReadDirectory(t) == 1);
    if (!g_tiff_error.empty())
        return refuse(n, why("its directory cannot be read"));
    pages = n;
    // ImageJ's description on the first page: "ImageJ=...\nfinterval=0.04\n..."
    TIFFSetDirectory(t, 0);
    char* description = nullptr;
    if (TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &description) == 1 && description != nullptr &&
        strncmp(description, "ImageJ=", 7) == 0) {
        const char* f = strstr(description, "\nfinterval=");
        if (f != nullptr) {
            const double v = strtod(f + 11, nullptr);
            if (v > 0 && v < 1e6)
                frame_interval = v;
        }
    }
    next_ = 0;
    return true;
}

bool TiffReader::read(unsigned char* out, std::string& error)
{
    TIFF* t = tif(tif_);
    if (next_ >= pages || TIFFSetDirectory(t, tdir_t(next_)) != 1) {
        error = path_ + ": page " + std::to_string(next_) + ": " + why("it cannot be reached");
        return false;
    }
    const size_t row = size_t(width) * size_t(channels) * size_t(bits / 8);
    if (TIFFIsTiled(t)) {
        // Whole tiles, copied into the rows they cover.
        uint32_t tw = 0, th = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
        const tmsize_t tile_bytes = TIFFTileSize(t);
        if (tw == 0 || th == 0 || tile_bytes <= 0 || tile_bytes > (tmsize_t(1) << 30)) {
            error = path_ + ": page " + std::to_string(next_) + ": tiles it cannot read";
            return false;
        }
        std::vector<unsigned char> tile(static_cast<size_t>(tile_bytes));
        const size_t px = size_t(channels) * size_t(bits / 8);
        for (uint32_t y = 0; y < uint32_t(height); y += th)
            for (uint32_t x = 0; x < uint32_t(width); x += tw) {
                if (TIFFReadTile(t, tile.data(), x, y, 0, 0) < 0) {
                    error = path_ + ": page " + std::to_string(next_) + ": " +
                            why("a tile cannot be read");
                    return false;
                }
                for (uint32_t r = 0; r < th && y + r < uint32_t(height); r++) {
                    const uint32_t cols = std::min<uint32_t>(tw, uint32_t(width) - x);
                    memcpy(out + (size_t(y + r) * size_t(width) + x) * px,
                           tile.data() + size_t(r) * tw * px, size_t(cols) * px);
                }
            }
    } else {
        if (size_t(TIFFScanlineSize(t)) != row) {
            error = path_ + ": page " + std::to_string(next_) + ": rows of an unexpected size";
            return false;
        }
        for (int y = 0; y < height; y++)
            if (TIFFReadScanline(t, out + size_t(y) * row, uint32_t(y)) != 1) {
                error =
                    path_ + ": page " + std::to_string(next_) + ": " + why("a row cannot be read");
                return false;
            }
    }
    // Two-byte samples as the clip stores them: little-endian (libtiff gives the host's order).
    if (bits == 16) {
        const uint16_t probe = 1;
        if (*reinterpret_cast<const unsigned char*>(&probe) == 0)
            for (size_t i = 0; i + 1 < frame_bytes(); i += 2)
                std::swap(out[i], out[i + 1]);
    }
    next_++;
    return true;
}

// The writer lays the file out as ImageJ does, which ImageJ and tifffile expect of a stack:
// the header, every page's pixels in one run, then the pages' directories (libtiff would put
// each directory between two pages' pixels).
namespace {

void put16(std::vector<unsigned char>& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void put32(std::vector<unsigned char>& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

void put64(std::vector<unsigned char>& b, uint64_t v)
{
    put32(b, uint32_t(v));
    put32(b, uint32_t(v >> 32));
}

} // namespace

TiffWriter::~TiffWriter()
{
    if (f_ != nullptr) {
        fclose(f_);
        remove(temp_.c_str());
    }
}

bool TiffWriter::open(const std::string& path, int width, int height, int channels, int bits,
                      int64_t frames, double frame_interval, std::string& error, bool bigtiff)
{
    path_ = path;
    temp_ = path + ".partial-" + std::to_string(getpid());
    width_ = width;
    height_ = height;
    channels_ = channels;
    bits_ = bits;
    frames_ = frames;
    frame_bytes_ = uint64_t(width) * uint64_t(height) * uint64_t(channels) * uint64_t(bits / 8);
    // A classic TIFF addresses 4 GiB: above about that, BigTIFF.
    big_ = bigtiff || frame_bytes_ * uint64_t(frames) + uint64_t(frames) * 256 + 4096 >
                          (uint64_t(1) << 32) - 1;
    f_ = fopen(temp_.c_str(), "wb");
    if (f_ == nullptr) {
        error = path + ": " + strerror(errno);
        return false;
    }
    std::vector<unsigned char> head = {'I', 'I'};
    if (big_) {
        put16(head, 43);
        put16(head, 8);
        put16(head, 0);
        put64(head, 0); // the first directory's place, set at the finish
    } else {
        put16(head, 42);
        put32(head, 0);
    }
    header_bytes_ = head.size();
    if (fwrite(head.data(), 1, head.size(), f_) != head.size()) {
        error = path + ": " + strerror(errno);
        return false;
    }
    char d[256];
    int n = snprintf(d, sizeof d, "ImageJ=1.11a\nimages=%lld\nframes=%lld\n", (long long)frames,
                     (long long)frames);
    if (frame_interval > 0)
        n += snprintf(d + n, sizeof d - size_t(n), "finterval=%.9g\n", frame_interval);
    snprintf(d + n, sizeof d - size_t(n), "loop=false\n");
    description_ = d;
    return true;
}

bool TiffWriter::write(const unsigned char* frame, std::string& error)
{
    if (written_ >= frames_) {
        error = path_ + ": more pages than announced";
        return false;
    }
    if (fwrite(frame, 1, size_t(frame_bytes_), f_) != size_t(frame_bytes_)) {
        error = path_ + ": " + strerror(errno);
        return false;
    }
    written_++;
    return true;
}

bool TiffWriter::finish(std::string& error)
{
    if (written_ != frames_) {
        error = path_ + ": " + std::to_string(written_) + " pages written of " +
                std::to_string(frames_);
        return false;
    }
    // Behind the pixels: the description, the bits of each sample (RGB), then the directories.
    const uint64_t pixels_end = header_bytes_ + frame_bytes_ * uint64_t(frames_);
    std::vector<unsigned char> tail(description_.begin(), description_.end());
    tail.push_back(0);
    const uint64_t description_at = pixels_end;
    if (tail.size() % 2)
        tail.push_back(0);
    const uint64_t bits_at = pixels_end + tail.size();
    for (int c = 0; c < 3; c++)
        put16(tail, uint32_t(bits_));
    while (tail.size() % 8)
        tail.push_back(0);
    uint64_t ifd_at = pixels_end + tail.size();
    const uint64_t first_ifd = ifd_at;
    struct Entry {
        uint16_t tag, type;
        uint64_t count, value;
    };
    const uint16_t kShort = 3, kLong = 4, kAscii = 2, kLong8 = 16;
    for (int64_t k = 0; k < frames_; k++) {
        std::vector<Entry> e = {
            {254, kLong, 1, 0},
            {256, kLong, 1, uint64_t(width_)},
            {257, kLong, 1, uint64_t(height_)},
            {258, kShort, uint64_t(channels_), channels_ == 3 ? bits_at : uint64_t(bits_)},
            {259, kShort, 1, 1},
            {262, kShort, 1, channels_ == 3 ? 2u : 1u},
        };
        if (k == 0)
            e.push_back({270, kAscii, uint64_t(description_.size() + 1), description_at});
        e.push_back({273, big_ ? kLong8 : kLong, 1, header_bytes_ + frame_bytes_ * uint64_t(k)});
        e.push_back({277, kShort, 1, uint64_t(channels_)});
        e.push_back({278, kLong, 1, uint64_t(height_)});
        e.push_back({279, big_ ? kLong8 : kLong, 1, frame_bytes_});
        e.push_back({284, kShort, 1, 1});
        e.push_back({339, kShort, 1, 1});
        const uint64_t size = big_ ? 8 + 20 * e.size() + 8 : 2 + 12 * e.size() + 4;
        const uint64_t next = k + 1 < frames_ ? ifd_at + size : 0;
        if (big_)
            put64(tail, e.size());
        else
            put16(tail, uint32_t(e.size()));
        for (const Entry& x : e) {
            put16(tail, x.tag);
            put16(tail, x.type);
            if (big_)
                put64(tail, x.count);
            else
                put32(tail, uint32_t(x.count));
            // values that fit the field sit in it, left-justified
            if (x.type == kShort && x.count == 1) {
                put16(tail, uint32_t(x.value));
                put16(tail, 0);
                if (big_)
                    put32(tail, 0);
            } else if (big_) {
                put64(tail, x.value);
            } else {
                put32(tail, uint32_t(x.value));
            }
        }
        if (big_)
            put64(tail, next);
        else
            put32(tail, uint32_t(next));
        ifd_at += size;
    }
    std::vector<unsigned char> where;
    if (big_)
        put64(where, first_ifd);
    else
        put32(where, uint32_t(first_ifd));
    bool ok = fwrite(tail.data(), 1, tail.size(), f_) == tail.size() &&
              fseek(f_, big_ ? 8 : 4, SEEK_SET) == 0 &&
              fwrite(where.data(), 1, where.size(), f_) == where.size() && fflush(f_) == 0 &&
              fsync(fileno(f_)) == 0;
    const int why_errno = errno;
    ok = fclose(f_) == 0 && ok;
    f_ = nullptr;
    if (!ok || rename(temp_.c_str(), path_.c_str()) != 0) {
        error = path_ + ": " + strerror(ok ? errno : why_errno);
        remove(temp_.c_str());
        return false;
    }
    return true;
}
