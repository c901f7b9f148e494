// How the core says what went wrong below the container: each failing unit appends a report,
// "<file>:<line> <text>", to a string its caller hands it, and returns its failure value. The
// core never prints; the caller decides (the container keeps the text for the front end that
// shows it, the published codec and demosaic entries print it, a binding drops it).
//
//   VID_FAIL_IF(n < 1 || n > 8, VID_CODEC_DATA_ERROR, report,
//               "Invalid block count %u in a blocked-compress buffer.\n", n);
#pragma once

#include <string>

// The file name of a source path, without its folders (both separators, for Windows builds).
constexpr const char* vid_base_name(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; p++)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return name;
}

// The name of the source file being compiled, as reports show it.
#define VID_SOURCE_NAME (vid_base_name(__FILE__))

// Appends the formatted text to *report; nothing when report is null. A report is kept to its
// first 64 KiB.
__attribute__((format(printf, 2, 3))) void vid_report_add(std::string* report, const char* format,
                                                          ...);

// Appends "<source>:<line> " and the formatted text to *report.
#define VID_REPORT_TO(report, format, ...)                                                         \
    vid_report_add(report, "%s:%d " format, VID_SOURCE_NAME, __LINE__, ##__VA_ARGS__)

// When cond holds: reports as VID_REPORT_TO and returns `result`.
#define VID_FAIL_IF(cond, result, report, format, ...)                                             \
    do {                                                                                           \
        if (cond) {                                                                                \
            VID_REPORT_TO(report, format, ##__VA_ARGS__);                                          \
            return result;                                                                         \
        }                                                                                          \
    } while (0)
