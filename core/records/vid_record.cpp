// A frame's record, classic or compact; see vid_record.h.
#include "threading.h"
#include "vid_record.h"

#include <cerrno>
#include <cstring>

#include "vid_files.h"
#include "le_bytes.h"

const unsigned char kVidRecordMarkerRest[7] = {0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18};

VidRecordFormat vid_record_format(const unsigned char* head, size_t available)
{
    if (available < 8 || memcmp(head + 1, kVidRecordMarkerRest, sizeof kVidRecordMarkerRest) != 0)
        return VidRecordFormat::none;
    if (head[0] == kVidClassicMarkerFirst)
        return VidRecordFormat::classic;
    if (head[0] == kVidCompact2MarkerFirst)
        return VidRecordFormat::compact2;
    return head[0] == kVidCompactMarkerFirst ? VidRecordFormat::compact : VidRecordFormat::none;
}

VidRecordHead vid_record_head(const unsigned char* head, size_t available)
{
    VidRecordHead out;
    switch (vid_record_format(head, available)) {
    case VidRecordFormat::compact:
    case VidRecordFormat::compact2: {
        VidCompactHead compact;
        if (!(vid_compact_head(head, (unsigned long)available, compact) ||
              vid_compact2_head(head, (unsigned long)available, compact)))
            return out;
        out.length = compact.length;
        out.expanded_bytes = compact.expanded_bytes;
        break;
    }
    case VidRecordFormat::classic: {
        out.length = blocked_compress_length(head, (unsigned long)available);
        if (out.length < 0)
            return out;
        // The last of the block end offsets is the expanded size.
        const uint32_t blocks = get_le32(head + 8);
        out.expanded_bytes = get_le32(head + 12 + 4 * (blocks - 1));
        break;
    }
    case VidRecordFormat::none:
        return out;
    }
    out.format = vid_record_format(head, available);
    return out;
}

int vid_record_make(unsigned char* record, unsigned long& record_size, const unsigned char* frame,
                    unsigned long frame_bytes, int width, int height, VidKind kind, bool compact,
                    int effort, std::string* report)
{
    const unsigned long room = record_size;
    // Compact records: the first generation at the fastest effort (filters and deflate, the
    // quickest both ways), the second (prediction and entropy coding, the smallest) above it.
    if (compact && (effort <= 1 ? vid_compact_compress(record, record_size, frame, width, height,
                                                       vid_compact_filter(kind), effort)
                                : vid_compact2_compress(record, record_size, frame, width, height,
                                                        vid_compact_filter(kind), effort,
                                                        report)) == VID_CODEC_OK)
        return VID_CODEC_OK;
    record_size = room;
    return vid_codec_compress(record, record_size, frame, frame_bytes, effort,
                              get_num_processing_cores(), report);
}

int vid_record_expand(unsigned char*& frame, unsigned long& frame_size, const unsigned char* record,
                      unsigned long length, int width, int height, VidKind kind,
                      const VidExpandedBytes* notify, std::string* report)
{
    switch (vid_record_format(record, length)) {
    case VidRecordFormat::compact: {
        VidCompactHead head;
        if (!vid_compact_head(record, length, head) ||
            (width != 0 && (head.width != uint32_t(width) || head.height != uint32_t(height) ||
                            head.filter != vid_compact_filter(kind))))
            return VID_CODEC_DATA_ERROR;
        return vid_compact_expand(frame, frame_size, record, length, notify, report);
    }
    case VidRecordFormat::compact2: {
        VidCompactHead head;
        if (!vid_compact2_head(record, length, head) ||
            (width != 0 && (head.width != uint32_t(width) || head.height != uint32_t(height) ||
                            head.filter != vid_compact_filter(kind))))
            return VID_CODEC_DATA_ERROR;
        return vid_compact2_expand(frame, frame_size, record, length, notify, report);
    }
    case VidRecordFormat::classic:
    case VidRecordFormat::none:
        // A plain zlib stream (files of the first writers) has no marker: the block codec
        // takes it too.
        break;
    }
    return vid_codec_expand(frame, frame_size, record, length, get_num_processing_cores(), notify,
                            report);
}

int64_t vid_announced_record_length(FILE* f, int64_t at, int64_t available)
{
    unsigned char head[kVidRecordLongestHead];
    size_t got = 0;
    if (available > 0 && vid_fseek(f, at, SEEK_SET) == 0)
        got = fread(head, 1, available < int64_t(sizeof head) ? size_t(available) : sizeof head, f);
    return vid_record_head(head, got).length;
}

int64_t vid_record_end(FILE* f, int64_t start, int64_t file_end)
{
    int64_t end = file_end;
    if (end - start > 12) {
        int64_t announced = vid_announced_record_length(f, start, end - start);
        if (announced >= 0 && announced < end - start)
            end = start + announced;
    }
    return end;
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
