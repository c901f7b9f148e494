// Frames of a VidHeader reader in MATLAB's column-major planes (vid_image_layout.h), for
// clipReadMex and the readers behind VidReader (vidMex, vidReadFrames): a sink of the core's
// one read path (vid_read_frames), which hands over rows as they are final, on the codec's
// workers while other blocks still expand. Nothing allocated and no host calls on the read's
// own path, so a host that ends the call at a container report without unwinding leaves
// nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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
bool vid_read_frames_planes(VidHeader* r, int first, int count, Element* out, VidError& failure,
                            const VidPicture* picture = nullptr)
{
    VidFramePlanes<Element> planes{out, size_t(r->width), size_t(r->height)};
    return vid_read_frames(*r, first, count, VidRowSink{&VidFramePlanes<Element>::rows, &planes}, 0,
                           failure, picture);
}

// Reads frame k of the reader r into out (3 x width x height elements); a failure is the
// reader's report (clipReadMex: raised inside the read).
template <class Element> bool vid_read_frame_planes(VidHeader* r, int k, Element* out)
{
    VidError failure;
    return vid_read_frames_planes(r, k, 1, out, failure);
}

// Frames first .. first + count - 1 pictured by vid_read_picture (the clip's description; mono
// clips as one plane with channels 1; 16 bits with sixteen), each as channels x width x height
// elements of Value in MATLAB's order, into out. False with `failure` when a read fails.
template <class Value>
bool vid_read_pictures_planes(VidHeader* r, const VidPicture& picture, int first, int count,
                              int channels, bool sixteen, Value* out, VidError& failure)
{
    const size_t w = size_t(r->width), h = size_t(r->height), c = size_t(channels);
    std::vector<uint16_t> deep(sixteen ? w * h * c : 0);
    std::vector<unsigned char> shallow(sixteen ? 0 : w * h * c);
    for (int k = 0; k < count; k++) {
        void* frame = sixteen ? static_cast<void*>(deep.data()) : shallow.data();
        if (!vid_read_picture(*r, first + k, picture, frame, channels, sixteen, failure))
            return false;
        Value* o = out + size_t(k) * w * h * c;
        for (size_t y = 0; y < h; y++)
            for (size_t x = 0; x < w; x++)
                for (size_t i = 0; i < c; i++) {
                    const size_t at = (y * w + x) * c + i;
                    o[(i * w + x) * h + y] = sixteen ? Value(deep[at]) : Value(shallow[at]);
                }
    }
    return true;
}
