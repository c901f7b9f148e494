// The Windows form of clipCropMex under Wine: no gap and no colour inputs, a white
// background, boxes at row 0 (side by side) or column 0 (stacked), centred boxes in the
// sequential mode, the bbox as input 5, and the Windows argument rules and usage text.
// Input files are written with the core's VidHeader directly; outputs are read back with it.
#include "clip_mex_helpers.h"

#include <gtest/gtest.h>

using namespace cliptest;

namespace {
// Two inputs, A 20 x 10 with 4 frames and B 12 x 6 with 2 frames, merged in each mode.
class WindowsClipCrop : public ::testing::Test {
  protected:
    MexModule crop_{"clipCropMex"};
    TempFile a_{test_file("a.vid")}, b_{test_file("b.vid")}, out_{test_file("out.vid")};
    mxArray* names_ = nullptr;
    mxArray* out_name_ = nullptr;
    mxArray* no_frames_ = nullptr;
    void SetUp() override
    {
        ASSERT_TRUE(crop_.loaded()) << crop_.load_error();
        write_vid(a_.name, 20, 10, 4);
        write_vid(b_.name, 12, 6, 2);
        names_ = standin_create_cell(2, 1);
        standin_set_cell(names_, 0, standin_create_string(a_.name.c_str()));
        standin_set_cell(names_, 1, standin_create_string(b_.name.c_str()));
        out_name_ = standin_create_string(out_.name.c_str());
        no_frames_ = doubles(0, 0, {});
    }
    void TearDown() override
    {
        for (mxArray* a : {names_, out_name_, no_frames_})
            standin_destroy(a);
    }
    MexCall crop(std::vector<const mxArray*> args) { return crop_.call(0, args); }
};
} // namespace

TEST_F(WindowsClipCrop, SideBySideStartsAtRowZeroWithoutGapOnWhite)
{
    mxArray* mode = doubles(1, 1, {0});
    MexCall c = crop({names_, out_name_, no_frames_, mode});
    ASSERT_FALSE(c.raised) << c.error;
    VidContent v = read_vid(out_.name);
    ASSERT_EQ(v.width, 32);  // 20 + 12, no gap
    ASSERT_EQ(v.height, 16); // 10 rounded up to 8s
    ASSERT_EQ(v.frames, 4);
    for (int f = 0; f < 4; f++) {
        SCOPED_TRACE(f);
        EXPECT_TRUE(box_at(v, f, 0, 0, 20, 10, f));
        if (f < 2)
            EXPECT_TRUE(box_at(v, f, 20, 0, 12, 6, f));
        else
            EXPECT_TRUE(is_white(v, f, 25, 3));
        EXPECT_TRUE(is_white(v, f, 25, 6)); // below B
        EXPECT_TRUE(is_white(v, f, 5, 12)); // below A
    }
    standin_destroy(mode);
}

TEST_F(WindowsClipCrop, StackedStartsAtColumnZero)
{
    mxArray* mode = doubles(1, 1, {1.4}); // rounds to 1
    MexCall c = crop({names_, out_name_, no_frames_, mode});
    ASSERT_FALSE(c.raised) << c.error;
    VidContent v = read_vid(out_.name);
    ASSERT_EQ(v.width, 24);
    ASSERT_EQ(v.height, 16); // 10 + 6
    ASSERT_EQ(v.frames, 4);
    EXPECT_TRUE(box_at(v, 0, 0, 0, 20, 10, 0));
    EXPECT_TRUE(box_at(v, 1, 0, 10, 12, 6, 1));
    EXPECT_TRUE(is_white(v, 1, 15, 12));
    EXPECT_TRUE(is_white(v, 3, 0, 10)); // B has no frame 3
    standin_destroy(mode);
}

TEST_F(WindowsClipCrop, SequentialCentresEachInput)
{
    mxArray* mode = doubles(1, 1, {1.5}); // rounds to 2
    MexCall c = crop({names_, out_name_, no_frames_, mode});
    ASSERT_FALSE(c.raised) << c.error;
    VidContent v = read_vid(out_.name);
    ASSERT_EQ(v.width, 24);
    ASSERT_EQ(v.height, 16);
    ASSERT_EQ(v.frames, 6);
    for (int f = 0; f < 4; f++)
        EXPECT_TRUE(box_at(v, f, 2, 3, 20, 10, f)) << f;
    for (int f = 0; f < 2; f++)
        EXPECT_TRUE(box_at(v, 4 + f, 6, 5, 12, 6, f)) << f;
    EXPECT_TRUE(is_white(v, 5, 0, 0));
    standin_destroy(mode);
}

TEST_F(WindowsClipCrop, SingleNameTakesTheFrameRangeAndTheBboxFromInputFive)
{
    mxArray* name = standin_create_string(a_.name.c_str());
    mxArray* range = doubles(1, 2, {1, 3});
    mxArray* mode = doubles(1, 1, {0});
    mxArray* bbox = doubles(4, 1, {2, 1, 8, 5});
    MexCall c = crop({name, out_name_, range, mode, bbox});
    ASSERT_FALSE(c.raised) << c.error;
    VidContent v = read_vid(out_.name);
    ASSERT_EQ(v.width, 8);
    ASSERT_EQ(v.height, 8);
    ASSERT_EQ(v.frames, 2);
    for (int f = 0; f < 2; f++)
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 8; x++)
                for (int ch = 0; ch < 3; ch++)
                    ASSERT_EQ(at(v, f, x, y)[ch], pixel(x + 2, y + 1, ch, f + 1))
                        << f << " " << x << " " << y;
    EXPECT_TRUE(is_white(v, 0, 3, 6));
    for (mxArray* a : {name, range, mode, bbox})
        standin_destroy(a);
}

TEST_F(WindowsClipCrop, RefusesTheArgumentsOfTheWindowsForm)
{
    mxArray* name = standin_create_string(a_.name.c_str());
    mxArray* mode = doubles(1, 1, {0});
    mxArray* range_2x1 = doubles(2, 1, {0, 1});
    struct Case {
        const char* what;
        std::vector<const mxArray*> args;
        const char* message;
    } cases[] = {
        {"three inputs",
         {name, out_name_, no_frames_},
         "Incorrect number inputs and/or input datatype for some arguments."},
        {"mode not double",
         {name, out_name_, no_frames_, name},
         "Incorrect number inputs and/or input datatype for some arguments."},
        {"single name, empty frames",
         {name, out_name_, no_frames_, mode},
         "Input filename is not a string or crop frames array is not length 2."},
        {"cell with frames for one input",
         {names_, out_name_, range_2x1, mode},
         "Crop frames input array should be size [Number input videos x 2]."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        MexCall c = crop(k.args);
        EXPECT_TRUE(c.raised);
        EXPECT_EQ(c.error, k.message);
        EXPECT_NE(c.printed.find("Usage: clipCropMex, \nInputs: \n"), std::string::npos);
        EXPECT_EQ(c.printed.find("gap in pixels"), std::string::npos) << "Windows usage text";
    }
    for (mxArray* a : {name, mode, range_2x1})
        standin_destroy(a);
}
