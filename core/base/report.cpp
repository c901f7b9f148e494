// Reports appended to a caller's string (report.h).
#include "report.h"

#include <cstdarg>
#include <cstdio>

namespace {
const size_t kReportLimit = 64 * 1024;
} // namespace

void vid_report_add(std::string* report, const char* format, ...)
{
    if (report == nullptr || report->size() >= kReportLimit)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0)
        report->append(text, size_t(n) < sizeof text ? size_t(n) : sizeof text - 1);
}
