// Compact records: a frame's record after reversible filters chosen for its content, then the
// same deflate blocks on the codec's workers as a classic record.
//
// Camera frames are noisy: deflate finds few repeats in them, and a two-byte sample's low and
// high bytes interleaved defeat its Huffman codes. The filters turn each sample into its
// difference from the sample of the same colour one (RGB) or two (Bayer) rows up, and keep
// two-byte differences as zigzag numbers (0, -1, 1, -2, ... as 0, 1, 2, 3, ...) whose low
// and high bytes go into separate halves of each row, so the high bytes are nearly all zero.
// Each block of rows starts afresh (its first rows take the difference from the same colour
// one or two samples to the left), so workers expand and undo the filters block by block,
// side by side.
//
// A compact record, every field little-endian:
//
//   offset 0        8 bytes   marker 82 72 63 54 45 36 27 18 (the classic marker's first byte
//                             changed: not a zlib header, so a reader that knows only classic
//                             records fails on it instead of returning pixels)
//   offset 8        1 byte    filter: 1 RGB, 2 one-byte Bayer, 3 two-byte Bayer
//   offset 9        1 byte    layout version, 1
//   offset 10       2 bytes   0
//   offset 12       4 bytes   width in pixels
//   offset 16       4 bytes   height in rows
//   offset 20       4 bytes   block count n, 1 to 8 (at most the height)
//   offset 24       4n bytes  the row where block i ends (strictly rising, the last = height)
//   offset 24 + 4n  4n bytes  length of block i's data
//   offset 24 + 8n  ...       the n blocks' data back to back: for RGB and one-byte Bayer one
//                             zlib stream of the block's filtered rows (rows x width x bytes
//                             per pixel); for two-byte Bayer the length of the low plane's
//                             zlib stream (4 bytes), that stream (rows x width low bytes), then
//                             the high plane's stream (rows x width high bytes)
//
// Filtered rows: RGB and one-byte Bayer rows are the byte differences (mod 256) in place of
// the samples; two-byte Bayer differences are zigzag numbers split into a plane of low bytes
// and one of high bytes. A plane whose bytes are noise (by their histogram's entropy, above a
// bound that falls with the effort; never at 9) is stored in its stream rather than coded:
// deflate would gain little on it and expanding it would cost the most. A row's prediction is the
// sample of the same colour one row up (RGB) or two rows up (Bayer) within its block; in a block's
// first row (RGB) or first two rows (Bayer) the sample of the same colour to the left (1 pixel for
// RGB, 2 for Bayer), 0 at the row's start.
#pragma once

#include <cstdint>
#include <string>

#include "compress_uncompress_MT.h"
#include "vid_format.h"

constexpr int kVidCompactHeadBytes = 24;
constexpr int kVidCompactMaxBlocks = 8;

enum class VidCompactFilter : uint8_t { rgb = 1, bayer8 = 2, bayer16 = 3 };

// The filter for a file's kind (rgb for none).
VidCompactFilter vid_compact_filter(VidKind kind);
// Bytes per pixel of a filter's frames: 3, 1 or 2.
int vid_compact_pixel_bytes(VidCompactFilter filter);

// What a compact record's head says.
struct VidCompactHead {
    VidCompactFilter filter = VidCompactFilter::rgb;
    uint32_t width = 0, height = 0, blocks = 0;
    int64_t length = 0;          // of the whole record, as its head announces it
    uint64_t expanded_bytes = 0; // width x height x bytes per pixel
};

// True when the bytes at `head` begin with the compact marker.
bool vid_is_compact_record(const unsigned char* head, unsigned long available);
// Reads and checks a compact record's head from the first `available` bytes (every field in
// range, rows rising); false when they hold no whole, sound head.
bool vid_compact_head(const unsigned char* head, unsigned long available, VidCompactHead& out);
// The same checks after the marker, for a layout version (both generations share the head).
bool vid_compact_head_of_version(const unsigned char* head, unsigned long available,
                                 unsigned version, VidCompactHead& out);

// Compresses a width x height frame (RGB 3 bytes per pixel, Bayer 1 or 2 bytes per sample,
// two-byte samples little-endian) into `record`, whose room is record_size on entry and the
// record's length on success, at compression_effort 1 to 9 (as compress_MT_at_effort).
// Returns VID_CODEC_OK, or VID_CODEC_BLOCK_FAILED when it does not fit its room, memory runs
// out or a worker cannot start (record_size unchanged). The bytes never depend on the number
// of processors.
int vid_compact_compress(unsigned char* record, unsigned long& record_size,
                         const unsigned char* frame, int width, int height, VidCompactFilter filter,
                         int compression_effort, std::string* report = nullptr);

// Expands a compact record into `frame`, which holds frame_size bytes: exactly the record's
// width x height x bytes per pixel, or VID_CODEC_BUF_ERROR. VID_CODEC_DATA_ERROR for a head
// that is not sound or streams that do not add up to the record's length, VID_CODEC_BLOCK_FAILED
// when a block does not expand to exactly its rows, VID_CODEC_MEM_ERROR when memory runs out.
// `notify`, when not null, is told on the workers of each block's final bytes. A worker that
// could not start is described in *report (when not null), as by the block codec.
int vid_compact_expand(unsigned char* frame, unsigned long frame_size, const unsigned char* record,
                       unsigned long record_size, const VidExpandedBytes* notify = nullptr,
                       std::string* report = nullptr);
// The same as if `cores` processors were online (tests).
int vid_compact_expand_on_cores(unsigned char* frame, unsigned long frame_size,
                                const unsigned char* record, unsigned long record_size,
                                const VidExpandedBytes* notify, int cores,
                                std::string* report = nullptr);
int vid_compact_compress_on_cores(unsigned char* record, unsigned long& record_size,
                                  const unsigned char* frame, int width, int height,
                                  VidCompactFilter filter, int compression_effort, int cores,
                                  std::string* report = nullptr);

// The filters of one block of rows alone (tests compare them with a plain reference): from
// `rows` into `filtered` (two-byte Bayer: the low plane, then the high plane), and back in
// place.
void vid_compact_filter_rows(const unsigned char* rows, unsigned char* filtered, int width,
                             int row_count, VidCompactFilter filter);
void vid_compact_unfilter_rows(unsigned char* rows, int width, int row_count,
                               VidCompactFilter filter);
// How a frame of `height` rows and `frame_bytes` bytes is cut into blocks: their count.
unsigned vid_compact_block_count(uint64_t frame_bytes, int height);
