// Fuzz target: the second-generation compact decoder, and its round trip. The first byte
// chooses: even, the rest is a record to expand (into an exact-size heap block of the size its
// head announces, at most 4 MiB, and into a block of another size, which must be refused
// untouched); odd, the rest after three more bytes is a frame (width, filter and effort from
// those bytes) that must come back byte for byte.
#include "compress_uncompress_MT.h"
#include "vid_compact2.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int cores = 1 + (data[0] >> 1) % 3;
    if (data[0] % 2 == 0) {
        std::vector<unsigned char> record(data + 1, data + size);
        VidCompactHead head;
        const bool sound = vid_compact2_head(record.data(), (unsigned long)record.size(), head);
        const unsigned long room = sound && head.expanded_bytes <= (4u << 20)
                                       ? (unsigned long)head.expanded_bytes
                                       : 1 + (unsigned long)(size % 4096);
        std::vector<unsigned char> out(room, 0xA5);
        int rc = vid_compact2_expand(out.data(), room, record.data(), (unsigned long)record.size(),
                                     nullptr, nullptr, cores);
        if (rc == VID_CODEC_OK && (!sound || room != head.expanded_bytes))
            abort(); // success only for a sound head and its exact size
        std::vector<unsigned char> wrong(room + 1, 0x5A);
        if (vid_compact2_expand(wrong.data(), room + 1, record.data(), (unsigned long)record.size(),
                                nullptr, nullptr, cores) == VID_CODEC_OK)
            abort();
        return 0;
    }
    if (size < 5)
        return 0;
    const VidCompactFilter filter = VidCompactFilter(1 + data[2] % 3);
    const int bpp = vid_compact_pixel_bytes(filter);
    const int width = 1 + data[1] % 64;
    const int effort = 1 + data[3] % 9;
    const size_t rest = size - 4;
    const int height = int(rest / size_t(width * bpp));
    if (height < 1 || height > 0xFFFF)
        return 0;
    const size_t bytes = size_t(width) * height * bpp;
    std::vector<unsigned char> frame(data + 4, data + 4 + bytes);
    std::vector<unsigned char> record(2 * bytes + 1024);
    unsigned long record_size = (unsigned long)record.size();
    if (vid_compact2_compress(record.data(), record_size, frame.data(), width, height, filter,
                              effort, nullptr, cores) != VID_CODEC_OK)
        abort();
    std::vector<unsigned char> back(bytes);
    if (vid_compact2_expand(back.data(), (unsigned long)bytes, record.data(), record_size, nullptr,
                            nullptr, cores) != VID_CODEC_OK ||
        back != frame)
        abort();
    return 0;
}
