// What an open reader's file holds as records: the kind of its frames, where its records end
// and the state the file is in. The programs and bindings ask this unit instead of walking
// the table and the records' headers themselves.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "vid_format.h"
#include "vid_result.h"

class VidHeader;

// The length the record at `at` announces in its own blocked-compress header, read from at
// most the first bytes of the `available` ones there; -1 when they hold no such header. This
// is how a record's end is found where the table does not give it (the last record, records
// behind the table).
int64_t vid_announced_record_length(FILE* f, int64_t at, int64_t available);

// The end of an open reader's last record, which starts at `start` within the file: the
// file's end at opening, or, when a writer stopped in the middle of a frame left that frame's
// torn record behind the last whole one, where the last record's own header says. (A finished
// file's last record always ends at the end of the file.) VidHeader::recordBytes and the
// reads use it.
int64_t vid_last_record_end(VidHeader& v, int64_t start);

// The kind of an open reader's frames; none for an empty file (vid_is_empty).
VidKind vid_kind(VidHeader& v);
// The kind of frames a header's flags describe.
VidKind vid_kind_of(bool bayer, bool two_bytes);
// Where frame k's record starts, as the table says (-1 outside the frames).
int64_t vid_record_offset(const VidHeader& v, int k);
// The colour of a Bayer file's sample at (x, y), as the demosaic reads it: 'R', 'G' or 'B'
// (two-byte samples: green-red over blue-green rows when the width is exactly 1600, blue-green
// over green-red otherwise; one-byte samples: green-red over blue-green); 0 for RGB files.
char vid_bayer_site(VidKind kind, int width, int x, int y);
// "rgb", "bayer8", "bayer16"; null for none.
const char* vid_kind_name(VidKind kind);
// The kind a name gives (one of vid_kind_name's); false for any other name, which every
// interface refuses.
bool vid_kind_parse(const char* name, VidKind& kind);
// "RGB", "Bayer one-byte", "Bayer two-byte"; "none" for none.
const char* vid_kind_text(VidKind kind);

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

// The table's entries as stored, from or to the stream's current position (the table begins
// right behind the header). False when a read or write fell short.
bool vid_read_table(FILE* f, int64_t* entries, int64_t count);
bool vid_write_table(FILE* f, const int64_t* entries, int64_t count);

// A record of an existing file, kept verbatim: where it lies and how long it is (0: a black
// frame).
struct VidRecordSpan {
    int64_t offset;
    int64_t length;
};
// Writes a whole VID file into `out`, a fresh stream (a file, or a pipe: nothing is sought): a
// header for `records.size()` frames of width x height (RGB, or Bayer of one or two bytes), the
// table, and the records copied verbatim from `in`. False with `error` (the errno in
// error.error_number; error.file is left for the caller) when a read or write failed. The caller
// completes `out` (VidOutputFile: synced, then renamed into place): the grown-table rewrite and vid
// repair both write so.
// `clip_block`, when given and not empty, is placed between the table and the first record
// (vid_clip.h; its slots must equal the frames, and a file of 0 frames then keeps one entry).
bool vid_write_records(FILE* in, FILE* out, int width, int height, bool bayer, bool two_bytes,
                       const std::vector<VidRecordSpan>& records, VidError& error,
                       const std::vector<unsigned char>* clip_block = nullptr);
