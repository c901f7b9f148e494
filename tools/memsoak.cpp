// memsoak: keeps the memory and the processors of a large machine busy with the block
// codec. It takes no arguments (any given are ignored) and runs the soak with its fixed
// sizes; all output goes to the standard error stream. Exit status 0 after every cycle
// succeeded, 1 after the first failure.
#include "memsoak_run.h"

int main()
{
    return run_memsoak(memsoak_fixed_sizes());
}
