// VidHeader: writer layout, reader decoding, round trips, random access, every provokable
// failure with its report and outcome, and the image dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

#include "VidHeader.h"
#include "errbox.h"
#include "bayer_interpolate_MT.h"
#include "vid_test_files.h"

using vidtest::Bytes;

namespace {

// A stream the object's reports are shown on, as a program shows them (vid_show_report);
// text(v) shows what v has not shown yet and gives everything shown so far.
class Reports {
  public:
    Reports() : f_(tmpfile()) {}
    ~Reports()
    {
        if (f_)
            fclose(f_);
    }
    FILE* stream() { return f_; }
    std::string text(VidHeader& v)
    {
        vid_show_report(v, f_);
        std::string out;
        fflush(f_);
        long end = ftell(f_);
        rewind(f_);
        int c;
        while ((c = fgetc(f_)) != EOF)
            out.push_back(char(c));
        fseek(f_, end, SEEK_SET);
        return out;
    }

  private:
    FILE* f_;
};

bool contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

Bytes pixmap_of(const VidHeader& v)
{
    return Bytes(v.pixmap, v.pixmap + v.pixmap_size);
}

// Writes `frames` (RGB, width x height) through a writer reserved for `reserved` frames.
void write_with_writer(const std::string& path, int width, int height, int reserved,
                       const std::vector<Bytes>& frames)
{
    VidHeader w(path.c_str(), nullptr, width, height, reserved);
    ASSERT_TRUE(w.isOpen());
    for (const Bytes& f : frames) {
        ASSERT_EQ(f.size(), size_t(w.pixmap_size));
        memcpy(w.pixmap, f.data(), f.size());
        ASSERT_TRUE(w.writeNextFrameToVideoFile());
    }
}

std::vector<Bytes> rgb_frames(int width, int height, int count)
{
    std::vector<Bytes> frames;
    for (int i = 0; i < count; i++)
        frames.push_back(vidtest::make_rgb_frame(width, height, i));
    return frames;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Writer layout

TEST(VidHeaderWriter, ThreeFramesGiveTheDocumentedLayoutAndReadBack)
{
    vidtest::TempDir dir;
    std::string path = dir.file("a.vid");
    std::vector<Bytes> frames = rgb_frames(64, 48, 3);
    write_with_writer(path, 64, 48, 3, frames);

    Bytes file = vidtest::read_file(path);
    ASSERT_GE(file.size(), 32u);
    EXPECT_EQ(get_le16(&file[0]), 64);
    EXPECT_EQ(get_le16(&file[2]), 48);
    EXPECT_EQ(int32_t(get_le32(&file[4])), -3);
    EXPECT_EQ(vidtest::table_entry(file, 0), 32);
    // The writer's bytes are exactly what the format gives for these frames.
    EXPECT_EQ(file, vidtest::make_rgb_vid(64, 48, 3).bytes);

    VidHeader r(path.c_str(), nullptr);
    ASSERT_TRUE(r.isOpen());
    EXPECT_EQ(r.num_frames, 3);
    EXPECT_EQ(r.vid_is_bayer_interpolated, 0);
    EXPECT_EQ(r.pixmap_size, 9216);
    EXPECT_EQ(r.uncompressed_buffer, r.pixmap);
    EXPECT_EQ(r.compressed_buffer_size, 2 * r.uncompressed_buffer_size);
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(r.readFrameFromVideoFile(i));
        EXPECT_EQ(pixmap_of(r), frames[size_t(i)]) << "frame " << i;
    }
}

TEST(VidHeaderWriter, ReservedTableKeepsUnusedEntriesAndReadsBackWrittenFrames)
{
    vidtest::TempDir dir;
    std::string path = dir.file("r.vid");
    std::vector<Bytes> frames = rgb_frames(20, 10, 3);
    write_with_writer(path, 20, 10, 10, frames);

    Bytes file = vidtest::read_file(path);
    EXPECT_EQ(int32_t(get_le32(&file[4])), -3);
    EXPECT_EQ(vidtest::table_entry(file, 0), 88);
    EXPECT_EQ(vidtest::table_entry(file, 3), int64_t(file.size()));
    for (size_t i = 4; i < 10; i++)
        EXPECT_EQ(vidtest::table_entry(file, i), 88) << "entry " << i;
    EXPECT_EQ(file, vidtest::make_rgb_vid(20, 10, 3, 10).bytes);

    VidHeader r(path.c_str(), nullptr);
    ASSERT_TRUE(r.isOpen());
    EXPECT_EQ(r.num_frames, 3);
    for (int i = 2; i >= 0; i--) {
        ASSERT_TRUE(r.readFrameFromVideoFile(i));
        EXPECT_EQ(pixmap_of(r), frames[size_t(i)]);
    }
}

TEST(VidHeaderWriter, FrameCountIsWhatWasWritten)
{
    vidtest::TempDir dir;
    struct Case {
        int reserved, written, expected_frames, expected_bayer;
    } cases[] = {{5, 2, 2, 0}, {5, 0, 0, 1}, {0, 0, 0, 1}, {1, 1, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.reserved << " reserved, " << c.written);
        std::string path = dir.file("c.vid");
        write_with_writer(path, 8, 6, c.reserved, rgb_frames(8, 6, c.written));
        Bytes file = vidtest::read_file(path);
        EXPECT_EQ(file.size() >= size_t(8 + 8 * c.reserved), true);
        VidHeader r(path.c_str(), nullptr);
        ASSERT_TRUE(r.isOpen());
        EXPECT_EQ(r.num_frames, c.expected_frames);
        EXPECT_EQ(r.vid_is_bayer_interpolated, c.expected_bayer);
    }
}

TEST(VidHeaderWriter, WriterForNoFramesLeavesAnEightByteFile)
{
    vidtest::TempDir dir;
    std::string path = dir.file("z.vid");
    {
        Reports reports;
        VidHeader w(path.c_str(), reports.stream(), 8, 6, 0);
        ASSERT_TRUE(w.isOpen());
        EXPECT_FALSE(w.writeNextFrameToVideoFile());
        EXPECT_TRUE(contains(reports.text(w), "asked frameNumber 0 > num_frames 0"));
    }
    Bytes file = vidtest::read_file(path);
    ASSERT_EQ(file.size(), 8u);
    EXPECT_EQ(get_le16(&file[0]), 8);
    EXPECT_EQ(get_le32(&file[4]), 0u);
}

TEST(VidHeaderWriter, UnfinishedFileReadsEveryFrameWritten)
{
    vidtest::TempDir dir;
    std::string path = dir.file("u.vid");
    VidHeader w(path.c_str(), nullptr, 8, 6, 4);
    ASSERT_TRUE(w.isOpen());
    {
        VidHeader r(path.c_str(), nullptr); // header and table from the start: no frames yet
        ASSERT_TRUE(r.isOpen());
        EXPECT_EQ(r.num_frames, 0);
        EXPECT_EQ(r.width, 8);
    }
    Bytes frame = vidtest::make_rgb_frame(8, 6, 0);
    memcpy(w.pixmap, frame.data(), frame.size());
    ASSERT_TRUE(w.writeNextFrameToVideoFile());
    VidHeader r(path.c_str(), nullptr); // no flush or finish needed
    ASSERT_TRUE(r.isOpen());
    EXPECT_EQ(r.num_frames, 1);
    EXPECT_EQ(r.vid_is_bayer_interpolated, 0);
    ASSERT_TRUE(r.readFrameFromVideoFile(0));
    EXPECT_EQ(Bytes(r.pixmap, r.pixmap + r.pixmap_size), frame);
}

TEST(VidHeaderWriter, AppendBeyondReservedCountIsRefusedAndChangesNothing)
{
    vidtest::TempDir dir;
    std::string path = dir.file("s.vid");
    Reports reports;
    {
        VidHeader w(path.c_str(), reports.stream(), 8, 6, 5);
        for (int i = 0; i < 5; i++) {
            memcpy(w.pixmap, vidtest::make_rgb_frame(8, 6, i).data(), size_t(w.pixmap_size));
            ASSERT_TRUE(w.writeNextFrameToVideoFile());
        }
        fflush(w.videoFile);
        size_t size_before = vidtest::read_file(path).size();
        EXPECT_FALSE(w.writeNextFrameToVideoFile());
        EXPECT_EQ(w.current_frame, 5);
        fflush(w.videoFile);
        EXPECT_EQ(vidtest::read_file(path).size(), size_before);
        EXPECT_TRUE(contains(reports.text(w), "VidHeader:"));
        EXPECT_TRUE(contains(reports.text(w), " asked frameNumber 5 > num_frames 5\n"));
    }
    VidHeader r(path.c_str(), nullptr);
    EXPECT_EQ(r.num_frames, 5);
}

TEST(VidHeaderWriter, RefusesGeometriesItCannotWriteAndLeavesExistingFileAlone)
{
    vidtest::TempDir dir;
    std::string path = dir.file("keep.vid");
    ASSERT_TRUE(vidtest::write_file(path, Bytes(100, 7)));
    struct Case {
        int w, h, n;
    } cases[] = {
        {0, 10, 1},     {10, 0, 1},      {-4, 10, 1},
        {0x9000, 1, 1}, {100, 65536, 1}, {36863, 19500, 1}, // 2^31 bytes or more
        {1, 1, 1},      {2, 5, 1},                          // records would not fit twice the frame
        {8, 6, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " n " << c.n);
        Reports reports;
        {
            VidHeader w(path.c_str(), reports.stream(), c.w, c.h, c.n);
            EXPECT_FALSE(w.isOpen());
            EXPECT_EQ(w.pixmap, nullptr);
            EXPECT_EQ(w.offsets, nullptr);
            EXPECT_EQ(w.videoFile, nullptr);
            EXPECT_FALSE(w.writeNextFrameToVideoFile());
            EXPECT_TRUE(contains(reports.text(w), "VidHeader:"));
        }
        EXPECT_EQ(vidtest::read_file(path), Bytes(100, 7));
    }
}

TEST(VidHeaderWriter, SmallestAcceptedFrameRoundTripsIncompressibleContent)
{
    vidtest::TempDir dir;
    std::string path = dir.file("small.vid");
    std::vector<Bytes> frames;
    for (uint32_t i = 0; i < 4; i++)
        frames.push_back(vidtest::make_noise(33, i)); // 1 x 11 pixels
    write_with_writer(path, 1, 11, 4, frames);
    VidHeader r(path.c_str(), nullptr);
    ASSERT_TRUE(r.isOpen());
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(r.readFrameFromVideoFile(i));
        EXPECT_EQ(pixmap_of(r), frames[size_t(i)]);
    }
}

TEST(VidHeaderWriter, FailedCompressionWritesNothingAndKeepsPosition)
{
    vidtest::TempDir dir;
    std::string path = dir.file("cf.vid");
    Reports reports;
    VidHeader w(path.c_str(), reports.stream(), 64, 48, 2);
    ASSERT_TRUE(w.isOpen());
    memcpy(w.pixmap, vidtest::make_noise(size_t(w.pixmap_size), 3).data(), size_t(w.pixmap_size));
    unsigned long capacity = w.compressed_buffer_size;
    w.compressed_buffer_size = 100; // too small for any record of this frame
    EXPECT_FALSE(w.writeNextFrameToVideoFile());
    EXPECT_TRUE(contains(reports.text(w), "cannot compress current_frame 0"));
    EXPECT_EQ(w.current_frame, 0);
    EXPECT_EQ(w.offsets[1], w.offsets[0]);
    EXPECT_EQ(vidtest::read_file(path).size(), 8u + 2 * 8); // header and table only
    w.compressed_buffer_size = capacity;
    EXPECT_TRUE(w.writeNextFrameToVideoFile());
    EXPECT_EQ(w.current_frame, 1);
}

TEST(VidHeaderWriter, FailedSeekKeepsPositionAndTheNextAppendRetries)
{
    vidtest::TempDir dir;
    std::string path = dir.file("sk.vid");
    Reports reports;
    {
        VidHeader w(path.c_str(), reports.stream(), 8, 6, 2);
        ASSERT_TRUE(w.isOpen());
        memcpy(w.pixmap, vidtest::make_rgb_frame(8, 6, 0).data(), size_t(w.pixmap_size));
        int64_t record_start = w.offsets[0];
        w.offsets[0] = -1;
        EXPECT_FALSE(w.writeNextFrameToVideoFile());
        EXPECT_TRUE(
            contains(reports.text(w), "cannot seek to offset for current_frame 0 in video_file"));
        EXPECT_EQ(w.current_frame, 0);
        w.offsets[0] = record_start;
        EXPECT_TRUE(w.writeNextFrameToVideoFile());
    }
    VidHeader r(path.c_str(), nullptr);
    ASSERT_EQ(r.num_frames, 1);
    ASSERT_TRUE(r.readFrameFromVideoFile(0));
    EXPECT_EQ(pixmap_of(r), vidtest::make_rgb_frame(8, 6, 0));
}

TEST(VidHeaderWriter, FullDeviceIsRefusedAtCreation)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    // Header and table are written when the writer is created: a full device refuses them.
    Reports reports;
    VidHeader w("/dev/full", reports.stream(), 640, 480, 2);
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(w.videoFile, nullptr);
    EXPECT_TRUE(contains(reports.text(w), "/dev/full"));
    EXPECT_TRUE(contains(reports.text(w), "Unable to flush video file") ||
                contains(reports.text(w), "Unable to write header to video file"));
}

TEST(VidHeaderWriter, WriteOpenFailureLeavesNoBuffers)
{
    Reports reports;
    VidHeader w("/nonexistent-dir/x.vid", reports.stream(), 8, 6, 1);
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(w.pixmap, nullptr);
    EXPECT_EQ(w.offsets, nullptr);
    EXPECT_EQ(w.videoFile, nullptr);
    EXPECT_TRUE(contains(reports.text(w), " Unable to open following video file in  'wb' mode \r\n "
                                          "/nonexistent-dir/x.vid \r\n"));
}

// ---------------------------------------------------------------------------------------
// Reader

TEST(VidHeaderReader, RoundTripsOfSeveralSizesInAnyOrder)
{
    vidtest::TempDir dir;
    struct Case {
        int w, h, n;
        bool noise;
    } cases[] = {{64, 48, 1, false},
                 {320, 240, 4, false},
                 {300, 257, 3, true},
                 {640, 480, 2, true},
                 {1, 11, 2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        std::string path = dir.file("rt.vid");
        std::vector<Bytes> frames;
        for (int i = 0; i < c.n; i++)
            frames.push_back(c.noise ? vidtest::make_noise(size_t(c.w) * c.h * 3, uint32_t(i))
                                     : vidtest::make_rgb_frame(c.w, c.h, i));
        write_with_writer(path, c.w, c.h, c.n, frames);
        VidHeader r(path.c_str(), nullptr);
        ASSERT_TRUE(r.isOpen());
        ASSERT_EQ(r.num_frames, c.n);
        EXPECT_EQ(r.width, c.w);
        EXPECT_EQ(r.height, c.h);
        std::vector<int> order;
        for (int i = c.n - 1; i >= 0; i--)
            order.push_back(i);
        for (int i = 0; i < c.n; i += 2)
            order.push_back(i);
        for (int i : order) {
            ASSERT_TRUE(r.readFrameFromVideoFile(i));
            EXPECT_EQ(pixmap_of(r), frames[size_t(i)]) << "frame " << i;
        }
    }
}

TEST(VidHeaderReader, BayerFilesOfBothSampleWidthsAreDemosaiced)
{
    vidtest::TempDir dir;
    struct Case {
        int w, h, bytes;
    } cases[] = {{100, 60, 1}, {64, 48, 2}, {1600, 8, 2}, {30, 300, 2}, {6, 4, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " bytes " << c.bytes);
        vidtest::VidFile file = vidtest::make_bayer_vid(c.w, c.h, c.bytes, 3);
        std::string path = dir.file("b.vid");
        ASSERT_TRUE(vidtest::write_file(path, file.bytes));
        VidHeader r(path.c_str(), nullptr);
        ASSERT_TRUE(r.isOpen());
        EXPECT_EQ(r.vid_is_bayer_interpolated, 1);
        EXPECT_EQ(r.vid_uses_two_bytes_per_pixel, c.bytes == 2 ? 1 : 0);
        EXPECT_EQ(r.width, c.w);
        EXPECT_EQ(r.uncompressed_buffer_size, (unsigned long)(c.w * c.h * c.bytes));
        ASSERT_TRUE(r.frameBuffers());
        EXPECT_NE(r.uncompressed_buffer, r.pixmap);
        for (int i : {2, 0, 1}) {
            ASSERT_TRUE(r.readFrameFromVideoFile(i));
            Bytes mosaic = file.frames[size_t(i)];
            Bytes expected(size_t(c.w) * c.h * 3);
            bayer_interpolate_MT(mosaic.data(), expected.data(), unsigned(c.w), unsigned(c.h),
                                 c.bytes == 2 ? 1 : 0);
            EXPECT_EQ(pixmap_of(r), expected) << "frame " << i;
        }
    }
}

TEST(VidHeaderReader, WidthFieldDecoding)
{
    vidtest::TempDir dir;
    struct Case {
        uint16_t field;
        int32_t count;
        int width, two_bytes, bayer;
    } cases[] = {{0x9000 + 99, 0, 100, 0, 1},
                 {0x8FFF, 0, 36863, 1, 1},
                 {0x9000, 0, 1, 0, 1},
                 {0x9000 + 99, -1, 100, 0, 0},
                 {640, -5, 640, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        Bytes file =
            vidtest::assemble_vid(c.field, 7, c.count, {}, size_t(c.count < 0 ? -c.count : 0));
        std::string path = dir.file("w.vid");
        ASSERT_TRUE(vidtest::write_file(path, file));
        VidHeader r(path.c_str(), nullptr);
        ASSERT_TRUE(r.isOpen());
        EXPECT_EQ(r.width, c.width);
        EXPECT_EQ(r.height, 7);
        EXPECT_EQ(r.vid_uses_two_bytes_per_pixel, c.two_bytes);
        EXPECT_EQ(r.vid_is_bayer_interpolated, c.bayer);
        EXPECT_EQ(r.pixmap_size, c.width * 3 * 7);
        unsigned long expanded =
            c.bayer ? (unsigned long)(c.width * 7 * (c.two_bytes + 1)) : unsigned(r.pixmap_size);
        EXPECT_EQ(r.uncompressed_buffer_size, expanded);
    }
    // Header bytes 80 02 E0 01 FB FF FF FF: RGB, 640 x 480, five frames.
    Bytes file = {0x80, 0x02, 0xE0, 0x01, 0xFB, 0xFF, 0xFF, 0xFF};
    file.resize(8 + 5 * 8, 0);
    std::string path = dir.file("h.vid");
    ASSERT_TRUE(vidtest::write_file(path, file));
    VidHeader r(path.c_str(), nullptr);
    EXPECT_EQ(r.width, 640);
    EXPECT_EQ(r.height, 480);
    EXPECT_EQ(r.num_frames, 5);
    EXPECT_EQ(r.vid_is_bayer_interpolated, 0);
}

TEST(VidHeaderReader, OutOfRangeFrameNumbersLeavePixmapAlone)
{
    vidtest::TempDir dir;
    vidtest::VidFile file = vidtest::make_rgb_vid(16, 8, 3);
    std::string path = dir.file("o.vid");
    ASSERT_TRUE(vidtest::write_file(path, file.bytes));
    Reports reports;
    VidHeader r(path.c_str(), reports.stream());
    ASSERT_TRUE(r.readFrameFromVideoFile(1));
    EXPECT_FALSE(r.readFrameFromVideoFile(3));
    EXPECT_TRUE(contains(reports.text(r), " asked frameNumber 3 > num_frames 3\n"));
    EXPECT_FALSE(r.readFrameFromVideoFile(-1));
    EXPECT_TRUE(contains(reports.text(r), " asked frameNumber -1 > num_frames 3\n"));
    EXPECT_EQ(pixmap_of(r), file.frames[1]);
}

TEST(VidHeaderReader, ReadNextAdvancesOnlyOnSuccess)
{
    vidtest::TempDir dir;
    vidtest::VidFile file = vidtest::make_rgb_vid(16, 8, 2);
    std::string path = dir.file("n.vid");
    ASSERT_TRUE(vidtest::write_file(path, file.bytes));
    VidHeader r(path.c_str(), nullptr);
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(r.readNextFrameFromVideoFile());
        EXPECT_EQ(pixmap_of(r), file.frames[size_t(i)]);
    }
    EXPECT_EQ(r.current_frame, 2);
    EXPECT_FALSE(r.readNextFrameFromVideoFile());
    EXPECT_EQ(r.current_frame, 2);
}

TEST(VidHeaderReader, ZeroLengthRecordsReadAsBlackFrames)
{
    vidtest::TempDir dir;
    vidtest::VidFile file = vidtest::make_rgb_vid(16, 8, 3);
    // Frame 0 becomes zero-length: its entry equals entry 1.
    vidtest::set_table_entry(file.bytes, 0, vidtest::table_entry(file.bytes, 1));
    // Frame 2 (the last) too, by cutting the file at its start.
    file.bytes.resize(size_t(vidtest::table_entry(file.bytes, 2)));
    std::string path = dir.file("z.vid");
    ASSERT_TRUE(vidtest::write_file(path, file.bytes));
    VidHeader r(path.c_str(), nullptr);
    for (int i : {1, 0, 1, 2}) {
        ASSERT_TRUE(r.readFrameFromVideoFile(i));
        EXPECT_EQ(pixmap_of(r), i == 1 ? file.frames[1] : Bytes(16 * 8 * 3, 0)) << i;
    }
}

TEST(VidHeaderReader, BytesBehindTheLastWholeRecordAreATornRecordAndIgnored)
{
    // A writer killed inside a frame leaves part of a record behind the last whole one.
    vidtest::TempDir dir;
    vidtest::VidFile file = vidtest::make_rgb_vid(16, 8, 3);
    Bytes torn = vidtest::compress_record(vidtest::make_rgb_frame(16, 8, 9));
    for (size_t cut : {size_t(1), size_t(12), torn.size() - 1}) {
        SCOPED_TRACE(cut);
        Bytes bytes = file.bytes;
        bytes.insert(bytes.end(), torn.begin(), torn.begin() + long(cut));
        std::string path = dir.file("p.vid");
        ASSERT_TRUE(vidtest::write_file(path, bytes));
        VidHeader r(path.c_str(), nullptr);
        for (int k = 0; k < 3; k++) {
            ASSERT_TRUE(r.readFrameFromVideoFile(k));
            EXPECT_EQ(Bytes(r.pixmap, r.pixmap + r.pixmap_size), file.frames[size_t(k)]);
        }
    }
}

TEST(VidHeaderReader, OpeningFailuresLeaveRecognisableStates)
{
    vidtest::TempDir dir;
    {
        Reports reports;
        std::string path = dir.file("missing.vid");
        VidHeader r(path.c_str(), reports.stream());
        EXPECT_FALSE(r.isOpen());
        EXPECT_EQ(r.num_frames, 0);
        // Title line, then "VidHeader:<line> " and the text with the path.
        std::string text = reports.text(r);
        std::string head = "\n\n Framewise error\nVidHeader:";
        std::string tail =
            " Unable to open following video file in  'rb' mode \r\n " + path + " \r\n\n";
        ASSERT_GT(text.size(), head.size() + tail.size());
        EXPECT_EQ(text.substr(0, head.size()), head);
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
        std::string line = text.substr(head.size(), text.size() - head.size() - tail.size());
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(line.find_first_not_of("0123456789"), std::string::npos) << line;
        EXPECT_FALSE(r.readFrameFromVideoFile(0));
    }
    {
        Reports reports;
        std::string path = dir.file("short.vid");
        ASSERT_TRUE(vidtest::write_file(path, Bytes(5, 1)));
        VidHeader r(path.c_str(), reports.stream());
        EXPECT_FALSE(r.isOpen());
        EXPECT_EQ(r.num_frames, 0);
        EXPECT_EQ(r.videoFile, nullptr);
        EXPECT_TRUE(
            contains(reports.text(r), " Unable to read from video file \n " + path + " \n"));
    }
    {
        Reports reports;
        std::string path = dir.file("table.vid");
        vidtest::VidFile file = vidtest::make_rgb_vid(16, 8, 4);
        file.bytes.resize(8 + 8 * 2 + 5); // table cut inside entry 2
        ASSERT_TRUE(vidtest::write_file(path, file.bytes));
        VidHeader r(path.c_str(), reports.stream());
        EXPECT_FALSE(r.isOpen());
        EXPECT_EQ(r.num_frames, 4);
        EXPECT_EQ(r.pixmap, nullptr);
        EXPECT_EQ(r.offsets, nullptr);
        EXPECT_TRUE(contains(reports.text(r), " Error reading offsets to video file \n " + path));
        EXPECT_FALSE(r.readFrameFromVideoFile(0));
        EXPECT_TRUE(contains(reports.text(r), "video file is not open for reading"));
    }
}

TEST(VidHeaderReader, FrameReadFailuresAndWhatPixmapHolds)
{
    vidtest::TempDir dir;
    std::string path = dir.file("f.vid");
    vidtest::VidFile good = vidtest::make_rgb_vid(16, 8, 4);
    const Bytes black(16 * 8 * 3, 0);

    // Seek fails: a negative offset. pixmap keeps the previous frame.
    {
        Bytes bytes = good.bytes;
        vidtest::set_table_entry(bytes, 1, -16);
        ASSERT_TRUE(vidtest::write_file(path, bytes));
        Reports reports;
        VidHeader r(path.c_str(), reports.stream());
        ASSERT_TRUE(r.readFrameFromVideoFile(2));
        EXPECT_FALSE(r.readFrameFromVideoFile(1));
        EXPECT_TRUE(
            contains(reports.text(r),
                     " cannot seek to offset for frame_number 1 in video_file \n " + path + "\n"));
        EXPECT_EQ(pixmap_of(r), good.frames[2]);
    }
    // Record cannot be read whole: the file ends inside record 1.
    {
        Bytes bytes = good.bytes;
        bytes.resize(size_t(vidtest::table_entry(bytes, 1)) + 10);
        ASSERT_TRUE(vidtest::write_file(path, bytes));
        Reports reports;
        VidHeader r(path.c_str(), reports.stream());
        ASSERT_TRUE(r.readFrameFromVideoFile(0));
        EXPECT_FALSE(r.readFrameFromVideoFile(1));
        EXPECT_TRUE(contains(reports.text(r),
                             " cannot read frame_number 1 in video_file \n " + path + "\n"));
        EXPECT_EQ(pixmap_of(r), black);
    }
    // Expanded size differs: record 1 holds a frame of another size.
    {
        std::vector<Bytes> records;
        for (int i = 0; i < 3; i++)
            records.push_back(
                vidtest::compress_record(vidtest::make_rgb_frame(16, i == 1 ? 7 : 8, i)));
        ASSERT_TRUE(vidtest::write_file(path, vidtest::assemble_vid(16, 8, -3, records)));
        Reports reports;
        VidHeader r(path.c_str(), reports.stream());
        EXPECT_FALSE(r.readFrameFromVideoFile(1));
        EXPECT_TRUE(contains(reports.text(r), " error uncompressing frame_number 1 in video: \n"));
        EXPECT_TRUE(r.readFrameFromVideoFile(2));
    }
}

TEST(VidHeaderReader, CodecErrorWithMatchingSizeFailsTheFrame)
{
    vidtest::TempDir dir;
    std::string path = dir.file("c.vid");
    for (int bayer = 0; bayer < 2; bayer++) {
        SCOPED_TRACE(bayer ? "bayer" : "rgb");
        vidtest::VidFile file =
            bayer ? vidtest::make_bayer_vid(32, 16, 2, 2) : vidtest::make_rgb_vid(32, 16, 2);
        // Flip a byte inside the zlib stream of record 0: the header's sizes still match, so
        // the codec reports the full size and an error.
        size_t record0 = size_t(vidtest::table_entry(file.bytes, 0));
        file.bytes[record0 + 20 + 8] ^= 0x5A;
        ASSERT_TRUE(vidtest::write_file(path, file.bytes));
        Reports reports;
        VidHeader r(path.c_str(), reports.stream());
        EXPECT_FALSE(r.readFrameFromVideoFile(0));
        EXPECT_TRUE(contains(reports.text(r), "error uncompressing frame_number 0"));
        if (bayer) {
            EXPECT_EQ(pixmap_of(r), Bytes(size_t(r.pixmap_size), 0));
        }
        EXPECT_TRUE(r.readFrameFromVideoFile(1));
    }
}

TEST(VidHeaderReader, OneSampleWideOrHighBayerFramesAreRefusedSafely)
{
    vidtest::TempDir dir;
    std::string path = dir.file("thin.vid");
    struct Case {
        int w, h, bytes;
    } cases[] = {{1, 40, 2}, {40, 1, 2}, {1, 40, 1}, {40, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " bytes " << c.bytes);
        ASSERT_TRUE(vidtest::write_file(path, vidtest::make_bayer_vid(c.w, c.h, c.bytes, 1).bytes));
        Reports reports;
        VidHeader r(path.c_str(), reports.stream());
        ASSERT_TRUE(r.isOpen());
        EXPECT_FALSE(r.readFrameFromVideoFile(0));
        EXPECT_TRUE(contains(reports.text(r), "cannot demosaic frame_number 0"));
        EXPECT_EQ(pixmap_of(r), Bytes(size_t(r.pixmap_size), 0));
    }
}

TEST(VidHeaderReader, OverlongFileNameIsRefusedAndKeptTerminated)
{
    std::string name(6000, 'x');
    Reports reports;
    VidHeader r(name.c_str(), reports.stream());
    EXPECT_FALSE(r.isOpen());
    EXPECT_EQ(r.videoFile, nullptr);
    EXPECT_EQ(strlen(r.videoFileName), sizeof r.videoFileName - 1);
    EXPECT_TRUE(contains(reports.text(r), "video file name missing or longer than 4999 bytes"));

    VidHeader w(name.c_str(), reports.stream(), 8, 6, 1);
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(strlen(w.videoFileName), sizeof w.videoFileName - 1);
}

// The MATLAB handle is a byte copy of the object: every operation must work on the copy, and
// destroying the copy releases what the original had opened.
TEST(VidHeaderReader, ByteCopyOfAnOpenReaderWorksAndReleasesEverything)
{
    vidtest::TempDir dir;
    vidtest::VidFile file = vidtest::make_rgb_vid(16, 8, 3);
    std::string path = dir.file("copy.vid");
    ASSERT_TRUE(vidtest::write_file(path, file.bytes));
    void* original_storage = malloc(sizeof(VidHeader));
    void* copy_storage = malloc(sizeof(VidHeader));
    ASSERT_TRUE(original_storage && copy_storage);
    new (original_storage) VidHeader(path.c_str(), nullptr);
    memcpy(copy_storage, original_storage, sizeof(VidHeader));
    free(original_storage); // the original is dropped without its destructor
    VidHeader* copy = static_cast<VidHeader*>(copy_storage);
    for (int i : {2, 0, 1}) {
        ASSERT_TRUE(copy->readFrameFromVideoFile(i));
        EXPECT_EQ(pixmap_of(*copy), file.frames[size_t(i)]);
    }
    copy->~VidHeader();
    free(copy_storage);
}

// ---------------------------------------------------------------------------------------
// Image dumps

TEST(VidHeaderImages, PpmAndPgmHeadersAndBodies)
{
    vidtest::TempDir dir;
    VidHeader v;
    v.width = 2;
    v.height = 1;
    unsigned char rgb[6] = {1, 2, 3, 4, 5, 6};
    v.writePPMimage(dir.file("a.ppm").c_str(), rgb);
    Bytes expected = {'P', '6', '\n', '2', ' ', '1', '\n', '2', '5', '5', '\n', 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(vidtest::read_file(dir.file("a.ppm")), expected);
    v.writePGMimage(dir.file("a.pgm").c_str(), rgb);
    Bytes expected_pgm = {'P', '5', '\n', '2', ' ', '1', '\n', '2', '5', '5', '\n', 1, 2};
    EXPECT_EQ(vidtest::read_file(dir.file("a.pgm")), expected_pgm);
}

TEST(VidHeaderImages, UnwritableImageIsReportedOnce)
{
    Reports reports;
    VidHeader v;
    v.width = 2;
    v.height = 1;
    v.error_outfile = reports.stream();
    unsigned char rgb[6] = {};
    v.writePPMimage("/nonexistent-dir/a.ppm", rgb);
    EXPECT_TRUE(contains(reports.text(v),
                         " Unable to open file to write image \r\n /nonexistent-dir/a.ppm\n"));
    EXPECT_TRUE(contains(v.errMessage, "VidHeader:"));
}
