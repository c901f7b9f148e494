// Write speed by compression effort: compress_MT_at_effort on camera-like frames, every
// effort side by side in one run, with pigz at -1 and -9 on the same bytes as the outside
// yardstick (when pigz is installed). Both processors work: compress_MT fans out on its
// own, pigz gets -p <processors>.
//
// Usage: bench_effort [repetitions]   prints MB/s (of raw frame bytes) and ratio per effort,
// then the ratios effort 1 / effort 9 and balanced / effort 9 for speed and size.
#include "codec_test_data.h"
#include "compress_uncompress_MT.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Frame = std::vector<unsigned char>;

// Two-byte Bayer frames as a 12-bit sensor gives them: a smooth scene, the colour filter's
// pattern and shot noise, little-endian samples.
Frame bayer16_frame(int w, int h, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 6.0f);
    Frame f(size_t(w) * h * 2);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float v = 800 + 600 * std::sin(0.004f * (x + 7 * seed)) * std::cos(0.003f * y) +
                      (((x ^ y) & 1) ? 400 : 0) + noise(rng);
            unsigned s = unsigned(std::min(4095.0f, std::max(0.0f, v)));
            f[2 * (size_t(y) * w + x)] = (unsigned char)(s & 255);
            f[2 * (size_t(y) * w + x) + 1] = (unsigned char)(s >> 8);
        }
    return f;
}

struct Result {
    double mb_per_s;
    double ratio;
};

Result time_effort(const std::vector<Frame>& frames, int effort, int reps)
{
    std::vector<double> seconds;
    size_t raw = 0, stored = 0;
    Frame out(frames[0].size() * 2 + 1024);
    for (int r = 0; r < reps; r++) {
        raw = stored = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const Frame& f : frames) {
            unsigned long size = out.size();
            if (compress_MT_at_effort(out.data(), size, const_cast<unsigned char*>(f.data()),
                                      f.size(), effort) != 0) {
                fprintf(stderr, "bench_effort: compress_MT_at_effort %d failed\n", effort);
                exit(1);
            }
            raw += f.size();
            stored += size;
        }
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return {raw / seconds[seconds.size() / 2] / 1e6, double(raw) / double(stored)};
}

// pigz on the frames back to back; nothing when pigz is not installed.
bool time_pigz(const std::vector<Frame>& frames, int level, int reps, Result& result)
{
    if (system("command -v pigz > /dev/null 2>&1") != 0)
        return false;
    char path[] = "/tmp/bench_effort_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return false;
    size_t raw = 0;
    for (const Frame& f : frames) {
        if (write(fd, f.data(), f.size()) != ssize_t(f.size())) {
            close(fd);
            unlink(path);
            return false;
        }
        raw += f.size();
    }
    close(fd);
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    std::string run = "pigz -" + std::to_string(level) + " -p " + std::to_string(cores) + " -c " +
                      path + " | wc -c";
    std::vector<double> seconds;
    size_t stored = 0;
    bool ok = true;
    for (int r = 0; r < reps && ok; r++) {
        auto t0 = std::chrono::steady_clock::now();
        FILE* p = popen(run.c_str(), "r");
        ok = p != nullptr && fscanf(p, "%zu", &stored) == 1;
        if (p)
            ok = pclose(p) == 0 && ok;
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    unlink(path);
    if (!ok || stored == 0)
        return false;
    std::sort(seconds.begin(), seconds.end());
    result = {raw / seconds[seconds.size() / 2] / 1e6, double(raw) / double(stored)};
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int reps = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    struct Content {
        const char* name;
        std::vector<Frame> frames;
    } contents[2] = {{"RGB 640x480", {}}, {"Bayer two-byte 1600x1200", {}}};
    for (int i = 0; i < 8; i++)
        contents[0].frames.push_back(codec_test::photo_like_frame(640, 480, 100 + i));
    for (int i = 0; i < 4; i++)
        contents[1].frames.push_back(bayer16_frame(1600, 1200, 7 + i));

    printf("compression effort: MB/s of raw frame bytes and ratio (raw / stored), median of %d"
           " runs, %ld processors\n",
           reps, sysconf(_SC_NPROCESSORS_ONLN));
    for (Content& c : contents) {
        printf("%s\n", c.name);
        Result by_effort[10];
        for (int e = max_compression_effort; e >= min_compression_effort; e--) {
            by_effort[e] = time_effort(c.frames, e, reps);
            printf("  effort %d  %8.1f MB/s  ratio %.4f\n", e, by_effort[e].mb_per_s,
                   by_effort[e].ratio);
        }
        for (int level : {1, 9}) {
            Result p;
            if (time_pigz(c.frames, level, reps, p))
                printf("  pigz -%d   %8.1f MB/s  ratio %.4f\n", level, p.mb_per_s, p.ratio);
        }
        const Result& top = by_effort[max_compression_effort];
        for (int e : {min_compression_effort, balanced_compression_effort})
            printf("  effort %d vs 9: speed x%.2f, file size %+.1f%%\n", e,
                   by_effort[e].mb_per_s / top.mb_per_s,
                   100.0 * (top.ratio / by_effort[e].ratio - 1.0));
    }
    return 0;
}
