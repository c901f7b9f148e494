// Argument handling shared by the MEX functions: the four-step argument-error report, class
// tests, the conversion of MATLAB numbers that stand for integers, and the copy of a char
// array into a byte string. Header-only and stateless: every MEX function is a module of its
// own and shares nothing with the others at run time.
//
// Every MEX source follows the same order: argument counts, then each argument's class,
// element count and range, then conversion to plain values, and only then handles, files and
// allocations. Argument errors therefore never leave anything open behind them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>

#include "mex.h"

// Reports an argument error in four steps: prints the message and a line feed, the usage
// text, a blank line, and raises the message as an error in the host. The raise does not
// return; callers still write `return` after it (see VID_MEX_REFUSE_IF) because the host's
// declaration does not say so.
inline void vid_mex_argument_error(const char* message, const char* usage)
{
    mexPrintf("%s\n", message);
    mexPrintf("%s", usage);
    mexPrintf("\n");
    mexErrMsgTxt(message);
}

// One line per refusal inside mexFunction: on cond, report message with usage and return.
#define VID_MEX_REFUSE_IF(cond, message, usage)                                                    \
    do {                                                                                           \
        if (cond) {                                                                                \
            vid_mex_argument_error(message, usage);                                                \
            return;                                                                                \
        }                                                                                          \
    } while (0)

inline bool vid_mex_is_class(const mxArray* a, mxClassID id)
{
    return mxGetClassID(a) == id;
}

// True for a real, non-sparse numeric or logical array of exactly one element: a value that
// mxGetScalar converts on every host. (Octave raises its own error for mxGetScalar of an
// empty or cell array, so such inputs are refused before it is called.)
inline bool vid_mex_is_real_scalar(const mxArray* a)
{
    return (mxIsNumeric(a) || mxIsLogical(a)) && !mxIsComplex(a) && !mxIsSparse(a) &&
           mxGetNumberOfElements(a) == 1;
}

// True for a value from which the host's scalar rule (mxGetScalar) takes a number: a
// non-empty, non-sparse numeric, logical or char array. The number is the real part of its
// first element (a char's code). Empty arrays, sparse ones and classes the host cannot
// convert (cell, struct, function handle) are refused before mxGetScalar is called.
inline bool vid_mex_has_scalar_value(const mxArray* a)
{
    return (mxIsNumeric(a) || mxIsLogical(a) || mxGetClassID(a) == mxCHAR_CLASS) &&
           !mxIsSparse(a) && mxGetNumberOfElements(a) >= 1;
}

// Converts a MATLAB number that stands for an integer: add 0.5 and truncate toward zero
// (2.5 -> 3, -0.4 -> 0, -1.2 -> 0, -1.5 -> -1). Returns false, leaving *out alone, when the
// value is not finite or the result does not fit an int.
inline bool vid_mex_round_to_int(double value, int* out)
{
    double t = std::trunc(value + 0.5);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) // also false for NaN
        return false;
    *out = int(t);
    return true;
}

// Copies the char array a into a new NUL-terminated byte string holding at most
// buffer_length - 1 characters, as MATLAB's mxGetString does with a buffer of that length
// (characters in column order; a longer array is cut). Octave's mxGetString copies nothing
// at all into a buffer that is too short, so the whole array is copied first and cut after,
// which makes both hosts agree. The string comes from the host's allocator (mxCalloc): free
// it with mxFree; an error raised before that reclaims it as well. buffer_length must be at
// least 1. Returns null when a is not a char array or memory runs out.
inline char* vid_mex_string_copy(const mxArray* a, size_t buffer_length)
{
    if (!vid_mex_is_class(a, mxCHAR_CLASS) || buffer_length == 0)
        return nullptr;
    size_t chars = mxGetNumberOfElements(a);
    size_t room = chars + 1 > buffer_length ? chars + 1 : buffer_length;
    char* s = static_cast<char*>(mxCalloc(room, 1));
    if (s == nullptr)
        return nullptr;
    mxGetString(a, s, static_cast<mwSize>(chars + 1));
    s[buffer_length - 1] = '\0';
    return s;
}

// True when a name copied from the char array a (at most `limit` bytes of it, as above)
// holds a NUL before its end: the C library would stop there and reach another file (a name
// 'victim\0.vid' would open 'victim'). Such names are refused, as Python's open() does.
inline bool vid_mex_name_has_nul(const mxArray* a, const char* copy, size_t limit)
{
    size_t chars = mxGetNumberOfElements(a);
    size_t wanted = chars < limit ? chars : limit;
    return strnlen(copy, wanted) < wanted;
}
