// Compact records, second generation: each block of rows is predicted and entropy-coded plane by
// plane, with the predictor and the code chosen for that block by what they cost.
//
// A record, every field little-endian:
//
//   offset 0        8 bytes   marker 83 72 63 54 45 36 27 18 (readers of classic or first-
//                             generation compact records fail on it: not a zlib header, not
//                             their marker)
//   offset 8        1 byte    samples: 1 RGB (3 bytes a pixel), 2 one-byte, 3 two-byte
//   offset 9        1 byte    layout version, 2
//   offset 10       2 bytes   0
//   offset 12       4 bytes   width in pixels, 1 to 65535
//   offset 16       4 bytes   height in rows, 1 to 65535
//   offset 20       4 bytes   block count n, 1 to 8 (at most the height)
//   offset 24       4n bytes  the row where block i ends (strictly rising, the last = height)
//   offset 24 + 4n  4n bytes  length of block i's data
//   offset 24 + 8n  ...       the blocks' data back to back
//
// A block holds its planes one after the other: one plane of samples (one- or two-byte), or
// for RGB three planes G, R - G and B - G (bytes, mod 256). A plane:
//
//   1 byte    predictor p (low 4 bits) and neighbour distance s (high 4 bits, 1 or 2)
//   1 byte    token layout: k (low 4 bits, 0 to 8) and m (high 4 bits, 0 to 2, at most k)
//   2 bytes   base value (the prediction of predictor 0; 0 otherwise)
//   T/2 bytes code lengths of the T tokens, 4 bits each (low nibble first), 0 to 12; T even
//   16 bytes  lengths L0 .. L3 of four bit streams
//   ...       the four streams back to back; column x of every row is coded in stream x mod 4
//
// or, where coding would not pay, the byte FF, three 0 bytes and the samples as they are (two-
// byte ones little-endian).
//
// Prediction of the sample v at column x of block row y, with a = v(x - s, y), b = v(x, y - s),
// c = v(x - s, y - s) (all within the block): predictor 0 the base value; 1 a; 2 b; 3 the
// median edge detector (min(a, b) when c >= max(a, b), max(a, b) when c <= min(a, b), else
// a + b - c). Where a neighbour lies outside the block: in the block's first s rows a (the base
// value in their first s columns), in the first s columns of other rows b. The difference
// v - prediction, mod 2^bits (8 or 16), taken as a signed number d, is coded as the zigzag
// number u = 2d (d >= 0) or -2d - 1.
//
// Tokens: u < 2^k is its own token; otherwise, with n the position of u's highest set bit, the
// token is 2^k + (n - k) * 2^m + (the m bits below the highest), followed in the bit stream by
// the n - m bits below those. T = 2^k + (bits - k) * 2^m, rounded up to even. Token codes are
// canonical prefix codes from the code lengths (shorter codes first, then by token), written
// into the bit stream from its least significant bit of each byte, code bits first-bit-first;
// a plane whose tokens are all the same gives that token length 1 and writes a 0 bit each.
#pragma once

#include <cstdint>
#include <string>

#include "compress_uncompress_MT.h"
#include "vid_compact.h"

constexpr unsigned char kVidCompact2MarkerFirst = 0x83;

// True when the bytes at `head` begin with the second generation's marker.
bool vid_is_compact2_record(const unsigned char* head, unsigned long available);
// Reads and checks a second-generation record's head (as vid_compact_head).
bool vid_compact2_head(const unsigned char* head, unsigned long available, VidCompactHead& out);

// As vid_compact_compress and vid_compact_expand, for second-generation records. cores 0: as
// many workers as processors.
int vid_compact2_compress(unsigned char* record, unsigned long& record_size,
                          const unsigned char* frame, int width, int height,
                          VidCompactFilter filter, int compression_effort,
                          std::string* report = nullptr, int cores = 0);
int vid_compact2_expand(unsigned char* frame, unsigned long frame_size, const unsigned char* record,
                        unsigned long record_size, const VidExpandedBytes* notify = nullptr,
                        std::string* report = nullptr, int cores = 0);
