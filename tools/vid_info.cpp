// vid info: what a VID file holds, as text or as one JSON object per file.
#include "vid_cli.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "file_offset.h"
#include "vid_format.h"
#include "vid_read.h"

namespace {

const char kUsage[] =
    "usage: vid info FILE... [--json]\n"
    "\n"
    "Prints, for each VID file: its kind (RGB, Bayer one-byte, Bayer two-byte), width,\n"
    "height, frames, the table entries reserved, the file size, bytes per frame raw and\n"
    "stored with the compression ratio, and its state: \"complete\"; \"empty\" for a file\n"
    "without frames and with nothing behind its table (no kind is claimed); \"unfinished\"\n"
    "when bytes follow the last whole record (a writer stopped in the middle of a frame, or\n"
    "whole frames beyond the table of a writer that outgrew it).\n"
    "\n"
    "  --json   one JSON object per file and line, keys: file, kind, width, height, frames,\n"
    "           table_entries, file_size, frame_bytes, stored_bytes_per_frame, ratio, state,\n"
    "           frames_beyond_table (kind is null for an empty file); a file that cannot be\n"
    "           read gives {\"file\": ..., \"error\": ...}. Bytes of a file name that are not\n"
    "           UTF-8 are written as \\udcXX, as Python's os.fsdecode gives them.\n"
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

// Length of the well-formed UTF-8 sequence at s (1 to 4), or 0 when s does not begin one.
int utf8_sequence(const unsigned char* s)
{
    unsigned char c = s[0];
    int n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || (n == 2 && c < 0xC2) || (n == 4 && c > 0xF4))
        return 0;
    for (int i = 1; i < n; i++)
        if ((s[i] & 0xC0) != 0x80)
            return 0;
    if (n == 3 && ((c == 0xE0 && s[1] < 0xA0) || (c == 0xED && s[1] >= 0xA0)))
        return 0; // overlong, or a surrogate
    if (n == 4 && ((c == 0xF0 && s[1] < 0x90) || (c == 0xF4 && s[1] >= 0x90)))
        return 0;
    return n;
}

// JSON string with the characters JSON requires escaped. File names are bytes: a byte that
// is not part of well-formed UTF-8 is written as \udcXX (XX the byte), the escape Python's
// os.fsdecode uses for it, so the output is always valid JSON and the name can be restored.
std::string json_string(const char* text)
{
    std::string out = "\"";
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        unsigned char c = *s;
        int n = utf8_sequence(s);
        char escaped[8];
        if (n == 0) {
            snprintf(escaped, sizeof escaped, "\\udc%02x", c);
            out += escaped;
            s++;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            s++;
        } else if (c < 0x20) {
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            s++;
        } else {
            out.append(reinterpret_cast<const char*>(s), size_t(n));
            s += n;
        }
    }
    return out + "\"";
}

// One file; false when it cannot be opened as a VID file (the reason is on stderr and, with
// --json, in an object of its own on stdout).
bool describe(const char* path, bool json)
{
    VidReaderText text;
    VidHeader reader(path, text.stream());
    if (reader.compressed_buffer == nullptr) {
        std::string why = text.text("not a readable VID file", reader.error_number);
        fprintf(stderr, "vid info: %s: %s\n", path, why.c_str());
        if (json)
            printf("{\"file\": %s, \"error\": %s}\n", json_string(path).c_str(),
                   json_string(why.c_str()).c_str());
        return false;
    }

    int64_t file_size = -1;
    if (vid_fseek(reader.videoFile, 0, SEEK_END) == 0)
        file_size = vid_ftell(reader.videoFile);
    const int64_t frames = reader.num_frames;
    const bool empty = vid_is_empty(reader);
    // The table ends where the first record begins; without frames, where the file ends. A
    // first entry outside the file says nothing of the table.
    int64_t table_end = file_size;
    if (frames > 0)
        table_end = reader.offsets[0] >= kVidHeaderBytes && reader.offsets[0] <= file_size
                        ? reader.offsets[0]
                        : kVidHeaderBytes + kVidTableEntryBytes * frames;
    int64_t table_entries =
        table_end >= kVidHeaderBytes ? (table_end - kVidHeaderBytes) / kVidTableEntryBytes : 0;
    // The records' end: behind the last record's own announced length, whole records of a
    // writer that outgrew its table, or bytes of one cut short.
    const VidTail tail = vid_records_behind(reader);
    int64_t records_end = frames > 0 && tail.records_end > 0 ? tail.records_end : file_size;
    const bool complete = !tail.torn && tail.whole_records == 0 && (frames > 0 || empty);
    const char* state = empty ? "empty" : complete ? "complete" : "unfinished";
    int64_t frame_bytes = int64_t(reader.uncompressed_buffer_size);
    int64_t stored = frames > 0 && table_end <= records_end && records_end <= file_size
                         ? (records_end - table_end) / frames
                         : 0;
    double ratio = stored > 0 ? double(frame_bytes) / double(stored) : 0.0;
    std::string kind_json = empty ? "null" : std::string("\"") + kind_name(reader, true) + "\"";

    if (json) {
        printf("{\"file\": %s, \"kind\": %s, \"width\": %d, \"height\": %d, "
               "\"frames\": %" PRId64 ", \"table_entries\": %" PRId64 ", \"file_size\": %" PRId64
               ", \"frame_bytes\": %" PRId64 ", \"stored_bytes_per_frame\": %" PRId64
               ", \"ratio\": %.4f, \"state\": \"%s\", \"frames_beyond_table\": %" PRId64 "}\n",
               json_string(path).c_str(), kind_json.c_str(), reader.width, reader.height, frames,
               table_entries, file_size, frame_bytes, stored, ratio, state, tail.whole_records);
    } else {
        std::string state_text = state;
        if (!complete && !empty) {
            if (tail.whole_records > 0)
                state_text = "unfinished (" + std::to_string(tail.whole_records) +
                             " whole frames lie beyond the table: a writer that outgrew its "
                             "table was stopped; vid repair recovers them)";
            else if (frames == 0)
                state_text = "unfinished (bytes behind an empty table: a writer was stopped; "
                             "vid repair recovers what can be)";
            else
                state_text = "unfinished (bytes after the last whole record: a writer stopped "
                             "mid-frame; vid repair recovers what can be)";
        }
        printf("%s\n"
               "  kind           %s\n"
               "  size           %d x %d\n"
               "  frames         %" PRId64 " (table entries reserved: %" PRId64 ")\n"
               "  file size      %" PRId64 " bytes\n"
               "  bytes/frame    %" PRId64 " raw, %" PRId64 " stored (ratio %.2f)\n"
               "  state          %s\n",
               path, empty ? "none (the file holds no frames)" : kind_name(reader, false),
               reader.width, reader.height, frames, table_entries, file_size, frame_bytes, stored,
               ratio, state_text.c_str());
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
    bool names_only = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; i++) {
        if (vid_cli_end_of_options(argc, argv, i, names_only))
            continue;
        if (names_only)
            files.push_back(argv[i]);
        else if (strcmp(argv[i], "--json") == 0)
            json = true;
        else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0)
            return vid_cli_help(kUsage);
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return vid_cli_usage_error("info", std::string("unknown option ") + argv[i]);
        else
            files.push_back(argv[i]);
    }
    if (files.empty())
        return vid_cli_usage_error("info", "no FILE given");
    bool all = true;
    for (const char* file : files)
        all = describe(file, json) && all;
    return all ? 0 : 1;
}
