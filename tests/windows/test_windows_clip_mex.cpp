// The five Windows MEX modules under Wine, against the stand-in MATLAB DLLs: loading, the
// write -> close -> open -> read round trip through the Vid handle, argument errors, and the
// Windows form of clipCropMex (no gap and no colour inputs, white background, boxes at row
// or column 0, bbox as input 5). Input files for the crop are written with the core's
// VidHeader directly; outputs are read back with it.
#include "VidHeader.h"
#include "mex_loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kModules[] = {"clipOpenMex", "clipReadMex", "clipWriteMex", "clipCloseMex",
                                "clipCropMex"};

struct TempFile {
    std::string name;
    explicit TempFile(const std::string& n) : name(n) { remove(name.c_str()); }
    ~TempFile() { remove(name.c_str()); }
};

mxArray* numeric(mxClassID cls, std::vector<int> dims)
{
    return standin_create_numeric(cls, int(dims.size()), dims.data());
}

mxArray* doubles(int m, int n, std::vector<double> values)
{
    mxArray* a = numeric(mxDOUBLE_CLASS, {m, n});
    for (size_t i = 0; i < values.size() && i < mxGetNumberOfElements(a); i++)
        mxGetPr(a)[i] = values[i];
    return a;
}

mxArray* int32s(std::vector<int> values)
{
    mxArray* a = numeric(mxINT32_CLASS, {int(values.size()), 1});
    memcpy(mxGetData(a), values.data(), values.size() * sizeof(int));
    return a;
}

// Pixel value of frame `seed` at (x, y), channel c.
unsigned char pixel(int x, int y, int c, int seed)
{
    return (unsigned char)(x * 7 + y * 13 + c * 50 + seed * 29);
}

// A height x width x 3 uint8 image in MATLAB's column order.
mxArray* image_uint8(int width, int height, int seed)
{
    mxArray* a = numeric(mxUINT8_CLASS, {height, width, 3});
    unsigned char* p = static_cast<unsigned char*>(mxGetData(a));
    for (int c = 0; c < 3; c++)
        for (int x = 0; x < width; x++)
            for (int y = 0; y < height; y++)
                p[y + height * x + height * width * c] = pixel(x, y, c, seed);
    return a;
}

// Writes a VID file of `frames` frames with the core's writer.
void write_vid(const std::string& name, int width, int height, int frames)
{
    VidHeader w(name.c_str(), stderr, width, height, frames);
    ASSERT_NE(w.compressed_buffer, nullptr);
    for (int f = 0; f < frames; f++) {
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                for (int c = 0; c < 3; c++)
                    w.pixmap[(y * width + x) * 3 + c] = pixel(x, y, c, f);
        ASSERT_TRUE(w.writeNextFrameToVideoFile());
    }
}

class WindowsClipMex : public ::testing::Test {
  protected:
    MexModule open_{"clipOpenMex"}, read_{"clipReadMex"}, write_{"clipWriteMex"},
        close_{"clipCloseMex"}, crop_{"clipCropMex"};
    void SetUp() override
    {
        for (const MexModule* m : {&open_, &read_, &write_, &close_, &crop_})
            ASSERT_TRUE(m->loaded()) << m->load_error();
    }
};

// Reads an output file whole: every frame's pixmap, or nothing when it does not open.
struct VidContent {
    int width = 0, height = 0, frames = 0;
    std::vector<std::vector<unsigned char>> pixmaps;
};
VidContent read_vid(const std::string& name)
{
    VidContent v;
    VidHeader r(name.c_str(), stderr);
    if (!r.compressed_buffer)
        return v;
    v.width = r.width;
    v.height = r.height;
    v.frames = r.num_frames;
    for (int f = 0; f < r.num_frames; f++) {
        if (!r.readFrameFromVideoFile(f))
            return VidContent();
        v.pixmaps.emplace_back(r.pixmap, r.pixmap + r.pixmap_size);
    }
    return v;
}

const unsigned char* at(const VidContent& v, int frame, int x, int y)
{
    return &v.pixmaps[frame][(size_t(y) * v.width + x) * 3];
}

bool is_white(const VidContent& v, int frame, int x, int y)
{
    const unsigned char* p = at(v, frame, x, y);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

// True when input frame `seed` of size w x h sits in output frame `frame` at (x0, y0).
bool box_at(const VidContent& v, int frame, int x0, int y0, int w, int h, int seed)
{
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < 3; c++)
                if (at(v, frame, x0 + x, y0 + y)[c] != pixel(x, y, c, seed))
                    return false;
    return true;
}

} // namespace

TEST(WindowsMexModules, EachLoadsAndExportsMexFunction)
{
    for (const char* name : kModules) {
        MexModule m(name);
        EXPECT_TRUE(m.loaded()) << m.load_error();
    }
}

TEST_F(WindowsClipMex, WriteCloseOpenReadRoundTrip)
{
    TempFile file("wine_mex_round_trip.vid");
    const int width = 24, height = 16, frames = 3;
    mxArray* name = standin_create_string(file.name.c_str());
    mxArray* geometry = int32s({width, height, frames});

    MexCall opened = open_.call(1, {name, geometry});
    ASSERT_FALSE(opened.raised) << opened.error;
    mxArray* handle = opened.outputs[0];
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(mxGetClassID(handle), mxDOUBLE_CLASS);
    EXPECT_EQ(mxGetN(handle), 1u);
    EXPECT_GE(mxGetM(handle) * 8, sizeof(VidHeader)) << "the handle holds the whole record";

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
    EXPECT_EQ(out_of_range.printed,
              "clipReadMex: input frame number should be in [0, #frames] \n");
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
                              "clipReadMex, \n", 0), 0u) << c.printed;

    mxArray* name = standin_create_string("unused.vid");
    mxArray* geometry = doubles(1, 3, {640, 480, 100});
    c = open_.call(1, {name, geometry});
    EXPECT_TRUE(c.raised);
    EXPECT_EQ(c.error, "Input argument should be uint32 class.");

    c = open_.call(2, {standin_create_string("no_such_dir/no_such_file.vid")});
    EXPECT_TRUE(c.raised);
    EXPECT_NE(c.error.find("Unable to open following video file in  'rb' mode"),
              std::string::npos) << c.error;
    standin_destroy(name);
    standin_destroy(geometry);
}

// Two inputs, A 20 x 10 with 4 frames and B 12 x 6 with 2 frames, merged in each mode.
class WindowsClipCrop : public WindowsClipMex {
  protected:
    TempFile a_{"wine_crop_a.vid"}, b_{"wine_crop_b.vid"}, out_{"wine_crop_out.vid"};
    mxArray* names_ = nullptr;
    mxArray* out_name_ = nullptr;
    mxArray* no_frames_ = nullptr;
    void SetUp() override
    {
        WindowsClipMex::SetUp();
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
        {"three inputs", {name, out_name_, no_frames_},
         "Incorrect number inputs and/or input datatype for some arguments."},
        {"mode not double", {name, out_name_, no_frames_, name},
         "Incorrect number inputs and/or input datatype for some arguments."},
        {"single name, empty frames", {name, out_name_, no_frames_, mode},
         "Input filename is not a string or crop frames array is not length 2."},
        {"cell with frames for one input", {names_, out_name_, range_2x1, mode},
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
