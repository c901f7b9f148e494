// Fuzz target: arbitrary bytes as a VID file. Opens them with a VidHeader reader and reads
// every frame; any crash, out-of-bounds access or leak is a finding. Run with libFuzzer's
// -malloc_limit_mb so that an allocation the file does not justify is caught too.
//
// Every header is opened: what the opening allocates must be justified by the file (a frame
// only when the file has frames, a record buffer no larger than the file). Frames above
// 64 MiB are not read: such a file can hold them only as zero-length (black) records, and
// clearing gigabytes would slow the search to a crawl. Files with frames above 1 MiB read
// only their first 4 frames, to keep each run short.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "VidHeader.h"
#include "fuzz_input_file.h"
#include "vid_format.h"

namespace {

#ifndef FUZZ_MAX_FRAME_MIB
#define FUZZ_MAX_FRAME_MIB 64
#endif
const uint64_t kMaxFrameBytes = uint64_t(FUZZ_MAX_FRAME_MIB) << 20;
const uint64_t kAllFramesBytes = uint64_t(1) << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint64_t frame_bytes = 0;
    if (size >= uint64_t(kVidHeaderBytes)) {
        VidFileHeader h = vid_decode_header(data);
        frame_bytes = uint64_t(h.width) * uint64_t(h.height) * 3;
    }

    static const std::string path = fuzz_input_path("fuzz_vid_reader");
    if (!fuzz_write_input(path, data, size))
        return 0;

    {
        VidHeader reader(path.c_str(), fuzz_quiet_stream());
        if (reader.isOpen()) {
            int frames = reader.num_frames;
            if (frame_bytes > kAllFramesBytes && frames > 4)
                frames = 4;
            if (frame_bytes > kMaxFrameBytes)
                frames = 0;
            for (int i = 0; i < frames; i++)
                reader.readFrameFromVideoFile(i);
            reader.readFrameFromVideoFile(reader.num_frames); // out of range
            if (frames > 0)
                reader.readNextFrameFromVideoFile();
        }
    }
    unlink(path.c_str()); // leave nothing behind in /dev/shm
    return 0;
}
