// Frames of an open VID reader into callers' buffers: the read path under the Python binding
// and the programs.
//
// A zero-length record is a black frame: it is given as zeros straight into the caller's
// buffer, without clearing or expanding anything in the reader, so a file that announces
// huge black frames costs its reader nothing per frame. Failures come back as a VidError (the
// reader's lastError() where the reader failed); nothing here prints beyond what the reader
// itself reports through displayMessageBox.
#pragma once

#include <cstdint>
#include <string>

#include "vid_result.h"

class VidHeader;

// Frames first .. first + count - 1 as RGB (rows from the top, R G B) into `out`, which holds
// count * v.pixmap_size bytes. workers > 1 reads frames side by side, each further worker with
// a reader of its own opened on the same path; such a reader is used only when it is the very
// file v has open (device and file number) with the same frames, else fewer workers run. The
// calling thread's report capture (report.h) extends to the workers.
bool vid_read_rgb(VidHeader& v, int first, int count, unsigned char* out, int workers,
                  VidError& failure);

// A Bayer frame's samples as stored, without demosaic and gains, into `out`: width * height
// samples of one byte, or of two bytes in the host's order (host_order) or as the file keeps
// them, little-endian (host_order false: the stored bytes).
bool vid_read_mosaic(VidHeader& v, int k, void* out, bool host_order, VidError& failure);
