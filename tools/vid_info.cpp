// vid info: what a VID file holds, as text or as one JSON object per file.
#include "vid_cli.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "VidHeader.h"
#include "vid_commands.h"
#include "vid_format.h"
#include "vid_records.h"

const VidSubcommand vid_info_command = {
    "info",
    "FILE...",
    "Prints, for each VID file: its kind (RGB, Bayer one-byte, Bayer two-byte), width,\n"
    "height, frames, the table entries reserved, the file size, bytes per frame raw and\n"
    "stored with the compression ratio, and its state: \"complete\"; \"empty\" for a file\n"
    "without frames and with nothing behind its table (no kind is claimed); \"unfinished\"\n"
    "when bytes follow the last whole record (a writer stopped in the middle of a frame, or\n"
    "whole frames beyond the table of a writer that outgrew it); \"truncated\" when records\n"
    "its table announces are missing or cut (the file lost its end).\n",
    {
        {"--json", nullptr, nullptr,
         "one JSON object per file and line, keys: file, kind, width, height, frames, "
         "table_entries, file_size, frame_bytes, stored_bytes_per_frame, ratio, state, "
         "frames_beyond_table, frames_missing, frames_cut (kind is null for an empty file); a "
         "file that cannot be read gives {\"file\": ..., \"error\": ...}. Bytes of a file name "
         "that are not UTF-8 are written as \\udcXX, as Python's os.fsdecode gives them."},
    },
    "Exit status: 0 when every file was read and none is truncated, 1 otherwise, 2 usage\n"
    "error.\n",
    1,
    "no FILE given"};

namespace {

// One file; false when it cannot be opened as a VID file (the reason is on stderr and, with
// --json, in an object of its own on stdout) or lost records its table announces.
bool describe(const char* path, bool json)
{
    VidHeader reader(path, nullptr);
    if (reader.compressed_buffer == nullptr) {
        std::string why = vid_cli_error(reader);
        fprintf(stderr, "vid info: %s\n", why.c_str());
        if (json)
            printf("{\"file\": %s, \"error\": %s}\n", vid_cli_json_string(path).c_str(),
                   vid_cli_json_string(why.c_str()).c_str());
        return false;
    }

    const VidFileState file = vid_file_state(reader);
    const int64_t frames = reader.num_frames;
    const int64_t lost = file.frames_missing + file.frames_cut;
    const VidKind kind = vid_kind(reader);
    const int64_t table_end = vid_table_end(file.table_entries);
    // The records' end: behind the last record's own announced length, whole records of a
    // writer that outgrew its table, or bytes of one cut short.
    int64_t records_end =
        frames > 0 && file.tail.records_end > 0 ? file.tail.records_end : file.file_size;
    int64_t frame_bytes = int64_t(reader.uncompressed_buffer_size);
    // Bytes per stored frame over the frames the file still holds.
    int64_t stored = frames > lost && table_end <= records_end && records_end <= file.file_size
                         ? (records_end - table_end) / (frames - lost)
                         : 0;
    double ratio = stored > 0 ? double(frame_bytes) / double(stored) : 0.0;
    const char* kind_name = vid_kind_name(kind);
    std::string kind_json = kind_name ? std::string("\"") + kind_name + "\"" : "null";
    const char* state = vid_state_name(file.state);

    if (json) {
        printf("{\"file\": %s, \"kind\": %s, \"width\": %d, \"height\": %d, "
               "\"frames\": %" PRId64 ", \"table_entries\": %" PRId64 ", \"file_size\": %" PRId64
               ", \"frame_bytes\": %" PRId64 ", \"stored_bytes_per_frame\": %" PRId64
               ", \"ratio\": %.4f, \"state\": \"%s\", \"frames_beyond_table\": %" PRId64
               ", \"frames_missing\": %" PRId64 ", \"frames_cut\": %" PRId64 "}\n",
               vid_cli_json_string(path).c_str(), kind_json.c_str(), reader.width, reader.height,
               frames, file.table_entries, file.file_size, frame_bytes, stored, ratio, state,
               file.tail.whole_records, file.frames_missing, file.frames_cut);
    } else {
        std::string state_text = state;
        if (file.state == VidState::truncated)
            state_text = "truncated (" + std::to_string(lost) + " of " + std::to_string(frames) +
                         " frames missing or cut: the file ends at byte " +
                         std::to_string(file.file_size) +
                         " before records its table announces; vid repair keeps the rest)";
        else if (file.state == VidState::unfinished && file.tail.whole_records > 0)
            state_text = "unfinished (" + std::to_string(file.tail.whole_records) +
                         " whole frames lie beyond the table: a writer that outgrew its "
                         "table was stopped; vid repair recovers them)";
        else if (file.state == VidState::unfinished && frames == 0)
            state_text = "unfinished (bytes behind an empty table: a writer was stopped; "
                         "vid repair recovers what can be)";
        else if (file.state == VidState::unfinished)
            state_text = "unfinished (bytes after the last whole record: a writer stopped "
                         "mid-frame; vid repair recovers what can be)";
        printf("%s\n"
               "  kind           %s\n"
               "  size           %d x %d\n"
               "  frames         %" PRId64 " (table entries reserved: %" PRId64 ")\n"
               "  file size      %" PRId64 " bytes\n"
               "  bytes/frame    %" PRId64 " raw, %" PRId64 " stored (ratio %.2f)\n"
               "  state          %s\n",
               path,
               kind == VidKind::none ? "none (the file holds no frames)" : vid_kind_text(kind),
               reader.width, reader.height, frames, file.table_entries, file.file_size, frame_bytes,
               stored, ratio, state_text.c_str());
    }
    return file.state != VidState::truncated;
}

} // namespace

int vid_info_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_info_command, argc, argv, args);
    if (status >= 0)
        return status;
    bool all = true;
    for (const char* file : args.operands)
        all = describe(file, args.has("--json")) && all;
    return all ? 0 : 1;
}
