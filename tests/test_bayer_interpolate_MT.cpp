// The threaded frame demosaic: worker counts and slice boundaries, the work record, slices
// demosaiced as whole images, both sample widths, and the refusals.
#include <gtest/gtest.h>

#include <vector>

#include "threading.h"
#include "bayer_interpolate_MT.h"
#include "compress_uncompress_MT.h"
#include "demosaic_images.h"
#include "demosaic_reference.h"
#include "read-frame.h"

namespace {

const float kGains[3] = {1.0f, 1.33f, 3.05f};

std::vector<unsigned> partitions(unsigned height, unsigned cores)
{
    const unsigned n = bayer_num_threads(height, int(cores));
    std::vector<unsigned> p(n + 1, 0xDEADBEEF);
    bayer_row_partitions(height, n, p.data());
    return p;
}

TEST(BayerSlices, WorkerCountAndBoundaries)
{
    struct Case {
        unsigned height, cores;
        std::vector<unsigned> expected;
    };
    const Case cases[] = {
        {0, 8, {0, 0}},
        {1, 8, {0, 1}},
        {240, 8, {0, 240}},
        {249, 8, {0, 249}},
        {250, 8, {0, 126, 250}},
        {250, 1, {0, 250}},
        {480, 8, {0, 240, 480}},
        {1080, 8, {0, 270, 540, 810, 1080}},
        {1200, 3, {0, 400, 800, 1200}},
        {1501, 8, {0, 188, 376, 564, 752, 940, 1128, 1316, 1501}},
        {1501, 16, {0, 188, 376, 564, 752, 940, 1128, 1316, 1501}},
        // 4294967295 rows: 8 slices of 536870912 rows, the last one short by one
        {4294967295u,
         8,
         {0, 536870912u, 1073741824u, 1610612736u, 2147483648u, 2684354560u, 3221225472u,
          3758096384u, 4294967295u}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.height << " rows, " << c.cores << " cores");
        EXPECT_EQ(partitions(c.height, c.cores), c.expected);
    }
}

TEST(BayerSlices, ProcessorCountBelowOneGivesOneWorker)
{
    for (int cores : {0, -1, -2147483647 - 1}) {
        EXPECT_EQ(bayer_num_threads(100, cores), 1u);
        EXPECT_EQ(bayer_num_threads(2000, cores), 1u);
    }
    EXPECT_EQ(bayer_num_threads(2000, 5), 5u);
    EXPECT_EQ(bayer_num_threads(499, 5), 2u);
    EXPECT_EQ(bayer_num_threads(500, 5), 4u);
    EXPECT_EQ(bayer_num_threads(1499, 5), 4u);
    EXPECT_EQ(bayer_num_threads(1500, 5), 5u);
}

TEST(BayerMTDatastruct, InitThreadDataFillsTheSlice)
{
    std::vector<unsigned char> in_buf(2 * 640 * 250), out_buf(3 * 640 * 250);
    unsigned char* in = in_buf.data();
    unsigned char* out = out_buf.data();
    unsigned parts[] = {0, 126, 250};
    Bayer_MT_datastruct d;
    EXPECT_EQ(d.slice_uninterpolated_buffer, nullptr);
    EXPECT_EQ(d.work_done, 0);
    d.init_thread_data(1, 640, parts, in, out, 1);
    EXPECT_EQ(d.slice_start_row, 126u);
    EXPECT_EQ(d.slice_height, 124u);
    EXPECT_EQ(d.slice_width, 1280u);
    EXPECT_EQ(d.frame_width, 640u);
    EXPECT_EQ(d.slice_uninterpolated_buffer, in + 1280 * 126);
    EXPECT_EQ(d.slice_pixmap, out + 3 * 640 * 126);
    EXPECT_EQ(d.vid_uses_two_bytes_per_pixel, 1);
    EXPECT_EQ(d.work_done, 0);
    d.init();
    EXPECT_EQ(d.frame_width, 640u); // init leaves the frame width
    EXPECT_EQ(d.slice_height, 0u);
    EXPECT_EQ(d.slice_pixmap, nullptr);
}

// The driver equals the reference run on the same slices, for both sample widths, heights
// around every change of the worker count, odd and even widths and width 1600.
TEST(BayerInterpolateMT, EqualsReferenceOnTheSameSlices)
{
    const unsigned cores = unsigned(get_num_processing_cores());
    const unsigned heights[] = {0, 1, 2, 3, 17, 249, 250, 251, 499, 500, 1500, 1503};
    const unsigned widths[] = {1, 2, 9, 40, 1600};
    uint32_t seed = 3;
    for (int two : {0, 1})
        for (unsigned h : heights)
            for (unsigned w : widths) {
                if (size_t(w) * h > 400000 && w != 1600)
                    continue;
                if (w == 1600 && h > 500 && h != 1503)
                    continue;
                SCOPED_TRACE(testing::Message() << w << "x" << h << " two-byte " << two);
                std::vector<unsigned char> m = photographic_mosaic(w, h, two, seed++);
                std::vector<unsigned char> got(3 * size_t(w) * h, 0x5A), want = got;
                EXPECT_TRUE(bayer_interpolate_MT(m.data(), got.data(), w, h, two));
                const std::vector<unsigned> p = partitions(h, cores);
                ref_demosaic_slices(m.data(), want.data(), w, p.data(), unsigned(p.size() - 1), two,
                                    kGains[0], kGains[1], kGains[2]);
                ASSERT_EQ(got, want);
            }
}

// Slices demosaiced one by one through the work record, with boundaries at many even rows:
// only the rows next to a boundary (two on each side for two-byte samples, one for one-byte
// samples) may differ from the whole frame at once.
TEST(BayerMTDatastruct, OnlyRowsNextToABoundaryDiffer)
{
    const unsigned w = 23, h = 40;
    for (int two : {0, 1}) {
        const std::vector<unsigned char> m = photographic_mosaic(w, h, two, 77 + two);
        std::vector<unsigned char> whole(3 * w * h);
        unsigned whole_parts[] = {0, h};
        ref_demosaic_slices(m.data(), whole.data(), w, whole_parts, 1, two, kGains[0], kGains[1],
                            kGains[2]);
        for (unsigned cut = 2; cut < h; cut += 2) {
            SCOPED_TRACE(testing::Message() << "cut at " << cut << " two-byte " << two);
            unsigned parts[] = {0, cut, h};
            std::vector<unsigned char> sliced(3 * w * h, 0x5A);
            for (unsigned i = 0; i < 2; i++) {
                Bayer_MT_datastruct d;
                d.init_thread_data(i, w, parts, const_cast<unsigned char*>(m.data()), sliced.data(),
                                   two);
                bayer_interpolate_thread(&d);
                EXPECT_EQ(d.work_done, 1);
            }
            std::vector<unsigned char> want(3 * w * h);
            ref_demosaic_slices(m.data(), want.data(), w, parts, 2, two, kGains[0], kGains[1],
                                kGains[2]);
            ASSERT_EQ(sliced, want);
            const unsigned reach = two ? 2 : 1;
            for (unsigned y = 0; y < h; y++) {
                const bool near = y + reach >= cut && y < cut + reach;
                if (near)
                    continue;
                ASSERT_TRUE(std::equal(sliced.begin() + 3 * w * y, sliced.begin() + 3 * w * (y + 1),
                                       whole.begin() + 3 * w * y))
                    << "row " << y;
            }
        }
    }
}

TEST(BayerInterpolateMT, OneByteIgnoresWidthAndGains)
{
    white_balance(9.0f, 9.0f, 9.0f);
    const unsigned w = 1600, h = 4;
    const std::vector<unsigned char> m = photographic_mosaic(w, h, 0, 5);
    std::vector<unsigned char> got(3 * w * h), want(3 * w * h);
    bayer_interpolate_MT(const_cast<unsigned char*>(m.data()), got.data(), w, h, 0);
    ref_gp_bayer_decode(m.data(), int(w), int(h), want.data(), BAYER_TILE_GRBG);
    white_balance(kGains[0], kGains[1], kGains[2]);
    EXPECT_EQ(got, want);
}

TEST(BayerInterpolateMT, RefusesAFlagOtherThanZeroOrOne)
{
    std::vector<unsigned char> m(3 * 16, 7), out(3 * 16, 0xEE);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(bayer_interpolate_MT(m.data(), out.data(), 4, 4, 2));
    EXPECT_FALSE(bayer_interpolate_MT(m.data(), out.data(), 4, 4, -1));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("neither 0 nor 1"), std::string::npos);
    EXPECT_EQ(out, std::vector<unsigned char>(3 * 16, 0xEE));
}

TEST(BayerInterpolateMT, RefusesFramesBeyondTheAddressableSize)
{
    unsigned char in[4] = {0}, out[12] = {0};
    testing::internal::CaptureStderr();
    // Never dereferenced: the sizes are refused first.
    EXPECT_FALSE(bayer_interpolate_MT(in, out, 0x80000000u, 2, 1));
    EXPECT_FALSE(bayer_interpolate_MT(in, out, 2, 0x80000000u, 0));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("too large to demosaic"), std::string::npos);
    for (unsigned char b : out)
        EXPECT_EQ(b, 0);
}

} // namespace
