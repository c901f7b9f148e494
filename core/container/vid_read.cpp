// Frames into callers' buffers; see vid_read.h.
#include "vid_read.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "vid_files.h"
#include "le_bytes.h"
#include "threading.h"
#include "vid_kind.h"
#include "vid_records.h"
#include "vid_render.h"
#include "vid_format.h"

namespace {

bool fail(VidError& failure, VidResult result, const VidHeader& v, int frame,
          const std::string& detail)
{
    failure = vid_error(result, v.videoFileName, detail, 0, frame);
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
    if (v.isOpen() && v.file_open_read_or_write == 0)
        return true;
    return fail(failure, VidResult::not_open, v, -1, "it is not open for reading");
}

// The rows of one frame, each delivered to the sink exactly once: on the codec's workers as
// their blocks finish (RGB files), the rest after the read. Nothing allocated: a host that
// ends the call at a report without unwinding (the MATLAB build) leaves nothing behind.
struct FrameRows {
    const VidRowSink* sink;
    int k; // within the call
    const unsigned char* pixmap;
    size_t width, height;
    static constexpr int kSlots = int(max_compress_MT_blocks); // one range per codec worker at most
    std::atomic<int> told{0};
    size_t first[kSlots], last[kSlots];

    // The whole rows inside bytes [begin, end) of the frame, on a codec worker.
    static void ready(void* context, unsigned long begin, unsigned long end)
    {
        FrameRows* job = static_cast<FrameRows*>(context);
        const size_t row_bytes = 3 * job->width;
        if (row_bytes == 0)
            return;
        size_t from = (size_t(begin) + row_bytes - 1) / row_bytes;
        size_t to = std::min(size_t(end) / row_bytes, job->height);
        if (from >= to)
            return;
        int slot = job->told.fetch_add(1);
        if (slot >= kSlots)
            return; // never: the codec has no more workers than blocks; left for afterwards
        job->first[slot] = from;
        job->last[slot] = to;
        job->sink->rows(job->sink->context, job->k, from, to, job->pixmap);
    }

    // After the read: the rows no worker delivered.
    void rest()
    {
        int n = std::min(told.load(), kSlots);
        for (int i = 1; i < n; i++)
            for (int j = i; j > 0 && first[j] < first[j - 1]; j--) {
                std::swap(first[j], first[j - 1]);
                std::swap(last[j], last[j - 1]);
            }
        size_t y = 0;
        for (int i = 0; i <= n; i++) {
            const size_t gap_end = i < n ? first[i] : height;
            if (gap_end > y)
                sink->rows(sink->context, k, y, gap_end, pixmap);
            if (i < n && last[i] > y)
                y = last[i];
        }
    }
};

// A described clip's frame k rendered into the reader's pixmap (RGB).
bool render_one(VidHeader& reader, int k, const VidPicture& picture, VidError& failure)
{
    if (!reader.readSamplesFromVideoFile(k))
        return fail(failure, reader);
    std::string report;
    if (!vid_render8(picture.sensor, reader.uncompressed_buffer,
                     reader.vid_uses_two_bytes_per_pixel == 1 ? 2 : 1, reader.width, reader.height,
                     reader.pixmap, 3, picture.srgb, &report))
        return fail(failure, VidResult::out_of_memory, reader, k, "it could not be rendered");
    return true;
}

bool rendered(const VidHeader& reader, const VidPicture* picture)
{
    return picture != nullptr && picture->sensor.described && reader.vid_is_bayer_interpolated == 1;
}

// Frame first + k of `reader` to the sink: black rows for a zero-length record.
bool read_one(VidHeader& reader, int first, int k, const VidRowSink& sink, VidError& failure,
              const VidPicture* picture)
{
    if (reader.recordBytes(first + k) == 0) {
        sink.rows(sink.context, k, 0, size_t(reader.height), nullptr);
        return true;
    }
    if (!reader.frameBuffers())
        return fail(failure, reader);
    if (rendered(reader, picture)) {
        if (!render_one(reader, first + k, *picture, failure))
            return false;
        sink.rows(sink.context, k, 0, size_t(reader.height), reader.pixmap);
        return true;
    }
    FrameRows job;
    job.sink = &sink;
    job.k = k;
    job.pixmap = reader.pixmap;
    job.width = size_t(reader.width);
    job.height = size_t(reader.height);
    VidExpandedBytes notify{&FrameRows::ready, &job};
    if (!reader.readFrameFromVideoFile(first + k, &notify))
        return fail(failure, reader);
    job.rest();
    return true;
}

// One worker of a side-by-side read: frames k = i, i + step, ... of the call, on its reader.
struct ReadWorker {
    VidHeader* reader = nullptr;
    int first = 0, count = 0, i = 0, step = 1;
    const VidRowSink* sink = nullptr;
    const VidPicture* picture = nullptr;
    bool ran = false;
    VidError failure;
};

void* read_every(void* arg)
{
    ReadWorker& w = *static_cast<ReadWorker*>(arg);
    w.ran = true;
    for (int k = w.i; k < w.count; k += w.step)
        if (!read_one(*w.reader, w.first, k, *w.sink, w.failure, w.picture))
            break;
    return nullptr;
}

// Frames [first, first + count) of the open reader v side by side on `workers` readers.
bool read_side_by_side(VidHeader& v, int first, int count, const VidRowSink& sink, int workers,
                       VidError& failure, const VidPicture* picture)
{
    std::vector<std::unique_ptr<VidHeader>> others;
    for (int i = 1; i < workers && i < kVidMaxWorkers; i++) {
        std::unique_ptr<VidHeader> other(new (std::nothrow)
                                             VidHeader(v.videoFileName, v.error_outfile));
        // Only the very file v has open, holding the same frames, may serve v's frames.
        if (!other || !other->isOpen() || !vid_same_file(v.videoFile, other->videoFile) ||
            other->pixmap_size != v.pixmap_size || other->num_frames < first + count ||
            other->vid_is_bayer_interpolated != v.vid_is_bayer_interpolated ||
            other->vid_uses_two_bytes_per_pixel != v.vid_uses_two_bytes_per_pixel)
            break;
        others.push_back(std::move(other));
    }
    const int step = int(others.size()) + 1;
    std::vector<ReadWorker> jobs(static_cast<size_t>(step));
    for (int i = 0; i < step; i++) {
        ReadWorker& w = jobs[size_t(i)];
        w.reader = i == 0 ? &v : others[size_t(i - 1)].get();
        w.first = first;
        w.count = count;
        w.i = i;
        w.step = step;
        w.sink = &sink;
        w.picture = picture;
    }
    // A worker that could not start leaves its frames unread: they are read here afterwards.
    if (!VID_FAN_OUT(step, read_every, jobs.data(), nullptr))
        for (ReadWorker& w : jobs)
            if (!w.ran) {
                w.reader = &v;
                read_every(&w);
            }
    // The earliest failed frame is the one reported.
    const VidError* earliest = nullptr;
    for (const ReadWorker& w : jobs)
        if (w.failure.result != VidResult::ok &&
            (earliest == nullptr || w.failure.frame < earliest->frame))
            earliest = &w.failure;
    if (earliest != nullptr) {
        failure = *earliest;
        return false;
    }
    return true;
}

struct CopyInto {
    unsigned char* out;
    size_t frame_bytes, row_bytes;
    static void rows(void* context, int k, size_t begin, size_t end, const unsigned char* frame)
    {
        const CopyInto* c = static_cast<const CopyInto*>(context);
        if (c->row_bytes == 0 || end <= begin)
            return; // frames without pixels: nothing to copy (and maybe no buffer)
        unsigned char* dst = c->out + c->frame_bytes * size_t(k) + c->row_bytes * begin;
        if (frame == nullptr)
            memset(dst, 0, c->row_bytes * (end - begin));
        else
            memcpy(dst, frame + c->row_bytes * begin, c->row_bytes * (end - begin));
    }
};

} // namespace

int vid_read_workers(const VidHeader& v, int count)
{
    // A frame of B bytes expands as ceil(B / min_block_size) blocks (at most 8), each keeping
    // one processor busy: frames run side by side only on processors beyond that.
    const uint64_t blocks = std::max<uint64_t>(
        1, std::min<uint64_t>(max_compress_MT_blocks,
                              (uint64_t(v.uncompressed_buffer_size) + min_block_size - 1) /
                                  min_block_size));
    const int workers = int(std::max<uint64_t>(1, uint64_t(get_num_processing_cores()) / blocks));
    return std::max(1, std::min(workers, count));
}

bool vid_read_frames(VidHeader& v, int first, int count, const VidRowSink& sink, int workers,
                     VidError& failure, const VidPicture* picture)
{
    if (!open_for_reading(v, failure))
        return false;
    if (count < 1)
        return true;
    // A frame outside the file is refused by the reader itself, with the report its callers
    // (clipReadMex) have always given.
    if (workers <= 0)
        workers = vid_read_workers(v, count);
    workers = std::max(1, std::min(workers, count));
    if (workers > 1 && first >= 0 && first <= v.num_frames - count)
        return read_side_by_side(v, first, count, sink, workers, failure, picture);
    for (int k = 0; k < count; k++)
        if (!read_one(v, first, k, sink, failure, picture))
            return false;
    return true;
}

bool vid_read_rgb(VidHeader& v, int first, int count, unsigned char* out, int workers,
                  VidError& failure, const VidPicture* picture)
{
    CopyInto copy{out, size_t(v.pixmap_size), 3 * size_t(v.width > 0 ? v.width : 0)};
    return vid_read_frames(v, first, count, VidRowSink{&CopyInto::rows, &copy}, workers, failure,
                           picture);
}

VidPicture vid_picture(VidHeader& v)
{
    VidPicture p;
    p.kind = vid_kind(v);
    p.sensor = vid_sensor(v, p.kind);
    return p;
}

bool vid_read_picture(VidHeader& v, int k, const VidPicture& picture, void* out, int channels,
                      bool sixteen, VidError& failure)
{
    if (!open_for_reading(v, failure) || !has_pixels(v, failure))
        return false;
    if (k < 0 || k >= v.num_frames)
        return fail(failure, VidResult::frame_out_of_range, v, k,
                    "the file holds " + std::to_string(v.num_frames) + " frames");
    const bool mono = vid_kind_is_mono(picture.kind);
    if (channels != 3 && !(channels == 1 && mono))
        return fail(failure, VidResult::bad_argument, v, -1,
                    "only mono frames are pictured as one plane");
    const size_t values = size_t(v.width) * size_t(v.height) * size_t(channels);
    if (v.recordBytes(k) == 0) {
        memset(out, 0, values * (sixteen ? 2 : 1));
        return true;
    }
    if (!v.frameBuffers())
        return fail(failure, v);
    if (v.vid_is_bayer_interpolated != 1) { // RGB files
        if (!v.readFrameFromVideoFile(k))
            return fail(failure, v);
        if (!sixteen) {
            memcpy(out, v.pixmap, values);
        } else {
            uint16_t* o = static_cast<uint16_t*>(out);
            for (size_t i = 0; i < values; i++)
                o[i] = uint16_t(v.pixmap[i] * 257);
        }
        return true;
    }
    if (!sixteen && channels == 3 && !picture.sensor.described) { // as clips always have been
        if (!v.readFrameFromVideoFile(k))
            return fail(failure, v);
        memcpy(out, v.pixmap, values);
        return true;
    }
    if (!v.readSamplesFromVideoFile(k))
        return fail(failure, v);
    std::string report;
    const int bytes = v.vid_uses_two_bytes_per_pixel == 1 ? 2 : 1;
    const bool ok =
        sixteen ? vid_render16(picture.sensor, v.uncompressed_buffer, bytes, v.width, v.height,
                               static_cast<uint16_t*>(out), channels, &report)
                : vid_render8(picture.sensor, v.uncompressed_buffer, bytes, v.width, v.height,
                              static_cast<unsigned char*>(out), channels, picture.srgb, &report);
    if (!ok)
        return fail(failure, VidResult::out_of_memory, v, k, "it could not be rendered");
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
