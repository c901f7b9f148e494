// Tests of the block codec: format bytes, cut rule, worker counts, refusal of malformed
// input, destination bounds, plain zlib streams, and the libdeflate block path.
#include "codec_test_data.h"
#include "compress_uncompress_MT.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace codec_test;

namespace {

// compress_MT into a destination of exactly `capacity` bytes (so a sanitizer build sees any
// write past it); returns the blocked-compress buffer, empty on failure.
std::vector<uint8_t> compress_with(const std::vector<uint8_t>& input, int cores,
                                   size_t capacity = 0, int* result = nullptr)
{
    if (capacity == 0)
        capacity = 2 * input.size() + 100;
    std::vector<uint8_t> dest(capacity);
    unsigned long size = capacity;
    int rc = compress_MT_on_cores(dest.data(), size, const_cast<uint8_t*>(input.data()),
                                  input.size(), cores);
    if (result)
        *result = rc;
    if (rc != 0) {
        EXPECT_EQ(size, capacity) << "a failed compress_MT keeps the capacity";
        return {};
    }
    dest.resize(size);
    return dest;
}

struct Expanded {
    int result;
    unsigned long size;
    std::vector<uint8_t> bytes;
};

// uncompress_MT with a caller's buffer of `room` bytes, prefilled with `fill`.
Expanded expand_into(std::vector<uint8_t> input, size_t room, int cores = 2, uint8_t fill = 0xA5)
{
    Expanded e;
    e.bytes.assign(room, fill);
    e.size = room;
    unsigned char* out = e.bytes.data();
    e.result = uncompress_MT_on_cores(out, e.size, input.data(), input.size(), cores);
    EXPECT_EQ(out, e.bytes.data()) << "a caller's buffer is never replaced";
    return e;
}

// uncompress_MT with a null output pointer: the codec allocates.
Expanded expand_allocating(std::vector<uint8_t> input, int cores = 2)
{
    Expanded e;
    unsigned char* out = nullptr;
    e.size = 0;
    e.result = uncompress_MT_on_cores(out, e.size, input.data(), input.size(), cores);
    if (out) {
        e.bytes.assign(out, out + e.size);
        delete[] out;
    }
    return e;
}

std::vector<uint8_t> input_of_size(size_t size, uint32_t seed)
{
    // Random bytes with every other 4 KiB replaced by a repeated 16-byte pattern: some of it
    // compresses, and level 9 stays quick on it.
    std::vector<uint8_t> v = random_bytes(size, seed);
    for (size_t i = 4096; i < size; i += 8192)
        for (size_t k = i; k < i + 4096 && k < size; k++)
            v[k] = uint8_t(seed + k % 16);
    return v;
}

} // namespace

TEST(CompressMT, MatchesIndependentPerBlockConstructionAroundTheCutBoundaries)
{
    const size_t sizes[] = {1,      100,    76799,  76800,  76801, 153600,
                            153601, 614399, 614400, 614401, 921600};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> input = input_of_size(size, uint32_t(size));
        std::vector<uint8_t> packed = compress_with(input, 2);
        ASSERT_FALSE(packed.empty());
        EXPECT_EQ(packed, reference_blocked_compress(input));
        Expanded e = expand_into(packed, size);
        EXPECT_EQ(e.result, 0);
        EXPECT_EQ(e.size, size);
        EXPECT_TRUE(e.bytes == input);
    }
}

TEST(CompressMT, CutsBlocksByTheDocumentedRule)
{
    struct Case {
        size_t size;
        std::vector<uint32_t> ends;
    };
    const Case cases[] = {
        {76800, {76800}},
        {76801, {38401, 76801}},
        {614400, {76800, 153600, 230400, 307200, 384000, 460800, 537600, 614400}},
        {614401, {76801, 153602, 230403, 307204, 384005, 460806, 537607, 614401}},
        {921600, {115200, 230400, 345600, 460800, 576000, 691200, 806400, 921600}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<uint8_t> packed = compress_with(input_of_size(c.size, 7), 3);
        ASSERT_GE(packed.size(), 12u);
        const size_t n = c.ends.size();
        EXPECT_EQ(get32(packed, 8), n);
        uint64_t streams = 0;
        for (size_t i = 0; i < n; i++) {
            EXPECT_EQ(get32(packed, 12 + 4 * i), c.ends[i]);
            uint32_t len = get32(packed, 12 + 4 * n + 4 * i);
            size_t at = 12 + 8 * n + streams;
            ASSERT_LT(at + 1, packed.size());
            EXPECT_EQ(packed[at], 0x78);
            EXPECT_EQ(packed[at + 1], 0xDA) << "level-9 zlib stream";
            streams += len;
        }
        EXPECT_EQ(packed.size(), 12 + 8 * n + streams);
    }
}

TEST(CompressMT, WorkedHeaderOfAHundredBytes)
{
    std::vector<uint8_t> input = random_bytes(100, 1);
    std::vector<uint8_t> packed = compress_with(input, 4);
    const uint8_t head[16] = {0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18,
                              1,    0,    0,    0,    100,  0,    0,    0};
    ASSERT_GT(packed.size(), 20u);
    EXPECT_EQ(0, memcmp(packed.data(), head, 16));
    EXPECT_EQ(get32(packed, 16), packed.size() - 20);
    EXPECT_EQ(std::vector<uint8_t>(packed.begin() + 20, packed.end()),
              zlib_level9(input.data(), input.size()));
}

TEST(CompressMT, SameBytesForEveryWorkerCount)
{
    const size_t sizes[] = {76801, 230401, 921600};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> input = input_of_size(size, 99);
        std::vector<uint8_t> one = compress_with(input, 1);
        ASSERT_FALSE(one.empty());
        for (int cores : {-3, 0, 2, 3, 4, 5, 6, 7, 8, 9, 16}) {
            SCOPED_TRACE(cores);
            EXPECT_TRUE(compress_with(input, cores) == one);
            Expanded e = expand_into(one, size, cores);
            EXPECT_EQ(e.result, 0);
            EXPECT_TRUE(e.bytes == input);
        }
    }
}

TEST(CompressMT, RoundTripsRandomSizesAndPhotoFrames)
{
    std::mt19937 rng(2024);
    for (int k = 0; k < 12; k++) {
        size_t size = 1 + rng() % 700000;
        SCOPED_TRACE(size);
        std::vector<uint8_t> input = k % 3 == 0 ? random_bytes(size, k) : input_of_size(size, k);
        std::vector<uint8_t> packed = compress_with(input, 1 + k % 5);
        ASSERT_FALSE(packed.empty());
        Expanded e = expand_allocating(packed, 1 + k % 7);
        EXPECT_EQ(e.result, 0);
        EXPECT_TRUE(e.bytes == input);
    }
    std::vector<uint8_t> frame = photo_like_frame(640, 480, 5);
    std::vector<uint8_t> packed = compress_with(frame, 2);
    EXPECT_LT(packed.size(), frame.size());
    Expanded e = expand_allocating(packed);
    EXPECT_EQ(e.result, 0);
    EXPECT_TRUE(e.bytes == frame);
}

TEST(CompressMT, EmptyInputIsOneEmptyBlockThatRoundTrips)
{
    std::vector<uint8_t> empty;
    std::vector<uint8_t> packed = compress_with(empty, 2, 64);
    ASSERT_EQ(packed.size(), 20u + zlib_level9(nullptr, 0).size());
    EXPECT_EQ(get32(packed, 8), 1u);
    EXPECT_EQ(get32(packed, 12), 0u);
    Expanded e = expand_allocating(packed);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.size, 0u);
    unsigned char byte = 0x11;
    unsigned char* out = &byte;
    unsigned long size = 0;
    EXPECT_EQ(uncompress_MT(out, size, packed.data(), packed.size()), 0);
    EXPECT_EQ(byte, 0x11);
}

TEST(CompressMT, NeverWritesPastASmallDestination)
{
    // Every capacity from nothing up to what the blocks need: each call either fails with 1
    // or produces the right bytes, and never writes past the destination (the destination
    // is exactly `capacity` bytes, which AddressSanitizer watches; the release build checks
    // a guard area behind it).
    std::vector<uint8_t> input = input_of_size(160000, 3); // 3 blocks
    std::vector<uint8_t> reference = reference_blocked_compress(input);
    std::vector<size_t> capacities;
    for (size_t c = 0; c < 80; c++)
        capacities.push_back(c);
    for (size_t c = reference.size() - 40; c < reference.size() + 1500; c += 11)
        capacities.push_back(c);
    capacities.push_back(reference.size() * 2);
    int failures = 0, successes = 0;
    for (size_t capacity : capacities) {
        SCOPED_TRACE(capacity);
        std::vector<uint8_t> dest(capacity + 64, 0xEE);
        unsigned long size = capacity;
        testing::internal::CaptureStderr();
        int rc = compress_MT_on_cores(capacity ? dest.data() : reinterpret_cast<uint8_t*>(&size),
                                      size, input.data(), input.size(), 2);
        std::string err = testing::internal::GetCapturedStderr();
        if (capacity == 0) {
            EXPECT_EQ(rc, 1);
            continue;
        }
        for (size_t i = capacity; i < dest.size(); i++)
            ASSERT_EQ(dest[i], 0xEE) << "byte " << i << " past the destination was written";
        if (rc == 0) {
            successes++;
            EXPECT_TRUE(std::vector<uint8_t>(dest.begin(), dest.begin() + size) == reference);
        } else {
            failures++;
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(size, capacity);
            EXPECT_FALSE(err.empty());
            if (capacity >= 36) {
                EXPECT_NE(err.find("The procedure 'compress_MT' did not complete successfully. "
                                   "\nThe destination buffer might be of insufficient size.\n"),
                          std::string::npos)
                    << err;
                EXPECT_EQ(0, memcmp(dest.data(), reference.data(), 12)) << "marker and count";
            }
        }
    }
    EXPECT_GT(failures, 0);
    EXPECT_GT(successes, 0);
}

TEST(CompressMT, RefusesInputsTheFormatCannotDescribe)
{
    std::vector<uint8_t> dest(64, 0xEE);
    std::vector<uint8_t> input(16, 1);
    unsigned long size = dest.size();
    testing::internal::CaptureStderr();
    if (sizeof(unsigned long) > 4) {
        // Refused from the size alone, before the input is read.
        EXPECT_EQ(compress_MT(dest.data(), size, input.data(), (unsigned long)(uint64_t(1) << 32)),
                  1);
        EXPECT_EQ(size, dest.size());
    }
    EXPECT_EQ(compress_MT(nullptr, size, input.data(), input.size()), 1);
    EXPECT_EQ(compress_MT(dest.data(), size, nullptr, input.size()), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(dest, std::vector<uint8_t>(64, 0xEE));
}

TEST(WorkerRange, TakesRunsOfNeighbouringBlocks)
{
    struct Case {
        unsigned n, threads;
        std::vector<std::pair<unsigned, unsigned>> ranges;
    };
    const Case cases[] = {
        {8, 3, {{0, 3}, {3, 6}, {6, 8}}},
        {8, 6, {{0, 2}, {2, 4}, {4, 6}, {6, 8}, {8, 8}, {10, 8}}},
        {8, 8, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 8}}},
        {2, 2, {{0, 1}, {1, 2}}},
        {1, 1, {{0, 1}}},
    };
    for (const Case& c : cases) {
        for (unsigned id = 0; id < c.threads; id++) {
            Compress_MT_datastruct record;
            record.init_thread_data(id, c.threads, c.n, nullptr, nullptr, nullptr, nullptr,
                                    nullptr);
            EXPECT_EQ(record.start_block, c.ranges[id].first) << c.n << "/" << c.threads;
            EXPECT_EQ(record.end_block, c.ranges[id].second) << c.n << "/" << c.threads;
            EXPECT_EQ(record.work_done, 0u);
        }
    }
}

TEST(UncompressMT, EightBlocksOnSixWorkersWithTwoIdle)
{
    std::vector<uint8_t> input = input_of_size(614400, 11);
    std::vector<uint8_t> packed = compress_with(input, 6);
    Expanded e = expand_into(packed, input.size(), 6);
    EXPECT_EQ(e.result, 0);
    EXPECT_TRUE(e.bytes == input);
}

TEST(UncompressMT, CallerBufferOneByteShortIsRefusedUntouched)
{
    std::vector<uint8_t> input = input_of_size(100000, 4);
    std::vector<uint8_t> packed = compress_with(input, 2);
    Expanded e = expand_into(packed, input.size() - 1);
    EXPECT_EQ(e.result, Z_BUF_ERROR);
    EXPECT_EQ(e.size, input.size());
    EXPECT_EQ(e.bytes, std::vector<uint8_t>(input.size() - 1, 0xA5));
    // A larger buffer is fine and keeps its tail.
    Expanded big = expand_into(packed, input.size() + 10);
    EXPECT_EQ(big.result, 0);
    EXPECT_EQ(big.size, input.size());
    EXPECT_EQ(big.bytes[input.size()], 0xA5);
}

TEST(UncompressMT, LengthMismatchIsRefusedBeforeAnythingIsAllocated)
{
    std::vector<uint8_t> input = input_of_size(90000, 8);
    std::vector<uint8_t> packed = compress_with(input, 2);
    for (int delta : {-1, +1}) {
        SCOPED_TRACE(delta);
        std::vector<uint8_t> bad = packed;
        bad.resize(packed.size() + delta, 0);
        testing::internal::CaptureStderr();
        unsigned char* out = nullptr;
        unsigned long size = 0;
        int rc = uncompress_MT(out, size, bad.data(), bad.size());
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, VID_CODEC_DATA_ERROR);
        EXPECT_EQ(out, nullptr) << "nothing is allocated for a header that does not check out";
        delete[] out;
        std::string expected = "Mismatch in compressed sizes " + std::to_string(packed.size()) +
                               " vs. " + std::to_string(bad.size());
        EXPECT_NE(err.find(expected), std::string::npos) << err;
        EXPECT_EQ(err.back(), char(expected.back())) << "no line end after the report";
        EXPECT_EQ(err.compare(0, 27, "compress_uncompress_MT.cpp:"), 0) << err;
    }
}

namespace {
struct Corruption {
    const char* name;
    void (*apply)(std::vector<uint8_t>&);
};

// packed is a 3-block buffer of 160000 bytes; header 36 bytes.
const Corruption kCorruptions[] = {
    {"marker_only", [](std::vector<uint8_t>& b) { b.resize(8); }},
    {"eleven_bytes", [](std::vector<uint8_t>& b) { b.resize(11); }},
    {"header_cut", [](std::vector<uint8_t>& b) { b.resize(30); }},
    {"zero_blocks", [](std::vector<uint8_t>& b) { put32(b, 8, 0); }},
    {"nine_blocks", [](std::vector<uint8_t>& b) { put32(b, 8, 9); }},
    {"negative_blocks", [](std::vector<uint8_t>& b) { put32(b, 8, 0xFFFFFFFFu); }},
    {"huge_blocks", [](std::vector<uint8_t>& b) { put32(b, 8, 0x20000000u); }},
    {"count_beyond_input",
     [](std::vector<uint8_t>& b) {
         put32(b, 8, 8);
         b.resize(60);
     }},
    {"first_end_zero", [](std::vector<uint8_t>& b) { put32(b, 12, 0); }},
    {"equal_ends", [](std::vector<uint8_t>& b) { put32(b, 16, get32(b, 12)); }},
    {"falling_ends", [](std::vector<uint8_t>& b) { put32(b, 20, get32(b, 12) - 1); }},
    {"sizes_wrap_to_length",
     [](std::vector<uint8_t>& b) {
         // 32-bit sum equal to the real length: only a wide sum sees the lie.
         put32(b, 24, get32(b, 24) + 0x80000000u);
         put32(b, 28, get32(b, 28) + 0x80000000u);
     }},
    {"sizes_shifted",
     [](std::vector<uint8_t>& b) {
         // Same total, wrong split: block streams are misaligned, zlib refuses them.
         put32(b, 24, get32(b, 24) + 5);
         put32(b, 28, get32(b, 28) - 5);
     }},
    {"stream_byte_flipped", [](std::vector<uint8_t>& b) { b[b.size() / 2] ^= 0x55; }},
    {"adler_flipped", [](std::vector<uint8_t>& b) { b.back() ^= 1; }},
};
} // namespace

TEST(UncompressMT, RefusesEveryMalformedBlockedBuffer)
{
    std::vector<uint8_t> input = input_of_size(160000, 21);
    std::vector<uint8_t> packed = compress_with(input, 2);
    ASSERT_EQ(get32(packed, 8), 3u);
    for (const Corruption& c : kCorruptions) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bad = packed;
        c.apply(bad);
        testing::internal::CaptureStderr();
        Expanded into = expand_into(bad, input.size());
        Expanded alloc = expand_allocating(bad);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(into.result, 0);
        EXPECT_NE(alloc.result, 0);
        EXPECT_FALSE(err.empty()) << "every refusal is reported";
        EXPECT_LE(alloc.bytes.size(), size_t(0xFFFFFFFFu));
    }
}

TEST(UncompressMT, DamagedBlockFailsWithReportWhileOtherBlocksExpand)
{
    std::vector<uint8_t> input = input_of_size(8 * 20000, 31);
    std::vector<uint8_t> packed = compress_with(input, 2);
    const size_t n = get32(packed, 8);
    ASSERT_EQ(n, 3u);
    // Damage the deflate data of the last block only.
    size_t last_start = packed.size() - get32(packed, 12 + 4 * n + 4 * (n - 1));
    packed[last_start + 10] ^= 0xFF;
    packed[last_start + 11] ^= 0xFF;
    testing::internal::CaptureStderr();
    Expanded e = expand_into(packed, input.size());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(e.result, 1);
    EXPECT_NE(err.find("The procedure 'uncompress_MT' did not complete successfully. \n"),
              std::string::npos);
    uint32_t first_two = get32(packed, 16);
    EXPECT_TRUE(std::equal(input.begin(), input.begin() + first_two, e.bytes.begin()));
}

TEST(UncompressMT, BlockWhoseStreamEndsEarlyFailsTheBuffer)
{
    // A stream that ends before filling its block would leave stale bytes in the output (a
    // reused frame buffer): the buffer is damaged. So is a block announcing more than deflate
    // can produce from its stream, which is refused before anything is allocated.
    std::vector<uint8_t> a = random_bytes(5000, 1), b = input_of_size(7000, 2);
    std::vector<uint8_t> za = zlib_level9(a.data(), a.size()), zb = zlib_level9(b.data(), b.size());
    const struct {
        const char* name;
        std::vector<uint8_t> packed;
        const char* report;
    } cases[] = {
        {"block 0 claims 9000 of 5000", pack_blocks({9000, 16000}, {za, zb}),
         "Block 0 expands to 5000 bytes, not the 9000 its header announces"},
        {"block 1 claims 9000 of 7000", pack_blocks({5000, 14000}, {za, zb}),
         "Block 1 expands to 7000 bytes, not the 9000 its header announces"},
        {"beyond deflate's ratio", pack_blocks({5000, 40000000}, {za, zb}),
         "more than deflate can produce"},
    };
    for (const auto& c : cases) {
        for (int cores : {1, 2}) {
            SCOPED_TRACE(std::string(c.name) + ", cores " + std::to_string(cores));
            testing::internal::CaptureStderr();
            unsigned char* out = nullptr;
            unsigned long size = 0;
            int rc = uncompress_MT_on_cores(out, size, const_cast<uint8_t*>(c.packed.data()),
                                            c.packed.size(), cores);
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(rc, VID_CODEC_DATA_ERROR);
            EXPECT_NE(err.find(c.report), std::string::npos) << err;
            delete[] out;
        }
    }
}

TEST(UncompressMT, PlainZlibStreamGoesThroughZlib)
{
    std::vector<uint8_t> input = input_of_size(50000, 5);
    std::vector<uint8_t> plain = zlib_level9(input.data(), input.size());
    Expanded e = expand_into(plain, 60000);
    EXPECT_EQ(e.result, Z_OK);
    EXPECT_EQ(e.size, input.size());
    EXPECT_TRUE(std::equal(input.begin(), input.end(), e.bytes.begin()));

    EXPECT_EQ(expand_into(plain, 1000).result, Z_BUF_ERROR);
    std::vector<uint8_t> damaged = plain;
    damaged[2] ^= 0xFF;
    EXPECT_EQ(expand_into(damaged, 60000).result, Z_DATA_ERROR);
    EXPECT_EQ(expand_into(std::vector<uint8_t>{0x81, 0x72, 0x63}, 10).result, Z_DATA_ERROR);

    for (unsigned long size : {0ul, 60000ul}) {
        unsigned char* out = nullptr;
        unsigned long s = size;
        EXPECT_EQ(uncompress_MT(out, s, plain.data(), plain.size()), Z_STREAM_ERROR);
        EXPECT_EQ(out, nullptr) << "nothing is allocated for a plain stream";
        EXPECT_EQ(s, size);
    }
}

TEST(UncompressBlock, AgreesWithZlibOnDamagedAndShortStreams)
{
    std::vector<uint8_t> input = photo_like_frame(64, 48, 3);
    std::vector<uint8_t> stream = zlib_level9(input.data(), input.size());
    std::mt19937 rng(77);
    int libdeflate_failures = 0;
    for (int k = 0; k < 400; k++) {
        std::vector<uint8_t> s = stream;
        switch (k % 4) {
        case 0:
            s[rng() % s.size()] ^= uint8_t(1 + rng() % 255);
            break;
        case 1:
            s.resize(rng() % s.size());
            break;
        case 2:
            s[2 + rng() % 40] ^= uint8_t(1 << rng() % 8);
            break;
        case 3:
            break;
        }
        unsigned long room = k % 3 == 0 ? input.size() : k % 3 == 1 ? input.size() + 77 : 5000;
        std::vector<uint8_t> ours(room, 0x5A), theirs(room, 0x5A);
        unsigned long our_len = room, their_len = room;
        int our_rc = uncompress_block(ours.data(), our_len, s.data(), s.size());
        int their_rc = uncompress(theirs.data(), &their_len, s.data(), s.size());
        ASSERT_EQ(our_rc, their_rc) << k;
        ASSERT_EQ(our_len, their_len) << k;
        ASSERT_TRUE(ours == theirs) << k;
        libdeflate_failures += our_rc != Z_OK;
    }
    EXPECT_GT(libdeflate_failures, 100);
}

TEST(CodecConcurrency, SeveralCallersAtOnce)
{
    std::vector<uint8_t> input = input_of_size(400000, 13);
    std::vector<uint8_t> reference = reference_blocked_compress(input);
    std::vector<int> ok(4, 0);
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; t++)
        callers.emplace_back([&, t] {
            std::vector<uint8_t> dest(input.size() * 2);
            unsigned long size = dest.size();
            if (compress_MT_on_cores(dest.data(), size, input.data(), input.size(), 3) != 0)
                return;
            dest.resize(size);
            unsigned char* out = nullptr;
            unsigned long out_size = 0;
            int rc = uncompress_MT_on_cores(out, out_size, dest.data(), dest.size(), 5);
            ok[t] = rc == 0 && dest == reference && out_size == input.size() &&
                    std::equal(input.begin(), input.end(), out);
            delete[] out;
        });
    for (std::thread& c : callers)
        c.join();
    EXPECT_EQ(ok, std::vector<int>(4, 1));
}

TEST(UncompressBlock, LibdeflateLeniencyIsLimitedToStreamsThatPassTheirChecksum)
{
    // A fixed-code stream whose final length symbol was damaged from 285 into 286 (a bit
    // flip found by the differential fuzzer). zlib calls it invalid; libdeflate decodes 286
    // as length 258, so the output is unchanged and passes the Adler-32 trailer.
    const std::vector<uint8_t> stream = {0x78, 0x5e, 0xbb, 0xf5, 0x76, 0x76, 0xf7, 0x38,
                                         0x20, 0x1e, 0x00, 0x00, 0x3f, 0xb3, 0xa5, 0xd2};
    std::vector<uint8_t> theirs(1000, 0x5A), ours(1000, 0x5A);
    uLongf their_len = theirs.size();
    unsigned long our_len = ours.size();
    EXPECT_EQ(uncompress(theirs.data(), &their_len, stream.data(), stream.size()), Z_DATA_ERROR);
    int rc = uncompress_block(ours.data(), our_len, stream.data(), stream.size());
    if (!uncompress_block_uses_libdeflate()) {
        EXPECT_EQ(rc, Z_DATA_ERROR);
        EXPECT_EQ(ours, theirs);
        return;
    }
    ASSERT_EQ(rc, Z_OK);
    ASSERT_EQ(our_len, 304u);
    EXPECT_EQ(adler32(1, ours.data(), uInt(our_len)), 0x3fb3a5d2u);
    EXPECT_TRUE(std::equal(theirs.begin(), theirs.begin() + their_len, ours.begin()))
        << "zlib's partial output is a prefix of libdeflate's";
    EXPECT_EQ(std::vector<uint8_t>(ours.begin() + our_len, ours.end()),
              std::vector<uint8_t>(ours.size() - our_len, 0x5A));
}

namespace {

// What a notified caller saw: each range told, and whether its bytes were final when told.
struct Told {
    std::mutex lock;
    const std::vector<uint8_t>* input = nullptr;
    std::vector<uint8_t> output;
    std::vector<std::pair<unsigned long, unsigned long>> ranges;
    bool all_final = true;
    int result = 0;

    static void ready(void* context, unsigned long begin, unsigned long end)
    {
        Told* t = static_cast<Told*>(context);
        bool final = std::equal(t->output.begin() + long(begin), t->output.begin() + long(end),
                                t->input->begin() + long(begin));
        std::lock_guard<std::mutex> hold(t->lock);
        t->ranges.emplace_back(begin, end);
        t->all_final = t->all_final && final;
    }

    // Expands packed on `cores` workers into a fresh output, taking notice of the runs.
    Told(const std::vector<uint8_t>& in, std::vector<uint8_t>& packed, int cores)
        : input(&in), output(in.size())
    {
        VidExpandedBytes notify{&Told::ready, this};
        unsigned char* dest = output.data();
        unsigned long size = output.size();
        result = uncompress_MT_on_cores(dest, size, packed.data(), packed.size(), cores, &notify);
        std::sort(ranges.begin(), ranges.end());
    }
};

} // namespace

// Each worker tells its run once, with final bytes; together the runs tile the output. A
// worker whose block is damaged tells nothing.
TEST(UncompressMT, NotifiesEachWorkersFinalBytes)
{
    std::vector<uint8_t> input = input_of_size(8 * 20000 + 77, 5);
    std::vector<uint8_t> packed = compress_with(input, 2);
    const unsigned long n = get32(packed, 8);
    for (int cores : {1, 2, 3, 8}) {
        SCOPED_TRACE(cores);
        Told told(input, packed, cores);
        ASSERT_EQ(told.result, 0);
        EXPECT_EQ(told.ranges.size(), std::min<unsigned long>(n, cores));
        EXPECT_TRUE(told.all_final);
        unsigned long covered = 0;
        for (auto r : told.ranges) {
            EXPECT_EQ(r.first, covered);
            covered = r.second;
        }
        EXPECT_EQ(covered, input.size());
    }
    const size_t last_start = packed.size() - get32(packed, 12 + 4 * n + 4 * (n - 1));
    packed[last_start + 10] ^= 0xFF;
    testing::internal::CaptureStderr();
    Told told(input, packed, int(n));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(told.result, 1);
    EXPECT_EQ(told.ranges.size(), n - 1);
    EXPECT_TRUE(told.all_final);
}
