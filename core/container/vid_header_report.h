// The container's reports and failures, shared by VidHeader's sources (not installed): every
// report is formatted into errMessage as "VidHeader:<line> <text>" and kept for the front end
// (report_pending), with the failure's data (kind, errno, frame, detail) beside it for
// lastError().
#pragma once

#include "VidHeader.h"

#include <string>

// The failure cleared: what an operation starts from.
void vid_header_clear_failure(VidHeader& v);
// Keeps a failure's kind, frame and plain-words detail beside its report in errMessage.
__attribute__((format(printf, 5, 6))) void vid_header_format_report(VidHeader& v, VidResult result,
                                                                    int frame, const char* detail,
                                                                    const char* format, ...);
// Marks errMessage as the operation's report, for the front end to show (takeReports).
void vid_header_show_report(VidHeader& v);
// Keeps what a unit below the container reported (the codec, the demosaic) in prior_reports.
void vid_header_keep_prior(VidHeader& v, const std::string& report);

// Reports of the container are prefixed "VidHeader:<line> " (the class, not the file: the
// prefix is part of what MATLAB users have always seen).
extern const char kVidReportName[];

// Formats a report "VidHeader:<line> ..." into obj.errMessage without showing it, and keeps
// the failure's kind (VidResult), its 0-based frame (-1: none) and its detail in plain words
// (null: none) for lastError().
#define VID_FORMAT(obj, result, frame, detail, format, ...)                                        \
    vid_header_format_report(obj, result, frame, detail, "%s:%d " format, kVidReportName,          \
                             __LINE__, __VA_ARGS__)
// Formats a report and marks it for the front end.
#define VID_REPORT(obj, result, frame, detail, format, ...)                                        \
    do {                                                                                           \
        VID_FORMAT(obj, result, frame, detail, format, __VA_ARGS__);                               \
        vid_header_show_report(obj);                                                               \
    } while (0)

// Finishes a writer whose table grew, or a recording whose unused table would be large, with a
// table of exactly its frames (vid_header_files.cpp). Formats a report and returns
// false on failure; shows nothing.
bool vid_header_rewrite_exact_table(VidHeader& v);
