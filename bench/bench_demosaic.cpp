// Demosaic throughput: bayer_interpolate_MT against the plain per-pixel reference run on the
// same slices with the same number of workers, on 1600 x 1200 photographic mosaics of two
// and one bytes per sample, in one run. Also every runnable kernel path on one worker.
// Prints Mpixel/s and the ratios. Runs alternate between the contenders so that a busy
// machine slows all of them alike; the fastest run of each counts (on a shared machine the
// slower runs measure the neighbours' load more than the code).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#if VID_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "threading.h"
#include "bayer.h"
#include "bayer_interpolate_MT.h"
#include "bayer_simd.h"
#include "compress_uncompress_MT.h"
#include "demosaic_images.h"
#include "demosaic_reference.h"

namespace {

const unsigned kWidth = 1600, kHeight = 1200;

struct RefSlice {
    const unsigned char* mosaic;
    unsigned char* rgb;
    unsigned width;
    unsigned parts[2];
    int two_bytes;
};

void* ref_slice_thread(void* arg)
{
    RefSlice* s = static_cast<RefSlice*>(arg);
    ref_demosaic_slices(s->mosaic, s->rgb, s->width, s->parts, 1, s->two_bytes, 1.0f, 1.33f, 3.05f);
    return nullptr;
}

// The reference on the slices and workers bayer_interpolate_MT would use.
void ref_demosaic_MT(const unsigned char* mosaic, unsigned char* rgb, unsigned w, unsigned h,
                     int two_bytes)
{
    const unsigned n = bayer_num_threads(h, get_num_processing_cores());
    std::vector<unsigned> parts(n + 1);
    bayer_row_partitions(h, n, parts.data());
    std::vector<RefSlice> slices(n);
    std::vector<THREAD_HANDLE> threads(n);
    for (unsigned i = 0; i < n; i++) {
        slices[i] = {mosaic, rgb, w, {parts[i], parts[i + 1]}, two_bytes};
        if (start_processing_thread(threads[i], ref_slice_thread, &slices[i]) != 0) {
            fprintf(stderr, "cannot start a reference worker\n");
            exit(1);
        }
    }
    join_processing_threads(int(n), threads.data());
}

double seconds(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Runs every contender `rounds` times, interleaved, and returns the best times.
std::vector<double> best_times(const std::vector<std::function<void()>>& contenders, int rounds)
{
    std::vector<std::vector<double>> t(contenders.size());
    for (const auto& f : contenders)
        f(); // warm caches and pages
    for (int r = 0; r < rounds; r++)
        for (size_t i = 0; i < contenders.size(); i++)
            t[i].push_back(seconds(contenders[i]));
    std::vector<double> best;
    for (auto& v : t)
        best.push_back(*std::min_element(v.begin(), v.end()));
    return best;
}

const char* path_name(BayerPath p)
{
    return p == BAYER_PATH_AVX2 ? "avx2" : p == BAYER_PATH_SSE41 ? "sse4.1" : "portable";
}

double mpix(double s)
{
    return double(kWidth) * kHeight / s / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    const unsigned workers = bayer_num_threads(kHeight, get_num_processing_cores());
    printf("demosaic of %u x %u photographic mosaics, %u worker(s), best of %d runs\n", kWidth,
           kHeight, workers, rounds);
    bool ok = true;
    for (int two : {1, 0}) {
        std::vector<unsigned char> mosaic = photographic_mosaic(kWidth, kHeight, two, 2024);
        std::vector<unsigned char> out(3 * size_t(kWidth) * kHeight), ref(out.size());

        // Equal output first: a fast wrong answer is no answer.
        bayer_interpolate_MT(mosaic.data(), out.data(), kWidth, kHeight, two);
        ref_demosaic_MT(mosaic.data(), ref.data(), kWidth, kHeight, two);
        if (out != ref) {
            printf("MISMATCH between bayer_interpolate_MT and the reference (%s)\n",
                   two ? "two-byte" : "one-byte");
            ok = false;
        }

        std::vector<std::function<void()>> c = {
            [&] { bayer_interpolate_MT(mosaic.data(), out.data(), kWidth, kHeight, two); },
            [&] { ref_demosaic_MT(mosaic.data(), ref.data(), kWidth, kHeight, two); },
        };
        std::vector<BayerPath> paths;
        for (BayerPath p : {BAYER_PATH_PORTABLE, BAYER_PATH_SSE41, BAYER_PATH_AVX2})
            if (bayer_path_available(p)) {
                paths.push_back(p);
                c.push_back([&, p] {
                    if (two)
                        bayer_interpolate_frame_on_path(mosaic.data(), out.data(), int(kWidth),
                                                        int(kHeight), p);
                    else
                        gp_bayer_decode_on_path(mosaic.data(), int(kWidth), int(kHeight),
                                                out.data(), BAYER_TILE_GRBG, p);
                });
            }
#if VID_BENCH_OPENCV
        // OpenCV on the same frame and number of workers: its edge-aware demosaic for
        // 16-bit samples, VNG for 8-bit ones (it has no 16-bit VNG). Its output stays 16-bit.
        cv::setNumThreads(int(workers));
        cv::Mat cv_in(int(kHeight), int(kWidth), two ? CV_16UC1 : CV_8UC1, mosaic.data());
        cv::Mat cv_out;
        const int cv_code = two ? cv::COLOR_BayerBG2RGB_EA : cv::COLOR_BayerBG2RGB_VNG;
        c.push_back([&] { cv::cvtColor(cv_in, cv_out, cv_code); });
        cv::setNumThreads(1);
        c.push_back([&] {
            cv::setNumThreads(1);
            cv::cvtColor(cv_in, cv_out, cv_code);
            cv::setNumThreads(int(workers));
        });
        const size_t cv_index = c.size() - 2;
#endif
        c.push_back([&] {
            ref_demosaic_slices(mosaic.data(), ref.data(), kWidth,
                                std::vector<unsigned>{0, kHeight}.data(), 1, two, 1.0f, 1.33f,
                                3.05f);
        });
        const std::vector<double> t = best_times(c, rounds);
        const double ref_one = t.back();
        printf("\n%s samples\n", two ? "two-byte" : "one-byte");
        printf(
            "  bayer_interpolate_MT   %8.1f Mpixel/s   reference, same slices %8.1f   ratio %.2f\n",
            mpix(t[0]), mpix(t[1]), t[1] / t[0]);
        for (size_t i = 0; i < paths.size(); i++)
            printf(
                "  one worker, %-9s %8.1f Mpixel/s   reference, one worker  %8.1f   ratio %.2f\n",
                path_name(paths[i]), mpix(t[2 + i]), mpix(ref_one), ref_one / t[2 + i]);
#if VID_BENCH_OPENCV
        const char* cv_name = two ? "OpenCV edge-aware 16-bit" : "OpenCV VNG 8-bit";
        printf("  %s, %u worker(s) %8.1f Mpixel/s   bayer_interpolate_MT is %.2f times as fast\n",
               cv_name, workers, mpix(t[cv_index]), t[cv_index] / t[0]);
        printf("  %s, one worker  %8.1f Mpixel/s   best path, one worker, is %.2f times as fast\n",
               cv_name, mpix(t[cv_index + 1]), t[cv_index + 1] / t[2 + paths.size() - 1]);
#endif
    }
    return ok ? 0 : 1;
}
