// Loads a Windows MEX module the way MATLAB does (LoadLibrary, then its exported
// mexFunction) and runs calls on it against the stand-in libmx/libmex. Test-only.
#pragma once

#include "standin_mx.h"

#include <string>
#include <vector>

// Full path of module <name> in the build's MEX directory, with the build's suffix.
std::string mex_module_path(const std::string& name);

struct MexCall {
    bool raised = false;           // the module called mexErrMsgTxt
    std::string error;             // its text
    std::string printed;           // everything it printed through mexPrintf
    std::vector<mxArray*> outputs; // nlhs slots; null where the module set nothing
};

class MexModule {
  public:
    explicit MexModule(const std::string& name);
    ~MexModule();
    MexModule(const MexModule&) = delete;
    MexModule& operator=(const MexModule&) = delete;

    bool loaded() const { return entry_ != nullptr; }
    const std::string& load_error() const { return load_error_; }

    // Runs mexFunction(nlhs, outputs, inputs.size(), inputs) on a thread of its own, since
    // an error raised by the module ends that thread.
    MexCall call(int nlhs, const std::vector<const mxArray*>& inputs) const;

  private:
    typedef void (*Entry)(int, mxArray**, int, const mxArray**);
    void* module_ = nullptr;
    Entry entry_ = nullptr;
    std::string load_error_;
};
