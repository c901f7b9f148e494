// vid verify: reads every frame of each file and reports the damaged ones.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "file_offset.h"
#include "vid_cli.h"
#include "vid_commands.h"

namespace {

const char kUsage[] =
    "usage: vid verify FILE...\n"
    "\n"
    "Reads and expands every frame of each VID file (Bayer frames are demosaiced once) and\n"
    "prints one line per damaged frame (frame number, record offset, reason), then a summary\n"
    "per file. A progress bar is drawn on standard error when it is a terminal.\n"
    "\n"
    "Exit status: 0 when every frame of every file is intact, 1 when a frame is damaged or a\n"
    "file cannot be opened, 2 usage error.\n";

const char* kind_text(const VidHeader& v)
{
    if (!v.vid_is_bayer_interpolated)
        return "RGB";
    return v.vid_uses_two_bytes_per_pixel ? "Bayer two-byte" : "Bayer one-byte";
}

// True when bytes follow the last record's own end: a writer stopped inside a frame.
bool has_torn_tail(VidHeader& v)
{
    if (v.num_frames == 0)
        return false;
    int64_t last = v.offsets[v.num_frames - 1], size = -1;
    if (vid_fseek(v.videoFile, 0, SEEK_END) == 0)
        size = vid_ftell(v.videoFile);
    unsigned char head[12 + 8 * 8];
    size_t got = 0;
    if (size > last && last >= 0 && vid_fseek(v.videoFile, last, SEEK_SET) == 0)
        got = fread(head, 1, sizeof head, v.videoFile);
    int64_t length = blocked_compress_length(head, (unsigned long)got);
    return length >= 0 && last + length < size;
}

bool verify(const char* path)
{
    VidReaderText text;
    VidHeader reader(path, text.stream());
    if (reader.compressed_buffer == nullptr) {
        printf("%s: cannot be opened: %s\n", path, text.text("not a VID file").c_str());
        return false;
    }
    if (reader.num_frames == 0) {
        int64_t size = -1;
        if (vid_fseek(reader.videoFile, 0, SEEK_END) == 0)
            size = vid_ftell(reader.videoFile);
        if (size > 16) {
            printf("%s: no frames in its header, yet %" PRId64 " bytes follow it: left by a "
                   "writer that was stopped (vid repair recovers its frames)\n",
                   path, size - 8);
            return false;
        }
    }
    VidProgress progress("verify", reader.num_frames);
    int damaged = 0;
    for (int k = 0; k < reader.num_frames; k++) {
        progress.update(k);
        if (!reader.readFrameFromVideoFile(k)) {
            progress.done();
            printf("%s: frame %d at offset %" PRId64 ": %s\n", path, k, reader.offsets[k],
                   text.text("cannot be read").c_str());
            damaged++;
        }
    }
    progress.done();
    if (damaged > 0) {
        printf("%s: %d of %d frames damaged\n", path, damaged, reader.num_frames);
        return false;
    }
    printf("%s: %d frames, %d x %d %s, all intact%s\n", path, reader.num_frames, reader.width,
           reader.height, kind_text(reader),
           has_torn_tail(reader) ? " (bytes of an unfinished frame follow the last one)" : "");
    return true;
}

} // namespace

const char* vid_verify_usage()
{
    return kUsage;
}

int vid_verify_main(int argc, char** argv)
{
    int files = 0;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0)
            return vid_cli_help(kUsage);
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return vid_cli_usage_error("verify", std::string("unknown option ") + argv[i]);
        files++;
    }
    if (files == 0)
        return vid_cli_usage_error("verify", "no FILE given");
    bool all = true;
    for (int i = 1; i < argc; i++)
        all = verify(argv[i]) && all;
    fflush(stdout);
    return all ? 0 : 1;
}
