// Second-generation compact records: round trips on every content kind, sample width and
// awkward size at every effort and worker count (the bytes never depend on the workers), the
// predictor a mono frame and a mosaic each get, and damaged records that end in an error,
// never outside their buffers; files written on Linux read on every build.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "vid_compact2.h"

namespace {

typedef std::vector<unsigned char> Bytes;

enum Content { flat, noise, gradient, edges, mosaic };

// A frame of `content`: samples of `bytes` bytes (RGB: 3 channels of one byte).
Bytes frame_of(Content content, int w, int h, VidCompactFilter filter, uint32_t seed)
{
    const int bpp = vid_compact_pixel_bytes(filter);
    const bool two = filter == VidCompactFilter::bayer16;
    const int top = two ? 4095 : 255;
    std::mt19937 rng(seed);
    Bytes f(size_t(w) * h * bpp);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < (two ? 1 : bpp); c++) {
                int v = 0;
                switch (content) {
                case flat:
                    v = top / 3;
                    break;
                case noise:
                    v = int(rng() & (two ? 0xFFFF : 0xFF));
                    break;
                case gradient:
                    v = (x * 7 + y * 3 + c * 40) % (top + 1);
                    break;
                case edges:
                    v = ((x / 5 + y / 3) % 2) * top;
                    break;
                case mosaic: // a colour site pattern with noise
                    v = ((x & 1) * 600 + (y & 1) * 300 + x + int(rng() % 17)) % (top + 1);
                }
                const size_t at = (size_t(y) * w + x) * bpp + c;
                f[at] = uint8_t(v);
                if (two)
                    f[at + 1] = uint8_t(v >> 8);
            }
    return f;
}

Bytes compress(const Bytes& f, int w, int h, VidCompactFilter filter, int effort, int cores)
{
    Bytes record(2 * f.size() + 4096);
    unsigned long size = (unsigned long)record.size();
    EXPECT_EQ(
        vid_compact2_compress(record.data(), size, f.data(), w, h, filter, effort, nullptr, cores),
        VID_CODEC_OK);
    record.resize(size);
    return record;
}

TEST(Compact2, RoundTripsEveryContentSizeEffortAndWorkerCount)
{
    const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {5, 3}, {37, 29}, {257, 65}, {640, 200}};
    for (VidCompactFilter filter :
         {VidCompactFilter::rgb, VidCompactFilter::bayer8, VidCompactFilter::bayer16})
        for (Content content : {flat, noise, gradient, edges, mosaic})
            for (const auto& wh : sizes)
                for (int effort : {1, 2, 9}) {
                    const int w = wh[0], h = wh[1];
                    const Bytes f = frame_of(content, w, h, filter, uint32_t(w * h + effort));
                    const Bytes one = compress(f, w, h, filter, effort, 1);
                    for (int cores : {1, 2, 3}) {
                        SCOPED_TRACE(::testing::Message()
                                     << "filter " << int(filter) << " content " << content << " "
                                     << w << " x " << h << " effort " << effort << " cores "
                                     << cores);
                        ASSERT_EQ(compress(f, w, h, filter, effort, cores), one);
                        Bytes back(f.size(), 0xA5);
                        ASSERT_EQ(vid_compact2_expand(back.data(), (unsigned long)back.size(),
                                                      one.data(), (unsigned long)one.size(),
                                                      nullptr, nullptr, cores),
                                  VID_CODEC_OK);
                        ASSERT_EQ(back, f);
                    }
                }
}

// Noise is stored, smooth content coded; a mono frame is predicted from its adjacent samples,
// a mosaic from the same colour two away (the first plane's predictor byte says which).
TEST(Compact2, EachPlaneTakesTheModeItsContentCallsFor)
{
    const int w = 640, h = 200;
    const Bytes noisy = compress(frame_of(noise, w, h, VidCompactFilter::bayer16, 1), w, h,
                                 VidCompactFilter::bayer16, 2, 1);
    VidCompactHead head;
    ASSERT_TRUE(vid_compact2_head(noisy.data(), (unsigned long)noisy.size(), head));
    const size_t first_plane = 24 + 8 * size_t(head.blocks);
    EXPECT_EQ(noisy[first_plane], 0xFF);
    Bytes smooth_mono(size_t(w) * h * 2), site_mosaic(smooth_mono.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const int mono = 1000 + 3 * x + 2 * y;
            const int site = ((x & 1) ? 2000 : 200) + ((y & 1) ? 900 : 0) + x / 4 + y / 4;
            const size_t at = 2 * (size_t(y) * w + x);
            smooth_mono[at] = uint8_t(mono);
            smooth_mono[at + 1] = uint8_t(mono >> 8);
            site_mosaic[at] = uint8_t(site);
            site_mosaic[at + 1] = uint8_t(site >> 8);
        }
    const Bytes m = compress(smooth_mono, w, h, VidCompactFilter::bayer16, 2, 1);
    const Bytes s = compress(site_mosaic, w, h, VidCompactFilter::bayer16, 2, 1);
    EXPECT_EQ(m[first_plane] >> 4, 1) << "mono: adjacent samples";
    EXPECT_EQ(s[first_plane] >> 4, 2) << "mosaic: the same colour two away";
    EXPECT_LT(m.size() * 4, smooth_mono.size());
    EXPECT_LT(s.size() * 4, site_mosaic.size());
}

// Every truncation and every single-byte change of small records: an error or a frame of the
// right size, never a read or write outside the buffers (the sanitizer builds check that).
TEST(Compact2, DamagedRecordsEndInAnErrorNeverOutsideTheirBuffers)
{
    for (VidCompactFilter filter :
         {VidCompactFilter::rgb, VidCompactFilter::bayer8, VidCompactFilter::bayer16}) {
        const int w = 23, h = 9;
        const Bytes f = frame_of(mosaic, w, h, filter, 3);
        const Bytes record = compress(f, w, h, filter, 2, 1);
        Bytes back(f.size());
        for (size_t n = 0; n < record.size(); n++) {
            Bytes cut(record.begin(), record.begin() + long(n));
            EXPECT_NE(vid_compact2_expand(back.data(), (unsigned long)back.size(), cut.data(),
                                          (unsigned long)cut.size(), nullptr, nullptr, 1),
                      VID_CODEC_OK);
        }
        // A change in the head is refused; one in the coded data may decode to other values
        // (no code can tell), but stays inside the buffers.
        const size_t head = 24 + 8;
        for (size_t i = 0; i < record.size(); i++)
            for (int bit : {0, 3, 7}) {
                Bytes bad(record);
                bad[i] ^= uint8_t(1 << bit);
                const int rc =
                    vid_compact2_expand(back.data(), (unsigned long)back.size(), bad.data(),
                                        (unsigned long)bad.size(), nullptr, nullptr, 2);
                if (i < head) {
                    EXPECT_NE(rc, VID_CODEC_OK) << "head byte " << i << " bit " << bit;
                }
            }
    }
}

} // namespace

namespace {

// Files written on Linux (tests/data), read on every build: Linux, and the Windows builds under
// Wine.
TEST(Compact2, FilesWrittenOnLinuxReadEverywhere)
{
    const int w = 64, h = 48;
    for (const char* name : {"compact2_bayer16.vid", "compact2_rgb.vid"}) {
        const bool rgb = std::string(name).find("rgb") != std::string::npos;
        VidHeader r((std::string(VID_TEST_SOURCE_DIR "/data/") + name).c_str(), nullptr);
        ASSERT_TRUE(r.isOpen()) << name;
        ASSERT_EQ(r.num_frames, 3);
        for (int k = 0; k < 3; k++) {
            ASSERT_TRUE(r.readSamplesFromVideoFile(k)) << name << " frame " << k;
            Bytes want;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++)
                    if (rgb) {
                        want.push_back(uint8_t(x * 3 + k));
                        want.push_back(uint8_t(y * 2 + (x * 5 + y) % 7));
                        want.push_back(uint8_t(x + y + 2 * k));
                    } else {
                        const int v = 1000 + 3 * x + 5 * y + (x % 2) * 400 + (y % 2) * 200 +
                                      (x * 7 + y * 13 + k) % 9;
                        want.push_back(uint8_t(v));
                        want.push_back(uint8_t(v >> 8));
                    }
            EXPECT_EQ(
                Bytes(r.uncompressed_buffer, r.uncompressed_buffer + r.uncompressed_buffer_size),
                want)
                << name << " frame " << k;
        }
    }
}

} // namespace
