/* Preloaded into a program under test: counts its calls that put data on the disk (fsync,
 * fdatasync, syncfs, sync) and appends the count to the file $VID_SYNC_COUNT_FILE at exit. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static int syncs;

#define FORWARD(name, ...)                                                                         \
    syncs++;                                                                                       \
    int (*real)() = (int (*)())dlsym(RTLD_NEXT, name);                                            \
    return real ? real(__VA_ARGS__) : 0

int fsync(int fd) { FORWARD("fsync", fd); }
int fdatasync(int fd) { FORWARD("fdatasync", fd); }
int syncfs(int fd) { FORWARD("syncfs", fd); }

__attribute__((destructor)) static void report(void)
{
    const char* path = getenv("VID_SYNC_COUNT_FILE");
    FILE* f = path ? fopen(path, "a") : NULL;
    if (f) {
        fprintf(f, "%d\n", syncs);
        fclose(f);
    }
}
