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
// for RGB three planes G, R - G and B - G (bytes, mod 256). A plane is either stored, the byte
// FF, three 0 bytes and its samples as they are (two-byte ones little-endian), or coded:
//
//   1 byte    predictor p (low 4 bits, 0 to 5) and neighbour distance s (high 4 bits, 1 or 2)
//   1 byte    token layout: k (low 4 bits, 0 to 7) and m (high 4 bits, 0 to 2, at most k)
//   2 bytes   base value (the prediction of predictor 0)
//   1 byte    context count K, 1 to 8; bit 7 set: the contexts come from the plane before (RGB's
//             B - G from R - G, when R - G was coded and K > 1)
//   7 bytes   the K - 1 context thresholds t1 < t2 < ... (0 to 46), then 0 bytes
//   K tables  token frequencies: a byte U - 1, then the frequencies of tokens 0 .. U - 1, each
//             one byte (below 128) or two (low 7 bits | 0x80, then the value >> 7); they add up
//             to 2048 and later tokens have frequency 0
//   20 bytes  lengths L0 .. L3 of four token streams and E of the extra-bit stream
//   ...       the four token streams back to back, then the extra-bit stream
//
// Prediction of the sample v at column x of block row y, with a = v(x - s, y), b = v(x, y - s),
// c = v(x - s, y - s), d = v(x + s, y - s) (b where x + s is past the row's end), all within
// the block: predictor 0 the base value; 1 a; 2 b; 3 the median edge detector (min(a, b) when
// c >= max(a, b), max(a, b) when c <= min(a, b), else a + b - c); 4 (a + b + 1) >> 1; 5
// (2a + 2b + d - c + 2) >> 2 (an arithmetic shift; predictions are taken mod 2^bits). Where a
// neighbour lies outside the block: in the block's first s rows a (the base value in their
// first s columns), in the first s columns of other rows b. The difference v - prediction, mod
// 2^bits (8 or 16), taken as a signed number d, is coded as the zigzag number u = 2d (d >= 0)
// or -2d - 1.
//
// Tokens: u < 2^k is its own token; otherwise, with n the position of u's highest set bit, the
// token is 2^k + (n - k) * 2^m + (the m bits below the highest), and the n - m bits below those
// are its extra bits. There are T = 2^k + (bits - k) * 2^m tokens.
//
// Contexts: with u' the zigzag numbers of the row above (of the same row of the plane before,
// when bit 7 says so), q = min(4095, 2 u'(x) + u'(x - 1) + u'(x + 1)) (at the row's ends the
// missing neighbour is u'(x)), its level is q below 16, else 16 + 4 (h - 4) + (the two bits of q
// below its highest h), and the context is the count of thresholds the level exceeds; in a
// block's first row without a plane before, the context is 0.
//
// Token streams (rANS, 11-bit frequencies): the token of column x of every row, rows and
// columns in order, belongs to stream x mod 4. A stream begins with its 32-bit state; decoding
// a token: slot = state mod 2048 picks the token t whose cumulative range [c, c + f) of its
// context's table holds it; state = f (state >> 11) + slot - c; then, if state < 2^15,
// state = state << 16 | the stream's next 16-bit word. A sound stream ends with every word used
// and the state 2^15. The extra bits of all tokens, in column order row by row, are packed from
// the least significant bit of each byte up.
//
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
