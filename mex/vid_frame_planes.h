// Reads a frame of a VidHeader reader into MATLAB's column-major planes (vid_image_layout.h),
// for the readers behind VidReader (vidMex, vidReadFrames). In RGB files the rows are put in
// place on the codec's workers as soon as their blocks have expanded, side by side with the
// blocks still expanding; the rows no worker finished (those across the boundary of two
// workers' blocks, all rows of a Bayer frame) follow once the read is done. No host calls.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "vid_image_layout.h"

template <class Element> struct VidFramePlanesJob {
    const unsigned char* pixmap;
    size_t width, height;
    Element* out;
    unsigned char* row_done; // one flag per row, each set by the one worker that wrote the row

    // The whole rows inside bytes [begin, end) of the frame.
    static void ready(void* context, unsigned long begin, unsigned long end)
    {
        VidFramePlanesJob* job = static_cast<VidFramePlanesJob*>(context);
        const size_t row_bytes = 3 * job->width;
        size_t first = (size_t(begin) + row_bytes - 1) / row_bytes;
        size_t last = size_t(end) / row_bytes;
        if (last > job->height)
            last = job->height;
        if (first >= last)
            return;
        vid_pixmap_rows_to_planes(job->pixmap, job->width, job->height, job->out, first, last);
        std::memset(job->row_done + first, 1, last - first);
    }
};

// Reads frame k of the reader r into out (3 x width x height elements); false when the read
// fails (r->errMessage then says why, and out holds no frame).
template <class Element> bool vid_read_frame_planes(VidHeader* r, int k, Element* out)
{
    const size_t width = size_t(r->width), height = size_t(r->height);
    std::unique_ptr<unsigned char[]> row_done(new (std::nothrow) unsigned char[height]());
    VidFramePlanesJob<Element> job{r->pixmap, width, height, out, row_done.get()};
    VidExpandedBytes notify{&VidFramePlanesJob<Element>::ready, &job};
    // Without room for the flags every row is put in place after the read.
    if (!r->readFrameFromVideoFile(k, row_done ? &notify : nullptr))
        return false;
    for (size_t y = 0; y < height;) {
        size_t end = y;
        while (end < height && !(row_done && row_done[end]))
            end++;
        if (end > y)
            vid_pixmap_rows_to_planes(r->pixmap, width, height, out, y, end);
        y = end + 1;
    }
    return true;
}
