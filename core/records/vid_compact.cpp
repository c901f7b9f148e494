// Compact records (vid_compact.h): the filters, and the blocks on the codec's workers.
#include "vid_compact.h"

#include <zlib.h>
#ifdef VID_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cmath>
#include <cstring>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif
#include <new>
#include <vector>

#include "le_bytes.h"
#include "report.h"
#include "threading.h"

namespace {

const unsigned char kMarker[8] = {0x82, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18};
const uint32_t kLayoutVersion = 1;
// The most bytes one byte of a deflate stream can expand to.
const uint64_t kMaxDeflateExpansion = 1032;

// Rows up (and samples left) to the prediction of the same colour.
int colour_step(VidCompactFilter filter)
{
    return filter == VidCompactFilter::rgb ? 1 : 2;
}

uint16_t zigzag(uint16_t difference)
{
    return uint16_t((difference << 1) ^ uint16_t(-(difference >> 15)));
}

uint16_t unzigzag(uint16_t z)
{
    return uint16_t((z >> 1) ^ uint16_t(-(z & 1)));
}

// Byte rows (RGB: `left` 3, one-byte Bayer: 2): differences from the row `up` rows above, or
// in the block's first `up` rows from `left` bytes before.
void filter_bytes(const unsigned char* src, unsigned char* dst, size_t row_bytes, int rows, int up,
                  size_t left)
{
    for (int j = 0; j < rows; j++) {
        const unsigned char* s = src + size_t(j) * row_bytes;
        unsigned char* d = dst + size_t(j) * row_bytes;
        if (j >= up) {
            const unsigned char* above = s - size_t(up) * row_bytes;
            size_t i = 0;
#if defined(__SSE2__) || defined(_M_X64)
            for (; i + 16 <= row_bytes; i += 16)
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(d + i),
                    _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i))));
#endif
            for (; i < row_bytes; i++)
                d[i] = uint8_t(s[i] - above[i]);
            continue;
        }
        for (size_t i = 0; i < row_bytes; i++)
            d[i] = uint8_t(s[i] - (i >= left ? s[i - left] : 0));
    }
}

void unfilter_bytes(unsigned char* rows_data, size_t row_bytes, int rows, int up, size_t left)
{
    for (int j = 0; j < rows; j++) {
        unsigned char* r = rows_data + size_t(j) * row_bytes;
        if (j >= up) {
            const unsigned char* above = r - size_t(up) * row_bytes;
            size_t i = 0;
#if defined(__SSE2__) || defined(_M_X64)
            for (; i + 16 <= row_bytes; i += 16)
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(r + i),
                    _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i))));
#endif
            for (; i < row_bytes; i++)
                r[i] = uint8_t(r[i] + above[i]);
            continue;
        }
        for (size_t i = left; i < row_bytes; i++)
            r[i] = uint8_t(r[i] + r[i - left]);
    }
}

// Two-byte Bayer rows: zigzag differences from two rows up (the first two rows: two samples
// left), their low bytes as one plane of rows x width, then their high bytes.
void filter_bayer16(const unsigned char* src, unsigned char* dst, size_t width, int rows)
{
    const size_t row_bytes = 2 * width;
    const size_t plane = width * size_t(rows);
    for (int j = 0; j < rows; j++) {
        const unsigned char* s = src + size_t(j) * row_bytes;
        unsigned char* lo = dst + size_t(j) * width;
        unsigned char* hi = lo + plane;
        const unsigned char* above = j >= 2 ? s - 2 * row_bytes : nullptr;
        for (size_t x = 0; x < width; x++) {
            uint16_t v = get_le16(s + 2 * x);
            uint16_t p = above ? get_le16(above + 2 * x) : x >= 2 ? get_le16(s + 2 * x - 4) : 0;
            uint16_t z = zigzag(uint16_t(v - p));
            lo[x] = uint8_t(z);
            hi[x] = uint8_t(z >> 8);
        }
    }
}

// Undoes filter_bayer16 into `out` (rows x width two-byte samples) from the low plane at
// `lo` and the high plane at `hi`. The low plane may lie in the second half of `out` itself:
// each row's bytes are taken into `row` before its samples are written, and row j's samples
// never reach the low bytes of rows after j.
void unfilter_bayer16(unsigned char* out, const unsigned char* lo, const unsigned char* hi,
                      size_t width, int rows, unsigned char* row)
{
    const size_t row_bytes = 2 * width;
    for (int j = 0; j < rows; j++) {
        unsigned char* r = out + size_t(j) * row_bytes;
        memcpy(row, lo + size_t(j) * width, width);
        memcpy(row + width, hi + size_t(j) * width, width);
        const unsigned char* l = row;
        const unsigned char* h = row + width;
        if (j >= 2) {
            const unsigned char* above = r - 2 * row_bytes;
            size_t x = 0;
#if defined(__SSE2__) || defined(_M_X64)
            // Eight samples at a time: the bytes interleave into little-endian zigzag numbers.
            const __m128i one = _mm_set1_epi16(1), zero = _mm_setzero_si128();
            for (; x + 8 <= width; x += 8) {
                __m128i z =
                    _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(l + x)),
                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(h + x)));
                __m128i d =
                    _mm_xor_si128(_mm_srli_epi16(z, 1), _mm_sub_epi16(zero, _mm_and_si128(z, one)));
                __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + 2 * x));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(r + 2 * x), _mm_add_epi16(a, d));
            }
#endif
            for (; x < width; x++) {
                uint16_t v =
                    uint16_t(get_le16(above + 2 * x) + unzigzag(uint16_t(l[x] | (h[x] << 8))));
                r[2 * x] = uint8_t(v);
                r[2 * x + 1] = uint8_t(v >> 8);
            }
            continue;
        }
        for (size_t x = 0; x < width; x++) {
            uint16_t p = x >= 2 ? get_le16(r + 2 * x - 4) : 0;
            uint16_t v = uint16_t(p + unzigzag(uint16_t(l[x] | (h[x] << 8))));
            r[2 * x] = uint8_t(v);
            r[2 * x + 1] = uint8_t(v >> 8);
        }
    }
}

// Bits per byte of a plane's byte histogram (Shannon). Planes of noise (about 7 and more)
// gain little from deflate and are slow to expand from it: at the faster efforts they are
// stored instead.
double bits_per_byte(const unsigned char* data, size_t n)
{
    if (n == 0)
        return 0;
    size_t counts[256] = {};
    for (size_t i = 0; i < n; i++)
        counts[data[i]]++;
    double bits = 0;
    for (size_t c : counts)
        if (c != 0) {
            const double p = double(c) / double(n);
            bits -= p * std::log2(p);
        }
    return bits;
}

// Above this many bits per byte a plane is stored, by compression effort (9: never).
double store_above(int effort)
{
    return effort <= 1 ? 6.5 : effort == 2 ? 7.0 : effort < 9 ? 7.5 : 9.0;
}

// Expands one zlib stream into exactly `room` bytes; false otherwise.
class StreamExpander {
  public:
    StreamExpander() = default;
    StreamExpander(const StreamExpander&) = delete;
    StreamExpander& operator=(const StreamExpander&) = delete;
    ~StreamExpander()
    {
#ifdef VID_HAVE_LIBDEFLATE
        if (d_)
            libdeflate_free_decompressor(d_);
#endif
    }
    bool expand(unsigned char* dest, size_t room, const unsigned char* source, size_t length)
    {
#ifdef VID_HAVE_LIBDEFLATE
        if (!d_)
            d_ = libdeflate_alloc_decompressor();
        if (d_)
            return libdeflate_zlib_decompress(d_, source, length, dest, room, nullptr) ==
                   LIBDEFLATE_SUCCESS;
#endif
        uLongf produced = uLongf(room);
        return uncompress(dest, &produced, source, uLong(length)) == Z_OK && produced == room;
    }

  private:
#ifdef VID_HAVE_LIBDEFLATE
    libdeflate_decompressor* d_ = nullptr;
#endif
};

// One call's blocks and what each worker does with them.
struct Job {
    VidCompactFilter filter;
    size_t width = 0;
    size_t row_bytes = 0;
    unsigned blocks = 0;
    uint32_t row_end[kVidCompactMaxBlocks] = {};
    // Compression: the frame in, one stream per block out. Expansion: the streams in (at
    // stream_at[i], stream_length[i]), the frame out.
    const unsigned char* frame_in = nullptr;
    int effort = 9;
    std::vector<unsigned char> stream[kVidCompactMaxBlocks];
    unsigned char* frame_out = nullptr;
    const unsigned char* stream_at[kVidCompactMaxBlocks] = {};
    uint32_t stream_length[kVidCompactMaxBlocks] = {};
    const VidExpandedBytes* notify = nullptr;
    std::string* report = nullptr; // a worker that could not start is described here
};

uint32_t row_begin(const Job& job, unsigned i)
{
    return i == 0 ? 0 : job.row_end[i - 1];
}

struct Worker {
    Job* job = nullptr;
    unsigned first = 0, last = 0; // blocks [first, last)
    int work_done = 0;
};

// Appends the zlib stream of `n` bytes at `data` to `out`: stored when the plane is noise
// (store_above), else at the call's effort.
bool append_stream(std::vector<unsigned char>& out, const unsigned char* data, size_t n, int effort,
                   VidBlockCompressor& compressor, VidBlockCompressor& storer)
{
    const size_t at = out.size();
    out.resize(at + n + (n >> 12) + (n >> 14) + 5 * (n / 16384 + 1) + 64);
    unsigned long room = (unsigned long)(out.size() - at);
    const double bound = store_above(effort);
    VidBlockCompressor& chosen = bound < 8 && bits_per_byte(data, n) > bound ? storer : compressor;
    if (!chosen.compress(out.data() + at, room, data, n))
        return false;
    out.resize(at + room);
    return true;
}

void* compress_worker(void* arg)
{
    Worker& w = *static_cast<Worker*>(arg);
    Job& job = *w.job;
    w.work_done = 1;
    VidBlockCompressor compressor(job.effort), storer(0);
    std::vector<unsigned char> filtered;
    for (unsigned i = w.first; i < w.last; i++) {
        const uint32_t r0 = row_begin(job, i), rows = job.row_end[i] - r0;
        const size_t bytes = size_t(rows) * job.row_bytes;
        std::vector<unsigned char>& out = job.stream[i];
        try {
            filtered.resize(bytes);
            out.clear();
            vid_compact_filter_rows(job.frame_in + size_t(r0) * job.row_bytes, filtered.data(),
                                    int(job.width), int(rows), job.filter);
            if (job.filter == VidCompactFilter::bayer16) {
                // Two streams: the low plane (its length first), then the high plane.
                const size_t plane = bytes / 2;
                out.resize(4);
                bool ok =
                    append_stream(out, filtered.data(), plane, job.effort, compressor, storer);
                if (ok)
                    put_le32(out.data(), uint32_t(out.size() - 4));
                if (!ok || !append_stream(out, filtered.data() + plane, plane, job.effort,
                                          compressor, storer))
                    w.work_done = 0;
            } else if (!append_stream(out, filtered.data(), bytes, job.effort, compressor,
                                      storer)) {
                w.work_done = 0;
            }
        } catch (const std::bad_alloc&) {
            w.work_done = 0;
        }
    }
    return nullptr;
}

void* expand_worker(void* arg)
{
    Worker& w = *static_cast<Worker*>(arg);
    Job& job = *w.job;
    w.work_done = 1;
    StreamExpander expander;
    std::vector<unsigned char> row, high;
    for (unsigned i = w.first; i < w.last; i++) {
        const uint32_t r0 = row_begin(job, i), rows = job.row_end[i] - r0;
        unsigned char* out = job.frame_out + size_t(r0) * job.row_bytes;
        const size_t bytes = size_t(rows) * job.row_bytes;
        const unsigned char* data = job.stream_at[i];
        const size_t length = job.stream_length[i];
        if (job.filter != VidCompactFilter::bayer16) {
            if (!expander.expand(out, bytes, data, length)) {
                w.work_done = 0;
                continue;
            }
            vid_compact_unfilter_rows(out, int(job.width), int(rows), job.filter);
            continue;
        }
        // The low plane expands into the second half of the block's rows, the high plane
        // beside; then the rows are rebuilt in place.
        const size_t plane = bytes / 2;
        const size_t low_length = length >= 4 ? get_le32(data) : 0;
        try {
            row.resize(job.row_bytes);
            high.resize(plane);
        } catch (const std::bad_alloc&) {
            w.work_done = 0;
            continue;
        }
        if (length < 4 || low_length > length - 4 ||
            !expander.expand(out + plane, plane, data + 4, low_length) ||
            !expander.expand(high.data(), plane, data + 4 + low_length, length - 4 - low_length)) {
            w.work_done = 0;
            continue;
        }
        unfilter_bayer16(out, out + plane, high.data(), job.width, int(rows), row.data());
    }
    if (w.work_done && w.first < w.last && job.notify != nullptr && job.notify->ready != nullptr)
        job.notify->ready(job.notify->context,
                          (unsigned long)(size_t(row_begin(job, w.first)) * job.row_bytes),
                          (unsigned long)(size_t(job.row_end[w.last - 1]) * job.row_bytes));
    return nullptr;
}

// Runs the job's blocks on min(blocks, cores) workers, each a run of neighbouring blocks, the
// first on the calling thread; false when a block failed or a worker could not start.
bool run(Job& job, void* (*entry)(void*), int cores)
{
    int threads = cores < 1 ? 1 : cores;
    if (unsigned(threads) > job.blocks)
        threads = int(job.blocks);
    Worker workers[kVidCompactMaxBlocks];
    const unsigned per = (job.blocks + unsigned(threads) - 1) / unsigned(threads);
    for (int t = 0; t < threads; t++) {
        workers[t].job = &job;
        workers[t].first = per * unsigned(t) < job.blocks ? per * unsigned(t) : job.blocks;
        workers[t].last = per * unsigned(t + 1) < job.blocks ? per * unsigned(t + 1) : job.blocks;
    }
    bool ok = VID_FAN_OUT(threads, entry, workers, job.report);
    for (int t = 0; t < threads; t++)
        ok = ok && workers[t].work_done;
    return ok;
}

void cut_rows(Job& job, int height)
{
    for (unsigned i = 0; i < job.blocks; i++)
        job.row_end[i] = uint32_t(uint64_t(height) * (i + 1) / job.blocks);
}

} // namespace

VidCompactFilter vid_compact_filter(VidKind kind)
{
    return kind == VidKind::bayer16  ? VidCompactFilter::bayer16
           : kind == VidKind::bayer8 ? VidCompactFilter::bayer8
                                     : VidCompactFilter::rgb;
}

int vid_compact_pixel_bytes(VidCompactFilter filter)
{
    return filter == VidCompactFilter::rgb ? 3 : filter == VidCompactFilter::bayer16 ? 2 : 1;
}

unsigned vid_compact_block_count(uint64_t frame_bytes, int height)
{
    uint64_t n = (frame_bytes + min_block_size - 1) / min_block_size;
    if (n > kVidCompactMaxBlocks)
        n = kVidCompactMaxBlocks;
    if (n > uint64_t(height > 0 ? height : 1))
        n = uint64_t(height > 0 ? height : 1);
    return unsigned(n < 1 ? 1 : n);
}

void vid_compact_filter_rows(const unsigned char* rows, unsigned char* filtered, int width,
                             int row_count, VidCompactFilter filter)
{
    const int step = colour_step(filter);
    if (filter == VidCompactFilter::bayer16)
        filter_bayer16(rows, filtered, size_t(width), row_count);
    else
        filter_bytes(rows, filtered, size_t(width) * size_t(vid_compact_pixel_bytes(filter)),
                     row_count, step, size_t(filter == VidCompactFilter::rgb ? 3 : 2));
}

void vid_compact_unfilter_rows(unsigned char* rows, int width, int row_count,
                               VidCompactFilter filter)
{
    if (filter == VidCompactFilter::bayer16) {
        const size_t plane = size_t(width) * size_t(row_count);
        std::vector<unsigned char> row(2 * size_t(width)), high(rows + plane, rows + 2 * plane);
        // The low plane moves to the second half, where the decoder expands it.
        memmove(rows + plane, rows, plane);
        unfilter_bayer16(rows, rows + plane, high.data(), size_t(width), row_count, row.data());
        return;
    }
    unfilter_bytes(rows, size_t(width) * size_t(vid_compact_pixel_bytes(filter)), row_count,
                   colour_step(filter), size_t(filter == VidCompactFilter::rgb ? 3 : 2));
}

bool vid_is_compact_record(const unsigned char* head, unsigned long available)
{
    return head != nullptr && available >= sizeof kMarker && memcmp(head, kMarker, 8) == 0;
}

bool vid_compact_head(const unsigned char* head, unsigned long available, VidCompactHead& out)
{
    return vid_is_compact_record(head, available) &&
           vid_compact_head_of_version(head, available, kLayoutVersion, out);
}

bool vid_compact_head_of_version(const unsigned char* head, unsigned long available,
                                 unsigned version, VidCompactHead& out)
{
    if (head == nullptr || available < kVidCompactHeadBytes)
        return false;
    const unsigned f = head[8];
    if (f < 1 || f > 3 || head[9] != version || head[10] != 0 || head[11] != 0)
        return false;
    out.filter = VidCompactFilter(f);
    out.width = get_le32(head + 12);
    out.height = get_le32(head + 16);
    out.blocks = get_le32(head + 20);
    if (out.width < 1 || out.width > 0xFFFF || out.height < 1 || out.height > 0xFFFF ||
        out.blocks < 1 || out.blocks > kVidCompactMaxBlocks || out.blocks > out.height ||
        available < kVidCompactHeadBytes + 8ul * out.blocks)
        return false;
    uint32_t previous = 0;
    int64_t length = kVidCompactHeadBytes + 8 * int64_t(out.blocks);
    for (uint32_t i = 0; i < out.blocks; i++) {
        const uint32_t end = get_le32(head + kVidCompactHeadBytes + 4 * i);
        if (end <= previous || end > out.height)
            return false;
        previous = end;
        length += get_le32(head + kVidCompactHeadBytes + 4 * (out.blocks + i));
    }
    if (previous != out.height)
        return false;
    out.length = length;
    out.expanded_bytes =
        uint64_t(out.width) * out.height * uint64_t(vid_compact_pixel_bytes(out.filter));
    return true;
}

int vid_compact_compress_on_cores(unsigned char* record, unsigned long& record_size,
                                  const unsigned char* frame, int width, int height,
                                  VidCompactFilter filter, int compression_effort, int cores,
                                  std::string* report)
{
    if (record == nullptr || frame == nullptr || width < 1 || height < 1 || width > 0xFFFF ||
        height > 0xFFFF || compression_effort < min_compression_effort ||
        compression_effort > max_compression_effort)
        return VID_CODEC_BLOCK_FAILED;
    Job job;
    job.filter = filter;
    job.width = size_t(width);
    job.row_bytes = size_t(width) * size_t(vid_compact_pixel_bytes(filter));
    job.blocks = vid_compact_block_count(uint64_t(job.row_bytes) * uint64_t(height), height);
    cut_rows(job, height);
    job.frame_in = frame;
    job.effort = compression_effort;
    job.report = report;
    if (!run(job, compress_worker, cores))
        return VID_CODEC_BLOCK_FAILED;
    uint64_t total = kVidCompactHeadBytes + 8ull * job.blocks;
    for (unsigned i = 0; i < job.blocks; i++)
        total += job.stream[i].size();
    if (total > record_size)
        return VID_CODEC_BLOCK_FAILED;
    memcpy(record, kMarker, 8);
    record[8] = uint8_t(filter);
    record[9] = kLayoutVersion;
    record[10] = record[11] = 0;
    put_le32(record + 12, uint32_t(width));
    put_le32(record + 16, uint32_t(height));
    put_le32(record + 20, job.blocks);
    unsigned char* at = record + kVidCompactHeadBytes + 8 * job.blocks;
    for (unsigned i = 0; i < job.blocks; i++) {
        put_le32(record + kVidCompactHeadBytes + 4 * i, job.row_end[i]);
        put_le32(record + kVidCompactHeadBytes + 4 * (job.blocks + i),
                 uint32_t(job.stream[i].size()));
        memcpy(at, job.stream[i].data(), job.stream[i].size());
        at += job.stream[i].size();
    }
    record_size = (unsigned long)total;
    return VID_CODEC_OK;
}

int vid_compact_compress(unsigned char* record, unsigned long& record_size,
                         const unsigned char* frame, int width, int height, VidCompactFilter filter,
                         int compression_effort, std::string* report)
{
    return vid_compact_compress_on_cores(record, record_size, frame, width, height, filter,
                                         compression_effort, get_num_processing_cores(), report);
}

int vid_compact_expand_on_cores(unsigned char* frame, unsigned long frame_size,
                                const unsigned char* record, unsigned long record_size,
                                const VidExpandedBytes* notify, int cores, std::string* report)
{
    VidCompactHead head;
    if (!vid_compact_head(record, record_size, head) || head.length != int64_t(record_size))
        return VID_CODEC_DATA_ERROR;
    if (frame == nullptr || frame_size != head.expanded_bytes)
        return VID_CODEC_BUF_ERROR;
    Job job;
    job.filter = head.filter;
    job.width = head.width;
    job.row_bytes = size_t(head.width) * size_t(vid_compact_pixel_bytes(head.filter));
    job.blocks = head.blocks;
    job.frame_out = frame;
    job.notify = notify;
    job.report = report;
    const unsigned char* at = record + kVidCompactHeadBytes + 8 * head.blocks;
    for (unsigned i = 0; i < head.blocks; i++) {
        job.row_end[i] = get_le32(record + kVidCompactHeadBytes + 4 * i);
        job.stream_length[i] = get_le32(record + kVidCompactHeadBytes + 4 * (head.blocks + i));
        job.stream_at[i] = at;
        at += job.stream_length[i];
        // No stream can expand to more than 1032 times its length: refused before any work.
        const uint64_t rows = job.row_end[i] - row_begin(job, i);
        if (rows * job.row_bytes > uint64_t(job.stream_length[i]) * kMaxDeflateExpansion)
            return VID_CODEC_DATA_ERROR;
    }
    return run(job, expand_worker, cores) ? VID_CODEC_OK : VID_CODEC_BLOCK_FAILED;
}

int vid_compact_expand(unsigned char* frame, unsigned long frame_size, const unsigned char* record,
                       unsigned long record_size, const VidExpandedBytes* notify,
                       std::string* report)
{
    return vid_compact_expand_on_cores(frame, frame_size, record, record_size, notify,
                                       get_num_processing_cores(), report);
}
