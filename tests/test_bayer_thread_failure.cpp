// A demosaic worker that cannot be started: its slice keeps its former bytes, the report
// names the worker, and every other slice is still demosaiced. Worker starts are made to
// fail by wrapping pthread_create at link time.
#include <gtest/gtest.h>

#include "threading.h"
#include "thread_start_wrap.h"

#include <cerrno>
#include <vector>

#include "bayer_interpolate_MT.h"
#include "compress_uncompress_MT.h"
#include "demosaic_images.h"
#include "demosaic_reference.h"

namespace {

TEST(BayerInterpolateMT, UnstartedWorkerLeavesItsSliceAndReports)
{
    const unsigned w = 64, h = 600; // up to 4 workers
    const unsigned num = bayer_num_threads(h, get_num_processing_cores());
    std::vector<unsigned> parts(num + 1);
    bayer_row_partitions(h, num, parts.data());
    for (int two : {0, 1})
        for (unsigned failed = 1; failed < num; failed++) { // worker 0 runs on the caller
            SCOPED_TRACE(testing::Message() << "worker " << failed << " two-byte " << two);
            const std::vector<unsigned char> m = photographic_mosaic(w, h, two, 9);
            std::vector<unsigned char> got(3 * w * h, 0), want(3 * w * h);
            ref_demosaic_slices(m.data(), want.data(), w, parts.data(), num, two, 1.0f, 1.33f,
                                3.05f);
            std::fill(want.begin() + 3 * w * parts[failed],
                      want.begin() + 3 * w * parts[failed + 1], 0);
            vidtest::thread_starts = 0;
            vidtest::refused_start = int(failed) - 1;
            testing::internal::CaptureStderr();
            EXPECT_FALSE(
                bayer_interpolate_MT(const_cast<unsigned char*>(m.data()), got.data(), w, h, two));
            const std::string err = testing::internal::GetCapturedStderr();
            vidtest::refused_start = -1;
            EXPECT_EQ(got, want);
            EXPECT_EQ(err.rfind("ERROR *** Unable to create a new thread : ", 0), 0u) << err;
            EXPECT_NE(
                err.find(" threadid " + std::to_string(failed) + ", bayer_interpolate_MT.cpp:"),
                std::string::npos)
                << err;
        }
}

} // namespace
