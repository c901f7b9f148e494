// Fuzz target: arbitrary bytes as a VID file, read the way the Python binding reads it
// (vid_read.h): ranges of frames into a caller's buffer by one and by two workers, and a
// Bayer file's samples in both byte orders. Any crash, trap (a division by a zero frame
// size), out-of-bounds access or leak is a finding. Frame sizes are bounded as in the
// reader target: black frames of gigabytes cost a caller's buffer that large.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "VidHeader.h"
#include "fuzz_input_file.h"
#include "vid_format.h"
#include "vid_read.h"
#include "vid_records.h"

namespace {

const uint64_t kMaxFrameBytes = uint64_t(16) << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size >= uint64_t(kVidHeaderBytes)) {
        VidFileHeader h = vid_decode_header(data);
        if (uint64_t(h.width) * uint64_t(h.height) * 3 > kMaxFrameBytes)
            return 0;
    }
    static const std::string path = fuzz_input_path("fuzz_vid_read_path");
    if (!fuzz_write_input(path, data, size))
        return 0;
    {
        VidHeader reader(path.c_str(), fuzz_quiet_stream());
        if (reader.isOpen()) {
            const int count = reader.num_frames < 3 ? reader.num_frames : 3;
            std::vector<unsigned char> out(size_t(reader.pixmap_size) *
                                           size_t(count > 0 ? count : 1));
            VidError failure;
            vid_read_rgb(reader, 0, count, out.data(), 1, failure);
            vid_read_rgb(reader, 0, count, out.data(), 2, failure);
            vid_read_rgb(reader, reader.num_frames - 1, 2, out.data(), 1, failure); // beyond
            std::vector<unsigned char> mosaic(size_t(reader.uncompressed_buffer_size) + 1);
            vid_read_mosaic(reader, 0, mosaic.data(), true, failure);
            vid_read_mosaic(reader, count - 1, mosaic.data(), false, failure);
            vid_file_state(reader);
            vid_kind(reader);
        }
    }
    unlink(path.c_str());
    return 0;
}
