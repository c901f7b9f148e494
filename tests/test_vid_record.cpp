// Recording: camera pixel formats and packed samples, frame-id accounting, the recorder over a
// synthetic camera (drops when it falls behind, every written frame exact). Aravis's fake
// camera: test_vid_camera_fake.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "VidHeader.h"
#include "synthetic_camera.h"
#include "vid_clip.h"
#include "vid_pixel_format.h"
#include "vid_recorder.h"
#include "vid_test_files.h"

namespace {

using vidtest::TempDir;

// The clip block of a file open in `f`.
VidClip clip_of(FILE* f, int64_t frames)
{
    fseek(f, 0, SEEK_END);
    return vid_read_clip(f, int64_t(ftell(f)), frames);
}

TEST(VidPixelFormat, NamesGiveKindPatternAndBits)
{
    const struct {
        const char* name;
        VidKind kind;
        VidCfa cfa;
        int bits;
        VidPacking packing;
    } cases[] = {
        {"Mono8", VidKind::mono8, VidCfa::none, 8, VidPacking::none},
        {"mono12", VidKind::mono16, VidCfa::none, 12, VidPacking::none},
        {"Mono12p", VidKind::mono16, VidCfa::none, 12, VidPacking::p12},
        {"Mono10Packed", VidKind::mono16, VidCfa::none, 10, VidPacking::packed10},
        {"BayerGR8", VidKind::bayer8, VidCfa::grbg, 8, VidPacking::none},
        {"BayerBG12Packed", VidKind::bayer16, VidCfa::bggr, 12, VidPacking::packed12},
        {"BayerGB10p", VidKind::bayer16, VidCfa::gbrg, 10, VidPacking::p10},
        {"BayerRG16", VidKind::bayer16, VidCfa::rggb, 16, VidPacking::none},
        {"RGB8", VidKind::rgb, VidCfa::none, 8, VidPacking::none},
    };
    for (const auto& c : cases) {
        VidPixelFormat f;
        ASSERT_TRUE(vid_pixel_format_find(c.name, f)) << c.name;
        EXPECT_EQ(f.kind, c.kind) << c.name;
        EXPECT_EQ(f.cfa, c.cfa) << c.name;
        EXPECT_EQ(f.bits, c.bits) << c.name;
        EXPECT_EQ(f.packing, c.packing) << c.name;
    }
    for (const char* refused : {"YUV422_8", "BGR8", "Mono12g", "BayerRG", ""}) {
        VidPixelFormat f;
        EXPECT_FALSE(vid_pixel_format_find(refused, f)) << refused;
    }
}

// Hand-made rows in each documented packed layout, two rows each with bytes of padding, against
// the samples they hold.
TEST(VidPixelFormat, PackedRowsUnpackToTheirSamples)
{
    const struct {
        const char* format;
        int width;
        std::vector<unsigned char> row; // one row as the camera sends it
        std::vector<uint16_t> samples;
    } cases[] = {
        // p: one bit stream, least significant bit first
        {"Mono12p", 3, {0x23, 0xC1, 0xAB, 0x01, 0x00}, {0x123, 0xABC, 0x001}},
        {"BayerRG12p", 2, {0xFF, 0x0F, 0x00}, {0xFFF, 0x000}},
        {"Mono10p", 4, {0xFF, 0x07, 0x00, 0x60, 0x55}, {0x3FF, 0x001, 0x200, 0x155}},
        {"Mono10p", 2, {0x01, 0x0C, 0x00}, {0x001, 0x003}},
        // Packed: high bits in bytes 0 and 2, the low ones shared in byte 1
        {"Mono12Packed", 2, {0x12, 0xC3, 0xAB}, {0x123, 0xABC}},
        {"BayerGB12Packed", 3, {0x12, 0xC3, 0xAB, 0xFF, 0x0F, 0x00}, {0x123, 0xABC, 0xFFF}},
        {"Mono10Packed", 2, {0xFF, 0x13, 0x00}, {0x3FF, 0x001}},
    };
    for (const auto& c : cases) {
        VidPixelFormat f;
        ASSERT_TRUE(vid_pixel_format_find(c.format, f));
        ASSERT_GE(c.row.size(), vid_pixel_format_row_bytes(f, c.width)) << c.format;
        // two rows, 2 bytes of padding after each
        const size_t stride = c.row.size() + 2;
        std::vector<unsigned char> in(2 * stride, 0xEE);
        for (int r = 0; r < 2; r++)
            std::copy(c.row.begin(), c.row.end(), in.begin() + long(r * stride));
        std::vector<unsigned char> out(2 * size_t(c.width) * 2, 0);
        vid_pixel_format_convert(f, c.width, 2, in.data(), stride, out.data());
        for (int r = 0; r < 2; r++)
            for (int x = 0; x < c.width; x++) {
                const size_t at = 2 * (size_t(r) * size_t(c.width) + size_t(x));
                EXPECT_EQ(out[at] | out[at + 1] << 8, c.samples[size_t(x)])
                    << c.format << " row " << r << " sample " << x;
            }
    }
}

TEST(VidIdTracker, CountsMissingIdsAcrossTheWrap)
{
    const struct {
        uint64_t wrap;
        std::vector<uint64_t> ids;
        uint64_t missing;
        uint64_t first_gap_id;
    } cases[] = {
        {65535, {65533, 65534, 65535, 1, 2}, 0, 0},
        {65535, {65534, 2}, 2, 65535},
        {65535, {65535, 3}, 2, 1},
        {65535, {7, 7, 8}, 0, 0}, // a repeat is no gap
        {65535, {100, 90}, 0, 0}, // a step back is a restart
        {0, {10, 11, 14}, 2, 12},
        {0, {1ull << 40, (1ull << 40) + 3}, 2, (1ull << 40) + 1},
    };
    for (const auto& c : cases) {
        VidIdTracker t(c.wrap);
        for (size_t i = 0; i < c.ids.size(); i++)
            t.see(c.ids[i], int64_t(i) - 1);
        EXPECT_EQ(t.missing(), c.missing) << c.ids.front();
        if (c.missing != 0) {
            ASSERT_EQ(t.gaps().size(), 1u);
            EXPECT_EQ(t.gaps()[0].first_id, c.first_gap_id);
            EXPECT_EQ(t.gaps()[0].count, c.missing);
        }
    }
}

// Every frame of a recorded clip: its samples are those the camera made for an id (sample i
// of frame id is (id * 7 + i) mod 2^bits), the ids rise, and each timestamp is its buffer's.
void expect_frames_of_ids(const std::string& path, int bytes_per_sample, int64_t frames)
{
    VidHeader v(path.c_str(), nullptr);
    ASSERT_TRUE(v.isOpen()) << path;
    ASSERT_EQ(v.num_frames, frames);
    const size_t n = size_t(v.width) * size_t(v.height);
    std::vector<int64_t> stamps;
    VidClip clip = clip_of(v.videoFile, v.num_frames);
    ASSERT_TRUE(vid_read_timestamps(v.videoFile, clip, v.num_frames, stamps));
    for (int k = 0; k < v.num_frames; k++) {
        ASSERT_TRUE(v.readSamplesFromVideoFile(k));
        const unsigned char* s = v.uncompressed_buffer;
        const uint64_t id = uint64_t((stamps[size_t(k)] - 5) / 1000);
        ASSERT_EQ(stamps[size_t(k)], int64_t(id) * 1000 + 5) << "frame " << k;
        for (size_t i = 0; i < n; i++) {
            const uint32_t want =
                bytes_per_sample == 2 ? uint32_t(id * 7 + i) & 0xFFFF : uint32_t(id * 7 + i) & 0xFF;
            const uint32_t got =
                bytes_per_sample == 2 ? uint32_t(s[2 * i] | s[2 * i + 1] << 8) : s[i];
            ASSERT_EQ(got, want) << "frame " << k << " sample " << i;
        }
    }
}

TEST(VidRecorder, FallingBehindDropsFramesAndKeepsTheFileWhole)
{
    TempDir dir;
    VidRecordOptions o;
    o.path = dir.file("behind.vid");
    ASSERT_TRUE(vid_pixel_format_find("Mono16", o.format));
    o.width = 640;
    o.height = 480;
    o.frames = 40;
    o.effort = 9; // slow on purpose
    // Two buffers at 2000 frames a second: the writer cannot keep up.
    vidtest::SyntheticCamera camera(size_t(o.width) * size_t(o.height) * 2, 2, 2, 2000);
    VidRecordSummary summary;
    VidError error;
    ASSERT_TRUE(vid_record(camera, o, summary, error)) << vid_error_message(error);
    EXPECT_EQ(summary.status.frames, 40);
    EXPECT_GT(summary.status.recorder_drops, 0u);
    EXPECT_EQ(summary.status.recorder_drops, camera.underruns());
    // what the camera dropped for want of a buffer are the only missing ids
    EXPECT_EQ(summary.status.missing, 0u);
    EXPECT_EQ(summary.status.incomplete, 0u);
    expect_frames_of_ids(o.path, 2, 40);
    // the finish put the drops into the metadata
    FILE* f = fopen(o.path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    const VidClip clip = clip_of(f, 40);
    fclose(f);
    EXPECT_NE(clip.metadata.find("\"recorder\":" + std::to_string(summary.status.recorder_drops)),
              std::string::npos)
        << clip.metadata;
    EXPECT_EQ(clip.metadata_room + clip.metadata.size() > 60000, true);
}

TEST(VidRecorder, StopFlagEndsWithAFinishedFile)
{
    TempDir dir;
    VidRecordOptions o;
    o.path = dir.file("stopped.vid");
    ASSERT_TRUE(vid_pixel_format_find("Mono8", o.format));
    o.width = 64;
    o.height = 32;
    std::atomic<bool> stop(false);
    o.stop = &stop;
    int calls = 0;
    o.progress_interval_s = 0;
    o.progress = [&](const VidRecordStatus& s) {
        if (s.frames >= 25)
            stop = true;
        calls++;
    };
    vidtest::SyntheticCamera camera(size_t(o.width) * size_t(o.height), 1, 8, 500);
    VidRecordSummary summary;
    VidError error;
    ASSERT_TRUE(vid_record(camera, o, summary, error)) << vid_error_message(error);
    EXPECT_EQ(summary.ended_by, "stop");
    EXPECT_GE(summary.status.frames, 25);
    EXPECT_GT(calls, 0);
    expect_frames_of_ids(o.path, 1, summary.status.frames);
}

} // namespace
