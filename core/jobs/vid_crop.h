// Cropping, trimming and merging clips into a new VID file: the job behind `vid crop` and
// Python's vid.crop, over the arithmetic of vid_crop_plan.h (the rules clipCropMex follows).
//
// Each input gives a frame range and a crop box. Several inputs are merged side by side,
// stacked, or one after the other; the output frame is the boxes (and gaps) rounded up to
// multiples of 8, filled with the background where no box lands (white one after the other).
// Bayer and mono clips keep their samples instead (unless rgb): the exact box, one clip after
// another, the pattern adjusted to where the box starts, description and timestamps carried.
// The output is written under a temporary name beside it, synced and renamed only when
// complete: a failure never leaves a partial file under its name nor touches an existing one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vid_clip.h"
#include "vid_result.h"

class VidHeader;
namespace clip_crop {
struct InputPlan;
}

struct VidCropInput {
    std::string path;
    int64_t first = 0; // frames first .. last - 1, 0-based; clamped to the file's frames
    int64_t last = INT64_MAX;
    bool boxed = false; // false: the whole frame
    int left = 0, top = 0, width = 0, height = 0;
};

enum class VidCropLayout { side_by_side, stacked, sequence };

struct VidCropOptions {
    VidCropLayout layout = VidCropLayout::sequence;
    int gap = 0; // pixels between neighbours side by side or stacked
    unsigned char background[3] = {255, 255, 255};
    int effort = 9;
    bool replace_any = false; // replace an existing OUT even when it is not a VID file
    // Bayer and mono inputs: rendered RGB frames (rounded up to multiples of 8, as clipCropMex
    // makes them) instead of their samples kept as stored.
    bool rgb = false;
};

struct VidCropOutcome {
    int width = 0, height = 0; // of the output frames
    int64_t frames = 0;
    // A line for each input whose frame range or box reached past its frames and was cut to
    // them ("in.vid: frames 290:400 of its 300 taken as 290:300").
    std::vector<std::string> clamped;
};

// Told after each output frame: frames written, frames in all.
using VidCropProgress = void (*)(void* context, int64_t done, int64_t total);

// Writes OUT from the inputs. False with `error` saying why (the input at fault and its frame
// where there is one); OUT is then as it was. An OUT that is one of the inputs is refused, and
// an existing OUT that is not a VID file unless replace_any.
bool vid_crop(const std::string& out, const std::vector<VidCropInput>& inputs,
              const VidCropOptions& options, VidCropOutcome& outcome, VidError& error,
              VidCropProgress progress = nullptr, void* context = nullptr);

// What an output keeps of its first input's clip block: its frame rate, start time and
// metadata, and per output frame the timestamp of the input frame it shows (one after the
// other: each input's own, where it keeps them; side by side or stacked: the first input's).
// False when the first input has no intact block: the output is then made without one, as
// ever.
bool vid_crop_clip(VidHeader* const* readers, const clip_crop::InputPlan* plans, int k,
                   bool sequence, VidClip& clip, std::vector<int64_t>& stamps);
