// The header's fields to and from its 8 bytes (vid_format.h).
#include "vid_format.h"

#include <cstring>

#include "le_bytes.h"

VidFileHeader vid_decode_header(const unsigned char* raw)
{
    VidFileHeader h;
    int width_field = get_le16(raw);
    h.two_bytes = width_field <= kVidWidthFieldBase;
    h.width = h.two_bytes ? width_field : width_field - kVidWidthFieldBase;
    h.height = get_le16(raw + 2);
    h.count_field = int32_t(get_le32(raw + 4));
    h.bayer = h.count_field >= 0;
    h.num_frames = h.count_field < 0 ? -int64_t(h.count_field) : int64_t(h.count_field);
    return h;
}

void vid_encode_header(unsigned char* raw, int width, int height, int64_t num_frames, bool bayer,
                       bool two_bytes)
{
    int width_field = bayer && !two_bytes ? width + kVidWidthFieldBase : width;
    put_le16(raw, uint16_t(width_field));
    put_le16(raw + 2, uint16_t(height));
    put_le32(raw + 4, uint32_t(bayer ? num_frames : -num_frames));
}

void vid_store_samples16(void* samples, size_t count)
{
    unsigned char* bytes = static_cast<unsigned char*>(samples);
    for (size_t i = 0; i < count; i++) {
        uint16_t v;
        memcpy(&v, bytes + 2 * i, 2);
        put_le16(bytes + 2 * i, v);
    }
}
