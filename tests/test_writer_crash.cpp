// A writer process killed with SIGKILL at random moments (between frames, while compressing,
// while its record is being written) leaves a file from which the ordinary reader returns
// every frame whose write had returned, byte for byte: RGB frames of the classic writer, and
// Bayer mosaics of a recording writer with each frame's timestamp.
#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_test_files.h"
#include "vid_records.h"

using vidtest::Bytes;

namespace {

const int kWidth = 320, kHeight = 240, kFrames = 60;
bool g_bayer = false; // the variant: two-byte mosaics through a recording writer

// Noisy content, so that records are large and their writes take a while.
Bytes frame_content(int k)
{
    Bytes f = vidtest::make_noise(size_t(kWidth) * kHeight * (g_bayer ? 2 : 3), uint32_t(1000 + k));
    for (size_t i = 0; i < f.size(); i += 3)
        f[i] = uint8_t(i / 2000 + k); // some structure as well
    return f;
}

// The child: writes frames and tells the parent through `report` after each write returned.
[[noreturn]] void write_until_killed(const std::string& path, int report)
{
    VidRecording bayer;
    bayer.kind = VidKind::bayer16;
    bayer.metadata = "{\"camera\": \"test\"}";
    VidHeader w = g_bayer ? VidHeader(path.c_str(), nullptr, kWidth, kHeight, kFrames, bayer)
                          : VidHeader(path.c_str(), nullptr, kWidth, kHeight, kFrames);
    if (!w.isOpen())
        _exit(3);
    for (int k = 0; k < kFrames; k++) {
        Bytes f = frame_content(k);
        memcpy(w.pixmap, f.data(), f.size());
        if (!w.writeNextFrameToVideoFile(7000 * int64_t(k)))
            _exit(4);
        unsigned char done = uint8_t(k + 1);
        if (write(report, &done, 1) != 1)
            _exit(5);
    }
    _exit(0);
}

class WriterCrash : public ::testing::TestWithParam<bool> {};

TEST_P(WriterCrash, KilledWriterLeavesEveryReturnedFrameReadable)
{
    g_bayer = GetParam();
    vidtest::TempDir dir;
    std::vector<Bytes> frames;
    for (int k = 0; k < kFrames; k++)
        frames.push_back(frame_content(k));
    std::mt19937 rng(20261208);
    int kills = 0;
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE(round);
        std::string path = dir.file("crash" + std::to_string(round) + ".vid");
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipe_fds[0]);
            write_until_killed(path, pipe_fds[1]);
        }
        close(pipe_fds[1]);
        // Let it write a random number of frames, then kill it a random moment later.
        int wait_for = int(rng() % 12);
        int returned = 0;
        unsigned char done;
        while (returned < wait_for && read(pipe_fds[0], &done, 1) == 1)
            returned = done;
        usleep(useconds_t(rng() % 6000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        while (read(pipe_fds[0], &done, 1) == 1) // writes that returned before the kill
            returned = done;
        close(pipe_fds[0]);
        if (WIFSIGNALED(status))
            kills++;

        VidHeader r(path.c_str(), stderr);
        // A writer killed inside its constructor, before the header reached the file, has
        // recorded nothing: its file may be refused. Once a frame returned it opens.
        if (returned == 0 && !r.isOpen())
            continue;
        ASSERT_TRUE(r.isOpen()) << "killed after " << returned << " frames";
        // The frame being written may already count: the kill can fall after its write
        // returned and before the child reported it.
        ASSERT_GE(r.num_frames, returned);
        ASSERT_LE(r.num_frames, returned + 1);
        for (int k = 0; k < r.num_frames; k++) {
            if (g_bayer) {
                ASSERT_TRUE(r.readSamplesFromVideoFile(k)) << "frame " << k;
                ASSERT_EQ(Bytes(r.uncompressed_buffer,
                                r.uncompressed_buffer + r.uncompressed_buffer_size),
                          frames[size_t(k)])
                    << "frame " << k;
                continue;
            }
            ASSERT_TRUE(r.readFrameFromVideoFile(k)) << "frame " << k;
            ASSERT_EQ(Bytes(r.pixmap, r.pixmap + r.pixmap_size), frames[size_t(k)])
                << "frame " << k;
        }
        if (g_bayer) {
            const VidClip clip = vid_read_clip(r);
            std::vector<int64_t> stamps;
            ASSERT_TRUE(clip.present && vid_read_timestamps(r, clip, stamps));
            ASSERT_EQ(clip.metadata, "{\"camera\": \"test\"}");
            for (int k = 0; k < r.num_frames; k++)
                ASSERT_EQ(stamps[size_t(k)], 7000 * int64_t(k)) << "frame " << k;
        }
    }
    EXPECT_GE(kills, 16);
}

INSTANTIATE_TEST_SUITE_P(ClassicAndRecording, WriterCrash, ::testing::Values(false, true));

} // namespace
