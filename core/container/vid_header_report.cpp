// The container's reports and failures; see vid_header_report.h.
#include "vid_header_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const char kVidReportName[] = "VidHeader";

void vid_header_clear_failure(VidHeader& v)
{
    v.error_number = 0;
    v.result = VidResult::ok;
    v.error_frame = -1;
    v.error_detail[0] = '\0';
    v.report_pending = 0;
    v.prior_reports[0] = '\0';
}

void vid_header_format_report(VidHeader& v, VidResult result, int frame, const char* detail,
                              const char* format, ...)
{
    v.result = result;
    v.error_frame = frame;
    snprintf(v.error_detail, sizeof v.error_detail, "%s", detail != nullptr ? detail : "");
    va_list args;
    va_start(args, format);
    vsnprintf(v.errMessage, sizeof v.errMessage, format, args);
    va_end(args);
}

void vid_header_show_report(VidHeader& v)
{
    v.report_pending = 1;
}

void vid_header_keep_prior(VidHeader& v, const std::string& report)
{
    const size_t used = strnlen(v.prior_reports, sizeof v.prior_reports);
    snprintf(v.prior_reports + used, sizeof v.prior_reports - used, "%s", report.c_str());
}
