// A codec worker that cannot be started: the start is reported with the worker's index,
// the other workers still run and are joined, and the call fails with 1. Worker starts are
// made to fail by wrapping pthread_create at link time.
#include "codec_test_data.h"
#include "compress_uncompress_MT.h"

#include <gtest/gtest.h>

#include "thread_start_wrap.h"

#include <cerrno>
#include <string>
#include <vector>

namespace {

void expect_start_report(const std::string& err, int worker, const char* procedure)
{
    EXPECT_EQ(err.rfind("ERROR *** Unable to create a new thread : ", 0), 0u) << err;
    EXPECT_NE(err.find(" threadid " + std::to_string(worker) + ", compress_uncompress_MT.cpp:"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find(std::string("The procedure '") + procedure +
                       "' did not complete successfully. \n"),
              std::string::npos)
        << err;
}

TEST(CodecThreadFailure, CompressFailsWhenAnyWorkerCannotStart)
{
    std::vector<uint8_t> input = codec_test::random_bytes(300000, 4); // 4 blocks
    for (int failed = 1; failed < 3; failed++) {                      // worker 0 runs on the caller
        SCOPED_TRACE(failed);
        std::vector<uint8_t> dest(2 * input.size());
        unsigned long size = dest.size();
        vidtest::thread_starts = 0;
        vidtest::refused_start = failed - 1;
        testing::internal::CaptureStderr();
        int rc = compress_MT_on_cores(dest.data(), size, input.data(), input.size(), 3);
        std::string err = testing::internal::GetCapturedStderr();
        vidtest::refused_start = -1;
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(size, dest.size());
        expect_start_report(err, failed, "compress_MT");
    }
}

TEST(CodecThreadFailure, UncompressFailsButOtherWorkersFillTheirRanges)
{
    std::vector<uint8_t> input = codec_test::random_bytes(300000, 5); // 4 blocks of 75000
    std::vector<uint8_t> packed = codec_test::reference_blocked_compress(input);
    // Worker 0 (blocks 0-1) runs on the caller; worker 1 (blocks 2-3) cannot start.
    std::vector<uint8_t> out(input.size(), 0);
    unsigned char* dest = out.data();
    unsigned long size = out.size();
    vidtest::thread_starts = 0;
    vidtest::refused_start = 0;
    testing::internal::CaptureStderr();
    int rc = uncompress_MT_on_cores(dest, size, packed.data(), packed.size(), 2);
    std::string err = testing::internal::GetCapturedStderr();
    vidtest::refused_start = -1;
    EXPECT_EQ(rc, 1);
    expect_start_report(err, 1, "uncompress_MT");
    const size_t half = input.size() / 2;
    EXPECT_TRUE(std::equal(input.begin(), input.begin() + half, out.begin()));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + half, out.end()), std::vector<uint8_t>(half, 0));
}

} // namespace
