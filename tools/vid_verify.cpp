// vid verify: reads every frame of each file and reports the damaged ones.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "file_offset.h"
#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_read.h"

namespace {

const char kUsage[] =
    "usage: vid verify FILE...\n"
    "\n"
    "Reads and expands every frame of each VID file (Bayer frames are demosaiced once) and\n"
    "prints one line per damaged frame (frame number, record offset, reason), then a summary\n"
    "per file. A progress bar is drawn on standard error when it is a terminal.\n"
    "\n"
    "A file without frames and with nothing behind its table is empty and intact. Whole\n"
    "frames behind the table (a writer that outgrew its table and was stopped) are counted\n"
    "and fail the file: vid repair recovers them.\n"
    "\n"
    "Exit status: 0 when every frame of every file is intact, 1 when a frame is damaged, whole\n"
    "frames lie beyond the table or a file cannot be opened, 2 usage error.\n";

const char* kind_text(const VidHeader& v)
{
    if (!v.vid_is_bayer_interpolated)
        return "RGB";
    return v.vid_uses_two_bytes_per_pixel ? "Bayer two-byte" : "Bayer one-byte";
}

bool verify(const char* path)
{
    VidReaderText text;
    VidHeader reader(path, text.stream());
    if (reader.compressed_buffer == nullptr) {
        printf("%s: cannot be opened: %s\n", path,
               text.text("not a VID file", reader.error_number).c_str());
        return false;
    }
    if (vid_is_empty(reader)) {
        printf("%s: no frames, empty and intact\n", path);
        return true;
    }
    if (reader.num_frames == 0) {
        int64_t size = -1;
        if (vid_fseek(reader.videoFile, 0, SEEK_END) == 0)
            size = vid_ftell(reader.videoFile);
        printf("%s: no frames in its header, yet %" PRId64 " bytes follow it: left by a "
               "writer that was stopped (vid repair recovers its frames)\n",
               path, size - 8);
        return false;
    }
    VidProgress progress("verify", reader.num_frames);
    int damaged = 0;
    for (int k = 0; k < reader.num_frames; k++) {
        progress.update(k);
        // A zero-length record is a black frame: nothing to read or expand.
        if (reader.recordBytes(k) == 0)
            continue;
        if (!reader.readFrameFromVideoFile(k)) {
            progress.done();
            printf("%s: frame %d at offset %" PRId64 ": %s\n", path, k, reader.offsets[k],
                   text.text("cannot be read", reader.error_number).c_str());
            damaged++;
        }
    }
    progress.done();
    const VidTail tail = vid_records_behind(reader);
    if (damaged > 0) {
        printf("%s: %d of %d frames damaged\n", path, damaged, reader.num_frames);
        return false;
    }
    if (tail.whole_records > 0) {
        printf("%s: %d frames, %d x %d %s, all intact, but %" PRId64 " more whole frame%s "
               "follow%s them beyond the table (a writer that outgrew its table was stopped "
               "before it finished; vid repair recovers them)\n",
               path, reader.num_frames, reader.width, reader.height, kind_text(reader),
               tail.whole_records, tail.whole_records == 1 ? "" : "s",
               tail.whole_records == 1 ? "s" : "");
        return false;
    }
    printf("%s: %d frames, %d x %d %s, all intact%s\n", path, reader.num_frames, reader.width,
           reader.height, kind_text(reader),
           tail.torn ? " (bytes of an unfinished frame follow the last one)" : "");
    return true;
}

} // namespace

const char* vid_verify_usage()
{
    return kUsage;
}

int vid_verify_main(int argc, char** argv)
{
    std::vector<const char*> files;
    bool names_only = false;
    for (int i = 1; i < argc; i++) {
        if (vid_cli_end_of_options(argc, argv, i, names_only))
            continue;
        if (!names_only && (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0))
            return vid_cli_help(kUsage);
        if (!names_only && argv[i][0] == '-' && argv[i][1] != '\0')
            return vid_cli_usage_error("verify", std::string("unknown option ") + argv[i]);
        files.push_back(argv[i]);
    }
    if (files.empty())
        return vid_cli_usage_error("verify", "no FILE given");
    bool all = true;
    for (const char* file : files)
        all = verify(file) && all;
    fflush(stdout);
    return all ? 0 : 1;
}
