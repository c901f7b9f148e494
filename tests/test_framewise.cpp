// framewise run as a real process (from VID_BIN_DIR) on real files: images, progress lines,
// reports and exit statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

#include "bayer_interpolate_MT.h"
#include "program_run.h"
#include "vid_test_files.h"

using vidtest::Bytes;

namespace {

using ProcessResult = vidtest::Outcome;
using vidtest::text_of;

// Runs framewise with `args` (already shell-quoted) in directory `cwd`.
ProcessResult run_framewise(const std::string& cwd, const std::string& args)
{
    return vidtest::run_in(cwd, "'" + vidtest::bin_path("framewise") + "' " + args);
}

Bytes ppm(int width, int height, const Bytes& rgb)
{
    std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    Bytes out(head.begin(), head.end());
    out.insert(out.end(), rgb.begin(), rgb.end());
    return out;
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string progress(int frame)
{
    char line[100];
    snprintf(line, sizeof line, "Uncompressing frame %d to ./frames/%05d.ppm...\r", frame, frame);
    return line;
}

class Framewise : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_TRUE(exists(vidtest::bin_path("framewise"))) << vidtest::bin_path("framewise");
        ASSERT_EQ(mkdir(dir.file("frames").c_str(), 0755), 0);
    }
    vidtest::TempDir dir;
};

} // namespace

TEST_F(Framewise, WrongArgumentCountsPrintUsageOnly)
{
    for (const char* args : {"", "a.vid b.vid"}) {
        SCOPED_TRACE(args);
        ProcessResult run = run_framewise(dir.path(), args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "Requires VID format filepath as the input argument.\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Framewise, MissingFileIsReportedWithStatusOne)
{
    ProcessResult run = run_framewise(dir.path(), "missing.vid");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Unable to open following video file in  'rb' mode \r\n missing.vid"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("Framewise error"), std::string::npos); // null stream: no title
    EXPECT_FALSE(exists(dir.file("frames/00000.ppm")));
}

TEST_F(Framewise, ThreeRgbFramesGiveThreeImagesAndOneProgressLine)
{
    vidtest::VidFile file = vidtest::make_rgb_vid(32, 16, 3);
    ASSERT_TRUE(vidtest::write_file(dir.file("clip.vid"), file.bytes));
    ProcessResult run = run_framewise(dir.path(), "clip.vid");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, progress(1));
    for (int i = 0; i < 3; i++) {
        char name[64];
        snprintf(name, sizeof name, "frames/%05d.ppm", i);
        EXPECT_EQ(vidtest::read_file(dir.file(name)), ppm(32, 16, file.frames[size_t(i)])) << i;
    }
    EXPECT_FALSE(exists(dir.file("frames/00003.ppm")));
}

TEST_F(Framewise, TwentyFiveFramesPrintProgressForOneAndTwentyOne)
{
    ASSERT_TRUE(vidtest::write_file(dir.file("c.vid"), vidtest::make_rgb_vid(4, 4, 25).bytes));
    ProcessResult run = run_framewise(dir.path(), "c.vid");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progress(1) + progress(21));
}

TEST_F(Framewise, BayerFramesAreDumpedAsDemosaicedRgb)
{
    vidtest::VidFile file = vidtest::make_bayer_vid(40, 30, 2, 2);
    ASSERT_TRUE(vidtest::write_file(dir.file("b.vid"), file.bytes));
    ProcessResult run = run_framewise(dir.path(), "b.vid");
    EXPECT_EQ(run.status, 0);
    for (int i = 0; i < 2; i++) {
        Bytes rgb(40 * 30 * 3);
        bayer_interpolate_MT(file.frames[size_t(i)].data(), rgb.data(), 40, 30, 1);
        char name[64];
        snprintf(name, sizeof name, "frames/%05d.ppm", i);
        EXPECT_EQ(vidtest::read_file(dir.file(name)), ppm(40, 30, rgb)) << i;
    }
}

TEST_F(Framewise, MissingFramesFolderIsCreatedAndUnwritableOneFailsTheRun)
{
    ASSERT_EQ(rmdir(dir.file("frames").c_str()), 0);
    vidtest::VidFile file = vidtest::make_rgb_vid(4, 4, 3);
    ASSERT_TRUE(vidtest::write_file(dir.file("c.vid"), file.bytes));
    ProcessResult run = run_framewise(dir.path(), "c.vid");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(vidtest::read_file(dir.file("frames/00002.ppm")), ppm(4, 4, file.frames[2]));

    // ./frames exists but cannot be written (a file in its place): every frame is reported,
    // then the summary, and the status says the run failed.
    ASSERT_EQ(
        system(
            ("rm -r '" + dir.file("frames") + "' && touch '" + dir.file("frames") + "'").c_str()),
        0);
    run = run_framewise(dir.path(), "c.vid");
    EXPECT_EQ(run.status, 1);
    size_t reports = 0;
    for (size_t at = 0;
         (at = run.err.find("Unable to open file to write image", at)) != std::string::npos; at++)
        reports++;
    EXPECT_EQ(reports, 3u);
    EXPECT_NE(run.err.find("3 of 3 frames could not be read or written\n"), std::string::npos)
        << run.err;
}

TEST_F(Framewise, FailedFramesAreDumpedAndTheRunGoesOn)
{
    vidtest::VidFile file = vidtest::make_rgb_vid(8, 8, 3);
    file.bytes[size_t(vidtest::table_entry(file.bytes, 1)) + 30] ^= 0xFF;
    ASSERT_TRUE(vidtest::write_file(dir.file("d.vid"), file.bytes));
    ProcessResult run = run_framewise(dir.path(), "d.vid");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("error uncompressing frame_number 1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("1 of 3 frames could not be read or written"), std::string::npos);
    EXPECT_EQ(vidtest::read_file(dir.file("frames/00002.ppm")), ppm(8, 8, file.frames[2]));
    EXPECT_TRUE(exists(dir.file("frames/00001.ppm")));
}

TEST_F(Framewise, FailedOpeningsAndEmptyFilesEndWithStatusOne)
{
    vidtest::VidFile file = vidtest::make_rgb_vid(8, 8, 4);
    Bytes short_table(file.bytes.begin(), file.bytes.begin() + 8 + 8 * 2);
    ASSERT_TRUE(vidtest::write_file(dir.file("t.vid"), short_table));
    ProcessResult run = run_framewise(dir.path(), "t.vid");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Error reading offsets to video file"), std::string::npos);
    EXPECT_FALSE(exists(dir.file("frames/00000.ppm")));

    ASSERT_TRUE(vidtest::write_file(dir.file("h.vid"), Bytes(5, 0)));
    run = run_framewise(dir.path(), "h.vid");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Unable to read from video file"), std::string::npos);

    // A file without frames says so.
    ASSERT_TRUE(vidtest::write_file(dir.file("e.vid"), vidtest::assemble_vid(8, 8, 0, {})));
    run = run_framewise(dir.path(), "e.vid");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "e.vid holds no frames.\n");
    EXPECT_EQ(run.out, "");
}

#ifdef VID_TEST_SHIM
// Each image goes under a temporary name and then its own; the images are put on the disk by
// one sync after the last, not one each (thousands of syncs made a long clip take minutes).
TEST_F(Framewise, ManyFramesAreDumpedWithOneSync)
{
    vidtest::VidFile file = vidtest::make_rgb_vid(4, 4, 300);
    ASSERT_TRUE(vidtest::write_file(dir.file("clip.vid"), file.bytes));
    ProcessResult run =
        vidtest::run_in(dir.path(), "VID_SYNC_COUNT_FILE=syncs LD_PRELOAD='" VID_TEST_SHIM "' '" +
                                        vidtest::bin_path("framewise") + "' clip.vid");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(vidtest::read_file(dir.file("frames/00299.ppm")), ppm(4, 4, file.frames[299]));
    EXPECT_EQ(vidtest::text_of(dir.file("syncs")), "1\n");
    EXPECT_FALSE(exists(dir.file("frames/00299.ppm.partial0")));
}
#endif
