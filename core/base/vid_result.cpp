// Failures as data; see vid_result.h.
#include "vid_result.h"

#include <cerrno>
#include <cstring>

VidError vid_error(VidResult result, const std::string& file, const std::string& detail,
                   int error_number, int frame)
{
    VidError e;
    e.result = result;
    e.file = file;
    e.detail = detail;
    e.error_number = error_number;
    e.frame = frame;
    return e;
}

const char* vid_result_words(VidResult result)
{
    switch (result) {
    case VidResult::ok:
        return "no error";
    case VidResult::not_found:
        return "no such file";
    case VidResult::not_permitted:
        return "access refused";
    case VidResult::not_regular:
        return "not a regular file";
    case VidResult::not_vid_file:
        return "not a VID file";
    case VidResult::damaged_record:
        return "damaged record";
    case VidResult::frame_out_of_range:
        return "no such frame";
    case VidResult::read_failed:
        return "cannot read";
    case VidResult::write_failed:
        return "cannot write";
    case VidResult::out_of_memory:
        return "out of memory";
    case VidResult::bad_argument:
        return "refused argument";
    case VidResult::not_open:
        return "not open";
    }
    return "unknown failure";
}

VidResult vid_result_of_errno(int error_number, VidResult otherwise)
{
    switch (error_number) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
        return VidResult::not_found;
    case EACCES:
    case EPERM:
    case EROFS:
        return VidResult::not_permitted;
    case EISDIR:
        return VidResult::not_regular;
    case ENOMEM:
        return VidResult::out_of_memory;
    default:
        return otherwise;
    }
}

std::string vid_error_message(const VidError& error, int frame_base)
{
    std::string text = error.file.empty() ? std::string() : error.file + ": ";
    if (error.frame >= 0)
        text += "frame " + std::to_string(int64_t(error.frame) + frame_base) + ": ";
    const std::string system = error.error_number != 0 ? strerror(error.error_number) : "";
    // Where the system's reason says it all ("No such file or directory"), it stands alone.
    const bool system_says_it =
        error.detail.empty() && !system.empty() &&
        (error.result == VidResult::not_found || error.result == VidResult::not_permitted ||
         error.result == VidResult::not_regular);
    if (system_says_it)
        return text + system;
    text += vid_result_words(error.result);
    if (!error.detail.empty())
        text += " (" + error.detail + ")";
    if (!system.empty() && text.find(system) == std::string::npos)
        text += ": " + system;
    return text;
}
