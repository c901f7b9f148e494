// The clip block: what a recording keeps beside its frames (one timestamp per frame, the frame
// rate, the start time and free metadata), in the one place of a VID file that readers of the
// frames never look at.
//
// Readers find record k only through table entry k, so the bytes between the end of the
// reserved table and record 0 are never read by them. The clip block fills exactly that gap:
//
//   8 + 8T        8S bytes   timestamps of frames 0 .. S-1: signed 64-bit nanoseconds on the
//                            recorder's clock, little-endian; INT64_MIN where there is none
//                            (S = T, the table's reserved entries)
//   8 + 8T + 8S   L bytes    metadata: a JSON object, UTF-8
//   then          80 bytes   trailer, ending exactly where record 0 begins (table entry 0):
//     +0   8   magic 89 56 49 44 43 4C 49 50 ("\x89VIDCLIP")
//     +8   4   layout version, 1 (a later one is reported, never read as this one)
//     +12  4   flags; bit 0: the writer finished the file
//     +16  8   bytes of the whole block (8S + L + 80)
//     +24  8   timestamp slots S
//     +32  8   frame rate in frames per second, IEEE-754 double; 0 when unknown
//     +40  32  start time, ISO 8601 UTC ("2026-12-10T08:15:02.250000Z"), printable ASCII ended
//              by a NUL (or filling all 32 bytes); the bytes behind its NUL are the
//              recording's identity, random bytes drawn when the writer created the file and
//              kept by its finish, by vid repair and by vid convert (zeros in files of older
//              writers). Readers of the start time stop at the NUL.
//     +72  4   metadata bytes L
//     +76  4   CRC-32 (zlib's) of the L metadata bytes followed by trailer bytes +0 .. +75
//
// A new reader reads table entry 0 (even in a file of 0 frames: every writer reserves one
// entry), looks for the trailer just before it and takes the block only when every field
// agrees. The metadata is one JSON object nested at most 64 deep (vid_json.h); a block whose
// checksum holds but whose metadata, start time or frame rate breaks these rules keeps its
// timestamps and loses only the broken field (reported as damaged). A writer puts the block in the
// file at creation and each frame's timestamp before the frame's table entry and count, so a frame
// counted by the header always has its time. Timestamps are not covered by the CRC (they are
// written one by one); a block whose trailer or metadata fails its checks is reported as damaged
// and the frames read as ever.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vid_format.h"

constexpr int kVidClipTrailerBytes = 80;
constexpr int kVidClipStartTimeBytes = 32;
constexpr uint32_t kVidClipLayoutVersion = 1;
constexpr uint32_t kVidClipFinished = 1;
constexpr int64_t kVidNoTimestamp = INT64_MIN;
// The largest metadata a writer takes (it must fit a reader's memory without doubt).
constexpr int64_t kVidClipMaxMetadataBytes = 16 << 20;
// Frame rates a writer takes and a reader believes (besides 0, unknown).
constexpr double kVidClipMinFrameRate = 1e-6;
constexpr double kVidClipMaxFrameRate = 1e9;

// A clip block as a reader finds it.
struct VidClip {
    bool present = false; // a block whose lengths and checksum hold: its timestamps read
    bool damaged = false; // a block that fails a check (see problem): when present too, only
                          // the broken fields (metadata, start time, frame rate) are lost
    std::string problem;  // why it is damaged, in plain words
    uint32_t flags = 0;
    double frame_rate = 0;
    std::string start_time;
    std::string start_field;  // the 32 bytes of the start time and identity, as stored
    std::string metadata;     // the JSON text as stored (empty when broken), without the room
    size_t metadata_room = 0; // spaces stored behind it (room a recorder kept)
    int64_t block_at = 0;     // where the block starts
    int64_t slots = 0;        // timestamp slots
};

// The block of the file open in `f`, of `file_size` bytes, whose header counts `frames`.
// Never fails: an absent block is !present && !damaged.
VidClip vid_read_clip(FILE* f, int64_t file_size, int64_t frames);

// Timestamps of frames 0 .. count-1 (kVidNoTimestamp where the block has none). False when
// the file cannot be read.
bool vid_read_timestamps(FILE* f, const VidClip& clip, int64_t count, std::vector<int64_t>& out);
// Timestamps of frames first .. first+count-1 only (kVidNoTimestamp where there are none).
bool vid_read_timestamps_range(FILE* f, const VidClip& clip, int64_t first, int64_t count,
                               std::vector<int64_t>& out);

// The bytes of a whole block of `slots` timestamp slots: the first timestamps.size() filled,
// the rest kVidNoTimestamp.
std::vector<unsigned char> vid_clip_block(const VidClip& clip,
                                          const std::vector<int64_t>& timestamps, int64_t slots);

// Checks what a writer is given; "" when it may be written, else why not. A frame rate is 0
// (unknown) or 1e-6 to 1e9 frames per second; a start time at most 32 printable ASCII
// characters; metadata one JSON object (vid_json.h).
std::string vid_clip_check(double frame_rate, const char* start_time, const char* metadata);

// The start-time field of a new recording: `start_time`, a NUL, and random bytes after it as
// the recording's identity.
std::string vid_clip_new_identity(const std::string& start_time);
// True when two blocks belong to the same recording (the same start-time field).
bool vid_clip_same_recording(const VidClip& a, const VidClip& b);

// The host's real-time clock: nanoseconds since the UNIX epoch.
int64_t vid_clock_now_ns();
// A time in nanoseconds since the UNIX epoch as ISO 8601 UTC with microseconds.
std::string vid_iso8601_utc(int64_t ns);

// Marks an open writer's block finished (flags and CRC); true when there is none.
bool vid_clip_mark_finished(FILE* f, int64_t block_at, int64_t slots);
// Replaces the metadata of the finished file open in `f` (read and write) in place, by
// `metadata` padded with spaces to the stored length (a recorder keeps room for what it learns
// by the end); false when there is no block or the new text is longer.
bool vid_clip_replace_metadata(FILE* f, const std::string& metadata);
