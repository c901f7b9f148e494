// Multi-threaded block codec. Its workers are started and joined by the core's fan-out.
// The published entries (compress_MT, uncompress_MT and their variants) print their reports on
// stderr; the core itself calls vid_codec_compress and vid_codec_expand, which hand them back.
//
// A blocked-compress buffer is a 12-byte head (marker, block count), a table of block end
// offsets, a table of compressed block sizes and the zlib streams of at most 8 blocks,
// every field little-endian:
//
//   offset 0          8 bytes   marker 81 72 63 54 45 36 27 18 (blocked_compress_pattern)
//   offset 8          4 bytes   block count n, 1..8
//   offset 12         4n bytes  end offset of block i in the uncompressed data (strictly rising)
//   offset 12 + 4n    4n bytes  length of the zlib stream of block i
//   offset 12 + 8n    ...       the n zlib streams back to back, nothing after the last
//
// Each call starts its own workers (at most 8, never more than processors online), gives
// each a work record of its own, and joins them all before it returns. Workers write
// disjoint parts of the shared buffers; the join is the only synchronisation. Several
// threads may run the codec at the same time.
#pragma once

#include <cstdint>
#include <string>

// The marker that opens every blocked-compress buffer (bytes 81 72 63 54 45 36 27 18).
const int64_t blocked_compress_pattern = 0x1827364554637281LL;

// ---------------------------------------------------------------------------------------
// The codec.

// Smallest block compress_MT cuts an input into; inputs of up to this size give one block.
const unsigned int min_block_size = 76800;
// Most blocks a blocked-compress buffer holds (and so most workers of a codec call).
const unsigned int max_compress_MT_blocks = 8;

// Told, on a worker thread, that bytes [begin, end) of an expansion's output are final: each
// worker calls ready once, after every block of its run of neighbouring blocks expanded
// intact. Runs of different workers arrive side by side and in any order; a failed run and a
// plain zlib stream are not told at all. Lets a caller convert the output run by run while
// other runs are still expanding (a MEX reader transposing rows into MATLAB's order).
struct VidExpandedBytes {
    void (*ready)(void* context, unsigned long begin, unsigned long end);
    void* context;
};

// Work record of one codec worker. A call makes an array of num_threads records, record i
// for worker i; all records of a call point at the same three arrays of n + 1 entries,
// which the call owns and frees. A worker writes only its own record, the
// compressed_block_sizes entries of its own blocks and its own blocks' bytes.
class Compress_MT_datastruct {
  public:
    // Compression: start of the block-stream area (just past the header) being written.
    // Expansion: start of the block-stream area being read.
    unsigned char* compressed_buffer;
    // The input when compressing, the output when expanding.
    unsigned char* uncompressed_buffer;
    unsigned int thread_id;   // 0 .. num_threads - 1
    unsigned int num_threads; // workers of the call
    unsigned int work_done;   // 1 when every block of this worker succeeded
    unsigned int start_block; // first block of this worker
    unsigned int end_block;   // one past its last block (not above start_block: an idle worker)
    // Compression: where the room of block i begins in the block-stream area. Expansion:
    // the bytes block i produced, written by its worker (0 for a failed block), or null.
    unsigned int* compressed_block_partitions;
    // Where block i begins in the uncompressed data; entry n is the total size.
    unsigned int* uncompressed_block_partitions;
    // Compression: room of block i on the way in, length of its stream on the way out.
    // Expansion: the block sizes from the header. Entry n is never read.
    unsigned int* compressed_block_sizes;
    // Compression effort of the blocks, 1 (fastest) to 9 (zlib level 9); 9 after init().
    int compression_effort;
    // Expansion: told when this worker's run is final, or null (after init()).
    const VidExpandedBytes* notify;

    Compress_MT_datastruct() { init(); }

    // Every pointer null, every number 0.
    void init();

    // Stores the arguments and takes the run of blocks
    // [p * in_thread_id, min(p * (in_thread_id + 1), n)) with p = ceil(n / in_num_threads);
    // work_done starts at 0.
    void init_thread_data(unsigned int in_thread_id, unsigned int in_num_threads,
                          unsigned int num_compress_blocks,
                          unsigned int* in_compressed_block_partitions,
                          unsigned int* in_uncompressed_block_partitions,
                          unsigned int* in_compressed_block_sizes,
                          unsigned char* in_compressed_buffer,
                          unsigned char* in_uncompressed_buffer);

    // Worker bodies: compress each own block into its room at compression_effort, or expand
    // each own block into its range. A failed block sets work_done to 0 and the worker
    // goes on with its next block.
    void compress_datastruct();
    void uncompress_datastruct();
};

// Results of uncompress_MT (compress_MT returns VID_CODEC_OK or VID_CODEC_BLOCK_FAILED). The
// negative values are zlib's own codes of the same meaning.
enum VidCodecResult : int {
    VID_CODEC_OK = 0,
    VID_CODEC_BLOCK_FAILED = 1,  // a block failed to expand, or a worker did not start
    VID_CODEC_STREAM_ERROR = -2, // Z_STREAM_ERROR: a plain zlib stream without an output
    VID_CODEC_DATA_ERROR = -3,   // Z_DATA_ERROR: the input's length or header is inconsistent
    VID_CODEC_MEM_ERROR = -4,    // Z_MEM_ERROR: the output could not be allocated
    VID_CODEC_BUF_ERROR = -5,    // Z_BUF_ERROR: the caller's output is too small
};

// Compresses uncompressed_size bytes into the caller's compressed_buffer, whose capacity
// is compressed_size on entry. Returns 0 on success, with compressed_size set to the length
// of the blocked-compress buffer; returns 1 on failure (a block did not fit its room, a zlib
// error, a worker that could not start), with compressed_size unchanged. Never writes past
// compressed_buffer + capacity. The output bytes depend on the input alone, not on the
// number of processors.
int compress_MT(unsigned char* compressed_buffer, unsigned long& compressed_size,
                unsigned char* uncompressed_buffer, unsigned long uncompressed_size);

// Compression efforts: 9 compresses every block with zlib at level 9 (compress_MT's bytes).
// Below 9 the blocks come from a faster deflate encoder where the build has libdeflate
// (its levels 1 to 7 for efforts 1 to 7, its level 9 for effort 8), else from zlib at the
// effort as level. Whatever the effort, every block is one zlib stream that zlib's
// uncompress expands, and the buffer layout is the same.
const int min_compression_effort = 1;
const int max_compression_effort = 9;
// The balanced effort: about twice as fast as 9 (RGB) to three times (Bayer) at about the
// same size (within half a per cent on camera-like frames; bench_effort measures it).
const int balanced_compression_effort = 2;

// compress_MT at a compression effort of 1 to 9; compress_MT is this at 9. An effort
// outside 1 to 9 fails with 1 (and a report) before anything is written.
int compress_MT_at_effort(unsigned char* compressed_buffer, unsigned long& compressed_size,
                          unsigned char* uncompressed_buffer, unsigned long uncompressed_size,
                          int compression_effort);

// One block's deflate encoder at a compression effort, as the codec's workers use it: below 9
// libdeflate's level for the effort where the build has libdeflate, else zlib at the effort;
// effort 0 makes a stream of stored (uncompressed) deflate blocks.
// compress() writes one zlib stream into dest, whose room is `available` on entry and the
// stream's length on success; false when it does not fit or the encoder fails. One object per
// thread; it keeps its encoder between blocks.
class VidBlockCompressor {
  public:
    explicit VidBlockCompressor(int effort) : effort_(effort) {}
    VidBlockCompressor(const VidBlockCompressor&) = delete;
    VidBlockCompressor& operator=(const VidBlockCompressor&) = delete;
    ~VidBlockCompressor();
    bool compress(unsigned char* dest, unsigned long& available, const unsigned char* source,
                  unsigned long source_len);

  private:
    int effort_;
    void* compressor_ = nullptr; // libdeflate's, where the build has it
};

// Expands a blocked-compress buffer, or a plain zlib stream (any input that does not begin
// with the marker). uncompressed_buffer is a caller's buffer of uncompressed_size bytes, or
// null: then, for a blocked-compress buffer, an output of exactly the announced size is
// allocated with new[] and handed over through the reference (the caller owns it even when
// the call then fails). Every header field is checked before anything is allocated.
// Results (VidCodecResult): 0 success; 1 a block failed or a worker did not start; -3 the
// input's length or header is inconsistent, a block announces more bytes than a deflate
// stream of its length can produce (1032:1), or a block's stream ends before it fills its
// range; -4 the output could not be allocated; -5 the caller's buffer is smaller than the
// announced total, which uncompressed_size then holds (as it does when the input is longer or
// shorter than its header's block sizes add up to: -3, nothing allocated). For a plain zlib
// stream the result is zlib's own.
int uncompress_MT(unsigned char*& uncompressed_buffer, unsigned long& uncompressed_size,
                  unsigned char* compressed_buffer, unsigned long compressed_size);
// uncompress_MT, telling `notify` (when not null) of each worker's final bytes.
int uncompress_MT_notify(unsigned char*& uncompressed_buffer, unsigned long& uncompressed_size,
                         unsigned char* compressed_buffer, unsigned long compressed_size,
                         const VidExpandedBytes* notify);

// The length in bytes of the blocked-compress buffer that begins at `head`, as its own
// header announces it (12 + 8n + the sum of the n block lengths), read from the first
// `available` bytes. Returns -1 when those bytes do not begin with the marker and a block
// count of 1 to 8, or are too few to hold the whole header. Nothing is expanded, so a
// non-negative answer says only where the buffer would end, not that it is intact. Lets a
// reader find the end of a record that is followed by other bytes (a torn record behind
// the last whole frame of a file whose writer was killed), and a scanner step over records.
int64_t blocked_compress_length(const unsigned char* head, unsigned long available);

// The codec with its reports handed back instead of printed: what the entries above print on
// stderr ("<file>:<line> <text>" lines, and a worker that could not start) is appended to
// *report (null: dropped). Same results and bytes as compress_MT_at_effort_on_cores and
// uncompress_MT_on_cores; the core calls these, the published entries print what these report.
int vid_codec_compress(unsigned char* compressed_buffer, unsigned long& compressed_size,
                       const unsigned char* uncompressed_buffer, unsigned long uncompressed_size,
                       int compression_effort, int num_processing_cores, std::string* report);
int vid_codec_expand(unsigned char*& uncompressed_buffer, unsigned long& uncompressed_size,
                     const unsigned char* compressed_buffer, unsigned long compressed_size,
                     int num_processing_cores, const VidExpandedBytes* notify, std::string* report);

// ---------------------------------------------------------------------------------------
// Entries for tests, benchmarks and fuzzing. Production code calls compress_MT and
// uncompress_MT, which ask the platform for the processor count on every call.

// compress_MT and uncompress_MT as if num_processing_cores processors were online (values
// below 1 count as 1). The bytes produced never depend on this count.
int compress_MT_on_cores(unsigned char* compressed_buffer, unsigned long& compressed_size,
                         unsigned char* uncompressed_buffer, unsigned long uncompressed_size,
                         int num_processing_cores);
int uncompress_MT_on_cores(unsigned char*& uncompressed_buffer, unsigned long& uncompressed_size,
                           unsigned char* compressed_buffer, unsigned long compressed_size,
                           int num_processing_cores, const VidExpandedBytes* notify = nullptr);
int compress_MT_at_effort_on_cores(unsigned char* compressed_buffer, unsigned long& compressed_size,
                                   unsigned char* uncompressed_buffer,
                                   unsigned long uncompressed_size, int compression_effort,
                                   int num_processing_cores);

// Expands one zlib stream into dest the way each block of a blocked-compress buffer is
// expanded, with the verdict, the output and the dest_len of zlib's uncompress: dest_len
// is the room on entry and the bytes produced on Z_OK; a stream that ends early succeeds
// and leaves the rest of the room untouched; on failure the room holds zlib's own partial
// output. Where the build has libdeflate it decodes first and zlib only sees the streams
// libdeflate refuses. One known difference remains: libdeflate decodes a few symbols that
// zlib calls invalid (fixed-code length symbols 286 and 287 as length 258, for one), so a
// damaged stream whose output still passes its Adler-32 check succeeds here where zlib
// alone answers Z_DATA_ERROR. Thread-safe; allocates nothing that outlives the call.
int uncompress_block(unsigned char* dest, unsigned long& dest_len, const unsigned char* source,
                     unsigned long source_len);

// True when blocks are expanded through libdeflate in this build.
bool uncompress_block_uses_libdeflate();
