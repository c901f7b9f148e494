// Salvaging VID files: finding the records of a damaged or unfinished file by their
// blocked-compress marker, and writing a new file around records kept verbatim.
//
// A record is found wherever the marker begins; its length is what its own header announces
// (blocked_compress_length), and it counts only when it expands completely (uncompress_MT)
// to one whole frame. Scanning goes on behind a kept record, and one byte further after a
// candidate that fails. Nothing here prints; failures come back as text. Not thread-safe
// per object; separate calls are independent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct VidSalvageRecord {
    int64_t offset = 0;
    int64_t length = 0;
    uint64_t expanded_bytes = 0; // what the record expands to
};

struct VidSalvageScan {
    std::vector<VidSalvageRecord> records; // expand completely, in file order
    std::vector<int64_t> damaged;          // offsets of candidates that did not expand
    int64_t torn_tail = -1;                // offset of a record cut short by the file's end
    int64_t file_size = 0;
};

// Scans the file at `path` for records. With frame_bytes > 0 only records that expand to
// exactly that many bytes are kept (others count as damaged); with 0 every record that
// expands completely is kept, with its size, so the caller can settle the geometry.
// progress(done, total), when given, is called now and then with bytes scanned.
bool vid_salvage_scan(const char* path, uint64_t frame_bytes, VidSalvageScan& scan,
                      std::string& error, void (*progress)(int64_t, int64_t) = nullptr);

// Writes a VID file at out_path holding `records` of in_path verbatim, in order, behind a
// header for width x height frames (RGB, or Bayer with one- or two-byte samples) and a table
// of exactly records.size() entries. The file is written under a temporary name beside
// out_path and takes that name only when complete; on failure nothing is left behind.
bool vid_salvage_write(const char* in_path, const char* out_path, int width, int height, bool bayer,
                       bool two_bytes, const std::vector<VidSalvageRecord>& records,
                       std::string& error);
