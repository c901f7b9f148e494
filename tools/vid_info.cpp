// vid info: what a VID file holds, as text or as one JSON object per file.
#include "vid_cli.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "file_offset.h"
#include "vid_format.h"

namespace {

const char kUsage[] =
    "usage: vid info FILE... [--json]\n"
    "\n"
    "Prints, for each VID file: its kind (RGB, Bayer one-byte, Bayer two-byte), width,\n"
    "height, frames, the table entries reserved, the file size, bytes per frame raw and\n"
    "stored with the compression ratio, and its state: \"complete\", or \"unfinished\" when\n"
    "bytes follow the last whole record (a writer stopped in the middle of a frame).\n"
    "\n"
    "  --json   one JSON object per file and line, keys: file, kind, width, height, frames,\n"
    "           table_entries, file_size, frame_bytes, stored_bytes_per_frame, ratio, state\n"
    "\n"
    "Exit status: 0 when every file was read, 1 when one could not be, 2 usage error.\n";

const char* kind_name(const VidHeader& v, bool json)
{
    if (!v.vid_is_bayer_interpolated)
        return json ? "rgb" : "RGB";
    if (v.vid_uses_two_bytes_per_pixel)
        return json ? "bayer16" : "Bayer two-byte";
    return json ? "bayer8" : "Bayer one-byte";
}

// JSON string with the characters JSON requires escaped.
std::string json_string(const char* s)
{
    std::string out = "\"";
    for (; *s; s++) {
        unsigned char c = (unsigned char)*s;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// One file; false when it cannot be opened as a VID file (the reason is on stderr).
bool describe(const char* path, bool json)
{
    FILE* errors = tmpfile();
    VidHeader reader(path, errors);
    if (reader.compressed_buffer == nullptr) {
        std::string why = "not a readable VID file";
        if (errors != nullptr) {
            char text[600] = {0};
            rewind(errors);
            size_t got = fread(text, 1, sizeof text - 1, errors);
            text[got] = '\0';
            vid_cli_condense(text);
            if (text[0])
                why = text;
        }
        fprintf(stderr, "vid info: %s: %s\n", path, why.c_str());
        if (errors)
            fclose(errors);
        return false;
    }
    if (errors)
        fclose(errors);

    int64_t file_size = -1;
    if (vid_fseek(reader.videoFile, 0, SEEK_END) == 0)
        file_size = vid_ftell(reader.videoFile);
    const int64_t frames = reader.num_frames;
    // The table ends where the first record begins; without frames, where the file ends.
    int64_t table_end = frames > 0 ? reader.offsets[0] : file_size;
    int64_t table_entries =
        table_end >= kVidHeaderBytes ? (table_end - kVidHeaderBytes) / kVidTableEntryBytes : 0;
    // The records' end: the last record's own announced length where it has one.
    int64_t records_end = file_size;
    if (frames > 0) {
        int64_t last = reader.offsets[frames - 1];
        unsigned char head[12 + 8 * 8];
        size_t got = 0;
        if (last >= 0 && last < file_size && vid_fseek(reader.videoFile, last, SEEK_SET) == 0)
            got = fread(head, 1, sizeof head, reader.videoFile);
        int64_t length = blocked_compress_length(head, (unsigned long)got);
        if (length >= 0 && last + length <= file_size)
            records_end = last + length;
    }
    const char* state = records_end == file_size ? "complete" : "unfinished";
    int64_t frame_bytes = int64_t(reader.uncompressed_buffer_size);
    int64_t stored =
        frames > 0 && table_end <= records_end ? (records_end - table_end) / frames : 0;
    double ratio = stored > 0 ? double(frame_bytes) / double(stored) : 0.0;

    if (json) {
        printf("{\"file\": %s, \"kind\": \"%s\", \"width\": %d, \"height\": %d, "
               "\"frames\": %" PRId64 ", \"table_entries\": %" PRId64 ", \"file_size\": %" PRId64
               ", \"frame_bytes\": %" PRId64 ", \"stored_bytes_per_frame\": %" PRId64
               ", \"ratio\": %.4f, \"state\": \"%s\"}\n",
               json_string(path).c_str(), kind_name(reader, true), reader.width, reader.height,
               frames, table_entries, file_size, frame_bytes, stored, ratio, state);
    } else {
        printf("%s\n"
               "  kind           %s\n"
               "  size           %d x %d\n"
               "  frames         %" PRId64 " (table entries reserved: %" PRId64 ")\n"
               "  file size      %" PRId64 " bytes\n"
               "  bytes/frame    %" PRId64 " raw, %" PRId64 " stored (ratio %.2f)\n"
               "  state          %s\n",
               path, kind_name(reader, false), reader.width, reader.height, frames, table_entries,
               file_size, frame_bytes, stored, ratio,
               records_end == file_size
                   ? "complete"
                   : "unfinished (bytes after the last whole record: a writer stopped "
                     "mid-frame; vid repair recovers what can be)");
    }
    return true;
}

} // namespace

const char* vid_info_usage()
{
    return kUsage;
}

int vid_info_main(int argc, char** argv)
{
    bool json = false;
    int files = 0;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--json") == 0)
            json = true;
        else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0)
            return vid_cli_help(kUsage);
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return vid_cli_usage_error("info", std::string("unknown option ") + argv[i]);
        else
            files++;
    }
    if (files == 0)
        return vid_cli_usage_error("info", "no FILE given");
    bool all = true;
    for (int i = 1; i < argc; i++)
        if (argv[i][0] != '-' || argv[i][1] == '\0')
            all = describe(argv[i], json) && all;
    return all ? 0 : 1;
}
