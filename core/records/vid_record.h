// A frame's record: the bytes a table entry points at. Two formats are told apart by the first
// byte of their marker: classic records (the blocked-compress buffer of
// compress_uncompress_MT.h, marker 81 72 63 54 45 36 27 18) and compact records of the first
// generation (vid_compact.h, marker 82 72 ..., what compact recording writes at effort 1) and
// the second (vid_compact2.h, marker 83 72 ..., at the efforts above); a zero-length record is
// a black frame. This unit alone
// knows which format a record has: its head (format, length, expanded size), making one from
// a frame, expanding one. A third format would be one more branch here and a file of its own.
// Thread-safe; the codecs run on their own workers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compress_uncompress_MT.h"
#include "vid_compact.h"
#include "vid_compact2.h"
#include "vid_format.h"
#include "vid_result.h"

enum class VidRecordFormat { none, classic, compact, compact2 };

// A record's head as its first bytes give it.
struct VidRecordHead {
    VidRecordFormat format = VidRecordFormat::none; // none: no sound head of either format
    int64_t length = -1;                            // of the whole record, as announced
    uint64_t expanded_bytes = 0;                    // what the record expands to
};

// Bytes enough for the longest head of either format (a compact one: 24 + 8 x 8; a classic
// one: 12 + 8 x 8).
constexpr size_t kVidRecordLongestHead = kVidCompactHeadBytes + 8 * kVidCompactMaxBlocks;
// The marker's first byte in each format; its other seven bytes are the same in both.
constexpr unsigned char kVidClassicMarkerFirst = 0x81;
constexpr unsigned char kVidCompactMarkerFirst = 0x82;
extern const unsigned char kVidRecordMarkerRest[7];

// The head of the record whose first `available` bytes are at `head`.
VidRecordHead vid_record_head(const unsigned char* head, size_t available);
// The format alone, from the marker (8 bytes are enough).
VidRecordFormat vid_record_format(const unsigned char* head, size_t available);

// Makes the record of a width x height frame of `kind` (frame_bytes bytes: RGB 3 per pixel,
// mosaics 1 or 2 per sample, little-endian) in `record`, whose room is record_size on entry
// and the record's length on success: a compact record when `compact` and it fits (the
// smallest frames do not), else a classic one, at compression effort 1 to 9. Returns
// VID_CODEC_OK or the codec's failure.
int vid_record_make(unsigned char* record, unsigned long& record_size, const unsigned char* frame,
                    unsigned long frame_bytes, int width, int height, VidKind kind, bool compact,
                    int effort, std::string* report = nullptr);

// Expands the record of `length` bytes into `frame` (frame_size bytes on entry, those given on
// return), telling `notify` (when not null) of final bytes on the workers. A compact record
// must describe width x height frames of `kind` (width 0: any geometry). Returns VID_CODEC_OK,
// VID_CODEC_DATA_ERROR for a record of neither format or of other frames, or the codec's
// failure. What the codecs report on the way is appended to *report (when not null); both
// functions print nothing.
int vid_record_expand(unsigned char*& frame, unsigned long& frame_size, const unsigned char* record,
                      unsigned long length, int width, int height, VidKind kind,
                      const VidExpandedBytes* notify = nullptr, std::string* report = nullptr);

// Records in a file.
// The length the record at `at` announces in its own blocked-compress header, read from at
// most the first bytes of the `available` ones there; -1 when they hold no such header. This
// is how a record's end is found where the table does not give it (the last record, records
// behind the table).
int64_t vid_announced_record_length(FILE* f, int64_t at, int64_t available);
// Where the record starting at `start` ends in a file of `file_end` bytes: the file's end,
// or, when a writer stopped in the middle of a frame left a torn record behind the last whole
// one, where the record's own head says.
int64_t vid_record_end(FILE* f, int64_t start, int64_t file_end);

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
