// The two-byte demosaic (worked examples, pattern by width, the edge test, the gains and
// white_balance, thin frames), and the stand-alone header reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bayer_simd.h"
#include "demosaic_images.h"
#include "demosaic_reference.h"
#include "read-frame.h"

namespace {

const float kInitialGains[3] = {1.0f, 1.33f, 3.05f};

// Every test leaves the process-wide gains at their initial values.
class BayerInterpolateFrame : public testing::Test {
  protected:
    void TearDown() override
    {
        white_balance(kInitialGains[0], kInitialGains[1], kInitialGains[2]);
    }
};

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& p)
{
    return os << "(" << p.r << ", " << p.g << ", " << p.b << ")";
}

// Two-byte mosaic builder, samples given row by row.
std::vector<unsigned char> mosaic16(const std::vector<int>& samples)
{
    std::vector<unsigned char> m;
    for (int v : samples) {
        m.push_back((unsigned char)(v & 0xff));
        m.push_back((unsigned char)(v >> 8));
    }
    return m;
}
std::vector<unsigned char> flat16(int w, int h, int value)
{
    return mosaic16(std::vector<int>(size_t(w) * h, value));
}

std::vector<unsigned char> demosaic(std::vector<unsigned char> mosaic, int w, int h)
{
    std::vector<unsigned char> rgb(3 * size_t(w) * h, 0xEE);
    bayer_interpolate_frame(mosaic.data(), rgb.data(), w, h);
    return rgb;
}
Rgb pixel(const std::vector<unsigned char>& rgb, int w, int x, int y)
{
    const unsigned char* p = &rgb[3 * (size_t(y) * w + x)];
    return {p[0], p[1], p[2]};
}

TEST_F(BayerInterpolateFrame, TwoByTwoMirrorsEveryNeighbour)
{
    const std::vector<unsigned char> rgb = demosaic(mosaic16({100, 200, 300, 400}), 2, 2);
    EXPECT_EQ(pixel(rgb, 2, 0, 0), (Rgb{100, 83, 76}));
    EXPECT_EQ(pixel(rgb, 2, 1, 0), (Rgb{100, 66, 76}));
    EXPECT_EQ(pixel(rgb, 2, 0, 1), (Rgb{100, 99, 76}));
    EXPECT_EQ(pixel(rgb, 2, 1, 1), (Rgb{100, 83, 76}));
}

TEST_F(BayerInterpolateFrame, FlatFieldSaturatesGreenAndBlue)
{
    const std::vector<unsigned char> rgb = demosaic(flat16(7, 5, 1000), 7, 5);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 7; x++)
            ASSERT_EQ(pixel(rgb, 7, x, y), (Rgb{250, 255, 255})) << x << "," << y;
}

TEST_F(BayerInterpolateFrame, GainRoundingOfEachChannel)
{
    struct Case {
        int sample;
        Rgb expected;
    };
    const Case cases[] = {
        {1023, {255, 255, 255}}, // red 255.75
        {1024, {255, 255, 255}}, // red 256: clamped
        {512, {128, 170, 255}},  // green 170.24
        {766, {191, 254, 255}},  // green 254.695
        {767, {191, 255, 255}},  // green 255.0275: saturates
        {300, {75, 99, 228}},    // blue 228.75
        {0, {0, 0, 0}},          {65535, {255, 255, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sample);
        EXPECT_EQ(pixel(demosaic(flat16(4, 4, c.sample), 4, 4), 4, 1, 1), c.expected);
    }
}

// The product is rounded to single precision before it is truncated: find samples whose
// exact product lies just below an integer that the float product reaches, and check that
// every path gives the float answer.
TEST_F(BayerInterpolateFrame, GainProductIsRoundedToSinglePrecision)
{
    int found = 0;
    for (float gain : {0.011f, 0.3f, 0.77f, 1.9f}) {
        const float k = gain * 0.25f;
        for (int c = 1; c < 65536 && found < 6; c++) {
            const float p = float(c) * k;
            const double exact = double(c) * double(k);
            if (p > 255.0f || std::floor(double(p)) == std::floor(exact))
                continue;
            found++;
            SCOPED_TRACE(testing::Message() << "sample " << c << " gain " << gain);
            white_balance(gain, gain, gain);
            for (BayerPath path : {BAYER_PATH_PORTABLE, BAYER_PATH_SSE41, BAYER_PATH_AVX2}) {
                if (!bayer_path_available(path))
                    continue;
                std::vector<unsigned char> m = flat16(40, 5, c), rgb(3 * 40 * 5);
                bayer_interpolate_frame_on_path(m.data(), rgb.data(), 40, 5, path);
                for (unsigned char b : rgb)
                    ASSERT_EQ(int(b), int(p)) << "path " << path;
            }
        }
    }
    EXPECT_GT(found, 0) << "no sample separates single from double precision";
}

TEST_F(BayerInterpolateFrame, SamplesAreLittleEndian)
{
    std::vector<unsigned char> m(2 * 16);
    for (size_t i = 0; i < m.size(); i += 2) {
        m[i] = 0x01;
        m[i + 1] = 0x02;
    }
    // 513 * 0.25 = 128.25; big-endian 258 would give 64
    EXPECT_EQ(pixel(demosaic(m, 4, 4), 4, 2, 2).r, 128);
}

// Width 1600 reads "grbG": (0,0) is green with red left and right. Other widths read "bGgr":
// (0,0) is blue. A ramp tells the channels apart.
TEST_F(BayerInterpolateFrame, PatternDependsOnWidth)
{
    for (int w : {1599, 1600, 1601}) {
        SCOPED_TRACE(w);
        std::vector<int> samples(size_t(w) * 4);
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < w; x++)
                samples[size_t(y) * w + x] = (x == 0 && y == 0) ? 40 : (x + y == 1 ? 400 : 8);
        const std::vector<unsigned char> rgb = demosaic(mosaic16(samples), w, 4);
        const Rgb p = pixel(rgb, w, 0, 0);
        if (w == 1600) {
            // green site: green = own 40; red = mirrored (1,0) = 400; blue = mirrored (0,1)
            EXPECT_EQ(p, (Rgb{100, 13, 255}));
        } else {
            // blue site: blue = own 40; red = diagonal (1,1) x4 >> 2 = 8; dh = |V(0,0)-V(2,0)|
            // = 32 = dv, so green = four-neighbour mean 400
            EXPECT_EQ(p, (Rgb{2, 133, 30}));
        }
    }
}

// 5 x 5, "bGgr": (2,2) is a blue site. dh from columns 0 and 4 of row 2, dv from rows 0 and
// 4 of column 2; left/right neighbours 100, up/down 300.
int green_at_blue_site(int dh, int dv)
{
    std::vector<int> s(25, 0);
    s[2 * 5 + 4] = dh;
    s[4 * 5 + 2] = dv;
    s[2 * 5 + 1] = s[2 * 5 + 3] = 100;
    s[1 * 5 + 2] = s[3 * 5 + 2] = 300;
    return pixel(demosaic(mosaic16(s), 5, 5), 5, 2, 2).g;
}

TEST_F(BayerInterpolateFrame, EdgeTestIsStrictInDoublePrecision)
{
    EXPECT_EQ(green_at_blue_site(11, 10), 66); // 1.1 * 10 > 11 in double: the four-mean 200
    EXPECT_EQ(green_at_blue_site(12, 10), 99); // dh > 1.1 dv: vertical 300
    EXPECT_EQ(green_at_blue_site(10, 12), 33); // dv > 1.1 dh: horizontal 100
    EXPECT_EQ(green_at_blue_site(0, 0), 66);
    EXPECT_EQ(green_at_blue_site(1, 0), 99);
    EXPECT_EQ(green_at_blue_site(0, 1), 33);
    EXPECT_EQ(green_at_blue_site(65535, 59577), 99); // 1.1 * 59577 = 65534.7
    EXPECT_EQ(green_at_blue_site(65535, 59578), 66); // 1.1 * 59578 = 65535.8
}

// The tuned code runs the edge test as 10 * dh > 11 * dv in integers. Both tests are
// monotone in dh, so agreeing next to the boundary for every dv means agreeing everywhere.
TEST(EdgeTest, IntegerFormEqualsDoubleForEverySixteenBitDifference)
{
    for (int64_t dv = 0; dv <= 65535; dv++) {
        const int64_t boundary = (11 * dv) / 10;
        for (int64_t dh = boundary - 2; dh <= boundary + 2; dh++) {
            if (dh < 0 || dh > 65535)
                continue;
            ASSERT_EQ(double(dh) > 1.1 * double(dv), 10 * dh > 11 * dv) << dh << " " << dv;
            ASSERT_EQ(double(dv) > 1.1 * double(dh), 10 * dv > 11 * dh) << dv << " " << dh;
        }
    }
}

TEST_F(BayerInterpolateFrame, WhiteBalanceChangesLaterFrames)
{
    const std::vector<unsigned char> m = flat16(4, 4, 400);
    EXPECT_EQ(pixel(demosaic(m, 4, 4), 4, 0, 0), (Rgb{100, 133, 255}));
    white_balance(2.0f, 1.0f, 0.5f); // 400 * 0.5, 400 * 0.25, 400 * 0.125
    EXPECT_EQ(pixel(demosaic(m, 4, 4), 4, 0, 0), (Rgb{200, 100, 50}));
    white_balance(-1.0f, std::numeric_limits<float>::quiet_NaN(),
                  std::numeric_limits<float>::infinity());
    EXPECT_EQ(pixel(demosaic(m, 4, 4), 4, 0, 0), (Rgb{0, 0, 255}));
    // a zero sample times an infinite gain is not a number: 0
    EXPECT_EQ(pixel(demosaic(flat16(4, 4, 0), 4, 4), 4, 0, 0), (Rgb{0, 0, 0}));
}

TEST_F(BayerInterpolateFrame, ThinFramesStayInside)
{
    // 1 x 1 "b" site: own 100 blue 76, red = diagonal 100 -> 25, green = mean 100 -> 33
    EXPECT_EQ(pixel(demosaic(mosaic16({100}), 1, 1), 1, 0, 0), (Rgb{25, 33, 76}));
    // One row and one column: the missing neighbour is the pixel itself.
    const std::vector<int> ramp = {100, 200, 300, 400, 500};
    std::vector<unsigned char> row = demosaic(mosaic16(ramp), 5, 1);
    std::vector<unsigned char> col = demosaic(mosaic16(ramp), 1, 5);
    // (1,0) of the row is a "G" site: red from itself 200 (no row above or below),
    // blue from 100 and 300
    EXPECT_EQ(pixel(row, 5, 1, 0), (Rgb{50, 66, 152}));
    // (0,1) of the column is a "g" site: red from itself, blue from 100 and 300
    EXPECT_EQ(pixel(col, 1, 0, 1), (Rgb{50, 66, 152}));
    std::vector<unsigned char> untouched(30, 0xEE);
    const std::vector<unsigned char> m = flat16(5, 2, 9);
    for (auto wh : {std::pair<int, int>{0, 2}, {5, 0}, {-3, 2}, {5, -1}})
        bayer_interpolate_frame(const_cast<unsigned char*>(m.data()), untouched.data(), wh.first,
                                wh.second);
    EXPECT_EQ(untouched, std::vector<unsigned char>(30, 0xEE));
}

// The tuned demosaic against the plain reference on every runnable path: all widths up to
// 40 (every remainder of the vector steps), wider odd and even ones and width 1600, random
// samples over the whole 16-bit range and photographic content, initial and other gains.
TEST_F(BayerInterpolateFrame, MatchesReferenceOnEveryPath)
{
    std::vector<std::pair<int, int>> sizes;
    for (int w = 1; w <= 40; w++)
        sizes.push_back({w, 1 + w % 6});
    for (int w : {63, 64, 65, 130, 1599, 1600, 1601})
        sizes.push_back({w, 6});
    const float gains[][3] = {{1.0f, 1.33f, 3.05f}, {0.37f, 2.9f, 0.011f}, {64.0f, 0.5f, 1e-3f}};
    std::vector<BayerPath> paths;
    for (BayerPath p : {BAYER_PATH_PORTABLE, BAYER_PATH_SSE41, BAYER_PATH_AVX2})
        if (bayer_path_available(p))
            paths.push_back(p);
    uint32_t seed = 11;
    for (BayerPath path : paths)
        for (const auto& g : gains) {
            white_balance(g[0], g[1], g[2]);
            for (const auto& s : sizes)
                for (int kind = 0; kind < 3; kind++) {
                    const int w = s.first, h = s.second;
                    SCOPED_TRACE(testing::Message()
                                 << w << "x" << h << " kind " << kind << " gains " << g[0] << ","
                                 << g[1] << "," << g[2] << " path " << path);
                    std::vector<unsigned char> m =
                        kind == 0 ? random_mosaic(w, h, 1, seed)
                                  : photographic_mosaic(w, h, 1, seed, kind == 1 ? 4095 : 65535);
                    seed++;
                    std::vector<unsigned char> got(3 * size_t(w) * h, 0x5A), want = got;
                    bayer_interpolate_frame_on_path(m.data(), got.data(), w, h, path);
                    ref_bayer_interpolate_frame(m.data(), want.data(), w, h, g[0], g[1], g[2]);
                    ASSERT_EQ(got, want);
                }
        }
}

// Differences right at the edge test's boundary in every lane: dh and dv drawn so that
// 10 * dh - 11 * dv is within a few units of zero, with large and small magnitudes.
TEST_F(BayerInterpolateFrame, MatchesReferenceAtTheEdgeTestBoundary)
{
    const int w = 70, h = 30;
    std::vector<BayerPath> paths;
    for (BayerPath p : {BAYER_PATH_PORTABLE, BAYER_PATH_SSE41, BAYER_PATH_AVX2})
        if (bayer_path_available(p))
            paths.push_back(p);
    std::mt19937 rng(5);
    for (int round = 0; round < 200; round++) {
        std::vector<int> s(size_t(w) * h);
        for (int& v : s)
            v = int(rng() % 65536);
        // Blue sites (2 + 6i, 2 + 6j) and red sites (5 + 6i, 5 + 6j): pick dv, then set the
        // samples two columns apart so that dh lands next to 1.1 * dv. The spacing keeps the
        // samples one site sets apart from those of every other.
        for (int y = 2; y < h - 2; y += 3)
            for (int x = (y % 6 == 2) ? 2 : 5; x < w - 2; x += 6) {
                const int dv = int(rng() % (round < 100 ? 59578 : 40));
                const int dh = std::max(0, std::min(65535, (11 * dv) / 10 + int(rng() % 5) - 2));
                const bool swap = rng() & 1; // also dv next to 1.1 * dh
                s[size_t(y - 2) * w + x] = 0;
                s[size_t(y + 2) * w + x] = swap ? dh : dv;
                s[size_t(y) * w + x - 2] = 0;
                s[size_t(y) * w + x + 2] = swap ? dv : dh;
            }
        const std::vector<unsigned char> m = mosaic16(s);
        std::vector<unsigned char> want(3 * size_t(w) * h);
        ref_bayer_interpolate_frame(m.data(), want.data(), w, h, 1.0f, 1.33f, 3.05f);
        for (BayerPath path : paths) {
            std::vector<unsigned char> got(3 * size_t(w) * h);
            bayer_interpolate_frame_on_path(const_cast<unsigned char*>(m.data()), got.data(), w, h,
                                            path);
            ASSERT_EQ(got, want) << "round " << round << " path " << path;
        }
    }
}

// ---------------------------------------------------------------------------------------
// file_statistics and read_frame

std::string temp_file(const std::string& name, const std::vector<unsigned char>& bytes)
{
    const std::string path = testing::TempDir() + name;
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
        if (!bytes.empty()) {
            EXPECT_EQ(fwrite(bytes.data(), bytes.size(), 1, f), 1u);
        }
        fclose(f);
    }
    return path;
}

TEST(FileStatistics, ReadsRawHeaderFields)
{
    // width field 0x8640 (a Bayer marker, kept raw), height 480, frame count -3
    std::string path =
        temp_file("stats_ok.vid", {0x40, 0x86, 0xE0, 0x01, 0xFD, 0xFF, 0xFF, 0xFF, 7});
    int n = 0, w = 0, h = 0;
    EXPECT_EQ(file_statistics(&path[0], &n, &w, &h), 0);
    EXPECT_EQ(w, 0x8640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(n, -3);
    EXPECT_EQ(file_statistics(&path[0], nullptr, nullptr, nullptr), 0);
    int only_h = 0;
    EXPECT_EQ(file_statistics(&path[0], nullptr, nullptr, &only_h), 0);
    EXPECT_EQ(only_h, 480);
    remove(path.c_str());
}

TEST(FileStatistics, RefusesShortAndMissingFiles)
{
    std::string path = temp_file("stats_short.vid", {1, 2, 3, 4, 5});
    int n = 12345;
    testing::internal::CaptureStderr();
    EXPECT_EQ(file_statistics(&path[0], &n, nullptr, nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), path + ": unexpected end of file\n");
    EXPECT_EQ(n, 12345);
    remove(path.c_str());

    std::string missing = testing::TempDir() + "stats_no_such_file.vid";
    testing::internal::CaptureStderr();
    EXPECT_EQ(file_statistics(&missing[0], &n, nullptr, nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind(missing + ": ", 0), 0u);
}

TEST(ReadFrame, DoesNothing)
{
    int w = 5, h = 6;
    char path[] = "/nonexistent";
    EXPECT_EQ(read_frame(path, 3, &w, &h), 0);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 6);
}

} // namespace
