// vid: the command-line program for VID files, a thin main over one source per subcommand.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_version.h"

namespace {

struct Subcommand {
    const char* name;
    const char* summary;
    int (*main)(int, char**);
    const VidSubcommand* command;
};

const Subcommand kSubcommands[] = {
    {"verify", "read every frame; report damaged ones", vid_verify_main, &vid_verify_command},
    {"repair", "a readable file from an unfinished or damaged one", vid_repair_main,
     &vid_repair_command},
    {"info", "what a VID file holds (kind, size, frames, ratio, state)", vid_info_main,
     &vid_info_command},
    {"export", "frames as PNG/PPM images or a raw stream for encoders", vid_export_main,
     &vid_export_command},
    {"import", "a VID file from images or a raw stream (RGB or Bayer)", vid_import_main,
     &vid_import_command},
    {"crop", "trim, crop or merge clips into a new VID file", vid_crop_main, &vid_crop_command},
    {"convert", "rewrite a file with classic or compact records", vid_convert_main,
     &vid_convert_command},
    {"meta", "set or remove metadata keys (the sensor description) in place", vid_meta_main,
     &vid_meta_command},
    {"watch", "follow a recording while it is written", vid_watch_main, &vid_watch_command},
#ifdef VID_HAVE_VIEW
    {"view", "look at a clip in the browser", vid_view_main, &vid_view_command},
#endif
#ifdef VID_HAVE_ARAVIS
    {"cameras", "list the GenICam cameras (GigE Vision, USB3 Vision)", vid_cameras_main,
     &vid_cameras_command},
    {"record", "record a camera into a clip", vid_record_main, &vid_record_command},
#endif
};

const Subcommand* find(const char* name)
{
    for (const Subcommand& s : kSubcommands)
        if (strcmp(s.name, name) == 0)
            return &s;
    return nullptr;
}

int overview(FILE* out)
{
    fprintf(out, "usage: vid SUBCOMMAND [ARGS...]\n\nSubcommands:\n");
    for (const Subcommand& s : kSubcommands)
        fprintf(out, "  %-8s %s\n", s.name, s.summary);
#if !VID_HAVE_PNG
    fprintf(out, "\nThis build reads and writes PPM/PGM images only: PNG (libpng) is not part "
                 "of it.\n");
#endif
#ifndef VID_HAVE_ARAVIS
    fprintf(out, "\nThis build records no cameras (vid cameras, vid record): Aravis is not part "
                 "of it.\n");
#endif
    fprintf(out, "\nvid help SUBCOMMAND or vid SUBCOMMAND --help for its usage; vid --version.\n"
                 "Exit status: 0 success, 1 failure, 2 usage error.\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Each subcommand words every failure itself, from the failure's data
    // (VidHeader::lastError): the container's reports are never shown.
    if (argc < 2) {
        overview(stderr);
        return 2;
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)
        return overview(stdout);
    if (strcmp(argv[1], "--version") == 0) {
        printf("vid %s\n", VID_VERSION_STRING);
        return 0;
    }
    if (strcmp(argv[1], "help") == 0) {
        if (argc < 3)
            return overview(stdout);
        const Subcommand* s = find(argv[2]);
        if (s == nullptr)
            return vid_cli_usage_error("help", std::string("no subcommand ") + argv[2]);
        fputs(vid_cli_usage_text(*s->command).c_str(), stdout);
        return 0;
    }
    const Subcommand* s = find(argv[1]);
    if (s == nullptr) {
        fprintf(stderr, "vid: unknown subcommand %s (see vid --help)\n", argv[1]);
        return 2;
    }
    // No subcommand ends on an uncaught exception: memory that runs out where a container
    // of the program's own grows is said in one line.
    try {
        return s->main(argc - 1, argv + 1);
    } catch (const std::bad_alloc&) {
        fprintf(stderr, "vid %s: out of memory\n", argv[1]);
    } catch (const std::exception& e) {
        fprintf(stderr, "vid %s: %s\n", argv[1], e.what());
    }
    return 1;
}
