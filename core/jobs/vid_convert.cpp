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
    // OUT takes its name only when complete; until then the file lies beside it.
    recording.named_at_finish = true;
    const int frames = reader.num_frames;
    VidHeader writer(out.c_str(), nullptr, reader.width, reader.height, frames, recording);
    if (!writer.isOpen()) {
        error = writer.lastError();
        error.file = out;
        return false;
    }
    // An unfinished conversion leaves nothing behind.
    VidAbandonUnfinished unfinished(writer);
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
    return true;
}
