// errbox: how a front end shows the VID container's report to the user.
//
// One source, two builds. The command-line build prints the message and returns. The MATLAB
// build (compiled with MATLAB_MEX_FILE defined) raises the message as a MATLAB error through
// mexErrMsgTxt, which does not return: the MEX call ends at the report. Only this unit knows
// which of the two it is. No state; callable from any thread in the command-line build. The
// container itself never calls it: it keeps its report, and the front end shows it
// (vid_show_report, below).
#pragma once

#include <cstdio>

// Reports `message` (a NUL-terminated text, in practice a VidHeader's errMessage).
// Command-line build: with a stream, prints "\n\n Framewise error\n<message>\n" to it; with a
// null stream, behaves as displayMessageBox(message). Returns what the print returned.
// MATLAB build: ignores the stream and raises `message` as a MATLAB error; never returns.
int displayMessageBox(const char* message, FILE* stream);

// Prints "<message>\n" to the standard error stream and returns what the print returned,
// in both builds.
int displayMessageBox(const char* message);

// The same two calls for callers compiled against the forms that take `char*` (as the
// interface was first declared): they forward to the forms above, so such code links with
// the errbox object alone.
int displayMessageBox(char* message, FILE* stream);
int displayMessageBox(char* message);

// Shows what the last operation of a VidHeader (or a type with takeReports) reported: the
// codec's and the demosaic's lines on stderr as they are, then the container's report through
// displayMessageBox(errMessage, stream), so that a program prints it and a MEX function raises
// it (not returning). Shows nothing when the operation reported nothing; each report is shown
// once. True when there was a report of the container's.
template <class Vid> bool vid_show_report(Vid& v, FILE* stream)
{
    return v.takeReports([stream](const char* text, bool container) {
        if (container)
            displayMessageBox(text, stream);
        else
            fputs(text, stderr);
    });
}
