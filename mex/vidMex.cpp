// vidMex: the gateway behind the VidReader and VidWriter classes. One module, one command
// per call; the five clip*Mex functions stay as they are. Handles are the same sealed Vid
// handles as clipOpenMex's (vid_handle.h): stale, closed and foreign ones are refused alike.
//
//   [h, info] = vidMex('open', name)          info = [width height frames kind], kind 0 RGB,
//                                             1 Bayer one-byte, 2 Bayer two-byte, 3 empty
//   img = vidMex('read', h, first, count, cls) frames first .. first+count-1 (0-based) as
//                                             H x W x 3 x count, cls 'uint8' or 'double'
//   m = vidMex('mosaic', h, k)                frame k's samples as stored: H x W uint16 or
//                                             uint8, without demosaic or gains
//   h = vidMex('create', name, width, height, reserve, effort)
//                                             a writer whose table grows past `reserve`
//   h = vidMex('create', name, width, height, reserve, effort, kind, rate, metadata, start,
//               records)                      a recording writer: kind 'rgb', 'bayer8' or
//                                             'bayer16', frame rate (0: unknown), metadata
//                                             (JSON object text), start time ('' : now),
//                                             records 'classic' or 'compact'
//   vidMex('write', h, frames)                H x W x 3 x n uint8 frames, exactly W x H; a
//                                             Bayer writer's H x W x n uint16/uint8 mosaics
//   vidMex('write', h, frames, stamps)        with one int64 timestamp (ns) per frame
//   [n kind] = vidMex('refresh', h)           takes in frames a running writer appended
//   [facts, start, meta, stamps, problem] = vidMex('clip', h)
//                                             the clip block: facts = [rate present damaged
//                                             finished], stamps int64 ns per frame
//   n = vidMex('close', h)                    frames in the file (writers), 0 for readers
//
// In Octave, VidReader reads frames through the oct-file vidReadFrames instead (the same
// command; see there why).
// The classes check indices and image sizes themselves and give those errors identifiers.
// The container keeps its reports (it never raises): each of its failures is raised with the
// identifier of its kind (vid_result_identifier) and a message naming the file, the frame in the
// classes' 1-based numbering and the reason.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "le_bytes.h"
#include "vid_clip.h"
#include "vid_follow.h"
#include "vid_format.h"
#include "vid_kind.h"
#include "vid_mex_errors.h"
#include "vid_read.h"
#include "vid_records.h"
#include "vid_result.h"
#include "mex.h"
#include "mex_args.h"
#include "vid_frame_planes.h"
#include "vid_handle.h"
#include "vid_image_layout.h"

namespace {

const char kUsage[] = "Usage: vidMex (cmd, ...): the gateway of the VidReader and VidWriter "
                      "classes; see their help.\n";

void fail(const char* message)
{
    mexErrMsgTxt(message);
}

// Raises a failure of the container as the classes' error. The failure's own strings are
// released first: the host may end the call without unwinding.
void raise_failure(VidError& failure)
{
    static char message[2 * sizeof(VidHeader::videoFileName)];
    snprintf(message, sizeof message, "%s", vid_error_message(failure, 1).c_str());
    const char* identifier = vid_result_identifier(failure.result);
    failure = VidError();
    mexErrMsgIdAndTxt(identifier, "%s", message);
}

// The command: the first input as a short string.
bool command_is(const mxArray* a, const char* name)
{
    char text[16] = {0};
    return vid_mex_is_class(a, mxCHAR_CLASS) && mxGetNumberOfElements(a) < sizeof text &&
           mxGetString(a, text, sizeof text) == 0 && strcmp(text, name) == 0;
}

bool scalar_int(const mxArray* a, int* out)
{
    return vid_mex_has_scalar_value(a) && vid_mex_round_to_int(mxGetScalar(a), out);
}

// A new sealed handle around a record constructed by `make` in its storage; a record that
// could not be opened is destroyed and its failure raised.
template <class Make> mxArray* new_handle(Make make)
{
    mxArray* handle = mxCreateDoubleMatrix(mwSize(kVidHandleRows), 1, mxREAL);
    if (handle == nullptr) {
        fail("Out of memory for the Vid handle.");
        return nullptr;
    }
    unsigned char* storage = reinterpret_cast<unsigned char*>(mxGetPr(handle));
    VidHeader* record = make(storage);
    if (!record->isOpen()) {
        VidError failure = record->lastError();
        record->~VidHeader();
        raise_failure(failure);
        return nullptr;
    }
    // A handle's bytes never change with a read (its seal covers them): a reader's frame
    // buffers are made now.
    if (record->file_open_read_or_write == 0 && record->num_frames > 0 &&
        !record->frameBuffers(false)) {
        record->~VidHeader();
        fail("Out of memory for the frame buffers.");
        return nullptr;
    }
    // Made only once the file is open: nothing of ours is live when the container raises.
    VidHandleControl* control = vid_handle_new_control();
    if (control == nullptr) {
        record->~VidHeader();
        fail("Out of memory for the Vid handle.");
        return nullptr;
    }
    vid_handle_seal(storage, control);
    return handle;
}

void open_file(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs != 2 || nlhs > 2 || !vid_mex_is_class(prhs[1], mxCHAR_CLASS))
        return vid_mex_argument_error("vidMex('open', name) takes a file name.", kUsage);
    char* name = vid_mex_string_copy(prhs[1], 2 * size_t(mxGetN(prhs[1])) + 1);
    mxArray* info = mxCreateDoubleMatrix(1, 4, mxREAL);
    if (name == nullptr || info == nullptr)
        return fail("Out of memory.");
    if (vid_mex_name_has_nul(prhs[1], name, 2 * size_t(mxGetN(prhs[1]))))
        return fail("The file name holds a NUL character: it would name another file.");
    mxArray* handle =
        new_handle([&](unsigned char* storage) { return new (storage) VidHeader(name, stderr); });
    mxFree(name);
    VidHeader* r = reinterpret_cast<VidHeader*>(mxGetPr(handle));
    double* d = mxGetPr(info);
    d[0] = r->width;
    d[1] = r->height;
    d[2] = r->num_frames;
    // 3: an empty file (no frames, nothing behind its table), of no kind.
    const VidKind kind = vid_kind(*r);
    d[3] = kind == VidKind::none      ? 3
           : kind == VidKind::rgb     ? 0
           : kind == VidKind::bayer16 ? 2
           : kind == VidKind::bayer8  ? 1
           : kind == VidKind::mono8   ? 4
                                      : 5;
    plhs[0] = handle;
    plhs[1] = info;
}

void read_frames(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    int first = 0, count = 0;
    if (nrhs != 5 || nlhs > 1 || !scalar_int(prhs[2], &first) || !scalar_int(prhs[3], &count) ||
        count < 1 || !vid_mex_is_class(prhs[4], mxCHAR_CLASS))
        return vid_mex_argument_error("vidMex('read', h, first, count, class)", kUsage);
    const bool as_double = command_is(prhs[4], "double");
    VidHandleControl* control = nullptr;
    VidHeader* r = vid_handle_open_record(prhs[1], 0, "Not a reader's handle.\n", &control);
    if (r == nullptr)
        return;
    if (first < 0 || first > r->num_frames - count)
        return fail("Frame index outside the file.");
    // A clip that describes its sensor is pictured by the description; mono clips as one
    // plane; 'native' keeps two-byte kinds' 16 bits.
    const VidPicture picture = vid_picture(*r);
    const bool mono = vid_kind_is_mono(picture.kind);
    const bool native = command_is(prhs[4], "native");
    const bool sixteen =
        native && (picture.kind == VidKind::bayer16 || picture.kind == VidKind::mono16);
    const mwSize dims[4] = {mwSize(r->height), mwSize(r->width), mwSize(mono ? 1 : 3),
                            mwSize(count)};
    // Every element is written below: no need to clear the array first.
    mxArray* out = mxCreateUninitNumericArray(4, const_cast<mwSize*>(dims),
                                              as_double ? mxDOUBLE_CLASS
                                              : sixteen ? mxUINT16_CLASS
                                                        : mxUINT8_CLASS,
                                              mxREAL);
    if (out == nullptr)
        return fail("Out of memory for the frames.");
    VidError failure;
    bool read;
    if (sixteen)
        read = vid_read_pictures_planes(r, picture, first, count, mono ? 1 : 3, true,
                                        static_cast<uint16_t*>(mxGetData(out)), failure);
    else if (mono && as_double)
        read = vid_read_pictures_planes(r, picture, first, count, 1, false, mxGetPr(out), failure);
    else if (mono)
        read = vid_read_pictures_planes(r, picture, first, count, 1, false,
                                        static_cast<unsigned char*>(mxGetData(out)), failure);
    else
        read = as_double ? vid_read_frames_planes(r, first, count, mxGetPr(out), failure, &picture)
                         : vid_read_frames_planes(r, first, count,
                                                  static_cast<unsigned char*>(mxGetData(out)),
                                                  failure, &picture);
    if (!read) {
        mxDestroyArray(out);
        return raise_failure(failure);
    }
    plhs[0] = out;
}

void read_mosaic(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    int k = 0;
    if (nrhs != 3 || nlhs > 1 || !scalar_int(prhs[2], &k))
        return vid_mex_argument_error("vidMex('mosaic', h, k)", kUsage);
    VidHandleControl* control = nullptr;
    VidHeader* r = vid_handle_open_record(prhs[1], 0, "Not a reader's handle.\n", &control);
    if (r == nullptr)
        return;
    if (!r->vid_is_bayer_interpolated)
        return fail("The file holds RGB frames, not Bayer mosaics.");
    if (k < 0 || k >= r->num_frames)
        return fail("Frame index outside the file.");
    const bool two = r->vid_uses_two_bytes_per_pixel == 1;
    mxArray* out = mxCreateNumericMatrix(mwSize(r->height), mwSize(r->width),
                                         two ? mxUINT16_CLASS : mxUINT8_CLASS, mxREAL);
    if (out == nullptr)
        return fail("Out of memory for the mosaic.");
    // The core's mosaic read (black frames give zeros), into the host's memory: reclaimed by
    // the host should the failure's report not return.
    const size_t w = size_t(r->width), h = size_t(r->height);
    void* samples = mxMalloc(w * h * (two ? 2 : 1));
    VidError failure;
    if (samples == nullptr || !vid_read_mosaic(*r, k, samples, true, failure)) {
        mxFree(samples);
        mxDestroyArray(out);
        if (samples == nullptr)
            return fail("Out of memory for the mosaic.");
        return raise_failure(failure);
    }
    // Rows of samples to MATLAB's columns.
    if (two) {
        const uint16_t* src = static_cast<const uint16_t*>(samples);
        uint16_t* dst = static_cast<uint16_t*>(mxGetData(out));
        for (size_t x = 0; x < w; x++)
            for (size_t y = 0; y < h; y++)
                dst[x * h + y] = src[y * w + x];
    } else {
        const unsigned char* src = static_cast<const unsigned char*>(samples);
        unsigned char* dst = static_cast<unsigned char*>(mxGetData(out));
        for (size_t x = 0; x < w; x++)
            for (size_t y = 0; y < h; y++)
                dst[x * h + y] = src[y * w + x];
    }
    mxFree(samples);
    plhs[0] = out;
}

// A short or long char argument as a C string (mxFree it); null when it is not text.
char* text_argument(const mxArray* a)
{
    if (!vid_mex_is_class(a, mxCHAR_CLASS))
        return nullptr;
    return vid_mex_string_copy(a, 4 * size_t(mxGetNumberOfElements(a)) + 1);
}

void create_file(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    int width = 0, height = 0, reserve = 0, effort = 0;
    VidRecording recording;
    recording.clip_block = nrhs == 11;
    if (recording.clip_block) {
        if (command_is(prhs[10], "compact"))
            recording.compact = true;
        else if (!command_is(prhs[10], "classic"))
            return vid_mex_argument_error("Records are 'classic' or 'compact'.", kUsage);
        char kind_name[16] = {0};
        if (!vid_mex_is_class(prhs[6], mxCHAR_CLASS) ||
            mxGetString(prhs[6], kind_name, sizeof kind_name) != 0 ||
            !vid_kind_parse(kind_name, recording.kind))
            return vid_mex_argument_error(
                "The kind is 'rgb', 'bayer8', 'bayer16', 'mono8' or 'mono16'.", kUsage);
        if (!vid_mex_has_scalar_value(prhs[7]))
            return vid_mex_argument_error("The frame rate is a number.", kUsage);
        recording.frame_rate = mxGetScalar(prhs[7]);
    }
    if ((nrhs != 6 && nrhs != 11) || nlhs > 1 || !vid_mex_is_class(prhs[1], mxCHAR_CLASS) ||
        !scalar_int(prhs[2], &width) || !scalar_int(prhs[3], &height) ||
        !scalar_int(prhs[4], &reserve) || !scalar_int(prhs[5], &effort) || reserve < 1)
        return vid_mex_argument_error("vidMex('create', name, width, height, reserve, effort)",
                                      kUsage);
    char* name = vid_mex_string_copy(prhs[1], 2 * size_t(mxGetN(prhs[1])) + 1);
    if (name == nullptr)
        return fail("Out of memory.");
    if (vid_mex_name_has_nul(prhs[1], name, 2 * size_t(mxGetN(prhs[1]))))
        return fail("The file name holds a NUL character: it would name another file.");
    // The reservation is a hint: a bounded table up front, frames beyond it still taken.
    reserve = vid_hinted_table_entries(reserve);
    char* metadata = nullptr;
    char* start = nullptr;
    if (recording.clip_block) {
        metadata = text_argument(prhs[8]);
        start = text_argument(prhs[9]);
        if (metadata == nullptr || start == nullptr)
            return vid_mex_argument_error("Metadata and start time are text.", kUsage);
        recording.effort = effort;
        recording.metadata = metadata;
        recording.start_time = start;
    }
    mxArray* handle = new_handle([&](unsigned char* storage) {
        VidHeader* w = recording.clip_block
                           ? new (storage)
                                 VidHeader(name, stderr, width, height, reserve, recording)
                           : new (storage) VidHeader(name, stderr, width, height, reserve, effort);
        w->growTableWhenFull();
        return w;
    });
    mxFree(name);
    if (metadata != nullptr)
        mxFree(metadata);
    if (start != nullptr)
        mxFree(start);
    plhs[0] = handle;
}

// A column-major H x W mosaic of one- or two-byte samples into a writer's rows (two-byte
// samples little-endian, as the file keeps them).
void mosaic_to_rows(const void* planes, bool two, size_t h, size_t w, unsigned char* rows)
{
    if (two) {
        const uint16_t* src = static_cast<const uint16_t*>(planes);
        for (size_t x = 0; x < w; x++)
            for (size_t y = 0; y < h; y++)
                put_le16(rows + 2 * (y * w + x), src[x * h + y]);
    } else {
        const unsigned char* src = static_cast<const unsigned char*>(planes);
        for (size_t x = 0; x < w; x++)
            for (size_t y = 0; y < h; y++)
                rows[y * w + x] = src[x * h + y];
    }
}

void write_frames(int nlhs, int nrhs, const mxArray* prhs[])
{
    if ((nrhs != 3 && nrhs != 4) || nlhs > 0 || mxIsComplex(prhs[2]) ||
        (nrhs == 4 && !vid_mex_is_class(prhs[3], mxINT64_CLASS)))
        return vid_mex_argument_error("vidMex('write', h, frames[, int64 timestamps])", kUsage);
    VidHandleControl* control = nullptr;
    VidHeader* w = vid_handle_open_record(prhs[1], 1, "Not a writer's handle.\n", &control);
    if (w == nullptr)
        return;
    const bool bayer = w->vid_is_bayer_interpolated == 1;
    const bool two = bayer && w->vid_uses_two_bytes_per_pixel == 1;
    const mwSize ndims = mxGetNumberOfDimensions(prhs[2]);
    const mwSize* dims = mxGetDimensions(prhs[2]);
    const mwSize frame_dim = bayer ? 2 : 3;
    const size_t frames = ndims > frame_dim ? size_t(dims[frame_dim]) : 1;
    if (bayer) {
        if (!vid_mex_is_class(prhs[2], two ? mxUINT16_CLASS : mxUINT8_CLASS) || ndims > 3 ||
            dims[0] != mwSize(w->height) || dims[1] != mwSize(w->width))
            return fail(
                two ? "Mosaics must be height x width (x n) uint16 arrays of the file's size."
                    : "Mosaics must be height x width (x n) uint8 arrays of the file's size.");
    } else if (!vid_mex_is_class(prhs[2], mxUINT8_CLASS) || ndims < 3 || ndims > 4 ||
               dims[0] != mwSize(w->height) || dims[1] != mwSize(w->width) || dims[2] != 3) {
        return fail("Frames must be height x width x 3 (x n) uint8 arrays of the file's size.");
    }
    const int64_t* stamps = nullptr;
    if (nrhs == 4) {
        if (size_t(mxGetNumberOfElements(prhs[3])) != frames)
            return fail("Give one timestamp per frame.");
        stamps = static_cast<const int64_t*>(mxGetData(prhs[3]));
    }
    const unsigned char* data = static_cast<const unsigned char*>(mxGetData(prhs[2]));
    const size_t frame = size_t(w->pixmap_size);
    for (size_t i = 0; i < frames; i++) {
        if (bayer)
            mosaic_to_rows(data + frame * i, two, size_t(w->height), size_t(w->width), w->pixmap);
        else
            vid_planes_to_pixmap(data + frame * i, size_t(w->height), size_t(w->width), w->pixmap,
                                 size_t(w->width), size_t(w->height));
        if (!w->writeNextFrameToVideoFile(stamps != nullptr ? stamps[i] : kVidNoTimestamp)) {
            VidError failure = w->lastError();
            return raise_failure(failure);
        }
        // Sealed again after every frame, so that an error further on leaves a live handle.
        control->frames_written = w->current_frame;
        vid_handle_seal(reinterpret_cast<unsigned char*>(w), control);
    }
}

void clip_block(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs != 2 || nlhs > 5)
        return vid_mex_argument_error("vidMex('clip', h)", kUsage);
    VidHandleControl* control = nullptr;
    VidHeader* r = vid_handle_open_record(prhs[1], 0, "Not a reader's handle.\n", &control);
    if (r == nullptr)
        return;
    const VidClip clip = vid_read_clip(*r);
    std::vector<int64_t> stamps;
    if (clip.present && !vid_read_timestamps(*r, clip, stamps))
        return fail("The file's timestamps cannot be read.");
    mxArray* facts = mxCreateDoubleMatrix(1, 4, mxREAL);
    mxArray* start = mxCreateString(clip.start_time.c_str());
    mxArray* meta = mxCreateString(clip.metadata.c_str());
    mxArray* times = mxCreateNumericMatrix(mwSize(stamps.size()), 1, mxINT64_CLASS, mxREAL);
    mxArray* problem = mxCreateString(clip.problem.c_str());
    if (facts == nullptr || start == nullptr || meta == nullptr || times == nullptr ||
        problem == nullptr)
        return fail("Out of memory.");
    double* f = mxGetPr(facts);
    f[0] = clip.frame_rate;
    f[1] = clip.present;
    f[2] = clip.damaged;
    f[3] = (clip.flags & kVidClipFinished) != 0;
    if (!stamps.empty())
        memcpy(mxGetData(times), stamps.data(), stamps.size() * sizeof(int64_t));
    mxArray* out[5] = {facts, start, meta, times, problem};
    for (int i = 0; i < 5; i++) {
        if (i < (nlhs > 0 ? nlhs : 1))
            plhs[i] = out[i];
        else
            mxDestroyArray(out[i]);
    }
}

void refresh_file(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs != 2 || nlhs > 1)
        return vid_mex_argument_error("vidMex('refresh', h)", kUsage);
    VidHandleControl* control = nullptr;
    VidHeader* r = vid_handle_open_record(prhs[1], 0, "Not a reader's handle.\n", &control);
    if (r == nullptr)
        return;
    VidError failure;
    bool ok = vid_refresh(*r, failure);
    if (ok && r->num_frames > 0 && !r->frameBuffers(false)) {
        ok = false;
        failure = vid_error(VidResult::out_of_memory, r->videoFileName, "");
    }
    // The record changed (table, buffers): sealed again, so the handle stays live.
    vid_handle_seal(reinterpret_cast<unsigned char*>(r), control);
    if (!ok)
        return raise_failure(failure);
    mxArray* out = mxCreateDoubleMatrix(1, 2, mxREAL);
    if (out == nullptr)
        return fail("Out of memory.");
    const VidKind kind = vid_kind(*r);
    mxGetPr(out)[0] = r->num_frames;
    mxGetPr(out)[1] = kind == VidKind::none      ? 3
                      : kind == VidKind::rgb     ? 0
                      : kind == VidKind::bayer16 ? 2
                                                 : 1;
    plhs[0] = out;
}

void close_file(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs != 2 || nlhs > 1)
        return vid_mex_argument_error("vidMex('close', h)", kUsage);
    VidHeader* record = nullptr;
    VidHandleControl* control = nullptr;
    VidHandleStatus status = vid_handle_check(prhs[1], &record, &control);
    if (status != VidHandleStatus::live)
        return vid_handle_refuse(status, "Invalid Vid handle\n");
    mxArray* count = mxCreateDoubleScalar(0);
    void* copy = mxMalloc(sizeof(VidHeader));
    if (copy == nullptr || count == nullptr)
        return fail("Out of memory for closing the Vid handle.");
    std::memcpy(copy, static_cast<const void*>(record), sizeof(VidHeader));
    VidHeader* closing = static_cast<VidHeader*>(copy);
    if (closing->file_open_read_or_write == 1) {
        closing->current_frame = int(control->frames_written);
        *mxGetPr(count) = double(closing->current_frame);
    }
    control->state = kVidControlClosed;
    // A writer is finished with a verdict before it is destroyed: its failure is raised once
    // everything is released.
    const bool finished = closing->finish();
    VidError failure = closing->lastError();
    closing->~VidHeader();
    mxFree(copy);
    if (!finished)
        return raise_failure(failure);
    if (nlhs > 0)
        plhs[0] = count;
}

} // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 1)
        return vid_mex_argument_error("No command given.", kUsage);
    if (command_is(prhs[0], "open"))
        return open_file(nlhs, plhs, nrhs, prhs);
    if (command_is(prhs[0], "read"))
        return read_frames(nlhs, plhs, nrhs, prhs);
    if (command_is(prhs[0], "mosaic"))
        return read_mosaic(nlhs, plhs, nrhs, prhs);
    if (command_is(prhs[0], "create"))
        return create_file(nlhs, plhs, nrhs, prhs);
    if (command_is(prhs[0], "write"))
        return write_frames(nlhs, nrhs, prhs);
    if (command_is(prhs[0], "close"))
        return close_file(nlhs, plhs, nrhs, prhs);
    if (command_is(prhs[0], "clip"))
        return clip_block(nlhs, plhs, nrhs, prhs);
    if (command_is(prhs[0], "refresh"))
        return refresh_file(nlhs, plhs, nrhs, prhs);
    vid_mex_argument_error("Unknown command.", kUsage);
}
