// 64-bit file positioning, and creating and replacing files, on every platform. On Windows `long`
// and mingw's `off_t` are 32 bits wide, so plain fseek/fseeko would silently wrap offsets beyond 2
// or 4 GiB.
#pragma once

#include <cstdint>
#include <cstdio>

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

// Renames `from` to `to`, replacing `to` if it exists, in one step where the file system
// allows. Returns 0 on success, -1 on failure.
inline int vid_replace_file(const char* from, const char* to)
{
#ifdef _WIN32
    // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
    return MoveFileExA(from, to, 0x1 | 0x8) != 0 ? 0 : -1;
#else
    return rename(from, to) == 0 ? 0 : -1;
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

// Asks the system to put what the stream holds on the disk (after fflush); 0 on success.
inline int vid_sync(FILE* f)
{
#ifdef _WIN32
    return _commit(_fileno(f));
#else
    return fsync(fileno(f));
#endif
}
