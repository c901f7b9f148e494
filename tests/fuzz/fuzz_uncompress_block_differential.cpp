// Differential fuzz target: the block expansion path (libdeflate with zlib for what it
// refuses, where the build has libdeflate) against zlib's uncompress on the same stream and
// the same prefilled room. Verdict, reported length and every byte of the room must agree,
// including partial output after a failure and untouched bytes after a short stream; the
// one exception, libdeflate accepting a stream zlib calls invalid, is checked below.
//
// Input: byte 0 picks the mode, bytes 1-2 the room (0..65535 bytes), the rest is payload.
// (Mode odd: byte 1 mod 3 picks the data's exact length, a little more, or bytes 1-2.)
// Mode even: the payload is the zlib stream itself.
// Mode odd: the payload seeds a generator that makes data of up to 4 KiB (64 KiB when the
// mode's top bit is set) of one of four kinds, compresses it with zlib at a level taken from
// the mode and then damages the stream (bit flips, overwritten bytes, a cut or a tail of
// garbage). zlib and libdeflate are not instrumented, so coverage cannot steer the fuzzer
// into them; this mode makes every run test a sizeable, nearly valid stream instead.
#include "compress_uncompress_MT.h"

#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> generated_stream(uint8_t mode, const uint8_t* payload, size_t size,
                                      std::vector<uint8_t>& data)
{
    uint32_t seed = 2166136261u; // FNV-1a over the payload
    for (size_t i = 0; i < size; i++)
        seed = (seed ^ payload[i]) * 16777619u;
    std::mt19937 rng(seed);
    const size_t length = rng() % ((mode & 0x80) ? 65536 : 4096);
    data.assign(length, 0);
    switch ((mode >> 1) % 4) {
    case 0: // runs of a few values
        for (size_t i = 0; i < length;) {
            uint8_t v = uint8_t(rng() % 5 * 51);
            for (size_t k = 1 + rng() % 40; k > 0 && i < length; k--)
                data[i++] = v;
        }
        break;
    case 1: // words from a small alphabet: many back-references
        for (size_t i = 0; i < length; i++)
            data[i] = size ? payload[rng() % size] : uint8_t('a' + rng() % 4);
        break;
    case 2: // noise: mostly literals
        for (uint8_t& b : data)
            b = uint8_t(rng());
        break;
    default: // smooth ramp with small noise, like image rows
        for (size_t i = 0; i < length; i++)
            data[i] = uint8_t(128 + 100 * std::sin(0.01 * double(i)) + rng() % 5);
        break;
    }
    uLongf len = compressBound(uLong(length));
    std::vector<uint8_t> stream(len);
    const uint8_t empty = 0;
    if (compress2(stream.data(), &len, length ? data.data() : &empty, uLong(length),
                  (mode >> 3) % 10) != Z_OK)
        abort();
    stream.resize(len);
    for (int damages = int(rng() % 4); damages > 0 && !stream.empty(); damages--) {
        size_t at = rng() % stream.size();
        switch (rng() % 8) {
        case 0:
            stream.resize(at);
            break;
        case 1:
            stream.push_back(uint8_t(rng()));
            break;
        case 2:
            stream[at] = uint8_t(rng());
            break;
        default:
            stream[at] ^= uint8_t(1u << (rng() % 8));
            break;
        }
    }
    return stream;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t mode = data[0];
    unsigned long room = (unsigned long)data[1] | (unsigned long)data[2] << 8;
    std::vector<uint8_t> stream, original;
    const bool known_data = mode & 1;
    if (known_data) {
        // The room is the data's exact length (the common case), a little more, or as given.
        stream = generated_stream(mode, data + 3, size - 3, original);
        if (data[1] % 3 == 0)
            room = original.size();
        else if (data[1] % 3 == 1)
            room = original.size() + data[2] % 64;
    } else {
        stream.assign(data + 3, data + size);
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
    if (our_rc == Z_OK && their_rc == Z_DATA_ERROR && uncompress_block_uses_libdeflate()) {
        // The one accepted divergence: libdeflate decodes a few symbols zlib calls invalid
        // (fixed-code length symbols 286 and 287 as length 258, for one) and then succeeds
        // when the output passes the stream's Adler-32 check. Its output must then extend
        // zlib's partial output, be exactly the original data where that is known, and
        // leave the rest of the room untouched.
        if (their_len > our_len || memcmp(ours, theirs, their_len) != 0)
            abort();
        if (known_data && (our_len != original.size() ||
                           (our_len && memcmp(ours, original.data(), our_len) != 0)))
            abort();
        for (unsigned long i = our_len; i < room; i++)
            if (ours[i] != 0x5A)
                abort();
    } else if (our_rc != their_rc || our_len != their_len || memcmp(ours, theirs, room) != 0) {
        abort();
    }
    delete[] ours;
    delete[] theirs;
    delete[] source;
    return 0;
}
