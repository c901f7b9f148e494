// vid meta: sets or removes keys of a clip's metadata (its sensor description among them)
// without re-encoding a frame.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_meta.h"

const VidSubcommand vid_meta_command = {
    "meta",
    "FILE.vid [--set KEY=VALUE]... [--unset KEY]...",
    "Sets and removes keys of FILE's metadata and prints the metadata then held. The sensor\n"
    "description is held there: cfa (RGGB, BGGR, GRBG, GBRG, or none for a mono sensor),\n"
    "bit_depth, black_level, white_level, gains, color_matrix; a value that cannot describe the\n"
    "clip is refused, naming the key. The records are copied as they are, with the timestamps,\n"
    "frame rate, start time and identity; FILE is rewritten under a temporary name beside it,\n"
    "synced and renamed, so it stays as it was until the new file is complete. Without --set\n"
    "or --unset it only prints the metadata.\n",
    {
        {"--set", nullptr, "KEY=VALUE",
         "a key to set; VALUE is taken as JSON when it is valid JSON, else as text"},
        {"--unset", nullptr, "KEY", "a key to remove"},
    },
    "Exit status: 0 success, 1 failure, 2 usage error.\n",
    1,
    "FILE is needed"};

int vid_meta_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_meta_command, argc, argv, args);
    if (status >= 0)
        return status;
    if (args.operands.size() != 1)
        return vid_cli_usage_error("meta", "give one FILE");
    std::vector<std::pair<std::string, std::string>> set;
    for (const char* v : args.values("--set")) {
        std::string key, value, why;
        if (!vid_cli_key_value(v, key, value, why))
            return vid_cli_usage_error("meta", std::string("bad --set ") + v + ": " + why);
        set.emplace_back(key, value);
    }
    std::vector<std::string> unset;
    for (const char* v : args.values("--unset"))
        unset.emplace_back(v);
    VidError error;
    std::string metadata;
    if (!vid_set_metadata(args.operands[0], set, unset, error, &metadata)) {
        fprintf(stderr, "vid meta: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    printf("%s\n", metadata.c_str());
    return 0;
}
