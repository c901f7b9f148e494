// errbox: the single route by which the VID container reports an error text to the user.
//
// One source, two builds. The command-line build prints the message and returns, so the
// container operation that reported goes on to return its failure value. The MATLAB build
// (compiled with MATLAB_MEX_FILE defined) raises the message as a MATLAB error through
// mexErrMsgTxt, which does not return: the MEX call ends at the report. Only this unit knows
// which of the two it is. No state; callable from any thread in the command-line build.
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
