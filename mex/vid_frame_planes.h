// Frames of a VidHeader reader in MATLAB's column-major planes (vid_image_layout.h), for
// clipReadMex and the readers behind VidReader (vidMex, vidReadFrames): a sink of the core's
// one read path (vid_read_frames), which hands over rows as they are final, on the codec's
// workers while other blocks still expand. Nothing allocated and no host calls on the read's
// own path, so a host that ends the call at a container report without unwinding leaves
// nothing behind.
#pragma once

#include <cstddef>

#include "VidHeader.h"
#include "vid_image_layout.h"
#include "vid_read.h"

template <class Element> struct VidFramePlanes {
    Element* out; // count frames of 3 x width x height elements
    size_t width, height;

    static void rows(void* context, int k, size_t begin, size_t end, const unsigned char* frame)
    {
        const VidFramePlanes* p = static_cast<const VidFramePlanes*>(context);
        const size_t plane = p->width * p->height;
        Element* out = p->out + 3 * plane * size_t(k);
        if (frame != nullptr) {
            vid_pixmap_rows_to_planes(frame, p->width, p->height, out, begin, end);
            return;
        }
        for (size_t c = 0; c < 3; c++) // a black frame's rows
            for (size_t x = 0; x < p->width; x++)
                for (size_t y = begin; y < end; y++)
                    out[c * plane + x * p->height + y] = Element(0);
    }
};

// Reads frames first .. first + count - 1 of r into out (each 3 x width x height elements);
// false when a read fails, with `failure` saying why (out then holds no whole frame).
template <class Element>
bool vid_read_frames_planes(VidHeader* r, int first, int count, Element* out, VidError& failure)
{
    VidFramePlanes<Element> planes{out, size_t(r->width), size_t(r->height)};
    return vid_read_frames(*r, first, count, VidRowSink{&VidFramePlanes<Element>::rows, &planes}, 0,
                           failure);
}

// Reads frame k of the reader r into out (3 x width x height elements); a failure is the
// reader's report (clipReadMex: raised inside the read).
template <class Element> bool vid_read_frame_planes(VidHeader* r, int k, Element* out)
{
    VidError failure;
    return vid_read_frames_planes(r, k, 1, out, failure);
}
