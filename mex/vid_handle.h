// The Vid handle as a MATLAB value: the checks of vid_handle_seal.h on an mxArray, and the
// errors that refuse a handle.
#pragma once

#include "mex.h"
#include "vid_handle_seal.h"

// Checks a MATLAB value as a Vid handle (vid_handle_check_storage on a real, dense double
// column of the handle's length).
inline VidHandleStatus vid_handle_check(const mxArray* a, VidHeader** record,
                                        VidHandleControl** control)
{
    if (mxGetClassID(a) != mxDOUBLE_CLASS || mxGetNumberOfElements(a) == 0)
        return VidHandleStatus::not_array;
    if (mxIsComplex(a) || mxIsSparse(a) || mxGetM(a) != kVidHandleRows || mxGetN(a) != 1)
        return VidHandleStatus::foreign;
    return vid_handle_check_storage(reinterpret_cast<unsigned char*>(mxGetPr(a)), record, control);
}

// Raises the error for a handle that did not pass (vid_handle_refusal). Does not return.
inline void vid_handle_refuse(VidHandleStatus status, const char* not_array_message)
{
    mexErrMsgTxt(vid_handle_refusal(status, not_array_message));
}

// The live record of a handle that was opened for reading (mode 0) or writing (mode 1), with
// its control block in *control. Raises the handle's error, or wrong_mode_message for a live
// handle of the other mode, and then does not return.
inline VidHeader* vid_handle_open_record(const mxArray* a, int mode, const char* wrong_mode_message,
                                         VidHandleControl** control)
{
    VidHeader* record = nullptr;
    VidHandleStatus status = vid_handle_check(a, &record, control);
    if (status != VidHandleStatus::live) {
        vid_handle_refuse(status, "Invalid Vid handle\n");
        return nullptr;
    }
    if (record->file_open_read_or_write != mode) {
        mexErrMsgTxt(wrong_mode_message);
        return nullptr;
    }
    if (mode == 1 && int64_t(record->current_frame) != (*control)->frames_written) {
        char text[300];
        snprintf(text, sizeof text,
                 "Invalid Vid handle: a stale copy of a writer handle (it has written %d frames, "
                 "the file has %lld). Write through the variable that wrote last.\n",
                 record->current_frame, (long long)(*control)->frames_written);
        mexErrMsgTxt(text);
        return nullptr;
    }
    return record;
}
