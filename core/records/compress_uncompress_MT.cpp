// Multi-threaded block codec (see compress_uncompress_MT.h for the buffer layout). Its
// workers are started and joined through the fan-out of threading.h.
#include "threading.h"
#include "compress_uncompress_MT.h"

// Blocks, offsets and lengths of the format are unsigned 32-bit values.
using uint = unsigned int;
#include "report.h"

#include "le_bytes.h"

#include <zlib.h>
#ifdef VID_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

// ---------------------------------------------------------------------------------------
// The codec

namespace {

// Every offset and length of the format is an unsigned 32-bit value.
const uint64_t max_format_value = 0xFFFFFFFFu;
// The most bytes one byte of a deflate stream can expand to.
const uint64_t max_deflate_expansion = 1032;

uint64_t min_u64(uint64_t a, uint64_t b)
{
    return a < b ? a : b;
}

// The working arrays of one codec call, freed on every return.
struct PartitionArrays {
    uint* compressed_block_partitions = nullptr;
    uint* uncompressed_block_partitions = nullptr;
    uint* compressed_block_sizes = nullptr;

    ~PartitionArrays()
    {
        delete[] compressed_block_partitions;
        delete[] uncompressed_block_partitions;
        delete[] compressed_block_sizes;
    }
};

// Expands single zlib streams with the verdicts and outputs of zlib's uncompress. With
// libdeflate, a stream is decoded by libdeflate first, which is much faster on our frames.
// libdeflate may write scratch bytes anywhere in the room it is given, also past the end
// of the data it produces, so the room is copied first: when libdeflate refuses a stream
// the room is restored and zlib runs on it, and when a stream ends early the bytes past
// its end are restored. Rooms larger than max_libdeflate_room go to zlib alone, so the
// copy stays small.
class BlockExpander {
  public:
    BlockExpander() = default;
    BlockExpander(const BlockExpander&) = delete;
    BlockExpander& operator=(const BlockExpander&) = delete;
    ~BlockExpander()
    {
#ifdef VID_HAVE_LIBDEFLATE
        if (decompressor)
            libdeflate_free_decompressor(decompressor);
        delete[] backup;
#endif
    }

    int expand(unsigned char* dest, unsigned long& dest_len, const unsigned char* source,
               unsigned long source_len)
    {
#ifdef VID_HAVE_LIBDEFLATE
        if (dest && dest_len <= max_libdeflate_room && prepare(dest_len)) {
            memcpy(backup, dest, dest_len);
            size_t produced = 0;
            libdeflate_result r = libdeflate_zlib_decompress(decompressor, source, source_len, dest,
                                                             dest_len, &produced);
            if (r == LIBDEFLATE_SUCCESS && produced <= dest_len) {
                memcpy(dest + produced, backup + produced, dest_len - produced);
                dest_len = produced;
                return Z_OK;
            }
            memcpy(dest, backup, dest_len);
        }
#endif
        return uncompress(dest, &dest_len, source, source_len);
    }

  private:
#ifdef VID_HAVE_LIBDEFLATE
    static const unsigned long max_libdeflate_room = 16ul << 20;

    libdeflate_decompressor* decompressor = nullptr;
    unsigned char* backup = nullptr;
    unsigned long backup_capacity = 0;

    // Makes the decompressor and a copy area of at least room bytes; false when either
    // cannot be allocated (the stream then goes to zlib alone).
    bool prepare(unsigned long room)
    {
        if (!decompressor)
            decompressor = libdeflate_alloc_decompressor();
        if (!decompressor)
            return false;
        if (room > backup_capacity || !backup) {
            delete[] backup;
            backup_capacity = 0;
            backup = new (std::nothrow) unsigned char[room ? room : 1];
            if (!backup)
                return false;
            backup_capacity = room;
        }
        return true;
    }
#endif
};

void* compress_MT_thread(void* thread_arg)
{
    static_cast<Compress_MT_datastruct*>(thread_arg)->compress_datastruct();
    return nullptr;
}

void* uncompress_MT_thread(void* thread_arg)
{
    static_cast<Compress_MT_datastruct*>(thread_arg)->uncompress_datastruct();
    return nullptr;
}

// Runs one worker per record (record 0 on the calling thread) and joins them all; false when a
// worker could not start (reported) or any block of any worker failed.
bool run_workers(int num_threads, Compress_MT_datastruct* records, void* (*entry)(void*),
                 std::string* report)
{
    bool ok = vid_fan_out_at(num_threads, entry, records, sizeof *records, report, VID_SOURCE_NAME,
                             __LINE__);
    for (int i = 0; i < num_threads; i++)
        ok = ok && records[i].work_done != 0;
    return ok;
}

int worker_count(int num_processing_cores, uint num_blocks)
{
    int cores = num_processing_cores >= 1 ? num_processing_cores : 1;
    return uint(cores) < num_blocks ? cores : int(num_blocks);
}

} // namespace

void Compress_MT_datastruct::init()
{
    compression_effort = max_compression_effort;
    compressed_buffer = nullptr;
    uncompressed_buffer = nullptr;
    thread_id = 0;
    num_threads = 0;
    work_done = 0;
    start_block = 0;
    end_block = 0;
    compressed_block_partitions = nullptr;
    uncompressed_block_partitions = nullptr;
    compressed_block_sizes = nullptr;
    notify = nullptr;
}

void Compress_MT_datastruct::init_thread_data(uint in_thread_id, uint in_num_threads,
                                              uint num_compress_blocks,
                                              uint* in_compressed_block_partitions,
                                              uint* in_uncompressed_block_partitions,
                                              uint* in_compressed_block_sizes,
                                              unsigned char* in_compressed_buffer,
                                              unsigned char* in_uncompressed_buffer)
{
    init();
    thread_id = in_thread_id;
    num_threads = in_num_threads;
    compressed_block_partitions = in_compressed_block_partitions;
    uncompressed_block_partitions = in_uncompressed_block_partitions;
    compressed_block_sizes = in_compressed_block_sizes;
    compressed_buffer = in_compressed_buffer;
    uncompressed_buffer = in_uncompressed_buffer;

    // Each worker takes a run of neighbouring blocks; the last workers may get none.
    uint num_blocks_per_thread = (num_compress_blocks + in_num_threads - 1) / in_num_threads;
    start_block = num_blocks_per_thread * in_thread_id;
    uint end = num_blocks_per_thread * (in_thread_id + 1);
    end_block = end < num_compress_blocks ? end : num_compress_blocks;
    work_done = 0;
}

VidBlockCompressor::~VidBlockCompressor()
{
#ifdef VID_HAVE_LIBDEFLATE
    if (compressor_)
        libdeflate_free_compressor(static_cast<libdeflate_compressor*>(compressor_));
#endif
}

bool VidBlockCompressor::compress(unsigned char* dest, unsigned long& available,
                                  const unsigned char* source, unsigned long source_len)
{
#ifdef VID_HAVE_LIBDEFLATE
    if (effort_ < max_compression_effort) {
        // Efforts 1 to 7 are libdeflate's levels of the same number; 8 is its level 9,
        // still faster than zlib's 9. Its levels from 10 on are slower than zlib's 9. Effort 0
        // stores the block (its level 0).
        if (!compressor_)
            compressor_ = libdeflate_alloc_compressor(effort_ <= 7 ? effort_ : 9);
        if (!compressor_)
            return false;
        size_t written = libdeflate_zlib_compress(static_cast<libdeflate_compressor*>(compressor_),
                                                  source, source_len, dest, available);
        if (written == 0)
            return false; // did not fit its room
        available = (unsigned long)written;
        return true;
    }
#endif
    uLongf room = available;
    if (compress2(dest, &room, source, source_len, effort_) != Z_OK)
        return false;
    available = (unsigned long)room;
    return true;
}

void Compress_MT_datastruct::compress_datastruct()
{
    work_done = 1;
    VidBlockCompressor compressor(compression_effort);
    for (uint i = start_block; i < end_block; i++) {
        unsigned long available = compressed_block_sizes[i];
        if (!compressor.compress(compressed_buffer + compressed_block_partitions[i], available,
                                 uncompressed_buffer + uncompressed_block_partitions[i],
                                 uncompressed_block_partitions[i + 1] -
                                     uncompressed_block_partitions[i]))
            work_done = 0;
        compressed_block_sizes[i] = uint(available);
    }
}

void Compress_MT_datastruct::uncompress_datastruct()
{
    work_done = 1;
    if (start_block >= end_block)
        return;
    // The streams lie back to back; the caller checked that their sum fits the input.
    size_t compressed_block_start = 0;
    for (uint i = 0; i < start_block; i++)
        compressed_block_start += compressed_block_sizes[i];

    BlockExpander expander;
    bool intact = true;
    for (uint i = start_block; i < end_block; i++) {
        const unsigned long range =
            uncompressed_block_partitions[i + 1] - uncompressed_block_partitions[i];
        unsigned long available = range;
        int rc =
            expander.expand(uncompressed_buffer + uncompressed_block_partitions[i], available,
                            compressed_buffer + compressed_block_start, compressed_block_sizes[i]);
        if (rc != Z_OK)
            work_done = 0;
        // The caller checks that each block filled its whole range: a stream that ends early
        // is a damaged buffer, not a short frame.
        if (compressed_block_partitions != nullptr)
            compressed_block_partitions[i] = rc == Z_OK ? uint(available) : 0;
        intact = intact && rc == Z_OK && available == range;
        compressed_block_start += compressed_block_sizes[i];
    }
    if (intact && notify != nullptr && notify->ready != nullptr)
        notify->ready(notify->context, uncompressed_block_partitions[start_block],
                      uncompressed_block_partitions[end_block]);
}

int uncompress_block(unsigned char* dest, unsigned long& dest_len, const unsigned char* source,
                     unsigned long source_len)
{
    BlockExpander expander;
    return expander.expand(dest, dest_len, source, source_len);
}

bool uncompress_block_uses_libdeflate()
{
#ifdef VID_HAVE_LIBDEFLATE
    return true;
#else
    return false;
#endif
}

namespace {
// The published entries print what the codec reports on stderr, as they always have.
int printed(int rc, const std::string& report)
{
    if (!report.empty())
        fputs(report.c_str(), stderr);
    return rc;
}
} // namespace

int compress_MT(unsigned char* compressed_buffer, unsigned long& compressed_size,
                unsigned char* uncompressed_buffer, unsigned long uncompressed_size)
{
    return compress_MT_at_effort_on_cores(compressed_buffer, compressed_size, uncompressed_buffer,
                                          uncompressed_size, max_compression_effort,
                                          get_num_processing_cores());
}

int uncompress_MT(unsigned char*& uncompressed_buffer, unsigned long& uncompressed_size,
                  unsigned char* compressed_buffer, unsigned long compressed_size)
{
    return uncompress_MT_on_cores(uncompressed_buffer, uncompressed_size, compressed_buffer,
                                  compressed_size, get_num_processing_cores());
}

int uncompress_MT_notify(unsigned char*& uncompressed_buffer, unsigned long& uncompressed_size,
                         unsigned char* compressed_buffer, unsigned long compressed_size,
                         const VidExpandedBytes* notify)
{
    return uncompress_MT_on_cores(uncompressed_buffer, uncompressed_size, compressed_buffer,
                                  compressed_size, get_num_processing_cores(), notify);
}

int compress_MT_at_effort(unsigned char* compressed_buffer, unsigned long& compressed_size,
                          unsigned char* uncompressed_buffer, unsigned long uncompressed_size,
                          int compression_effort)
{
    return compress_MT_at_effort_on_cores(compressed_buffer, compressed_size, uncompressed_buffer,
                                          uncompressed_size, compression_effort,
                                          get_num_processing_cores());
}

int compress_MT_on_cores(unsigned char* compressed_buffer, unsigned long& compressed_size,
                         unsigned char* uncompressed_buffer, unsigned long uncompressed_size,
                         int num_processing_cores)
{
    return compress_MT_at_effort_on_cores(compressed_buffer, compressed_size, uncompressed_buffer,
                                          uncompressed_size, max_compression_effort,
                                          num_processing_cores);
}

int compress_MT_at_effort_on_cores(unsigned char* compressed_buffer, unsigned long& compressed_size,
                                   unsigned char* uncompressed_buffer,
                                   unsigned long uncompressed_size, int compression_effort,
                                   int num_processing_cores)
{
    std::string report;
    const int rc =
        vid_codec_compress(compressed_buffer, compressed_size, uncompressed_buffer,
                           uncompressed_size, compression_effort, num_processing_cores, &report);
    return printed(rc, report);
}

int uncompress_MT_on_cores(unsigned char*& uncompressed_buffer, unsigned long& uncompressed_size,
                           unsigned char* compressed_buffer, unsigned long compressed_size,
                           int num_processing_cores, const VidExpandedBytes* notify)
{
    std::string report;
    const int rc = vid_codec_expand(uncompressed_buffer, uncompressed_size, compressed_buffer,
                                    compressed_size, num_processing_cores, notify, &report);
    return printed(rc, report);
}

int vid_codec_compress(unsigned char* compressed_buffer, unsigned long& compressed_size,
                       const unsigned char* uncompressed_buffer, unsigned long uncompressed_size,
                       int compression_effort, int num_processing_cores, std::string* report)
{
    VID_FAIL_IF(compression_effort < min_compression_effort ||
                    compression_effort > max_compression_effort,
                1, report, "The compression effort %d is not one of 1 to 9.\n", compression_effort);
    const uint64_t S = uncompressed_size;
    VID_FAIL_IF(!compressed_buffer || (!uncompressed_buffer && S > 0), 1, report,
                "compress_MT needs a source and a destination buffer.\n");
    VID_FAIL_IF(S > max_format_value, 1, report,
                "compress_MT cannot describe an input of %llu bytes (at most %llu).\n",
                (unsigned long long)S, (unsigned long long)max_format_value);
    // Every room and offset must be a 32-bit value; a larger destination is simply not
    // used beyond that. An empty input becomes one empty block.
    const uint64_t K = min_u64(compressed_size, max_format_value);
    const uint n =
        S == 0 ? 1u
               : uint(min_u64((S + min_block_size - 1) / min_block_size, max_compress_MT_blocks));
    const uint64_t L = (S + n - 1) / n;
    const uint64_t header_size = 12 + 8 * uint64_t(n);
    VID_FAIL_IF(K < header_size, 1, report,
                "The destination of %lu bytes cannot hold the %u-byte header.\n", compressed_size,
                uint(header_size));

    PartitionArrays arrays;
    arrays.compressed_block_partitions = new (std::nothrow) uint[n + 1];
    arrays.uncompressed_block_partitions = new (std::nothrow) uint[n + 1];
    arrays.compressed_block_sizes = new (std::nothrow) uint[n + 1];
    VID_FAIL_IF(!arrays.compressed_block_partitions || !arrays.uncompressed_block_partitions ||
                    !arrays.compressed_block_sizes,
                1, report, "compress_MT is out of memory.\n");
    // Block i gets a room of C = ceil(K / n) bytes at C * i in the block-stream area. The
    // rooms stop at the end of the destination: the last ones may be shorter or empty, and
    // a block that does not fit its room then fails like any other.
    const uint64_t area = K - header_size;
    const uint64_t C = (K + n - 1) / n;
    for (uint i = 0; i <= n; i++) {
        arrays.uncompressed_block_partitions[i] = uint(min_u64(L * i, S));
        arrays.compressed_block_partitions[i] = uint(min_u64(C * i, area));
        arrays.compressed_block_sizes[i] =
            uint(min_u64(C, area - arrays.compressed_block_partitions[i]));
    }

    put_le64(compressed_buffer, uint64_t(blocked_compress_pattern));
    put_le32(compressed_buffer + 8, n);
    unsigned char* compressed_buffer_post_header = compressed_buffer + header_size;

    const int num_threads = worker_count(num_processing_cores, n);
    std::unique_ptr<Compress_MT_datastruct[]> thread_para(new (std::nothrow)
                                                              Compress_MT_datastruct[num_threads]);
    VID_FAIL_IF(!thread_para, 1, report, "compress_MT is out of memory.\n");
    for (int i = 0; i < num_threads; i++) {
        thread_para[i].init_thread_data(
            uint(i), uint(num_threads), n, arrays.compressed_block_partitions,
            arrays.uncompressed_block_partitions, arrays.compressed_block_sizes,
            compressed_buffer_post_header, const_cast<unsigned char*>(uncompressed_buffer));
        thread_para[i].compression_effort = compression_effort;
    }
    VID_FAIL_IF(!run_workers(num_threads, thread_para.get(), compress_MT_thread, report), 1, report,
                "The procedure '%s' did not complete successfully. \n"
                "The destination buffer might be of insufficient size.\n",
                "compress_MT");

    // Pack the streams behind one another. Block i moves down from its room to just behind
    // block i - 1; every earlier stream fits its own room, so the target never lies past
    // the source, but the two may overlap.
    uint64_t packed = arrays.compressed_block_sizes[0];
    for (uint i = 1; i < n; i++) {
        memmove(compressed_buffer_post_header + packed,
                compressed_buffer_post_header + arrays.compressed_block_partitions[i],
                arrays.compressed_block_sizes[i]);
        packed += arrays.compressed_block_sizes[i];
    }
    for (uint i = 0; i < n; i++) {
        put_le32(compressed_buffer + 12 + 4 * i, arrays.uncompressed_block_partitions[i + 1]);
        put_le32(compressed_buffer + 12 + 4 * n + 4 * i, arrays.compressed_block_sizes[i]);
    }
    compressed_size = (unsigned long)(header_size + packed);
    return 0;
}

int64_t blocked_compress_length(const unsigned char* head, unsigned long available)
{
    if (head == nullptr || available < 12 || int64_t(get_le64(head)) != blocked_compress_pattern)
        return -1;
    const uint n = get_le32(head + 8);
    if (n < 1 || n > max_compress_MT_blocks || available < 12 + 8 * uint64_t(n))
        return -1;
    int64_t total = 12 + 8 * int64_t(n);
    for (uint i = 0; i < n; i++)
        total += get_le32(head + 12 + 4 * n + 4 * i);
    return total;
}

int vid_codec_expand(unsigned char*& uncompressed_buffer, unsigned long& uncompressed_size,
                     const unsigned char* compressed_input, unsigned long compressed_size,
                     int num_processing_cores, const VidExpandedBytes* notify, std::string* report)
{
    // The workers' records predate const; nothing here writes the input.
    unsigned char* compressed_buffer = const_cast<unsigned char*>(compressed_input);
    // Anything that does not begin with the marker is one plain zlib stream. A null output
    // is refused as Z_STREAM_ERROR whatever the zlib version (newer ones would otherwise
    // decode into a scratch byte when the size is 0), and nothing is allocated here.
    if (!compressed_buffer || compressed_size < 8 ||
        int64_t(get_le64(compressed_buffer)) != blocked_compress_pattern) {
        if (!uncompressed_buffer)
            return Z_STREAM_ERROR;
        return uncompress(uncompressed_buffer, &uncompressed_size, compressed_buffer,
                          compressed_size);
    }

    // The header is checked field by field before anything is sized or read from it.
    VID_FAIL_IF(compressed_size < 12, Z_DATA_ERROR, report,
                "A blocked-compress buffer of %lu bytes is too short for its header.\n",
                compressed_size);
    const uint n = get_le32(compressed_buffer + 8);
    VID_FAIL_IF(n < 1 || n > max_compress_MT_blocks, Z_DATA_ERROR, report,
                "Invalid block count %u in a blocked-compress buffer.\n", n);
    const uint64_t header_size = 12 + 8 * uint64_t(n);
    VID_FAIL_IF(compressed_size < header_size, Z_DATA_ERROR, report,
                "A header of %u blocks does not fit %lu bytes.\n", n, compressed_size);

    PartitionArrays arrays;
    arrays.uncompressed_block_partitions = new (std::nothrow) uint[n + 1];
    arrays.compressed_block_sizes = new (std::nothrow) uint[n + 1];
    arrays.compressed_block_partitions = new (std::nothrow) uint[n + 1]; // bytes produced
    if (!arrays.uncompressed_block_partitions || !arrays.compressed_block_sizes ||
        !arrays.compressed_block_partitions)
        return VID_CODEC_MEM_ERROR;
    arrays.uncompressed_block_partitions[0] = 0;
    for (uint i = 0; i < n; i++) {
        uint end = get_le32(compressed_buffer + 12 + 4 * i);
        // Block ends rise strictly from 0; the single empty block of an empty input is the
        // one buffer whose first end is 0.
        bool empty_input = n == 1 && end == 0;
        VID_FAIL_IF(end <= arrays.uncompressed_block_partitions[i] && !empty_input,
                    VID_CODEC_DATA_ERROR, report, "Block %u ends at %u, not after its start %u.\n",
                    i, end, arrays.uncompressed_block_partitions[i]);
        arrays.uncompressed_block_partitions[i + 1] = end;
    }
    const uint T = arrays.uncompressed_block_partitions[n];

    // Every field is checked before anything is sized from the header.
    uint64_t compressed_block_sizes_total = header_size;
    for (uint i = 0; i < n; i++) {
        arrays.compressed_block_sizes[i] = get_le32(compressed_buffer + 12 + 4 * n + 4 * i);
        arrays.compressed_block_partitions[i] = 0;
        compressed_block_sizes_total += arrays.compressed_block_sizes[i];
    }
    arrays.compressed_block_sizes[n] = 0;
    VID_FAIL_IF(
        compressed_block_sizes_total > max_format_value, VID_CODEC_DATA_ERROR, report,
        "The block sizes add up to %llu bytes, more than a blocked-compress buffer can hold.\n",
        (unsigned long long)compressed_block_sizes_total);
    if (compressed_block_sizes_total != compressed_size) {
        // A buffer cut short or run on: the caller learns the total its header announces,
        // as it always has, and nothing of that size is allocated.
        uncompressed_size = T;
        VID_REPORT_TO(report, "Mismatch in compressed sizes %u vs. %lu",
                      uint(compressed_block_sizes_total), compressed_size);
        return VID_CODEC_DATA_ERROR;
    }
    // Deflate cannot expand beyond 1032:1 (a 258-byte match in two bits); a block announcing
    // more than its stream could produce is damaged, and refusing it here keeps a small
    // damaged buffer from asking for gigabytes.
    for (uint i = 0; i < n; i++) {
        uint64_t range = uint64_t(arrays.uncompressed_block_partitions[i + 1]) -
                         arrays.uncompressed_block_partitions[i];
        VID_FAIL_IF(range >
                        max_deflate_expansion * uint64_t(arrays.compressed_block_sizes[i]) + 1024,
                    VID_CODEC_DATA_ERROR, report,
                    "Block %u announces %llu bytes from a stream of %u bytes, more than "
                    "deflate can produce.\n",
                    i, (unsigned long long)range, arrays.compressed_block_sizes[i]);
    }

    if (uncompressed_buffer && uncompressed_size < T) {
        uncompressed_size = T;
        return VID_CODEC_BUF_ERROR;
    }
    uncompressed_size = T;
    if (!uncompressed_buffer) {
        uncompressed_buffer = new (std::nothrow) unsigned char[T];
        if (!uncompressed_buffer)
            return VID_CODEC_MEM_ERROR;
    }

    const int num_threads = worker_count(num_processing_cores, n);
    std::unique_ptr<Compress_MT_datastruct[]> thread_para(new (std::nothrow)
                                                              Compress_MT_datastruct[num_threads]);
    if (!thread_para)
        return Z_MEM_ERROR;
    for (int i = 0; i < num_threads; i++) {
        thread_para[i].init_thread_data(
            uint(i), uint(num_threads), n, arrays.compressed_block_partitions,
            arrays.uncompressed_block_partitions, arrays.compressed_block_sizes,
            compressed_buffer + header_size, uncompressed_buffer);
        thread_para[i].notify = notify;
    }
    VID_FAIL_IF(!run_workers(num_threads, thread_para.get(), uncompress_MT_thread, report),
                VID_CODEC_BLOCK_FAILED, report,
                "The procedure '%s' did not complete successfully. \n"
                "The destination buffer might be of insufficient size.\n",
                "uncompress_MT");
    for (uint i = 0; i < n; i++) {
        uint range =
            arrays.uncompressed_block_partitions[i + 1] - arrays.uncompressed_block_partitions[i];
        VID_FAIL_IF(arrays.compressed_block_partitions[i] != range, VID_CODEC_DATA_ERROR, report,
                    "Block %u expands to %u bytes, not the %u its header announces.\n", i,
                    arrays.compressed_block_partitions[i], range);
    }
    return VID_CODEC_OK;
}
