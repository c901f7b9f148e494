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
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        printf(
            "usage: memsoak\n\n"
            "Keeps the memory and the processors of a large machine busy with the block codec:\n"
            "takes 515396075400 bytes, then runs 500 passes of refilling a test area with runs\n"
            "of 1 to 19 equal random bytes and compressing and expanding in place 20 windows of\n"
            "2^31 - 1 bytes. A request beyond what the machine can provide is refused before\n"
            "anything is allocated. All output goes to the standard error stream.\n\n"
            "Exit status: 0 after all 10000 cycles, 1 after the first failure.\n");
        return 0;
    }
    return run_memsoak(memsoak_fixed_sizes());
}
