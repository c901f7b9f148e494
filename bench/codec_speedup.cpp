// Speed-up of the blocked codec over one zlib call on the whole frame, measured side by side
// in one process: compress_MT against compress2 at level 9, uncompress_MT against zlib's
// uncompress of that single stream. Built for Linux and for Windows (run under Wine), so the
// two platforms' ratios can be set next to each other in one run (scripts/bench-windows.sh).
//
// Usage: codec_speedup [repetitions]     prints one line per operation:
//   <platform> <operation> single_ms=<median> mt_ms=<median> speedup=<single/mt> workers=<n>
#include "threading.h"
#include "compress_uncompress_MT.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// A 1280 x 720 RGB frame: gradients with some texture, compressible like camera frames.
std::vector<unsigned char> make_frame()
{
    const int w = 1280, h = 720;
    std::vector<unsigned char> f(size_t(w) * h * 3);
    uint32_t s = 12345;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            s = s * 1664525u + 1013904223u;
            unsigned char* p = &f[(size_t(y) * w + x) * 3];
            p[0] = (unsigned char)(x / 5 + (s >> 29));
            p[1] = (unsigned char)(y / 3 + ((s >> 26) & 3));
            p[2] = (unsigned char)((x + y) / 7);
        }
    return f;
}

template <class F> double median_ms(int reps, F&& run)
{
    std::vector<double> t;
    for (int i = 0; i < reps; i++) {
        auto a = std::chrono::steady_clock::now();
        if (!run()) {
            fprintf(stderr, "codec_speedup: a codec call failed\n");
            exit(1);
        }
        auto b = std::chrono::steady_clock::now();
        t.push_back(std::chrono::duration<double, std::milli>(b - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int reps = argc > 1 ? atoi(argv[1]) : 9;
    if (reps < 1)
        reps = 1;
#ifndef CODEC_SPEEDUP_PLATFORM
#define CODEC_SPEEDUP_PLATFORM "this-build"
#endif
    const char* platform = CODEC_SPEEDUP_PLATFORM;
    std::vector<unsigned char> frame = make_frame();
    const unsigned long n = (unsigned long)frame.size();
    std::vector<unsigned char> mt(2 * n), single(compressBound(n)), out(n);
    unsigned long mt_size = 0;
    uLongf single_size = 0;

    double c_single = median_ms(reps, [&] {
        single_size = (uLongf)single.size();
        return compress2(single.data(), &single_size, frame.data(), n, 9) == Z_OK;
    });
    double c_mt = median_ms(reps, [&] {
        mt_size = (unsigned long)mt.size();
        return compress_MT(mt.data(), mt_size, frame.data(), n) == 0;
    });
    double u_single = median_ms(reps, [&] {
        uLongf size = n;
        return uncompress(out.data(), &size, single.data(), single_size) == Z_OK && size == n;
    });
    double u_mt = median_ms(reps, [&] {
        unsigned long size = n;
        unsigned char* dst = out.data();
        return uncompress_MT(dst, size, mt.data(), mt_size) == 0 && size == n;
    });
    if (memcmp(out.data(), frame.data(), n) != 0) {
        fprintf(stderr, "codec_speedup: uncompress_MT did not restore the frame\n");
        return 1;
    }

    int workers = std::min(get_num_processing_cores(), 8);
    printf("%s compress_MT   single_ms=%.2f mt_ms=%.2f speedup=%.2f workers=%d\n", platform,
           c_single, c_mt, c_single / c_mt, workers);
    printf("%s uncompress_MT single_ms=%.2f mt_ms=%.2f speedup=%.2f workers=%d\n", platform,
           u_single, u_mt, u_single / u_mt, workers);
    return 0;
}
