// Fuzz target: uncompress_MT into a caller's buffer. Input: one byte for the processor
// count, three bytes for the size of the output buffer (at most 2 MiB), then the buffer to
// expand. The output is an exact-size heap block, so any write past it is caught; the input
// likewise.
#include "compress_uncompress_MT.h"
#include "le_bytes.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const int cores = 1 + data[0] % 9;
    // Up to 2 MiB: enough for eight blocks of ordinary size, small enough to run fast.
    const unsigned long room =
        ((unsigned long)data[1] | (unsigned long)data[2] << 8 | (unsigned long)data[3] << 16) &
        0x1FFFFF;
    const size_t input_size = size - 4;
    unsigned char* input = new unsigned char[input_size ? input_size : 1];
    memcpy(input, data + 4, input_size);
    unsigned char* output = new unsigned char[room ? room : 1];
    memset(output, 0xA5, room);

    unsigned char* out = output;
    unsigned long out_size = room;
    int rc = uncompress_MT_on_cores(out, out_size, input, input_size, cores);
    if (out != output) // a caller's buffer is never replaced
        abort();
    const bool blocked = input_size >= 8 && int64_t(get_le64(input)) == blocked_compress_pattern;
    if (blocked && rc == -5 && out_size <= room) // "too small" must name a larger total
        abort();
    if (rc == 0 && out_size > room) // success never claims more than the buffer holds
        abort();
    delete[] output;
    delete[] input;
    return 0;
}
