// Where the reports of the codec, the demosaic and the fan-out go: stderr, or the calling
// thread's capture (see report.h).
#include "report.h"

#include <cstdarg>
#include <cstring>

namespace {
thread_local std::string* t_capture = nullptr;
const size_t kCaptureLimit = 64 * 1024;

void keep(const char* text)
{
    if (t_capture->size() < kCaptureLimit)
        t_capture->append(text, strnlen(text, kCaptureLimit - t_capture->size()));
}
} // namespace

bool vid_report_capturing()
{
    return t_capture != nullptr;
}

bool vid_report_keep(const char* text)
{
    if (t_capture == nullptr)
        return false;
    keep(text);
    return true;
}

std::string* vid_report_capture(std::string* sink)
{
    std::string* previous = t_capture;
    t_capture = sink;
    return previous;
}

int vid_report_printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n;
    if (t_capture == nullptr) {
        n = vfprintf(stderr, format, args);
    } else {
        char text[1024];
        n = vsnprintf(text, sizeof text, format, args);
        keep(text);
    }
    va_end(args);
    return n;
}

std::string vid_report_plain(const char* report)
{
    std::string out;
    for (const char* p = report; p != nullptr && *p; p++) {
        char c = (*p == '\r' || *p == '\n' || *p == '\t') ? ' ' : *p;
        if (c == ' ' && (out.empty() || out.back() == ' '))
            continue;
        out += c;
    }
    const std::string banner = "Framewise error ";
    for (size_t at; (at = out.find(banner)) != std::string::npos;)
        out.erase(at, banner.size());
    // Words of the form Name:123 are places in our sources, meaningless to a user.
    std::string clean;
    size_t i = 0;
    while (i < out.size()) {
        size_t space = out.find(' ', i);
        std::string word =
            out.substr(i, space == std::string::npos ? std::string::npos : space - i);
        size_t colon = word.find(':');
        bool place = colon != std::string::npos && colon > 0 && colon + 1 < word.size() &&
                     word.find_first_not_of("0123456789", colon + 1) == std::string::npos;
        if (place) { // only the container's name and source files; a path may hold "x:1"
            std::string name = word.substr(0, colon);
            auto ends = [&name](const char* tail) {
                size_t n = strlen(tail);
                return name.size() > n && name.compare(name.size() - n, n, tail) == 0;
            };
            place = name == "VidHeader" || ends(".cpp") || ends(".h") || ends(".cc");
        }
        if (!place && !word.empty())
            clean += (clean.empty() ? "" : " ") + word;
        if (space == std::string::npos)
            break;
        i = space + 1;
    }
    return clean;
}
