// Container overhead: frames per second reading a 640 x 480 RGB file and a 1600 x 1200
// two-byte Bayer file through VidHeader, next to the parts a frame read is made of, measured
// in the same run: reading the record from the file, uncompress_MT, bayer_interpolate_MT.
// bench/container_overhead.py runs this and prints VidHeader's time over the sum of the parts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "VidHeader.h"
#include "bayer_interpolate_MT.h"
#include "compress_uncompress_MT.h"
#include "vid_files.h"
#include "vid_test_files.h"

namespace {

const int kFrames = 8;

// Natural-looking content (gradients with mild noise) so records compress like real video.
vidtest::Bytes textured(size_t size, uint32_t seed)
{
    vidtest::Bytes noise = vidtest::make_noise(size, seed);
    vidtest::Bytes out(size);
    for (size_t i = 0; i < size; i++)
        out[i] = uint8_t((i / 7 + (i >> 11)) + (noise[i] & 7));
    return out;
}

struct Clip {
    std::string path;
    int width, height, bytes_per_sample; // bytes_per_sample 3 marks RGB
    std::vector<int64_t> offsets;
    std::vector<unsigned long> lengths;
};

Clip make_clip(const std::string& dir, int width, int height, int bytes_per_sample)
{
    Clip c{
        dir + "/bench_" + std::to_string(width) + ".vid", width, height, bytes_per_sample, {}, {}};
    size_t frame = size_t(width) * height * size_t(bytes_per_sample);
    std::vector<vidtest::Bytes> records;
    for (int i = 0; i < kFrames; i++)
        records.push_back(vidtest::compress_record(textured(frame, uint32_t(i))));
    bool rgb = bytes_per_sample == 3;
    vidtest::Bytes file =
        vidtest::assemble_vid(vidtest::width_field(width, bytes_per_sample == 1), uint16_t(height),
                              rgb ? -kFrames : kFrames, records);
    vidtest::write_file(c.path, file);
    for (int i = 0; i < kFrames; i++) {
        c.offsets.push_back(vidtest::table_entry(file, size_t(i)));
        c.lengths.push_back((unsigned long)records[size_t(i)].size());
    }
    return c;
}

vidtest::TempDir& bench_dir()
{
    static vidtest::TempDir dir;
    return dir;
}

const Clip& rgb_clip()
{
    static Clip c = make_clip(bench_dir().path(), 640, 480, 3);
    return c;
}

const Clip& bayer_clip()
{
    static Clip c = make_clip(bench_dir().path(), 1600, 1200, 2);
    return c;
}

const Clip& clip_for(int which)
{
    return which == 0 ? rgb_clip() : bayer_clip();
}

// The whole read through the container.
void BM_VidHeaderRead(benchmark::State& state)
{
    const Clip& c = clip_for(int(state.range(0)));
    std::unique_ptr<VidHeader> reader(new VidHeader(c.path.c_str(), nullptr));
    if (!reader->isOpen()) {
        state.SkipWithError("cannot open the clip");
        return;
    }
    int i = 0;
    for (auto _ : state) {
        if (!reader->readFrameFromVideoFile(i++ % kFrames))
            state.SkipWithError("read failed");
    }
    state.SetItemsProcessed(state.iterations());
}

// Seek and read one record, alone.
void BM_ReadRecordAlone(benchmark::State& state)
{
    const Clip& c = clip_for(int(state.range(0)));
    FILE* f = fopen(c.path.c_str(), "rb");
    vidtest::Bytes record(2 * size_t(c.width) * c.height * size_t(c.bytes_per_sample));
    int i = 0;
    for (auto _ : state) {
        int k = i++ % kFrames;
        if (vid_fseek(f, c.offsets[size_t(k)], SEEK_SET) != 0 ||
            fread(record.data(), c.lengths[size_t(k)], 1, f) != 1)
            state.SkipWithError("read failed");
    }
    fclose(f);
    state.SetItemsProcessed(state.iterations());
}

// Expand one record, alone.
void BM_ExpandRecordAlone(benchmark::State& state)
{
    const Clip& c = clip_for(int(state.range(0)));
    std::vector<vidtest::Bytes> records;
    FILE* f = fopen(c.path.c_str(), "rb");
    for (int k = 0; k < kFrames; k++) {
        records.emplace_back(c.lengths[size_t(k)]);
        if (vid_fseek(f, c.offsets[size_t(k)], SEEK_SET) != 0 ||
            fread(records.back().data(), records.back().size(), 1, f) != 1)
            state.SkipWithError("read failed");
    }
    fclose(f);
    vidtest::Bytes frame(size_t(c.width) * c.height * size_t(c.bytes_per_sample));
    int i = 0;
    for (auto _ : state) {
        vidtest::Bytes& r = records[size_t(i++ % kFrames)];
        unsigned char* out = frame.data();
        unsigned long size = (unsigned long)frame.size();
        if (uncompress_MT(out, size, r.data(), (unsigned long)r.size()) != 0)
            state.SkipWithError("uncompress failed");
    }
    state.SetItemsProcessed(state.iterations());
}

// Demosaic one Bayer frame, alone.
void BM_DemosaicAlone(benchmark::State& state)
{
    const Clip& c = bayer_clip();
    vidtest::Bytes mosaic = textured(size_t(c.width) * c.height * 2, 1);
    vidtest::Bytes rgb(size_t(c.width) * c.height * 3);
    for (auto _ : state)
        bayer_interpolate_MT(mosaic.data(), rgb.data(), unsigned(c.width), unsigned(c.height), 1);
    state.SetItemsProcessed(state.iterations());
}

// Not a part of the sum: the container's own clearing of pixmap before every frame (failed
// reads and demosaic slices whose worker could not start are left black), shown next to it.
void BM_ClearPixmap(benchmark::State& state)
{
    const Clip& c = clip_for(int(state.range(0)));
    vidtest::Bytes rgb(size_t(c.width) * c.height * 3, 1);
    for (auto _ : state) {
        memset(rgb.data(), 0, rgb.size());
        benchmark::DoNotOptimize(rgb.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// Argument 0: the 640 x 480 RGB clip; 1: the 1600 x 1200 two-byte Bayer clip.
BENCHMARK(BM_VidHeaderRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadRecordAlone)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExpandRecordAlone)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DemosaicAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClearPixmap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
