// Fuzz target: uncompress_MT with a null output pointer, so the codec sizes and allocates
// the output from the header. Input: one byte for the processor count, then the buffer to
// expand. Headers announcing more than 2 MiB are skipped to keep each run small.
#include "compress_uncompress_MT.h"
#include "le_bytes.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int cores = 1 + data[0] % 9;
    const size_t input_size = size - 1;
    // Skip a header whose total (its last end offset) is large: allocating it would only
    // measure the allocator.
    if (input_size >= 12 && int64_t(get_le64(data + 1)) == blocked_compress_pattern) {
        uint32_t n = get_le32(data + 9);
        if (n >= 1 && n <= 8 && input_size >= 12 + 8 * size_t(n) &&
            get_le32(data + 1 + 12 + 4 * (n - 1)) > (2u << 20))
            return 0;
    }
    unsigned char* input = new unsigned char[input_size ? input_size : 1];
    memcpy(input, data + 1, input_size);

    unsigned char* out = nullptr;
    unsigned long out_size = 0;
    int rc = uncompress_MT_on_cores(out, out_size, input, input_size, cores);
    if (rc == 0 && !out) // success always hands over an output
        abort();
    if (out) {
        // The whole announced output must be addressable (ASan checks the range).
        volatile unsigned char sink = 0;
        for (unsigned long i = 0; i < out_size; i += 4096)
            sink = sink + out[i];
        if (out_size)
            sink = sink + out[out_size - 1];
        delete[] out;
    }
    delete[] input;
    return 0;
}
