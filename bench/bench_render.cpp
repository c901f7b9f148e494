// Rendering described clips (vid_render.h), in one run:
//   sharpness: PSNR against the full-colour original of the shipped photograph, mosaicked in
//   each of the four patterns, next to OpenCV's edge-aware and bilinear Bayer conversions of
//   the same mosaics (when the bench build found OpenCV);
//   speed: a 1600 x 1200 12-bit RGGB frame rendered to 8-bit RGB next to the fixed two-byte
//   demosaic (bayer_interpolate_MT) of the same samples, and to OpenCV's edge-aware one; best
//   of interleaved runs.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#if VID_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "bayer_interpolate_MT.h"
#include "compress_uncompress_MT.h"
#include "demosaic_images.h"
#include "threading.h"
#include "vid_render.h"
#include "vid_sensor.h"

namespace {

// The shipped photograph as RGB, or empty.
std::vector<unsigned char> photograph(int& w, int& h)
{
    FILE* f = fopen(VID_SAMPLES_DIR "/photo320x240.ppm.zlib", "rb");
    std::vector<unsigned char> packed;
    if (f == nullptr)
        return {};
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        packed.insert(packed.end(), chunk, chunk + n);
    fclose(f);
    // The photograph is kept as a blocked-compress buffer of its PPM bytes.
    unsigned char* expanded = nullptr;
    unsigned long size = 0;
    const int rc =
        vid_codec_expand(expanded, size, packed.data(), packed.size(), 1, nullptr, nullptr);
    std::vector<unsigned char> ppm(expanded, expanded + (rc == 0 ? size : 0));
    delete[] expanded;
    if (rc != 0)
        return {};
    int maxval = 0, used = 0;
    if (sscanf(reinterpret_cast<const char*>(ppm.data()), "P6 %d %d %d%n", &w, &h, &maxval,
               &used) != 3)
        return {};
    const unsigned char* pixels = ppm.data() + used + 1;
    return std::vector<unsigned char>(pixels, pixels + size_t(w) * h * 3);
}

// The photograph through pattern `cfa`: 16-bit samples (8 bits scaled by 257).
std::vector<uint16_t> mosaic_of(const std::vector<unsigned char>& rgb, int w, int h, VidCfa cfa)
{
    std::vector<uint16_t> m(size_t(w) * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const int c = int(std::string("RGB").find(vid_cfa_site(cfa, x, y)));
            m[size_t(y) * w + x] = uint16_t(rgb[(size_t(y) * w + x) * 3 + size_t(c)] * 257);
        }
    return m;
}

// PSNR of `got` against `want` (8-bit RGB), leaving out a 4-pixel border.
double psnr(const unsigned char* got, const unsigned char* want, int w, int h)
{
    double sum = 0;
    size_t n = 0;
    for (int y = 4; y < h - 4; y++)
        for (int x = 4; x < w - 4; x++)
            for (int c = 0; c < 3; c++) {
                const double d = double(got[(size_t(y) * w + x) * 3 + c]) -
                                 double(want[(size_t(y) * w + x) * 3 + c]);
                sum += d * d;
                n++;
            }
    return 10 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

double seconds(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    int w = 0, h = 0;
    const std::vector<unsigned char> photo = photograph(w, h);
    if (photo.empty()) {
        fprintf(stderr, "bench_render: the shipped photograph cannot be read\n");
        return 1;
    }
    printf("render: PSNR (dB) against the %d x %d photograph, mosaicked in each pattern\n", w, h);
    for (VidCfa cfa : {VidCfa::rggb, VidCfa::bggr, VidCfa::grbg, VidCfa::gbrg}) {
        const std::vector<uint16_t> m = mosaic_of(photo, w, h, cfa);
        VidSensor s = vid_sensor_default(VidKind::bayer16, w);
        s.described = true;
        s.cfa = cfa;
        std::vector<unsigned char> out(photo.size());
        vid_render8(s, reinterpret_cast<const unsigned char*>(m.data()), 2, w, h, out.data(), 3,
                    false, nullptr);
        printf("  %s  vid_render %.2f", vid_cfa_name(cfa), psnr(out.data(), photo.data(), w, h));
#if VID_BENCH_OPENCV
        // OpenCV names its patterns by another tile than the first; of its four codes the one
        // that matches the pattern is far the best, so the best of the four is taken.
        const int ea[] = {cv::COLOR_BayerBG2RGB_EA, cv::COLOR_BayerRG2RGB_EA,
                          cv::COLOR_BayerGR2RGB_EA, cv::COLOR_BayerGB2RGB_EA};
        const int bilinear[] = {cv::COLOR_BayerBG2RGB, cv::COLOR_BayerRG2RGB, cv::COLOR_BayerGR2RGB,
                                cv::COLOR_BayerGB2RGB};
        cv::Mat in(h, w, CV_16UC1, const_cast<uint16_t*>(m.data())), rgb16, rgb8;
        for (const auto& family :
             {std::make_pair("edge-aware", ea), std::make_pair("bilinear", bilinear)}) {
            double best = 0;
            for (int i = 0; i < 4; i++) {
                cv::cvtColor(in, rgb16, family.second[i]);
                rgb16.convertTo(rgb8, CV_8UC3, 1.0 / 257.0);
                best = std::max(best, psnr(rgb8.data, photo.data(), w, h));
            }
            printf("   OpenCV %s %.2f", family.first, best);
        }
#endif
        printf("\n");
    }

    const unsigned W = 1600, H = 1200;
    const std::vector<unsigned char> mosaic = photographic_mosaic(W, H, 1, 2024);
    std::vector<unsigned char> out(3 * size_t(W) * H);
    VidSensor s = vid_sensor_default(VidKind::bayer16, W);
    s.described = true;
    s.cfa = VidCfa::rggb;
    s.bit_depth = 12;
    s.white = 4095;
    s.gains[0] = 1.9;
    s.gains[2] = 1.6;
    std::vector<uint16_t> out16(3 * size_t(W) * H);
    std::vector<std::function<void()>> c = {
        [&] { vid_render8(s, mosaic.data(), 2, int(W), int(H), out.data(), 3, false, nullptr); },
        [&] {
            bayer_interpolate_MT(const_cast<unsigned char*>(mosaic.data()), out.data(), W, H, 1);
        },
        [&] { vid_render8(s, mosaic.data(), 2, int(W), int(H), out.data(), 3, true, nullptr); },
        [&] { vid_render16(s, mosaic.data(), 2, int(W), int(H), out16.data(), 3, nullptr); },
    };
#if VID_BENCH_OPENCV
    cv::setNumThreads(get_num_processing_cores());
    cv::Mat in(int(H), int(W), CV_16UC1, const_cast<unsigned char*>(mosaic.data())), cv_out;
    c.push_back([&] { cv::cvtColor(in, cv_out, cv::COLOR_BayerBG2RGB_EA); });
#endif
    std::vector<std::vector<double>> t(c.size());
    for (auto& f : c)
        f();
    for (int r = 0; r < rounds; r++)
        for (size_t i = 0; i < c.size(); i++)
            t[i].push_back(seconds(c[i]));
    std::vector<double> best;
    for (auto& v : t)
        best.push_back(*std::min_element(v.begin(), v.end()));
    const double mp = double(W) * H / 1e6;
    printf("render: 1600 x 1200 12-bit RGGB to 8-bit RGB, %d processors, best of %d runs\n",
           get_num_processing_cores(), rounds);
    printf("  vid_render (levels, gains)   %7.1f Mpixel/s\n", mp / best[0]);
    printf("  fixed two-byte demosaic      %7.1f Mpixel/s   vid_render is %.2f times as fast\n",
           mp / best[1], best[1] / best[0]);
    printf("  vid_render, sRGB bytes       %7.1f Mpixel/s\n", mp / best[2]);
    printf("  vid_render, 16-bit output    %7.1f Mpixel/s\n", mp / best[3]);
#if VID_BENCH_OPENCV
    printf("  OpenCV edge-aware 16-bit     %7.1f Mpixel/s   vid_render is %.2f times as fast\n",
           mp / best[4], best[4] / best[0]);
#endif
    return 0;
}
