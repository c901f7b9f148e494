// clipCloseMex: finishes a writer's file (header with the count of frames written, offsets
// table) or closes a reader, and releases the stream and buffers the handle holds.
//
//   clipCloseMex(h)
//
// The destructor runs on a copy of the record in memory from the host's allocator, so the
// handle array itself is not changed and the copy is reclaimed even when finishing the file
// raises an error. The handle's control block is marked closed before the destructor runs:
// the destructor releases everything before it reports a failure to finish, so whatever
// happens, every copy of this handle is refused from now on (see vid_handle_seal.h). The
// destructor's report reaches the host as an error, with the container's text. Further
// inputs and the number of outputs are not looked at. Runs on the host's thread.
#include <cstdio>
#include <cstring>

#include "VidHeader.h"
#include "mex.h"
#include "vid_handle.h"

void mexFunction(int /*nlhs*/, mxArray* /*plhs*/[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 1) {
        mexErrMsgTxt("No Vid handle given: clipCloseMex needs the handle from clipOpenMex.\n");
        return;
    }
    VidHeader* record = nullptr;
    VidHandleControl* control = nullptr;
    VidHandleStatus status = vid_handle_check(prhs[0], &record, &control);
    if (status != VidHandleStatus::live) {
        vid_handle_refuse(status, "Invalid zoVid handle\n");
        return;
    }

    void* copy = mxMalloc(sizeof(VidHeader));
    if (copy == nullptr) {
        mexErrMsgTxt("Out of memory for closing the Vid handle.\n");
        return;
    }
    std::memcpy(copy, static_cast<const void*>(record), sizeof(VidHeader));
    // A writer is finished with the count of frames written through any copy of the handle:
    // a copy that fell behind still finishes the file whole (the table in memory is shared).
    VidHeader* closing = static_cast<VidHeader*>(copy);
    if (closing->file_open_read_or_write == 1)
        closing->current_frame = int(control->frames_written);
    control->state = kVidControlClosed;
    // A writer that cannot be finished keeps what it had (every frame in its table readable);
    // its report is raised once everything is released.
    const bool finished = closing->finish();
    static char message[sizeof closing->errMessage];
    snprintf(message, sizeof message, "%s", closing->errMessage);
    if (!finished && closing->prior_reports[0] != '\0')
        fputs(closing->prior_reports, stderr);
    closing->~VidHeader();
    mxFree(copy);
    if (!finished)
        mexErrMsgTxt(message);
}
