// Rewriting a VID file record by record: classic records into compact ones or back, or at
// another compression effort. Every frame expands to the same bytes as before; the clip block
// (timestamps, frame rate, start time, metadata) comes along when the file has one. The job
// behind `vid convert`.
#pragma once

#include <cstdint>
#include <string>

#include "vid_result.h"

struct VidConvertOptions {
    bool compact = false; // the records to write: compact, or classic
    int effort = 9;       // compression effort, 1 (fastest) to 9 (smallest)
};

// Told after each frame: frames written, frames in all.
using VidConvertProgress = void (*)(void* context, int64_t done, int64_t total);

// Writes OUT from IN under a temporary name beside OUT, synced, then renamed; OUT may not be
// IN. False with `error` (the file at fault, the frame) when IN cannot be read or OUT written:
// OUT is then as it was.
bool vid_convert(const std::string& in, const std::string& out, const VidConvertOptions& options,
                 VidError& error, VidConvertProgress progress = nullptr, void* context = nullptr);
