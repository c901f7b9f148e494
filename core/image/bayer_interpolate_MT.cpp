// Multi-threaded demosaic driver: slices, work records and the worker fan-out.
#include "bayer_interpolate_MT.h"
#include "report.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

#include "bayer.h"
#include "threading.h"
#include "bayer16.h"

void Bayer_MT_datastruct::init()
{
    slice_start_row = 0;
    slice_height = 0;
    slice_width = 0;
    slice_uninterpolated_buffer = nullptr;
    slice_pixmap = nullptr;
    vid_uses_two_bytes_per_pixel = 0;
    work_done = 0;
}

void Bayer_MT_datastruct::init_thread_data(unsigned int threadid, unsigned int in_frame_width,
                                           unsigned int* row_partitions,
                                           unsigned char* frame_uninterpolated_buffer,
                                           unsigned char* frame_pixmap,
                                           int in_vid_uses_two_bytes_per_pixel)
{
    init();
    frame_width = in_frame_width;
    vid_uses_two_bytes_per_pixel = in_vid_uses_two_bytes_per_pixel;
    slice_start_row = row_partitions[threadid];
    slice_width = unsigned(in_vid_uses_two_bytes_per_pixel + 1) * frame_width;
    slice_height = row_partitions[threadid + 1] - row_partitions[threadid];
    // Offsets in size_t: the products overflow 32 bits for frames beyond 4 GiB, which the
    // driver has already checked fit the address space.
    slice_uninterpolated_buffer =
        frame_uninterpolated_buffer + size_t(slice_width) * size_t(slice_start_row);
    slice_pixmap = frame_pixmap + 3 * size_t(frame_width) * size_t(slice_start_row);
}

void Bayer_MT_datastruct::bayer_interpolate()
{
    if (vid_uses_two_bytes_per_pixel)
        bayer_interpolate_frame(slice_uninterpolated_buffer, slice_pixmap, int(frame_width),
                                int(slice_height));
    else
        gp_bayer_decode(slice_uninterpolated_buffer, int(frame_width), int(slice_height),
                        slice_pixmap, BAYER_TILE_GRBG);
    work_done = 1;
}

void* bayer_interpolate_thread(void* thread_arg)
{
    static_cast<Bayer_MT_datastruct*>(thread_arg)->bayer_interpolate();
    return nullptr;
}

unsigned int bayer_num_threads(unsigned int frame_height, int num_cores)
{
    const unsigned int cores = num_cores < 1 ? 1u : unsigned(num_cores);
    unsigned int cap;
    if (frame_height < 250)
        return 1;
    else if (frame_height < 500)
        cap = 2;
    else if (frame_height < 1500)
        cap = 4;
    else
        cap = 8;
    return cores < cap ? cores : cap;
}

void bayer_row_partitions(unsigned int frame_height, unsigned int num_threads,
                          unsigned int* row_partitions)
{
    unsigned int rows = frame_height / num_threads;
    if (frame_height % num_threads)
        rows++;
    // Even slice heights keep every slice on the frame's colour-filter phase. Widened so
    // that heights near 2^32 cannot wrap.
    const uint64_t rows_per_partition = uint64_t(rows) + (rows & 1u);
    for (unsigned int i = 0; i <= num_threads; i++) {
        const uint64_t start = uint64_t(i) * rows_per_partition;
        row_partitions[i] = start < frame_height ? unsigned(start) : frame_height;
    }
}

bool vid_demosaic(const unsigned char* mosaic, unsigned char* rgb, unsigned int frame_width,
                  unsigned int frame_height, int vid_uses_two_bytes_per_pixel, std::string* report)
{
    // The routines take int sizes and address bytes with size_t: refuse what they cannot
    // reach rather than compute a wrapped offset.
    VID_FAIL_IF(vid_uses_two_bytes_per_pixel != 0 && vid_uses_two_bytes_per_pixel != 1, false,
                report, "sample width flag %d is neither 0 nor 1\n", vid_uses_two_bytes_per_pixel);
    VID_FAIL_IF(frame_width > unsigned(INT_MAX) || frame_height > unsigned(INT_MAX) ||
                    uint64_t(frame_width) * frame_height > uint64_t(SIZE_MAX) / 3,
                false, report, "frame of %u x %u pixels is too large to demosaic\n", frame_width,
                frame_height);

    const unsigned int num_threads = bayer_num_threads(frame_height, get_num_processing_cores());
    unsigned int row_partitions[9];
    Bayer_MT_datastruct slices[8];
    bayer_row_partitions(frame_height, num_threads, row_partitions);
    for (unsigned int i = 0; i < num_threads; i++)
        slices[i].init_thread_data(i, frame_width, row_partitions,
                                   const_cast<unsigned char*>(mosaic), rgb,
                                   vid_uses_two_bytes_per_pixel);
    // A slice whose worker did not start stays as it was; the others are still demosaiced,
    // and the call fails: the frame is not whole.
    return VID_FAN_OUT(int(num_threads), bayer_interpolate_thread, slices, report);
}

bool bayer_interpolate_MT(unsigned char* frame_uninterpolated_buffer, unsigned char* frame_pixmap,
                          unsigned int frame_width, unsigned int frame_height,
                          int vid_uses_two_bytes_per_pixel)
{
    std::string report;
    const bool ok = vid_demosaic(frame_uninterpolated_buffer, frame_pixmap, frame_width,
                                 frame_height, vid_uses_two_bytes_per_pixel, &report);
    if (!report.empty())
        fputs(report.c_str(), stderr);
    return ok;
}
