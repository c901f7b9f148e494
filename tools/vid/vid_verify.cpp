// vid verify: reads every frame of each file and reports the damaged ones.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_format.h"
#include "vid_records.h"

const VidSubcommand vid_verify_command = {
    "verify",
    "FILE...",
    "Reads and expands every frame of each VID file (Bayer frames are demosaiced once) and\n"
    "prints one line per damaged frame (frame number, record offset, reason), then a summary\n"
    "per file. A progress bar is drawn on standard error when it is a terminal.\n"
    "\n"
    "A file without frames and with nothing behind its table is empty and intact. Whole\n"
    "frames behind the table (a writer that outgrew its table and was stopped) are counted\n"
    "and fail the file: vid repair recovers them.\n",
    {
        {"--json", nullptr, nullptr,
         "one JSON object per file and line, keys: file, intact, state, kind, width, height, "
         "frames, damaged (a list of {frame, offset, reason}), frames_beyond_table; a file that "
         "cannot be opened gives {\"file\": ..., \"intact\": false, \"error\": ...}"},
    },
    "Exit status: 0 when every frame of every file is intact, 1 when a frame is damaged, whole\n"
    "frames lie beyond the table or a file cannot be opened, 2 usage error.\n",
    1,
    "no FILE given"};

namespace {

struct Damage {
    int frame;
    int64_t offset;
    std::string reason;
};

void print_json(const char* path, bool intact, const char* state, VidHeader* reader,
                const std::vector<Damage>& damaged, int64_t beyond, const std::string& error)
{
    std::string out =
        "{\"file\": " + vid_cli_json_string(path) + ", \"intact\": " + (intact ? "true" : "false");
    if (reader == nullptr) {
        printf("%s, \"error\": %s}\n", out.c_str(), vid_cli_json_string(error.c_str()).c_str());
        return;
    }
    const char* kind = vid_kind_name(vid_kind(*reader));
    out += std::string(", \"state\": \"") + state +
           "\", \"kind\": " + (kind ? std::string("\"") + kind + "\"" : std::string("null")) +
           ", \"width\": " + std::to_string(reader->width) +
           ", \"height\": " + std::to_string(reader->height) +
           ", \"frames\": " + std::to_string(reader->num_frames) + ", \"damaged\": [";
    for (size_t i = 0; i < damaged.size(); i++)
        out += (i ? ", " : "") + std::string("{\"frame\": ") + std::to_string(damaged[i].frame) +
               ", \"offset\": " + std::to_string(damaged[i].offset) +
               ", \"reason\": " + vid_cli_json_string(damaged[i].reason.c_str()) + "}";
    out += "], \"frames_beyond_table\": " + std::to_string(beyond) + "}";
    printf("%s\n", out.c_str());
}

bool verify(const char* path, bool json)
{
    VidHeader reader(path, nullptr);
    if (!reader.isOpen()) {
        const std::string why = vid_cli_error(reader);
        if (json)
            print_json(path, false, "", nullptr, {}, 0, why);
        else
            printf(
                "%s: cannot be opened: %s\n", path,
                vid_error_message({reader.result, reader.error_number, -1, "", reader.error_detail})
                    .c_str());
        return false;
    }
    const VidFileState file = vid_file_state(reader);
    if (file.state == VidState::empty) {
        if (json)
            print_json(path, true, "empty", &reader, {}, 0, "");
        else
            printf("%s: no frames, empty and intact\n", path);
        return true;
    }
    if (reader.num_frames == 0) {
        if (json)
            print_json(path, false, vid_state_name(file.state), &reader, {}, 0, "");
        else
            printf("%s: no frames in its header, yet %" PRId64 " bytes follow it: left by a "
                   "writer that was stopped (vid repair recovers its frames)\n",
                   path, file.file_size - kVidHeaderBytes);
        return false;
    }
    VidProgress progress("verify", reader.num_frames);
    std::vector<Damage> damaged;
    for (int k = 0; k < reader.num_frames; k++) {
        progress.update(k);
        // A zero-length record is a black frame: nothing to read or expand.
        if (reader.recordBytes(k) == 0)
            continue;
        if (!reader.readFrameFromVideoFile(k)) {
            progress.done();
            VidError error = reader.lastError();
            error.file.clear();
            error.frame = -1;
            damaged.push_back({k, vid_record_offset(reader, k), vid_error_message(error)});
            if (!json)
                printf("%s: frame %d at offset %" PRId64 ": %s\n", path, k, damaged.back().offset,
                       damaged.back().reason.c_str());
        }
    }
    progress.done();
    const int64_t beyond = file.tail.whole_records;
    const bool intact = damaged.empty() && beyond == 0;
    if (json) {
        print_json(path, intact, vid_state_name(file.state), &reader, damaged, beyond, "");
        return intact;
    }
    const char* kind = vid_kind_text(vid_kind(reader));
    if (!damaged.empty()) {
        printf("%s: %zu of %d frames damaged\n", path, damaged.size(), reader.num_frames);
        return false;
    }
    if (beyond > 0) {
        printf("%s: %d frames, %d x %d %s, all intact, but %" PRId64 " more whole frame%s "
               "follow%s them beyond the table (a writer that outgrew its table was stopped "
               "before it finished; vid repair recovers them)\n",
               path, reader.num_frames, reader.width, reader.height, kind, beyond,
               beyond == 1 ? "" : "s", beyond == 1 ? "s" : "");
        return false;
    }
    // A recording's clip block says whether its writer finished.
    const VidClip clip = vid_read_clip(reader);
    const bool unfinished_recording = clip.present && !(clip.flags & kVidClipFinished);
    printf("%s: %d frames, %d x %d %s, all intact%s%s\n", path, reader.num_frames, reader.width,
           reader.height, kind,
           file.tail.torn ? " (bytes of an unfinished frame follow the last one)" : "",
           unfinished_recording ? " (its writer has not finished: still recording, or stopped)"
                                : "");
    return true;
}

} // namespace

int vid_verify_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_verify_command, argc, argv, args);
    if (status >= 0)
        return status;
    bool all = true;
    for (const char* file : args.operands)
        all = verify(file, args.has("--json")) && all;
    fflush(stdout);
    return all ? 0 : 1;
}
