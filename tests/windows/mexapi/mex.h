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
#ifndef __cplusplus
#include <stdbool.h>
#endif

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

// Imported from MATLAB's DLLs. Declaring them dllimport makes the address of an API function
// the same in every module (the DLL's own entry, not a per-module import thunk). The test
// stand-ins define MX_API / MEX_API as dllexport before including this header.
#ifndef MX_API
#define MX_API __declspec(dllimport)
#endif
#ifndef MEX_API
#define MEX_API __declspec(dllimport)
#endif

// libmx
MX_API mxClassID mxGetClassID(const mxArray* pa);
MX_API size_t mxGetNumberOfElements(const mxArray* pa);
MX_API size_t mxGetM(const mxArray* pa);
MX_API size_t mxGetN(const mxArray* pa);
MX_API double* mxGetPr(const mxArray* pa);
MX_API void* mxGetData(const mxArray* pa);
MX_API double mxGetScalar(const mxArray* pa);
MX_API mxArray* mxGetCell_700(const mxArray* pa, int i);
MX_API int mxGetString_700(const mxArray* pa, char* buf, int buflen);
MX_API mxArray* mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
MX_API mxArray* mxCreateNumericArray_700(int ndim, const int* dims, mxClassID classid,
                                         mxComplexity flag);
MX_API const int* mxGetDimensions_700(const mxArray* pa);
MX_API int mxGetNumberOfDimensions_700(const mxArray* pa);
MX_API bool mxIsComplex(const mxArray* pa);
MX_API bool mxIsLogical(const mxArray* pa);
MX_API bool mxIsNumeric(const mxArray* pa);
MX_API bool mxIsSparse(const mxArray* pa);
// The host's allocator: memory that MATLAB reclaims when an error ends the call.
MX_API void* mxMalloc(size_t n);
MX_API void* mxCalloc(size_t n, size_t size);
MX_API void mxFree(void* ptr);

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
MEX_API int mexPrintf(const char* fmt, ...) VID_MEX_PRINTF_LIKE;
MEX_API VID_MEX_NORETURN void mexErrMsgTxt(const char* msg);
// Registers a function MATLAB calls when it clears the module; 0 on success.
MEX_API int mexAtExit(void (*exit_fcn)(void));

// The entry every module exports (and the only one).
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif
