// Declarations of the MATLAB matrix and MEX calls the MEX modules make, for building the
// Windows modules on a machine without MATLAB. The modules are compiled in MATLAB's 32-bit
// array-dimension API (MX_COMPAT_32): the sizing calls are the `_700` entries of libmx,
// which take and return 32-bit sizes, and the plain names map to them as in MATLAB's own
// headers. Types and enumerator values follow the binary interface of libmx/libmex, so a
// module built against this header links against import libraries made from
// mex/libmx.def and mex/libmex.def and loads into MATLAB.
//
// Only what the modules use is declared; a module that needs another call fails to compile,
// and the call must then be added here, to the .def file and to the test stand-ins.
#pragma once

#include <stddef.h>

#ifndef MX_COMPAT_32
#define MX_COMPAT_32
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

// 32-bit sizes and indices, as MATLAB defines them under MX_COMPAT_32.
typedef int mwSize;
typedef int mwIndex;
typedef int mwSignedIndex;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

// libmx
mxClassID mxGetClassID(const mxArray* pa);
size_t mxGetNumberOfElements(const mxArray* pa);
size_t mxGetM(const mxArray* pa);
size_t mxGetN(const mxArray* pa);
double* mxGetPr(const mxArray* pa);
void* mxGetData(const mxArray* pa);
double mxGetScalar(const mxArray* pa);
mxArray* mxGetCell_700(const mxArray* pa, int i);
int mxGetString_700(const mxArray* pa, char* buf, int buflen);
mxArray* mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
mxArray* mxCreateNumericArray_700(int ndim, const int* dims, mxClassID classid,
                                  mxComplexity flag);
const int* mxGetDimensions_700(const mxArray* pa);
int mxGetNumberOfDimensions_700(const mxArray* pa);

#define mxGetCell mxGetCell_700
#define mxGetString mxGetString_700
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateNumericArray mxCreateNumericArray_700
#define mxGetDimensions mxGetDimensions_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700

// libmex. mexErrMsgTxt raises a MATLAB error and never returns to its caller.
#if defined(__GNUC__)
#define VID_MEX_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#define VID_MEX_NORETURN __attribute__((noreturn))
#else
#define VID_MEX_PRINTF_LIKE
#define VID_MEX_NORETURN __declspec(noreturn)
#endif
int mexPrintf(const char* fmt, ...) VID_MEX_PRINTF_LIKE;
VID_MEX_NORETURN void mexErrMsgTxt(const char* msg);

// The entry every module exports (and the only one).
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif
