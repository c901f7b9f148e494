// Test-only stand-in for MATLAB's libmx.dll (see standin_mx.h): arrays with a class, up to
// eight dimensions and column-major element storage. Char arrays hold one byte per
// character.
#define STANDIN_BUILDING_MX
#include "standin_mx.h"

#include <cstdlib>
#include <cstring>

struct mxArray_tag {
    mxClassID cls;
    int ndim;
    int dims[8];
    size_t numel;
    size_t element_size;
    void* data;      // numel * element_size bytes, zero-filled
    mxArray** cells; // cell arrays: numel element pointers
};

#define EXPORT extern "C" MX_API

namespace {

size_t element_size_of(mxClassID cls)
{
    switch (cls) {
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS:
        return 8;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS:
        return 4;
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
        return 2;
    case mxCELL_CLASS:
        return sizeof(mxArray*);
    default:
        return 1;
    }
}

mxArray* make_array(mxClassID cls, int ndim, const int* dims)
{
    mxArray* a = static_cast<mxArray*>(calloc(1, sizeof(mxArray)));
    if (!a)
        abort();
    a->cls = cls;
    // MATLAB keeps at least two dimensions and drops trailing singleton ones beyond two.
    a->ndim = ndim < 2 ? 2 : (ndim > 8 ? 8 : ndim);
    for (int i = 0; i < a->ndim; i++)
        a->dims[i] = i < ndim ? dims[i] : 1;
    while (a->ndim > 2 && a->dims[a->ndim - 1] == 1)
        a->ndim--;
    a->numel = 1;
    for (int i = 0; i < a->ndim; i++)
        a->numel *= size_t(a->dims[i] < 0 ? 0 : a->dims[i]);
    a->element_size = element_size_of(cls);
    a->data = calloc(a->numel ? a->numel : 1, a->element_size);
    if (!a->data)
        abort();
    if (cls == mxCELL_CLASS)
        a->cells = static_cast<mxArray**>(a->data);
    return a;
}

} // namespace

EXPORT mxClassID mxGetClassID(const mxArray* pa)
{
    return pa->cls;
}
EXPORT size_t mxGetNumberOfElements(const mxArray* pa)
{
    return pa->numel;
}
EXPORT size_t mxGetM(const mxArray* pa)
{
    return size_t(pa->dims[0]);
}
EXPORT size_t mxGetN(const mxArray* pa)
{
    size_t n = 1; // MATLAB folds every dimension after the first into N
    for (int i = 1; i < pa->ndim; i++)
        n *= size_t(pa->dims[i]);
    return n;
}
EXPORT double* mxGetPr(const mxArray* pa)
{
    return pa->cls == mxDOUBLE_CLASS ? static_cast<double*>(pa->data) : nullptr;
}
EXPORT void* mxGetData(const mxArray* pa)
{
    return pa->data;
}

EXPORT double mxGetScalar(const mxArray* pa)
{
    if (pa->numel == 0)
        return 0.0;
    switch (pa->cls) {
    case mxDOUBLE_CLASS:
        return static_cast<double*>(pa->data)[0];
    case mxINT32_CLASS:
        return static_cast<int*>(pa->data)[0];
    case mxUINT8_CLASS:
    case mxCHAR_CLASS:
        return static_cast<unsigned char*>(pa->data)[0];
    default:
        return 0.0;
    }
}

EXPORT mxArray* mxGetCell_700(const mxArray* pa, int i)
{
    if (pa->cls != mxCELL_CLASS || i < 0 || size_t(i) >= pa->numel)
        return nullptr;
    return pa->cells[i];
}

// Copies at most buflen - 1 characters and a terminating zero; 1 when the text was cut.
EXPORT int mxGetString_700(const mxArray* pa, char* buf, int buflen)
{
    if (pa->cls != mxCHAR_CLASS || buflen <= 0)
        return 1;
    size_t n = pa->numel < size_t(buflen - 1) ? pa->numel : size_t(buflen - 1);
    memcpy(buf, pa->data, n);
    buf[n] = 0;
    return n < pa->numel ? 1 : 0;
}

EXPORT mxArray* mxCreateDoubleMatrix_700(int m, int n, mxComplexity)
{
    int dims[2] = {m, n};
    return make_array(mxDOUBLE_CLASS, 2, dims);
}

EXPORT mxArray* mxCreateNumericArray_700(int ndim, const int* dims, mxClassID classid, mxComplexity)
{
    return make_array(classid, ndim, dims);
}

EXPORT const int* mxGetDimensions_700(const mxArray* pa)
{
    return pa->dims;
}
EXPORT int mxGetNumberOfDimensions_700(const mxArray* pa)
{
    return pa->ndim;
}

EXPORT bool mxIsComplex(const mxArray*)
{
    return false;
} // the stand-in has real arrays only
EXPORT bool mxIsLogical(const mxArray* pa)
{
    return pa->cls == mxLOGICAL_CLASS;
}
EXPORT bool mxIsNumeric(const mxArray* pa)
{
    return pa->cls >= mxDOUBLE_CLASS && pa->cls <= mxUINT64_CLASS;
}
EXPORT bool mxIsSparse(const mxArray*)
{
    return false;
}
EXPORT void* mxMalloc(size_t n)
{
    return malloc(n ? n : 1);
}
EXPORT void* mxCalloc(size_t n, size_t size)
{
    return calloc(n ? n : 1, size ? size : 1);
}
EXPORT void mxFree(void* ptr)
{
    free(ptr);
}

EXPORT mxArray* standin_create_string(const char* text)
{
    int dims[2] = {1, int(strlen(text))};
    mxArray* a = make_array(mxCHAR_CLASS, 2, dims);
    memcpy(a->data, text, strlen(text));
    return a;
}

EXPORT mxArray* standin_create_numeric(mxClassID cls, int ndim, const int* dims)
{
    return make_array(cls, ndim, dims);
}

EXPORT mxArray* standin_create_cell(int m, int n)
{
    int dims[2] = {m, n};
    return make_array(mxCELL_CLASS, 2, dims);
}

EXPORT void standin_set_cell(mxArray* cell, int index, mxArray* element)
{
    if (cell->cls == mxCELL_CLASS && index >= 0 && size_t(index) < cell->numel)
        cell->cells[index] = element;
}

EXPORT void standin_destroy(mxArray* a)
{
    if (!a)
        return;
    if (a->cls == mxCELL_CLASS)
        for (size_t i = 0; i < a->numel; i++)
            standin_destroy(a->cells[i]);
    free(a->data);
    free(a);
}
