// Rewriting a file record by record; see vid_convert.h.
#include "vid_convert.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "VidHeader.h"
#include "vid_files.h"
#include "vid_clip.h"
#include "vid_output_file.h"
#include "vid_records.h"

bool vid_convert(const std::string& in, const std::string& out, const VidConvertOptions& options,
                 VidError& error, VidConvertProgress progress, void* context)
{
    if (vid_same_path(in.c_str(), out.c_str())) {
        error =
            vid_error(VidResult::bad_argument, out, "it is the input; inputs are never changed");
        return false;
    }
    VidHeader reader(in.c_str(), nullptr);
    if (!reader.isOpen()) {
        error = reader.lastError();
        return false;
    }
    const VidKind kind = vid_kind(reader);
    VidClip clip = vid_read_clip(reader);
    std::vector<int64_t> stamps;
    if (clip.present && !vid_read_timestamps(reader, clip, stamps)) {
        error = vid_error(VidResult::read_failed, in, "its timestamps cannot be read", errno);
        return false;
    }

    int why = 0;
    std::string temp;
    FILE* created = vid_create_beside(out, temp, why);
    if (created == nullptr) {
        error = vid_error(vid_result_of_errno(why, VidResult::write_failed), out,
                          "cannot create a file beside it", why);
        return false;
    }
    fclose(created);
    struct Temporary {
        std::string name;
        bool kept = false;
        ~Temporary()
        {
            if (!kept)
                remove(name.c_str());
        }
    } temporary{temp};

    // The same kind and geometry; the block only where the input has one, so that a file
    // without one converts to the very bytes the classic writer makes.
    VidRecording recording;
    recording.kind = kind == VidKind::none ? VidKind::rgb : kind;
    recording.effort = options.effort;
    recording.compact = options.compact;
    recording.clip_block = clip.present;
    clip.flags = 0;
    recording.frame_rate = clip.frame_rate;
    recording.start_time = clip.start_time.c_str();
    recording.metadata = clip.metadata.c_str();
    recording.same_recording = clip.start_field; // the same frames: the same recording
    const int frames = reader.num_frames;
    VidHeader writer(temp.c_str(), nullptr, reader.width, reader.height, frames, recording);
    if (!writer.isOpen()) {
        error = writer.lastError();
        error.file = out;
        return false;
    }
    if (!writer.giveTimestamps(stamps.data(), int64_t(stamps.size()))) {
        error = vid_error(VidResult::out_of_memory, out, "");
        return false;
    }
    const size_t frame_bytes = size_t(writer.pixmap_size);
    for (int k = 0; k < frames; k++) {
        // A black frame (a zero-length record) reads as zeros; everything else as stored.
        if (reader.recordBytes(k) == 0) {
            memset(writer.pixmap, 0, frame_bytes);
        } else if (!reader.readSamplesFromVideoFile(k)) {
            error = reader.lastError();
            return false;
        } else {
            memcpy(writer.pixmap, reader.uncompressed_buffer, frame_bytes);
        }
        if (!writer.writeNextFrameToVideoFile()) {
            error = writer.lastError();
            error.file = out;
            return false;
        }
        if (progress != nullptr)
            progress(context, k + 1, frames);
    }
    if (!writer.finish()) {
        error = writer.lastError();
        error.file = out;
        return false;
    }
    if (!vid_commit_beside(temp, out, why)) {
        error = vid_error(VidResult::write_failed, out, "", why);
        return false;
    }
    temporary.kept = true;
    return true;
}
