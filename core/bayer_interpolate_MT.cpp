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
#include "read-frame.h"

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

bool bayer_interpolate_MT(unsigned char* frame_uninterpolated_buffer, unsigned char* frame_pixmap,
                          unsigned int frame_width, unsigned int frame_height,
                          int vid_uses_two_bytes_per_pixel)
{
    // The routines take int sizes and address bytes with size_t: refuse what they cannot
    // reach rather than compute a wrapped offset.
    VID_RETURN_IF(vid_uses_two_bytes_per_pixel != 0 && vid_uses_two_bytes_per_pixel != 1, false,
                  "sample width flag %d is neither 0 nor 1\n", vid_uses_two_bytes_per_pixel);
    VID_RETURN_IF(frame_width > unsigned(INT_MAX) || frame_height > unsigned(INT_MAX) ||
                      uint64_t(frame_width) * frame_height > uint64_t(SIZE_MAX) / 3,
                  false, "frame of %u x %u pixels is too large to demosaic\n", frame_width,
                  frame_height);

    const unsigned int num_threads = bayer_num_threads(frame_height, get_num_processing_cores());

    unsigned int* row_partitions = new (std::nothrow) unsigned int[num_threads + 1];
    Bayer_MT_datastruct* thread_datastruct = new (std::nothrow) Bayer_MT_datastruct[num_threads];
    THREAD_HANDLE* threads = new (std::nothrow) THREAD_HANDLE[num_threads];
    if (!row_partitions || !thread_datastruct || !threads) {
        VID_REPORT_STDERR("out of memory for %u demosaic workers\n", num_threads);
        delete[] row_partitions;
        delete[] thread_datastruct;
        delete[] threads;
        return false;
    }

    bayer_row_partitions(frame_height, num_threads, row_partitions);
    for (unsigned int i = 0; i < num_threads; i++)
        thread_datastruct[i].init_thread_data(i, frame_width, row_partitions,
                                              frame_uninterpolated_buffer, frame_pixmap,
                                              vid_uses_two_bytes_per_pixel);

    bool all_started = true;
    for (unsigned int i = 0; i < num_threads; i++) {
        const int rc =
            start_processing_thread(threads[i], bayer_interpolate_thread, &thread_datastruct[i]);
        if (rc != 0) {
            // The slice stays as it was; the other slices are still demosaiced, and the call
            // fails: the frame is not whole.
            report_thread_start_failure(rc, int(i), VID_SOURCE_NAME, __LINE__);
            threads[i] = 0;
            all_started = false;
        }
    }

    // Joins every started worker and frees the records and handles.
    wait_until_processing_threads_are_done_then_cleanup(int(num_threads), threads,
                                                        thread_datastruct);
    delete[] row_partitions;
    return all_started;
}
