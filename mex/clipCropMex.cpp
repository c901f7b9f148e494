// clipCropMex: trims, crops and merges VID files into a new one in a single MATLAB call.
//
//   clipCropMex(input, output, frames, mode, gap [, bbox [, rgb]])      Linux form
//   clipCropMex(input, output, frames, mode [, bbox])                   Windows form
//
// input is one file name or a cell array of K names. Each input is trimmed to its frame
// range and cut to its box; the pieces are merged side by side (mode 0), stacked (mode 1)
// or one after the other (mode 2) into an output whose frame size is a multiple of 8.
//
// The Windows form is the same function with fewer inputs: no gap, no background colour,
// boxes placed at row 0 / column 0 rather than centred, its own messages, usage text and
// progress rhythm. Both forms live in this one source and differ only in the constants and
// branches marked "Windows form" below; _WIN32 selects it. A test build may also select it
// on Linux with CLIPCROP_TEST_WINDOWS_FORM to check it under Octave.
//
// Every argument is checked (counts, classes and sizes, values) before any file is opened;
// only the clamping of the frame ranges and the crop boxes' bounds need the open inputs.
// An output abandoned because an input turns out to be damaged keeps every frame written
// before (the writer keeps its file readable).
//
// Ownership: every reader, the writer and the working arrays of a call are recorded in one
// module-level CropCall before anything can raise an error, and are released before an
// error raised here reaches the host. The container never raises: each of its failures comes
// back here and is raised with its report once the call has released everything (a guard
// releases the same records should anything unwind, and a host that ends the call without
// unwinding has the leftovers released at the next call or when the module is unloaded). Runs on
// the host's thread; nothing survives a call.
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>
#include <sys/stat.h>

#include "mex.h"

#include "VidHeader.h"
#include "vid_crop.h"
#include "clip_crop_rhythm.h"
#include "vid_crop_plan.h"
#include "mex_args.h"

using namespace clip_crop;

#if defined(_WIN32) || defined(CLIPCROP_TEST_WINDOWS_FORM)
#define CLIPCROP_WINDOWS_FORM 1
#else
#define CLIPCROP_WINDOWS_FORM 0
#endif

namespace {

// ---------------------------------------------------------------------------------------
// The two forms. Everything that differs between them is here or marked "Windows form".

#if CLIPCROP_WINDOWS_FORM
const bool kWindowsForm = true;
const int kMinInputs = 4;    // input, output, frames, mode
const int kGapInput = -1;    // no gap input: the gap is 0
const int kBboxInput = 4;    // 0-based index of the optional bbox input
const int kColourInput = -1; // no colour input: the background is white
const bool kCentreAcross = false;
const int kSidePeriod = 200, kSidePhase = 0;
const int kSeqPeriod = 10, kSeqPhase = 0;
const char* const kCellFramesMessage =
    "Crop frames input array should be size [Number input videos x 2].";
const char* const kUsage =
    "Usage: clipCropMex, \nInputs: \n   < input video file name : string >\n   < output video "
    "file name : string >\n\t< [empty] or [2x1] crop start and end frames : double >\n\t< [0] "
    "placeholder argument : double >\n\t[ [4x1] bbox crop [l t w h] : double ] \n OR "
    "(alternate version) \n   < {K x 1} cell array of < input video file names : string >\n   "
    "< output video file name : string >\n\t< [empty] or [2 x K] crop start and end frames "
    "for each video: double >\n\t< [0 or 1 or 2] merge cropped input videos horizontally or "
    "vertically or sequentially >\n\t[ [empty] or [4 x K] bbox crop for all video [l t w h] : "
    "double ] \nOutputs: \n   None.\n";
#else
const bool kWindowsForm = false;
const int kMinInputs = 5; // input, output, frames, mode, gap
const int kGapInput = 4;
const int kBboxInput = 5;
const int kColourInput = 6;
const bool kCentreAcross = true;
const int kSidePeriod = 200, kSidePhase = 199;
const int kSeqPeriod = 200, kSeqPhase = 199;
const char* const kCellFramesMessage =
    "Crop frames input array should be either empty or of size [Number input videos x 2].";
const char* const kUsage =
    "Usage: clipCropMex, \nInputs: \n   < input video file name : string >\n   < output video "
    "file name : string >\n\t< [empty] or [2 x 1 : double] >\tcrop start and end frames "
    "\n\t< [0 : double] > placeholder argument \n\t< scalar : double >\tgap in pixels between "
    "merged videos \n\t[ [empty] or [4 x 1 : double] ] bbox crop [l t w h] \n\t[ [empty] or "
    "[3 x 1 : unit8] ] RGB background fill color\n OR (alternate version) \n   < {K x 1 : "
    "string} > cell array of input video file names \n   < output video file name : string "
    ">\n\t< [empty] or [2 x K : double] > crop start and end frames for each video \n\t< [ 0 "
    "or 1 or 2 : double] > merge cropped input videos horizontally or vertically or "
    "sequentially \n\t< scalar : double >\tgap in pixels between merged videos \n\t[ [empty] "
    "or [4 x K : double] ] bbox crop for all video [l t w h] \n\t[ [empty] or [3 x 1 : unit8] "
    "RGB background fill color \nOutputs: \n   None.\n";
#endif

// File names are read into buffers of this size.
const size_t kNameBytes = 2000;
// Offsets table entries are addressed with 32-bit positions, so a file holds fewer frames.
const int64_t kMaxOutputFrames = (int64_t(1) << 28) - 1;

// ---------------------------------------------------------------------------------------
// Ownership of one call.

// Storage for one VidHeader and how far its life has got. The object is constructed in
// place, so the storage stays known to the call whatever happens inside the constructor
// or destructor.
struct VidSlot {
    enum State { kEmpty, kConstructing, kLive, kDestroying };
    unsigned char* storage; // sizeof(VidHeader) bytes, or null
    State state;

    VidHeader* vid() const { return reinterpret_cast<VidHeader*>(storage); }
};

struct CropCall {
    VidSlot* readers;        // one slot per input, or null
    VidHeader** reader_vids; // the readers' objects, in input order, or null
    int num_readers;         // slots in `readers`
    VidSlot writer;
    InputPlan* inputs; // one per input, or null
    // What the output keeps of the first input's clip block (vid_crop_clip), or null.
    VidClip* carried;
    std::vector<int64_t>* carried_stamps;
};

CropCall g_call;
bool g_exit_hook_registered = false;

[[noreturn]] void raise_report(const VidHeader& v);

// Releases one slot without finishing a writer: the writer mark is cleared first, so the
// destructor only closes the file (leaving an output unfinished) and frees the buffers.
// The container releases everything it holds before it raises a report, from a constructor
// and from the destructor alike; an object whose constructor or destructor was ended that
// way therefore owns nothing any more, and only its storage is freed here.
void release_slot(VidSlot& slot)
{
    if (slot.storage == nullptr)
        return;
    if (slot.state == VidSlot::kLive) {
        VidHeader* v = slot.vid();
        v->file_open_read_or_write = 0;
        slot.state = VidSlot::kDestroying;
        v->~VidHeader(); // reports nothing for an object that is not a writer
    }
    delete[] slot.storage;
    slot.storage = nullptr;
    slot.state = VidSlot::kEmpty;
}

// Finishes the writer (header and offsets table, then closing the file) and releases it. A
// failure is raised once the call has released everything.
void finish_writer()
{
    VidSlot& slot = g_call.writer;
    if (!slot.vid()->finish())
        raise_report(*slot.vid());
    slot.state = VidSlot::kDestroying;
    slot.vid()->~VidHeader();
    delete[] slot.storage;
    slot.storage = nullptr;
    slot.state = VidSlot::kEmpty;
}

// Releases everything the call holds: readers in input order, then the writer (left
// unfinished), then the working arrays. Safe to call at any point and more than once.
void release_call()
{
    if (g_call.readers != nullptr) {
        for (int i = 0; i < g_call.num_readers; i++)
            release_slot(g_call.readers[i]);
        delete[] g_call.readers;
        g_call.readers = nullptr;
    }
    delete[] g_call.reader_vids;
    g_call.reader_vids = nullptr;
    g_call.num_readers = 0;
    release_slot(g_call.writer);
    delete[] g_call.inputs;
    g_call.inputs = nullptr;
    delete g_call.carried;
    g_call.carried = nullptr;
    delete g_call.carried_stamps;
    g_call.carried_stamps = nullptr;
}

void release_call_at_exit()
{
    release_call();
}

// Releases the call's holdings when mexFunction is left by an error that unwinds.
struct CallGuard {
    CallGuard() = default;
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
    ~CallGuard() { release_call(); }
};

// ---------------------------------------------------------------------------------------
// Errors. Each releases the call's holdings first, then raises; none returns.

// Argument error: the message, the usage text, a blank line, then the message as an error.
[[noreturn]] void argument_error(const char* message)
{
    release_call();
    vid_mex_argument_error(message, kUsage);
    abort(); // not reached: the error does not return
}

// Any other error, without the usage text. The text is copied first: it may live inside an
// object that is about to be released.
[[noreturn]] void raise_error(const char* message)
{
    char text[10000];
    snprintf(text, sizeof text, "%s", message);
    release_call();
    mexErrMsgTxt(text);
    abort(); // not reached
}

// Raises the report of a container operation that failed: what the codec and the demosaic
// reported on stderr first, then the container's message as the MATLAB error.
[[noreturn]] void raise_report(const VidHeader& v)
{
    if (v.prior_reports[0] != '\0')
        fputs(v.prior_reports, stderr);
    raise_error(v.errMessage[0] ? v.errMessage : "Error opening video file.\n");
}

// ---------------------------------------------------------------------------------------
// Argument helpers.

// Reads a char array into name (kNameBytes bytes). False when the name does not fit: it is
// refused rather than cut, since a cut name could open, or overwrite, some other file.
bool read_name(const mxArray* a, char* name)
{
    memset(name, 0, kNameBytes);
    if (mxGetNumberOfElements(a) >= kNameBytes)
        return false;
    return mxGetString(a, name, mwSize(kNameBytes)) == 0;
}

// Allocates storage for a VidHeader into the slot.
void prepare_slot(VidSlot& slot)
{
    slot.storage = new (std::nothrow) unsigned char[sizeof(VidHeader)];
    if (slot.storage == nullptr)
        raise_error("Out of memory opening a video file.");
    slot.state = VidSlot::kConstructing;
}

// Raised when a constructor returned a failed object.
void check_opened(const VidSlot& slot)
{
    const VidHeader* v = slot.vid();
    if (!v->isOpen())
        raise_report(*v);
}

// Allocates the reader slots of K inputs.
void allocate_readers(int k)
{
    g_call.readers = new (std::nothrow) VidSlot[size_t(k)]();
    g_call.reader_vids = new (std::nothrow) VidHeader*[size_t(k)]();
    if (g_call.readers == nullptr || g_call.reader_vids == nullptr)
        raise_error("Out of memory.");
    g_call.num_readers = k;
}

// Reads input name from `a` and opens it as reader i.
void open_reader(int i, const mxArray* a)
{
    char name[kNameBytes];
    if (!read_name(a, name))
        raise_error("Input video file name is too long.");
    if (vid_mex_name_has_nul(a, name, kNameBytes - 1))
        raise_error("Input video file name holds a NUL character: it would name another file.");
    VidSlot& slot = g_call.readers[i];
    prepare_slot(slot);
    new (slot.storage) VidHeader(name, stderr);
    slot.state = VidSlot::kLive;
    g_call.reader_vids[i] = slot.vid();
    check_opened(slot);
}

// True when `name` is an existing file that is also one of the open inputs (the same device
// and file number, so links and other spellings of the path count too). Creating the output
// would truncate that input. Hosts whose stat reports no file numbers (Windows gives 0)
// cannot be checked this way and pass.
bool names_an_input(const char* name)
{
    struct stat out;
    if (stat(name, &out) != 0 || out.st_ino == 0)
        return false;
    for (int i = 0; i < g_call.num_readers; i++) {
        struct stat in;
        const VidHeader* r = g_call.reader_vids[i];
        if (r != nullptr && stat(r->videoFileName, &in) == 0 && in.st_dev == out.st_dev &&
            in.st_ino == out.st_ino)
            return true;
    }
    return false;
}

} // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)nlhs; // no outputs; their number is not tested
    (void)plhs;

    // Leftovers of a call that the host ended without unwinding.
    release_call();
    if (!g_exit_hook_registered) {
        mexAtExit(release_call_at_exit);
        g_exit_hook_registered = true;
    }
    CallGuard guard;

    // Step 1: argument count and classes. The frame ranges are read element by element, so
    // a sparse array (whose storage holds only its nonzero elements) is refused too.
    if (nrhs < kMinInputs || !vid_mex_is_class(prhs[1], mxCHAR_CLASS) ||
        !vid_mex_is_class(prhs[2], mxDOUBLE_CLASS) || mxIsSparse(prhs[2]) ||
        !vid_mex_is_class(prhs[3], mxDOUBLE_CLASS) ||
        (kGapInput >= 0 && !vid_mex_is_class(prhs[kGapInput], mxDOUBLE_CLASS)))
        argument_error("Incorrect number inputs and/or input datatype for some arguments.");

    // Step 2: the input names and the shape of the frame ranges, without opening anything.
    const mxArray* frames = prhs[2];
    const bool frames_empty = mxGetNumberOfElements(frames) == 0;
    int k;
    if (vid_mex_is_class(prhs[0], mxCELL_CLASS)) {
        const size_t n = mxGetNumberOfElements(prhs[0]);
        if (n == 0)
            argument_error("Cell array of input video file names is empty.");
        if (n > size_t(INT32_MAX / 4))
            argument_error("Too many input video files.");
        k = int(n);
        if (!frames_empty && (mxGetN(frames) != size_t(k) || mxGetM(frames) != 2))
            argument_error(kCellFramesMessage);
        for (int i = 0; i < k; i++) {
            const mxArray* cell = mxGetCell(prhs[0], mwIndex(i));
            if (cell == nullptr || !vid_mex_is_class(cell, mxCHAR_CLASS))
                argument_error("One of the cell entries for filenames array is not a string.");
        }
    } else {
        if (kWindowsForm) {
            // Windows form: one test and one message for both faults; empty frames refused.
            if (!vid_mex_is_class(prhs[0], mxCHAR_CLASS) || mxGetNumberOfElements(frames) != 2)
                argument_error(
                    "Input filename is not a string or crop frames array is not length 2.");
        } else {
            if (!vid_mex_is_class(prhs[0], mxCHAR_CLASS))
                argument_error(
                    "Input filename should either be a string or a cell array of strings.");
            if (!frames_empty && mxGetNumberOfElements(frames) != 2)
                argument_error(
                    "Crop frames input array should either be empty or of size [1 x 2].");
        }
        k = 1;
    }

    // Step 3: merge mode. Only 0, 1 and 2 have a layout.
    if (mxGetNumberOfElements(prhs[3]) != 1)
        argument_error("Fourth input argument should be scalar.");
    const double mode_value = mxGetScalar(prhs[3]);
    const int mode = round_to_int(mode_value);
    if (std::isnan(mode_value) || mode < kHorizontal || mode > kSequential)
        argument_error("Merge mode should be 0 (horizontal), 1 (vertical) or 2 (sequential).");

    // Step 4: gap (Windows form: none). A negative gap would overlap neighbours and push
    // boxes outside the output, so it is refused.
    int gap = 0;
    if (kGapInput >= 0) {
        if (mxGetNumberOfElements(prhs[kGapInput]) != 1)
            argument_error("Gap between videos input argument should be scalar.");
        const double gap_value = mxGetScalar(prhs[kGapInput]);
        gap = round_to_int(gap_value);
        if (std::isnan(gap_value) || gap < 0)
            argument_error("Gap between videos should be zero or a positive number of pixels.");
    }

    // Step 5: crop boxes (their shape; their bounds need the inputs).
    const double* bbox = nullptr;
    if (nrhs > kBboxInput && mxGetNumberOfElements(prhs[kBboxInput]) != 0) {
        const mxArray* b = prhs[kBboxInput];
        if (!vid_mex_is_class(b, mxDOUBLE_CLASS) || mxIsSparse(b) || mxGetM(b) != 4 ||
            mxGetN(b) != size_t(k))
            argument_error("Incorrect crop bbox array size or datatype");
        bbox = mxGetPr(b);
    }

    // Step 6: background colour (Windows form: always white).
    unsigned char rgb[3] = {255, 255, 255};
    if (kColourInput >= 0 && nrhs > kColourInput &&
        mxGetNumberOfElements(prhs[kColourInput]) != 0) {
        const mxArray* c = prhs[kColourInput];
        if (!vid_mex_is_class(c, mxUINT8_CLASS) || mxGetNumberOfElements(c) != 3)
            argument_error("Incorrect background_fill_rgb array size or datatype");
        const unsigned char* bytes = static_cast<const unsigned char*>(mxGetData(c));
        rgb[0] = bytes[0];
        rgb[1] = bytes[1];
        rgb[2] = bytes[2];
    }

    // Step 7: every argument is checked; only now are the inputs opened, one reader per
    // input, in order, and the frame ranges clamped to each.
    char name[kNameBytes];
    if (!read_name(prhs[1], name))
        raise_error("Output video file name is too long.");
    if (vid_mex_name_has_nul(prhs[1], name, kNameBytes - 1))
        raise_error("Output video file name holds a NUL character: it would name another file.");
    allocate_readers(k);
    if (vid_mex_is_class(prhs[0], mxCELL_CLASS)) {
        for (int i = 0; i < k; i++)
            open_reader(i, mxGetCell(prhs[0], mwIndex(i)));
    } else {
        open_reader(0, prhs[0]);
    }
    // Frame ranges, clamped to each input, taken as K pairs in element order.
    g_call.inputs = new (std::nothrow) InputPlan[size_t(k)]();
    if (g_call.inputs == nullptr)
        raise_error("Out of memory.");
    const double* range_values = frames_empty ? nullptr : mxGetPr(frames);
    for (int i = 0; i < k; i++) {
        const VidHeader& r = *g_call.reader_vids[i];
        g_call.inputs[i].range =
            range_values == nullptr
                ? FrameRange{0, r.num_frames}
                : clamp_range(range_values[2 * i], range_values[2 * i + 1], r.num_frames);
    }

    // Step 8: output geometry and frame count. Boxes are never negative and the gap
    // is not, so every box lands inside the output; an output without pixels, or beyond
    // what a video file can carry, is refused before the output is created.
    for (int i = 0; i < k; i++) {
        CropBox& b = g_call.inputs[i].box;
        set_bounds(bbox, i, *g_call.reader_vids[i], b.l, b.t, b.w, b.h);
    }
    const OutputGeometry geo = output_geometry(mode, gap, g_call.inputs, k);
    if (geo.width8 == 0 || geo.height8 == 0)
        raise_error("Every crop box is empty: the output frame would have no pixels.");
    if (!geo.fits()) {
        char text[200];
        snprintf(text, sizeof text,
                 "Output frame of %lld x %lld pixels is too large for a video file.",
                 (long long)geo.width8, (long long)geo.height8);
        raise_error(text);
    }
    const int64_t frame_count = output_frame_count(mode, g_call.inputs, k);
    if (frame_count > kMaxOutputFrames)
        raise_error("Too many output frames for a video file.");

    // Step 9: the writer.
    if (names_an_input(name))
        raise_error("Output video file is one of the input files: it would be overwritten.");
    // The first input's clip block comes along when it has one; without, the output is the
    // file this function has always written.
    g_call.carried = new (std::nothrow) VidClip();
    g_call.carried_stamps = new (std::nothrow) std::vector<int64_t>();
    if (g_call.carried == nullptr || g_call.carried_stamps == nullptr)
        raise_error("Out of memory.");
    bool carry = false;
    try {
        carry = vid_crop_clip(g_call.reader_vids, g_call.inputs, k, mode == kSequential,
                              *g_call.carried, *g_call.carried_stamps);
        if (carry)
            g_call.carried_stamps->resize(size_t(frame_count), kVidNoTimestamp);
    } catch (const std::bad_alloc&) {
        raise_error("Out of memory.");
    }
    prepare_slot(g_call.writer);
    if (carry) {
        VidRecording recording;
        recording.frame_rate = g_call.carried->frame_rate;
        recording.start_time = g_call.carried->start_time.c_str();
        recording.metadata = g_call.carried->metadata.c_str();
        new (g_call.writer.storage)
            VidHeader(name, stderr, int(geo.width8), int(geo.height8), int(frame_count), recording);
    } else {
        new (g_call.writer.storage)
            VidHeader(name, stderr, int(geo.width8), int(geo.height8), int(frame_count));
    }
    g_call.writer.state = VidSlot::kLive;
    check_opened(g_call.writer);
    VidHeader& writer = *g_call.writer.vid();
    if (carry && !writer.giveTimestamps(g_call.carried_stamps->data(),
                                        int64_t(g_call.carried_stamps->size())))
        raise_error("Out of memory.");

    // Step 10: assemble and write the frames.
    MergePlan plan;
    plan.mode = mode;
    plan.gap = gap;
    plan.out_width = int(geo.width8);
    plan.out_height = int(geo.height8);
    plan.num_frames = int(frame_count);
    memcpy(plan.rgb, rgb, 3);
    plan.centre_across = kCentreAcross;
    CropProgressRhythm rhythm{mode == kSequential ? kSeqPeriod : kSidePeriod,
                              mode == kSequential ? kSeqPhase : kSidePhase, stdout};
    const MergeResult result =
        merge_frames(plan, g_call.inputs, g_call.reader_vids, k, writer, rhythm.told());
    if (result.status == MergeResult::kReadFailed)
        raise_report(*g_call.reader_vids[result.input]);
    if (result.status == MergeResult::kWriteFailed)
        raise_report(writer);
    if (result.status != MergeResult::kOk)
        raise_error("Internal error: a crop box does not fit the output frame.");

    // Step 11: release the readers in input order, then finish and release the writer.
    for (int i = 0; i < k; i++)
        release_slot(g_call.readers[i]);
    finish_writer();
    release_call();
}
