// Where the reports of the codec, the demosaic and the fan-out go: stderr, or the calling
// thread's capture (see report.h).
#include "report.h"

#include <cstdarg>

namespace {
thread_local std::string* t_capture = nullptr;
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
        t_capture->append(text);
    }
    va_end(args);
    return n;
}
