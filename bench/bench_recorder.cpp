// The recorder against the plain writer on the same frames, and Aravis's in-process fake camera
// at its highest rate.
//
//   bench_recorder MOSAICS.raw W H [frames] [fake_seconds]
//
// MOSAICS.raw: two-byte 12-bit Bayer mosaics of W x H (bench/sensor_frames.py mosaic), tiled to
// 1920 x 1200. (1) The writer alone: a VidHeader writer (compact records, effort 2) appends the
// frames as fast as it can. (2) The recorder: a synthetic camera hands the same frames over as
// fast as its buffers come back, through the acquisition thread and the queue, into the same
// writer. Both sustained frames per second, and the camera data rate against a 10 GigE link.
// (3) The in-process fake camera at its highest frame rate for fake_seconds: frames, drops and
// the recorder's processor use.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "synthetic_camera.h"
#include "vid_camera.h"
#include "vid_recorder.h"

namespace {

double now_s()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double cpu_s()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: bench_recorder MOSAICS.raw W H [frames] [fake_seconds]\n");
        return 2;
    }
    const int in_w = atoi(argv[2]), in_h = atoi(argv[3]);
    const int n = argc > 4 ? atoi(argv[4]) : 120;
    const double fake_seconds = argc > 5 ? atof(argv[5]) : 30;
    const int w = 1920, h = 1200;
    const size_t in_bytes = size_t(in_w) * size_t(in_h) * 2, bytes = size_t(w) * size_t(h) * 2;
    std::vector<unsigned char> frames;
    FILE* f = fopen(argv[1], "rb");
    std::vector<unsigned char> one(in_bytes);
    while (f != nullptr && fread(one.data(), 1, in_bytes, f) == in_bytes) {
        // tiled to 1920 x 1200: columns and rows taken again from the start (even offsets keep
        // the pattern)
        const size_t at = frames.size();
        frames.resize(at + bytes);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const size_t from = 2 * (size_t(y % in_h) * size_t(in_w) + size_t(x % in_w));
                frames[at + 2 * (size_t(y) * size_t(w) + size_t(x))] = one[from];
                frames[at + 2 * (size_t(y) * size_t(w) + size_t(x)) + 1] = one[from + 1];
            }
    }
    if (f != nullptr)
        fclose(f);
    const size_t count = frames.size() / bytes;
    if (count == 0 || in_w % 2 || in_h % 2) {
        fprintf(stderr, "bench_recorder: no %dx%d two-byte frames in %s\n", in_w, in_h, argv[1]);
        return 1;
    }
    const std::string dir = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    const std::string path = dir + "/bench_recorder." + std::to_string(getpid()) + ".vid";
    const char* meta = "{\"cfa\": \"RGGB\", \"bit_depth\": 12}";

    // (1) the writer alone
    VidRecording rec;
    rec.kind = VidKind::bayer16;
    rec.compact = true;
    rec.effort = 2;
    rec.metadata = meta;
    double writer_fps = 0;
    {
        VidHeader wr(path.c_str(), nullptr, w, h, n, rec);
        if (!wr.isOpen()) {
            fprintf(stderr, "bench_recorder: cannot write %s\n", path.c_str());
            return 1;
        }
        const double t0 = now_s();
        for (int k = 0; k < n; k++) {
            memcpy(wr.pixmap, frames.data() + (size_t(k) % count) * bytes, bytes);
            if (!wr.writeNextFrameToVideoFile(int64_t(k))) {
                fprintf(stderr, "bench_recorder: write failed\n");
                return 1;
            }
        }
        wr.finish();
        writer_fps = n / (now_s() - t0);
    }
    remove(path.c_str());

    // (2) the recorder over a synthetic camera handing the same frames over
    VidRecordOptions o;
    o.path = path;
    vid_pixel_format_find("BayerRG12", o.format);
    o.width = w;
    o.height = h;
    o.frames = n;
    o.effort = 2;
    vidtest::SyntheticCamera camera(bytes, 2, 16, 0, &frames);
    VidRecordSummary summary;
    VidError error;
    const double t0 = now_s();
    if (!vid_record(camera, o, summary, error)) {
        fprintf(stderr, "bench_recorder: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    const double recorder_fps = n / (now_s() - t0);
    remove(path.c_str());
    const double mb = double(bytes) / 1e6;
    printf("\nRecording 1920x1200 12-bit RGGB mosaics (real photograph, %zu distinct), compact "
           "effort 2, %d frames, 2 cores\n",
           count, n);
    printf("| path | frames/s | camera data MB/s (2 bytes a sample) | of a 10 GigE link (1.1 GB/s) "
           "|\n");
    printf("| writer alone (VidHeader append) | %.1f | %.0f | %.0f%% |\n", writer_fps,
           writer_fps * mb, writer_fps * mb / 1100 * 100);
    printf("| recorder (synthetic camera, acquisition thread, queue) | %.1f | %.0f | %.0f%% |\n",
           recorder_fps, recorder_fps * mb, recorder_fps * mb / 1100 * 100);
    printf("recorder / writer: %.2f (goal: at least 0.90); ratio %.2f\n", recorder_fps / writer_fps,
           double(summary.status.raw_bytes) / double(summary.status.stored_bytes));

    // (3) the in-process fake at its highest rate
    if (fake_seconds > 0) {
        VidCameraSettings s;
        s.id = "Fake_1";
        s.pixel_format = "Mono8";
        s.frame_rate = 1000;
        std::string why;
        std::unique_ptr<VidCamera> fake = VidCamera::open(s, why);
        if (!fake) {
            printf("fake camera: %s\n", why.c_str());
            return 0;
        }
        VidRecordOptions fo;
        fo.path = path;
        fo.format = fake->format();
        fo.width = fake->width();
        fo.height = fake->height();
        fo.frame_rate = fake->frame_rate();
        fo.duration_s = fake_seconds;
        fo.effort = getenv("FAKE_EFFORT") ? atoi(getenv("FAKE_EFFORT")) : 2;
        const double c0 = cpu_s(), w0 = now_s();
        if (!vid_record(*fake, fo, summary, error)) {
            fprintf(stderr, "bench_recorder: %s\n", vid_error_message(error).c_str());
            return 1;
        }
        const double cpu = cpu_s() - c0, wall = now_s() - w0;
        remove(path.c_str());
        const VidRecordStatus& st = summary.status;
        printf("\nIn-process fake camera, %s %dx%d at %.0f frames/s for %.0f s: %lld frames "
               "(%.1f frames/s), drops: recorder %llu, incomplete %llu, missing %llu; recorder "
               "processor use %.0f%% of one core (%.2f of 2 cores)\n",
               fo.format.name, fo.width, fo.height, fo.frame_rate, fake_seconds,
               (long long)st.frames, st.frames / st.seconds, (unsigned long long)st.recorder_drops,
               (unsigned long long)st.incomplete, (unsigned long long)st.missing, 100 * cpu / wall,
               cpu / wall / 2);
    }
    return 0;
}
