// Test-only stand-ins for MATLAB's libmx.dll and libmex.dll, so that Wine can load a Windows
// MEX module and run its mexFunction without MATLAB. They implement the calls declared in
// mexapi/mex.h with the same names and types, plus a few calls of their own (prefixed
// standin_) through which the test loader builds inputs and reads what a call printed or
// raised. Never part of a deliverable.
//
// mexErrMsgTxt records the message and ends the calling thread (ExitThread): like MATLAB's
// error, it never returns into the module. The loader therefore runs each mexFunction call
// on a thread of its own. Arrays are never freed by the stand-ins; a test process is short.
#pragma once

#ifdef STANDIN_BUILDING_MX
#define MX_API __declspec(dllexport)
#endif
#ifdef STANDIN_BUILDING_MEX
#define MEX_API __declspec(dllexport)
#endif
#include "mex.h"

#ifdef STANDIN_BUILDING_MX
#define STANDIN_MX_API __declspec(dllexport)
#else
#define STANDIN_MX_API __declspec(dllimport)
#endif
#ifdef STANDIN_BUILDING_MEX
#define STANDIN_MEX_API __declspec(dllexport)
#else
#define STANDIN_MEX_API __declspec(dllimport)
#endif

extern "C" {
// A 1 x strlen(text) char array.
STANDIN_MX_API mxArray* standin_create_string(const char* text);
// A zero-filled real numeric array of the given class (double, uint8, int32, ...) and shape.
STANDIN_MX_API mxArray* standin_create_numeric(mxClassID cls, int ndim, const int* dims);
// An m x n cell array whose elements are all null until set.
STANDIN_MX_API mxArray* standin_create_cell(int m, int n);
STANDIN_MX_API void standin_set_cell(mxArray* cell, int index, mxArray* element);
// Releases an array made by the stand-in (cell elements included).
STANDIN_MX_API void standin_destroy(mxArray* a);

// Everything mexPrintf printed since the last clear; the text of the last mexErrMsgTxt.
STANDIN_MEX_API const char* standin_printed();
STANDIN_MEX_API const char* standin_last_error();
STANDIN_MEX_API void standin_clear();
}
