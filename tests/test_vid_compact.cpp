// Compact records: the filters against a plain reference on every content kind and awkward
// size, round trips at every effort and worker count, files mixing both kinds of record, a
// file written on Linux read on every build, and refusal by readers of classic records only.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

#include "VidHeader.h"
#include "vid_compact.h"
#include "vid_records.h"
#include "vid_test_files.h"

using vidtest::Bytes;

namespace {

// The filters written the plain way: every sample minus the sample of the same colour one
// (RGB) or two (Bayer) rows up, or in a block's first rows the one to the left.
Bytes reference_filter(const Bytes& frame, int width, int rows, VidCompactFilter filter)
{
    const int bpp = vid_compact_pixel_bytes(filter);
    const int step = filter == VidCompactFilter::rgb ? 1 : 2;
    auto sample = [&](int x, int y, int c) -> uint32_t {
        size_t at = (size_t(y) * width + x) * bpp;
        return filter == VidCompactFilter::bayer16 ? get_le16(&frame[at]) : frame[at + c];
    };
    Bytes out(frame.size());
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < width; x++)
            for (int c = 0; c < (filter == VidCompactFilter::rgb ? 3 : 1); c++) {
                uint32_t pred = y >= step   ? sample(x, y - step, c)
                                : x >= step ? sample(x - step, y, c)
                                            : 0;
                uint32_t diff = sample(x, y, c) - pred;
                if (filter != VidCompactFilter::bayer16) {
                    out[(size_t(y) * width + x) * bpp + c] = uint8_t(diff);
                    continue;
                }
                int16_t d = int16_t(uint16_t(diff));
                uint16_t z = d >= 0 ? uint16_t(2 * d) : uint16_t(-2 * int32_t(d) - 1);
                out[size_t(y) * width + x] = uint8_t(z); // low plane, then high plane
                out[size_t(rows) * width + size_t(y) * width + x] = uint8_t(z >> 8);
            }
    return out;
}

Bytes content(VidCompactFilter filter, int width, int height, int seed)
{
    const size_t bytes = size_t(width) * height * vid_compact_pixel_bytes(filter);
    Bytes f = seed % 2 ? vidtest::make_noise(bytes, uint32_t(seed)) : Bytes(bytes);
    for (size_t i = 0; seed % 2 == 0 && i < bytes; i++) // smooth, with extremes
        f[i] = uint8_t(i * 7 / 5 + (i % 41 == 0 ? 0xF0 : 0));
    return f;
}

TEST(Compact, FiltersEqualThePlainReferenceAndRoundTripOnEveryShape)
{
    const VidCompactFilter filters[] = {VidCompactFilter::rgb, VidCompactFilter::bayer8,
                                        VidCompactFilter::bayer16};
    // 1 pixel wide or high, odd sizes, and heights around the block boundaries.
    const int shapes[][2] = {{1, 1},    {1, 40},   {40, 1},    {3, 3},    {33, 7},
                             {17, 255}, {64, 257}, {321, 243}, {160, 481}};
    for (VidCompactFilter filter : filters)
        for (const auto& s : shapes)
            for (int seed : {1, 2}) {
                SCOPED_TRACE(testing::Message()
                             << int(filter) << " " << s[0] << "x" << s[1] << " seed " << seed);
                const Bytes frame = content(filter, s[0], s[1], seed);
                Bytes filtered(frame.size());
                vid_compact_filter_rows(frame.data(), filtered.data(), s[0], s[1], filter);
                ASSERT_EQ(filtered, reference_filter(frame, s[0], s[1], filter));
                Bytes undone = filtered;
                vid_compact_unfilter_rows(undone.data(), s[0], s[1], filter);
                ASSERT_EQ(undone, frame);
                for (int effort : {1, 2, 9}) {
                    Bytes record(2 * frame.size() + 512);
                    unsigned long size = (unsigned long)record.size();
                    ASSERT_EQ(vid_compact_compress_on_cores(record.data(), size, frame.data(), s[0],
                                                            s[1], filter, effort, 1 + effort % 3),
                              VID_CODEC_OK);
                    record.resize(size);
                    for (int cores : {1, 3, 8}) {
                        Bytes back(frame.size(), 0xAA);
                        ASSERT_EQ(vid_compact_expand_on_cores(back.data(),
                                                              (unsigned long)back.size(),
                                                              record.data(), size, nullptr, cores),
                                  VID_CODEC_OK);
                        ASSERT_EQ(back, frame);
                    }
                    // Readers that know only classic records refuse it: a plain zlib decoder,
                    // and the classic codec.
                    Bytes out(frame.size());
                    uLongf out_len = uLongf(out.size());
                    EXPECT_NE(uncompress(out.data(), &out_len, record.data(), size), Z_OK);
                    unsigned char* classic = out.data();
                    unsigned long classic_len = (unsigned long)out.size();
                    EXPECT_NE(uncompress_MT(classic, classic_len, record.data(), size),
                              VID_CODEC_OK);
                }
            }
}

TEST(Compact, FilesMixBothKindsAndDamageIsAnErrorNeverPixels)
{
    vidtest::TempDir dir;
    const int w = 48, h = 30;
    std::vector<Bytes> frames, records;
    for (int k = 0; k < 4; k++) {
        frames.push_back(vidtest::make_bayer_frame(w, h, 2, k));
        if (k % 2 == 0) {
            records.push_back(vidtest::compress_record(frames.back()));
            continue;
        }
        Bytes r(2 * frames.back().size());
        unsigned long size = (unsigned long)r.size();
        ASSERT_EQ(vid_compact_compress(r.data(), size, frames.back().data(), w, h,
                                       VidCompactFilter::bayer16, 2),
                  VID_CODEC_OK);
        r.resize(size);
        records.push_back(r);
    }
    Bytes file = vidtest::assemble_vid(vidtest::width_field(w, false), h, 4, records);
    ASSERT_TRUE(vidtest::write_file(dir.file("mixed.vid"), file));
    {
        VidHeader r(dir.file("mixed.vid").c_str(), nullptr);
        for (int k = 0; k < 4; k++) {
            ASSERT_TRUE(r.readSamplesFromVideoFile(k)) << k;
            EXPECT_EQ(
                Bytes(r.uncompressed_buffer, r.uncompressed_buffer + r.uncompressed_buffer_size),
                frames[size_t(k)]);
        }
        const VidRecordKinds kinds = vid_record_kinds(r);
        EXPECT_EQ(kinds.classic, 2);
        EXPECT_EQ(kinds.compact, 2);
    }
    // A flipped byte in a compact stream, a head that claims another geometry: the frame fails.
    const size_t at = size_t(vidtest::table_entry(file, 1));
    const size_t end = size_t(vidtest::table_entry(file, 2));
    for (size_t offset : {at + 32 + (end - at - 32) / 2, at + 12}) { // in its data; its width
        Bytes bad = file;
        bad[offset] ^= 0x5A;
        ASSERT_TRUE(vidtest::write_file(dir.file("bad.vid"), bad));
        VidHeader r(dir.file("bad.vid").c_str(), nullptr);
        EXPECT_FALSE(r.readSamplesFromVideoFile(1));
        EXPECT_EQ(r.lastError().result, VidResult::damaged_record);
        EXPECT_TRUE(r.readSamplesFromVideoFile(2));
    }
}

// A compact file written on Linux (effort 2, with a clip block) reads on every build,
// Windows (zlib alone) included.
TEST(Compact, AFileWrittenOnLinuxReadsEverywhere)
{
    VidHeader r(VID_TEST_SOURCE_DIR "/data/compact_bayer16.vid", nullptr);
    ASSERT_TRUE(r.isOpen());
    ASSERT_EQ(r.num_frames, 3);
    for (int k = 0; k < 3; k++) {
        ASSERT_TRUE(r.readSamplesFromVideoFile(k));
        EXPECT_EQ(Bytes(r.uncompressed_buffer, r.uncompressed_buffer + r.uncompressed_buffer_size),
                  vidtest::make_bayer_frame(40, 30, 2, k));
        EXPECT_TRUE(r.readFrameFromVideoFile(k)); // demosaiced as well
    }
    EXPECT_EQ(vid_record_kinds(r).compact, 3);
}

} // namespace
