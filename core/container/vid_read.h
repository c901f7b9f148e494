// Frames of an open VID reader into callers' buffers: the read path under the Python binding
// and the programs.
//
// A zero-length record is a black frame: it is given as zeros straight into the caller's
// buffer, without clearing or expanding anything in the reader, so a file that announces
// huge black frames costs its reader nothing per frame. Failures come back as a VidError (the
// reader's lastError() where the reader failed); nothing here prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vid_format.h"
#include "vid_result.h"
#include "vid_sensor.h"

class VidHeader;

// Receives the frames of a read, as rows: rows [begin, end) of the call's frame k (0-based
// within the call) are final, at `frame` + begin * width * 3 onwards (frame: the whole RGB
// frame, rows from the top, R G B), or black when `frame` is null (a zero-length record).
// Every row of every frame is delivered exactly once; RGB rows on the codec's workers as their
// blocks finish, concurrently for different rows, the rest (Bayer frames: all) after each
// frame's read, and frames side by side on several readers at once when the read runs so.
struct VidRowSink {
    void (*rows)(void* context, int k, size_t begin, size_t end, const unsigned char* frame);
    void* context;
};

// Frames first .. first + count - 1 of v to the sink. workers 0 chooses (vid_read_workers);
// workers > 1 reads frames side by side, each further worker with a reader of its own opened
// on the same path, used only when it is the very file v has open (device and file number)
// with the same frames, else fewer workers run. False with `failure` (the earliest failed
// frame) when a frame cannot be read; a frame outside the file is refused by v's own report,
// after the frames before it. `picture` (null: as clips always have been) says how Bayer and
// mono frames are pictured.
struct VidPicture;
bool vid_read_frames(VidHeader& v, int first, int count, const VidRowSink& sink, int workers,
                     VidError& failure, const VidPicture* picture = nullptr);
// The frame-parallel policy: as many readers as the machine has processors beyond the blocks
// one frame keeps busy, at least 1, at most count.
int vid_read_workers(const VidHeader& v, int count);

// Frames first .. first + count - 1 as RGB (rows from the top, R G B) into `out`, which holds
// count * v.pixmap_size bytes: vid_read_frames with a sink that copies.
bool vid_read_rgb(VidHeader& v, int first, int count, unsigned char* out, int workers,
                  VidError& failure, const VidPicture* picture = nullptr);

// How the new interfaces picture a clip's frames: a described clip (vid_sensor.h) rendered by
// its description (vid_render.h), 8-bit linear or with the sRGB curve; every other clip as
// clips always have been (the fixed demosaics), so that its pictures stay byte for byte.
struct VidPicture {
    VidKind kind = VidKind::none; // the clip's (vid_kind: mono kinds included)
    VidSensor sensor;             // rendered by it when described
    bool srgb = false;            // 8-bit pictures with the sRGB curve (else linear)
};
// The picture an open reader's clip asks for.
VidPicture vid_picture(VidHeader& v);

// Frame k pictured into `out`: `channels` 3 (RGB) or 1 (mono clips only) values per pixel, of
// 8 bits (uint8_t) or, with sixteen, 16 bits linear (uint16_t; RGB files scaled by 257, a
// clip without a description rendered by its kind's defaults).
bool vid_read_picture(VidHeader& v, int k, const VidPicture& picture, void* out, int channels,
                      bool sixteen, VidError& failure);

// A Bayer frame's samples as stored, without demosaic and gains, into `out`: width * height
// samples of one byte, or of two bytes in the host's order (host_order) or as the file keeps
// them, little-endian (host_order false: the stored bytes).
bool vid_read_mosaic(VidHeader& v, int k, void* out, bool host_order, VidError& failure);
