// File offsets beyond 4 GiB, where a 32-bit long or off_t (both 32 bits wide on Windows)
// would wrap: the seek and tell helpers, and a VID file whose records lie past 4 GiB,
// written by the VidHeader writer and read back by the reader. The files are sparse: the
// writer's table is reserved at the front as usual, the records start far behind it, and
// the hole between costs no disk space on the file systems we test on (ext4, and Wine over
// it), so each file takes a few kilobytes whatever its size.
#include "VidHeader.h"
#include "vid_files.h"
#include "le_bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int64_t kGiB = int64_t(1) << 30;
// Past 4 GiB and not a multiple of 2^32: truncated to 32 bits it would land at 1 GiB + 77.
const int64_t kFarOffset = 5 * kGiB + 77;

// A file in the test's working directory, removed when the test ends.
struct TempFile {
    std::string name;
    explicit TempFile(const char* n) : name(n) { remove(name.c_str()); }
    ~TempFile() { remove(name.c_str()); }
};

int64_t file_size(const std::string& name)
{
    FILE* f = fopen(name.c_str(), "rb");
    if (!f)
        return -1;
    int64_t size = vid_fseek(f, 0, SEEK_END) == 0 ? vid_ftell(f) : -1;
    fclose(f);
    return size;
}

std::vector<uint8_t> read_bytes(const std::string& name, int64_t at, size_t n)
{
    std::vector<uint8_t> out(n);
    FILE* f = fopen(name.c_str(), "rb");
    if (!f)
        return {};
    bool ok = vid_fseek(f, at, SEEK_SET) == 0 && fread(out.data(), 1, n, f) == n;
    fclose(f);
    return ok ? out : std::vector<uint8_t>();
}

void fill_frame(unsigned char* pixmap, int width, int height, int seed)
{
    for (int i = 0; i < width * height * 3; i++)
        pixmap[i] = (unsigned char)(i * 13 + seed * 41 + i / 7);
}

} // namespace

TEST(LargeFileOffsets, SeekWriteTellAndReadBackPastFourGiB)
{
    TempFile tmp("large_offsets_seek.bin");
    FILE* f = fopen(tmp.name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(vid_fseek(f, kFarOffset, SEEK_SET), 0);
    EXPECT_EQ(vid_ftell(f), kFarOffset);
    const unsigned char marker[3] = {0xA5, 0x1A, 0x5A}; // 0x1A: binary mode must keep it
    ASSERT_EQ(fwrite(marker, 1, 3, f), 3u);
    EXPECT_EQ(vid_ftell(f), kFarOffset + 3);
    ASSERT_EQ(fclose(f), 0);

    EXPECT_EQ(file_size(tmp.name), kFarOffset + 3);
    std::vector<uint8_t> back = read_bytes(tmp.name, kFarOffset, 3);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(memcmp(back.data(), marker, 3), 0);
    // The byte at the wrapped position is part of the hole, not the marker.
    std::vector<uint8_t> wrapped = read_bytes(tmp.name, kFarOffset - 4 * kGiB, 1);
    ASSERT_EQ(wrapped.size(), 1u);
    EXPECT_EQ(wrapped[0], 0);
}

TEST(LargeFileOffsets, VidRecordsPastFourGiBWriteAndReadBack)
{
    TempFile tmp("large_offsets_records.vid");
    const int width = 40, height = 30, reserved = 5, written = 3;
    std::vector<std::vector<unsigned char>> frames;
    {
        VidHeader writer(tmp.name.c_str(), stderr, width, height, reserved);
        ASSERT_TRUE(writer.isOpen());
        ASSERT_EQ(writer.offsets[0], 8 + 8 * reserved);
        // Place record 0 far behind the reserved table; the writer chains the rest from it.
        writer.offsets[0] = kFarOffset;
        for (int i = 0; i < written; i++) {
            fill_frame(writer.pixmap, width, height, i);
            frames.emplace_back(writer.pixmap, writer.pixmap + writer.pixmap_size);
            ASSERT_TRUE(writer.writeNextFrameToVideoFile()) << "frame " << i;
        }
        EXPECT_GT(writer.offsets[1], kFarOffset);
        EXPECT_GT(writer.offsets[written], writer.offsets[written - 1]);
    } // the destructor writes the header and all reserved table entries

    // On disk: count -3, entries 0..2 the records past 4 GiB, entry 3 the end of the file,
    // entry 4 the end of the reserved table.
    const int64_t size = file_size(tmp.name);
    ASSERT_GT(size, kFarOffset);
    std::vector<uint8_t> head = read_bytes(tmp.name, 0, 8 + 8 * reserved);
    ASSERT_EQ(head.size(), size_t(8 + 8 * reserved));
    EXPECT_EQ(get_le16(&head[0]), width);
    EXPECT_EQ(get_le16(&head[2]), height);
    EXPECT_EQ(int32_t(get_le32(&head[4])), -written);
    EXPECT_EQ(int64_t(get_le64(&head[8])), kFarOffset);
    for (int i = 1; i < written; i++)
        EXPECT_GT(int64_t(get_le64(&head[8 + 8 * i])), int64_t(get_le64(&head[8 + 8 * (i - 1)])));
    EXPECT_EQ(int64_t(get_le64(&head[8 + 8 * written])), size);
    EXPECT_EQ(int64_t(get_le64(&head[8 + 8 * (written + 1)])), 8 + 8 * reserved);

    VidHeader reader(tmp.name.c_str(), stderr);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.num_frames, written);
    EXPECT_EQ(reader.vid_is_bayer_interpolated, 0);
    EXPECT_EQ(reader.offsets[0], kFarOffset);
    // Backwards first: the last frame's length comes from the file size past 4 GiB.
    for (int i = written - 1; i >= 0; i--) {
        ASSERT_TRUE(reader.readFrameFromVideoFile(i)) << "frame " << i;
        EXPECT_EQ(memcmp(reader.pixmap, frames[i].data(), frames[i].size()), 0) << "frame " << i;
    }
}
