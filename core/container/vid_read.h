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

#include "vid_result.h"

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
// with the same frames, else fewer workers run. Frames run side by side only while the calling
// thread captures reports (report.h), whose capture then extends to the workers; otherwise
// (the MATLAB build raises reports) every frame is read on the calling thread, with nothing
// allocated. False with `failure` (the earliest failed frame) when a frame cannot be read; a
// frame outside the file is refused by v's own report, after the frames before it.
bool vid_read_frames(VidHeader& v, int first, int count, const VidRowSink& sink, int workers,
                     VidError& failure);
// The frame-parallel policy: as many readers as the machine has processors beyond the blocks
// one frame keeps busy, at least 1, at most count.
int vid_read_workers(const VidHeader& v, int count);

// Frames first .. first + count - 1 as RGB (rows from the top, R G B) into `out`, which holds
// count * v.pixmap_size bytes: vid_read_frames with a sink that copies.
bool vid_read_rgb(VidHeader& v, int first, int count, unsigned char* out, int workers,
                  VidError& failure);

// A Bayer frame's samples as stored, without demosaic and gains, into `out`: width * height
// samples of one byte, or of two bytes in the host's order (host_order) or as the file keeps
// them, little-endian (host_order false: the stored bytes).
bool vid_read_mosaic(VidHeader& v, int k, void* out, bool host_order, VidError& failure);
