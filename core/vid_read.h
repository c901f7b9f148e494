// Frames of an open VID reader into callers' buffers, and what a file holds beyond the frames
// its header counts. The read path under the Python binding and the programs.
//
// A zero-length record is a black frame: it is given as zeros straight into the caller's
// buffer, without clearing or expanding anything in the reader, so a file that announces
// huge black frames costs its reader nothing per frame. Failures come back as the reader's
// report (errMessage) and the system's errno where it refused; nothing here prints beyond
// what the reader itself reports through displayMessageBox.
#pragma once

#include <cstdint>
#include <string>

class VidHeader;

struct VidReadFailure {
    std::string message; // the reader's report, or a text of this unit
    int error_number = 0;
    int frame = -1; // the frame that failed, 0-based
};

// Frames first .. first + count - 1 as RGB (rows from the top, R G B) into `out`, which holds
// count * v.pixmap_size bytes. workers > 1 reads frames side by side, each further worker with
// a reader of its own opened on the same path; such a reader is used only when it is the very
// file v has open (device and file number) with the same frames, else fewer workers run. The
// calling thread's report capture (report.h) extends to the workers.
bool vid_read_rgb(VidHeader& v, int first, int count, unsigned char* out, int workers,
                  VidReadFailure& failure);

// A Bayer frame's samples as stored, without demosaic and gains, into `out`: width * height
// samples of one byte, or of two bytes in the host's order (host_order) or as the file keeps
// them, little-endian (host_order false: the stored bytes).
bool vid_read_mosaic(VidHeader& v, int k, void* out, bool host_order, VidReadFailure& failure);

// What follows the last counted record: whole records a writer appended beyond its table
// (a writer that grew its table and was stopped before it finished), and the bytes of a
// record cut short. Walks the records' own headers; expands nothing.
struct VidTail {
    int64_t whole_records = 0;
    bool torn = false;
    int64_t records_end = 0; // where the last whole record ends
    int64_t file_size = 0;
};
VidTail vid_records_behind(VidHeader& v);

// True for a file without frames and without anything behind its table: the table's entries
// all point to its end (or are zero). Such a file is empty and intact, of no kind.
bool vid_is_empty(VidHeader& v);
