// vid info, export and import run as real processes: round trips through PNG and through a
// real video encoder on a pipe (ffmpeg, FFV1, lossless), 16-bit mosaics read back by a
// second decoder, and the refusals of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

#include "VidHeader.h"
#include "vid_cli_fixture.h"

using vidtest::Bytes;

namespace {

using VidIo = vidtest::VidCli;
using vidtest::have;
using vidtest::Outcome;

TEST_F(VidIo, UsageAndExitStatuses)
{
    const struct {
        const char* line;
        int status;
    } cases[] = {
        {"$VID --help | grep -q repair", 0},
        {"$VID help export | grep -q mosaic", 0},
        {"$VID verify --help | grep -q verify", 0},
        {"$VID", 2},
        {"$VID frobnicate", 2},
        {"$VID export", 2},
        {"$VID repair only_in.vid", 2},
        {"$VID info --bogus x.vid", 2},
        {"$VID import o.vid --size 0x4 -", 2},
        {"$VID repair a.vid b.vid --bayer8", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sh(c.line).status, c.status) << c.line;
}

TEST_F(VidIo, VerifyAndRepairRecoverWhatAStoppedWriterLeft)
{
    vidtest::VidFile file = vidtest::make_rgb_vid(64, 48, 10);
    ASSERT_TRUE(vidtest::write_file(at("t.vid"), file.bytes));
    // A writer from before files stayed readable: header and table all zeros.
    Bytes zeroed = file.bytes;
    int64_t first = vidtest::table_entry(zeroed, 0);
    std::fill(zeroed.begin(), zeroed.begin() + first, 0);
    ASSERT_TRUE(vidtest::write_file(at("zero.vid"), zeroed));
    // A damaged record in the middle, and a torn record at the end.
    Bytes damaged = file.bytes;
    int64_t fourth = vidtest::table_entry(damaged, 4);
    damaged[size_t(fourth) + 100] ^= 0xFF;
    damaged.insert(damaged.end(), file.bytes.begin() + first, file.bytes.begin() + first + 50);
    ASSERT_TRUE(vidtest::write_file(at("dmg.vid"), damaged));

    EXPECT_EQ(sh("$VID verify t.vid > v.txt").status, 0);
    Outcome v = sh("$VID verify zero.vid dmg.vid missing.vid > v.txt");
    EXPECT_EQ(v.status, 1);
    Bytes report = vidtest::read_file(at("v.txt"));
    std::string text(report.begin(), report.end());
    for (const char* expected :
         {"zero.vid: no frames in its header", "dmg.vid: frame 4 at offset ",
          "dmg.vid: 1 of 10 frames damaged", "missing.vid: cannot be opened"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;

    Outcome ask = sh("$VID repair zero.vid r.vid");
    EXPECT_EQ(ask.status, 1);
    EXPECT_NE(ask.err.find("--size 64x48\n"), std::string::npos) << ask.err;
    EXPECT_EQ(sh("$VID repair zero.vid r.vid --size 64x48").status, 0);
    EXPECT_EQ(frames_of("r.vid"), file.frames);
    EXPECT_EQ(vidtest::read_file(at("zero.vid")), zeroed) << "IN is never changed";

    Outcome fixed = sh("$VID repair dmg.vid r2.vid > out.txt");
    ASSERT_EQ(fixed.status, 0);
    Bytes said = vidtest::read_file(at("out.txt"));
    std::string kept(said.begin(), said.end());
    EXPECT_NE(kept.find("kept 9 frames"), std::string::npos) << kept;
    EXPECT_NE(fixed.err.find("frame 4 (offset " + std::to_string(fourth) + ") dropped"),
              std::string::npos)
        << fixed.err;
    EXPECT_NE(kept.find("cut short"), std::string::npos) << kept;
    std::vector<Bytes> expected = file.frames;
    expected.erase(expected.begin() + 4);
    EXPECT_EQ(frames_of("r2.vid"), expected);
    EXPECT_EQ(sh("$VID repair t.vid t.vid").status, 1) << "OUT may not be IN";
    EXPECT_EQ(sh("ls | grep -c partial").status, 1) << "no temporary file left behind";
}

TEST_F(VidIo, InfoDescribesKindSizeAndStateAsTextAndJson)
{
    ASSERT_TRUE(vidtest::write_file(at("rgb.vid"), vidtest::make_rgb_vid(40, 30, 5).bytes));
    ASSERT_TRUE(vidtest::write_file(at("b16.vid"), vidtest::make_bayer_vid(32, 16, 2, 3).bytes));
    Bytes torn = vidtest::make_rgb_vid(40, 30, 2).bytes;
    torn.insert(torn.end(), {0x81, 0x72, 0x63}); // a writer stopped inside a record
    ASSERT_TRUE(vidtest::write_file(at("torn.vid"), torn));

    ASSERT_EQ(sh("$VID info --json rgb.vid b16.vid torn.vid > info.json").status, 0);
    Bytes json = vidtest::read_file(at("info.json"));
    std::string text(json.begin(), json.end());
    for (const char* expected :
         {"\"kind\": \"rgb\", \"width\": 40, \"height\": 30, \"frames\": 5, \"table_entries\": 5",
          "\"kind\": \"bayer16\", \"width\": 32, \"height\": 16, \"frames\": 3",
          "\"frames\": 2, \"table_entries\": 2", "\"state\": \"unfinished\"",
          "\"frame_bytes\": 3600"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);

    Outcome missing = sh("$VID info rgb.vid nothing.vid > /dev/null");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("nothing.vid"), std::string::npos) << missing.err;
    EXPECT_EQ(sh("$VID info").status, 2);
}

TEST_F(VidIo, PngAndPpmExportImportRoundTrip)
{
    ASSERT_TRUE(vidtest::write_file(at("clip.vid"), vidtest::make_rgb_vid(48, 32, 6).bytes));
    std::vector<Bytes> original = frames_of("clip.vid");
    for (const char* format : {"png", "ppm"}) {
        SCOPED_TRACE(format);
        std::string f = format;
        ASSERT_EQ(sh("$VID export clip.vid --format " + f + " -o " + f + " --frames 1:5").status,
                  0);
        ASSERT_EQ(sh("$VID import back_" + f + ".vid " + f + "/0000[1-4]." + f).status, 0);
        std::vector<Bytes> back = frames_of("back_" + f + ".vid");
        ASSERT_EQ(back.size(), 4u);
        for (int k = 0; k < 4; k++)
            EXPECT_EQ(back[k], original[k + 1]) << "frame " << k + 1;
    }
    // Default folder: the file's stem in the current folder, every frame.
    ASSERT_EQ(sh("$VID export clip.vid").status, 0);
    struct stat st;
    EXPECT_EQ(stat(at("clip/00005.png").c_str(), &st), 0);
    if (!have("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed: the second PNG reader was not run";
    // A second PNG reader: ffmpeg decodes the sequence to rgb24.
    ASSERT_EQ(sh("ffmpeg -v error -i clip/%05d.png -f rawvideo -pix_fmt rgb24 - > dec.rgb").status,
              0);
    Bytes decoded = vidtest::read_file(at("dec.rgb"));
    Bytes all;
    for (const Bytes& f : original)
        all.insert(all.end(), f.begin(), f.end());
    EXPECT_EQ(decoded, all);
}

TEST_F(VidIo, MosaicExportKeepsEverySampleAtFullDepth)
{
    vidtest::VidFile bayer = vidtest::make_bayer_vid(32, 16, 2, 2);
    ASSERT_TRUE(vidtest::write_file(at("b16.vid"), bayer.bytes));
    ASSERT_EQ(sh("$VID export b16.vid --mosaic --format raw -o samples.raw").status, 0);
    Bytes raw = vidtest::read_file(at("samples.raw"));
    Bytes expected = bayer.frames[0];
    expected.insert(expected.end(), bayer.frames[1].begin(), bayer.frames[1].end());
    EXPECT_EQ(raw, expected);
    EXPECT_EQ(sh("$VID export b16.vid --mosaic --format ppm -o pgm").status, 0);
    Bytes pgm = vidtest::read_file(at("pgm/00001.pgm"));
    std::string head = "P5\n32 16\n65535\n";
    ASSERT_EQ(pgm.size(), head.size() + 32 * 16 * 2);
    for (size_t i = 0; i < 32 * 16; i++) // big-endian in the file, little-endian stored
        ASSERT_EQ(pgm[head.size() + 2 * i] << 8 | pgm[head.size() + 2 * i + 1],
                  bayer.frames[1][2 * i] | bayer.frames[1][2 * i + 1] << 8)
            << "sample " << i;
    EXPECT_EQ(sh("$VID export b16.vid --mosaic -o png").status, 0);
    if (!have("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed: the 16-bit PNG was not decoded by a second reader";
    ASSERT_EQ(sh("ffmpeg -v error -i png/00000.png -f rawvideo -pix_fmt gray16le - > s.raw").status,
              0);
    EXPECT_EQ(vidtest::read_file(at("s.raw")), bayer.frames[0]);
}

TEST_F(VidIo, LosslessVideoEncoderOnAPipeRoundTrips)
{
    if (!have("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    ASSERT_TRUE(vidtest::write_file(at("clip.vid"), vidtest::make_rgb_vid(64, 48, 12).bytes));
    ASSERT_EQ(sh("$VID export clip.vid --format raw -o - | ffmpeg -v error -f rawvideo -pix_fmt "
                 "rgb24 -s 64x48 -r 30 -i - -c:v ffv1 clip.mkv")
                  .status,
              0);
    ASSERT_EQ(sh("ffmpeg -v error -i clip.mkv -f rawvideo -pix_fmt rgb24 - | $VID import back.vid "
                 "--size 64x48 - --effort 1")
                  .status,
              0);
    EXPECT_EQ(frames_of("back.vid"), frames_of("clip.vid"));
}

TEST_F(VidIo, BadInputEndsInOneLineAndLeavesNoOutput)
{
    ASSERT_TRUE(vidtest::write_file(at("clip.vid"), vidtest::make_rgb_vid(8, 8, 3).bytes));
    ASSERT_EQ(sh("$VID export clip.vid --format ppm -o small").status, 0);
    ASSERT_TRUE(vidtest::write_file(
        at("big.ppm"), Bytes{'P', '6', '\n', '9', ' ', '8', '\n', '2', '5', '5', '\n'}));
    ASSERT_TRUE(vidtest::write_file(
        at("bad.png"), Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H'}));
    ASSERT_TRUE(vidtest::write_file(at("stream.rgb"), Bytes(8 * 8 * 3 * 2 + 5, 7)));
    const struct {
        const char* line;
        int status;
        const char* names;  // in the message
        const char* output; // must not exist afterwards ("" for none)
    } cases[] = {
        {"$VID import out1.vid small/00000.ppm bad.png", 1, "bad.png", "out1.vid"},
        {"$VID import out2.vid small/00000.ppm big.ppm", 1, "big.ppm", "out2.vid"},
        {"$VID import out3.vid nothing.png", 1, "nothing.png", "out3.vid"},
        {"$VID import /proc/out4.vid small/00000.ppm", 1, "/proc/out4.vid", ""},
        {"$VID export broken.vid", 1, "broken.vid", "broken"},
        {"$VID import out5.vid --size 8x8 - --effort 0 < stream.rgb", 2, "effort", "out5.vid"},
        {"$VID export clip.vid --format raw", 2, "raw", ""},
    };
    ASSERT_TRUE(vidtest::write_file(at("broken.vid"), Bytes{1, 2, 3}));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Outcome r = sh(c.line);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        struct stat st;
        if (c.output[0]) {
            EXPECT_NE(stat(at(c.output).c_str(), &st), 0) << c.output << " was left behind";
        }
    }
    // A stream that ends inside its third frame keeps the two whole frames and says so.
    Outcome shorter = sh("$VID import part.vid --size 8x8 - < stream.rgb");
    EXPECT_EQ(shorter.status, 1);
    EXPECT_NE(shorter.err.find("2 whole frames"), std::string::npos) << shorter.err;
    EXPECT_EQ(frames_of("part.vid").size(), 2u);
}

} // namespace
