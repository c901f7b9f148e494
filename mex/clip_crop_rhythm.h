// clipCropMex's own number and progress habits, which MATLAB users have always seen: a
// number standing for an integer is rounded as MATLAB code rounded it, and a progress line
// follows every period-th output frame.
#pragma once

#include <cstdint>
#include <cstdio>

#include "vid_crop_plan.h"

// A MATLAB number that stands for an integer (mode, gap): add 0.5, truncate toward zero.
// 1.4 gives 1, 1.5 gives 2, 2.5 gives 3, anything above -1.5 and below 0.5 gives 0.
inline int round_to_int(double v)
{
    return clip_crop::truncate_to_int(v + 0.5);
}

// The progress lines: "%6d of %6d frames in output written.\n" after output frame n (0-based)
// when n % period == phase, written to `out` and flushed.
struct CropProgressRhythm {
    int period;
    int phase;
    FILE* out;

    // A clip_crop::MergeProgress that prints at this rhythm.
    clip_crop::MergeProgress told() { return {&CropProgressRhythm::frame_written, this}; }

    static void frame_written(void* context, int64_t done, int64_t total)
    {
        const CropProgressRhythm* r = static_cast<const CropProgressRhythm*>(context);
        const int64_t n = done - 1;
        if (r->out == nullptr || r->period <= 0 || n % r->period != r->phase)
            return;
        fprintf(r->out, "%6d of %6d frames in output written.\n", int(n), int(total));
        fflush(r->out);
    }
};
