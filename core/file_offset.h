// 64-bit file positioning on every platform. On Windows `long` and mingw's `off_t` are
// 32 bits wide, so plain fseek/fseeko would silently wrap offsets beyond 2 or 4 GiB.
#pragma once

#include <cstdint>
#include <cstdio>

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
