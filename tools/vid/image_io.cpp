// PNG through libpng and binary PPM/PGM. Writers fill a temporary file in the target's
// folder and rename it into place once it is complete, so an existing image is replaced
// only by a whole new one.
#include "image_io.h"

#include "vid_files.h"

#include "vid_output_file.h"

#if VID_HAVE_PNG
#include <png.h>
#endif

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

// zlib level 1 with the Sub filter on every row: on camera frames (noise in the low bits)
// higher levels shrink a PNG by a few per cent at several times the time; the Sub filter
// alone gives files as small as libpng's adaptive choice (measured: 32 MB against 31 MB for
// 100 frames of 640 x 480) in about 60% of its time, and no filter gives files 2.4 times
// larger that also take longer to deflate.
const int kPngCompressionLevel = 1;

namespace {

// Completes an image file written through `out`, or gives it up (error already says why).
bool finish(VidOutputFile& out, bool ok, std::string& error)
{
    if (!ok) {
        out.abandon();
        return false;
    }
    return out.commit(error);
}

std::string reason(int error_number)
{
    return error_number != 0 ? strerror(error_number) : "unknown error";
}

// What a reader is to give: RGB (8 bits per channel) or gray samples of one or two bytes
// (two-byte samples little-endian, as a mosaic's record holds them).
enum class Want { rgb, gray8, gray16 };

int want_bytes(Want want)
{
    return want == Want::rgb ? 3 : want == Want::gray8 ? 1 : 2;
}

// The bytes of the stream's file, and those from its position to its end; -1 when it cannot
// tell (a pipe). The position is kept.
int64_t stream_bytes(FILE* f, bool from_here)
{
    const int64_t at = vid_ftell(f);
    if (at < 0 || vid_fseek(f, 0, SEEK_END) != 0)
        return -1;
    const int64_t end = vid_ftell(f);
    if (vid_fseek(f, at, SEEK_SET) != 0 || end < at)
        return -1;
    return from_here ? end - at : end;
}

#if VID_HAVE_PNG
// libpng reports through longjmp; the message is kept for the caller's one line.
struct PngErrors {
    jmp_buf jump;
    char message[200];
};

void png_error_handler(png_structp png, png_const_charp message)
{
    PngErrors* e = static_cast<PngErrors*>(png_get_error_ptr(png));
    snprintf(e->message, sizeof e->message, "%s", message);
    longjmp(e->jump, 1);
}

void png_warning_handler(png_structp, png_const_charp) {}

// Reads a PNG from an open file. Everything that outlives a longjmp is a plain pointer set up
// before setjmp, so no destructor is skipped.
bool read_png(FILE* f, const std::string& path, Want want, int& out_width, int& out_height,
              std::vector<unsigned char>& out, std::string& error)
{
    PngErrors errors;
    errors.message[0] = '\0';
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, png_error_handler,
                                             png_warning_handler);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = path + ": out of memory reading PNG";
        return false;
    }
    unsigned char* volatile pixels = nullptr;
    png_bytep* volatile rows = nullptr;
    if (setjmp(errors.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        free(pixels);
        free(rows);
        error = path + ": not a valid PNG image: " + errors.message;
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    int depth = png_get_bit_depth(png, info);
    int colour = png_get_color_type(png, info);
    if (want == Want::rgb && depth == 16) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = path + ": 16-bit PNG images are not taken (RGB frames hold 8 bits per channel)";
        return false;
    }
    if (want != Want::rgb &&
        ((colour != PNG_COLOR_TYPE_GRAY && colour != PNG_COLOR_TYPE_GRAY_ALPHA) ||
         (depth == 16) != (want == Want::gray16))) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = path + (want == Want::gray16
                            ? ": not a 16-bit gray PNG (two-byte mosaics come from 16-bit gray)"
                            : ": not an 8-bit gray PNG (one-byte mosaics come from 8-bit gray)");
        return false;
    }
    if (width > 65535 || height > 65535) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = path + ": a PNG of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels is larger than any frame";
        return false;
    }
    // Deflate expands at most 1032 to 1: a file far too small for its size holds no image.
    const int64_t file_bytes = stream_bytes(f, false);
    if (file_bytes > 0 && uint64_t(width) * height > uint64_t(file_bytes) * 1032) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = path + ": the image data ends early (a PNG of " + std::to_string(width) + " x " +
                std::to_string(height) + " pixels in " + std::to_string(file_bytes) + " bytes)";
        return false;
    }
    if (colour == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (want == Want::rgb && (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA))
        png_set_gray_to_rgb(png);
    if (want == Want::gray16)
        png_set_swap(png); // little-endian samples
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    png_set_strip_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t row_bytes = size_t(width) * size_t(want_bytes(want));
    if (png_get_rowbytes(png, info) != row_bytes) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = path + ": PNG colour layout not understood";
        return false;
    }
    size_t bytes = row_bytes * height;
    pixels = static_cast<unsigned char*>(malloc(bytes ? bytes : 1));
    rows = static_cast<png_bytep*>(malloc(sizeof(png_bytep) * (height ? height : 1)));
    if (pixels == nullptr || rows == nullptr)
        png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < height; y++)
        rows[y] = pixels + size_t(y) * row_bytes;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    out_width = int(width);
    out_height = int(height);
    out.assign(pixels, pixels + bytes);
    free(pixels);
    free(rows);
    return true;
}

#endif

// Next header token of a PNM file (comments skipped); -1 when there is none.
long pnm_number(FILE* f)
{
    int c = fgetc(f);
    while (c == '#' || (c != EOF && strchr(" \t\r\n", c))) {
        if (c == '#')
            while (c != EOF && c != '\n')
                c = fgetc(f);
        c = fgetc(f);
    }
    long value = -1;
    while (c >= '0' && c <= '9') {
        value = (value < 0 ? 0 : value * 10) + (c - '0');
        if (value > 1000000)
            return -1;
        c = fgetc(f);
    }
    // One whitespace byte ends the token (after maxval it is the last header byte).
    if (c != EOF && !strchr(" \t\r\n", c))
        return -1;
    return value;
}

bool read_pnm(FILE* f, const std::string& path, bool gray, Want want, int& out_width,
              int& out_height, std::vector<unsigned char>& out, std::string& error)
{
    long width = pnm_number(f), height = pnm_number(f), maxval = pnm_number(f);
    if (width < 1 || height < 1 || width > 65535 || height > 65535 || maxval < 1) {
        error = path + ": not a valid PPM/PGM header";
        return false;
    }
    // The samples its header announces must be in the file before memory is sized by them.
    const int64_t announced = int64_t(width) * height * (gray ? 1 : 3) * (maxval > 255 ? 2 : 1);
    const int64_t left = stream_bytes(f, true);
    if (left >= 0 && left < announced) {
        error = path + ": the image data ends early (its header announces " +
                std::to_string(width) + " x " + std::to_string(height) + " pixels, " +
                std::to_string(announced) + " bytes; the file holds " + std::to_string(left) + ")";
        return false;
    }
    if (want != Want::rgb) {
        if (!gray || (maxval > 255) != (want == Want::gray16) || maxval > 65535) {
            error = path + (want == Want::gray16 ? ": not a 16-bit PGM (maxval above 255)"
                                                 : ": not an 8-bit PGM (maxval 255 or less)");
            return false;
        }
        const size_t samples = size_t(width) * size_t(height);
        out.resize(samples * size_t(want_bytes(want)));
        if (fread(out.data(), 1, out.size(), f) != out.size()) {
            error = path + ": the image data ends early";
            return false;
        }
        // PGM's two-byte samples are big-endian; the mosaic's are little-endian.
        for (size_t i = 0; want == Want::gray16 && i < samples; i++)
            std::swap(out[2 * i], out[2 * i + 1]);
        out_width = int(width);
        out_height = int(height);
        return true;
    }
    if (maxval != 255) {
        error = path + ": PPM/PGM of maxval " + std::to_string(maxval) +
                " is not taken (only 8-bit images, maxval 255)";
        return false;
    }
    size_t pixels = size_t(width) * size_t(height);
    std::vector<unsigned char> data(pixels * (gray ? 1 : 3));
    if (fread(data.data(), 1, data.size(), f) != data.size()) {
        error = path + ": the image data ends early";
        return false;
    }
    out_width = int(width);
    out_height = int(height);
    if (gray) {
        out.resize(pixels * 3);
        for (size_t i = 0; i < pixels; i++)
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = data[i];
    } else {
        out.swap(data);
    }
    return true;
}

bool read_image(const std::string& path, Want want, int& width, int& height,
                std::vector<unsigned char>& out, std::string& error)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = path + ": " + reason(errno);
        return false;
    }
    unsigned char magic[8] = {0};
    size_t got = fread(magic, 1, sizeof magic, f);
    bool ok = false;
    static const unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (got == 8 && memcmp(magic, png_signature, 8) == 0) {
#if VID_HAVE_PNG
        rewind(f);
        ok = read_png(f, path, want, width, height, out, error);
#else
        error = path + ": PNG images are not supported by this build";
#endif
    } else if (got >= 2 && magic[0] == 'P' && (magic[1] == '6' || magic[1] == '5')) {
        ok = fseek(f, 2, SEEK_SET) == 0 &&
             read_pnm(f, path, magic[1] == '5', want, width, height, out, error);
        if (!ok && error.empty())
            error = path + ": " + reason(errno);
    } else {
        error = path + ": not a PNG, PPM or PGM image";
    }
    fclose(f);
    return ok;
}

} // namespace

bool read_rgb_image(const std::string& path, ImageSamples& image, std::string& error)
{
    return read_image(path, Want::rgb, image.width, image.height, image.rgb, error);
}

bool read_mosaic_image(const std::string& path, int bytes_per_sample, ImageSamples& image,
                       std::string& error)
{
    return read_image(path, bytes_per_sample == 2 ? Want::gray16 : Want::gray8, image.width,
                      image.height, image.rgb, error);
}

#if VID_HAVE_PNG
bool write_png(const std::string& path, int width, int height, int channels, int bit_depth,
               const unsigned char* pixels, const uint16_t* gray16, std::string& error)
{
    VidOutputFile out; // under a temporary name, synced, then renamed
    if (!out.open(path, error))
        return false;
    FILE* f = out.stream();
    // Rows are converted one at a time; 16-bit samples become big-endian in `row`.
    size_t row_bytes = size_t(width) * size_t(channels) * size_t(bit_depth / 8);
    std::vector<unsigned char> row(row_bytes);
    unsigned char* volatile row_data = row.data();
    PngErrors errors;
    errors.message[0] = '\0';
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, png_error_handler,
                                              png_warning_handler);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        error = path + ": out of memory writing PNG";
        return finish(out, false, error);
    }
    if (setjmp(errors.jump)) {
        png_destroy_write_struct(&png, &info);
        error = path + ": cannot write PNG: " + errors.message;
        return finish(out, false, error);
    }
    png_init_io(png, f);
    png_set_compression_level(png, kPngCompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bit_depth,
                 channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++) {
        if (bit_depth == 16) {
            const size_t n = size_t(width) * size_t(channels);
            const uint16_t* in = gray16 + size_t(y) * n;
            for (size_t x = 0; x < n; x++) {
                row_data[2 * x] = (unsigned char)(in[x] >> 8);
                row_data[2 * x + 1] = (unsigned char)(in[x] & 0xFF);
            }
            png_write_row(png, row_data);
        } else {
            png_write_row(png, pixels + size_t(y) * row_bytes);
        }
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return finish(out, true, error);
}
#else
bool write_png(const std::string& path, int, int, int, int, const unsigned char*, const uint16_t*,
               std::string& error)
{
    error = path + ": PNG images are not supported by this build";
    return false;
}

#endif

bool write_pnm(const std::string& path, int width, int height, int channels, int bit_depth,
               const unsigned char* pixels, const uint16_t* gray16, std::string& error)
{
    VidOutputFile out; // under a temporary name, synced, then renamed
    if (!out.open(path, error))
        return false;
    FILE* f = out.stream();
    bool ok = fprintf(f, "%s\n%d %d\n%d\n", channels == 3 ? "P6" : "P5", width, height,
                      bit_depth == 16 ? 65535 : 255) > 0;
    size_t samples = size_t(width) * size_t(height) * size_t(channels);
    if (bit_depth == 16) {
        const size_t n = size_t(width) * size_t(channels);
        std::vector<unsigned char> row(n * 2);
        for (int y = 0; ok && y < height; y++) {
            const uint16_t* in = gray16 + size_t(y) * n;
            for (size_t x = 0; x < n; x++) {
                row[2 * size_t(x)] = (unsigned char)(in[x] >> 8);
                row[2 * size_t(x) + 1] = (unsigned char)(in[x] & 0xFF);
            }
            ok = fwrite(row.data(), 1, row.size(), f) == row.size();
        }
    } else if (samples > 0) {
        ok = ok && fwrite(pixels, 1, samples, f) == samples;
    }
    if (!ok)
        error = path + ": cannot write: " + reason(errno);
    return finish(out, ok, error);
}

#if VID_HAVE_PNG
namespace {

void png_to_vector(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void png_no_flush(png_structp) {}

} // namespace

bool encode_png(int width, int height, const unsigned char* rgb, std::vector<unsigned char>& out)
{
    out.clear();
    PngErrors errors;
    errors.message[0] = '\0';
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, png_error_handler,
                                              png_warning_handler);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(errors.jump)) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, png_to_vector, png_no_flush);
    png_set_compression_level(png, kPngCompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    for (int y = 0; y < height; y++)
        png_write_row(png, const_cast<png_bytep>(rgb + size_t(y) * size_t(width) * 3));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
#else
bool encode_png(int, int, const unsigned char*, std::vector<unsigned char>&)
{
    return false;
}
#endif

#if VID_HAVE_JPEG
#include <turbojpeg.h>

bool encode_jpeg(int width, int height, const unsigned char* rgb, int quality,
                 std::vector<unsigned char>& out)
{
    tjhandle encoder = tjInitCompress();
    if (encoder == nullptr)
        return false;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(encoder, rgb, width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420,
                               quality, TJFLAG_FASTDCT);
    if (rc == 0)
        out.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return rc == 0;
}
#else
bool encode_jpeg(int, int, const unsigned char*, int, std::vector<unsigned char>&)
{
    return false;
}
#endif
