// Following a file while its writer appends; see vid_follow.h.
#include "vid_follow.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "VidHeader.h"
#include "file_offset.h"
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

// The frames a file holds now: its header's count and table, and the whole records behind a
// full table. False when it cannot be read.
bool frames_now(FILE* f, int64_t size, const VidHeader& v, std::vector<int64_t>& offsets,
                VidError& error)
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
        offsets.resize(size_t(counted));
    } catch (const std::bad_alloc&) {
        return failed(error, v, VidResult::out_of_memory, "");
    }
    if (counted > 0 && (vid_fseek(f, kVidHeaderBytes, SEEK_SET) != 0 ||
                        !vid_read_table(f, offsets.data(), counted)))
        return failed(error, v, VidResult::read_failed, "its table cannot be read", errno);
    if (counted == 0)
        return true;
    // Behind a full table (no entry left between the table and the first record, past the
    // clip block) whole records are frames too.
    const VidClip clip = vid_read_clip(f, size, counted);
    const int64_t table_end = clip.present ? clip.block_at : offsets[0];
    if (table_end != vid_table_end(counted))
        return true;
    int64_t at = offsets[size_t(counted - 1)];
    int64_t length = vid_announced_record_length(f, at, size - at);
    // A last counted record that is a plain zlib stream or black says nothing of its end.
    if (length <= 0 || length > size - at)
        return true;
    at += length;
    while (at < size && offsets.size() < size_t(INT32_MAX)) {
        length = vid_announced_record_length(f, at, size - at);
        if (length <= 0 || length > size - at)
            break; // a record still being written, or none
        offsets.push_back(at);
        at += length;
    }
    return true;
}

} // namespace

bool vid_refresh(VidHeader& v, VidError& error)
{
    error = VidError();
    if (v.file_open_read_or_write != 0 || v.videoFile == nullptr || v.compressed_buffer == nullptr)
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
    std::vector<int64_t> offsets;
    bool ok = size >= kVidHeaderBytes && frames_now(f, size, v, offsets, error);
    if (ok && int64_t(offsets.size()) < v.num_frames)
        ok = failed(error, v, VidResult::not_vid_file,
                    "it holds fewer frames than before: another recording replaced it");
    if (size < kVidHeaderBytes && error.result == VidResult::ok)
        ok = failed(error, v, VidResult::not_vid_file, "it is shorter than the 8-byte header");

    // Buffers for the frames now there: a reader opened on an empty file has none, and its
    // record buffer is bounded by the bytes the file held.
    const int64_t table_end = vid_table_end(int64_t(offsets.size()));
    const uint64_t longest = size > table_end ? uint64_t(size - table_end) : 1;
    uint64_t room = 2 * uint64_t(v.uncompressed_buffer_size);
    if (longest < room)
        room = longest;
    unsigned char* record = nullptr;
    unsigned char* pixmap = nullptr;
    unsigned char* expanded = nullptr;
    int64_t* table = nullptr;
    if (ok) {
        if (room > v.compressed_buffer_size)
            record = new (std::nothrow) unsigned char[room];
        if (v.pixmap == nullptr && !offsets.empty())
            pixmap = new (std::nothrow) unsigned char[size_t(v.pixmap_size)];
        if (v.vid_is_bayer_interpolated == 1 && v.uncompressed_buffer == nullptr &&
            !offsets.empty())
            expanded = new (std::nothrow) unsigned char[v.uncompressed_buffer_size];
        table = new (std::nothrow) int64_t[offsets.empty() ? 1 : offsets.size()];
        if ((room > v.compressed_buffer_size && record == nullptr) ||
            (v.pixmap == nullptr && !offsets.empty() && pixmap == nullptr) ||
            (v.vid_is_bayer_interpolated == 1 && v.uncompressed_buffer == nullptr &&
             !offsets.empty() && expanded == nullptr) ||
            table == nullptr)
            ok = failed(error, v, VidResult::out_of_memory, "");
    }
    if (!ok) {
        delete[] record;
        delete[] pixmap;
        delete[] expanded;
        delete[] table;
        if (moved)
            fclose(f);
        return false;
    }
    if (!offsets.empty())
        memcpy(table, offsets.data(), offsets.size() * sizeof *table);
    delete[] v.offsets;
    v.offsets = table;
    if (record != nullptr) {
        delete[] v.compressed_buffer;
        v.compressed_buffer = record;
        v.compressed_buffer_size = (unsigned long)room;
    }
    if (pixmap != nullptr) {
        v.pixmap = pixmap;
        if (v.vid_is_bayer_interpolated == 0)
            v.uncompressed_buffer = pixmap;
    }
    if (expanded != nullptr)
        v.uncompressed_buffer = expanded;
    if (moved) {
        fclose(v.videoFile);
        v.videoFile = f;
    }
    v.num_frames = int(offsets.size());
    v.end_frame_number = v.num_frames;
    v.file_bytes = size;
    return true;
}
