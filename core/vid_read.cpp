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

bool fail(VidReadFailure& failure, const std::string& message, int error_number, int frame)
{
    failure.message = message;
    failure.error_number = error_number;
    failure.frame = frame;
    return false;
}

bool has_pixels(VidHeader& v, VidReadFailure& failure)
{
    if (v.width > 0 && v.height > 0)
        return true;
    return fail(failure,
                std::string(v.videoFileName) + ": its frames of " + std::to_string(v.width) +
                    " x " + std::to_string(v.height) + " pixels hold no pixels",
                0, -1);
}

// One worker's frames: first + i, first + i + step, ...
void read_every(VidHeader& reader, int first, int count, int i, int step, unsigned char* out,
                VidReadFailure& failure)
{
    const size_t frame = size_t(reader.pixmap_size);
    for (int k = i; k < count; k += step) {
        unsigned char* dst = out + frame * size_t(k);
        if (reader.recordBytes(first + k) == 0) {
            memset(dst, 0, frame);
            continue;
        }
        if (!reader.readFrameFromVideoFile(first + k)) {
            fail(failure, reader.errMessage, reader.error_number, first + k);
            return;
        }
        memcpy(dst, reader.pixmap, frame);
    }
}

} // namespace

bool vid_read_rgb(VidHeader& v, int first, int count, unsigned char* out, int workers,
                  VidReadFailure& failure)
{
    if (v.compressed_buffer == nullptr || v.file_open_read_or_write != 0)
        return fail(failure, std::string(v.videoFileName) + ": not open for reading", 0, -1);
    if (count < 1 || first < 0 || first > v.num_frames - count)
        return fail(failure,
                    std::string(v.videoFileName) + ": frames " + std::to_string(first) + " to " +
                        std::to_string(int64_t(first) + count - 1) + " are outside its " +
                        std::to_string(v.num_frames) + " frames",
                    0, first);
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
    std::vector<VidReadFailure> failures(static_cast<size_t>(step));
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
    const VidReadFailure* earliest = nullptr;
    for (const VidReadFailure& f : failures)
        if (f.frame >= 0 && (earliest == nullptr || f.frame < earliest->frame))
            earliest = &f;
    if (earliest != nullptr) {
        failure = *earliest;
        return false;
    }
    return true;
}

bool vid_read_mosaic(VidHeader& v, int k, void* out, bool host_order, VidReadFailure& failure)
{
    if (v.compressed_buffer == nullptr || v.file_open_read_or_write != 0)
        return fail(failure, std::string(v.videoFileName) + ": not open for reading", 0, -1);
    if (v.vid_is_bayer_interpolated != 1)
        return fail(failure, std::string(v.videoFileName) + " holds RGB frames, not Bayer mosaics",
                    0, k);
    if (k < 0 || k >= v.num_frames)
        return fail(failure,
                    std::string(v.videoFileName) + ": frame " + std::to_string(k) +
                        " is outside its " + std::to_string(v.num_frames) + " frames",
                    0, k);
    if (!has_pixels(v, failure))
        return false;
    const size_t samples = size_t(v.width) * size_t(v.height);
    const bool two = v.vid_uses_two_bytes_per_pixel == 1;
    const size_t bytes = two ? 2 * samples : samples;
    if (v.recordBytes(k) == 0) {
        memset(out, 0, bytes);
        return true;
    }
    if (!v.readFrameFromVideoFile(k))
        return fail(failure, v.errMessage, v.error_number, k);
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

VidTail vid_records_behind(VidHeader& v)
{
    VidTail tail;
    if (v.compressed_buffer == nullptr || v.videoFile == nullptr || v.num_frames == 0)
        return tail;
    int64_t size = -1;
    if (vid_fseek(v.videoFile, 0, SEEK_END) == 0)
        size = vid_ftell(v.videoFile);
    tail.file_size = size;
    const int last = v.num_frames - 1;
    int64_t length = v.recordBytes(last);
    if (size < 0 || length < 0)
        return tail;
    int64_t at = v.offsets[last] + length;
    tail.records_end = at;
    while (at < size) {
        unsigned char head[12 + 8 * 8];
        size_t got = 0;
        if (vid_fseek(v.videoFile, at, SEEK_SET) == 0)
            got = fread(head, 1, size - at < int64_t(sizeof head) ? size_t(size - at) : sizeof head,
                        v.videoFile);
        int64_t record = blocked_compress_length(head, (unsigned long)got);
        if (record <= 0 || record > size - at) {
            tail.torn = true;
            break;
        }
        at += record;
        tail.whole_records++;
        tail.records_end = at;
    }
    return tail;
}

bool vid_is_empty(VidHeader& v)
{
    if (v.compressed_buffer == nullptr || v.videoFile == nullptr || v.num_frames != 0)
        return false;
    int64_t size = -1;
    if (vid_fseek(v.videoFile, 0, SEEK_END) == 0)
        size = vid_ftell(v.videoFile);
    if (size < kVidHeaderBytes || (size - kVidHeaderBytes) % kVidTableEntryBytes != 0 ||
        vid_fseek(v.videoFile, kVidHeaderBytes, SEEK_SET) != 0)
        return false;
    unsigned char chunk[8 * 512];
    for (int64_t left = size - kVidHeaderBytes; left > 0;) {
        size_t n = left < int64_t(sizeof chunk) ? size_t(left) : sizeof chunk;
        if (fread(chunk, 1, n, v.videoFile) != n)
            return false;
        for (size_t i = 0; i < n; i += 8) {
            int64_t entry = int64_t(get_le64(chunk + i));
            if (entry != 0 && entry != size)
                return false;
        }
        left -= int64_t(n);
    }
    return true;
}
