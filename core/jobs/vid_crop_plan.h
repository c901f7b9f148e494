// The arithmetic of cropping and merging clips: number conversion, frame ranges, crop boxes,
// the output geometry and frame count, where each box lands, and the loop that assembles and
// writes the output frames. clipCropMex parses its arguments into these values, vid_crop
// (vid_crop.h: `vid crop`, Python's vid.crop) its options; the unit tests and the crop
// benchmark use them directly.
//
// Everything here works on plain values and on caller-owned buffers; nothing allocates or
// keeps state. The merge loop drives readers and a writer that the caller opened and still
// owns, one frame at a time, on the calling thread.
#pragma once

#include "vid_format.h"
#include <cmath>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace clip_crop {

// Merge modes.
enum { kHorizontal = 0, kVertical = 1, kSequential = 2 };

// Largest output frame a VID file can carry: a width field above 0x8FFF would be read back
// as a smaller width, the height field has 16 bits, and width * height * 3 is held in a
// signed 32-bit integer. The output is rounded up to multiples of 8, so the usable limits
// are the multiples of 8 below these.
const int64_t kMaxOutputWidth = kVidMaxWriterWidth;
const int64_t kMaxOutputHeight = kVidMaxHeight;
const int64_t kMaxOutputBytes = kVidMaxFrameBytes;

// A double truncated toward zero to an int. NaN gives 0 and values beyond the int range
// saturate, so no input value makes the conversion undefined.
inline int truncate_to_int(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return INT_MAX;
    if (v <= -2147483648.0)
        return INT_MIN;
    return int(v);
}

// Half-open frame range [start, end) of one input after clamping.
struct FrameRange {
    int start;
    int end;
    // Number of frames taken; a range whose start lies at or beyond its end takes none.
    int length() const { return end > start ? end - start : 0; }
};

// Clamps a requested range to an input of num_frames frames: both ends truncated toward
// zero, the start raised to 0, the end lowered to num_frames. [10 20] takes frames 10..19,
// [-5 1e9] every frame, [20 10] none.
inline FrameRange clamp_range(double start, double end, int num_frames)
{
    FrameRange r;
    r.start = truncate_to_int(start);
    if (r.start < 0)
        r.start = 0;
    r.end = truncate_to_int(end);
    if (r.end > num_frames)
        r.end = num_frames;
    return r;
}

// Crop box of one input: left column, top row, width, height, in input pixels.
struct CropBox {
    int l;
    int t;
    int w;
    int h;
};

// The box of input i. bbox is null (no crop: the whole frame) or the 4 x K column-major
// array whose column i is [l; t; w; h]. The values are truncated toward zero, l and t
// raised to 0, and w and h lowered so that the box ends inside the frame. A box that lies
// wholly outside the frame, or has a width or height of zero or less, comes out empty
// (w = 0 or h = 0): it copies nothing and takes no room in the output.
// Reader is any type with int fields width and height (VidHeader).
template <class Reader>
void set_bounds(const double* bbox, int i, const Reader& reader, int& l, int& t, int& w, int& h)
{
    if (bbox == nullptr) {
        l = 0;
        t = 0;
        w = reader.width > 0 ? reader.width : 0;
        h = reader.height > 0 ? reader.height : 0;
        return;
    }
    const double* col = bbox + 4 * int64_t(i);
    l = truncate_to_int(col[0]);
    t = truncate_to_int(col[1]);
    w = truncate_to_int(col[2]);
    h = truncate_to_int(col[3]);
    if (l < 0)
        l = 0;
    if (t < 0)
        t = 0;
    // width - l cannot overflow: width >= 0 and l >= 0.
    if (w > reader.width - l)
        w = reader.width - l;
    if (h > reader.height - t)
        h = reader.height - t;
    if (w <= 0 || h <= 0) {
        w = 0;
        h = 0;
    }
}

// Output frame size before and after rounding up to multiples of 8.
struct OutputGeometry {
    int64_t width;   // W: the boxes and the gaps between them
    int64_t height;  // H
    int64_t width8;  // W8
    int64_t height8; // H8
    // True when W8 x H8 fits a VID file (see kMaxOutputWidth and friends).
    bool fits() const
    {
        return width8 <= kMaxOutputWidth && height8 <= kMaxOutputHeight &&
               width8 * height8 <= kMaxOutputBytes / 3;
    }
};

inline int64_t round_up_to_8(int64_t v)
{
    return (v + 7) / 8 * 8;
}

// Per-input values of a merge: the input's crop box and its clamped frame range.
struct InputPlan {
    CropBox box;
    FrameRange range;
};

// Output geometry of K >= 1 inputs merged in mode (0, 1 or 2) with gap >= 0 pixels between
// neighbours: side by side the box widths and gaps add up and the height is the tallest
// box; stacked the heights and gaps add up and the width is the widest box; sequentially
// both are the largest box. Computed in 64 bits, so no sum can overflow for K below 2^31.
inline OutputGeometry output_geometry(int mode, int gap, const InputPlan* inputs, int k)
{
    OutputGeometry g = {0, 0, 0, 0};
    for (int i = 0; i < k; i++) {
        const CropBox& b = inputs[i].box;
        if (mode == kHorizontal) {
            g.width += int64_t(b.w) + gap;
            if (b.h > g.height)
                g.height = b.h;
        } else if (mode == kVertical) {
            if (b.w > g.width)
                g.width = b.w;
            g.height += int64_t(b.h) + gap;
        } else {
            if (b.w > g.width)
                g.width = b.w;
            if (b.h > g.height)
                g.height = b.h;
        }
    }
    // No gap after the last input.
    if (k > 0 && mode == kHorizontal)
        g.width -= gap;
    if (k > 0 && mode == kVertical)
        g.height -= gap;
    g.width8 = round_up_to_8(g.width);
    g.height8 = round_up_to_8(g.height);
    return g;
}

// Output frame count F: the longest range side by side and stacked, the sum of all ranges
// sequentially. Empty ranges count zero, so F is exactly the number of frames the merge
// loop writes.
inline int64_t output_frame_count(int mode, const InputPlan* inputs, int k)
{
    int64_t f = 0;
    for (int i = 0; i < k; i++) {
        int64_t len = inputs[i].range.length();
        if (mode == kSequential)
            f += len;
        else if (len > f)
            f = len;
    }
    return f;
}

// Where a box of w x h lands in an output of out_w x out_h. Side by side the box sits at
// the running column `run` and, when centre_across is set, is centred vertically (else at
// row 0); stacked it sits at the running row `run` and is centred horizontally (or at
// column 0); sequentially it is centred both ways.
inline void box_destination(int mode, bool centre_across, int run, int w, int h, int out_w,
                            int out_h, int& x, int& y)
{
    int cx = (centre_across && out_w > w) ? (out_w - w) / 2 : 0;
    int cy = (centre_across && out_h > h) ? (out_h - h) / 2 : 0;
    if (mode == kHorizontal) {
        x = run;
        y = cy;
    } else if (mode == kVertical) {
        x = cx;
        y = run;
    } else {
        x = out_w > w ? (out_w - w) / 2 : 0;
        y = out_h > h ? (out_h - h) / 2 : 0;
    }
}

// Sets every pixel of an RGB frame of `pixels` pixels to (r, g, b).
inline void fill_rgb(unsigned char* frame, int64_t pixels, unsigned char r, unsigned char g,
                     unsigned char b)
{
    if (pixels <= 0)
        return;
    if (r == g && g == b) {
        memset(frame, r, size_t(pixels) * 3);
        return;
    }
    frame[0] = r;
    frame[1] = g;
    frame[2] = b;
    // Double the filled prefix until the frame is full.
    size_t done = 3, total = size_t(pixels) * 3;
    while (done < total) {
        size_t n = done < total - done ? done : total - done;
        memcpy(frame + done, frame, n);
        done += n;
    }
}

// Copies the box (l, t, w, h) of an RGB frame of src_w x src_h into an RGB frame of
// dst_w x dst_h at column x, row y, three bytes per pixel, row by row. An empty box copies
// nothing. Returns false, copying nothing, when the box does not lie wholly inside the
// source or its destination not wholly inside the output.
inline bool copy_box(const unsigned char* src, int src_w, int src_h, const CropBox& box,
                     unsigned char* dst, int dst_w, int dst_h, int x, int y)
{
    if (box.w <= 0 || box.h <= 0)
        return true;
    if (box.l < 0 || box.t < 0 || x < 0 || y < 0)
        return false;
    if (int64_t(box.l) + box.w > src_w || int64_t(box.t) + box.h > src_h)
        return false;
    if (int64_t(x) + box.w > dst_w || int64_t(y) + box.h > dst_h)
        return false;
    const size_t row_bytes = size_t(box.w) * 3;
    for (int k = 0; k < box.h; k++) {
        const unsigned char* s = src + (size_t(box.t + k) * size_t(src_w) + size_t(box.l)) * 3;
        unsigned char* d = dst + (size_t(y + k) * size_t(dst_w) + size_t(x)) * 3;
        memcpy(d, s, row_bytes);
    }
    return true;
}

// Everything the merge loop needs besides the readers and the writer.
struct MergePlan {
    int mode;             // kHorizontal, kVertical or kSequential
    int gap;              // pixels between neighbours in modes 0 and 1, >= 0
    int out_width;        // W8
    int out_height;       // H8
    int num_frames;       // F
    unsigned char rgb[3]; // background in modes 0 and 1 (mode 2 is always white)
    bool centre_across;   // centre boxes across the merge direction (else row/column 0)
};

// Outcome of merge_frames; `input` is the index of the input at fault, or -1.
struct MergeResult {
    enum Status { kOk, kReadFailed, kWriteFailed, kBoxOutside, kBadWriter } status;
    int input;
};

// Told after each output frame written: frames done, frames in all.
struct MergeProgress {
    void (*told)(void* context, int64_t done, int64_t total);
    void* context;
    void operator()(int64_t done, int64_t total) const
    {
        if (told != nullptr)
            told(context, done, total);
    }
};

// Assembles and writes the plan's F output frames. Vid is a VidHeader-like type: fields
// width, height, pixmap, pixmap_size and the operations readFrameFromVideoFile(int) and
// writeNextFrameToVideoFile(). readers[i] belongs to inputs[i]; the writer was created for
// out_width x out_height and at least num_frames frames. `told` hears of each frame written. Stops
// at the first failure and says which.
template <class Vid>
MergeResult merge_frames(const MergePlan& plan, const InputPlan* inputs, Vid* const* readers, int k,
                         Vid& writer, MergeProgress told = {nullptr, nullptr})
{
    const int64_t out_pixels = int64_t(plan.out_width) * plan.out_height;
    if (writer.pixmap == nullptr || writer.width != plan.out_width ||
        writer.height != plan.out_height || int64_t(writer.pixmap_size) != out_pixels * 3)
        return {MergeResult::kBadWriter, -1};

    if (plan.mode == kSequential) {
        int n = 0;
        for (int i = 0; i < k; i++) {
            const InputPlan& in = inputs[i];
            Vid& r = *readers[i];
            for (int j = 0; j < in.range.length(); j++) {
                fill_rgb(writer.pixmap, out_pixels, 255, 255, 255);
                if (!r.readFrameFromVideoFile(in.range.start + j))
                    return {MergeResult::kReadFailed, i};
                int x, y;
                box_destination(plan.mode, plan.centre_across, 0, in.box.w, in.box.h,
                                plan.out_width, plan.out_height, x, y);
                if (!copy_box(r.pixmap, r.width, r.height, in.box, writer.pixmap, plan.out_width,
                              plan.out_height, x, y))
                    return {MergeResult::kBoxOutside, i};
                if (!writer.writeNextFrameToVideoFile())
                    return {MergeResult::kWriteFailed, -1};
                n++;
                told(n, plan.num_frames);
            }
        }
        return {MergeResult::kOk, -1};
    }

    for (int f = 0; f < plan.num_frames; f++) {
        fill_rgb(writer.pixmap, out_pixels, plan.rgb[0], plan.rgb[1], plan.rgb[2]);
        // Running column (side by side) or row (stacked). 64 bits: after the last input it
        // may exceed the output by one gap.
        int64_t run = 0;
        for (int i = 0; i < k; i++) {
            const InputPlan& in = inputs[i];
            if (f < in.range.length()) {
                Vid& r = *readers[i];
                if (!r.readFrameFromVideoFile(in.range.start + f))
                    return {MergeResult::kReadFailed, i};
                int x, y;
                box_destination(plan.mode, plan.centre_across, int(run), in.box.w, in.box.h,
                                plan.out_width, plan.out_height, x, y);
                if (!copy_box(r.pixmap, r.width, r.height, in.box, writer.pixmap, plan.out_width,
                              plan.out_height, x, y))
                    return {MergeResult::kBoxOutside, i};
            }
            run += int64_t(plan.mode == kHorizontal ? in.box.w : in.box.h) + plan.gap;
        }
        if (!writer.writeNextFrameToVideoFile())
            return {MergeResult::kWriteFailed, -1};
        told(f + 1, plan.num_frames);
    }
    return {MergeResult::kOk, -1};
}

} // namespace clip_crop
