// Damaged VID files: every corruption of header, table or records ends in a report and a
// failed opening or a failed frame, never in a crash, an out-of-bounds access (run under
// ASan) or an allocation that the file does not justify.
//
// Array allocations are counted here: the array forms of operator new/delete are replaced
// by malloc/free, the largest request is recorded, and requests above kAllocationCap fail
// as if memory had run out, so that huge frames exercise the reader's allocation failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "VidHeader.h"
#include "errbox.h"
#include "vid_test_files.h"

using vidtest::Bytes;

namespace {
const size_t kAllocationCap = size_t(512) << 20;
size_t largest_array_request = 0;
size_t total_array_requests = 0;

void* counted_allocation(size_t size)
{
    if (size > largest_array_request)
        largest_array_request = size;
    total_array_requests += size;
    if (size > kAllocationCap)
        return nullptr;
    return malloc(size ? size : 1);
}
} // namespace

void* operator new[](size_t size)
{
    void* p = counted_allocation(size);
    if (p == nullptr)
        abort(); // the system's own code never uses the throwing form
    return p;
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return counted_allocation(size);
}
void operator delete[](void* p) noexcept
{
    free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    free(p);
}

namespace {

class Reports {
  public:
    Reports() : f_(tmpfile()) {}
    ~Reports() { fclose(f_); }
    FILE* stream() { return f_; }
    // Shows what v has not shown yet (as a program does) and gives the bytes shown so far.
    long size(VidHeader& v)
    {
        vid_show_report(v, f_);
        fflush(f_);
        return ftell(f_);
    }

  private:
    FILE* f_;
};

const int kWidth = 24, kHeight = 10, kFrames = 3;
const size_t kFrameBytes = size_t(kWidth) * kHeight * 3;

size_t record_start(const Bytes& f, size_t i)
{
    return size_t(vidtest::table_entry(f, i));
}

// Offset of field `at` inside the blocked-compress buffer of record i.
uint8_t* in_record(Bytes& f, size_t i, size_t at)
{
    return &f[record_start(f, i) + at];
}

enum Outcome { kOpenFails, kFramesFail };

struct Corruption {
    const char* name;
    void (*apply)(Bytes&);
    Outcome outcome;
    unsigned failing_frames; // bit i: frame i must fail; others must read back intact
};

const Corruption kCorruptions[] = {
    {"empty_file", [](Bytes& f) { f.clear(); }, kOpenFails, 0},
    {"header_of_7_bytes", [](Bytes& f) { f.resize(7); }, kOpenFails, 0},
    {"table_cut_inside_entry_1", [](Bytes& f) { f.resize(8 + 8 + 3); }, kOpenFails, 0},
    {"count_minus_2_31", [](Bytes& f) { vidtest::set_count_field(f, INT32_MIN); }, kOpenFails, 0},
    {"count_2_31_minus_1", [](Bytes& f) { vidtest::set_count_field(f, INT32_MAX); }, kOpenFails, 0},
    {"count_minus_2_30", [](Bytes& f) { vidtest::set_count_field(f, -(1 << 30)); }, kOpenFails, 0},
    {"table_one_entry_past_eof",
     [](Bytes& f) { vidtest::set_count_field(f, -int32_t((f.size() - 8) / 8 + 1)); }, kOpenFails,
     0},
    {"frame_of_2_31_bytes_or_more",
     [](Bytes& f) { put_le16(&f[0], 0xFFFF), put_le16(&f[2], 0xFFFF); }, kOpenFails, 0},
    {"frame_too_large_to_allocate", // 36863 x 19000 x 3 is below 2^31 but above the cap: the
                                    // file opens, and each read says it has no memory
     [](Bytes& f) { put_le16(&f[0], 0x8FFF), put_le16(&f[2], 19000); }, kFramesFail,
     (1u << kFrames) - 1},
    {"negative_record_length",
     [](Bytes& f) { vidtest::set_table_entry(f, 1, vidtest::table_entry(f, 0) - 1); }, kFramesFail,
     0x3},
    {"record_longer_than_record_buffer",
     [](Bytes& f) {
         vidtest::set_table_entry(f, 1, vidtest::table_entry(f, 0) + 2 * int64_t(kFrameBytes) + 1);
     },
     kFramesFail, 0x3},
    {"negative_offset", [](Bytes& f) { vidtest::set_table_entry(f, 0, -8); }, kFramesFail, 0x1},
    {"offset_int64_min", [](Bytes& f) { vidtest::set_table_entry(f, 1, INT64_MIN); }, kFramesFail,
     0x3},
    {"offset_int64_max", [](Bytes& f) { vidtest::set_table_entry(f, 1, INT64_MAX); }, kFramesFail,
     0x3},
    {"last_offset_past_eof",
     [](Bytes& f) { vidtest::set_table_entry(f, 2, int64_t(f.size()) + 100); }, kFramesFail, 0x6},
    {"record_truncated_at_end", [](Bytes& f) { f.resize(f.size() - 5); }, kFramesFail, 0x4},
    {"garbage_record",
     [](Bytes& f) {
         for (size_t i = record_start(f, 1); i < record_start(f, 2); i++)
             f[i] = 0xAB;
     },
     kFramesFail, 0x2},
    {"garbage_after_marker",
     [](Bytes& f) {
         for (size_t i = record_start(f, 1) + 8; i < record_start(f, 2); i++)
             f[i] = uint8_t(i * 37);
     },
     kFramesFail, 0x2},
    {"block_count_0", [](Bytes& f) { put_le32(in_record(f, 1, 8), 0); }, kFramesFail, 0x2},
    {"block_count_9", [](Bytes& f) { put_le32(in_record(f, 1, 8), 9); }, kFramesFail, 0x2},
    {"block_count_negative", [](Bytes& f) { put_le32(in_record(f, 1, 8), 0xFFFFFFFFu); },
     kFramesFail, 0x2},
    {"block_end_beyond_frame",
     [](Bytes& f) { put_le32(in_record(f, 1, 12), uint32_t(kFrameBytes + 1)); }, kFramesFail, 0x2},
    {"block_end_huge", [](Bytes& f) { put_le32(in_record(f, 1, 12), 0xFFFFFFF0u); }, kFramesFail,
     0x2},
    {"block_end_short", [](Bytes& f) { put_le32(in_record(f, 1, 12), 1); }, kFramesFail, 0x2},
    {"block_size_too_large", [](Bytes& f) { put_le32(in_record(f, 1, 16), 0x7FFFFFFF); },
     kFramesFail, 0x2},
    {"block_size_zero", [](Bytes& f) { put_le32(in_record(f, 1, 16), 0); }, kFramesFail, 0x2},
    {"record_of_3_bytes",
     [](Bytes& f) {
         size_t start = record_start(f, 1);
         f.erase(f.begin() + long(start + 3), f.begin() + long(record_start(f, 2)));
         vidtest::set_table_entry(f, 2, int64_t(start + 3));
     },
     kFramesFail, 0x2},
    {"record_of_10_bytes_with_marker",
     [](Bytes& f) {
         size_t start = record_start(f, 1);
         f.erase(f.begin() + long(start + 10), f.begin() + long(record_start(f, 2)));
         vidtest::set_table_entry(f, 2, int64_t(start + 10));
     },
     kFramesFail, 0x2},
};

// Largest array a reader of this (possibly damaged) file may ask for: its frame buffers
// (pixmap and a record buffer of twice the expanded frame) or a table that fits the file.
size_t allowed_allocation(const Bytes& file)
{
    size_t allowed = file.size();
    if (file.size() >= 8) {
        int width = get_le16(&file[0]);
        if (width > 0x8FFF)
            width -= 0x8FFF;
        size_t frame = size_t(width) * get_le16(&file[2]) * 3;
        allowed = std::max(allowed, 2 * frame);
    }
    return allowed;
}

} // namespace

TEST(VidDamaged, EveryCorruptionIsReportedWithoutCrashOrOversizedAllocation)
{
    vidtest::TempDir dir;
    std::string path = dir.file("damaged.vid");
    const vidtest::VidFile good = vidtest::make_rgb_vid(kWidth, kHeight, kFrames);
    for (const Corruption& c : kCorruptions) {
        SCOPED_TRACE(c.name);
        Bytes bytes = good.bytes;
        c.apply(bytes);
        ASSERT_TRUE(vidtest::write_file(path, bytes));
        Reports reports;
        largest_array_request = 0;
        VidHeader* r = new VidHeader(path.c_str(), reports.stream());
        EXPECT_LE(largest_array_request, allowed_allocation(bytes));
        if (c.outcome == kOpenFails) {
            EXPECT_FALSE(r->isOpen());
            EXPECT_GT(reports.size(*r), 0);
            EXPECT_NE(strstr(r->errMessage, "VidHeader:"), nullptr);
        } else {
            ASSERT_TRUE(r->isOpen());
            for (int i = 0; i < kFrames; i++) {
                SCOPED_TRACE(i);
                long before = reports.size(*r);
                bool read = r->readFrameFromVideoFile(i);
                if (c.failing_frames & (1u << i)) {
                    EXPECT_FALSE(read);
                    EXPECT_GT(reports.size(*r), before);
                } else {
                    EXPECT_TRUE(read);
                    EXPECT_EQ(Bytes(r->pixmap, r->pixmap + r->pixmap_size), good.frames[size_t(i)]);
                }
            }
        }
        delete r;
    }
}

TEST(VidDamaged, DamagedBayerRecordsLeaveBlackFrames)
{
    vidtest::TempDir dir;
    std::string path = dir.file("bayer.vid");
    for (int bytes_per_sample : {1, 2}) {
        SCOPED_TRACE(bytes_per_sample);
        vidtest::VidFile file = vidtest::make_bayer_vid(40, 20, bytes_per_sample, 2);
        // Record 0 expands to half a frame: a valid blocked-compress buffer of the wrong size.
        Bytes half(file.frames[0].begin(),
                   file.frames[0].begin() + long(file.frames[0].size() / 2));
        Bytes record = vidtest::compress_record(half);
        Bytes bytes = vidtest::assemble_vid(vidtest::width_field(40, bytes_per_sample == 1), 20, 2,
                                            {record, vidtest::compress_record(file.frames[1])});
        ASSERT_TRUE(vidtest::write_file(path, bytes));
        Reports reports;
        VidHeader r(path.c_str(), reports.stream());
        ASSERT_TRUE(r.readFrameFromVideoFile(1));
        EXPECT_FALSE(r.readFrameFromVideoFile(0));
        EXPECT_EQ(Bytes(r.pixmap, r.pixmap + r.pixmap_size), Bytes(40 * 20 * 3, 0));
    }
}

TEST(VidDamaged, LargeAnnouncedFrameInSmallFileOpensWithoutTheFrame)
{
    // Zero-length records are legal, so a small file may announce a large frame: it opens
    // with no frame-sized buffer (the record buffer is bounded by the file), and reads as
    // black with the frame itself the largest buffer.
    vidtest::TempDir dir;
    std::string path = dir.file("big.vid");
    Bytes bytes = vidtest::assemble_vid(2000, 1000, -2, {Bytes(), Bytes()});
    ASSERT_TRUE(vidtest::write_file(path, bytes));
    largest_array_request = 0;
    VidHeader r(path.c_str(), nullptr);
    ASSERT_TRUE(r.isOpen());
    EXPECT_LE(largest_array_request, bytes.size());
    ASSERT_TRUE(r.readFrameFromVideoFile(1));
    EXPECT_EQ(largest_array_request, size_t(2000) * 1000 * 3);
    EXPECT_EQ(r.pixmap[r.pixmap_size - 1], 0);
}

TEST(VidDamaged, WhatAFileCannotHoldIsNotAllocated)
{
    // Small files announcing large frames: nothing is sized beyond what the file can justify.
    // A file without frames gets nothing frame-sized; a Bayer file whose records are too short
    // to expand to a frame gets no expansion buffer; no record buffer exceeds the file.
    vidtest::TempDir dir;
    const int w = 2000, h = 1000;
    const struct {
        const char* name;
        Bytes bytes;
        size_t most; // total bytes of arrays the opening may ask for
    } cases[] = {
        {"no frames, RGB", vidtest::assemble_vid(uint16_t(w), h, 0, {}), 4096},
        {"no frames, one-byte Bayer", vidtest::assemble_vid(uint16_t(w + 0x8FFF), h, 0, {}), 4096},
        {"one empty Bayer record", vidtest::assemble_vid(uint16_t(w), h, 1, {Bytes()}),
         size_t(w) * h * 3 + 4096},
        {"one short Bayer record", vidtest::assemble_vid(uint16_t(w), h, 1, {Bytes(100, 1)}),
         size_t(w) * h * 3 + 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file("small.vid");
        ASSERT_TRUE(vidtest::write_file(path, c.bytes));
        total_array_requests = 0;
        Reports reports;
        VidHeader r(path.c_str(), reports.stream());
        ASSERT_TRUE(r.isOpen());
        EXPECT_LE(total_array_requests, c.most);
        EXPECT_LE(r.compressed_buffer_size, c.bytes.size());
        if (r.num_frames > 0) { // read as black, or refused with a reason: never a crash
            bool read = r.readFrameFromVideoFile(0);
            EXPECT_TRUE(read || reports.size(r) > 0);
            EXPECT_EQ(r.pixmap[r.pixmap_size / 2], 0);
        }
    }
}
