// memsoak: keeps the memory and the processors of a large machine busy with the block
// codec. It takes no arguments (any given are ignored) and runs the soak with its fixed
// sizes; all output goes to the standard error stream. Exit status 0 after every cycle
// succeeded, 1 after the first failure.
#include "memsoak_run.h"
#include "vid_version.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("memsoak %s\n", VID_VERSION_STRING);
        return 0;
    }
    return run_memsoak(memsoak_fixed_sizes());
}
