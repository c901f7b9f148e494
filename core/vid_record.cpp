// A frame's record, classic or compact; see vid_record.h.
#include "vid_record.h"

#include <cstring>

#include "le_bytes.h"

const unsigned char kVidRecordMarkerRest[7] = {0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18};

VidRecordFormat vid_record_format(const unsigned char* head, size_t available)
{
    if (available < 8 || memcmp(head + 1, kVidRecordMarkerRest, sizeof kVidRecordMarkerRest) != 0)
        return VidRecordFormat::none;
    if (head[0] == kVidClassicMarkerFirst)
        return VidRecordFormat::classic;
    return head[0] == kVidCompactMarkerFirst ? VidRecordFormat::compact : VidRecordFormat::none;
}

VidRecordHead vid_record_head(const unsigned char* head, size_t available)
{
    VidRecordHead out;
    switch (vid_record_format(head, available)) {
    case VidRecordFormat::compact: {
        VidCompactHead compact;
        if (!vid_compact_head(head, (unsigned long)available, compact))
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
                    int effort)
{
    const unsigned long room = record_size;
    if (compact && vid_compact_compress(record, record_size, frame, width, height,
                                        vid_compact_filter(kind), effort) == VID_CODEC_OK)
        return VID_CODEC_OK;
    record_size = room;
    // The block codec's interface predates const; it only reads the frame.
    return compress_MT_at_effort(record, record_size, const_cast<unsigned char*>(frame),
                                 frame_bytes, effort);
}

int vid_record_expand(unsigned char*& frame, unsigned long& frame_size, const unsigned char* record,
                      unsigned long length, int width, int height, VidKind kind,
                      const VidExpandedBytes* notify)
{
    switch (vid_record_format(record, length)) {
    case VidRecordFormat::compact: {
        VidCompactHead head;
        if (!vid_compact_head(record, length, head) ||
            (width != 0 && (head.width != uint32_t(width) || head.height != uint32_t(height) ||
                            head.filter != vid_compact_filter(kind))))
            return VID_CODEC_DATA_ERROR;
        return vid_compact_expand(frame, frame_size, record, length, notify);
    }
    case VidRecordFormat::classic:
    case VidRecordFormat::none:
        // A plain zlib stream (files of the first writers) has no marker: the block codec
        // takes it too.
        break;
    }
    // The block codec's interface predates const; it only reads the record.
    return uncompress_MT_notify(frame, frame_size, const_cast<unsigned char*>(record), length,
                                notify);
}
