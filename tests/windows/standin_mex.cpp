// Test-only stand-in for MATLAB's libmex.dll (see standin_mx.h). mexPrintf appends to a
// transcript; mexErrMsgTxt records its text and ends the calling thread, so that, as in
// MATLAB, control never comes back into the module after an error.
#define STANDIN_BUILDING_MEX
#include "standin_mx.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#define EXPORT extern "C" MEX_API

namespace {
std::string printed;
std::string last_error;
void (*at_exit)(void) = nullptr;
} // namespace

EXPORT int mexPrintf(const char* fmt, ...)
{
    char text[8192];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    printed += text;
    return n;
}

EXPORT void mexErrMsgTxt(const char* msg)
{
    last_error = msg;
    ExitThread(1);
}

// The loader never clears a module while the process runs, so the hook is only kept.
EXPORT int mexAtExit(void (*exit_fcn)(void))
{
    at_exit = exit_fcn;
    return 0;
}

EXPORT const char* standin_printed()
{
    return printed.c_str();
}
EXPORT const char* standin_last_error()
{
    return last_error.c_str();
}
EXPORT void standin_clear()
{
    printed.clear();
    last_error.clear();
}
