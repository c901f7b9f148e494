// What a file holds as records; see vid_records.h.
#include "vid_records.h"

#include <cerrno>
#include <cstring>

#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_compact.h"
#include "vid_record.h"
#include "compress_uncompress_MT.h"
#include "file_offset.h"
#include "le_bytes.h"
#include "vid_format.h"

int64_t vid_announced_record_length(FILE* f, int64_t at, int64_t available)
{
    unsigned char head[kVidRecordLongestHead];
    size_t got = 0;
    if (available > 0 && vid_fseek(f, at, SEEK_SET) == 0)
        got = fread(head, 1, available < int64_t(sizeof head) ? size_t(available) : sizeof head, f);
    return vid_record_head(head, got).length;
}

int64_t vid_last_record_end(VidHeader& v, int64_t start)
{
    int64_t end = v.file_bytes;
    if (end - start > 12) {
        int64_t announced = vid_announced_record_length(v.videoFile, start, end - start);
        if (announced >= 0 && announced < end - start)
            end = start + announced;
    }
    return end;
}

char vid_bayer_site(VidKind kind, int width, int x, int y)
{
    if (kind != VidKind::bayer8 && kind != VidKind::bayer16)
        return 0;
    const bool green_red_first = kind == VidKind::bayer8 || width == 1600;
    const bool first_row = y % 2 == 0;
    if (first_row == green_red_first)
        return x % 2 == 0 ? 'G' : 'R';
    return x % 2 == 0 ? 'B' : 'G';
}

VidKind vid_kind_of(bool bayer, bool two_bytes)
{
    return !bayer ? VidKind::rgb : two_bytes ? VidKind::bayer16 : VidKind::bayer8;
}

VidKind vid_kind(VidHeader& v)
{
    if (vid_is_empty(v))
        return VidKind::none;
    return vid_kind_of(v.vid_is_bayer_interpolated == 1, v.vid_uses_two_bytes_per_pixel == 1);
}

int64_t vid_record_offset(const VidHeader& v, int k)
{
    return v.offsets != nullptr && k >= 0 && k < v.num_frames ? v.offsets[k] : -1;
}

const char* vid_kind_name(VidKind kind)
{
    switch (kind) {
    case VidKind::rgb:
        return "rgb";
    case VidKind::bayer8:
        return "bayer8";
    case VidKind::bayer16:
        return "bayer16";
    case VidKind::none:
        break;
    }
    return nullptr;
}

bool vid_kind_parse(const char* name, VidKind& kind)
{
    for (VidKind k : {VidKind::rgb, VidKind::bayer8, VidKind::bayer16})
        if (name != nullptr && strcmp(name, vid_kind_name(k)) == 0) {
            kind = k;
            return true;
        }
    return false;
}

const char* vid_kind_text(VidKind kind)
{
    switch (kind) {
    case VidKind::rgb:
        return "RGB";
    case VidKind::bayer8:
        return "Bayer one-byte";
    case VidKind::bayer16:
        return "Bayer two-byte";
    case VidKind::none:
        break;
    }
    return "none";
}

VidTail vid_records_behind(VidHeader& v)
{
    VidTail tail;
    if (!v.isOpen() || v.videoFile == nullptr || v.num_frames == 0)
        return tail;
    const int64_t size = v.file_bytes;
    tail.file_size = size;
    const int last = v.num_frames - 1;
    int64_t length = v.recordBytes(last);
    if (size < 0 || length < 0)
        return tail;
    int64_t at = v.offsets[last] + length;
    tail.records_end = at;
    while (at < size) {
        int64_t record = vid_announced_record_length(v.videoFile, at, size - at);
        if (record <= 0 || record > size - at) {
            tail.torn = true;
            break;
        }
        at += record;
        tail.whole_records++;
        tail.records_end = at;
    }
    return tail;
}

VidRecordKinds vid_record_kinds(VidHeader& v)
{
    VidRecordKinds kinds;
    for (int k = 0; k < v.num_frames; k++) {
        const int64_t length = v.recordBytes(k);
        unsigned char head[8];
        if (length == 0)
            kinds.black++;
        else if (length >= int64_t(sizeof head) &&
                 vid_fseek(v.videoFile, v.offsets[k], SEEK_SET) == 0 &&
                 fread(head, 1, sizeof head, v.videoFile) == sizeof head)
            (vid_record_format(head, sizeof head) == VidRecordFormat::compact ? kinds.compact
                                                                              : kinds.classic)++;
    }
    return kinds;
}

bool vid_is_empty(VidHeader& v)
{
    if (!v.isOpen() || v.videoFile == nullptr || v.num_frames != 0)
        return false;
    const int64_t size = v.file_bytes;
    // A clip block lies between the table and the file's end (where record 0 would begin).
    const VidClip clip = vid_read_clip(v);
    const int64_t table_end = clip.present ? clip.block_at : size;
    if (size < kVidHeaderBytes || (table_end - kVidHeaderBytes) % kVidTableEntryBytes != 0 ||
        vid_fseek(v.videoFile, kVidHeaderBytes, SEEK_SET) != 0)
        return false;
    unsigned char chunk[kVidTableEntryBytes * 512];
    for (int64_t left = table_end - kVidHeaderBytes; left > 0;) {
        size_t n = left < int64_t(sizeof chunk) ? size_t(left) : sizeof chunk;
        if (fread(chunk, 1, n, v.videoFile) != n)
            return false;
        for (size_t i = 0; i < n; i += kVidTableEntryBytes) {
            int64_t entry = int64_t(get_le64(chunk + i));
            if (entry != 0 && entry != size)
                return false;
        }
        left -= int64_t(n);
    }
    return true;
}

VidFileState vid_file_state(VidHeader& v)
{
    VidFileState s;
    if (!v.isOpen() || v.videoFile == nullptr)
        return s;
    const int64_t size = v.file_bytes;
    const int64_t frames = v.num_frames;
    s.file_size = size;
    // The table ends where the first record begins; without frames, where the file ends. A
    // first entry outside the file says nothing of the table.
    int64_t table_end = size;
    if (frames > 0)
        table_end = v.offsets[0] >= kVidHeaderBytes && v.offsets[0] <= size
                        ? v.offsets[0]
                        : kVidHeaderBytes + kVidTableEntryBytes * frames;
    const VidClip clip = vid_read_clip(v);
    if (clip.present)
        table_end = clip.block_at;
    s.table_entries =
        table_end >= kVidHeaderBytes ? (table_end - kVidHeaderBytes) / kVidTableEntryBytes : 0;
    if (vid_is_empty(v)) {
        s.state = VidState::empty;
        return s;
    }
    // Records the table announces beyond the file's end: the file lost its end.
    for (int k = 0; k < v.num_frames; k++) {
        const int64_t start = v.offsets[k];
        if (start < kVidHeaderBytes)
            continue; // an entry into the header is a damaged table, not a lost end
        if (k < v.num_frames - 1) {
            const int64_t end = v.offsets[k + 1];
            if (end <= size)
                continue;
            if (start >= size)
                s.frames_missing++;
            else
                s.frames_cut++;
        } else if (start > size) {
            s.frames_missing++;
        } else if (size - start > 12) {
            if (vid_announced_record_length(v.videoFile, start, size - start) > size - start)
                s.frames_cut++;
        }
    }
    if (s.frames_missing + s.frames_cut > 0) {
        s.state = VidState::truncated;
        return s;
    }
    s.tail = vid_records_behind(v);
    if (s.tail.torn || s.tail.whole_records > 0 || frames == 0)
        s.state = VidState::unfinished;
    return s;
}

const char* vid_state_name(VidState state)
{
    switch (state) {
    case VidState::complete:
        return "complete";
    case VidState::empty:
        return "empty";
    case VidState::unfinished:
        return "unfinished";
    case VidState::truncated:
        return "truncated";
    }
    return "complete";
}

namespace {
// Table entries are read and written this many at a time.
const int kTableChunkEntries = 512;
} // namespace

bool vid_read_table(FILE* f, int64_t* entries, int64_t count)
{
    unsigned char chunk[kVidTableEntryBytes * kTableChunkEntries];
    for (int64_t first = 0; first < count; first += kTableChunkEntries) {
        const int64_t n = count - first < kTableChunkEntries ? count - first : kTableChunkEntries;
        if (fread(chunk, kVidTableEntryBytes, size_t(n), f) != size_t(n))
            return false;
        for (int64_t i = 0; i < n; i++)
            entries[first + i] = int64_t(get_le64(chunk + kVidTableEntryBytes * i));
    }
    return true;
}

bool vid_write_table(FILE* f, const int64_t* entries, int64_t count)
{
    unsigned char chunk[kVidTableEntryBytes * kTableChunkEntries];
    for (int64_t first = 0; first < count; first += kTableChunkEntries) {
        const int64_t n = count - first < kTableChunkEntries ? count - first : kTableChunkEntries;
        for (int64_t i = 0; i < n; i++)
            put_le64(chunk + kVidTableEntryBytes * i, uint64_t(entries[first + i]));
        if (fwrite(chunk, kVidTableEntryBytes, size_t(n), f) != size_t(n))
            return false;
    }
    return true;
}

bool vid_write_records(FILE* in, FILE* out, int width, int height, bool bayer, bool two_bytes,
                       const std::vector<VidRecordSpan>& records, VidError& error,
                       const std::vector<unsigned char>* clip_block)
{
    const int64_t frames = int64_t(records.size());
    auto failed = [&error](VidResult result, const char* detail) {
        error = VidError();
        error.result = result;
        error.error_number = errno != 0 ? errno : EIO;
        error.detail = detail;
        return false;
    };
    unsigned char header[kVidHeaderBytes];
    vid_encode_header(header, width, height, frames, bayer, two_bytes);
    errno = 0;
    if (fwrite(header, 1, sizeof header, out) != sizeof header)
        return failed(VidResult::write_failed, "");
    const bool block = clip_block != nullptr && !clip_block->empty();
    const int64_t entries = block && frames == 0 ? 1 : frames;
    std::vector<int64_t> table(static_cast<size_t>(entries));
    int64_t next = vid_table_end(entries) + (block ? int64_t(clip_block->size()) : 0);
    for (size_t k = 0; k < table.size(); k++) {
        table[k] = next;
        next += k < records.size() ? records[k].length : 0;
    }
    if (!vid_write_table(out, table.data(), entries))
        return failed(VidResult::write_failed, "");
    if (block && fwrite(clip_block->data(), 1, clip_block->size(), out) != clip_block->size())
        return failed(VidResult::write_failed, "");
    std::vector<unsigned char> buffer;
    for (const VidRecordSpan& r : records) {
        if (r.length == 0)
            continue;
        buffer.resize(size_t(r.length));
        errno = 0;
        if (vid_fseek(in, r.offset, SEEK_SET) != 0 ||
            fread(buffer.data(), 1, buffer.size(), in) != buffer.size())
            return failed(VidResult::read_failed, "a record");
        if (fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size())
            return failed(VidResult::write_failed, "");
    }
    errno = 0;
    if (fflush(out) != 0)
        return failed(VidResult::write_failed, "");
    return true;
}
