// clipOpenMex: opens a VID file for reading or creates one for writing, and returns the Vid
// handle that carries the open VidHeader to clipReadMex, clipWriteMex and clipCloseMex.
//
//   [h, dims] = clipOpenMex(name)                      reader; dims = [width; height; frames]
//   h = clipOpenMex(name, int32([width height frames])) writer
//
// The record is constructed directly in the handle's storage (a zero-filled double column of
// floor(B / 8) + 1 rows), so nothing else needs giving back; its destructor does not run
// here: from now on the handle owns the stream and buffers, until clipCloseMex. See
// vid_handle_seal.h for the seal that lets the later calls recognise a live handle.
//
// A container error while opening is raised by the container itself, after it has closed
// and freed what it had opened; the name string and the output arrays come from the host's
// allocator, which reclaims them when the error ends the call. Runs on the host's thread.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "VidHeader.h"
#include "mex.h"
#include "mex_args.h"
#include "vid_handle.h"

namespace {

const char kUsage[] =
    "Usage: clipOpenMex, \nInputs (Open for reading): \n   < input video file name : string >\n"
    "Inputs (Open for writing): \n   < output video file name : string >\n   < [3x1] -> "
    "[output video frame width, height, num video frames] : int32 >\nOutputs: \n   < handle "
    "to video read/write datastructure >\n(Additional outputs when open for reading)\t\n   < "
    "[3x1] -> [input video frame width, height, num video frames] : double >\n\n";

} // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Without inputs the call is a read by its form: fewer than two outputs break the
    // read-mode rule first.
    VID_MEX_REFUSE_IF(nrhs == 0 && nlhs < 2,
                      "Incorrect number of outputs specified for opening video file in 'read' "
                      "mode.",
                      kUsage);
    VID_MEX_REFUSE_IF(nrhs < 1, "No video file name given: clipOpenMex needs one or two inputs.",
                      kUsage);
    VID_MEX_REFUSE_IF(nrhs == 1 && nlhs != 2,
                      "Incorrect number of outputs specified for opening video file in 'read' "
                      "mode.",
                      kUsage);
    VID_MEX_REFUSE_IF(nrhs > 2,
                      "Incorrect number of inputs specified for opening video file in 'write' "
                      "mode.",
                      kUsage);
    VID_MEX_REFUSE_IF(nrhs == 2 && nlhs != 1,
                      "Incorrect number of outputs specified for opening video file in 'write' "
                      "mode.",
                      kUsage);
    VID_MEX_REFUSE_IF(!vid_mex_is_class(prhs[0], mxCHAR_CLASS), "First input should be a string.",
                      kUsage);
    const bool writing = nrhs == 2;
    int32_t geometry[3] = {0, 0, 0};
    if (writing) {
        VID_MEX_REFUSE_IF(!vid_mex_is_class(prhs[1], mxINT32_CLASS),
                          "Input argument should be uint32 class.", kUsage);
        VID_MEX_REFUSE_IF(mxGetNumberOfElements(prhs[1]) < 3,
                          "Frame geometry should hold three int32 values: width, height and "
                          "number of frames.",
                          kUsage);
        std::memcpy(geometry, mxGetData(prhs[1]), sizeof geometry);
    }

    // The name gets room for 2 x N + 1 characters, N being the array's number of columns: a
    // char array of several rows is cut there.
    const size_t name_room = 2 * size_t(mxGetN(prhs[0])) + 1;
    char* name = vid_mex_string_copy(prhs[0], name_room);
    if (name == nullptr) {
        mexErrMsgTxt("Out of memory for the video file name.\n");
        return;
    }
    if (vid_mex_name_has_nul(prhs[0], name, name_room - 1)) {
        mxFree(name);
        mexErrMsgTxt("The video file name holds a NUL character: it would name another file.\n");
        return;
    }
    // The outputs exist before the file is opened, so that nothing can fail between a
    // successful opening and the handle taking ownership.
    mxArray* handle = mxCreateDoubleMatrix(mwSize(kVidHandleRows), 1, mxREAL);
    mxArray* dims = writing ? nullptr : mxCreateDoubleMatrix(3, 1, mxREAL);
    if (handle == nullptr || (!writing && dims == nullptr)) {
        mexErrMsgTxt("Out of memory for the Vid handle.\n");
        return;
    }
    unsigned char* storage = reinterpret_cast<unsigned char*>(mxGetPr(handle));

    VidHeader* record = writing ? new (storage)
                                      VidHeader(name, stderr, geometry[0], geometry[1], geometry[2])
                                : new (storage) VidHeader(name, stderr);
    mxFree(name);
    if (!record->isOpen()) {
        // The container's report, raised once the record is released (it then holds at most
        // what its destructor releases): the codec's lines on stderr, then the message.
        static char message[sizeof record->errMessage];
        snprintf(message, sizeof message, "%s",
                 record->errMessage[0] ? record->errMessage : "Error opening video file.\n");
        if (record->prior_reports[0] != '\0')
            fputs(record->prior_reports, stderr);
        record->~VidHeader();
        mexErrMsgTxt(message); // the host frees the outputs made above

        return;
    }
    // A handle's bytes never change with a read (its seal covers them): a reader's frame
    // buffers are made now.
    if (!writing && record->num_frames > 0 && !record->frameBuffers(false)) {
        record->~VidHeader();
        mexErrMsgTxt("Unable to allocate the frame buffers for video file.\n");
        return;
    }
    VidHandleControl* control = vid_handle_new_control();
    if (control == nullptr) {
        record->~VidHeader();
        mexErrMsgTxt("Out of memory for the Vid handle.\n");
        return;
    }
    vid_handle_seal(storage, control);

    plhs[0] = handle;
    if (!writing) {
        double* d = mxGetPr(dims);
        d[0] = double(record->width);
        d[1] = double(record->height);
        d[2] = double(record->num_frames);
        plhs[1] = dims;
    }
}
