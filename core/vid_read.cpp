// Frames into callers' buffers; see vid_read.h.
#include "vid_read.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "file_offset.h"
#include "le_bytes.h"
#include "report.h"
#include "vid_format.h"

namespace {

bool fail(VidError& failure, VidResult result, const VidHeader& v, int frame,
          const std::string& detail)
{
    failure = VidError();
    failure.result = result;
    failure.frame = frame;
    failure.file = v.videoFileName;
    failure.detail = detail;
    return false;
}

bool fail(VidError& failure, const VidHeader& v)
{
    failure = v.lastError();
    return false;
}

bool has_pixels(VidHeader& v, VidError& failure)
{
    if (v.width > 0 && v.height > 0)
        return true;
    return fail(failure, VidResult::not_vid_file, v, -1,
                "its frames of " + std::to_string(v.width) + " x " + std::to_string(v.height) +
                    " pixels hold no pixels");
}

bool open_for_reading(VidHeader& v, VidError& failure)
{
    if (v.compressed_buffer != nullptr && v.file_open_read_or_write == 0)
        return true;
    return fail(failure, VidResult::not_open, v, -1, "it is not open for reading");
}

// One worker's frames: first + i, first + i + step, ...
void read_every(VidHeader& reader, int first, int count, int i, int step, unsigned char* out,
                VidError& failure)
{
    const size_t frame = size_t(reader.pixmap_size);
    for (int k = i; k < count; k += step) {
        unsigned char* dst = out + frame * size_t(k);
        if (reader.recordBytes(first + k) == 0) {
            memset(dst, 0, frame);
            continue;
        }
        if (!reader.readFrameFromVideoFile(first + k)) {
            fail(failure, reader);
            return;
        }
        memcpy(dst, reader.pixmap, frame);
    }
}

} // namespace

bool vid_read_rgb(VidHeader& v, int first, int count, unsigned char* out, int workers,
                  VidError& failure)
{
    if (!open_for_reading(v, failure))
        return false;
    if (count < 1 || first < 0 || first > v.num_frames - count)
        return fail(failure, VidResult::frame_out_of_range, v, -1,
                    "frames " + std::to_string(first) + " to " +
                        std::to_string(int64_t(first) + count - 1) + " are outside its " +
                        std::to_string(v.num_frames) + " frames");
    if (!has_pixels(v, failure))
        return false;
    workers = std::max(1, std::min(workers, count));
    std::vector<std::unique_ptr<VidHeader>> others;
    for (int i = 1; i < workers; i++) {
        std::unique_ptr<VidHeader> other(new (std::nothrow)
                                             VidHeader(v.videoFileName, v.error_outfile));
        // Only the very file v has open, holding the same frames, may serve v's frames.
        if (!other || other->compressed_buffer == nullptr ||
            !vid_same_file(v.videoFile, other->videoFile) || other->pixmap_size != v.pixmap_size ||
            other->num_frames < first + count ||
            other->vid_is_bayer_interpolated != v.vid_is_bayer_interpolated ||
            other->vid_uses_two_bytes_per_pixel != v.vid_uses_two_bytes_per_pixel)
            break;
        others.push_back(std::move(other));
    }
    const int step = int(others.size()) + 1;
    std::vector<VidError> failures(static_cast<size_t>(step));
    // The caller's report capture, if any, goes on in each worker (reports are then dropped).
    std::string* caller_capture = vid_report_capture(nullptr);
    vid_report_capture(caller_capture);
    std::vector<std::thread> threads;
    for (int i = 1; i < step; i++)
        threads.emplace_back([&, i] {
            std::string scratch;
            if (caller_capture != nullptr)
                vid_report_capture(&scratch);
            read_every(*others[size_t(i - 1)], first, count, i, step, out, failures[size_t(i)]);
            vid_report_capture(nullptr);
        });
    read_every(v, first, count, 0, step, out, failures[0]);
    for (std::thread& t : threads)
        t.join();
    // The earliest failed frame is the one reported.
    const VidError* earliest = nullptr;
    for (const VidError& f : failures)
        if (f.frame >= 0 && (earliest == nullptr || f.frame < earliest->frame))
            earliest = &f;
    if (earliest != nullptr) {
        failure = *earliest;
        return false;
    }
    return true;
}

bool vid_read_mosaic(VidHeader& v, int k, void* out, bool host_order, VidError& failure)
{
    if (!open_for_reading(v, failure))
        return false;
    if (v.vid_is_bayer_interpolated != 1)
        return fail(failure, VidResult::bad_argument, v, -1,
                    "it holds RGB frames, not Bayer mosaics");
    if (k < 0 || k >= v.num_frames)
        return fail(failure, VidResult::frame_out_of_range, v, k,
                    "the file holds " + std::to_string(v.num_frames) + " frames");
    if (!has_pixels(v, failure))
        return false;
    const size_t samples = size_t(v.width) * size_t(v.height);
    const bool two = v.vid_uses_two_bytes_per_pixel == 1;
    const size_t bytes = two ? 2 * samples : samples;
    if (v.recordBytes(k) == 0) {
        memset(out, 0, bytes);
        return true;
    }
    if (!v.readSamplesFromVideoFile(k))
        return fail(failure, v);
    if (v.uncompressed_buffer == nullptr) { // only black frames can be read from this file
        memset(out, 0, bytes);
        return true;
    }
    if (two && host_order) {
        uint16_t* dst = static_cast<uint16_t*>(out);
        const unsigned char* s = v.uncompressed_buffer;
        for (size_t i = 0; i < samples; i++)
            dst[i] = get_le16(s + 2 * i);
    } else {
        memcpy(out, v.uncompressed_buffer, bytes);
    }
    return true;
}
