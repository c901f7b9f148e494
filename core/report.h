// One way to report and refuse in the core and the programs: the "<file>:<line> " prefix
// every report starts with, and one-line refusals that check, report on stderr and return.
//
//   VID_RETURN_IF(n < 1 || n > 8, VID_CODEC_DATA_ERROR,
//                 "Invalid block count %u in a blocked-compress buffer.\n", n);
//
// The container reports through displayMessageBox instead (it may run inside MATLAB); its
// own refusal macros in VidHeader.cpp use vid_report_prefix with the name "VidHeader".
#pragma once

#include <cstdio>
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

// Prints like fprintf(stderr, ...), or, while the calling thread has a capture set, appends
// the text to it instead (bindings that must not print, such as the Python module).
__attribute__((format(printf, 1, 2))) int vid_report_printf(const char* format, ...);
// Sends the calling thread's reports to `sink` (null: back to stderr). Returns the previous.
// A capture keeps at most its first 64 KiB.
std::string* vid_report_capture(std::string* sink);
// True while the calling thread captures its reports.
bool vid_report_capturing();
// While the calling thread captures, appends `text` to the capture and returns true; else
// returns false (the caller then shows the text its own way).
bool vid_report_keep(const char* text);

// Captures the calling thread's reports for its lifetime and drops them: for a program or
// binding that reads each failure as data (VidHeader::lastError) and words it itself.
class VidReportsQuiet {
  public:
    VidReportsQuiet() : previous_(vid_report_capture(&text_)) {}
    ~VidReportsQuiet() { vid_report_capture(previous_); }
    VidReportsQuiet(const VidReportsQuiet&) = delete;
    VidReportsQuiet& operator=(const VidReportsQuiet&) = delete;

  private:
    std::string text_;
    std::string* previous_;
};

// Prints "<source>:<line> " and the formatted text on stderr (or the thread's capture).
#define VID_REPORT_STDERR(format, ...)                                                             \
    vid_report_printf("%s:%d " format, VID_SOURCE_NAME, __LINE__, ##__VA_ARGS__)

// When cond holds: reports as VID_REPORT_STDERR and returns `result` (omit it in a function
// returning void by passing nothing: VID_RETURN_IF(cond, , "text\n")).
#define VID_RETURN_IF(cond, result, format, ...)                                                   \
    do {                                                                                           \
        if (cond) {                                                                                \
            VID_REPORT_STDERR(format, ##__VA_ARGS__);                                              \
            return result;                                                                         \
        }                                                                                          \
    } while (0)
