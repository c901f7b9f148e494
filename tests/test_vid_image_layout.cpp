// Layout conversions of the MEX functions: interleaved RGB frames to MATLAB's column-major
// planes and back, with the padding and cropping of images that do not match the frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "vid_image_layout.h"

namespace {

// Distinct values for every byte of a small frame, so that any misplaced byte shows.
std::vector<unsigned char> numbered(size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = (unsigned char)((i * 7 + seed) % 251);
    return v;
}

struct Size {
    size_t width, height;
};
const Size kFrameSizes[] = {{5, 3}, {3, 5}, {1, 4}, {4, 1}, {1, 1}, {17, 9}};

} // namespace

TEST(VidImageLayout, PixmapToPlanesPutsEveryByteAtItsColumnMajorElement)
{
    for (Size s : kFrameSizes) {
        SCOPED_TRACE(testing::Message() << s.width << " x " << s.height);
        std::vector<unsigned char> pixmap = numbered(s.width * s.height * 3, 1);
        std::vector<double> out(pixmap.size(), -1.0);
        vid_pixmap_to_planes(pixmap.data(), s.width, s.height, out.data());
        const size_t m = s.height, n = s.width;
        for (size_t c = 0; c < 3; c++)
            for (size_t x = 0; x < n; x++)
                for (size_t y = 0; y < m; y++)
                    ASSERT_EQ(out[y + m * x + m * n * c], double(pixmap[(y * n + x) * 3 + c]));
    }
}

// uint8 frames take the 16 x 16 tile path where the frame has whole tiles, and the element
// loop at the edges: both must land every byte where the double conversion does.
TEST(VidImageLayout, Uint8PlanesMatchTheDoublePlanesWithAndWithoutWholeTiles)
{
    const Size sizes[] = {{5, 3}, {16, 16}, {17, 16}, {16, 33}, {50, 35}, {64, 48}, {640, 480}};
    for (Size s : sizes) {
        SCOPED_TRACE(testing::Message() << s.width << " x " << s.height);
        std::vector<unsigned char> pixmap = numbered(s.width * s.height * 3, 2);
        std::vector<double> expect(pixmap.size());
        vid_pixmap_to_planes(pixmap.data(), s.width, s.height, expect.data());
        std::vector<unsigned char> out(pixmap.size() + 16, 0xEE); // 16 guard bytes
        vid_pixmap_to_planes(pixmap.data(), s.width, s.height, out.data());
        EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.end() - 16),
                  std::vector<unsigned char>(expect.begin(), expect.end()));
        EXPECT_EQ(std::vector<unsigned char>(out.end() - 16, out.end()),
                  std::vector<unsigned char>(16, 0xEE));
    }
}

// Readers fill row ranges from several threads: a range writes its own rows and no others.
TEST(VidImageLayout, RowRangesWriteTheirRowsAlone)
{
    const size_t width = 50, height = 37;
    std::vector<unsigned char> pixmap = numbered(width * height * 3, 4);
    std::vector<unsigned char> whole(pixmap.size()), out(pixmap.size(), 0xEE);
    vid_pixmap_to_planes(pixmap.data(), width, height, whole.data());
    vid_pixmap_rows_to_planes(pixmap.data(), width, height, out.data(), 3, 30);
    for (size_t i = 0; i < out.size(); i++) {
        const size_t y = i % height;
        ASSERT_EQ(out[i], y >= 3 && y < 30 ? whole[i] : 0xEE) << i;
    }
    vid_pixmap_rows_to_planes(pixmap.data(), width, height, out.data(), 0, 3);
    vid_pixmap_rows_to_planes(pixmap.data(), width, height, out.data(), 30, height);
    EXPECT_EQ(out, whole);
}

TEST(VidImageLayout, PlanesToPixmapOfTheFrameSizeInvertsPixmapToPlanes)
{
    for (Size s : kFrameSizes) {
        SCOPED_TRACE(testing::Message() << s.width << " x " << s.height);
        std::vector<unsigned char> pixmap = numbered(s.width * s.height * 3, 5);
        std::vector<double> planes(pixmap.size());
        vid_pixmap_to_planes(pixmap.data(), s.width, s.height, planes.data());
        std::vector<unsigned char> image(planes.begin(), planes.end());
        std::vector<unsigned char> back(pixmap.size(), 0);
        vid_planes_to_pixmap(image.data(), s.height, s.width, back.data(), s.width, s.height);
        EXPECT_EQ(back, pixmap);
    }
}

TEST(VidImageLayout, SmallerImageLeavesTheRestOfTheFrameAlone)
{
    const size_t width = 6, height = 4, rows = 2, cols = 3;
    std::vector<unsigned char> image = numbered(rows * cols * 4, 9); // four planes
    std::vector<unsigned char> pixmap(width * height * 3, 255);
    vid_planes_to_pixmap(image.data(), rows, cols, pixmap.data(), width, height);
    for (size_t y = 0; y < height; y++)
        for (size_t x = 0; x < width; x++)
            for (size_t c = 0; c < 3; c++) {
                unsigned char expect =
                    y < rows && x < cols ? image[y + rows * x + rows * cols * c] : 255;
                ASSERT_EQ(pixmap[(y * width + x) * 3 + c], expect) << y << "," << x << "," << c;
            }
}

TEST(VidImageLayout, LargerImageIsCroppedToTheFrame)
{
    const size_t width = 3, height = 2, rows = 5, cols = 7;
    std::vector<unsigned char> image = numbered(rows * cols * 3, 3);
    std::vector<unsigned char> pixmap(width * height * 3 + 8, 0xEE); // 8 guard bytes
    vid_planes_to_pixmap(image.data(), rows, cols, pixmap.data(), width, height);
    for (size_t y = 0; y < height; y++)
        for (size_t x = 0; x < width; x++)
            for (size_t c = 0; c < 3; c++)
                ASSERT_EQ(pixmap[(y * width + x) * 3 + c], image[y + rows * x + rows * cols * c]);
    for (size_t i = width * height * 3; i < pixmap.size(); i++)
        EXPECT_EQ(pixmap[i], 0xEE);
}

TEST(VidImageLayout, EmptyImageWritesNothing)
{
    std::vector<unsigned char> pixmap(4 * 3 * 3, 255);
    vid_planes_to_pixmap(nullptr, 0, 0, pixmap.data(), 4, 3);
    EXPECT_EQ(pixmap, std::vector<unsigned char>(4 * 3 * 3, 255));
}
