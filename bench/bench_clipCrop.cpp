// clipCropMex's merge, timed: two inputs of 640 x 480 (100 frames) and 320 x 240 (40 frames)
// side by side with a gap of 10 pixels into a 976 x 480 output of 100 frames.
//
//   BM_CropMerge       the whole merge loop (read inputs, assemble, write), as clipCropMex
//                      runs it, including opening the files and finishing the output
//   BM_CropReadWrite   the same reads and writes of the same frames, with the assembly
//                      taken out of the timing (it still runs, so the writer compresses
//                      exactly the frames the merge writes)
//   BM_CropAssemble    assembling the 100 output frames alone, from frames already read
//
// bench/crop_overhead.py runs this and prints what assembling adds to reading and writing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "VidHeader.h"
#include "vid_crop_plan.h"

using namespace clip_crop;

namespace {

const int kGap = 10;

struct InputSpec {
    int width, height, frames;
};
const InputSpec kInputs[2] = {{640, 480, 100}, {320, 240, 40}};

std::string g_dir;
std::string g_input_path[2];
std::string g_output_path;

// Natural-looking frames (gradients with mild noise) so that records compress like video.
void fill_texture(unsigned char* rgb, int width, int height, int frame, uint32_t seed)
{
    uint32_t s = seed * 2654435761u + uint32_t(frame) * 40503u + 1u;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            s = s * 1664525u + 1013904223u;
            unsigned noise = (s >> 28) & 7;
            unsigned char* p = rgb + (size_t(y) * width + x) * 3;
            p[0] = (unsigned char)(x / 3 + frame + noise);
            p[1] = (unsigned char)(y / 2 + 2 * frame + noise);
            p[2] = (unsigned char)((x + y) / 4 + noise);
        }
}

bool make_inputs()
{
    char tmpl[] = "/tmp/bench_clipCrop_XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return false;
    g_dir = tmpl;
    for (int i = 0; i < 2; i++) {
        g_input_path[i] = g_dir + "/input" + std::to_string(i) + ".vid";
        const InputSpec& in = kInputs[i];
        std::unique_ptr<VidHeader> w(new (std::nothrow) VidHeader(g_input_path[i].c_str(), nullptr,
                                                                  in.width, in.height, in.frames));
        if (!w || !w->isOpen())
            return false;
        for (int f = 0; f < in.frames; f++) {
            fill_texture(w->pixmap, in.width, in.height, f, uint32_t(i));
            if (!w->writeNextFrameToVideoFile())
                return false;
        }
    }
    g_output_path = g_dir + "/output.vid";
    return true;
}

void remove_files()
{
    for (const std::string& p : g_input_path)
        unlink(p.c_str());
    unlink(g_output_path.c_str());
    rmdir(g_dir.c_str());
}

// One merge as clipCropMex sets it up: readers, plan, writer.
struct Merge {
    std::unique_ptr<VidHeader> readers[2];
    VidHeader* reader_ptrs[2] = {nullptr, nullptr};
    InputPlan inputs[2];
    MergePlan plan;
    std::unique_ptr<VidHeader> writer;

    bool open()
    {
        for (int i = 0; i < 2; i++) {
            readers[i].reset(new (std::nothrow) VidHeader(g_input_path[i].c_str(), nullptr));
            if (!readers[i] || !readers[i]->isOpen())
                return false;
            reader_ptrs[i] = readers[i].get();
            InputPlan& in = inputs[i];
            set_bounds(nullptr, i, *readers[i], in.box.l, in.box.t, in.box.w, in.box.h);
            in.range = FrameRange{0, readers[i]->num_frames};
        }
        OutputGeometry g = output_geometry(kHorizontal, kGap, inputs, 2);
        plan.mode = kHorizontal;
        plan.gap = kGap;
        plan.out_width = int(g.width8);
        plan.out_height = int(g.height8);
        plan.num_frames = int(output_frame_count(kHorizontal, inputs, 2));
        plan.rgb[0] = plan.rgb[1] = plan.rgb[2] = 255;
        plan.centre_across = true;
        writer.reset(new (std::nothrow) VidHeader(g_output_path.c_str(), nullptr, plan.out_width,
                                                  plan.out_height, plan.num_frames));
        return writer && writer->isOpen();
    }
};

// Assembles output frame f from the frames the readers hold now.
void assemble(Merge& m, int f)
{
    const MergePlan& p = m.plan;
    fill_rgb(m.writer->pixmap, int64_t(p.out_width) * p.out_height, 255, 255, 255);
    int run = 0;
    for (int i = 0; i < 2; i++) {
        const InputPlan& in = m.inputs[i];
        if (f < in.range.length()) {
            int x, y;
            box_destination(p.mode, true, run, in.box.w, in.box.h, p.out_width, p.out_height, x, y);
            copy_box(m.readers[i]->pixmap, m.readers[i]->width, m.readers[i]->height, in.box,
                     m.writer->pixmap, p.out_width, p.out_height, x, y);
        }
        run += in.box.w + p.gap;
    }
}

void BM_CropMerge(benchmark::State& state)
{
    int frames = 0;
    for (auto _ : state) {
        Merge m;
        if (!m.open()) {
            state.SkipWithError("cannot open the files");
            return;
        }
        if (merge_frames(m.plan, m.inputs, m.reader_ptrs, 2, *m.writer).status !=
            MergeResult::kOk) {
            state.SkipWithError("merge failed");
            return;
        }
        frames = m.plan.num_frames;
    }
    state.counters["out_fps"] =
        benchmark::Counter(double(frames), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_CropReadWrite(benchmark::State& state)
{
    int frames = 0;
    for (auto _ : state) {
        Merge m;
        if (!m.open()) {
            state.SkipWithError("cannot open the files");
            return;
        }
        for (int f = 0; f < m.plan.num_frames; f++) {
            for (int i = 0; i < 2; i++)
                if (f < m.inputs[i].range.length() && !m.readers[i]->readFrameFromVideoFile(f)) {
                    state.SkipWithError("read failed");
                    return;
                }
            state.PauseTiming();
            assemble(m, f);
            state.ResumeTiming();
            if (!m.writer->writeNextFrameToVideoFile()) {
                state.SkipWithError("write failed");
                return;
            }
        }
        frames = m.plan.num_frames;
    }
    state.counters["out_fps"] =
        benchmark::Counter(double(frames), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_CropAssemble(benchmark::State& state)
{
    Merge m;
    if (!m.open() || !m.readers[0]->readFrameFromVideoFile(0) ||
        !m.readers[1]->readFrameFromVideoFile(0)) {
        state.SkipWithError("cannot open the files");
        return;
    }
    for (auto _ : state) {
        for (int f = 0; f < m.plan.num_frames; f++)
            assemble(m, f);
        benchmark::DoNotOptimize(m.writer->pixmap);
        benchmark::ClobberMemory();
    }
    state.counters["out_fps"] = benchmark::Counter(double(m.plan.num_frames),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_CropMerge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CropReadWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CropAssemble)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!make_inputs()) {
        fprintf(stderr, "bench_clipCrop: cannot create the input files in /tmp\n");
        remove_files();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    remove_files();
    return 0;
}
