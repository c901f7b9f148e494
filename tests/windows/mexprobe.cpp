// Test-only MEX module that exercises the Windows MEX tool chain without the clip
// functions: the imports of both MATLAB DLLs, the single export, and the core's worker
// threads running inside a module that MATLAB (here the loader) has loaded.
//   mexprobe()           raises "mexprobe needs an input"
//   n = mexprobe(text)   prints "text=<text>\n", returns [strlen(text); workers_ok; cores]
#include "threading.h"
#include "compress_uncompress_MT.h"
#include "mex.h"

#include <cstring>

namespace {
struct Slot {
    int index;
    int result;
};

void* square_worker(void* arg)
{
    Slot* s = static_cast<Slot*>(arg);
    s->result = s->index * s->index;
    return nullptr;
}

// Starts four workers through the fan-out layer and joins them; 1 when all did their work.
double workers_round_trip()
{
    const int n = 4;
    Slot slots[n];
    THREAD_HANDLE handles[n];
    for (int i = 0; i < n; i++) {
        slots[i] = Slot{i + 1, 0};
        if (start_processing_thread(handles[i], square_worker, &slots[i]) != 0)
            handles[i] = 0;
    }
    join_processing_threads(n, handles);
    for (int i = 0; i < n; i++)
        if (slots[i].result != (i + 1) * (i + 1))
            return 0;
    return 1;
}
} // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 1)
        mexErrMsgTxt("mexprobe needs an input");
    if (mxGetClassID(prhs[0]) != mxCHAR_CLASS)
        mexErrMsgTxt("mexprobe wants text");
    char text[64];
    memset(text, 0, sizeof text);
    mxGetString(prhs[0], text, int(sizeof text));
    mexPrintf("text=%s\n", text);
    if (nlhs >= 1) {
        plhs[0] = mxCreateDoubleMatrix(3, 1, mxREAL);
        double* v = mxGetPr(plhs[0]);
        v[0] = double(strlen(text));
        v[1] = workers_round_trip();
        v[2] = get_num_processing_cores();
    }
}
