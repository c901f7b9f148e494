// Following a VID file while its writer appends frames: a reader takes in the frames that
// became part of the file since it opened (or last looked), in the order the writer makes them
// part of it (record, table entry, then the header's count), so every frame it takes is whole.
#pragma once

#include <cstdint>

#include "vid_result.h"

class VidHeader;

// Re-reads an open reader's file and takes in its new frames: those the header counts now, and
// beyond a full table the whole records a writer appended behind the last counted one (frames
// that only the finish puts in the table; their timestamps arrive with the finish). When the
// path names another file now (a finish that rewrote the file under a temporary name and renamed
// it), the reader moves to it. Frames already taken keep their numbers and pixels. False with
// `error` when the file cannot be read any more or no longer holds the frames taken (another
// recording replaced it, it shrank); the reader then keeps what it had.
bool vid_refresh(VidHeader& v, VidError& error);
