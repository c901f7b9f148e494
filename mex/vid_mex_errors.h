// The MATLAB message identifiers of the VidReader and VidWriter classes, one per kind of
// failure of the core (VidResult).
#pragma once

#include "vid_result.h"

// vid:notFound, vid:notPermitted, vid:badFile (not a regular file, not a VID file),
// vid:readFailed (damaged record, failed read), vid:badFrameIndex, vid:writeFailed,
// vid:outOfMemory, vid:badArgument, vid:closed (not open).
inline const char* vid_result_identifier(VidResult result)
{
    switch (result) {
    case VidResult::ok:
        return "vid:ok";
    case VidResult::not_found:
        return "vid:notFound";
    case VidResult::not_permitted:
        return "vid:notPermitted";
    case VidResult::not_regular:
    case VidResult::not_vid_file:
        return "vid:badFile";
    case VidResult::damaged_record:
    case VidResult::read_failed:
        return "vid:readFailed";
    case VidResult::frame_out_of_range:
        return "vid:badFrameIndex";
    case VidResult::write_failed:
        return "vid:writeFailed";
    case VidResult::out_of_memory:
        return "vid:outOfMemory";
    case VidResult::bad_argument:
        return "vid:badArgument";
    case VidResult::not_open:
        return "vid:closed";
    }
    return "vid:failed";
}
