// vidReadFrames: VidReader's read in Octave, as an oct-file.
//
//   img = vidReadFrames(h, first, count, cls)   frames first .. first+count-1 (0-based) of
//                                               the reader handle h as H x W x 3 x count,
//                                               cls 'uint8' or 'double'
//
// The same command as vidMex('read', ...), for one reason: a MEX function's uint8 result is
// copied element by element into a new Octave array on its return (about 0.3 ms for a
// 640 x 480 frame, a quarter of the frame's expansion). Here the frames are written straight
// into the Octave array that is returned. The handle is the sealed Vid handle, checked by the
// same code as in the MEX modules (vid_handle_seal.h); MATLAB uses vidMex.
#include <octave/oct.h>
// After oct.h: the host's MEX entry points, for the handle's process identity.
#include <octave/mexproto.h>

#include <cmath>
#include <memory>
#include <string>

#include "VidHeader.h"
#include "vid_kind.h"
#include "vid_mex_errors.h"
#include "vid_result.h"
#include "vid_frame_planes.h"
#include "vid_handle_seal.h"

// The container keeps its reports: each failure is raised below, from its data, as an Octave
// error with the identifier of its kind, in VidReader's 1-based numbering.
namespace {

// A real scalar holding a whole number within int's range.
bool whole_number(const octave_value& v, int* out)
{
    if (!v.is_real_scalar() || !v.isnumeric())
        return false;
    double d = v.double_value();
    if (!(d >= -2147483648.0 && d <= 2147483647.0) || d != std::floor(d))
        return false;
    *out = int(d);
    return true;
}

// The frames as an Octave array of Value (octave_uint8 or double). The storage is taken
// uninitialised and handed to the array, which frees it: Array's own constructor would first
// construct every element one by one (30 us for a 640 x 480 frame).
template <class Value, class Element> octave_value read_into(VidHeader* r, int first, int count)
{
    static_assert(sizeof(Value) == sizeof(Element), "Value stores one Element");
    const dim_vector dims(r->height, r->width, 3, count);
    std::allocator<Value> allocator;
    Value* storage = allocator.allocate(size_t(dims.numel()));
    Array<Value> out;
    try {
        out = Array<Value>(storage, dims);
    } catch (...) {
        allocator.deallocate(storage, size_t(dims.numel()));
        throw;
    }
    VidError failure;
    // VidReader pictures a clip that describes its sensor by the description.
    const VidPicture picture = vid_picture(*r);
    if (!vid_read_frames_planes(r, first, count, reinterpret_cast<Element*>(storage), failure,
                                &picture)) {
        error_with_id(vid_result_identifier(failure.result), "%s",
                      vid_error_message(failure, 1).c_str());
    }
    return octave_value(out);
}

// Frames pictured one by one (vid_read_pictures_planes) as an Octave array of Value.
template <class Value, class Element>
octave_value pictures_into(VidHeader* r, const VidPicture& picture, int first, int count,
                           int channels, bool sixteen)
{
    static_assert(sizeof(Value) == sizeof(Element), "Value stores one Element");
    Array<Value> out(dim_vector(r->height, r->width, channels, count));
    VidError failure;
    if (!vid_read_pictures_planes(r, picture, first, count, channels, sixteen,
                                  reinterpret_cast<Element*>(out.fortran_vec()), failure))
        error_with_id(vid_result_identifier(failure.result), "%s",
                      vid_error_message(failure, 1).c_str());
    return octave_value(out);
}

} // namespace

DEFUN_DLD(vidReadFrames, args, ,
          "IMG = vidReadFrames (H, FIRST, COUNT, CLS): VidReader's frame reader in Octave.")
{
    int first = 0, count = 0;
    if (args.length() != 4 || !whole_number(args(1), &first) || !whole_number(args(2), &count) ||
        count < 1 || !args(3).is_string())
        error("vidReadFrames (h, first, count, class)");
    const std::string cls = args(3).string_value();
    if (cls != "uint8" && cls != "double" && cls != "native")
        error("vidReadFrames: the class is 'uint8', 'double' or 'native'.");

    const octave_value& h = args(0);
    VidHandleStatus status = VidHandleStatus::foreign;
    VidHeader* r = nullptr;
    VidHandleControl* control = nullptr;
    // The array shares its storage with the caller's value: no copy is made, and the record
    // is used in place as in the MEX modules.
    NDArray handle;
    if (!h.is_double_type() || h.isempty())
        status = VidHandleStatus::not_array;
    else if (!h.iscomplex() && !h.issparse() && !h.is_range() && h.ndims() == 2 &&
             size_t(h.rows()) == kVidHandleRows && h.columns() == 1) {
        handle = h.array_value();
        unsigned char* storage =
            reinterpret_cast<unsigned char*>(const_cast<double*>(handle.data()));
        status = vid_handle_check_storage(storage, &r, &control);
    }
    if (status != VidHandleStatus::live)
        error("%s", vid_handle_refusal(status, "Invalid Vid handle\n"));
    if (r->file_open_read_or_write != 0)
        error("Not a reader's handle.");
    if (first < 0 || first > r->num_frames - count)
        error("Frame index outside the file.");
    // Mono clips come as one plane, and 'native' keeps two-byte kinds' 16 bits.
    const VidPicture picture = vid_picture(*r);
    const bool mono = vid_kind_is_mono(picture.kind);
    const bool sixteen =
        cls == "native" && (picture.kind == VidKind::bayer16 || picture.kind == VidKind::mono16);
    if (sixteen)
        return pictures_into<octave_uint16, uint16_t>(r, picture, first, count, mono ? 1 : 3, true);
    if (mono && cls == "double")
        return pictures_into<double, double>(r, picture, first, count, 1, false);
    if (mono)
        return pictures_into<octave_uint8, unsigned char>(r, picture, first, count, 1, false);
    if (cls == "double")
        return read_into<double, double>(r, first, count);
    return read_into<octave_uint8, unsigned char>(r, first, count);
}
