// Rewriting a clip's metadata around its records; see vid_meta.h.
#include "vid_meta.h"

#include <cerrno>
#include <new>

#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_json.h"
#include "vid_kind.h"
#include "vid_output_file.h"
#include "vid_record.h"
#include "vid_records.h"
#include "vid_sensor.h"

namespace {

bool refuse(VidError& error, VidResult result, const std::string& path, const std::string& why,
            int error_number = 0)
{
    error = vid_error(result, path, why, error_number);
    return false;
}

// The kind the new metadata gives a file of stored kind `stored`: a pattern of none makes a
// Bayer file mono.
VidKind kind_with(const std::string& metadata, VidKind stored)
{
    if ((stored != VidKind::bayer8 && stored != VidKind::bayer16) ||
        !vid_sensor_says_mono(metadata))
        return stored;
    return stored == VidKind::bayer8 ? VidKind::mono8 : VidKind::mono16;
}

} // namespace

bool vid_set_metadata(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& set,
                      const std::vector<std::string>& unset, VidError& error,
                      std::string* metadata_out)
{
    VidHeader reader(path.c_str(), nullptr);
    if (!reader.isOpen()) {
        error = reader.lastError();
        return false;
    }
    const VidKind stored = vid_kind_of(reader.vid_is_bayer_interpolated == 1,
                                       reader.vid_uses_two_bytes_per_pixel == 1);
    const int64_t frames = reader.num_frames;
    VidClip clip = vid_read_clip(reader);
    if (clip.damaged)
        return refuse(error, VidResult::damaged_record, path,
                      "its clip block is damaged (" + clip.problem + "); vid repair mends it");
    std::vector<int64_t> stamps;
    if (clip.present) {
        if (!(clip.flags & kVidClipFinished))
            return refuse(error, VidResult::bad_argument, path,
                          "its writer has not finished it (still recording, or stopped: vid "
                          "repair finishes it)");
        if (!vid_read_timestamps(reader, clip, stamps))
            return refuse(error, VidResult::read_failed, path, "its timestamps cannot be read",
                          errno);
    } else {
        clip = VidClip();
        clip.present = true;
        clip.flags = kVidClipFinished;
        clip.start_field = vid_clip_new_identity("");
        stamps.assign(size_t(frames), kVidNoTimestamp);
    }
    std::string metadata = clip.metadata.empty() ? "{}" : clip.metadata;
    std::string why;
    for (const auto& kv : set)
        if (!vid_json_with_key(metadata, kv.first, kv.second, true, why))
            return refuse(error, VidResult::bad_argument, path, why);
    for (const std::string& key : unset)
        if (!vid_json_without_key(metadata, key, why))
            return refuse(error, VidResult::bad_argument, path, why);
    VidSensor sensor;
    if (!vid_sensor_parse(metadata, kind_with(metadata, stored), reader.width, sensor, why))
        return refuse(error, VidResult::bad_argument, path, why);
    if (!vid_json_object_check(metadata, why))
        return refuse(error, VidResult::bad_argument, path, why);
    clip.metadata = metadata;

    std::vector<VidRecordSpan> records;
    std::vector<unsigned char> block;
    try {
        for (int64_t k = 0; k < frames; k++) {
            const int64_t length = reader.recordBytes(int(k));
            if (length < 0)
                return refuse(error, VidResult::damaged_record, path,
                              "the record of frame " + std::to_string(k) +
                                  " cannot be reached; vid repair mends it");
            records.push_back({reader.offsets[k], length});
        }
        block = vid_clip_block(clip, stamps, frames);
    } catch (const std::bad_alloc&) {
        return refuse(error, VidResult::out_of_memory, path, "");
    }
    VidOutputFile out;
    if (!out.open(path, why))
        return refuse(error, vid_result_of_errno(out.error_number(), VidResult::write_failed), path,
                      "cannot create a file beside it", out.error_number());
    VidError failure;
    if (!vid_write_records(reader.videoFile, out.stream(), reader.width, reader.height,
                           stored != VidKind::rgb, stored == VidKind::bayer16, records, failure,
                           &block)) {
        out.abandon();
        return refuse(error, VidResult::write_failed, path, "the new file cannot be written",
                      failure.error_number);
    }
    // The original is closed before the new file takes its name (Windows cannot rename over
    // an open file).
    fclose(reader.videoFile);
    reader.videoFile = nullptr;
    if (!out.commit(why))
        return refuse(error, VidResult::write_failed, path, why, out.error_number());
    if (metadata_out != nullptr)
        *metadata_out = metadata;
    return true;
}
