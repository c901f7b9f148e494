// The fuzz input as a file for the targets that open VID files by name: memory-backed where
// the system has /dev/shm, rewritten on every run, removed after it; and a stream that
// swallows the reader's reports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

// The input's path for this process; `target` keeps targets run side by side apart.
inline std::string fuzz_input_path(const char* target)
{
    return std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/" + target + "." +
           std::to_string(getpid()) + ".vid";
}

// Writes the input to `path`; false when it could not be written.
inline bool fuzz_write_input(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool written = size == 0 || fwrite(data, size, 1, f) == 1;
    return fclose(f) == 0 && written;
}

inline FILE* fuzz_quiet_stream()
{
    static FILE* sink = fopen("/dev/null", "w");
    return sink;
}
