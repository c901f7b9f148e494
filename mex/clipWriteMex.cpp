// clipWriteMex: appends a uint8 M x N x P image (P >= 3: red, green, blue; further planes
// ignored) as the next frame of a file opened for writing.
//
//   clipWriteMex(h, img)
//
// The image is placed at the frame's top left corner: where it does not reach, the frame is
// white; where it overreaches, it is cropped. The writer in the handle's own storage appends
// the frame and advances current_frame inside the handle (see vid_handle.h), which is then
// sealed again; a container error ends the call with the container's text and leaves the
// handle as it was. Runs on the host's thread; the codec starts and joins its workers
// inside the write.
#include <cstddef>
#include <cstring>

#include "VidHeader.h"
#include "errbox.h"
#include "mex.h"
#include "mex_args.h"
#include "vid_handle.h"
#include "vid_image_layout.h"

namespace {

const char kUsage[] = "Usage: clipWriteMex, \nInputs: \n   < handle to video write datastructure "
                      ">\n   < [MxNx3] image frame to add to video : uint8 >\nOutputs: \n   "
                      "None.\n";

} // namespace

void mexFunction(int nlhs, mxArray* /*plhs*/[], int nrhs, const mxArray* prhs[])
{
    VID_MEX_REFUSE_IF(nrhs != 2 || nlhs != 0, "Incorrect number of inputs or outputs specified.",
                      kUsage);
    VID_MEX_REFUSE_IF(!vid_mex_is_class(prhs[1], mxUINT8_CLASS),
                      "Input image frame should be uint8 class.", kUsage);
    VID_MEX_REFUSE_IF(mxGetNumberOfDimensions(prhs[1]) != 3,
                      "Incorrect dimensions for input image frame.\n", kUsage);
    const mwSize* dims = mxGetDimensions(prhs[1]);
    VID_MEX_REFUSE_IF(dims[2] < 3,
                      "Input image frame should have at least three planes (red, green, blue).",
                      kUsage);
    VID_MEX_REFUSE_IF(mxIsComplex(prhs[1]), "Input image frame should be real.", kUsage);

    // Arguments first, then the handle.
    VidHandleControl* control = nullptr;
    VidHeader* record = vid_handle_open_record(
        prhs[0], 1,
        "Vid handle was opened for reading: clipWriteMex writes only to a handle "
        "opened for writing.\n",
        &control);
    if (record == nullptr)
        return;

    std::memset(record->pixmap, 255, size_t(record->pixmap_size));
    vid_planes_to_pixmap(static_cast<const unsigned char*>(mxGetData(prhs[1])), size_t(dims[0]),
                         size_t(dims[1]), record->pixmap, size_t(record->width),
                         size_t(record->height));
    if (!record->writeNextFrameToVideoFile()) {
        // The container's report, raised here: the codec's lines on stderr, then the message.
        if (!vid_show_report(*record, stderr))
            mexErrMsgTxt(record->errMessage);
        return;
    }
    // current_frame moved inside the handle: seal it again so that it stays recognisable,
    // and let the control block know, so that copies left behind are refused.
    control->frames_written = record->current_frame;
    vid_handle_seal(reinterpret_cast<unsigned char*>(record), control);
}
