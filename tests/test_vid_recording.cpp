// The recording writer: Bayer files byte for byte as the format lays them out, the clip block
// beside them (invisible to the frames, found again by new readers, exact after a grown
// table), and refusals before any file is made.
#include <gtest/gtest.h>

#include <cstring>

#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_records.h"
#include "vid_test_files.h"

using vidtest::Bytes;

namespace {

// Writes `frames` through a recording writer of `kind`; timestamps 1000 * k + 1.
void write_recording(const std::string& path, VidKind kind, int width, int height, int reserve,
                     const std::vector<Bytes>& frames, const VidRecording& base)
{
    VidRecording r = base;
    r.kind = kind;
    VidHeader w(path.c_str(), nullptr, width, height, reserve, r);
    ASSERT_TRUE(w.isOpen()) << w.errMessage;
    w.growTableWhenFull();
    for (size_t k = 0; k < frames.size(); k++) {
        ASSERT_EQ(size_t(w.pixmap_size), frames[k].size());
        memcpy(w.pixmap, frames[k].data(), frames[k].size());
        ASSERT_TRUE(w.writeNextFrameToVideoFile(1000 * int64_t(k) + 1));
    }
    ASSERT_TRUE(w.finish());
}

TEST(Recording, BayerFilesFollowTheFormatAndCarryTheirClipBlock)
{
    vidtest::TempDir dir;
    const struct {
        VidKind kind;
        int bytes;
    } kinds[] = {{VidKind::bayer16, 2}, {VidKind::bayer8, 1}};
    for (const auto& c : kinds) {
        SCOPED_TRACE(c.bytes);
        const vidtest::VidFile expected = vidtest::make_bayer_vid(40, 30, c.bytes, 5);
        // Without a block: exactly the file assembled from the format.
        VidRecording bare;
        bare.clip_block = false;
        write_recording(dir.file("bare.vid"), c.kind, 40, 30, 5, expected.frames, bare);
        EXPECT_EQ(vidtest::read_file(dir.file("bare.vid")), expected.bytes);

        // With one, reserved short so that the table grows: the records are the same, the
        // block is rewritten exactly and marked finished.
        VidRecording rec;
        rec.frame_rate = 120.5;
        rec.start_time = "2026-12-10T08:00:00Z";
        rec.metadata = "{\"camera\": \"c\"}";
        for (int reserve : {2, 8}) {
            write_recording(dir.file("rec.vid"), c.kind, 40, 30, reserve, expected.frames, rec);
            VidHeader r(dir.file("rec.vid").c_str(), nullptr);
            ASSERT_TRUE(r.isOpen());
            EXPECT_EQ(vid_kind(r), c.kind);
            for (int k = 0; k < 5; k++) {
                ASSERT_TRUE(r.readSamplesFromVideoFile(k));
                EXPECT_EQ(Bytes(r.uncompressed_buffer,
                                r.uncompressed_buffer + r.uncompressed_buffer_size),
                          expected.frames[size_t(k)]);
            }
            const VidClip clip = vid_read_clip(r);
            std::vector<int64_t> stamps;
            ASSERT_TRUE(clip.present && vid_read_timestamps(r, clip, stamps));
            EXPECT_EQ(stamps, (std::vector<int64_t>{1, 1001, 2001, 3001, 4001}));
            EXPECT_EQ(clip.frame_rate, 120.5);
            EXPECT_EQ(clip.start_time, "2026-12-10T08:00:00Z");
            EXPECT_EQ(clip.metadata, "{\"camera\": \"c\"}");
            EXPECT_EQ(clip.flags & kVidClipFinished, kVidClipFinished);
            EXPECT_EQ(clip.slots, reserve > 5 ? reserve : 5);
            EXPECT_EQ(vid_file_state(r).state, VidState::complete);
        }
    }
}

TEST(Recording, WritersRefuseBeforeAnyFileIsMade)
{
    vidtest::TempDir dir;
    const struct {
        VidKind kind;
        int width, height;
        double rate;
        const char* metadata;
    } refused[] = {
        {VidKind::bayer8, 28673, 2, 0, nullptr},      // the one-byte width field's limit
        {VidKind::bayer16, 36864, 2, 0, nullptr},     // the two-byte one
        {VidKind::bayer16, 30000, 30000, 0, nullptr}, // demosaiced, 2^31 bytes or more
        {VidKind::bayer16, 4, 4, 0, nullptr},         // 32 bytes: below a record's minimum
        {VidKind::rgb, 8, 8, -1, nullptr},            // a rate that is no rate
        {VidKind::rgb, 8, 8, 30, "[1, 2]"},           // metadata that is no JSON object
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.width);
        VidRecording r;
        r.kind = c.kind;
        r.frame_rate = c.rate;
        r.metadata = c.metadata;
        VidHeader w(dir.file("no.vid").c_str(), nullptr, c.width, c.height, 4, r);
        EXPECT_FALSE(w.isOpen());
        EXPECT_EQ(w.lastError().result, VidResult::bad_argument);
        EXPECT_FALSE(vidtest::read_file(dir.file("no.vid")).size() > 0);
    }
    // The widest one-byte mosaic a header can describe is taken.
    VidRecording widest;
    widest.kind = VidKind::bayer8;
    VidHeader w(dir.file("wide.vid").c_str(), nullptr, 28672, 2, 1, widest);
    EXPECT_TRUE(w.isOpen());
}

TEST(Recording, AClipWithoutFramesIsEmptyAndKeepsItsBlock)
{
    vidtest::TempDir dir;
    VidRecording rec;
    rec.metadata = "{}";
    {
        VidHeader w(dir.file("e.vid").c_str(), nullptr, 16, 16, 0, rec);
    }
    VidHeader r(dir.file("e.vid").c_str(), nullptr);
    ASSERT_TRUE(r.isOpen());
    EXPECT_EQ(r.num_frames, 0);
    EXPECT_EQ(vid_file_state(r).state, VidState::empty);
    const VidClip clip = vid_read_clip(r);
    EXPECT_TRUE(clip.present && (clip.flags & kVidClipFinished));
}

} // namespace

// A writer named at its finish: its name appears only with the complete file (also after a
// grown table's one rewrite, which leaves no temporary file behind), and a writer destroyed
// unfinished leaves its complete frames under the temporary name, never under the name.
TEST(Recording, NamedAtFinishTheNameAppearsOnlyWithTheCompleteFile)
{
    const struct {
        const char* name;
        int reserved, written;
        bool finish, abandon;
    } cases[] = {{"within", 4, 3, true, false},
                 {"grown", 2, 5, true, false},
                 {"unfinished", 4, 2, false, false},
                 {"abandoned", 4, 2, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vidtest::TempDir dir;
        const std::string path = dir.file("out.vid");
        std::string temp;
        {
            VidRecording recording;
            recording.named_at_finish = true;
            VidHeader w(path.c_str(), nullptr, 8, 6, c.reserved, recording);
            ASSERT_TRUE(w.isOpen());
            w.growTableWhenFull();
            temp = w.videoFileName;
            EXPECT_NE(temp, path);
            for (int k = 0; k < c.written; k++) {
                memcpy(w.pixmap, vidtest::make_rgb_frame(8, 6, k).data(), size_t(w.pixmap_size));
                ASSERT_TRUE(w.writeNextFrameToVideoFile(int64_t(k) * 1000));
            }
            EXPECT_TRUE(vidtest::read_file(path).empty()) << "named before its finish";
            if (c.finish) {
                ASSERT_TRUE(w.finish()) << w.errMessage;
                EXPECT_EQ(std::string(w.videoFileName), path);
            }
            if (c.abandon)
                w.abandon();
        }
        if (c.abandon) {
            EXPECT_TRUE(vidtest::read_file(path).empty() && vidtest::read_file(temp).empty());
            continue;
        }
        const std::string kept = c.finish ? path : temp;
        EXPECT_EQ(vidtest::read_file(c.finish ? temp : path).size(), 0u);
        VidHeader r(kept.c_str(), nullptr);
        ASSERT_TRUE(r.isOpen());
        EXPECT_EQ(r.num_frames, c.finish || c.written <= c.reserved ? c.written : c.reserved);
        ASSERT_TRUE(r.readFrameFromVideoFile(c.written - 1));
        EXPECT_EQ(Bytes(r.pixmap, r.pixmap + r.pixmap_size),
                  vidtest::make_rgb_frame(8, 6, c.written - 1));
    }
}
