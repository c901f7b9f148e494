// clipReadMex: returns frame f of a file opened for reading as a height x width x 3 double
// image (values 0 to 255, planes red, green, blue).
//
//   img = clipReadMex(h, f)
//
// The frame number is taken as the host takes a scalar (the first element of a non-empty
// numeric, logical or char array) and rounded (add 0.5, truncate toward zero); a number outside
// [0, num_frames] prints a notice and returns []. The frame is read by the record in the
// handle's own storage (see vid_handle_seal.h); a container error ends the call with the
// container's text, and the result array, from the host's allocator, is reclaimed with it.
// Runs on the host's thread; the codec and demosaic start and join their workers inside the
// read.
#include <cstddef>

#include "VidHeader.h"
#include "errbox.h"
#include "mex.h"
#include "mex_args.h"
#include "vid_frame_planes.h"
#include "vid_handle.h"

namespace {

const char kUsage[] = "Usage: clipReadMex, \nInputs: \n   < handle to video read datastructure "
                      ">\n   < video frame number range [0, num_frames-1] : double >\nOutputs: \n "
                      "  < [MxNx3] image frame from video : double >\n";

} // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    VID_MEX_REFUSE_IF(nrhs != 2 || nlhs != 1, "Incorrect number of inputs or outputs specified.",
                      kUsage);
    // The host's scalar rule: the first element of the array, a char's code.
    VID_MEX_REFUSE_IF(!vid_mex_has_scalar_value(prhs[1]),
                      "Frame number should be a real numeric scalar.", kUsage);

    // Arguments first, then the handle.
    VidHandleControl* control = nullptr;
    VidHeader* record = vid_handle_open_record(
        prhs[0], 0,
        "Vid handle was opened for writing: clipReadMex reads only from a handle "
        "opened for reading.\n",
        &control);
    if (record == nullptr)
        return;

    int frame = -1;
    bool representable = vid_mex_round_to_int(mxGetScalar(prhs[1]), &frame);
    // num_frames itself passes here and is refused by the container with its own message.
    if (!representable || frame < 0 || frame > record->num_frames) {
        mexPrintf("clipReadMex: input frame number should be in [0, #frames] \n");
        plhs[0] = mxCreateDoubleMatrix(0, 0, mxREAL);
        return;
    }

    const mwSize dims[3] = {mwSize(record->height), mwSize(record->width), 3};
    mxArray* image = mxCreateNumericArray(3, dims, mxDOUBLE_CLASS, mxREAL);
    if (image == nullptr) {
        mexErrMsgTxt("Out of memory for the image.\n");
        return;
    }
    // RGB rows go into column order on the codec's workers while other blocks expand.
    if (!vid_read_frame_planes(record, frame, mxGetPr(image))) {
        // The container's report, raised here: the codec's lines on stderr, then the message.
        if (!vid_show_report(*record, stderr))
            mexErrMsgTxt(record->errMessage);
        return;
    }
    plhs[0] = image;
}
