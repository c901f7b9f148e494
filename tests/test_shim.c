/* Preloaded into a program under test (LD_PRELOAD) to see and steer what it asks of the disk:
 *   VID_SYNC_COUNT_FILE=F       its calls that put data on the disk (fsync, fdatasync, syncfs)
 *                               are counted, and the count appended to F at exit;
 *   VID_FULL_DISK=PATTERN:N     the Nth open() of a path containing PATTERN, and every later
 *                               one, fails with ENOSPC, as on a disk that filled up;
 *   VID_KILL_AT_SYNC=1          the program is killed (SIGKILL) at its first call that would
 *                               put data on the disk: a crash after it wrote, before the
 *                               data is safe or renamed. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int syncs;
static int matching_opens;

#define FORWARD_SYNC(name, fd)                                                                     \
    if (getenv("VID_KILL_AT_SYNC") != NULL)                                                        \
        raise(SIGKILL);                                                                            \
    syncs++;                                                                                       \
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, name);                                       \
    return real ? real(fd) : 0

int fsync(int fd)
{
    FORWARD_SYNC("fsync", fd);
}
int fdatasync(int fd)
{
    FORWARD_SYNC("fdatasync", fd);
}
int syncfs(int fd)
{
    FORWARD_SYNC("syncfs", fd);
}

/* True when this open of `path` is to fail as on a full disk. */
static int disk_full_for(const char* path)
{
    const char* rule = getenv("VID_FULL_DISK");
    const char* colon = rule ? strrchr(rule, ':') : NULL;
    if (colon == NULL || path == NULL)
        return 0;
    char pattern[256];
    size_t n = (size_t)(colon - rule) < sizeof pattern - 1 ? (size_t)(colon - rule) : 0;
    memcpy(pattern, rule, n);
    pattern[n] = '\0';
    if (n == 0 || strstr(path, pattern) == NULL)
        return 0;
    return ++matching_opens >= atoi(colon + 1);
}

#define FORWARD_OPEN(name)                                                                         \
    mode_t mode = 0;                                                                               \
    if (flags & O_CREAT) {                                                                         \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        mode = (mode_t)va_arg(args, int);                                                          \
        va_end(args);                                                                              \
    }                                                                                              \
    if (disk_full_for(path)) {                                                                     \
        errno = ENOSPC;                                                                            \
        return -1;                                                                                 \
    }                                                                                              \
    int (*real)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, name);   \
    return real(path, flags, mode)

int open(const char* path, int flags, ...)
{
    FORWARD_OPEN("open");
}
int open64(const char* path, int flags, ...)
{
    FORWARD_OPEN("open64");
}

__attribute__((destructor)) static void report(void)
{
    const char* path = getenv("VID_SYNC_COUNT_FILE");
    FILE* f = path ? fopen(path, "a") : NULL;
    if (f) {
        fprintf(f, "%d\n", syncs);
        fclose(f);
    }
}
