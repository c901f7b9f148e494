// Compact records of the first and second generation side by side, at the codec (no file): the
// stored ratio, compress and expand frames per second (best of rounds over every frame, on
// all processors), and a check that every frame comes back byte for byte. Beside them, when
// the bench build found CharLS, JPEG-LS on the same frames (mosaics as their four colour
// planes, RGB sample-interleaved; one frame per processor side by side).
//   bench_compact_records FRAMES.raw WIDTH HEIGHT BYTES_PER_PIXEL [ROUNDS [mono]]
// BYTES_PER_PIXEL: 1 or 2 (one- or two-byte samples, little-endian) or 3 (RGB); "mono": the
// samples are a mono sensor's (JPEG-LS takes the frame whole, not as four planes). Frames are
// written by `python3 bench/sensor_frames.py SET COUNT FRAMES.raw`.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if VID_BENCH_CHARLS
#include <charls/charls.h>
#endif

#include "vid_compact.h"
#include "vid_compact2.h"

#if VID_BENCH_CHARLS
inline bool fine(charls_jpegls_errc e)
{
    return static_cast<int>(e) == 0;
}

// A w x h image of `components` samples of `bytes` bytes (a row `stride` samples apart) as
// JPEG-LS; false when CharLS refuses it.
bool jpegls_encode(const void* image, int w, int h, int components, int bits, size_t stride_bytes,
                   std::vector<unsigned char>& out)
{
    charls_jpegls_encoder* e = charls_jpegls_encoder_create();
    const charls_frame_info info{uint32_t(w), uint32_t(h), bits, components};
    size_t room = 0, written = 0;
    bool ok =
        e != nullptr && fine(charls_jpegls_encoder_set_frame_info(e, &info)) &&
        (components == 1 ||
         fine(charls_jpegls_encoder_set_interleave_mode(e, charls::interleave_mode::sample))) &&
        fine(charls_jpegls_encoder_get_estimated_destination_size(e, &room));
    if (ok) {
        out.resize(room);
        ok = fine(charls_jpegls_encoder_set_destination_buffer(e, out.data(), out.size())) &&
             fine(charls_jpegls_encoder_encode_from_buffer(e, image, stride_bytes * size_t(h),
                                                           uint32_t(stride_bytes))) &&
             fine(charls_jpegls_encoder_get_bytes_written(e, &written));
        out.resize(written);
    }
    charls_jpegls_encoder_destroy(e);
    return ok;
}

bool jpegls_decode(const std::vector<unsigned char>& in, void* image, size_t bytes)
{
    charls_jpegls_decoder* d = charls_jpegls_decoder_create();
    const bool ok = d != nullptr &&
                    fine(charls_jpegls_decoder_set_source_buffer(d, in.data(), in.size())) &&
                    fine(charls_jpegls_decoder_read_header(d)) &&
                    fine(charls_jpegls_decoder_decode_to_buffer(d, image, bytes, 0));
    charls_jpegls_decoder_destroy(d);
    return ok;
}

// JPEG-LS on every frame: its ratio, and frames per second with one frame per processor.
void jpegls_row(const std::vector<std::vector<unsigned char>>& frames, int w, int h, int bpp,
                bool mono, int rounds)
{
    int bits = 8;
    if (bpp == 2) {
        int top = 1;
        for (const auto& f : frames)
            for (size_t i = 0; i + 1 < f.size(); i += 2)
                top = std::max(top, f[i] | f[i + 1] << 8);
        while ((1 << bits) <= top)
            bits++;
    }
    // Mosaics (two-byte frames) as their four colour planes.
    const bool planes = bpp == 2 && !mono;
    auto encode = [&](const std::vector<unsigned char>& f,
                      std::vector<std::vector<unsigned char>>& out) {
        out.clear();
        if (!planes) {
            out.emplace_back();
            return jpegls_encode(f.data(), w, h, bpp == 3 ? 3 : 1, bpp == 2 ? bits : 8,
                                 size_t(w) * bpp, out.back());
        }
        std::vector<uint16_t> plane(size_t(w / 2) * (h / 2));
        for (int py = 0; py < 2; py++)
            for (int px = 0; px < 2; px++) {
                for (int y = 0; y < h / 2; y++)
                    for (int x = 0; x < w / 2; x++) {
                        const size_t at = 2 * (size_t(2 * y + py) * w + size_t(2 * x + px));
                        plane[size_t(y) * (w / 2) + x] = uint16_t(f[at] | f[at + 1] << 8);
                    }
                out.emplace_back();
                if (!jpegls_encode(plane.data(), w / 2, h / 2, 1, bits, size_t(w / 2) * 2,
                                   out.back()))
                    return false;
            }
        return true;
    };
    auto decode = [&](const std::vector<std::vector<unsigned char>>& in,
                      std::vector<unsigned char>& f) {
        if (!planes)
            return jpegls_decode(in[0], f.data(), f.size());
        std::vector<uint16_t> plane(size_t(w / 2) * (h / 2));
        for (int p = 0; p < 4; p++) {
            if (!jpegls_decode(in[size_t(p)], plane.data(), plane.size() * 2))
                return false;
            for (int y = 0; y < h / 2; y++)
                for (int x = 0; x < w / 2; x++) {
                    const size_t at = 2 * (size_t(2 * y + p / 2) * w + size_t(2 * x + p % 2));
                    f[at] = uint8_t(plane[size_t(y) * (w / 2) + x]);
                    f[at + 1] = uint8_t(plane[size_t(y) * (w / 2) + x] >> 8);
                }
        }
        return true;
    };
    const int threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::vector<std::vector<unsigned char>>> coded(frames.size());
    double best_c = 1e30, best_e = 1e30;
    bool ok = true;
    for (int r = 0; r < rounds; r++) {
        auto t0 = std::chrono::steady_clock::now();
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; t++)
            pool.emplace_back([&, t] {
                for (size_t k = size_t(t); k < frames.size(); k += size_t(threads))
                    if (!encode(frames[k], coded[k]))
                        ok = false;
            });
        for (auto& p : pool)
            p.join();
        auto t1 = std::chrono::steady_clock::now();
        pool.clear();
        for (int t = 0; t < threads; t++)
            pool.emplace_back([&, t] {
                std::vector<unsigned char> back(frames[0].size());
                for (size_t k = size_t(t); k < frames.size(); k += size_t(threads))
                    if (!decode(coded[k], back) || back != frames[k])
                        ok = false;
            });
        for (auto& p : pool)
            p.join();
        auto t2 = std::chrono::steady_clock::now();
        best_c = std::min(best_c, std::chrono::duration<double>(t1 - t0).count());
        best_e = std::min(best_e, std::chrono::duration<double>(t2 - t1).count());
    }
    if (!ok || (planes && (w % 2 != 0 || h % 2 != 0))) {
        printf("| JPEG-LS (CharLS)          | (refused these frames)\n");
        return;
    }
    uint64_t stored = 0;
    for (const auto& c : coded)
        for (const auto& p : c)
            stored += p.size();
    const double n = double(frames.size());
    printf("| JPEG-LS (CharLS)%s |      - | %5.2f | %17.1f | %15.1f |\n",
           planes ? ", 4 planes" : "         ", n * double(frames[0].size()) / double(stored),
           n / best_c, n / best_e);
}
#endif

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
    printf(
        "| record                    | effort | ratio | compress frames/s | expand frames/s |\n");
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
            printf("| compact, generation %d     | %6d | %5.2f | %17.1f | %15.1f |\n", gen, effort,
                   n * double(frame_bytes) / double(stored), n / best_c, n / best_e);
        }
#if VID_BENCH_CHARLS
    jpegls_row(frames, w, h, bpp, argc > 6 && std::string(argv[6]) == "mono", rounds);
#endif
    return 0;
}
