// Outputs written whole or not at all; see vid_output_file.h.
#include "vid_output_file.h"

#include <cerrno>
#include <cstring>

#include "vid_files.h"

bool VidOutputFile::open(const std::string& path, std::string& error)
{
    abandon();
    path_ = path;
    error_number_ = 0;
    VidPathKind kind = vid_path_kind(path.c_str());
    if (kind == VidPathKind::missing && errno != ENOENT) {
        error_number_ = errno;
        error = path + ": " + strerror(errno);
        return false;
    }
    if (kind == VidPathKind::device || kind == VidPathKind::pipe) {
        // Written into as it is: a rename would replace the node with a regular file.
        stream_ = fopen(path.c_str(), "wb");
        if (stream_ == nullptr) {
            error_number_ = errno;
            error = path + ": " + strerror(errno);
            return false;
        }
        direct_ = true;
        return true;
    }
    if (kind != VidPathKind::missing && kind != VidPathKind::regular) {
        error_number_ = kind == VidPathKind::folder ? EISDIR : EINVAL;
        error = path + ": is " + vid_path_kind_text(kind) + "; the output must be a file, a " +
                "device or a named pipe";
        return false;
    }
    stream_ = vid_create_beside(path, temp_, error_number_);
    if (stream_ != nullptr)
        return true;
    error = path + ": cannot create a file there: " + strerror(error_number_);
    return false;
}

FILE* vid_create_beside(const std::string& path, std::string& temp, int& error_number)
{
    for (int attempt = 0; attempt < 1000; attempt++) {
        temp = path + ".partial" + std::to_string(attempt);
        FILE* f = vid_fopen_new(temp.c_str());
        if (f != nullptr)
            return f;
        if (errno != EEXIST)
            break;
    }
    error_number = errno != 0 ? errno : EEXIST;
    temp.clear();
    return nullptr;
}

bool vid_commit_beside(const std::string& temp, const std::string& path, int& error_number)
{
    // Write access: Windows syncs (FlushFileBuffers) only a file opened for writing.
    FILE* f = fopen(temp.c_str(), "r+b");
    bool ok = f != nullptr && vid_sync(f) == 0;
    error_number = ok ? 0 : errno;
    if (f != nullptr)
        fclose(f);
    if (ok && vid_replace_file(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error_number = errno;
    }
    return ok;
}

namespace {

// Puts what the stream holds on the disk (a device or pipe: flushed) and closes it: 0, or the
// errno of the first step that failed.
int complete_stream(FILE* f, bool direct)
{
    int why = ferror(f) ? (errno != 0 ? errno : EIO) : 0;
    if (why == 0 && fflush(f) != 0)
        why = errno;
    if (why == 0 && !direct && vid_sync(f) != 0)
        why = errno;
    if (fclose(f) != 0 && why == 0)
        why = errno;
    return why;
}

} // namespace

bool VidOutputFile::commit(std::string& error)
{
    if (stream_ == nullptr) {
        error = path_ + ": not open";
        return false;
    }
    FILE* f = stream_;
    stream_ = nullptr;
    int why = complete_stream(f, direct_);
    if (why == 0 && !direct_ && vid_replace_file(temp_.c_str(), path_.c_str()) != 0)
        why = errno != 0 ? errno : EIO;
    if (why != 0) {
        error_number_ = why;
        error = path_ + ": cannot write: " + strerror(why);
        if (!direct_)
            remove(temp_.c_str());
        temp_.clear();
        return false;
    }
    temp_.clear();
    return true;
}

bool VidOutputFile::keep_aside(std::string& where, std::string& error)
{
    if (stream_ == nullptr || direct_) {
        error = path_ + ": not a file of its own";
        abandon();
        return false;
    }
    FILE* f = stream_;
    stream_ = nullptr;
    const int why = complete_stream(f, false);
    if (why != 0) {
        error_number_ = why;
        error = temp_ + ": cannot write: " + strerror(why);
        remove(temp_.c_str());
        temp_.clear();
        return false;
    }
    where.swap(temp_);
    temp_.clear();
    return true;
}

void VidOutputFile::abandon()
{
    if (stream_ != nullptr)
        fclose(stream_);
    stream_ = nullptr;
    if (!direct_ && !temp_.empty())
        remove(temp_.c_str());
    temp_.clear();
    direct_ = false;
}
