// The one rewrite of a writer's file: a table that grew, or a large unused one, given back.
#include "vid_header_report.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "vid_files.h"
#include "vid_clip.h"
#include "vid_output_file.h"
#include "vid_record.h"

// Finishes a writer whose table grew: the records lie back to back from offsets[0] to the
// end of the file, in frame order, each as long as its blocked-compress header says. They
// are copied once into a new file with a table of exactly current_frame entries, which then
// replaces the old one. On failure the old file stays as it is (its first num_frames frames
// readable) and the new one is removed. Formats a report and returns false on failure.
bool vid_header_rewrite_exact_table(VidHeader& v)
{
    const int64_t frames = v.current_frame;
    int64_t file_end = -1;
    if (fflush(v.videoFile) == 0 && vid_fseek(v.videoFile, 0, SEEK_END) == 0)
        file_end = vid_ftell(v.videoFile);
    if (file_end < 0) {
        VID_FORMAT(v, VidResult::write_failed, -1, nullptr, "Unable to flush video file \n %s \n",
                   v.videoFileName);
        return false;
    }
    std::vector<VidRecordSpan> records;
    try {
        records.reserve(size_t(frames));
    } catch (const std::bad_alloc&) {
        VID_FORMAT(v, VidResult::out_of_memory, -1, nullptr,
                   "Unable to allocate the frame table for video file \n %s \n", v.videoFileName);
        return false;
    }
    // Walk the records by their own lengths.
    int64_t at = v.offsets[0];
    for (int64_t k = 0; k < frames; k++) {
        int64_t length = vid_announced_record_length(v.videoFile, at, file_end - at);
        if (length < 0 || length > file_end - at) {
            VID_FORMAT(v, VidResult::damaged_record, int(k),
                       "its record is missing or cut while the file is finished",
                       "record of frame %" PRId64 " not found while finishing video file "
                       "\n %s \n",
                       k, v.videoFileName);
            return false;
        }
        records.push_back({at, length});
        at += length;
    }

    // What the file keeps when the rewrite fails. A grown one reads its first num_frames
    // frames through its table, the others lie behind them for `vid repair`; a compacted one
    // is complete and finished, only its unused table stays.
    const bool grown = v.current_frame > v.num_frames;
    const std::string kept =
        grown ? "it keeps its " + std::to_string(v.current_frame) + " frames: the first " +
                    std::to_string(v.num_frames) +
                    " read through its table, vid repair recovers the rest"
              : "it keeps all its " + std::to_string(v.current_frame) +
                    " frames, complete and finished; only its unused table entries could "
                    "not be given back";
    // A writer named at its finish is rewritten straight under its own name: one rewrite, not
    // a temporary file replacing another.
    const char* target = v.final_name != nullptr ? v.final_name : v.videoFileName;
    VidOutputFile out;
    std::string error;
    if (!out.open(target, error)) {
        v.error_number = out.error_number();
        const std::string detail = "cannot create a file beside it; " + kept;
        VID_FORMAT(v, vid_result_of_errno(v.error_number, VidResult::write_failed), -1,
                   detail.c_str(), "Unable to create a file beside video file \n %s \n (%s); %s\n",
                   v.videoFileName, strerror(v.error_number), kept.c_str());
        return false;
    }
    // The clip block comes along with exactly one timestamp slot per frame, finished.
    std::vector<unsigned char> block;
    if (v.clip_block_at > 0) {
        // The block as a reader finds it in the file as it is now.
        VidClip clip = vid_read_clip(v.videoFile, file_end, 0);
        if (!clip.present) {
            out.abandon();
            VID_FORMAT(v, VidResult::damaged_record, -1, "its clip block cannot be read back",
                       "Unable to read back the clip block of video file \n %s \n",
                       v.videoFileName);
            return false;
        }
        clip.flags |= kVidClipFinished;
        try {
            block = vid_clip_block(clip, std::vector<int64_t>(v.timestamps, v.timestamps + frames),
                                   frames);
        } catch (const std::bad_alloc&) {
            out.abandon();
            VID_FORMAT(v, VidResult::out_of_memory, -1, nullptr,
                       "Unable to allocate the clip block for video file \n %s \n",
                       v.videoFileName);
            return false;
        }
    }
    VidError failure;
    bool ok = vid_write_records(v.videoFile, out.stream(), v.width, v.height,
                                v.vid_is_bayer_interpolated == 1,
                                v.vid_uses_two_bytes_per_pixel == 1, records, failure, &block);
    int why = failure.error_number;
    if (ok && !vid_path_names_file(v.videoFileName, v.videoFile)) {
        // Another file took the name while this one was written (another recording to the
        // same name): it is not replaced. This recording is kept beside it.
        std::string aside;
        const bool kept_aside = out.keep_aside(aside, error);
        v.error_number = kept_aside ? EEXIST : out.error_number();
        const std::string detail =
            "another file took its name while it was written; this recording " +
            (kept_aside ? "is kept as " + aside : "could not be kept: " + error);
        VID_FORMAT(v, VidResult::write_failed, -1, detail.c_str(),
                   "Unable to finish video file \n %s \n (%s)\n", v.videoFileName, detail.c_str());
        return false;
    }
    if (ok) {
        // The old file is closed before the new one takes its name (Windows cannot rename
        // over an open file); from here on the object has no file.
        fclose(v.videoFile);
        v.videoFile = nullptr;
        ok = out.commit(error); // synced, then renamed
        why = out.error_number();
        if (ok && v.final_name != nullptr) {
            remove(v.videoFileName); // the file it was written in until now
            snprintf(v.videoFileName, sizeof v.videoFileName, "%s", v.final_name);
            delete[] v.final_name;
            v.final_name = nullptr;
        }
    } else {
        out.abandon();
    }
    if (!ok) {
        // The old file is kept as it is (see `kept`).
        why = why != 0 ? why : EIO;
        v.error_number = why;
        VID_FORMAT(v, vid_result_of_errno(why, VidResult::write_failed), -1, kept.c_str(),
                   "Unable to write the finished video file \n %s \n (%s); %s\n", v.videoFileName,
                   strerror(why), kept.c_str());
        return false;
    }
    return true;
}
