// Compression efforts: every effort round-trips on RGB and two-byte Bayer content, every
// block it makes is a zlib stream that zlib itself expands, effort 9 gives compress_MT's
// bytes, and efforts outside 1 to 9 are refused by the codec and by the writer.
#include "VidHeader.h"
#include "codec_test_data.h"
#include "compress_uncompress_MT.h"
#include "le_bytes.h"
#include "vid_test_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using vidtest::Bytes;

Bytes compress_at(const Bytes& frame, int effort)
{
    Bytes out(frame.size() * 2 + 1024);
    unsigned long size = out.size();
    Bytes input(frame);
    if (compress_MT_at_effort(out.data(), size, input.data(), input.size(), effort) != 0)
        return Bytes();
    out.resize(size);
    return out;
}

// Expands every block of a blocked-compress buffer with zlib's uncompress alone.
Bytes expand_with_zlib(const Bytes& buffer)
{
    uint32_t n = get_le32(buffer.data() + 8);
    Bytes out;
    size_t stream = 12 + 8 * size_t(n);
    uint32_t start = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t end = get_le32(buffer.data() + 12 + 4 * i);
        uint32_t length = get_le32(buffer.data() + 12 + 4 * n + 4 * i);
        Bytes block(end - start);
        uLongf produced = block.size();
        EXPECT_EQ(uncompress(block.data(), &produced, buffer.data() + stream, length), Z_OK)
            << "block " << i;
        EXPECT_EQ(produced, block.size()) << "block " << i;
        out.insert(out.end(), block.begin(), block.end());
        stream += length;
        start = end;
    }
    EXPECT_EQ(stream, buffer.size());
    return out;
}

TEST(CompressionEffort, EveryEffortIsPlainZlibPerBlockOnEachContent)
{
    const struct {
        const char* name;
        Bytes frame;
    } contents[] = {
        {"rgb", codec_test::photo_like_frame(640, 480, 3)},
        {"bayer16", vidtest::make_bayer_frame(800, 600, 2, 5)},
        {"tiny", Bytes{1, 2, 3}},
    };
    for (const auto& c : contents) {
        for (int effort = 1; effort <= 9; effort++) {
            SCOPED_TRACE(std::string(c.name) + " effort " + std::to_string(effort));
            Bytes buffer = compress_at(c.frame, effort);
            ASSERT_FALSE(buffer.empty());
            EXPECT_EQ(expand_with_zlib(buffer), c.frame);
            unsigned char* out = nullptr;
            unsigned long out_size = 0;
            EXPECT_EQ(uncompress_MT(out, out_size, buffer.data(), buffer.size()), 0);
            EXPECT_TRUE(out != nullptr && Bytes(out, out + out_size) == c.frame);
            delete[] out;
        }
        // Effort 9 is compress_MT itself, byte for byte.
        EXPECT_EQ(compress_at(c.frame, 9), vidtest::compress_record(c.frame)) << c.name;
    }
}

TEST(CompressionEffort, OutOfRangeEffortsAreRefusedBeforeAnythingIsWritten)
{
    Bytes frame = vidtest::make_rgb_frame(16, 16, 1);
    std::string path = "effort_refused_" + std::to_string(getpid()) + ".vid";
    for (int effort : {0, 10, -1, 100}) {
        SCOPED_TRACE(effort);
        Bytes out(4096, 0xAB);
        unsigned long size = out.size();
        EXPECT_EQ(compress_MT_at_effort(out.data(), size, frame.data(), frame.size(), effort), 1);
        EXPECT_EQ(size, 4096u);
        EXPECT_EQ(out[0], 0xAB);

        {
            VidHeader writer(path.c_str(), nullptr, 16, 16, 2, effort);
            EXPECT_FALSE(writer.isOpen());
            EXPECT_NE(std::string(writer.errMessage).find("compression effort"), std::string::npos)
                << writer.errMessage;
        }
        EXPECT_NE(access(path.c_str(), F_OK), 0) << "a refused writer created its file";
    }
}

TEST(CompressionEffort, WriterAtEveryEffortReadsBack)
{
    std::string path = "effort_roundtrip_" + std::to_string(getpid()) + ".vid";
    for (int effort : {1, 5, 9}) {
        SCOPED_TRACE(effort);
        std::vector<Bytes> frames;
        {
            VidHeader writer(path.c_str(), stderr, 64, 48, 3, effort);
            ASSERT_TRUE(writer.isOpen());
            for (int i = 0; i < 3; i++) {
                frames.push_back(vidtest::make_rgb_frame(64, 48, 10 * effort + i));
                memcpy(writer.pixmap, frames.back().data(), frames.back().size());
                ASSERT_TRUE(writer.writeNextFrameToVideoFile());
            }
        }
        VidHeader reader(path.c_str(), stderr);
        ASSERT_EQ(reader.num_frames, 3);
        for (int i = 0; i < 3; i++) {
            ASSERT_TRUE(reader.readFrameFromVideoFile(i));
            EXPECT_EQ(Bytes(reader.pixmap, reader.pixmap + reader.pixmap_size), frames[i]);
        }
    }
    remove(path.c_str());
}

} // namespace
