// What an open reader's file holds: the kind of its frames, where its records end, the state
// the file is in, its clip block and timestamps. The programs and bindings ask this unit
// instead of walking the table and the records' headers themselves. It sits above VidHeader;
// what it asks of a file's bytes is below it (vid_record.h, vid_clip.h, vid_kind.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "vid_clip.h"
#include "vid_format.h"
#include "vid_kind.h"
#include "vid_record.h"
#include "vid_result.h"
#include "vid_sensor.h"

class VidHeader;

// The end of an open reader's last record, which starts at `start` within the file: the
// file's end at opening, or, when a writer stopped in the middle of a frame left that frame's
// torn record behind the last whole one, where the last record's own header says. (A finished
// file's last record always ends at the end of the file.) VidHeader::recordBytes and the
// reads use it.
int64_t vid_last_record_end(VidHeader& v, int64_t start);

// The kind of an open reader's frames; none for an empty file (vid_is_empty). A Bayer file
// whose clip's sensor description has the pattern none holds mono frames.
VidKind vid_kind(VidHeader& v);
// The sensor description of an open reader's clip of `kind` (vid_kind): its metadata's keys,
// the defaults of the kind for the rest; not described when the metadata names no key (or
// holds a description that cannot hold, which a writer refuses).
VidSensor vid_sensor(VidHeader& v, VidKind kind);
// Where frame k's record starts, as the table says (-1 outside the frames).
int64_t vid_record_offset(const VidHeader& v, int k);

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

// How many of an open reader's frames are classic records, compact ones (vid_compact.h) and
// black frames (zero-length records); a record whose first bytes cannot be read counts as
// none of them. Reads 8 bytes per frame.
struct VidRecordKinds {
    int64_t classic = 0, compact = 0, black = 0;
};
VidRecordKinds vid_record_kinds(VidHeader& v);

// True for a file without frames and without anything behind its table: the table's entries
// all point to its end (or are zero). Such a file is empty and intact, of no kind.
bool vid_is_empty(VidHeader& v);

// The state of a file as its table and its records' headers tell it; nothing is expanded.
enum class VidState {
    complete,   // every record the table announces is there, nothing behind the last one
    empty,      // no frames and nothing behind the table
    unfinished, // a writer was stopped: bytes or whole records behind the last counted one
    truncated,  // records the table announces are missing or cut: the file lost its end
};
struct VidFileState {
    VidState state = VidState::complete;
    int64_t file_size = 0;
    int64_t table_entries = 0;  // entries between the header and the first record
    int64_t frames_missing = 0; // counted frames whose records start at or past the file's end
    int64_t frames_cut = 0;     // counted frames whose records run past the file's end
    VidTail tail;
};
VidFileState vid_file_state(VidHeader& v);
// "complete", "empty", "unfinished", "truncated".
const char* vid_state_name(VidState state);

// The clip block of an open reader or writer (a writer's file as it is now), and the
// timestamps of a reader's frames (kVidNoTimestamp where there are none); see vid_clip.h.
VidClip vid_read_clip(VidHeader& v);
bool vid_read_timestamps(VidHeader& v, const VidClip& clip, std::vector<int64_t>& out);
