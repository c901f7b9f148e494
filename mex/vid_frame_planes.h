// Reads a frame of a VidHeader reader into MATLAB's column-major planes (vid_image_layout.h),
// for clipReadMex and the readers behind VidReader (vidMex, vidReadFrames). In RGB files the
// rows are put in place on the codec's workers as soon as their blocks have expanded, side by
// side with the blocks still expanding; the rows no worker finished (those across the
// boundary of two workers' blocks, all rows of a Bayer frame) follow once the read is done.
// No host calls and nothing allocated, so a host that ends the call without unwinding (a
// container report raised inside the read) leaves nothing behind.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "vid_image_layout.h"

template <class Element> struct VidFramePlanesJob {
    const unsigned char* pixmap;
    size_t width, height;
    Element* out;
    // The row ranges the workers put in place: one per worker, at most one per block.
    static const int kSlots = int(max_compress_MT_blocks);
    std::atomic<int> told{0};
    size_t first[kSlots], last[kSlots];

    // The whole rows inside bytes [begin, end) of the frame. A range without a slot (there
    // are never more workers than blocks) is simply put in place once more afterwards.
    static void ready(void* context, unsigned long begin, unsigned long end)
    {
        VidFramePlanesJob* job = static_cast<VidFramePlanesJob*>(context);
        const size_t row_bytes = 3 * job->width;
        size_t from = (size_t(begin) + row_bytes - 1) / row_bytes;
        size_t to = size_t(end) / row_bytes;
        if (to > job->height)
            to = job->height;
        if (from >= to)
            return;
        vid_pixmap_rows_to_planes(job->pixmap, job->width, job->height, job->out, from, to);
        int slot = job->told.fetch_add(1);
        if (slot < kSlots) {
            job->first[slot] = from;
            job->last[slot] = to;
        }
    }
};

// Reads frame k of the reader r into out (3 x width x height elements); false when the read
// fails (r->lastError() then says why, and out holds no frame).
template <class Element> bool vid_read_frame_planes(VidHeader* r, int k, Element* out)
{
    VidFramePlanesJob<Element> job;
    job.pixmap = r->pixmap;
    job.width = size_t(r->width);
    job.height = size_t(r->height);
    job.out = out;
    VidExpandedBytes notify{&VidFramePlanesJob<Element>::ready, &job};
    if (!r->readFrameFromVideoFile(k, &notify))
        return false;
    // The workers have been joined: their ranges, in row order, and the gaps between them.
    int n = job.told.load();
    if (n > job.kSlots)
        n = job.kSlots;
    for (int i = 1; i < n; i++)
        for (int j = i; j > 0 && job.first[j] < job.first[j - 1]; j--) {
            std::swap(job.first[j], job.first[j - 1]);
            std::swap(job.last[j], job.last[j - 1]);
        }
    size_t y = 0;
    for (int i = 0; i <= n; i++) {
        const size_t gap_end = i < n ? job.first[i] : job.height;
        if (gap_end > y)
            vid_pixmap_rows_to_planes(r->pixmap, job.width, job.height, out, y, gap_end);
        if (i < n && job.last[i] > y)
            y = job.last[i];
    }
    return true;
}

// Reads frames first .. first + count - 1 of r into out, one frame after the other (each
// 3 x width x height elements); false when a read fails (r->lastError() says why).
template <class Element>
bool vid_read_frames_planes(VidHeader* r, int first, int count, Element* out)
{
    const size_t frame = size_t(r->pixmap_size);
    for (int i = 0; i < count; i++)
        if (!vid_read_frame_planes(r, first + i, out + frame * size_t(i)))
            return false;
    return true;
}
