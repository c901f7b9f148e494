// The vid program against hostile files, nodes, pipes, full files and forgotten arguments:
// nothing lost, nothing blocked, every frame a reader accepts kept, every answer honest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <zlib.h>

#include "vid_cli_fixture.h"
#include "vid_clip.h"
#include "vid_format.h"

using vidtest::Bytes;
using vidtest::Outcome;

namespace {

class Hostile : public vidtest::VidCli {
  protected:
    std::string text_of(const std::string& name)
    {
        Bytes b = vidtest::read_file(at(name));
        return std::string(b.begin(), b.end());
    }
    bool is_fifo(const std::string& name)
    {
        struct stat st;
        return stat(at(name).c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    }
};

Bytes plain_zlib(const Bytes& frame)
{
    uLongf size = compressBound(uLong(frame.size()));
    Bytes out(size);
    compress2(out.data(), &size, frame.data(), uLong(frame.size()), 9);
    out.resize(size);
    return out;
}

// An RGB file whose records are of every kind a reader accepts, and one damaged record:
// 0 blocked-compress, 1 plain zlib stream, 2 zero-length (black), 3 damaged, 4 blocked.
struct Mixed {
    Bytes file;
    std::vector<Bytes> frames;
};
Mixed mixed_file(int w, int h)
{
    Mixed m;
    std::vector<Bytes> records;
    for (int i = 0; i < 5; i++)
        m.frames.push_back(vidtest::make_rgb_frame(w, h, i));
    m.frames[2].assign(m.frames[2].size(), 0);
    records.push_back(vidtest::compress_record(m.frames[0]));
    records.push_back(plain_zlib(m.frames[1]));
    records.push_back(Bytes());
    records.push_back(vidtest::compress_record(m.frames[3]));
    records[3][records[3].size() / 2] ^= 0x5A;
    records.push_back(vidtest::compress_record(m.frames[4]));
    m.file = vidtest::assemble_vid(uint16_t(w), uint16_t(h), -5, records);
    return m;
}

TEST_F(Hostile, OutputsOntoPipesAndDevicesAreWrittenIntoOthersRefused)
{
    vidtest::VidFile v = vidtest::make_rgb_vid(32, 16, 4);
    ASSERT_TRUE(vidtest::write_file(at("a.vid"), v.bytes));
    ASSERT_EQ(sh("$VID export a.vid --format raw -o plain.raw").status, 0);
    ASSERT_EQ(sh("mkfifo p1 p2 && mkdir folder").status, 0);
    // A reader on the pipe gets every byte, and the pipe stays a pipe.
    EXPECT_EQ(
        sh("cat p1 > got.raw & $VID export a.vid --format raw -o p1; s=$?; wait; exit $s").status,
        0);
    EXPECT_TRUE(is_fifo("p1"));
    EXPECT_EQ(vidtest::read_file(at("got.raw")), vidtest::read_file(at("plain.raw")));
    EXPECT_EQ(sh("cat p2 > got.vid & $VID repair a.vid p2 > /dev/null; s=$?; wait; exit $s").status,
              0);
    EXPECT_TRUE(is_fifo("p2"));
    EXPECT_EQ(frames_of("got.vid"), v.frames);
    const struct {
        const char* line;
        const char* err;
    } refused[] = {
        {"$VID export a.vid --format raw -o folder", "vid export: folder: is a folder"},
        {"$VID repair a.vid folder", "vid repair: folder: Is a directory\n"},
    };
    for (const auto& r : refused) {
        Outcome o = sh(r.line);
        EXPECT_EQ(o.status, 1) << r.line;
        EXPECT_EQ(o.err.rfind(r.err, 0), 0u) << o.err;
    }
    EXPECT_EQ(sh("ls folder | wc -l | grep -qx 0").status, 0) << "nothing written into it";
}

TEST_F(Hostile, ACharacterDeviceOutputIsWrittenIntoNotReplaced)
{
    // A null device of the test's own (needs the right to make device nodes).
    if (sh("mknod null c 1 3").status != 0)
        GTEST_SKIP() << "device nodes cannot be made here";
    ASSERT_TRUE(vidtest::write_file(at("a.vid"), vidtest::make_rgb_vid(32, 16, 2).bytes));
    EXPECT_EQ(sh("$VID export a.vid --format raw -o null").status, 0);
    EXPECT_EQ(sh("$VID repair a.vid null > /dev/null").status, 0);
    struct stat st;
    ASSERT_EQ(stat(at("null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the node was replaced by a regular file";
}

TEST_F(Hostile, AStreamWhoseFinishFailsKeepsEveryFrame)
{
    // 600 frames through a pipe with 4 reserved: the finish rewrites the file with a larger
    // table, which a file size limit between the two sizes refuses (EFBIG, as a full disk
    // gives ENOSPC).
    const int w = 8, h = 8, n = 600;
    Bytes stream;
    std::vector<Bytes> frames;
    for (int i = 0; i < n; i++) {
        frames.push_back(vidtest::make_rgb_frame(w, h, i));
        stream.insert(stream.end(), frames.back().begin(), frames.back().end());
    }
    ASSERT_TRUE(vidtest::write_file(at("s.rgb"), stream));
    ASSERT_EQ(sh("cat s.rgb | $VID import whole.vid --size 8x8 --frames 4 -").status, 0);
    int64_t whole = int64_t(vidtest::read_file(at("whole.vid")).size());
    int64_t limit = whole - 8 * (n - 4) + 1024; // room for the frames, not for the rewrite
    Outcome o = sh("trap '' XFSZ; cat s.rgb | prlimit --fsize=" + std::to_string(limit) +
                   " $VID import imp.vid --size 8x8 --frames 4 -");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("File too large"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("kept in imp.vid.partial0"), std::string::npos) << o.err;
    Outcome v = sh("$VID verify imp.vid.partial0 > v.txt");
    EXPECT_EQ(v.status, 1) << "frames beyond the table are said";
    EXPECT_NE(text_of("v.txt").find("4 frames, 8 x 8 RGB, all intact, but 596 more whole frames"),
              std::string::npos)
        << text_of("v.txt");
    ASSERT_EQ(sh("$VID repair imp.vid.partial0 fixed.vid > /dev/null").status, 0);
    EXPECT_EQ(frames_of("fixed.vid"), frames);
}

TEST_F(Hostile, RepairKeepsWhatVerifyCallsIntactAndSaysWhatItDrops)
{
    Mixed m = mixed_file(64, 48);
    ASSERT_TRUE(vidtest::write_file(at("m.vid"), m.file));
    EXPECT_EQ(sh("$VID verify m.vid > v.txt").status, 1);
    EXPECT_NE(text_of("v.txt").find("1 of 5 frames damaged"), std::string::npos)
        << text_of("v.txt");
    Outcome r = sh("$VID repair m.vid r.vid > /dev/null");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("frame 3 (offset "), std::string::npos) << r.err;
    EXPECT_EQ(frames_of("r.vid"),
              (std::vector<Bytes>{m.frames[0], m.frames[1], m.frames[2], m.frames[4]}));
    ASSERT_EQ(sh("$VID repair m.vid k.vid --keep-numbering > /dev/null").status, 0);
    std::vector<Bytes> numbered = m.frames;
    numbered[3].assign(numbered[3].size(), 0);
    EXPECT_EQ(frames_of("k.vid"), numbered);
    EXPECT_EQ(sh("$VID verify r.vid k.vid > /dev/null").status, 0);
}

TEST_F(Hostile, RepairOfForgedRecordsIsLinearAndBounded)
{
    // 8 MB of forged records every 512 bytes, each announcing a whole 1000 x 1000 frame from
    // up to twice its size of garbage: every candidate would read megabytes and expand to
    // 3 MB. The test's time limit catches a scan that grows faster than the file.
    const int w = 1000, h = 1000;
    Bytes file(8 << 20, 0x33);
    put_le16(&file[0], uint16_t(w));
    put_le16(&file[2], uint16_t(h));
    for (size_t at = 64; at + 28 < file.size(); at += 512) {
        const unsigned char marker[8] = {0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18};
        memcpy(&file[at], marker, 8);
        put_le32(&file[at + 8], 1);
        put_le32(&file[at + 12], uint32_t(3 * w * h));
        put_le32(&file[at + 16],
                 uint32_t(file.size() - at - 20 < 6000000 ? file.size() - at - 20 : 6000000));
    }
    ASSERT_TRUE(vidtest::write_file(at("forged.vid"), file));
    Outcome r = sh("$VID repair forged.vid out.vid --size 1000x1000");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no intact frame"), std::string::npos) << r.err.substr(0, 400);
}

TEST_F(Hostile, ForgottenOutputNamesAndNonVidOutputsAreRefused)
{
    ASSERT_EQ(sh("printf 'P6\\n4 4\\n255\\n%048d' 7 > 00000.ppm && cp 00000.ppm 00001.ppm && "
                 "cp 00000.ppm 00002.ppm && cp 00000.ppm img.png")
                  .status,
              0);
    const Bytes image = vidtest::read_file(at("00000.ppm"));
    const struct {
        const char* line;
        int status;
    } cases[] = {
        {"$VID import 00000.ppm 00001.ppm 00002.ppm", 1}, // OUT forgotten
        {"$VID import img.png 00001.ppm", 1},
        {"$VID import --force 00000.ppm 00000.ppm 00001.ppm", 1}, // OUT is an input
        {"$VID import new.vid 00000.ppm 00001.ppm", 0},
        {"$VID import new.vid 00002.ppm", 0}, // a VID file may be replaced
        {"$VID import --force img.png 00001.ppm", 0},
        {"$VID import -- -dash.vid 00001.ppm", 0}, // -- ends the options
    };
    for (const auto& c : cases)
        EXPECT_EQ(sh(c.line).status, c.status) << c.line;
    EXPECT_EQ(vidtest::read_file(at("00000.ppm")), image);
    EXPECT_EQ(frames_of("new.vid").size(), 1u);
    EXPECT_EQ(frames_of("img.png").size(), 1u);
    EXPECT_EQ(frames_of("-dash.vid").size(), 1u);
}

TEST_F(Hostile, PipesAsInputsAreRefusedAtOnce)
{
    ASSERT_EQ(sh("mkfifo pipe.vid && mkdir out").status, 0);
    // `timeout` ends a command that blocks (status 124): each must answer at once instead.
    for (const char* line :
         {"timeout 20 $VID info pipe.vid", "timeout 20 $VID verify pipe.vid",
          "timeout 20 $VID export pipe.vid -o out", "timeout 20 $VID repair pipe.vid r.vid",
          "cd out && timeout 20 \"$(dirname $VID)/framewise\" ../pipe.vid"}) {
        Outcome o = sh(std::string(line) + " >&2"); // verify answers on stdout
        EXPECT_EQ(o.status, 1) << line;
        EXPECT_NE(o.err.find("pipe"), std::string::npos) << line << ": " << o.err;
    }
}

TEST_F(Hostile, BlackFramesCostNothingAndExportAsBlackMosaics)
{
    // Zero-length records announcing frames of almost 2 GB: verify reads none of them.
    Bytes huge(8 + 8 * 64);
    put_le16(&huge[0], 30000);
    put_le16(&huge[2], 23000);
    put_le32(&huge[4], uint32_t(-64));
    for (int i = 0; i < 64; i++)
        put_le64(&huge[8 + 8 * i], huge.size());
    ASSERT_TRUE(vidtest::write_file(at("huge.vid"), huge));
    EXPECT_EQ(sh("$VID verify huge.vid > /dev/null").status, 0);
    // Bayer files of black frames only: the mosaic is zeros in every format.
    std::vector<Bytes> none(3);
    ASSERT_TRUE(vidtest::write_file(at("b.vid"), vidtest::assemble_vid(32, 16, 3, none)));
    ASSERT_EQ(sh("$VID export b.vid --mosaic --format raw -o m.raw && "
                 "$VID export b.vid --mosaic --format ppm -o pgm && "
                 "$VID export b.vid --mosaic -o png")
                  .status,
              0);
    EXPECT_EQ(vidtest::read_file(at("m.raw")), Bytes(3 * 32 * 16 * 2, 0));
    EXPECT_EQ(sh("test -s pgm/00002.pgm && test -s png/00002.png").status, 0);
}

TEST_F(Hostile, VerifyAndInfoTellEmptyFilesAndFramesBeyondTheTable)
{
    {
        VidHeader empty(at("empty.vid").c_str(), stderr, 64, 48, 5);
    }
    std::vector<Bytes> written;
    {
        VidHeader w(at("grown.vid").c_str(), stderr, 16, 8, 5);
        w.growTableWhenFull();
        for (int i = 0; i < 20; i++) {
            written.push_back(vidtest::make_rgb_frame(16, 8, i));
            memcpy(w.pixmap, written.back().data(), written.back().size());
            ASSERT_TRUE(w.writeNextFrameToVideoFile());
        }
        // What a writer killed now leaves: the file as it stands.
        ASSERT_EQ(sh("cp grown.vid killed.vid").status, 0);
    }
    EXPECT_EQ(sh("$VID verify empty.vid > v.txt").status, 0);
    EXPECT_NE(text_of("v.txt").find("empty and intact"), std::string::npos) << text_of("v.txt");
    ASSERT_EQ(sh("$VID info --json empty.vid killed.vid grown.vid > i.json").status, 0);
    std::string json = text_of("i.json");
    for (const char* expected :
         {"\"kind\": null", "\"state\": \"empty\"", "\"frames\": 5, \"table_entries\": 5",
          "\"state\": \"unfinished\", \"frames_beyond_table\": 15",
          "\"frames\": 20, \"table_entries\": 20"})
        EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
    EXPECT_EQ(sh("$VID verify killed.vid > v.txt").status, 1);
    EXPECT_NE(text_of("v.txt").find("15 more whole frames"), std::string::npos) << text_of("v.txt");
    ASSERT_EQ(sh("$VID repair killed.vid back.vid > /dev/null").status, 0);
    EXPECT_EQ(frames_of("back.vid"), written);
}

TEST_F(Hostile, MessagesAndJsonStayTrueOnOddInput)
{
    vidtest::VidFile v = vidtest::make_rgb_vid(16, 8, 3);
    Bytes odd = v.bytes;
    vidtest::set_table_entry(odd, 0, INT64_MIN + 5); // an extreme first offset
    ASSERT_TRUE(vidtest::write_file(at("odd.vid"), odd));
    ASSERT_TRUE(vidtest::write_file(at("name\xff.vid"), v.bytes));
    // Two damaged frames: each line has its own reason (the report stream stays open).
    Bytes two = v.bytes;
    two[size_t(vidtest::table_entry(two, 1)) + 30] ^= 0xFF;
    two[size_t(vidtest::table_entry(two, 2)) + 30] ^= 0xFF;
    ASSERT_TRUE(vidtest::write_file(at("two.vid"), two));

    Outcome info = sh("$VID info --json odd.vid 'name\xff.vid' missing.vid -- -x.vid > i.json");
    EXPECT_EQ(info.status, 1);
    std::string json = text_of("i.json");
    for (const char* expected :
         {"\"file\": \"odd.vid\", \"kind\": \"rgb\"", "\"file\": \"name\\udcff.vid\"",
          "{\"file\": \"missing.vid\", \"error\": ", "No such file or directory",
          "{\"file\": \"-x.vid\", \"error\": "})
        EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
    EXPECT_EQ(json.find("\": -"), std::string::npos) << "no negative size or count\n" << json;
    EXPECT_EQ(sh("/usr/bin/python3 -c 'import json,sys; [json.loads(l) for l in open(\"i.json\")]'")
                  .status,
              0)
        << json;

    EXPECT_EQ(sh("$VID verify two.vid > v.txt").status, 1);
    std::string lines = text_of("v.txt");
    for (const char* expected : {"frame 1 at offset", "frame 2 at offset"}) {
        size_t at = lines.find(expected);
        ASSERT_NE(at, std::string::npos) << lines;
        EXPECT_NE(lines.substr(at, lines.find('\n', at) - at).find("damaged record"),
                  std::string::npos)
            << lines;
    }
}

TEST_F(Hostile, FullFilesLeaveNoPartialOutputsAndCountWhatIsMissing)
{
    ASSERT_TRUE(vidtest::write_file(at("a.vid"), vidtest::make_rgb_vid(64, 48, 5).bytes));
    // Each 9 KB image is larger than the file size limit.
    const std::string limit = "trap '' XFSZ; prlimit --fsize=4096 ";
    Outcome e = sh(limit + "$VID export a.vid --format ppm -o ppm");
    EXPECT_EQ(e.status, 1);
    EXPECT_NE(e.err.find("5 of 5 frames could not be exported"), std::string::npos) << e.err;
    Outcome f = sh("mkdir fw && cd fw && " + limit + "\"$(dirname $VID)/framewise\" ../a.vid");
    EXPECT_EQ(f.status, 1);
    Outcome r = sh(limit + "$VID repair a.vid r.vid");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("r.vid: cannot write: File too large"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".partial"), std::string::npos) << r.err;
    EXPECT_EQ(sh("test -z \"$(find ppm fw/frames -type f)\" && test ! -e r.vid").status, 0)
        << "no image, partial file or output is left behind";
}

TEST_F(Hostile, AHugeReservationIsAHint)
{
    Outcome o = sh("head -c 1536 /dev/zero | $VID import r.vid --size 16x16 --frames 268435456 -");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(frames_of("r.vid").size(), 2u);
    EXPECT_LT(vidtest::read_file(at("r.vid")).size(), size_t(9) << 20);
}

} // namespace

// Timestamps at the ends of their range: every program that takes differences of them
// (gaps, spans, the CSV's seconds) stays within its arithmetic (UBSan watches this pass).
TEST_F(Hostile, ExtremeTimestampsAreTakenWithoutOverflow)
{
    VidRecording recording;
    recording.frame_rate = 25;
    {
        VidHeader w(at("t.vid").c_str(), nullptr, 8, 8, 4, recording);
        ASSERT_TRUE(w.isOpen());
        const int64_t times[] = {INT64_MIN + 1, INT64_MAX, 0, 40000000};
        for (int64_t t : times) {
            memset(w.pixmap, 7, size_t(w.pixmap_size));
            ASSERT_TRUE(w.writeNextFrameToVideoFile(t));
        }
    }
    Outcome info = sh("$VID info t.vid");
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("(9223372036.894775 s apart)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("gaps           1, about"), std::string::npos) << info.out;
    Outcome json = sh("$VID info --json t.vid");
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out.find("inf"), std::string::npos) << json.out;
    Outcome csv = sh("$VID export t.vid --timestamps t.csv");
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(text_of("t.csv").find("1,9223372036854775807,18446744073.70955"), std::string::npos)
        << text_of("t.csv");
}

// Files whose headers announce far more than they hold cost no memory for it: checked under
// an address-space limit (not in sanitizer builds, whose shadow memory needs the space).
TEST_F(Hostile, AnnouncedSizesCostNoMemoryUntilAFrameNeedsIt)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit and AddressSanitizer exclude each other";
#endif
    if (sh("prlimit --version").status != 0)
        GTEST_SKIP() << "no prlimit";
    // 64 black frames of 21845 x 32767 RGB pixels (2 GiB each) in 520 bytes.
    Bytes black(8 + 64 * 8, 0);
    vid_encode_header(black.data(), 21845, 32767, 64, false, true);
    for (int k = 0; k < 64; k++)
        put_le64(&black[size_t(8 + 8 * k)], uint64_t(black.size()));
    ASSERT_TRUE(vidtest::write_file(at("black.vid"), black));
    const std::string limited = "prlimit --as=700000000 $VID ";
    Outcome verify = sh(limited + "verify black.vid");
    EXPECT_EQ(verify.status, 0) << verify.err;
    EXPECT_NE(verify.out.find("64 frames"), std::string::npos) << verify.out;
    // Images whose headers claim 65535 x 65535 pixels in 26 bytes.
    const std::string bombs[] = {"P5\n65535 65535\n65535\n", "P6\n65535 65535\n255\n"};
    const std::string kinds[] = {"--kind bayer16", ""};
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(vidtest::write_file(at("bomb.pnm"), Bytes(bombs[i].begin(), bombs[i].end())));
        Outcome o = sh(limited + "import " + kinds[i] + " bomb.vid bomb.pnm");
        EXPECT_EQ(o.status, 1) << bombs[i] << o.err;
        EXPECT_NE(o.err.find("the image data ends early"), std::string::npos) << o.err;
    }
}
