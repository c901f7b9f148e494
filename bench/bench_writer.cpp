// What crash-safe writing costs: VidHeader's writer (header and table at creation; per frame
// the record, its table entry, the header's count and a flush) next to a plain loop that
// does what a writer without it does (compress_MT and one fwrite per record, header and
// table once at the end), on the same frames, interleaved, in one run.
//
// Then what a recording's clip block costs: the same 1600 x 1200 two-byte Bayer frames written
// by a recording writer with and without the block (timestamps, rate, metadata), and read
// back (every frame's samples, plus the timestamps where there are some), interleaved.
//
// Usage: bench_writer [rounds] [folder]   prints the median time of each and the overhead.
#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_records.h"
#include "codec_test_data.h"
#include "compress_uncompress_MT.h"
#include "le_bytes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const int kWidth = 640, kHeight = 480, kFrames = 40;

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double crash_safe(const std::string& path, const std::vector<std::vector<uint8_t>>& frames)
{
    auto t0 = std::chrono::steady_clock::now();
    {
        VidHeader w(path.c_str(), stderr, kWidth, kHeight, kFrames);
        for (const auto& f : frames) {
            memcpy(w.pixmap, f.data(), f.size());
            if (!w.writeNextFrameToVideoFile())
                exit(1);
        }
    }
    return seconds_since(t0);
}

double plain(const std::string& path, const std::vector<std::vector<uint8_t>>& frames)
{
    auto t0 = std::chrono::steady_clock::now();
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        exit(1);
    std::vector<int64_t> offsets(kFrames);
    int64_t at = 8 + 8 * int64_t(kFrames);
    std::vector<uint8_t> record(frames[0].size() * 2);
    std::vector<uint8_t> pixels(frames[0].size());
    fseeko(f, at, SEEK_SET);
    for (size_t k = 0; k < frames.size(); k++) {
        memcpy(pixels.data(), frames[k].data(), pixels.size());
        unsigned long size = record.size();
        if (compress_MT(record.data(), size, pixels.data(), pixels.size()) != 0 ||
            fwrite(record.data(), size, 1, f) != 1)
            exit(1);
        offsets[k] = at;
        at += int64_t(size);
    }
    unsigned char head[8];
    put_le16(head, kWidth);
    put_le16(head + 2, kHeight);
    put_le32(head + 4, uint32_t(-kFrames));
    fseeko(f, 0, SEEK_SET);
    fwrite(head, 8, 1, f);
    for (int64_t o : offsets) {
        unsigned char e[8];
        put_le64(e, uint64_t(o));
        fwrite(e, 8, 1, f);
    }
    fclose(f);
    return seconds_since(t0);
}

const int kBayerWidth = 1600, kBayerHeight = 1200, kBayerFrames = 16;

double record(const std::string& path, const std::vector<std::vector<uint8_t>>& frames, bool block)
{
    auto t0 = std::chrono::steady_clock::now();
    VidRecording r;
    r.kind = VidKind::bayer16;
    r.effort = 2;
    r.clip_block = block;
    r.frame_rate = 500;
    r.metadata = "{\"camera\": \"bench\", \"bit_depth\": 12}";
    {
        VidHeader w(path.c_str(), stderr, kBayerWidth, kBayerHeight, kBayerFrames, r);
        for (const auto& f : frames) {
            memcpy(w.pixmap, f.data(), f.size());
            if (!w.writeNextFrameToVideoFile())
                exit(1);
        }
    }
    return seconds_since(t0);
}

double read_back(const std::string& path)
{
    auto t0 = std::chrono::steady_clock::now();
    VidHeader r(path.c_str(), stderr);
    for (int k = 0; k < r.num_frames; k++)
        if (!r.readSamplesFromVideoFile(k))
            exit(1);
    std::vector<int64_t> stamps;
    VidClip clip = vid_read_clip(r);
    if (clip.present && !vid_read_timestamps(r, clip, stamps))
        exit(1);
    return seconds_since(t0);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    std::string folder = argc > 2 ? argv[2] : ".";
    std::vector<std::vector<uint8_t>> frames;
    for (int k = 0; k < kFrames; k++)
        frames.push_back(codec_test::photo_like_frame(kWidth, kHeight, 500 + k));
    std::string a = folder + "/bench_writer_a.vid", b = folder + "/bench_writer_b.vid";
    std::vector<double> safe, bare;
    for (int r = 0; r < rounds; r++) { // interleaved, so drift hits both alike
        safe.push_back(crash_safe(a, frames));
        bare.push_back(plain(b, frames));
    }
    unlink(a.c_str());
    unlink(b.c_str());
    std::sort(safe.begin(), safe.end());
    std::sort(bare.begin(), bare.end());
    double s = safe[safe.size() / 2], p = bare[bare.size() / 2];
    printf("writer, %d frames of %dx%d RGB, median of %d: crash-safe %.1f ms, plain %.1f ms, "
           "overhead %+.2f%%\n",
           kFrames, kWidth, kHeight, rounds, 1e3 * s, 1e3 * p, 100.0 * (s / p - 1.0));

    std::vector<std::vector<uint8_t>> mosaics;
    for (int k = 0; k < kBayerFrames; k++) // 1600 x 800 x 3 bytes: one 1600 x 1200 mosaic
        mosaics.push_back(codec_test::photo_like_frame(kBayerWidth, kBayerHeight * 2 / 3, 700 + k));
    std::vector<double> with_w, without_w, with_r, without_r;
    for (int r = 0; r < rounds; r++) { // the order alternates: neither pays for going first
        const bool block_first = r % 2 == 0;
        for (int i = 0; i < 2; i++) {
            if ((i == 0) == block_first) {
                with_w.push_back(record(a, mosaics, true));
                with_r.push_back(read_back(a));
            } else {
                without_w.push_back(record(b, mosaics, false));
                without_r.push_back(read_back(b));
            }
        }
    }
    unlink(a.c_str());
    unlink(b.c_str());
    const double ww = median(with_w), wo = median(without_w), rw = median(with_r),
                 ro = median(without_r);
    printf("recording, %d frames of %dx%d bayer16, effort 2, median of %d: write with clip block "
           "%.1f ms, without %.1f ms (%+.2f%%); read with %.1f ms, without %.1f ms (%+.2f%%)\n",
           kBayerFrames, kBayerWidth, kBayerHeight, rounds, 1e3 * ww, 1e3 * wo,
           100.0 * (ww / wo - 1.0), 1e3 * rw, 1e3 * ro, 100.0 * (rw / ro - 1.0));
    return 0;
}
