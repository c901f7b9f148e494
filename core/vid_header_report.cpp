// The container's reports and failures; see vid_header_report.h.
#include "vid_header_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "errbox.h"
#include "report.h"

const char kVidReportName[] = "VidHeader";

void vid_header_clear_failure(VidHeader& v)
{
    v.error_number = 0;
    v.result = VidResult::ok;
    v.error_frame = -1;
    v.error_detail[0] = '\0';
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

void vid_header_show_report(const VidHeader& v)
{
    if (!vid_report_keep(v.errMessage))
        displayMessageBox(v.errMessage, v.error_outfile);
}
