// The jobs over the container, in process and table-driven: conversion, repair, crop and
// following a writer. Each table row is one kind of file or damage; the checks compare what
// the job's output reads back with the frames that went in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "vid_convert.h"
#include "vid_crop.h"
#include "vid_follow.h"
#include "vid_kind.h"
#include "vid_read.h"
#include "vid_records.h"
#include "vid_salvage.h"
#include "vid_test_files.h"

using vidtest::Bytes;

namespace {

Bytes frame_of(VidKind kind, int w, int h, int k)
{
    return kind == VidKind::rgb
               ? vidtest::make_rgb_frame(w, h, k)
               : vidtest::make_bayer_frame(w, h, kind == VidKind::bayer8 ? 1 : 2, k);
}

// A recording of `n` frames of `kind`, frame k stamped k ms; returns its frames.
std::vector<Bytes> record(const std::string& path, VidKind kind, bool compact, int w, int h, int n,
                          int reserve = -1)
{
    VidRecording recording;
    recording.kind = kind;
    recording.compact = compact;
    recording.metadata = "{\"lens\": \"50mm\"}";
    VidHeader writer(path.c_str(), nullptr, w, h, reserve < 0 ? n : reserve, recording);
    EXPECT_TRUE(writer.isOpen());
    writer.growTableWhenFull();
    std::vector<Bytes> frames;
    for (int k = 0; k < n; k++) {
        frames.push_back(frame_of(kind, w, h, k));
        memcpy(writer.pixmap, frames.back().data(), frames.back().size());
        EXPECT_TRUE(writer.writeNextFrameToVideoFile(int64_t(k) * 1000000));
    }
    EXPECT_TRUE(writer.finish());
    return frames;
}

// Every frame's samples as stored.
std::vector<Bytes> samples_of(const std::string& path)
{
    VidHeader r(path.c_str(), nullptr);
    EXPECT_TRUE(r.isOpen()) << path;
    std::vector<Bytes> out;
    for (int k = 0; k < r.num_frames; k++) {
        EXPECT_TRUE(r.readSamplesFromVideoFile(k)) << k;
        out.emplace_back(r.uncompressed_buffer, r.uncompressed_buffer + r.uncompressed_buffer_size);
    }
    return out;
}

TEST(Jobs, ConvertKeepsEveryFrameAndTheRecording)
{
    for (VidKind kind : {VidKind::rgb, VidKind::bayer8, VidKind::bayer16})
        for (bool to_compact : {true, false}) {
            SCOPED_TRACE(testing::Message() << vid_kind_name(kind) << " to compact " << to_compact);
            vidtest::TempDir dir;
            const std::string in = dir.file("in.vid"), out = dir.file("out.vid");
            const std::vector<Bytes> frames = record(in, kind, !to_compact, 64, 40, 3);
            VidError error;
            ASSERT_TRUE(vid_convert(in, out, VidConvertOptions{to_compact, 2}, error))
                << vid_error_message(error);
            EXPECT_EQ(samples_of(out), frames);
            VidHeader a(in.c_str(), nullptr), b(out.c_str(), nullptr);
            const VidClip ca = vid_read_clip(a), cb = vid_read_clip(b);
            EXPECT_EQ(cb.start_field, ca.start_field); // the same recording
            EXPECT_EQ(cb.metadata, ca.metadata);
            std::vector<int64_t> sa, sb;
            EXPECT_TRUE(vid_read_timestamps(a, ca, sa) && vid_read_timestamps(b, cb, sb));
            EXPECT_EQ(sb, sa);
        }
}

TEST(Jobs, RepairKeepsEveryIntactFrame)
{
    struct Case {
        const char* name;
        void (*damage)(Bytes&);
        std::vector<int> kept; // frames of the original, in order
    } cases[] = {
        {"torn last record", [](Bytes& f) { f.resize(f.size() - 10); }, {0, 1, 2, 3, 4}},
        {"count zero", [](Bytes& f) { vidtest::set_count_field(f, 0); }, {0, 1, 2, 3, 4, 5}},
        {"table zeroed",
         [](Bytes& f) {
             for (size_t i = 0; i < 6; i++)
                 vidtest::set_table_entry(f, i, 0);
         },
         {0, 1, 2, 3, 4, 5}},
        {"record 2 damaged",
         [](Bytes& f) { f[size_t(vidtest::table_entry(f, 2)) + 40] ^= 0xFF; },
         {0, 1, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vidtest::TempDir dir;
        const std::string in = dir.file("in.vid"), out = dir.file("out.vid");
        const std::vector<Bytes> frames = record(in, VidKind::bayer16, false, 64, 40, 6);
        Bytes bytes = vidtest::read_file(in);
        c.damage(bytes);
        ASSERT_TRUE(vidtest::write_file(in, bytes));
        VidRepairOptions options;
        options.width = 64;
        options.height = 40;
        options.bayer = true;
        VidRepairPlan plan;
        VidError error;
        ASSERT_TRUE(vid_repair_plan(in.c_str(), options, plan, error)) << vid_error_message(error);
        ASSERT_TRUE(vid_salvage_write(in.c_str(), out.c_str(), plan.width, plan.height, plan.bayer,
                                      plan.two_bytes, plan.records, error))
            << vid_error_message(error);
        std::vector<Bytes> want;
        for (int k : c.kept)
            want.push_back(frames[size_t(k)]);
        EXPECT_EQ(samples_of(out), want);
    }
}

TEST(Jobs, CropLaysOutItsInputs)
{
    vidtest::TempDir dir;
    const std::string a = dir.file("a.vid"), b = dir.file("b.vid");
    const std::vector<Bytes> fa = record(a, VidKind::rgb, false, 16, 8, 4);
    record(b, VidKind::rgb, true, 24, 16, 3);
    struct Case {
        VidCropLayout layout;
        int gap;
        int width, height, frames;
    } cases[] = {
        {VidCropLayout::sequence, 0, 24, 16, 7},
        {VidCropLayout::side_by_side, 4, 48, 16, 4}, // 16 + 4 + 24 = 44, rounded up to 48
        {VidCropLayout::stacked, 2, 24, 32, 4},      // 8 + 2 + 16 = 26, rounded up to 32
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.layout));
        const std::string out = dir.file("out" + std::to_string(int(c.layout)) + ".vid");
        VidCropOptions options;
        options.layout = c.layout;
        options.gap = c.gap;
        VidCropOutcome outcome;
        VidError error;
        VidCropInput ia, ib;
        ia.path = a;
        ib.path = b;
        ASSERT_TRUE(vid_crop(out, {ia, ib}, options, outcome, error)) << vid_error_message(error);
        EXPECT_EQ(outcome.width, c.width);
        EXPECT_EQ(outcome.height, c.height);
        EXPECT_EQ(outcome.frames, c.frames);
        // Output frame 1 shows input a's frame 1 (its first row, somewhere in the frame).
        VidHeader r(out.c_str(), nullptr);
        ASSERT_TRUE(r.readFrameFromVideoFile(1));
        const Bytes row(fa[1].begin(), fa[1].begin() + 16 * 3);
        EXPECT_NE(std::search(r.pixmap, r.pixmap + r.pixmap_size, row.begin(), row.end()),
                  r.pixmap + r.pixmap_size);
    }
}

TEST(Jobs, FollowerTakesEveryFrameAWriterAppends)
{
    for (int reserve : {8, 2}) { // within the table, and a writer past it
        SCOPED_TRACE(reserve);
        vidtest::TempDir dir;
        const std::string path = dir.file("live.vid");
        VidRecording recording;
        recording.kind = VidKind::bayer16;
        VidHeader writer(path.c_str(), nullptr, 32, 16, reserve, recording);
        ASSERT_TRUE(writer.isOpen());
        writer.growTableWhenFull();
        std::unique_ptr<VidHeader> open_follower(new VidHeader(path.c_str(), nullptr));
        VidHeader& follower = *open_follower;
        ASSERT_TRUE(follower.isOpen());
        std::vector<Bytes> frames;
        for (int k = 0; k < 5; k++) {
            frames.push_back(frame_of(VidKind::bayer16, 32, 16, k));
            memcpy(writer.pixmap, frames.back().data(), frames.back().size());
            ASSERT_TRUE(writer.writeNextFrameToVideoFile());
            VidError error;
            ASSERT_TRUE(vid_refresh(follower, error)) << vid_error_message(error);
            ASSERT_EQ(follower.num_frames, k + 1);
            ASSERT_TRUE(follower.readSamplesFromVideoFile(k));
            EXPECT_EQ(Bytes(follower.uncompressed_buffer,
                            follower.uncompressed_buffer + follower.uncompressed_buffer_size),
                      frames.back());
        }
        // Closed before the finish: Windows cannot rename the finished file over one that is
        // open (a follower across the finish is tested in Python, test_vid_live.py).
        open_follower.reset();
        ASSERT_TRUE(writer.finish());
        EXPECT_EQ(samples_of(path), frames);
    }
}

} // namespace
