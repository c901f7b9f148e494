// The VID file's fixed rules in one place: the 8-byte header, the width-field rule, the
// table's entry size and the limits every reader and writer keeps.
//
//   offset 0      2 bytes   width field: up to 0x8FFF the width itself (Bayer: two bytes per
//                           sample); from 0x9000 on the width plus 0x8FFF (Bayer: one byte)
//   offset 2      2 bytes   height
//   offset 4      4 bytes   frame count: -N for N RGB frames, N >= 0 for N Bayer frames
//   offset 8      8T bytes  record offsets (signed 64-bit); a reader uses the first N of them
//   then                    the records back to back, each one blocked-compress buffer
//
// Every field is little-endian and assembled byte by byte (le_bytes.h).
#pragma once

#include <cstddef>
#include <cstdint>

// The kind of frames a file holds (none: a file without frames and nothing behind its table).
// Mono frames are stored as Bayer files of the same sample width, told apart by their clip
// block's sensor description (cfa "none"; vid_sensor.h).
enum class VidKind { none, rgb, bayer8, bayer16, mono8, mono16 };

// Bytes of the fixed header, and of one table entry.
constexpr int kVidHeaderBytes = 8;
constexpr int kVidTableEntryBytes = 8;
// Width fields above this value carry the width plus this value (one-byte Bayer samples).
constexpr int kVidWidthFieldBase = 0x8FFF;
// Widest and highest frames a header can describe for a writer (RGB widths stay below the
// one-byte Bayer range) and the tallest frame of any file.
constexpr int kVidMaxWriterWidth = kVidWidthFieldBase;
// One-byte Bayer files keep width + 0x8FFF in the 16-bit field.
constexpr int kVidMaxBayer8Width = 0xFFFF - kVidWidthFieldBase;
constexpr int kVidMaxHeight = 65535;
// width * 3 * height is held in a signed 32-bit int: frames of 2^31 bytes or more are refused.
constexpr int64_t kVidMaxFrameBytes = INT32_MAX;

// The header's fields, decoded.
struct VidFileHeader {
    int width = 0; // pixels, the width field's rule undone
    int height = 0;
    int64_t num_frames = 0;  // frames announced, >= 0 (-INT32_MIN included: refuse it)
    bool bayer = false;      // the file holds Bayer mosaics (count field >= 0)
    bool two_bytes = true;   // Bayer samples are two bytes wide (width field <= 0x8FFF)
    int32_t count_field = 0; // the count as stored
};

// Decodes the 8 bytes at `raw`. Never fails: what a header announces is judged by its user.
VidFileHeader vid_decode_header(const unsigned char* raw);

// Encodes a header: `width` pixels (one-byte Bayer files add kVidWidthFieldBase), `height`,
// and `num_frames` frames, stored as -num_frames for RGB files.
void vid_encode_header(unsigned char* raw, int width, int height, int64_t num_frames, bool bayer,
                       bool two_bytes);

// Bytes one expanded frame takes in a record: RGB 3 per pixel, Bayer 1 or 2 per pixel.
inline int64_t vid_expanded_frame_bytes(const VidFileHeader& h)
{
    int64_t pixels = int64_t(h.width) * int64_t(h.height);
    if (!h.bayer)
        return 3 * pixels;
    return h.two_bytes ? 2 * pixels : pixels;
}
inline int64_t vid_expanded_frame_bytes(int width, int height, bool bayer, bool two_bytes)
{
    VidFileHeader h;
    h.width = width;
    h.height = height;
    h.bayer = bayer;
    h.two_bytes = two_bytes;
    return vid_expanded_frame_bytes(h);
}

// Where a table of `entries` entries ends, and the first record can begin.
constexpr int64_t vid_table_end(int64_t entries)
{
    return kVidHeaderBytes + kVidTableEntryBytes * entries;
}

// Writers that take frames beyond their table (growTableWhenFull) treat the frames to reserve
// as a hint: they reserve at most this many entries up front (8 MiB of table), and the frames
// beyond are still taken.
constexpr int kVidMaxHintedTableEntries = 1 << 20;
inline int vid_hinted_table_entries(int64_t hint)
{
    return hint < 1 ? 1 : hint > kVidMaxHintedTableEntries ? kVidMaxHintedTableEntries : int(hint);
}

// Two-byte samples from the host's order to the file's (little-endian), in place: what a
// caller holding uint16 samples does before a Bayer writer takes them.
void vid_store_samples16(void* samples, size_t count);
