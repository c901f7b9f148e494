// Codec throughput on 640x480 RGB frames with photographic content and noise: compress_MT
// and uncompress_MT against single-threaded zlib (compress2 level 9 and uncompress of the
// whole frame) on the same bytes, in the same run. Variants are timed in interleaved rounds
// and compared by their medians (and by their fastest rounds), so a change in machine load
// affects all of them alike.
//
// Usage: bench_codec [rounds, default 15]
#include "threading.h"
#include "codec_test_data.h"
#include "compress_uncompress_MT.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

double seconds_of(const std::function<bool()>& work, bool& ok)
{
    auto start = std::chrono::steady_clock::now();
    ok = work() && ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double fastest(const std::vector<double>& v)
{
    return *std::min_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const int width = 640, height = 480;
    const size_t frame_size = size_t(width) * height * 3;
    const int num_frames = 4;

    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < num_frames; i++)
        frames.push_back(codec_test::photo_like_frame(width, height, 100 + i));

    // Destinations as the container sizes them: twice the frame.
    std::vector<std::vector<uint8_t>> blocked(num_frames), plain(num_frames);
    std::vector<unsigned long> blocked_size(num_frames), plain_size(num_frames);
    for (int i = 0; i < num_frames; i++) {
        blocked[i].resize(2 * frame_size);
        plain[i].resize(compressBound(frame_size));
    }
    std::vector<uint8_t> out(frame_size);

    std::vector<double> t_compress2, t_compress_mt, t_uncompress, t_uncompress_mt, t_block;
    bool ok = true;
    for (int r = 0; r < rounds; r++) {
        const int f = r % num_frames;
        uint8_t* frame = frames[f].data();
        t_compress2.push_back(seconds_of(
            [&] {
                uLongf len = plain[f].size();
                bool done = compress2(plain[f].data(), &len, frame, frame_size, 9) == Z_OK;
                plain_size[f] = len;
                return done;
            },
            ok));
        t_compress_mt.push_back(seconds_of(
            [&] {
                blocked_size[f] = blocked[f].size();
                return compress_MT(blocked[f].data(), blocked_size[f], frame, frame_size) == 0;
            },
            ok));
        t_uncompress.push_back(seconds_of(
            [&] {
                uLongf len = out.size();
                return uncompress(out.data(), &len, plain[f].data(), plain_size[f]) == Z_OK &&
                       len == frame_size && std::equal(out.begin(), out.end(), frame);
            },
            ok));
        t_uncompress_mt.push_back(seconds_of(
            [&] {
                unsigned char* dest = out.data();
                unsigned long len = out.size();
                return uncompress_MT(dest, len, blocked[f].data(), blocked_size[f]) == 0 &&
                       len == frame_size;
            },
            ok));
        ok = ok && std::equal(out.begin(), out.end(), frame);
        // The per-block expansion path on one thread, on the whole-frame stream.
        t_block.push_back(seconds_of(
            [&] {
                unsigned long len = out.size();
                return uncompress_block(out.data(), len, plain[f].data(), plain_size[f]) == Z_OK &&
                       len == frame_size;
            },
            ok));
    }
    if (!ok) {
        fprintf(stderr, "bench_codec: a round trip failed\n");
        return 1;
    }

    const double mb = frame_size / 1e6;
    const double c1 = median(t_compress2), cm = median(t_compress_mt);
    const double u1 = median(t_uncompress), um = median(t_uncompress_mt);
    const double b1 = median(t_block);
    printf("codec: %d x %d RGB frames (%zu bytes), %d rounds, %d processors online, "
           "blocks expanded with %s\n",
           width, height, frame_size, rounds, get_num_processing_cores(),
           uncompress_block_uses_libdeflate() ? "libdeflate" : "zlib");
    printf("  compressed size: %lu bytes blocked, %lu bytes as one zlib stream\n", blocked_size[0],
           plain_size[0]);
    printf("  compress2 level 9, 1 thread  %8.2f ms/frame %8.1f MB/s\n", c1 * 1e3, mb / c1);
    printf("  compress_MT                  %8.2f ms/frame %8.1f MB/s   speed-up %.2fx\n", cm * 1e3,
           mb / cm, c1 / cm);
    printf("  uncompress, 1 thread         %8.2f ms/frame %8.1f MB/s\n", u1 * 1e3, mb / u1);
    printf("  uncompress_MT                %8.2f ms/frame %8.1f MB/s   speed-up %.2fx\n", um * 1e3,
           mb / um, u1 / um);
    printf("  block expansion, 1 thread    %8.2f ms/frame %8.1f MB/s   speed-up %.2fx "
           "(the per-block path against uncompress)\n",
           b1 * 1e3, mb / b1, u1 / b1);
    // On a shared machine the fastest rounds show what the code can do when it gets the
    // processors; the medians above are the figures for an idle machine.
    printf("  fastest rounds: compress_MT speed-up %.2fx, uncompress_MT speed-up %.2fx\n",
           fastest(t_compress2) / fastest(t_compress_mt),
           fastest(t_uncompress) / fastest(t_uncompress_mt));
    return 0;
}
