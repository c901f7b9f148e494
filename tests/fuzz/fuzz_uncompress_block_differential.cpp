// Differential fuzz target: the block expansion path (libdeflate with zlib for what it
// refuses, where the build has libdeflate) against zlib's uncompress on the same stream and
// the same prefilled room. Verdict, reported length and every byte of the room must agree,
// including partial output after a failure and untouched bytes after a short stream.
//
// Input: byte 0 picks the mode, bytes 1-2 the room (0..65535 bytes), the rest is payload.
// Mode even: the payload is the zlib stream. Mode odd: the payload's last bytes name bit
// flips, the rest is compressed with zlib (level from the mode byte) and then damaged by
// them, which reaches deep into near-valid streams.
#include "compress_uncompress_MT.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t mode = data[0];
    const unsigned long room = (unsigned long)data[1] | (unsigned long)data[2] << 8;
    std::vector<uint8_t> stream(data + 3, data + size);
    if (mode & 1) {
        size_t flips = stream.size() < 6 ? 0 : (mode >> 1) % 4;
        std::vector<uint8_t> damage(stream.end() - flips * 2, stream.end());
        stream.resize(stream.size() - flips * 2);
        uLongf len = compressBound(uLong(stream.size()));
        std::vector<uint8_t> packed(len);
        const uint8_t empty = 0;
        const uint8_t* payload = stream.empty() ? &empty : stream.data();
        if (compress2(packed.data(), &len, payload, uLong(stream.size()), (mode >> 3) % 10) != Z_OK)
            abort();
        packed.resize(len);
        for (size_t i = 0; i < flips; i++) {
            size_t at = (size_t(damage[2 * i]) * 7 + damage[2 * i + 1]) % packed.size();
            packed[at] ^= uint8_t(1u << (damage[2 * i + 1] % 8));
        }
        stream.swap(packed);
    }
    // Exact-size heap copies so that reads past the stream are caught.
    uint8_t* source = new uint8_t[stream.size() ? stream.size() : 1];
    if (!stream.empty())
        memcpy(source, stream.data(), stream.size());
    uint8_t* ours = new uint8_t[room ? room : 1];
    uint8_t* theirs = new uint8_t[room ? room : 1];
    memset(ours, 0x5A, room ? room : 1);
    memset(theirs, 0x5A, room ? room : 1);

    unsigned long our_len = room, their_len = room;
    int our_rc = uncompress_block(ours, our_len, source, stream.size());
    int their_rc = uncompress(theirs, &their_len, source, stream.size());
    if (our_rc != their_rc || our_len != their_len || memcmp(ours, theirs, room) != 0)
        abort();
    delete[] ours;
    delete[] theirs;
    delete[] source;
    return 0;
}
