// Fuzz target: arbitrary bytes as the clip block of a file of one frame (header, one table
// entry pointing behind the bytes). Reads the block, its timestamps and its metadata as every
// reader does, and the bytes themselves as metadata; any crash, out-of-bounds access, leak or
// unbounded recursion is a finding. A block the reader takes must hold metadata that is one
// JSON object nested at most 64 deep.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input_file.h"
#include "le_bytes.h"
#include "vid_clip.h"
#include "vid_format.h"
#include "vid_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    if (vid_json_object_check(text, why))
        vid_json_compact(text);

    std::vector<uint8_t> file(size_t(vid_table_end(1)) + size);
    vid_encode_header(file.data(), 16, 16, 1, false, true);
    put_le64(&file[kVidHeaderBytes], uint64_t(file.size()));
    for (size_t i = 0; i < size; i++)
        file[size_t(vid_table_end(1)) + i] = data[i];
    static const std::string path = fuzz_input_path("fuzz_clip_block");
    if (!fuzz_write_input(path, file.data(), file.size()))
        return 0;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return 0;
    const VidClip clip = vid_read_clip(f, int64_t(file.size()), 1);
    if (clip.present) {
        if (!clip.metadata.empty() && !vid_json_object_check(clip.metadata, why))
            abort(); // a reader was handed metadata that breaks the rules
        std::vector<int64_t> stamps;
        vid_read_timestamps(f, clip, 1, stamps);
        vid_json_compact(clip.metadata);
    }
    fclose(f);
    remove(path.c_str());
    return 0;
}
