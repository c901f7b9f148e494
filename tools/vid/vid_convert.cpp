// vid convert: a VID file rewritten record by record (classic or compact records, an effort).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_convert.h"
#include "compress_uncompress_MT.h"

const VidSubcommand vid_convert_command = {
    "convert",
    "IN.vid OUT.vid",
    "Rewrites IN record by record into OUT: every frame expands to the same bytes, and the\n"
    "clip block (timestamps, frame rate, start time, metadata) is kept when IN has one.\n"
    "  classic  the records every version of this system reads (the default)\n"
    "  compact  records after reversible filters: camera frames a quarter to a third smaller\n"
    "           and faster to read; readers before this version refuse them with an error\n"
    "OUT is written under a temporary name beside it, synced and renamed when complete; it\n"
    "may not be IN.\n",
    {
        {"--records", nullptr, "classic|compact", "the kind of records to write (default classic)"},
        {"--effort", nullptr, "E", "compression effort 1 (fastest) to 9 (smallest, default)"},
    },
    "Exit status: 0 when OUT was written, 1 on failure, 2 usage error.\n",
    2,
    "IN and OUT are needed"};

namespace {

void told(void* bar, int64_t done, int64_t total)
{
    static_cast<VidProgress*>(bar)->update(done, total);
}

} // namespace

int vid_convert_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_convert_command, argc, argv, args);
    if (status >= 0)
        return status;
    if (args.operands.size() != 2)
        return vid_cli_usage_error("convert", "give IN and OUT, nothing more");
    VidConvertOptions options;
    if (const char* v = args.value("--records")) {
        std::string r = v;
        if (r != "classic" && r != "compact")
            return vid_cli_usage_error("convert", "records are classic or compact, not " + r);
        options.compact = r == "compact";
    }
    if (const char* v = args.value("--effort")) {
        char* end = nullptr;
        options.effort = int(strtol(v, &end, 10));
        if (*v == '\0' || *end != '\0' || options.effort < min_compression_effort ||
            options.effort > max_compression_effort)
            return vid_cli_usage_error("convert", std::string("compression effort ") + v +
                                                      " is not one of 1 to 9");
    }
    VidProgress bar("convert", 0);
    VidError error;
    bool ok = vid_convert(args.operands[0], args.operands[1], options, error, told, &bar);
    bar.done();
    if (!ok) {
        fprintf(stderr, "vid convert: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    return 0;
}
