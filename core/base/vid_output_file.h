// An output file that is either written whole or not at all, and the one rule every file
// written under a temporary name follows: created beside its name, written, flushed, synced to
// the disk, and only then renamed into place (on failure removed, and whatever had the name
// stays as it was).
//
// A missing name or a regular file is written under a temporary name beside it, synced to
// the disk and renamed into place only when complete; on failure (or when abandoned) the
// temporary file is removed and whatever had the name stays as it was. A character device
// or a named pipe (FIFO) is written into directly, which is what `-o /dev/null` or a pipe
// to another program means; anything else (a folder, a socket, a block device) is refused.
// Not thread-safe per object.
#pragma once

#include <cstdio>
#include <string>

class VidOutputFile {
  public:
    VidOutputFile() = default;
    ~VidOutputFile() { abandon(); }
    VidOutputFile(const VidOutputFile&) = delete;
    VidOutputFile& operator=(const VidOutputFile&) = delete;

    // Opens `path` as above. False with `error` ("PATH: reason") and error_number() set.
    bool open(const std::string& path, std::string& error);
    FILE* stream() const { return stream_; }
    // True when the output is a device or pipe written directly.
    bool direct() const { return direct_; }
    // Completes the file: flush, sync and rename (a device or pipe: flush). False with `error`
    // naming the file and the reason; the temporary file is then removed.
    bool commit(std::string& error);
    // Completes the file but leaves it under its temporary name (named in `where`), for when
    // the name must not be taken after all: flush, sync. False with `error`; the temporary
    // file is then removed.
    bool keep_aside(std::string& where, std::string& error);
    // Gives the file up: a temporary file is removed, a device or pipe closed.
    void abandon();
    int error_number() const { return error_number_; }

  private:
    FILE* stream_ = nullptr;
    std::string path_, temp_;
    bool direct_ = false;
    int error_number_ = 0;
};

// A new empty file beside `path` that nothing had yet (path + ".partial<n>"), for a writer
// that opens it by name (a VidHeader). Null with error_number set when none can be made.
FILE* vid_create_beside(const std::string& path, std::string& temp, int& error_number);
// A temporary file its writer has completed and closed takes `path`: synced, then renamed.
// False with error_number set; the temporary file is then left as it is.
bool vid_commit_beside(const std::string& temp, const std::string& path, int& error_number);
