// The four handle-based Windows MEX modules under Wine, against the stand-in MATLAB DLLs:
// loading, the write -> close -> open -> read round trip through the Vid handle, and
// argument and container errors raised to the host.
#include "clip_mex_helpers.h"

#include <gtest/gtest.h>

using namespace cliptest;

namespace {
class WindowsClipMex : public ::testing::Test {
  protected:
    MexModule open_{"clipOpenMex"}, read_{"clipReadMex"}, write_{"clipWriteMex"},
        close_{"clipCloseMex"};
    void SetUp() override
    {
        for (const MexModule* m : {&open_, &read_, &write_, &close_})
            ASSERT_TRUE(m->loaded()) << m->load_error();
    }
};
} // namespace

TEST_F(WindowsClipMex, WriteCloseOpenReadRoundTrip)
{
    TempFile file(test_file("round_trip.vid"));
    const int width = 24, height = 16, frames = 3;
    mxArray* name = standin_create_string(file.name.c_str());
    mxArray* geometry = int32s({width, height, frames});

    MexCall opened = open_.call(1, {name, geometry});
    ASSERT_FALSE(opened.raised) << opened.error;
    mxArray* handle = opened.outputs[0];
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(mxGetClassID(handle), mxDOUBLE_CLASS);
    EXPECT_EQ(mxGetN(handle), 1u);
    EXPECT_EQ(mxGetM(handle), sizeof(VidHeader) / 8 + 1) << "rows from this build's record size";

    for (int f = 0; f < frames; f++) {
        mxArray* image = image_uint8(width, height, f);
        MexCall wrote = write_.call(0, {handle, image});
        EXPECT_FALSE(wrote.raised) << "frame " << f << ": " << wrote.error;
        standin_destroy(image);
    }
    MexCall closed = close_.call(0, {handle});
    ASSERT_FALSE(closed.raised) << closed.error;

    MexCall reopened = open_.call(2, {name});
    ASSERT_FALSE(reopened.raised) << reopened.error;
    mxArray* reader = reopened.outputs[0];
    ASSERT_NE(reopened.outputs[1], nullptr);
    const double* info = mxGetPr(reopened.outputs[1]);
    EXPECT_EQ(info[0], width);
    EXPECT_EQ(info[1], height);
    EXPECT_EQ(info[2], frames);
    EXPECT_EQ(mxGetM(reader), mxGetM(handle)) << "read and write handles have the same size";

    // 2.4 reads frame 2, then the others; each comes back exactly as written.
    const double numbers[] = {2.4, 0, 1};
    const int expected[] = {2, 0, 1};
    for (int k = 0; k < 3; k++) {
        mxArray* number = doubles(1, 1, {numbers[k]});
        MexCall got = read_.call(1, {reader, number});
        ASSERT_FALSE(got.raised) << got.error;
        mxArray* img = got.outputs[0];
        ASSERT_NE(img, nullptr);
        ASSERT_EQ(mxGetNumberOfDimensions(img), 3);
        EXPECT_EQ(mxGetDimensions(img)[0], height);
        EXPECT_EQ(mxGetDimensions(img)[1], width);
        EXPECT_EQ(mxGetDimensions(img)[2], 3);
        const double* px = mxGetPr(img);
        int mismatches = 0;
        for (int c = 0; c < 3; c++)
            for (int x = 0; x < width; x++)
                for (int y = 0; y < height; y++)
                    mismatches += px[y + height * x + height * width * c] !=
                                  double(pixel(x, y, c, expected[k]));
        EXPECT_EQ(mismatches, 0) << "frame " << expected[k];
        standin_destroy(number);
        standin_destroy(img);
    }

    // Out of range: a message and an empty result, not an error.
    mxArray* beyond = doubles(1, 1, {frames + 1.0});
    MexCall out_of_range = read_.call(1, {reader, beyond});
    EXPECT_FALSE(out_of_range.raised) << out_of_range.error;
    EXPECT_EQ(out_of_range.printed, "clipReadMex: input frame number should be in [0, #frames] \n");
    ASSERT_NE(out_of_range.outputs[0], nullptr);
    EXPECT_EQ(mxGetNumberOfElements(out_of_range.outputs[0]), 0u);

    EXPECT_FALSE(close_.call(0, {reader}).raised);
    for (mxArray* a : {name, geometry, handle, reader, beyond})
        standin_destroy(a);
}

TEST_F(WindowsClipMex, ArgumentErrorsPrintTheUsageAndRaiseTheMessage)
{
    MexCall c = read_.call(1, {});
    EXPECT_TRUE(c.raised);
    EXPECT_EQ(c.error, "Incorrect number of inputs or outputs specified.");
    EXPECT_EQ(c.printed.rfind("Incorrect number of inputs or outputs specified.\nUsage: "
                              "clipReadMex, \n",
                              0),
              0u)
        << c.printed;

    mxArray* name = standin_create_string("unused.vid");
    mxArray* geometry = doubles(1, 3, {640, 480, 100});
    c = open_.call(1, {name, geometry});
    EXPECT_TRUE(c.raised);
    EXPECT_EQ(c.error, "Input argument should be uint32 class.");

    c = open_.call(2, {standin_create_string("no_such_dir/no_such_file.vid")});
    EXPECT_TRUE(c.raised);
    EXPECT_NE(c.error.find("Unable to open following video file in  'rb' mode"), std::string::npos)
        << c.error;
    standin_destroy(name);
    standin_destroy(geometry);
}

TEST_F(WindowsClipMex, ContainerErrorsReachTheHostAndClosedHandlesAreRefused)
{
    TempFile file(test_file("one_frame.vid"));
    mxArray* name = standin_create_string(file.name.c_str());
    mxArray* geometry = int32s({8, 8, 1});
    mxArray* image = image_uint8(8, 8, 5);
    MexCall opened = open_.call(1, {name, geometry});
    ASSERT_FALSE(opened.raised) << opened.error;
    mxArray* handle = opened.outputs[0];

    EXPECT_FALSE(write_.call(0, {handle, image}).raised);
    // One frame more than reserved: the container's report, raised through the MATLAB
    // build of errbox, ends the call.
    MexCall extra = write_.call(0, {handle, image});
    EXPECT_TRUE(extra.raised);
    EXPECT_NE(extra.error.find("asked frameNumber 1 > num_frames 1"), std::string::npos)
        << extra.error;
    ASSERT_FALSE(close_.call(0, {handle}).raised);

    // The handle is stale now, in every module.
    mxArray* zero = doubles(1, 1, {0});
    MexCall stale_read = read_.call(1, {handle, zero});
    EXPECT_TRUE(stale_read.raised);
    EXPECT_EQ(stale_read.error.rfind("Invalid Vid handle", 0), 0u) << stale_read.error;
    MexCall stale_write = write_.call(0, {handle, image});
    EXPECT_TRUE(stale_write.raised);
    EXPECT_EQ(stale_write.error.rfind("Invalid Vid handle", 0), 0u) << stale_write.error;

    // The file was finished with the one frame written.
    VidContent v = read_vid(file.name);
    ASSERT_EQ(v.frames, 1);
    EXPECT_TRUE(box_at(v, 0, 0, 0, 8, 8, 5));
    for (mxArray* a : {name, geometry, image, handle, zero})
        standin_destroy(a);
}
