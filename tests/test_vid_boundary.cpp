// The boundary between the container and its front ends: failures as data (kind, errno,
// frame, detail) worded once, the records unit's view of a file's state, and the subcommands'
// one option table, through the vid program run as a real process.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "report.h"
#include "vid_cli_fixture.h"
#include "vid_records.h"
#include "vid_result.h"

using vidtest::Bytes;
using vidtest::Outcome;

namespace {

using Boundary = vidtest::VidCli;

TEST_F(Boundary, FailuresComeAsDataAndAreWordedOnce)
{
    vidtest::VidFile good = vidtest::make_rgb_vid(16, 8, 4);
    Bytes damaged = good.bytes;
    damaged[size_t(vidtest::table_entry(damaged, 2)) + 30] ^= 0x5A;
    ASSERT_TRUE(vidtest::write_file(at("good.vid"), good.bytes));
    ASSERT_TRUE(vidtest::write_file(at("damaged.vid"), damaged));
    ASSERT_TRUE(vidtest::write_file(at("junk.vid"), Bytes{1, 2, 3}));

    // The core prints nothing: the caller words the failure itself.
    testing::internal::CaptureStderr();
    const struct {
        std::string file;
        int frame; // read after opening, -1: none
        VidResult result;
        int error_number;
        int error_frame;
        const char* message; // after "<file>: "
    } cases[] = {
        {"missing.vid", -1, VidResult::not_found, ENOENT, -1, "No such file or directory"},
        {"junk.vid", -1, VidResult::not_vid_file, 0, -1,
         "not a VID file (it is shorter than the 8-byte header)"},
        {"good.vid", 4, VidResult::frame_out_of_range, 0, 4,
         "frame 4: no such frame (the file holds 4 frames)"},
        {"damaged.vid", 2, VidResult::damaged_record, 0, 2,
         "frame 2: damaged record (its record does not expand to the frame's 384 bytes)"},
        {"good.vid", 1, VidResult::ok, 0, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        VidHeader r(at(c.file).c_str(), nullptr);
        if (c.frame >= 0) {
            ASSERT_TRUE(r.isOpen());
            EXPECT_EQ(r.readFrameFromVideoFile(c.frame), c.result == VidResult::ok);
        }
        const VidError e = r.lastError();
        EXPECT_EQ(e.result, c.result);
        EXPECT_EQ(e.error_number, c.error_number);
        EXPECT_EQ(e.frame, c.error_frame);
        if (c.result != VidResult::ok) {
            EXPECT_EQ(vid_error_message(e), at(c.file) + ": " + c.message);
        }
        // errMessage keeps the container's report as MATLAB users have always seen it.
        if (c.result == VidResult::damaged_record) {
            EXPECT_EQ(std::string(r.reportText()),
                      "error uncompressing frame_number 2 in video: \n");
            // Handed over once, the codec's lines first, then the container's report.
            std::vector<std::pair<std::string, bool>> shown;
            EXPECT_TRUE(r.takeReports(
                [&](const char* text, bool container) { shown.emplace_back(text, container); }));
            ASSERT_EQ(shown.size(), 2u);
            EXPECT_EQ(shown[0].first.rfind("compress_uncompress_MT.cpp:", 0), 0u) << shown[0].first;
            EXPECT_FALSE(shown[0].second);
            EXPECT_EQ(shown[1].first, r.errMessage);
            EXPECT_FALSE(r.takeReports([](const char*, bool) { FAIL(); }));
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // The classes count from 1.
    VidError e{VidResult::damaged_record, 0, 39, "c.vid", "x"};
    EXPECT_EQ(vid_error_message(e, 1), "c.vid: frame 40: damaged record (x)");

    // The programs word the same failures, on one line, without the codec's own reports.
    Outcome r = sh("$VID verify damaged.vid > v.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    Bytes v = vidtest::read_file(at("v.txt"));
    EXPECT_NE(std::string(v.begin(), v.end())
                  .find("damaged.vid: frame 2 at offset " +
                        std::to_string(vidtest::table_entry(damaged, 2)) +
                        ": damaged record (its record does not expand to the frame's 384 bytes)\n"),
              std::string::npos);
    r = sh("$VID info missing.vid");
    EXPECT_EQ(r.err, "vid info: missing.vid: No such file or directory\n");
}

TEST_F(Boundary, ATruncatedFileSaysHowManyFramesItLost)
{
    vidtest::VidFile clip = vidtest::make_rgb_vid(32, 24, 50);
    Bytes cut = clip.bytes;
    // Cut in the middle of frame 35's record: frames 35 to 49 are missing or cut.
    cut.resize(size_t(vidtest::table_entry(cut, 35)) + 20);
    ASSERT_TRUE(vidtest::write_file(at("cut.vid"), cut));
    ASSERT_TRUE(vidtest::write_file(at("whole.vid"), clip.bytes));
    Outcome r = sh("$VID info cut.vid > i.txt; $VID info --json cut.vid whole.vid > j.txt");
    EXPECT_EQ(r.status, 1);
    Bytes text = vidtest::read_file(at("i.txt"));
    EXPECT_NE(std::string(text.begin(), text.end()).find("truncated (15 of 50 frames missing"),
              std::string::npos);
    Bytes json = vidtest::read_file(at("j.txt"));
    std::string j(json.begin(), json.end());
    EXPECT_NE(j.find("\"state\": \"truncated\", \"frames_beyond_table\": 0, \"frames_missing\": "
                     "14, \"frames_cut\": 1,"),
              std::string::npos)
        << j;
    EXPECT_NE(j.find("\"state\": \"complete\""), std::string::npos) << j;

    VidHeader reader(at("cut.vid").c_str(), nullptr);
    const VidFileState s = vid_file_state(reader);
    EXPECT_EQ(s.state, VidState::truncated);
    EXPECT_EQ(s.frames_missing + s.frames_cut, 15);
}

TEST_F(Boundary, EverySubcommandParsesByItsTable)
{
    ASSERT_TRUE(vidtest::write_file(at("clip.vid"), vidtest::make_rgb_vid(8, 8, 3).bytes));
    const struct {
        const char* line;
        int status;
        const char* err; // the whole of stderr
    } cases[] = {
        {"$VID info --bogus clip.vid", 2,
         "vid info: unknown option --bogus (see vid info --help)\n"},
        {"$VID verify --json=yes clip.vid", 2,
         "vid verify: --json takes no value (see vid verify --help)\n"},
        {"$VID export clip.vid --frames", 2,
         "vid export: --frames needs a value (A:B) (see vid export --help)\n"},
        {"$VID import o.vid --effort", 2,
         "vid import: --effort needs a value (E) (see vid import --help)\n"},
        {"$VID repair --keep-numbering -- clip.vid r.vid > /dev/null", 0, ""},
        {"$VID repair --size=8 clip.vid r.vid", 2,
         "vid repair: --size needs WxH within 36863x65535 (see vid repair --help)\n"},
        {"$VID export clip.vid --frames=1:3 --format=ppm -o d && test -f d/00002.ppm", 0, ""},
        {"$VID verify --json -- clip.vid | grep -q '\"intact\": true'", 0, ""},
        {"$VID export --help | grep -q -- '-o, --output DIR|FILE|-'", 0, ""},
        {"$VID help repair | grep -q -- '--keep-numbering'", 0, ""},
    };
    for (const auto& c : cases) {
        Outcome r = sh(c.line);
        EXPECT_EQ(r.status, c.status) << c.line << "\n" << r.err;
        EXPECT_EQ(r.err, c.err) << c.line;
    }
}

} // namespace

namespace {

// The RGB pixel at column x, row y of a frame of width w.
Bytes pixel(const Bytes& frame, int w, int x, int y)
{
    const size_t at = (size_t(y) * size_t(w) + size_t(x)) * 3;
    return Bytes(frame.begin() + long(at), frame.begin() + long(at) + 3);
}

TEST_F(Boundary, CropTrimsCropsAndMergesByThePlansRules)
{
    vidtest::VidFile a = vidtest::make_rgb_vid(16, 8, 6);
    vidtest::VidFile b = vidtest::make_rgb_vid(24, 16, 4);
    ASSERT_TRUE(vidtest::write_file(at("a.vid"), a.bytes));
    ASSERT_TRUE(vidtest::write_file(at("b.vid"), b.bytes));
    ASSERT_EQ(sh("$VID crop t.vid a.vid --frames 2:5 > /dev/null").status, 0);
    EXPECT_EQ(frames_of("t.vid"), std::vector<Bytes>(a.frames.begin() + 2, a.frames.begin() + 5));

    // Side by side, 8 pixels apart: a's 8 x 8 box centred in the 16 rows, b's 16 x 16 box
    // after the gap; as many frames as a has, b's place white once b has none left.
    ASSERT_EQ(sh("$VID crop m.vid a.vid b.vid --side-by-side --gap 8 --box 0,0,8,8 "
                 "--box 8,0,16,16 > /dev/null")
                  .status,
              0);
    std::vector<Bytes> m = frames_of("m.vid");
    ASSERT_EQ(m.size(), 6u);
    const Bytes white{255, 255, 255};
    for (int f : {0, 3, 5}) {
        SCOPED_TRACE(f);
        EXPECT_EQ(pixel(m[size_t(f)], 32, 0, 4), pixel(a.frames[size_t(f)], 16, 0, 0));
        EXPECT_EQ(pixel(m[size_t(f)], 32, 7, 11), pixel(a.frames[size_t(f)], 16, 7, 7));
        EXPECT_EQ(pixel(m[size_t(f)], 32, 0, 0), white);  // above a's box
        EXPECT_EQ(pixel(m[size_t(f)], 32, 12, 8), white); // the gap
        EXPECT_EQ(pixel(m[size_t(f)], 32, 31, 15),
                  f < 4 ? pixel(b.frames[size_t(f)], 24, 23, 15) : white);
    }

    const struct {
        const char* line;
        const char* err;
    } refused[] = {
        {"$VID crop a.vid a.vid", "vid crop: a.vid: refused argument (it is also an input"},
        {"$VID crop o.vid missing.vid", "vid crop: missing.vid: No such file or directory"},
        {"$VID crop o.vid a.vid --frames 7:9", "vid crop: o.vid: refused argument (the frame"},
        {"$VID crop o.vid a.vid b.vid --frames 1:2 --frames 1:2 --frames 1:2",
         "vid crop: --frames is given once, or once per input"},
    };
    for (const auto& c : refused) {
        Outcome r = sh(c.line);
        EXPECT_NE(r.status, 0) << c.line;
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << c.line << "\n" << r.err;
    }
    EXPECT_EQ(vidtest::read_file(at("a.vid")), a.bytes);
    EXPECT_TRUE(vidtest::read_file(at("o.vid")).empty());
}

} // namespace
