// Unit tests of clipCropMex's arithmetic and merge loop, run against in-memory stand-ins
// for the readers and the writer so that placement can be checked pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "clip_crop_rhythm.h"
#include "vid_crop_plan.h"

using namespace clip_crop;

namespace {

// The colour of pixel (x, y) of frame f of input `id`: distinct per input, frame and place.
unsigned char pattern(int id, int f, int x, int y, int c)
{
    if (c == 0)
        return (unsigned char)(10 + 50 * id);
    if (c == 1)
        return (unsigned char)(x + 7 * f);
    return (unsigned char)(y + 13 * f);
}

// A VidHeader-like reader or writer kept in memory.
struct FakeVid {
    int width = 0, height = 0, num_frames = 0, pixmap_size = 0;
    int id = 0;
    int fail_on_frame = -1; // a read of this frame fails
    std::vector<unsigned char> buffer;
    unsigned char* pixmap = nullptr;
    std::vector<int> reads;
    std::vector<std::vector<unsigned char>> written;

    FakeVid(int w, int h, int n, int ident) : width(w), height(h), num_frames(n), id(ident)
    {
        pixmap_size = w * h * 3;
        buffer.assign(size_t(pixmap_size), 0);
        pixmap = buffer.data();
    }
    bool readFrameFromVideoFile(int f)
    {
        if (f < 0 || f >= num_frames || f == fail_on_frame)
            return false;
        reads.push_back(f);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                for (int c = 0; c < 3; c++)
                    pixmap[(size_t(y) * width + x) * 3 + c] = pattern(id, f, x, y, c);
        return true;
    }
    bool writeNextFrameToVideoFile()
    {
        if (int(written.size()) >= num_frames)
            return false;
        written.push_back(buffer);
        return true;
    }
};

struct Rgb {
    int r, g, b;
};

Rgb pixel_at(const std::vector<unsigned char>& frame, int width, int x, int y)
{
    size_t p = (size_t(y) * width + x) * 3;
    return {frame[p], frame[p + 1], frame[p + 2]};
}

// Checks that the w x h rectangle at (x, y) of an output frame holds input `id`'s frame f
// box starting at (l, t), and that the pixels just outside each edge do not continue it.
void expect_box_at(const std::vector<unsigned char>& out, int out_w, int out_h, int id, int f,
                   int l, int t, int w, int h, int x, int y)
{
    for (int k = 0; k < h; k++)
        for (int j = 0; j < w; j++) {
            Rgb p = pixel_at(out, out_w, x + j, y + k);
            ASSERT_EQ(p.r, pattern(id, f, l + j, t + k, 0)) << "at " << x + j << "," << y + k;
            ASSERT_EQ(p.g, pattern(id, f, l + j, t + k, 1)) << "at " << x + j << "," << y + k;
            ASSERT_EQ(p.b, pattern(id, f, l + j, t + k, 2)) << "at " << x + j << "," << y + k;
        }
    (void)out_h;
}

// Counts the pixels of an output frame that equal the colour (r, g, b).
long count_colour(const std::vector<unsigned char>& out, Rgb c)
{
    long n = 0;
    for (size_t p = 0; p + 2 < out.size(); p += 3)
        n += out[p] == c.r && out[p + 1] == c.g && out[p + 2] == c.b;
    return n;
}

MergePlan linux_plan(int mode, int gap, const OutputGeometry& geo, int64_t frames, Rgb bg)
{
    MergePlan p;
    p.mode = mode;
    p.gap = gap;
    p.out_width = int(geo.width8);
    p.out_height = int(geo.height8);
    p.num_frames = int(frames);
    p.rgb[0] = (unsigned char)bg.r;
    p.rgb[1] = (unsigned char)bg.g;
    p.rgb[2] = (unsigned char)bg.b;
    p.centre_across = true;
    return p;
}

InputPlan whole(const FakeVid& v)
{
    InputPlan in;
    set_bounds(nullptr, 0, v, in.box.l, in.box.t, in.box.w, in.box.h);
    in.range = clamp_range(0, v.num_frames, v.num_frames);
    return in;
}

std::string read_all(FILE* f)
{
    std::string s;
    rewind(f);
    int c;
    while ((c = fgetc(f)) != EOF)
        s += char(c);
    return s;
}

} // namespace

TEST(ClipCropNumbers, RoundsAndTruncatesLikeTheCaller)
{
    struct Case {
        double in;
        int rounded;
    } cases[] = {{1.4, 1},   {1.5, 2},         {2.5, 3},          {-0.4, 0}, {-1.2, 0},
                 {-1.5, -1}, {1e300, INT_MAX}, {-1e300, INT_MIN}, {NAN, 0},  {INFINITY, INT_MAX}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(round_to_int(c.in), c.rounded);
    }
    EXPECT_EQ(truncate_to_int(-7.9), -7);
    EXPECT_EQ(truncate_to_int(7.9), 7);
}

TEST(ClipCropRanges, ClampToTheInputAndCountEmptyAsZero)
{
    struct Case {
        double s, e;
        int start, length;
    } cases[] = {{10, 20, 10, 10}, {-5, 1e9, 0, 100}, {20, 10, 20, 0},  {200, 300, 200, 0},
                 {-10, -5, 0, 0},  {3.9, 5.9, 3, 2},  {NAN, NAN, 0, 0}, {0, INFINITY, 0, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.s) + " " + std::to_string(c.e));
        FrameRange r = clamp_range(c.s, c.e, 100);
        EXPECT_EQ(r.start, c.start);
        EXPECT_EQ(r.length(), c.length);
        EXPECT_LE(r.end, 100);
    }
}

TEST(ClipCropBounds, ClampsBoxesIntoTheInputFrame)
{
    FakeVid in(640, 480, 1, 0);
    int l, t, w, h;
    set_bounds(nullptr, 0, in, l, t, w, h);
    EXPECT_EQ((std::vector<int>{l, t, w, h}), (std::vector<int>{0, 0, 640, 480}));

    // Column 1 of a 4 x 2 array is the one used for input 1.
    const double boxes[] = {1, 1, 1, 1, -10, 5, 50, 1000};
    set_bounds(boxes, 1, in, l, t, w, h);
    EXPECT_EQ((std::vector<int>{l, t, w, h}), (std::vector<int>{0, 5, 50, 475}));

    struct Case {
        const char* name;
        double box[4];
        int w, h;
    } empties[] = {
        {"left edge beyond the width", {640, 0, 10, 10}, 0, 0},
        {"top edge beyond the height", {0, 900, 10, 10}, 0, 0},
        {"negative width", {0, 0, -3, 10}, 0, 0},
        {"zero height", {0, 0, 10, 0}, 0, 0},
        {"huge left edge", {1e12, 0, 10, 10}, 0, 0},
        {"fractions truncated", {1.9, 2.9, 3.9, 4.9}, 3, 4},
        {"NaN width", {0, 0, NAN, 10}, 0, 0},
    };
    for (const Case& c : empties) {
        SCOPED_TRACE(c.name);
        set_bounds(c.box, 0, in, l, t, w, h);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
        EXPECT_GE(l, 0);
        EXPECT_GE(t, 0);
        if (w > 0) {
            EXPECT_LE(int64_t(l) + w, 640);
            EXPECT_LE(int64_t(t) + h, 480);
        }
    }
}

TEST(ClipCropGeometry, WorkedExamples)
{
    FakeVid small(100, 50, 10, 0), a(640, 480, 100, 0), b(320, 240, 40, 1);
    InputPlan one[] = {whole(small)};
    InputPlan two[] = {whole(a), whole(b)};
    struct Case {
        const char* name;
        const InputPlan* inputs;
        int k, mode, gap;
        int64_t w8, h8, frames;
    } cases[] = {
        {"single, mode 0, gap 7", one, 1, 0, 7, 104, 56, 10},
        {"single, mode 1, gap 7", one, 1, 1, 7, 104, 56, 10},
        {"single, mode 2", one, 1, 2, 7, 104, 56, 10},
        {"two side by side, gap 10", two, 2, 0, 10, 976, 480, 100},
        {"two stacked, gap 10", two, 2, 1, 10, 640, 736, 100},
        {"two sequential", two, 2, 2, 10, 640, 480, 140},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputGeometry g = output_geometry(c.mode, c.gap, c.inputs, c.k);
        EXPECT_EQ(g.width8, c.w8);
        EXPECT_EQ(g.height8, c.h8);
        EXPECT_TRUE(g.fits());
        EXPECT_EQ(output_frame_count(c.mode, c.inputs, c.k), c.frames);
    }
}

TEST(ClipCropGeometry, EmptyRangesAndBoxesTakeNoRoom)
{
    FakeVid a(640, 480, 100, 0), b(320, 240, 40, 1);
    InputPlan two[] = {whole(a), whole(b)};
    two[1].range = clamp_range(20, 10, 40); // no frame of input 1
    EXPECT_EQ(output_frame_count(kSequential, two, 2), 100);
    EXPECT_EQ(output_frame_count(kHorizontal, two, 2), 100);
    two[0].range = clamp_range(500, 600, 100);
    EXPECT_EQ(output_frame_count(kSequential, two, 2), 0);
    EXPECT_EQ(output_frame_count(kVertical, two, 2), 0);

    // An empty box adds only its gap.
    two[1].box = CropBox{0, 0, 0, 0};
    OutputGeometry g = output_geometry(kHorizontal, 10, two, 2);
    EXPECT_EQ(g.width, 650);
    EXPECT_EQ(g.height, 480);
}

TEST(ClipCropGeometry, RefusesFramesBeyondAVideoFile)
{
    InputPlan in[2] = {};
    in[0].box = CropBox{0, 0, 36856, 8};
    EXPECT_TRUE(output_geometry(kHorizontal, 0, in, 1).fits());
    in[0].box.w = 36857; // rounds up to 36864, whose width field reads back as 1
    EXPECT_FALSE(output_geometry(kHorizontal, 0, in, 1).fits());
    in[0].box = CropBox{0, 0, 8, 65528};
    EXPECT_TRUE(output_geometry(kVertical, 0, in, 1).fits());
    in[0].box.h = 65529;
    EXPECT_FALSE(output_geometry(kVertical, 0, in, 1).fits());
    // Width and height each fit, their product does not.
    in[0].box = CropBox{0, 0, 30000, 30000};
    EXPECT_FALSE(output_geometry(kSequential, 0, in, 1).fits());
    // A huge gap between two small boxes does not wrap around.
    in[0].box = in[1].box = CropBox{0, 0, 8, 8};
    OutputGeometry g = output_geometry(kHorizontal, INT_MAX, in, 2);
    EXPECT_EQ(g.width, 16 + int64_t(INT_MAX));
    EXPECT_FALSE(g.fits());
}

TEST(ClipCropPixels, FillAndCopyStayInsideTheirFrames)
{
    std::vector<unsigned char> frame(7 * 5 * 3, 0);
    fill_rgb(frame.data(), 35, 1, 2, 3);
    EXPECT_EQ(count_colour(frame, {1, 2, 3}), 35);

    FakeVid src(6, 4, 1, 2);
    ASSERT_TRUE(src.readFrameFromVideoFile(0));
    std::vector<unsigned char> dst(10 * 8 * 3 + 3, 77); // one guard pixel past the end
    EXPECT_TRUE(copy_box(src.pixmap, 6, 4, CropBox{2, 1, 4, 3}, dst.data(), 10, 8, 6, 5));
    expect_box_at(dst, 10, 8, 2, 0, 2, 1, 4, 3, 6, 5);
    EXPECT_EQ(dst[10 * 8 * 3], 77);
    EXPECT_EQ(count_colour(dst, {77, 77, 77}), 10 * 8 + 1 - 12);

    struct Case {
        const char* name;
        CropBox box;
        int x, y;
    } outside[] = {
        {"box past the source's right edge", {3, 0, 4, 1}, 0, 0},
        {"box past the source's bottom", {0, 2, 1, 3}, 0, 0},
        {"destination past the right edge", {0, 0, 4, 1}, 7, 0},
        {"destination past the bottom", {0, 0, 1, 3}, 0, 6},
        {"negative destination", {0, 0, 1, 1}, -1, 0},
    };
    for (const Case& c : outside) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> before = dst;
        EXPECT_FALSE(copy_box(src.pixmap, 6, 4, c.box, dst.data(), 10, 8, c.x, c.y));
        EXPECT_EQ(dst, before);
    }
}

// Two inputs of 640 x 480 and 320 x 240 side by side with a gap of 10: the second sits at
// columns 650..969, rows 120..359 while it has frames, and the background fills the rest.
TEST(ClipCropMerge, SideBySidePlacesAndCentresEachBox)
{
    FakeVid a(640, 480, 5, 0), b(320, 240, 2, 1);
    InputPlan in[] = {whole(a), whole(b)};
    OutputGeometry g = output_geometry(kHorizontal, 10, in, 2);
    FakeVid out(int(g.width8), int(g.height8), 5, 9);
    FakeVid* readers[] = {&a, &b};
    MergeResult r = merge_frames(linux_plan(kHorizontal, 10, g, 5, {1, 2, 3}), in, readers, 2, out);
    ASSERT_EQ(r.status, MergeResult::kOk);
    ASSERT_EQ(out.written.size(), 5u);
    for (int f = 0; f < 5; f++) {
        SCOPED_TRACE(f);
        const std::vector<unsigned char>& o = out.written[size_t(f)];
        expect_box_at(o, 976, 480, 0, f, 0, 0, 640, 480, 0, 0);
        long bg = 976L * 480 - 640L * 480;
        if (f < 2) {
            expect_box_at(o, 976, 480, 1, f, 0, 0, 320, 240, 650, 120);
            bg -= 320L * 240;
        }
        EXPECT_EQ(count_colour(o, {1, 2, 3}), bg);
    }
    EXPECT_EQ(b.reads, (std::vector<int>{0, 1}));
}

TEST(ClipCropMerge, StackedCentresHorizontallyAndHonoursRanges)
{
    FakeVid a(640, 480, 5, 0), b(320, 240, 30, 1);
    InputPlan in[] = {whole(a), whole(b)};
    in[1].range = clamp_range(10, 13, 30); // frames 10, 11, 12
    OutputGeometry g = output_geometry(kVertical, 10, in, 2);
    ASSERT_EQ(g.width8, 640);
    ASSERT_EQ(g.height8, 736);
    FakeVid out(640, 736, 5, 9);
    FakeVid* readers[] = {&a, &b};
    ASSERT_EQ(
        merge_frames(linux_plan(kVertical, 10, g, 5, {255, 255, 255}), in, readers, 2, out).status,
        MergeResult::kOk);
    for (int f = 0; f < 3; f++)
        expect_box_at(out.written[size_t(f)], 640, 736, 1, 10 + f, 0, 0, 320, 240, 160, 490);
    EXPECT_EQ(count_colour(out.written[3], {255, 255, 255}), 640L * 736 - 640L * 480);
}

TEST(ClipCropMerge, SequentialCentresOnWhiteAndCropsBoxes)
{
    FakeVid a(640, 480, 2, 0), b(320, 240, 3, 1);
    InputPlan in[] = {whole(a), whole(b)};
    const double bbox[] = {0, 0, 640, 480, 100, 50, 40, 30};
    set_bounds(bbox, 1, b, in[1].box.l, in[1].box.t, in[1].box.w, in[1].box.h);
    OutputGeometry g = output_geometry(kSequential, 0, in, 2);
    FakeVid out(640, 480, 5, 9);
    FakeVid* readers[] = {&a, &b};
    ASSERT_EQ(merge_frames(linux_plan(kSequential, 0, g, 5, {1, 2, 3}), in, readers, 2, out).status,
              MergeResult::kOk);
    ASSERT_EQ(out.written.size(), 5u);
    expect_box_at(out.written[1], 640, 480, 0, 1, 0, 0, 640, 480, 0, 0);
    for (int j = 0; j < 3; j++) {
        expect_box_at(out.written[size_t(2 + j)], 640, 480, 1, j, 100, 50, 40, 30, 300, 225);
        // The colour input does not apply here: white around the box.
        EXPECT_EQ(count_colour(out.written[size_t(2 + j)], {255, 255, 255}), 640L * 480 - 1200);
    }
}

TEST(ClipCropMerge, WindowsFormPlacesAtRowAndColumnZero)
{
    FakeVid a(64, 48, 1, 0), b(32, 24, 1, 1);
    InputPlan in[] = {whole(a), whole(b)};
    for (int mode : {kHorizontal, kVertical}) {
        SCOPED_TRACE(mode);
        OutputGeometry g = output_geometry(mode, 0, in, 2);
        MergePlan p = linux_plan(mode, 0, g, 1, {255, 255, 255});
        p.centre_across = false;
        FakeVid out(int(g.width8), int(g.height8), 1, 9);
        FakeVid* readers[] = {&a, &b};
        ASSERT_EQ(merge_frames(p, in, readers, 2, out).status, MergeResult::kOk);
        int x = mode == kHorizontal ? 64 : 0, y = mode == kHorizontal ? 0 : 48;
        expect_box_at(out.written[0], out.width, out.height, 1, 0, 0, 0, 32, 24, x, y);
    }
}

TEST(ClipCropMerge, ProgressLinesFollowTheirRhythm)
{
    FakeVid a(1, 1, 450, 0);
    InputPlan in[] = {whole(a)};
    OutputGeometry g = output_geometry(kHorizontal, 0, in, 1);
    struct Case {
        const char* name;
        int mode, period, phase;
        std::string expected;
    } cases[] = {
        {"side by side", kHorizontal, 200, 199,
         "   199 of    450 frames in output written.\n"
         "   399 of    450 frames in output written.\n"},
        {"sequential", kSequential, 200, 199,
         "   199 of    450 frames in output written.\n"
         "   399 of    450 frames in output written.\n"},
        {"Windows side by side", kHorizontal, 200, 0,
         "     0 of    450 frames in output written.\n"
         "   200 of    450 frames in output written.\n"
         "   400 of    450 frames in output written.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MergePlan p = linux_plan(c.mode, 0, g, 450, {0, 0, 0});
        FakeVid out(8, 8, 450, 9);
        FakeVid* readers[] = {&a};
        FILE* progress = tmpfile();
        ASSERT_NE(progress, nullptr);
        CropProgressRhythm rhythm{c.period, c.phase, progress};
        EXPECT_EQ(merge_frames(p, in, readers, 1, out, rhythm.told()).status, MergeResult::kOk);
        EXPECT_EQ(read_all(progress), c.expected);
        fclose(progress);
    }
    // Windows sequential: every tenth frame from frame 0, so 45 lines for 450 frames.
    MergePlan p = linux_plan(kSequential, 0, g, 450, {0, 0, 0});
    FakeVid out(8, 8, 450, 9);
    FakeVid* readers[] = {&a};
    FILE* progress = tmpfile();
    ASSERT_NE(progress, nullptr);
    CropProgressRhythm rhythm{10, 0, progress};
    merge_frames(p, in, readers, 1, out, rhythm.told());
    std::string text = read_all(progress);
    fclose(progress);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 45);
    EXPECT_EQ(text.substr(0, 43), "     0 of    450 frames in output written.\n");
}

TEST(ClipCropMerge, StopsAtTheFirstFailure)
{
    FakeVid a(16, 8, 4, 0), b(16, 8, 4, 1);
    b.fail_on_frame = 2;
    InputPlan in[] = {whole(a), whole(b)};
    OutputGeometry g = output_geometry(kHorizontal, 0, in, 2);
    FakeVid* readers[] = {&a, &b};
    FakeVid out(int(g.width8), int(g.height8), 4, 9);
    MergeResult r = merge_frames(linux_plan(kHorizontal, 0, g, 4, {0, 0, 0}), in, readers, 2, out);
    EXPECT_EQ(r.status, MergeResult::kReadFailed);
    EXPECT_EQ(r.input, 1);
    EXPECT_EQ(out.written.size(), 2u);

    // A writer that reserved fewer frames than the plan refuses the surplus.
    b.fail_on_frame = -1;
    FakeVid short_out(int(g.width8), int(g.height8), 3, 9);
    r = merge_frames(linux_plan(kHorizontal, 0, g, 4, {0, 0, 0}), in, readers, 2, short_out);
    EXPECT_EQ(r.status, MergeResult::kWriteFailed);
    EXPECT_EQ(short_out.written.size(), 3u);

    // A writer of another size is refused before anything is read.
    FakeVid wrong(8, 8, 4, 9);
    a.reads.clear();
    r = merge_frames(linux_plan(kHorizontal, 0, g, 4, {0, 0, 0}), in, readers, 2, wrong);
    EXPECT_EQ(r.status, MergeResult::kBadWriter);
    EXPECT_TRUE(a.reads.empty());
}
