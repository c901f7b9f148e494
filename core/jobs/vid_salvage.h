// Salvaging VID files: finding the records of a damaged or unfinished file by their
// blocked-compress marker, planning a repaired file from its table where the table can be
// trusted, and writing a new file around records kept verbatim.
//
// A scanned record is found wherever the marker begins; its length is what its own header
// announces (blocked_compress_length), and it counts only when it expands completely to one
// whole frame. Every expansion is bounded by the frame size: a candidate whose header
// announces another size, or a record longer than twice the frame (which readers refuse),
// is not expanded at all. The scan reads the file once, sequentially; candidates inside a
// record that failed to expand are examined only within a budget of a few times the file's
// size, so no file makes the work grow faster than its size. Nothing here prints; failures
// come back as a VidError (vid_result.h). Not thread-safe per object; separate calls are
// independent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vid_result.h"

struct VidSalvageRecord {
    int64_t offset = 0;
    int64_t length = 0;          // 0: a zero-length record (a black frame)
    uint64_t expanded_bytes = 0; // what the record expands to
    int64_t frame = -1;          // its frame in the file's table (-1: found behind it), whose
                                 // timestamp a repaired file keeps
};

// The most damaged candidates a scan lists one by one: a forged file of markers alone must
// not make a list as large as itself.
constexpr size_t kVidSalvageListed = 1024;

struct VidSalvageScan {
    std::vector<VidSalvageRecord> records; // expand completely, in file order
    std::vector<int64_t> damaged;          // offsets of candidates that did not expand: the
                                           // first kVidSalvageListed of them
    int64_t damaged_unlisted = 0;          // and how many more there were
    int64_t torn_tail = -1;                // offset of a record cut short by the file's end
    int64_t file_size = 0;
};

// Scans the file at `path` for records. With frame_bytes > 0 only records that expand to
// exactly that many bytes are kept (others count as damaged); with 0 the size most record
// headers announce is taken as the frame's, and the records of that size are kept.
// progress(done, total), when given, is called now and then with bytes scanned.
bool vid_salvage_scan(const char* path, uint64_t frame_bytes, VidSalvageScan& scan, VidError& error,
                      void (*progress)(int64_t, int64_t) = nullptr);
// The same over the bytes [from, to) of the file only (to -1: its end).
bool vid_salvage_scan_range(const char* path, int64_t from, int64_t to, uint64_t frame_bytes,
                            VidSalvageScan& scan, VidError& error,
                            void (*progress)(int64_t, int64_t) = nullptr);

// What a repair keeps and drops.
struct VidRepairOptions {
    int width = 0, height = 0; // given frame size (0: from the file's header)
    bool bayer = false, two_bytes = true;
    bool keep_numbering = false; // a black record in place of each dropped frame
};
struct VidRepairDropped {
    int64_t frame = -1;  // the frame's number in the file's table, or -1 for a scanned record
    int64_t offset = -1; // where its record was (or should have been)
    std::string reason;
};
struct VidRepairPlan {
    int width = 0, height = 0; // the settled frame size; 0 when neither header nor options say
    bool bayer = false, two_bytes = true;
    std::vector<VidSalvageRecord> records; // the repaired file's frames, in order
    std::vector<VidRepairDropped> dropped;
    int64_t dropped_unlisted = 0;     // scanned candidates dropped beyond those listed
    int64_t from_table = 0;           // frames kept through the file's own table
    int64_t from_scan = 0;            // records found by scanning
    int64_t torn_tail = -1;           // a record cut short by the end of the file
    uint64_t common_record_bytes = 0; // the size most scanned records expand to
};

// Plans a repaired file: every frame a reader of the file reads intact is kept as it is
// (zero-length records and plain zlib streams included), through the table wherever its
// entries give records within the file; only where they do not, and behind the last frame
// the header counts (frames of a writer stopped after its table was full), is the file
// scanned for records. Files whose header cannot be read (all zeros, a table that does not
// fit) are scanned whole. False only when the file cannot be read at all.
bool vid_repair_plan(const char* path, const VidRepairOptions& options, VidRepairPlan& plan,
                     VidError& error, void (*progress)(int64_t, int64_t) = nullptr);

// Writes a VID file at out_path holding `records` of in_path verbatim, in order, behind a
// header for width x height frames (RGB, or Bayer with one- or two-byte samples) and a table
// of exactly records.size() entries, and in_path's clip block when it is intact (its
// metadata, and each kept frame's timestamp). A regular file is written under a temporary name
// beside out_path, synced and renamed when complete (on failure nothing is left behind); a device
// or named pipe is written into directly (vid_output_file.h).
bool vid_salvage_write(const char* in_path, const char* out_path, int width, int height, bool bayer,
                       bool two_bytes, const std::vector<VidSalvageRecord>& records,
                       VidError& error);
