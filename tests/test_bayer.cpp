// Tile Bayer routines: the worked examples, every arrangement, the line test and the
// neighbour estimate, tile values outside 0 to 7, thin images, and the tuned code against
// the plain reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bayer.h"
#include "bayer_simd.h"
#include "demosaic_images.h"
#include "demosaic_reference.h"
#include "vid_render_path.h"

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& p)
{
    return os << "(" << p.r << ", " << p.g << ", " << p.b << ")";
}
Rgb pixel(const std::vector<unsigned char>& rgb, int w, int x, int y)
{
    const unsigned char* p = &rgb[3 * (size_t(y) * w + x)];
    return {p[0], p[1], p[2]};
}

std::vector<unsigned char> decode(std::vector<unsigned char> mosaic, int w, int h, BayerTile t)
{
    std::vector<unsigned char> rgb(3 * size_t(w) * h, 0xEE);
    EXPECT_EQ(gp_bayer_decode(mosaic.data(), w, h, rgb.data(), t), 0);
    return rgb;
}

TEST(GpBayerDecode, TwoByTwoArrangement3)
{
    const std::vector<unsigned char> rgb = decode({10, 20, 30, 40}, 2, 2, BAYER_TILE_GRBG);
    EXPECT_EQ(pixel(rgb, 2, 0, 0), (Rgb{20, 10, 30}));
    EXPECT_EQ(pixel(rgb, 2, 1, 0), (Rgb{20, 25, 30})); // green mean of the two inside: 10, 40
    EXPECT_EQ(pixel(rgb, 2, 0, 1), (Rgb{20, 25, 30}));
    EXPECT_EQ(pixel(rgb, 2, 1, 1), (Rgb{20, 40, 30}));
}

// Arrangement 3, 4 x 4: the red site (1, 2) sees its green neighbours through the line test
// and its blue diagonals through the outlier rule.
std::vector<unsigned char> red_site_mosaic(int l, int r, int u, int d, const int diag[4])
{
    std::vector<unsigned char> m(16, 0);
    auto at = [&](int x, int y) -> unsigned char& { return m[size_t(y) * 4 + x]; };
    at(0, 2) = (unsigned char)l;
    at(2, 2) = (unsigned char)r;
    at(1, 1) = (unsigned char)u;
    at(1, 3) = (unsigned char)d;
    at(0, 1) = (unsigned char)diag[0];
    at(2, 1) = (unsigned char)diag[1];
    at(0, 3) = (unsigned char)diag[2];
    at(2, 3) = (unsigned char)diag[3];
    at(1, 2) = 77; // the red sample itself
    return m;
}

TEST(GpBayerDecode, RedSiteLineTestAndOutlier)
{
    const int diag[4] = {50, 52, 54, 250};
    std::vector<unsigned char> rgb =
        decode(red_site_mosaic(100, 104, 10, 200, diag), 4, 4, BAYER_TILE_GRBG);
    EXPECT_EQ(pixel(rgb, 4, 1, 2), (Rgb{77, 102, 52}));
}

TEST(GpBayerDecode, NeighbourEstimateCases)
{
    struct Case {
        const char* name;
        int l, r, u, d;
        int diag[4];
        int green, blue;
    };
    const Case cases[] = {
        // hd = 40000 > 2 * vd = 8: the mean along the vertical
        {"horizontal_difference_takes_vertical_mean", 0, 200, 100, 102, {10, 10, 10, 10}, 101, 10},
        // hd = 9 > 2 * vd = 8, just: still the vertical mean
        {"line_test_just_holds", 100, 103, 100, 102, {10, 10, 10, 10}, 101, 10},
        // hd = vd = 100: no edge; mean 25 with two values above it stands
        {"two_above_mean_keeps_mean", 10, 20, 30, 40, {100, 100, 200, 200}, 25, 150},
        // no edge; mean 20, only 30 above: (10 + 20 + 20) / 3
        {"one_above_mean_averages_the_rest", 10, 20, 20, 30, {50, 52, 54, 250}, 16, 52},
        // hd = 22500, vd = 12100: no edge; mean 135, three above: 540 / 3
        {"three_above_mean_average_them", 0, 150, 140, 250, {0, 90, 90, 90}, 180, 90},
        // hd = vd = 0: the four-value mean
        {"flat", 90, 90, 90, 90, {7, 7, 7, 7}, 90, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<unsigned char> rgb =
            decode(red_site_mosaic(c.l, c.r, c.u, c.d, c.diag), 4, 4, BAYER_TILE_GRBG);
        EXPECT_EQ(pixel(rgb, 4, 1, 2), (Rgb{77, c.green, c.blue}));
    }
}

TEST(GpBayerExpand, InterlacedAndNaturalRows)
{
    std::vector<unsigned char> mosaic = {1, 2, 3, 4, 5, 9, 9, 9, 9, 9};
    std::vector<unsigned char> rgb(3 * 10, 0xEE);
    gp_bayer_expand(mosaic.data(), 5, 2, rgb.data(), BAYER_TILE_GRBG_INTERLACED);
    const Rgb interlaced[5] = {{0, 3, 0}, {1, 0, 0}, {0, 4, 0}, {2, 0, 0}, {0, 5, 0}};
    for (int x = 0; x < 5; x++)
        EXPECT_EQ(pixel(rgb, 5, x, 0), interlaced[x]) << "column " << x;
    gp_bayer_expand(mosaic.data(), 5, 2, rgb.data(), BAYER_TILE_GRBG);
    const Rgb natural[5] = {{0, 1, 0}, {2, 0, 0}, {0, 3, 0}, {4, 0, 0}, {0, 5, 0}};
    for (int x = 0; x < 5; x++)
        EXPECT_EQ(pixel(rgb, 5, x, 0), natural[x]) << "column " << x;
}

TEST(GpBayerExpand, TopLeftTileOfEveryArrangement)
{
    // colour of (0,0), (1,0), (0,1), (1,1) for arrangements 0 to 3
    const int expected[4][4] = {{2, 1, 1, 0}, {1, 2, 0, 1}, {0, 1, 1, 2}, {1, 0, 2, 1}};
    for (int t = 0; t < 8; t++) {
        SCOPED_TRACE(t);
        // a 2 x 2 row is its own interlace: odd column 1 at byte 0, even column 0 at byte 1
        std::vector<unsigned char> mosaic = t < 4 ? std::vector<unsigned char>{11, 22, 33, 44}
                                                  : std::vector<unsigned char>{22, 11, 44, 33};
        std::vector<unsigned char> rgb(12, 0xEE);
        gp_bayer_expand(mosaic.data(), 2, 2, rgb.data(), BayerTile(t));
        const int values[4] = {11, 22, 33, 44};
        for (int i = 0; i < 4; i++) {
            const unsigned char* px = &rgb[3 * i];
            for (int c = 0; c < 3; c++)
                EXPECT_EQ(px[c], c == expected[t & 3][i] ? values[i] : 0)
                    << "pixel " << i << " channel " << c;
        }
    }
}

TEST(GpBayerDecode, InterlacedEqualsNaturalOfDeinterlacedRows)
{
    for (int w : {2, 5, 8, 13}) {
        const int h = 7;
        std::vector<unsigned char> natural = random_mosaic(w, h, 0, 100 + w);
        std::vector<unsigned char> interlaced(natural.size());
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const int src = (x & 1) ? x / 2 : w / 2 + x / 2;
                interlaced[size_t(y) * w + src] = natural[size_t(y) * w + x];
            }
        for (int t = 0; t < 4; t++) {
            SCOPED_TRACE(testing::Message() << "w " << w << " tile " << t);
            EXPECT_EQ(decode(interlaced, w, h, BayerTile(t + 4)),
                      decode(natural, w, h, BayerTile(t)));
        }
    }
}

TEST(GpBayerDecode, TileOutsideRangeInterpolatesUntouchedImageAsArrangement0)
{
    for (int t : {8, 9, 100, -1, -2147483647 - 1}) {
        SCOPED_TRACE(t);
        std::vector<unsigned char> before(3 * 30);
        for (size_t i = 0; i < before.size(); i++)
            before[i] = (unsigned char)(i * 37 + 11);
        std::vector<unsigned char> rgb = before;
        std::vector<unsigned char> mosaic(30, 0x55);
        gp_bayer_expand(mosaic.data(), 6, 5, rgb.data(), BayerTile(t));
        EXPECT_EQ(rgb, before);
        gp_bayer_decode(mosaic.data(), 6, 5, rgb.data(), BayerTile(t));
        std::vector<unsigned char> expected = before;
        gp_bayer_interpolate(expected.data(), 6, 5, BAYER_TILE_BGGR);
        EXPECT_EQ(rgb, expected);
    }
}

TEST(GpBayerDecode, ThinImagesHaveDefinedOutput)
{
    // 1 x 1: only the sample's own channel; nothing to estimate the others from.
    std::vector<unsigned char> rgb = decode({200}, 1, 1, BAYER_TILE_GRBG);
    EXPECT_EQ(pixel(rgb, 1, 0, 0), (Rgb{0, 200, 0}));
    // One row, arrangement 3: green 10, red 20, green 30. Greens have no row above or below.
    rgb = decode({10, 20, 30}, 3, 1, BAYER_TILE_GRBG);
    EXPECT_EQ(pixel(rgb, 3, 0, 0), (Rgb{20, 10, 0}));
    EXPECT_EQ(pixel(rgb, 3, 1, 0), (Rgb{20, 20, 0}));
    EXPECT_EQ(pixel(rgb, 3, 2, 0), (Rgb{20, 30, 0}));
    // One column, arrangement 3: green 10, blue 20, green 30.
    rgb = decode({10, 20, 30}, 1, 3, BAYER_TILE_GRBG);
    EXPECT_EQ(pixel(rgb, 1, 0, 0), (Rgb{0, 10, 20}));
    EXPECT_EQ(pixel(rgb, 1, 0, 1), (Rgb{0, 20, 20}));
    EXPECT_EQ(pixel(rgb, 1, 0, 2), (Rgb{0, 30, 20}));
    // Sizes below 1 write nothing.
    std::vector<unsigned char> untouched(12, 0xEE);
    std::vector<unsigned char> mosaic(4, 1);
    for (auto wh : {std::pair<int, int>{0, 2}, {2, 0}, {-1, 2}, {2, -5}}) {
        gp_bayer_decode(mosaic.data(), wh.first, wh.second, untouched.data(), BAYER_TILE_GRBG);
        EXPECT_EQ(untouched, std::vector<unsigned char>(12, 0xEE));
    }
}

// Every path this build has and this processor runs (always the portable one).
std::vector<BayerPath> runnable_paths()
{
    std::vector<BayerPath> paths;
    for (BayerPath p : {BAYER_PATH_PORTABLE, BAYER_PATH_SSE41, BAYER_PATH_AVX2})
        if (bayer_path_available(p))
            paths.push_back(p);
    return paths;
}

TEST(BayerPaths, BestPathIsRunnable)
{
    EXPECT_TRUE(bayer_path_available(BAYER_PATH_PORTABLE));
    EXPECT_TRUE(bayer_path_available(bayer_best_path()));
    for (BayerPath p : runnable_paths())
        EXPECT_LE(int(p), int(bayer_best_path()));
    std::printf("decode paths under test:");
    for (BayerPath p : runnable_paths())
        std::printf(" %d", int(p));
    std::printf("\n");
}

// The tuned routines against the plain reference on every runnable path and arrangement:
// all widths up to 40 (every remainder of the vector steps), wider odd and even ones, 1600.
TEST(GpBayerDecode, MatchesReferenceOnEveryPath)
{
    std::vector<std::pair<int, int>> sizes;
    for (int w = 1; w <= 40; w++)
        sizes.push_back({w, 1 + w % 7});
    for (int w : {63, 64, 65, 127, 1599, 1600, 1601})
        sizes.push_back({w, 5});
    sizes.push_back({1, 1});
    uint32_t seed = 1;
    for (BayerPath path : runnable_paths())
        for (const auto& s : sizes)
            for (int t = -1; t < 9; t++)
                for (int photo = 0; photo < 2; photo++) {
                    const int w = s.first, h = s.second;
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " tile " << t << " photo "
                                                    << photo << " path " << path);
                    std::vector<unsigned char> mosaic =
                        photo ? photographic_mosaic(w, h, 0, seed) : random_mosaic(w, h, 0, seed);
                    seed++;
                    std::vector<unsigned char> got(3 * size_t(w) * h, 0x5A), want = got;
                    gp_bayer_decode_on_path(mosaic.data(), w, h, got.data(), t, path);
                    ref_gp_bayer_decode(mosaic.data(), w, h, want.data(), BayerTile(t));
                    ASSERT_EQ(got, want);
                }
}

// Neighbourhoods that hit every branch of the estimate at once: all four values drawn from
// a few levels, so ties, one, two and three values above the mean and both line tests occur
// across the lanes of one vector.
TEST(GpBayerDecode, MatchesReferenceOnFewLevelMosaics)
{
    const unsigned char levels[] = {0, 1, 2, 3, 100, 101, 254, 255};
    for (BayerPath path : runnable_paths())
        for (uint32_t seed = 0; seed < 40; seed++) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " path " << path);
            const int w = 37 + int(seed % 5), h = 9;
            std::vector<unsigned char> mosaic = random_mosaic(w, h, 0, seed);
            for (unsigned char& b : mosaic)
                b = levels[b & 7];
            std::vector<unsigned char> got(3 * size_t(w) * h), want(got.size());
            gp_bayer_decode_on_path(mosaic.data(), w, h, got.data(), BAYER_TILE_GRBG, path);
            ref_gp_bayer_decode(mosaic.data(), w, h, want.data(), BAYER_TILE_GRBG);
            ASSERT_EQ(got, want);
        }
}

TEST(GpBayerInterpolate, MatchesReferenceOnUnexpandedImages)
{
    // In place on an image whose non-sample channels hold garbage: only sample channels count.
    for (int t : {0, 3, 5, 12}) {
        SCOPED_TRACE(t);
        std::vector<unsigned char> img = random_mosaic(3 * 19, 13, 0, 40 + t);
        std::vector<unsigned char> want = img;
        gp_bayer_interpolate(img.data(), 19, 13, BayerTile(t));
        ref_gp_bayer_interpolate(want.data(), 19, 13, BayerTile(t));
        EXPECT_EQ(img, want);
    }
}

} // namespace

// The renderer's 8-bit row kernels against its exact arithmetic (the portable path), on every
// pattern, sample width and level layout that takes them, at widths that leave the kernels a
// remainder: every byte within 1. Samples far above the white level stay in bounds and white.
TEST(VidRender8, KernelsMatchExactArithmetic)
{
    struct Case {
        int bytes, bits;
        double black, gain_r;
    } cases[] = {{2, 12, 0, 1}, {2, 12, 256, 1.9}, {2, 16, 0, 1}, {2, 14, 100, 2.5}, {1, 8, 16, 1}};
    for (BayerPath path : {BAYER_PATH_SSE41, BAYER_PATH_AVX2}) {
        if (!bayer_path_available(path))
            continue;
        for (const Case& c : cases)
            for (VidCfa cfa : {VidCfa::rggb, VidCfa::bggr, VidCfa::grbg, VidCfa::gbrg})
                for (int w : {5, 37, 64}) {
                    const int h = 9;
                    std::vector<unsigned char> samples =
                        photographic_mosaic(w, h, c.bytes == 2, 7, (1u << c.bits) - 1);
                    VidSensor s =
                        vid_sensor_default(c.bytes == 2 ? VidKind::bayer16 : VidKind::bayer8, w);
                    s.described = true;
                    s.cfa = cfa;
                    s.bit_depth = c.bits;
                    s.white = (1 << c.bits) - 1;
                    for (double& b : s.black)
                        b = c.black;
                    s.gains[0] = c.gain_r;
                    std::vector<unsigned char> want(3 * size_t(w) * h), got(want.size());
                    ASSERT_TRUE(vid_render8_on_path(s, samples.data(), c.bytes, w, h, want.data(),
                                                    3, false, BAYER_PATH_PORTABLE, nullptr));
                    ASSERT_TRUE(vid_render8_on_path(s, samples.data(), c.bytes, w, h, got.data(), 3,
                                                    false, path, nullptr));
                    for (size_t i = 0; i < want.size(); i++)
                        ASSERT_LE(std::abs(int(got[i]) - int(want[i])), 1)
                            << "path " << path << ", " << c.bits << " bits, " << vid_cfa_name(cfa)
                            << ", width " << w << ", byte " << i;
                    if (c.bytes == 2) {
                        for (size_t i = 0; i < samples.size(); i += 7)
                            samples[i + 1 - i % 2] = 0xFF; // 0xFFxx or 0xxxFF: above white
                        ASSERT_TRUE(vid_render8_on_path(s, samples.data(), 2, w, h, got.data(), 3,
                                                        false, path, nullptr));
                    }
                }
    }
}
