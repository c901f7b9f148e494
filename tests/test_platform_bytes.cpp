// The bytes the system writes are the same on every platform: the Windows builds (run under
// Wine) must produce exactly the blocked-compress buffers and VID files that the Linux build
// produces. Each case compresses or writes a fixed input and compares the length and CRC-32
// of the result with the values the Linux build produced (both builds use zlib 1.2.13; a
// zlib whose deflate emits other, equally valid streams would need the values re-derived on
// Linux). Every case also expands its own output again, so a digest never stands alone.
#include "VidHeader.h"
#include "compress_uncompress_MT.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Camera-like content: gradients, texture from a fixed linear congruential sequence.
std::vector<unsigned char> make_input(size_t size, uint32_t seed)
{
    std::vector<unsigned char> v(size);
    uint32_t s = seed;
    for (size_t i = 0; i < size; i++) {
        s = s * 1664525u + 1013904223u;
        v[i] = (unsigned char)((i / 3) % 251 + (s >> 29));
    }
    return v;
}

uint32_t crc_of(const unsigned char* p, size_t n)
{
    return uint32_t(crc32(crc32(0L, Z_NULL, 0), p, uInt(n)));
}

std::vector<unsigned char> read_file(const std::string& name)
{
    std::vector<unsigned char> out;
    FILE* f = fopen(name.c_str(), "rb");
    if (!f)
        return out;
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        out.insert(out.end(), chunk, chunk + n);
    fclose(f);
    return out;
}

struct Known {
    size_t input_size;
    uint32_t seed;
    unsigned long length; // of the blocked-compress buffer
    uint32_t crc;
};

// One block; two blocks; exactly eight; eight with a short last block; a 640 x 480 frame.
const Known kBuffers[] = {
    {100, 1, 112, 1250334620u},       {76801, 2, 68625, 3873144029u},
    {614400, 3, 538286, 2816399331u}, {614401, 4, 538255, 2412367537u},
    {921600, 5, 802509, 1310386841u},
};

} // namespace

TEST(PlatformBytes, BlockedBuffersMatchTheLinuxBuild)
{
    for (const Known& k : kBuffers) {
        SCOPED_TRACE(k.input_size);
        std::vector<unsigned char> in = make_input(k.input_size, k.seed);
        std::vector<unsigned char> out(2 * in.size() + 64);
        unsigned long size = (unsigned long)out.size();
        ASSERT_EQ(compress_MT(out.data(), size, in.data(), (unsigned long)in.size()), 0);
        EXPECT_EQ(size, k.length);
        EXPECT_EQ(crc_of(out.data(), size), k.crc);

        std::vector<unsigned char> back(in.size());
        unsigned char* dst = back.data();
        unsigned long back_size = (unsigned long)back.size();
        ASSERT_EQ(uncompress_MT(dst, back_size, out.data(), size), 0);
        EXPECT_EQ(back, in);
    }
}

TEST(PlatformBytes, VidFileMatchesTheLinuxBuild)
{
    const std::string name = "platform_bytes.vid";
    const int width = 64, height = 48, reserved = 4, written = 3;
    {
        VidHeader w(name.c_str(), stderr, width, height, reserved);
        ASSERT_TRUE(w.isOpen());
        for (int f = 0; f < written; f++) {
            std::vector<unsigned char> frame = make_input(size_t(w.pixmap_size), 10 + f);
            std::copy(frame.begin(), frame.end(), w.pixmap);
            ASSERT_TRUE(w.writeNextFrameToVideoFile());
        }
    }
    std::vector<unsigned char> file = read_file(name);
    EXPECT_EQ(file.size(), 25900u);
    EXPECT_EQ(crc_of(file.data(), file.size()), 3240635050u);

    VidHeader r(name.c_str(), stderr);
    ASSERT_TRUE(r.isOpen());
    ASSERT_EQ(r.num_frames, written);
    for (int f = 0; f < written; f++) {
        ASSERT_TRUE(r.readFrameFromVideoFile(f));
        std::vector<unsigned char> frame = make_input(size_t(r.pixmap_size), 10 + f);
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), r.pixmap)) << "frame " << f;
    }
    remove(name.c_str());
}
