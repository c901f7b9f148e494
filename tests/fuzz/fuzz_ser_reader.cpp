// Fuzz target: arbitrary bytes opened as a SER file (vid_ser.h), then every frame read. A file
// the reader takes must hold every frame it counts within its size; any crash, out-of-bounds
// access, leak or allocation the file does not justify is a finding.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_input_file.h"
#include "vid_ser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzz_input_path("ser_reader");
    if (!fuzz_write_input(path, data, size))
        return 0;
    FILE* f = nullptr;
    VidSerInfo info;
    VidError error;
    if (vid_ser_open(path, f, info, error)) {
        if (uint64_t(info.frames) * info.frame_bytes + kVidSerHeaderBytes > size)
            __builtin_trap(); // counted frames beyond the file
        std::vector<unsigned char> frame(info.frame_bytes);
        for (int64_t k = 0; k < info.frames; k++)
            if (!vid_ser_read_frame(f, info, k, frame.data(), error, path))
                __builtin_trap(); // a frame it counted could not be read
        fclose(f);
    }
    remove(path.c_str());
    return 0;
}
