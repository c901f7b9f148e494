// Helpers of the Windows MEX tests: building inputs for the stand-in libmx, writing input
// files and reading outputs with the core's VidHeader, and checking pixels.
#pragma once

#include "VidHeader.h"
#include "mex_loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace cliptest {

struct TempFile {
    std::string name;
    explicit TempFile(const std::string& n) : name(n) { remove(name.c_str()); }
    ~TempFile() { remove(name.c_str()); }
};

// A file name private to the running test (CTest runs tests side by side in one directory).
inline std::string test_file(const char* suffix)
{
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("wine_") + (t ? t->name() : "test") + "_" + suffix;
}

inline mxArray* numeric(mxClassID cls, std::vector<int> dims)
{
    return standin_create_numeric(cls, int(dims.size()), dims.data());
}

inline mxArray* doubles(int m, int n, std::vector<double> values)
{
    mxArray* a = numeric(mxDOUBLE_CLASS, {m, n});
    for (size_t i = 0; i < values.size() && i < mxGetNumberOfElements(a); i++)
        mxGetPr(a)[i] = values[i];
    return a;
}

inline mxArray* int32s(std::vector<int> values)
{
    mxArray* a = numeric(mxINT32_CLASS, {int(values.size()), 1});
    memcpy(mxGetData(a), values.data(), values.size() * sizeof(int));
    return a;
}

// Pixel value of frame `seed` at (x, y), channel c.
inline unsigned char pixel(int x, int y, int c, int seed)
{
    return (unsigned char)(x * 7 + y * 13 + c * 50 + seed * 29);
}

// A height x width x 3 uint8 image in MATLAB's column order.
inline mxArray* image_uint8(int width, int height, int seed)
{
    mxArray* a = numeric(mxUINT8_CLASS, {height, width, 3});
    unsigned char* p = static_cast<unsigned char*>(mxGetData(a));
    for (int c = 0; c < 3; c++)
        for (int x = 0; x < width; x++)
            for (int y = 0; y < height; y++)
                p[y + height * x + height * width * c] = pixel(x, y, c, seed);
    return a;
}

// Writes a VID file of `frames` frames with the core's writer.
inline void write_vid(const std::string& name, int width, int height, int frames)
{
    VidHeader w(name.c_str(), stderr, width, height, frames);
    ASSERT_TRUE(w.isOpen());
    for (int f = 0; f < frames; f++) {
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                for (int c = 0; c < 3; c++)
                    w.pixmap[(y * width + x) * 3 + c] = pixel(x, y, c, f);
        ASSERT_TRUE(w.writeNextFrameToVideoFile());
    }
}

// Reads an output file whole: every frame's pixmap, or nothing when it does not open.
struct VidContent {
    int width = 0, height = 0, frames = 0;
    std::vector<std::vector<unsigned char>> pixmaps;
};
inline VidContent read_vid(const std::string& name)
{
    VidContent v;
    VidHeader r(name.c_str(), stderr);
    if (!r.compressed_buffer)
        return v;
    v.width = r.width;
    v.height = r.height;
    v.frames = r.num_frames;
    for (int f = 0; f < r.num_frames; f++) {
        if (!r.readFrameFromVideoFile(f))
            return VidContent();
        v.pixmaps.emplace_back(r.pixmap, r.pixmap + r.pixmap_size);
    }
    return v;
}

inline const unsigned char* at(const VidContent& v, int frame, int x, int y)
{
    return &v.pixmaps[frame][(size_t(y) * v.width + x) * 3];
}

inline bool is_white(const VidContent& v, int frame, int x, int y)
{
    const unsigned char* p = at(v, frame, x, y);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

// True when input frame `seed` of size w x h sits in output frame `frame` at (x0, y0).
inline bool box_at(const VidContent& v, int frame, int x0, int y0, int w, int h, int seed)
{
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < 3; c++)
                if (at(v, frame, x0 + x, y0 + y)[c] != pixel(x, y, c, seed))
                    return false;
    return true;
}

} // namespace cliptest
