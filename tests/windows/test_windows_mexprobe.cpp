// The Windows MEX tool chain end to end, on the test-only probe module: Wine loads it
// against the stand-in MATLAB DLLs, its mexFunction reads inputs, prints, returns arrays,
// runs the codec's worker threads, and raises errors that end the call.
#include "mex_loader.h"

#include <gtest/gtest.h>

TEST(WindowsMexProbe, LoadsAndExportsMexFunction)
{
    MexModule probe("mexprobe");
    ASSERT_TRUE(probe.loaded()) << probe.load_error();
}

TEST(WindowsMexProbe, ReadsTextPrintsAndReturnsAnArray)
{
    MexModule probe("mexprobe");
    ASSERT_TRUE(probe.loaded()) << probe.load_error();
    mxArray* text = standin_create_string("hello wine");
    MexCall c = probe.call(1, {text});
    ASSERT_FALSE(c.raised) << c.error;
    EXPECT_EQ(c.printed, "text=hello wine\n");
    ASSERT_NE(c.outputs[0], nullptr);
    ASSERT_EQ(mxGetNumberOfElements(c.outputs[0]), 3u);
    const double* v = mxGetPr(c.outputs[0]);
    EXPECT_EQ(v[0], 10.0);
    EXPECT_EQ(v[1], 1.0) << "worker threads started and joined inside the module";
    EXPECT_GE(v[2], 1.0);
    standin_destroy(text);
    standin_destroy(c.outputs[0]);
}

TEST(WindowsMexProbe, AnErrorEndsTheCallWithItsText)
{
    MexModule probe("mexprobe");
    ASSERT_TRUE(probe.loaded()) << probe.load_error();
    MexCall c = probe.call(1, {});
    EXPECT_TRUE(c.raised);
    EXPECT_EQ(c.error, "mexprobe needs an input");
    EXPECT_EQ(c.outputs[0], nullptr);

    mxArray* number = standin_create_numeric(mxDOUBLE_CLASS, 2, std::vector<int>{1, 1}.data());
    c = probe.call(0, {number});
    EXPECT_TRUE(c.raised);
    EXPECT_EQ(c.error, "mexprobe wants text");
    standin_destroy(number);
}
