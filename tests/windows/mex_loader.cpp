// Windows MEX loader for the Wine tests: LoadLibrary, GetProcAddress("mexFunction"), and a
// thread per call so that mexErrMsgTxt (which ends the calling thread) leaves the test
// running.
#include "mex_loader.h"

#include <windows.h>

#ifndef VID_WIN_MEX_DIR
#error "VID_WIN_MEX_DIR must name the directory of the Windows MEX modules"
#endif
#ifndef VID_WIN_MEX_SUFFIX
#error "VID_WIN_MEX_SUFFIX must give the modules' file suffix"
#endif

std::string mex_module_path(const std::string& name)
{
    return std::string(VID_WIN_MEX_DIR) + "/" + name + VID_WIN_MEX_SUFFIX;
}

MexModule::MexModule(const std::string& name)
{
    std::string path = mex_module_path(name);
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) {
        load_error_ =
            "LoadLibrary failed for " + path + ", error " + std::to_string(GetLastError());
        return;
    }
    module_ = h;
    entry_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(h, "mexFunction")));
    if (!entry_)
        load_error_ = path + " exports no mexFunction";
}

MexModule::~MexModule()
{
    if (module_)
        FreeLibrary(static_cast<HMODULE>(module_));
}

namespace {
struct CallRecord {
    void (*entry)(int, mxArray**, int, const mxArray**);
    int nlhs;
    mxArray** plhs;
    int nrhs;
    const mxArray** prhs;
};

DWORD WINAPI run_mex_function(LPVOID p)
{
    CallRecord* c = static_cast<CallRecord*>(p);
    c->entry(c->nlhs, c->plhs, c->nrhs, c->prhs);
    return 0;
}
} // namespace

MexCall MexModule::call(int nlhs, const std::vector<const mxArray*>& inputs) const
{
    MexCall result;
    if (!entry_) {
        result.raised = true;
        result.error = load_error_;
        return result;
    }
    standin_clear();
    result.outputs.assign(nlhs > 0 ? nlhs : 1, nullptr);
    std::vector<const mxArray*> in(inputs);
    CallRecord record = {entry_, nlhs, result.outputs.data(), int(in.size()),
                         in.empty() ? nullptr : in.data()};
    // MATLAB gives MEX functions a large stack; 16 MiB leaves room for on-stack records.
    HANDLE t = CreateThread(nullptr, 16 << 20, run_mex_function, &record, 0, nullptr);
    if (!t) {
        result.raised = true;
        result.error = "CreateThread failed";
        return result;
    }
    WaitForSingleObject(t, INFINITE);
    DWORD code = 1;
    GetExitCodeThread(t, &code);
    CloseHandle(t);
    result.raised = code != 0;
    result.error = standin_last_error();
    result.printed = standin_printed();
    result.outputs.resize(nlhs > 0 ? nlhs : 0);
    return result;
}
