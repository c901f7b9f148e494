// Files on every platform: 64-bit positioning, creating, replacing, syncing, and what a path
// names. On Windows `long` and mingw's `off_t` are 32 bits wide, so plain fseek/fseeko would
// silently wrap offsets beyond 2 or 4 GiB.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cstring>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
extern "C" __declspec(dllimport) int __stdcall MoveFileExA(const char*, const char*, unsigned long);
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Seeks like fseek (SEEK_SET, SEEK_CUR, SEEK_END); returns 0 on success, -1 on failure.
inline int vid_fseek(FILE* f, int64_t offset, int whence)
{
#ifdef _WIN32
    return _fseeki64(f, offset, whence) == 0 ? 0 : -1;
#else
    return fseeko(f, off_t(offset), whence) == 0 ? 0 : -1;
#endif
}

// The current position, or -1 on failure.
inline int64_t vid_ftell(FILE* f)
{
#ifdef _WIN32
    return _ftelli64(f);
#else
    return int64_t(ftello(f));
#endif
}

// Creates `path` for writing, failing when it exists already (so a file of the user's that
// happens to have the name is never truncated). Returns null on failure, errno set.
inline FILE* vid_fopen_new(const char* path)
{
#ifdef _WIN32
    int fd = _open(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    FILE* f = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && f == nullptr)
        _close(fd);
#else
    int fd = open(path, O_CREAT | O_EXCL | O_WRONLY, 0666);
    FILE* f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && f == nullptr)
        close(fd);
#endif
    return f;
}

// What a path names, for callers that must not block on a pipe or write over a device.
enum class VidPathKind { missing, regular, folder, pipe, device, other };

// The kind of `path` (symbolic links followed); `missing` when it cannot be examined, errno
// then says why (ENOENT for a name that does not exist).
inline VidPathKind vid_path_kind(const char* path)
{
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(path, &st) != 0)
        return VidPathKind::missing;
    if (st.st_mode & _S_IFDIR)
        return VidPathKind::folder;
    if (st.st_mode & _S_IFREG)
        return VidPathKind::regular;
    return VidPathKind::other;
#else
    struct stat st;
    if (stat(path, &st) != 0)
        return VidPathKind::missing;
    if (S_ISREG(st.st_mode))
        return VidPathKind::regular;
    if (S_ISDIR(st.st_mode))
        return VidPathKind::folder;
    if (S_ISFIFO(st.st_mode))
        return VidPathKind::pipe;
    if (S_ISCHR(st.st_mode))
        return VidPathKind::device;
    return VidPathKind::other;
#endif
}

// "a folder", "a pipe", ... for messages about a path of that kind.
inline const char* vid_path_kind_text(VidPathKind kind)
{
    switch (kind) {
    case VidPathKind::missing:
        return "missing";
    case VidPathKind::regular:
        return "a file";
    case VidPathKind::folder:
        return "a folder";
    case VidPathKind::pipe:
        return "a pipe";
    case VidPathKind::device:
        return "a device";
    default:
        return "not a regular file";
    }
}

// Opens an existing regular file for reading without ever blocking: a pipe or device is not
// opened for good (the open itself does not wait for a writer). Returns null on failure with
// errno set; `kind` tells what the path was when it is not a regular file (errno is then
// EISDIR for a folder, else EINVAL).
inline FILE* vid_fopen_regular(const char* path, VidPathKind& kind)
{
    kind = VidPathKind::regular;
#ifdef _WIN32
    kind = vid_path_kind(path);
    if (kind != VidPathKind::regular && kind != VidPathKind::missing) {
        errno = kind == VidPathKind::folder ? EISDIR : EINVAL;
        return nullptr;
    }
    kind = VidPathKind::regular;
    return fopen(path, "rb");
#else
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int why = errno;
        if (fstat(fd, &st) == 0) {
            kind = S_ISDIR(st.st_mode)    ? VidPathKind::folder
                   : S_ISFIFO(st.st_mode) ? VidPathKind::pipe
                   : S_ISCHR(st.st_mode)  ? VidPathKind::device
                                          : VidPathKind::other;
            why = kind == VidPathKind::folder ? EISDIR : EINVAL;
        }
        close(fd);
        errno = why;
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* f = fdopen(fd, "rb");
    if (f == nullptr) {
        int why = errno;
        close(fd);
        errno = why;
    }
    return f;
#endif
}

// True when two open streams are the same file (same device and file number). Systems that
// report no file numbers answer false, so callers fall back to the safe path.
inline bool vid_same_file(FILE* a, FILE* b)
{
#ifdef _WIN32
    (void)a;
    (void)b;
    return false;
#else
    struct stat sa, sb;
    return a != nullptr && b != nullptr && fstat(fileno(a), &sa) == 0 &&
           fstat(fileno(b), &sb) == 0 && sa.st_ino != 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}

// True when `path` still names the file open in `f` (same device and file number); false when
// the path names another file now (a writer's finish replaced it) or none. Systems that report
// no file numbers answer true.
inline bool vid_path_names_file(const char* path, FILE* f)
{
#ifdef _WIN32
    (void)path;
    (void)f;
    return true;
#else
    struct stat sp, sf;
    if (f == nullptr || fstat(fileno(f), &sf) != 0 || sf.st_ino == 0)
        return true;
    return stat(path, &sp) == 0 && sp.st_dev == sf.st_dev && sp.st_ino == sf.st_ino;
#endif
}

// True when two paths name the same file: the same text, or the same device and file number.
// Systems that report no file numbers (Windows gives 0) compare the text alone.
inline bool vid_same_path(const char* a, const char* b)
{
    struct stat sa, sb;
    return strcmp(a, b) == 0 || (stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_ino != 0 &&
                                 sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino);
}

// Renames `from` to `to`, replacing `to` if it exists, in one step where the file system
// allows. Returns 0 on success, -1 on failure with errno set.
inline int vid_replace_file(const char* from, const char* to)
{
#ifdef _WIN32
    // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH. The call sets no errno, which every
    // caller reads: a failure (most often a file another handle holds open) is said as EACCES.
    if (MoveFileExA(from, to, 0x1 | 0x8) != 0)
        return 0;
    errno = EACCES;
    return -1;
#else
    return rename(from, to) == 0 ? 0 : -1;
#endif
}

// True when `path` itself is a symbolic link (writers write through one, never replace it).
inline bool vid_is_symbolic_link(const char* path)
{
#ifdef _WIN32
    (void)path;
    return false;
#else
    struct stat st;
    return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
#endif
}

// Creates a folder; 0 on success, -1 with errno set on failure.
inline int vid_make_directory(const char* path)
{
#ifdef _WIN32
    return _mkdir(path);
#else
    return mkdir(path, 0777);
#endif
}

// Makes a standard stream carry bytes unchanged (Windows would translate line ends).
inline void vid_binary_stream(FILE* f)
{
#ifdef _WIN32
    _setmode(_fileno(f), _O_BINARY);
#else
    (void)f;
#endif
}

// True when the stream is a terminal (for progress bars).
inline bool vid_is_terminal(FILE* f)
{
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) == 1;
#endif
}

// Puts on the disk what was written to the file system that holds `path` (on systems without
// a per-file-system sync, every one; on Windows nothing: there each file is written through
// as it is closed). 0 on success, -1 with errno set.
inline int vid_sync_file_system(const char* path)
{
#if defined(_WIN32)
    (void)path;
    return 0;
#elif defined(__linux__)
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return -1;
    int synced = syncfs(fd);
    int why = errno;
    close(fd);
    errno = why;
    return synced;
#else
    (void)path;
    sync();
    return 0;
#endif
}

// The calendar parts of `t` in UTC; false when the system cannot give them.
inline bool vid_gmtime(time_t t, struct tm& parts)
{
#ifdef _WIN32
    return gmtime_s(&parts, &t) == 0;
#else
    return gmtime_r(&t, &parts) != nullptr;
#endif
}

// Asks the system to put what the stream holds on the disk (after fflush); 0 on success.
inline int vid_sync(FILE* f)
{
#ifdef _WIN32
    return _commit(_fileno(f));
#else
    return fsync(fileno(f));
#endif
}
