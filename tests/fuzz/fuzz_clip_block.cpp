// Fuzz target: arbitrary bytes as the clip block of a file of one frame (header, one table
// entry pointing behind the bytes). Reads the block, its timestamps and its metadata as every
// reader does, and the bytes themselves as metadata; any crash, out-of-bounds access, leak or
// unbounded recursion is a finding. The bytes as metadata also go through the sensor
// description and a render of a small frame by it. A block the reader takes must hold metadata that
// is one JSON object nested at most 64 deep.
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
#include "vid_render.h"
#include "vid_sensor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    if (vid_json_object_check(text, why)) {
        vid_json_compact(text);
        // The sensor description every reader takes from the metadata, for each kind; one
        // that is taken must render a small frame without reading or writing out of bounds.
        for (VidKind kind :
             {VidKind::rgb, VidKind::bayer8, VidKind::bayer16, VidKind::mono8, VidKind::mono16}) {
            VidSensor sensor;
            if (vid_sensor_parse(text, kind, 6, sensor, why) && sensor.described) {
                unsigned char samples[2 * 6 * 4] = {1, 200, 3, 4, 250, 6, 7, 8};
                unsigned char rgb[3 * 6 * 4];
                vid_render8(sensor, samples,
                            kind == VidKind::bayer16 || kind == VidKind::mono16 ? 2 : 1, 6, 4, rgb,
                            3, true, nullptr);
            }
            vid_sensor_says_mono(text);
        }
    }

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
