// Compact records of the first and second generation side by side, at the codec (no file): the
// stored ratio, compress and expand frames per second (best of rounds over every frame, on
// all processors), and a check that every frame comes back byte for byte.
//   bench_compact_records FRAMES.raw WIDTH HEIGHT BYTES_PER_PIXEL [ROUNDS]
// BYTES_PER_PIXEL: 1 or 2 (one- or two-byte samples, little-endian) or 3 (RGB). Frames are
// written by `python3 bench/sensor_frames.py SET COUNT FRAMES.raw`.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vid_compact.h"
#include "vid_compact2.h"

int main(int argc, char** argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: bench_compact_records FRAMES.raw WIDTH HEIGHT BYTES_PER_PIXEL "
                        "[ROUNDS]\n");
        return 2;
    }
    const int w = atoi(argv[2]), h = atoi(argv[3]), bpp = atoi(argv[4]);
    const int rounds = argc > 5 ? std::max(1, atoi(argv[5])) : 3;
    const VidCompactFilter filter = bpp == 3   ? VidCompactFilter::rgb
                                    : bpp == 2 ? VidCompactFilter::bayer16
                                               : VidCompactFilter::bayer8;
    const size_t frame_bytes = size_t(w) * size_t(h) * size_t(bpp);
    FILE* f = fopen(argv[1], "rb");
    if (f == nullptr || w < 1 || h < 1 || bpp < 1 || bpp > 3) {
        fprintf(stderr, "bench_compact_records: cannot read %s as %d x %d x %d\n", argv[1], w, h,
                bpp);
        return 1;
    }
    std::vector<std::vector<unsigned char>> frames;
    for (std::vector<unsigned char> b(frame_bytes); fread(b.data(), 1, b.size(), f) == b.size();)
        frames.push_back(b);
    fclose(f);
    if (frames.empty())
        return 1;
    printf("%s: %zu frames of %d x %d x %d bytes\n", argv[1], frames.size(), w, h, bpp);
    printf("| record              | effort | ratio | compress frames/s | expand frames/s |\n");
    std::vector<unsigned char> record(2 * frame_bytes + 4096), back(frame_bytes);
    for (int gen = 1; gen <= 2; gen++)
        for (int effort : {1, 2, 9}) {
            double best_c = 1e30, best_e = 1e30;
            uint64_t stored = 0;
            for (int r = 0; r < rounds; r++) {
                double tc = 0, te = 0;
                stored = 0;
                for (const auto& frame : frames) {
                    unsigned long size = (unsigned long)record.size();
                    const auto t0 = std::chrono::steady_clock::now();
                    const int rc = gen == 1
                                       ? vid_compact_compress(record.data(), size, frame.data(), w,
                                                              h, filter, effort)
                                       : vid_compact2_compress(record.data(), size, frame.data(), w,
                                                               h, filter, effort);
                    const auto t1 = std::chrono::steady_clock::now();
                    const int re =
                        gen == 1
                            ? vid_compact_expand(back.data(), frame_bytes, record.data(), size)
                            : vid_compact2_expand(back.data(), frame_bytes, record.data(), size);
                    const auto t2 = std::chrono::steady_clock::now();
                    if (rc != 0 || re != 0 || back != frame) {
                        fprintf(stderr, "bench_compact_records: a frame did not come back\n");
                        return 1;
                    }
                    stored += size;
                    tc += std::chrono::duration<double>(t1 - t0).count();
                    te += std::chrono::duration<double>(t2 - t1).count();
                }
                best_c = std::min(best_c, tc);
                best_e = std::min(best_e, te);
            }
            const double n = double(frames.size());
            printf("| compact, generation %d | %6d | %5.2f | %17.1f | %15.1f |\n", gen, effort,
                   n * double(frame_bytes) / double(stored), n / best_c, n / best_e);
        }
    return 0;
}
