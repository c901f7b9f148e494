// A frame's record: the bytes a table entry points at. Two formats are told apart by the first
// byte of their marker: classic records (the blocked-compress buffer of
// compress_uncompress_MT.h, marker 81 72 63 54 45 36 27 18) and compact records (vid_compact.h,
// marker 82 72 63 54 45 36 27 18); a zero-length record is a black frame. This unit alone
// knows which format a record has: its head (format, length, expanded size), making one from
// a frame, expanding one. A third format would be one more branch here and a file of its own.
// Thread-safe; the codecs run on their own workers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compress_uncompress_MT.h"
#include "vid_compact.h"
#include "vid_format.h"

enum class VidRecordFormat { none, classic, compact };

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
                    int effort);

// Expands the record of `length` bytes into `frame` (frame_size bytes on entry, those given on
// return), telling `notify` (when not null) of final bytes on the workers. A compact record
// must describe width x height frames of `kind` (width 0: any geometry). Returns VID_CODEC_OK,
// VID_CODEC_DATA_ERROR for a record of neither format or of other frames, or the codec's
// failure.
int vid_record_expand(unsigned char*& frame, unsigned long& frame_size, const unsigned char* record,
                      unsigned long length, int width, int height, VidKind kind,
                      const VidExpandedBytes* notify = nullptr);
