// Following a file while its writer appends; see vid_follow.h.
#include "vid_follow.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "VidHeader.h"
#include "vid_files.h"
#include "vid_clip.h"
#include "vid_format.h"
#include "vid_records.h"

namespace {

bool failed(VidError& error, const VidHeader& v, VidResult result, const std::string& detail,
            int error_number = 0)
{
    error = vid_error(result, v.videoFileName, detail, error_number);
    return false;
}

// The frames a file holds now beyond the first `known` (frames taken before from this very
// file, the last of them at `last_known`): the header's count and table, and the whole records
// behind a full table, into `added`. Known entries are not read again and the walk behind a
// full table starts after them, so a refresh costs what was appended since the last one.
// False when it cannot be read.
bool frames_now(FILE* f, int64_t size, const VidHeader& v, int64_t known, int64_t last_known,
                std::vector<int64_t>& added, VidError& error)
{
    unsigned char raw[kVidHeaderBytes];
    if (vid_fseek(f, 0, SEEK_SET) != 0 || fread(raw, 1, sizeof raw, f) != sizeof raw)
        return failed(error, v, VidResult::read_failed, "its header cannot be read", errno);
    const VidFileHeader h = vid_decode_header(raw);
    const bool bayer = v.vid_is_bayer_interpolated == 1;
    if (h.count_field == INT32_MIN || h.width != v.width || h.height != v.height ||
        (h.num_frames > 0 &&
         (h.bayer != bayer || (bayer && h.two_bytes != (v.vid_uses_two_bytes_per_pixel == 1)))))
        return failed(error, v, VidResult::not_vid_file,
                      "it now holds frames of another size or kind");
    const int64_t counted = h.num_frames;
    if (counted > (size - kVidHeaderBytes) / kVidTableEntryBytes)
        return failed(error, v, VidResult::not_vid_file, "its table does not fit in the file");
    try {
        added.resize(size_t(counted > known ? counted - known : 0));
    } catch (const std::bad_alloc&) {
        return failed(error, v, VidResult::out_of_memory, "");
    }
    if (!added.empty() &&
        (vid_fseek(f, kVidHeaderBytes + kVidTableEntryBytes * known, SEEK_SET) != 0 ||
         !vid_read_table(f, added.data(), int64_t(added.size()))))
        return failed(error, v, VidResult::read_failed, "its table cannot be read", errno);
    if (counted == 0)
        return true;
    // Behind a full table (no entry left between the table and the first record, past the
    // clip block) whole records are frames too.
    const VidClip clip = vid_read_clip(f, size, counted);
    int64_t first = known > 0 ? v.offsets[0] : added[0];
    const int64_t table_end = clip.present ? clip.block_at : first;
    if (table_end != vid_table_end(counted))
        return true;
    int64_t at = added.empty() ? last_known : added.back();
    int64_t length = vid_announced_record_length(f, at, size - at);
    // A last record that is a plain zlib stream or black says nothing of its end.
    if (length <= 0 || length > size - at)
        return true;
    at += length;
    while (at < size && known + int64_t(added.size()) < int64_t(INT32_MAX)) {
        length = vid_announced_record_length(f, at, size - at);
        if (length <= 0 || length > size - at)
            break; // a record still being written, or none
        added.push_back(at);
        at += length;
    }
    return true;
}

// True when the file open as `f` (of `size` bytes) holds the same recording as the reader's
// own file: a finish that rewrote it keeps its clip block's identity; anything else is
// another recording, even of the same size and kind.
bool same_recording(const VidHeader& v, FILE* f, int64_t size)
{
    const VidClip before = vid_read_clip(v.videoFile, v.file_bytes, 0);
    const VidClip now = vid_read_clip(f, size, 0);
    return vid_clip_same_recording(before, now);
}

} // namespace

bool vid_refresh(VidHeader& v, VidError& error)
{
    error = VidError();
    if (v.file_open_read_or_write != 0 || v.videoFile == nullptr || !v.isOpen())
        return failed(error, v, VidResult::not_open, "it is not open for reading");
    // What the stream read ahead may be bytes the writer has written since: dropped.
    fflush(v.videoFile);
    // A finish that rewrote the file renamed a new one into place: move to it.
    FILE* f = v.videoFile;
    bool moved = false;
    if (!vid_path_names_file(v.videoFileName, f)) {
        VidPathKind kind = VidPathKind::regular;
        f = vid_fopen_regular(v.videoFileName, kind);
        if (f == nullptr)
            return failed(error, v, vid_result_of_errno(errno, VidResult::read_failed),
                          "it was replaced by something that cannot be opened", errno);
        moved = true;
    }
    int64_t size = -1;
    if (vid_fseek(f, 0, SEEK_END) == 0)
        size = vid_ftell(f);
    const int64_t known = moved ? 0 : v.num_frames;
    std::vector<int64_t> added;
    bool ok = true;
    if (moved && !same_recording(v, f, size))
        ok =
            failed(error, v, VidResult::not_vid_file, "the file was replaced by another recording");
    if (ok && size < kVidHeaderBytes)
        ok = failed(error, v, VidResult::not_vid_file, "it is shorter than the 8-byte header");
    ok = ok && frames_now(f, size, v, known, known > 0 ? v.offsets[known - 1] : 0, added, error);
    const int64_t total = known + int64_t(added.size());
    if (ok && total < v.num_frames)
        ok = failed(error, v, VidResult::not_vid_file,
                    "it holds fewer frames than before: another recording replaced it");
    if (ok && !moved && added.empty()) {
        v.file_bytes = size; // nothing new: nothing to allocate
        return true;
    }

    // The record buffer for the frames now there: bounded by the bytes the file holds.
    // Frame buffers come with the first read (VidHeader::frameBuffers).
    const int64_t table_end = vid_table_end(total);
    const uint64_t longest = size > table_end ? uint64_t(size - table_end) : 1;
    uint64_t room = 2 * uint64_t(v.uncompressed_buffer_size);
    if (longest < room)
        room = longest;
    unsigned char* record = nullptr;
    int64_t* table = nullptr;
    if (ok) {
        if (room > v.compressed_buffer_size)
            record = new (std::nothrow) unsigned char[room];
        table = new (std::nothrow) int64_t[total > 0 ? size_t(total) : 1];
        if ((room > v.compressed_buffer_size && record == nullptr) || table == nullptr)
            ok = failed(error, v, VidResult::out_of_memory, "");
    }
    if (!ok) {
        delete[] record;
        delete[] table;
        if (moved)
            fclose(f);
        return false;
    }
    if (known > 0)
        memcpy(table, v.offsets, size_t(known) * sizeof *table);
    if (!added.empty())
        memcpy(table + known, added.data(), added.size() * sizeof *table);
    delete[] v.offsets;
    v.offsets = table;
    if (record != nullptr) {
        delete[] v.compressed_buffer;
        v.compressed_buffer = record;
        v.compressed_buffer_size = (unsigned long)room;
    }
    if (moved) {
        fclose(v.videoFile);
        v.videoFile = f;
    }
    v.num_frames = int(total);
    v.end_frame_number = v.num_frames;
    v.file_bytes = size;
    return true;
}
