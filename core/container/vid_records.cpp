// What a file holds as records; see vid_records.h.
#include "vid_records.h"

#include <cerrno>
#include <cstring>

#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_compact.h"
#include "vid_kind.h"
#include "vid_record.h"
#include "compress_uncompress_MT.h"
#include "vid_files.h"
#include "le_bytes.h"
#include "vid_format.h"
#include "vid_kind.h"

int64_t vid_last_record_end(VidHeader& v, int64_t start)
{
    return vid_record_end(v.videoFile, start, v.file_bytes);
}

VidKind vid_kind(VidHeader& v)
{
    if (vid_is_empty(v))
        return VidKind::none;
    const VidKind stored =
        vid_kind_of(v.vid_is_bayer_interpolated == 1, v.vid_uses_two_bytes_per_pixel == 1);
    if (stored == VidKind::rgb)
        return stored;
    // Mono frames are Bayer files whose clip says their pattern is none.
    const VidClip clip = vid_read_clip(v);
    if (clip.present && vid_sensor_says_mono(clip.metadata))
        return stored == VidKind::bayer8 ? VidKind::mono8 : VidKind::mono16;
    return stored;
}

VidSensor vid_sensor(VidHeader& v, VidKind kind)
{
    VidSensor sensor = vid_sensor_default(kind, v.width);
    if (!vid_kind_has_samples(kind))
        return sensor;
    const VidClip clip = vid_read_clip(v);
    std::string why;
    if (clip.present && !vid_sensor_parse(clip.metadata, kind, v.width, sensor, why))
        sensor = vid_sensor_default(kind, v.width); // a description that cannot hold: none
    return sensor;
}

int64_t vid_record_offset(const VidHeader& v, int k)
{
    return v.offsets != nullptr && k >= 0 && k < v.num_frames ? v.offsets[k] : -1;
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
            (vid_record_format(head, sizeof head) == VidRecordFormat::classic ? kinds.classic
                                                                              : kinds.compact)++;
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

VidClip vid_read_clip(VidHeader& v)
{
    if (v.videoFile == nullptr)
        return VidClip();
    int64_t size = v.file_bytes;
    if (v.file_open_read_or_write == 1) {
        // A writer's file grows: its size is now.
        fflush(v.videoFile);
        size = vid_fseek(v.videoFile, 0, SEEK_END) == 0 ? vid_ftell(v.videoFile) : -1;
    }
    // A follower's frames may run past the table (vid_follow.h): the block is checked against
    // the least table, one entry.
    return vid_read_clip(v.videoFile, size, 0);
}

bool vid_read_timestamps(VidHeader& v, const VidClip& clip, std::vector<int64_t>& out)
{
    return vid_read_timestamps(v.videoFile, clip, v.num_frames, out);
}
