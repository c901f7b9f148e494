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
