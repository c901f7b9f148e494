// Second-generation compact records (vid_compact2.h): prediction and prefix codes per block
// and plane, the blocks on the codec's workers.
#include "vid_compact2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "le_bytes.h"
#include "report.h"
#include "threading.h"

namespace {

const unsigned char kMarker[8] = {0x83, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18};
const unsigned kLayoutVersion = 2;
const int kLongestCode = 12;
// The predictor byte of a plane whose samples are stored as they are (two-byte ones
// little-endian), with three 0 bytes after it.
const unsigned char kStored = 0xFF;
const int kTableSize = 1 << kLongestCode;
const int kMostTokens = 256 + (16 - 8) * 4; // k 8, m 2, 16 bits
// Fine histogram of zigzag differences: exact below 4096, above by highest bit and the two
// bits below it (enough for every token layout, whose k is at most 8 and m at most 2).
const int kFineBins = 4096 + 4 * 4;

struct Layout {
    int k, m;
};
const Layout kLayouts[] = {{3, 1}, {5, 2}, {8, 2}};

// The position of u's highest set bit (u > 0).
inline int highest_bit(uint32_t u)
{
#if defined(__GNUC__) || defined(__clang__)
    return 31 - __builtin_clz(u);
#else
    int n = 0;
    while (u >>= 1)
        n++;
    return n;
#endif
}

int token_count(Layout t, int bits)
{
    const int n = (1 << t.k) + (bits > t.k ? (bits - t.k) << t.m : 0);
    return (n + 1) & ~1;
}

struct Token {
    uint32_t token, extra;
    int extra_bits;
};

inline Token tokenize(uint32_t u, Layout t)
{
    if (u < (1u << t.k))
        return {u, 0, 0};
    const int n = highest_bit(u), below = n - t.m;
    return {(1u << t.k) + (uint32_t(n - t.k) << t.m) + ((u >> below) & ((1u << t.m) - 1)),
            u & ((1u << below) - 1), below};
}

inline int fine_bin(uint32_t u)
{
    if (u < 4096)
        return int(u);
    const int n = highest_bit(u);
    return 4096 + (n - 12) * 4 + int((u >> (n - 2)) & 3);
}

// A zigzag value that falls in bin b (the bin's smallest).
inline uint32_t bin_value(int b)
{
    if (b < 4096)
        return uint32_t(b);
    const int n = 12 + (b - 4096) / 4;
    return (1u << n) | (uint32_t((b - 4096) % 4) << (n - 2));
}

inline uint32_t zigzag(int d)
{
    return d >= 0 ? uint32_t(d) << 1 : (uint32_t(-d) << 1) - 1;
}

inline int unzigzag(uint32_t u)
{
    return (u & 1) ? -int(u >> 1) - 1 : int(u >> 1);
}

// The difference v - p as a signed number of `bits` bits.
inline int wrap(int d, int bits)
{
    const int half = 1 << (bits - 1), span = 1 << bits;
    d &= span - 1;
    return d >= half ? d - span : d;
}

inline uint32_t med(uint32_t a, uint32_t b, uint32_t c)
{
    const uint32_t lo = a < b ? a : b, hi = a < b ? b : a;
    return c >= hi ? lo : c <= lo ? hi : a + b - c;
}

// The bits `count` of `total` events cost at their own frequency.
double bits_of(uint64_t count, uint64_t total)
{
    return count == 0 ? 0.0 : double(count) * std::log2(double(total) / double(count));
}

// ---- prefix codes ----

// Code lengths (1 to kLongestCode; 0 for unused tokens) from token counts.
void code_lengths(const uint32_t* count, int tokens, uint8_t* length)
{
    std::vector<std::pair<uint64_t, int>> used;
    for (int t = 0; t < tokens; t++) {
        length[t] = 0;
        if (count[t] != 0)
            used.push_back({count[t], t});
    }
    if (used.empty())
        return;
    if (used.size() == 1) {
        length[used[0].second] = 1;
        return;
    }
    std::sort(used.begin(), used.end());
    // Huffman's merge with two queues: leaves in rising order, then the merged nodes.
    const size_t n = used.size();
    std::vector<uint64_t> weight(2 * n);
    std::vector<int> parent(2 * n, -1);
    for (size_t i = 0; i < n; i++)
        weight[i] = used[i].first;
    size_t leaf = 0, node = n, made = n;
    auto take = [&]() {
        if (leaf < n && (node >= made || weight[leaf] <= weight[node]))
            return leaf++;
        return node++;
    };
    while (made < 2 * n - 1) {
        const size_t a = take(), b = take();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = int(made);
        made++;
    }
    std::vector<int> depth(2 * n, 0);
    for (size_t i = 2 * n - 2; i-- > 0;)
        depth[i] = depth[size_t(parent[i])] + 1;
    // Longer than the limit: cut to it, then lengthen the rarest shorter codes until the
    // lengths fit a prefix code again; then shorten the commonest where room is left.
    const int64_t room = int64_t(1) << kLongestCode;
    int64_t kraft = 0;
    for (size_t i = 0; i < n; i++) {
        depth[i] = std::min(depth[i], kLongestCode);
        kraft += room >> depth[i];
    }
    for (size_t i = 0; kraft > room; i = (i + 1) % n)
        if (depth[i] < kLongestCode) {
            depth[i]++;
            kraft -= room >> depth[i];
        }
    for (size_t i = n; i-- > 0;)
        while (depth[i] > 1 && kraft + (room >> depth[i]) <= room) {
            kraft += room >> depth[i];
            depth[i]--;
        }
    for (size_t i = 0; i < n; i++)
        length[used[i].second] = uint8_t(depth[i]);
}

// Canonical codes, bit-reversed for writing from the least significant bit. False when the
// lengths over-fill the code space.
bool canonical_codes(const uint8_t* length, int tokens, uint32_t* code)
{
    int per_length[kLongestCode + 1] = {0};
    for (int t = 0; t < tokens; t++)
        per_length[length[t]]++;
    per_length[0] = 0;
    uint32_t next[kLongestCode + 2] = {0};
    uint32_t c = 0;
    int64_t kraft = 0;
    for (int l = 1; l <= kLongestCode; l++) {
        c = (c + uint32_t(per_length[l - 1])) << 1;
        next[l] = c;
        kraft += int64_t(per_length[l]) << (kLongestCode - l);
    }
    if (kraft > kTableSize)
        return false;
    for (int t = 0; t < tokens; t++) {
        const int l = length[t];
        if (l == 0)
            continue;
        const uint32_t v = next[l]++;
        uint32_t r = 0;
        for (int i = 0; i < l; i++)
            r |= ((v >> i) & 1) << (l - 1 - i);
        code[t] = r;
    }
    return true;
}

// ---- bits ----

struct BitWriter {
    unsigned char* at;
    uint64_t acc = 0;
    int count = 0;
    explicit BitWriter(unsigned char* out) : at(out) {}
    // n bits (at most 32 with count below 32)
    inline void put(uint64_t bits, int n)
    {
        acc |= bits << count;
        count += n;
        if (count >= 32) {
            put_le32(at, uint32_t(acc));
            at += 4;
            acc >>= 32;
            count -= 32;
        }
    }
    void finish()
    {
        for (; count > 0; count -= 8) {
            *at++ = uint8_t(acc);
            acc >>= 8;
        }
        count = 0;
    }
};

struct BitReader {
    const unsigned char *at, *end;
    uint64_t acc = 0;
    int count = 0;
    int phantom = 0; // zero bytes taken in beyond the end
    BitReader(const unsigned char* p, size_t n) : at(p), end(p + n) {}
    inline void refill()
    {
        if (end - at >= 8) {
            uint64_t w = 0;
            for (int i = 0; i < 8; i++)
                w |= uint64_t(at[i]) << (8 * i);
            acc |= w << count;
            at += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            uint64_t b = 0;
            if (at < end)
                b = *at++;
            else
                phantom++;
            acc |= b << count;
            count += 8;
        }
    }
    // True when no bit beyond the stream was consumed.
    bool sound() const { return phantom * 8 <= count; }
};

// ---- planes ----

// Decoding table entry: the token's smallest value (bits 0-15), its extra bits (16-20), the
// code's length (24-27; 0: no code has these bits).
bool decode_table(const uint8_t* length, int tokens, Layout t, uint32_t* table)
{
    uint32_t code[kMostTokens];
    if (!canonical_codes(length, tokens, code))
        return false;
    std::fill(table, table + kTableSize, 0u);
    for (int tok = 0; tok < tokens; tok++) {
        const int l = length[tok];
        if (l == 0)
            continue;
        uint32_t base, extra;
        if (tok < (1 << t.k)) {
            base = uint32_t(tok);
            extra = 0;
        } else {
            const int n = ((tok - (1 << t.k)) >> t.m) + t.k;
            const uint32_t top = uint32_t(tok - (1 << t.k)) & ((1u << t.m) - 1);
            extra = uint32_t(n - t.m);
            base = ((1u << t.m) | top) << extra;
            if (n > 16 || base > 0xFFFF)
                return false;
        }
        const uint32_t entry = base | extra << 16 | uint32_t(l) << 24;
        for (uint32_t j = 0; j < (1u << (kLongestCode - l)); j++)
            table[code[tok] | j << l] = entry;
    }
    return true;
}

// The prediction of sample x of a row, given the row, the row s above (null in the block's
// first s rows) and the predictor.
template <int P, int S, class T>
inline uint32_t predict(const T* row, const T* up, int x, uint32_t base)
{
    if (P == 0)
        return base;
    if (up == nullptr)
        return x >= S ? row[x - S] : base;
    if (x < S)
        return up[x];
    if (P == 1)
        return row[x - S];
    if (P == 2)
        return up[x];
    return med(row[x - S], up[x], up[x - S]);
}

// The next zigzag value from a stream; a code no token has gives 0 and clears `sound`.
inline uint32_t take(BitReader& in, const uint32_t* table, bool& sound)
{
    if (in.count < 28)
        in.refill();
    const uint32_t e = table[in.acc & (kTableSize - 1)];
    const int l = int(e >> 24), nb = int((e >> 16) & 31);
    sound &= l != 0;
    in.acc >>= l;
    const uint32_t u = (e & 0xFFFF) + uint32_t(in.acc & ((1u << nb) - 1));
    in.acc >>= nb;
    in.count -= l + nb;
    return u;
}

// Column x of every row comes from stream x mod 4: four independent chains of table look-ups.
template <int P, int S, class T>
bool decode_rows(BitReader* in, const uint32_t* table, T* plane, int w, int rows, uint32_t base,
                 int bits, uint32_t* u)
{
    const uint32_t mask = (1u << bits) - 1;
    BitReader in0 = in[0], in1 = in[1], in2 = in[2], in3 = in[3];
    bool sound = true;
    for (int y = 0; y < rows && sound; y++) {
        T* row = plane + size_t(y) * size_t(w);
        const T* up = y >= S ? row - size_t(S) * size_t(w) : nullptr;
        int x = 0;
        for (; x + 4 <= w; x += 4) {
            u[x] = take(in0, table, sound);
            u[x + 1] = take(in1, table, sound);
            u[x + 2] = take(in2, table, sound);
            u[x + 3] = take(in3, table, sound);
        }
        BitReader* tail[3] = {&in0, &in1, &in2};
        for (; x < w; x++)
            u[x] = take(*tail[x & 3], table, sound);
        for (x = 0; x < w; x++)
            row[x] = T((predict<P, S>(row, up, x, base) + uint32_t(unzigzag(u[x]))) & mask);
    }
    in[0] = in0;
    in[1] = in1;
    in[2] = in2;
    in[3] = in3;
    return sound;
}

template <int P, int S, class T>
void residuals(const T* plane, int w, int rows, uint32_t base, int bits, uint16_t* u)
{
    for (int y = 0; y < rows; y++) {
        const T* row = plane + size_t(y) * size_t(w);
        const T* up = y >= S ? row - size_t(S) * size_t(w) : nullptr;
        uint16_t* out = u + size_t(y) * size_t(w);
        for (int x = 0; x < w; x++)
            out[x] =
                uint16_t(zigzag(wrap(int(row[x]) - int(predict<P, S>(row, up, x, base)), bits)));
    }
}

template <class T>
void residuals_of(int predictor, int s, const T* plane, int w, int rows, uint32_t base, int bits,
                  uint16_t* u)
{
    switch (predictor + 4 * (s - 1)) {
    case 0:
    case 4:
        return residuals<0, 1>(plane, w, rows, base, bits, u);
    case 1:
        return residuals<1, 1>(plane, w, rows, base, bits, u);
    case 2:
        return residuals<2, 1>(plane, w, rows, base, bits, u);
    case 3:
        return residuals<3, 1>(plane, w, rows, base, bits, u);
    case 5:
        return residuals<1, 2>(plane, w, rows, base, bits, u);
    case 6:
        return residuals<2, 2>(plane, w, rows, base, bits, u);
    default:
        return residuals<3, 2>(plane, w, rows, base, bits, u);
    }
}

template <class T>
bool decode_of(int predictor, int s, BitReader* in, const uint32_t* table, T* plane, int w,
               int rows, uint32_t base, int bits, uint32_t* u)
{
    switch (predictor + 4 * (s - 1)) {
    case 0:
    case 4:
        return decode_rows<0, 1>(in, table, plane, w, rows, base, bits, u);
    case 1:
        return decode_rows<1, 1>(in, table, plane, w, rows, base, bits, u);
    case 2:
        return decode_rows<2, 1>(in, table, plane, w, rows, base, bits, u);
    case 3:
        return decode_rows<3, 1>(in, table, plane, w, rows, base, bits, u);
    case 5:
        return decode_rows<1, 2>(in, table, plane, w, rows, base, bits, u);
    case 6:
        return decode_rows<2, 2>(in, table, plane, w, rows, base, bits, u);
    default:
        return decode_rows<3, 2>(in, table, plane, w, rows, base, bits, u);
    }
}

struct Choice {
    int predictor = 3, s = 1;
    Layout layout = kLayouts[1];
};

// The cost in bits of coding a fine histogram in a layout (the code lengths' own bytes aside).
double layout_cost(const uint32_t* fine, int bins, Layout t, int bits)
{
    uint64_t count[kMostTokens] = {0}, total = 0;
    double extra = 0;
    for (int b = 0; b < bins; b++) {
        if (fine[b] == 0)
            continue;
        const Token k = tokenize(bin_value(b), t);
        count[k.token] += fine[b];
        total += fine[b];
        extra += double(fine[b]) * k.extra_bits;
    }
    double cost = extra + 4.0 * token_count(t, bits);
    for (int i = 0; i < token_count(t, bits); i++)
        cost += bits_of(count[i], total);
    return cost;
}

// Picks the predictor, neighbour distance and token layout of a plane from every `stride`-th
// row: the cheapest by their differences' entropy.
template <class T>
Choice choose(const T* plane, int w, int rows, uint32_t base, int bits, bool two_distances,
              int stride, std::vector<uint32_t>& fine)
{
    struct Candidate {
        int p, s;
    };
    std::vector<Candidate> candidates = {{0, 1}, {1, 1}, {2, 1}, {3, 1}};
    if (two_distances)
        candidates.insert(candidates.end(), {{1, 2}, {2, 2}, {3, 2}});
    const int bins = bits == 8 ? 256 : kFineBins;
    fine.assign(candidates.size() * size_t(bins), 0);
    for (int y = 2 < rows ? 2 : 0; y < rows; y += stride) {
        const T* row = plane + size_t(y) * size_t(w);
        for (size_t c = 0; c < candidates.size(); c++) {
            uint32_t* h = fine.data() + c * size_t(bins);
            const int s = candidates[c].s;
            const T* up = y >= s ? row - size_t(s) * size_t(w) : nullptr;
            for (int x = 0; x < w; x++) {
                uint32_t p;
                switch (candidates[c].p + 4 * (s - 1)) {
                case 0:
                case 4:
                    p = base;
                    break;
                case 1:
                    p = predict<1, 1>(row, up, x, base);
                    break;
                case 2:
                    p = predict<2, 1>(row, up, x, base);
                    break;
                case 3:
                    p = predict<3, 1>(row, up, x, base);
                    break;
                case 5:
                    p = predict<1, 2>(row, up, x, base);
                    break;
                case 6:
                    p = predict<2, 2>(row, up, x, base);
                    break;
                default:
                    p = predict<3, 2>(row, up, x, base);
                }
                h[fine_bin(zigzag(wrap(int(row[x]) - int(p), bits)))]++;
            }
        }
    }
    Choice best;
    double best_cost = -1;
    for (size_t c = 0; c < candidates.size(); c++)
        for (Layout t : kLayouts) {
            if (bits == 8 && t.k == 8 && t.m != 2)
                continue;
            const double cost = layout_cost(fine.data() + c * size_t(bins), bins, t, bits);
            if (best_cost < 0 || cost < best_cost) {
                best_cost = cost;
                best.predictor = candidates[c].p;
                best.s = candidates[c].s;
                best.layout = t;
            }
        }
    return best;
}

// Scratch of one worker, kept across its blocks.
template <class T> struct Buffer {
    std::unique_ptr<T[]> data;
    size_t size = 0;
    T* get(size_t n)
    {
        if (n > size) {
            data.reset(new T[n]); // left uninitialised: every element is written before use
            size = n;
        }
        return data.get();
    }
};

struct Scratch {
    Buffer<uint16_t> samples, residual;
    Buffer<uint8_t> planes; // RGB: G, R - G, B - G
    Buffer<uint32_t> row;   // a row's zigzag values
    std::vector<uint32_t> fine;
    uint32_t table[kTableSize];
};

// Writes a plane at `out` (room: plane_room(...) bytes); returns the bytes written.
template <class T>
size_t encode_plane(const T* plane, int w, int rows, int bits, bool two_distances, int stride,
                    Scratch& scratch, unsigned char* out)
{
    const size_t n = size_t(w) * size_t(rows);
    // The base: the mean of the sampled rows.
    uint64_t sum = 0, taken = 0;
    for (int y = 0; y < rows; y += stride)
        for (int x = 0; x < w; x++, taken++)
            sum += plane[size_t(y) * size_t(w) + size_t(x)];
    const uint32_t base = taken != 0 ? uint32_t((sum + taken / 2) / taken) : 0;
    const Choice c = choose(plane, w, rows, base, bits, two_distances, stride, scratch.fine);
    uint16_t* residual = scratch.residual.get(n);
    residuals_of(c.predictor, c.s, plane, w, rows, base, bits, residual);
    const int tokens = token_count(c.layout, bits);
    // Token counts and extra bits of each of the four streams (column x in stream x mod 4).
    uint32_t count[4][kMostTokens] = {{0}};
    uint64_t stream_bits[4] = {0, 0, 0, 0};
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < w; x++) {
            const Token k = tokenize(residual[size_t(y) * size_t(w) + size_t(x)], c.layout);
            count[x & 3][k.token]++;
            stream_bits[x & 3] += uint64_t(k.extra_bits);
        }
    uint32_t all[kMostTokens];
    for (int t = 0; t < tokens; t++)
        all[t] = count[0][t] + count[1][t] + count[2][t] + count[3][t];
    uint8_t length[kMostTokens];
    uint32_t code[kMostTokens] = {0};
    code_lengths(all, tokens, length);
    canonical_codes(length, tokens, code); // the lengths come from code_lengths: they fit
    size_t stream_bytes[4], coded = 0;
    for (int j = 0; j < 4; j++) {
        for (int t = 0; t < tokens; t++)
            stream_bits[j] += uint64_t(count[j][t]) * length[t];
        stream_bytes[j] = size_t((stream_bits[j] + 7) / 8);
        coded += stream_bytes[j];
    }
    unsigned char* h = out;
    if (coded + size_t(tokens) / 2 + 20 >= n * size_t(bits / 8)) {
        // Coding would not pay: the samples as they are.
        h[0] = kStored;
        h[1] = h[2] = h[3] = 0;
        unsigned char* at = h + 4;
        for (size_t i = 0; i < n; i++) {
            *at++ = uint8_t(plane[i]);
            if (bits == 16)
                *at++ = uint8_t(plane[i] >> 8);
        }
        return size_t(at - h);
    }
    h[0] = uint8_t(c.predictor | c.s << 4);
    h[1] = uint8_t(c.layout.k | c.layout.m << 4);
    h[2] = uint8_t(base);
    h[3] = uint8_t(base >> 8);
    for (int t = 0; t < tokens; t += 2)
        h[4 + t / 2] = uint8_t(length[t] | length[t + 1] << 4);
    unsigned char* stream = h + 4 + tokens / 2 + 16;
    BitWriter bw[4] = {BitWriter(stream), BitWriter(stream + stream_bytes[0]),
                       BitWriter(stream + stream_bytes[0] + stream_bytes[1]),
                       BitWriter(stream + stream_bytes[0] + stream_bytes[1] + stream_bytes[2])};
    for (int j = 0; j < 4; j++)
        put_le32(h + 4 + tokens / 2 + 4 * j, uint32_t(stream_bytes[j]));
    // Each writer ends exactly at the next stream's start: its length is its bits rounded up.
    for (int j = 0; j < 4; j++) {
        for (int y = 0; y < rows; y++) {
            const uint16_t* r = residual + size_t(y) * size_t(w);
            for (int x = j; x < w; x += 4) {
                const Token k = tokenize(r[x], c.layout);
                bw[j].put(code[k.token] | uint64_t(k.extra) << length[k.token],
                          length[k.token] + k.extra_bits);
            }
        }
        bw[j].finish();
    }
    return size_t(stream + coded - h);
}

// The most bytes a plane of n samples takes (its samples stored, or a coded stream that is
// shorter).
size_t plane_room(size_t n, int bits)
{
    return 4 + n * size_t(bits / 8);
}

template <class T>
bool decode_plane(const unsigned char*& data, const unsigned char* end, T* plane, int w, int rows,
                  int bits, Scratch& scratch)
{
    if (end - data < 4)
        return false;
    if (data[0] == kStored) {
        const size_t n = size_t(w) * size_t(rows), bytes = n * size_t(bits / 8);
        if (data[1] != 0 || data[2] != 0 || data[3] != 0 || size_t(end - data - 4) < bytes)
            return false;
        const unsigned char* at = data + 4;
        for (size_t i = 0; i < n; i++, at += bits / 8)
            plane[i] = T(bits == 16 ? at[0] | at[1] << 8 : at[0]);
        data = at;
        return true;
    }
    const int predictor = data[0] & 15, s = data[0] >> 4;
    const Layout t{data[1] & 15, data[1] >> 4};
    const uint32_t base = uint32_t(data[2] | data[3] << 8);
    if (predictor > 3 || s < 1 || s > 2 || t.k > 8 || t.m > 2 || t.m > t.k || base >> bits != 0)
        return false;
    const int tokens = token_count(t, bits);
    if (end - data < 4 + tokens / 2 + 16)
        return false;
    uint8_t length[kMostTokens];
    for (int i = 0; i < tokens; i += 2) {
        length[i] = data[4 + i / 2] & 15;
        length[i + 1] = data[4 + i / 2] >> 4;
    }
    for (int i = 0; i < tokens; i++)
        if (length[i] > kLongestCode)
            return false;
    const unsigned char* stream = data + 4 + tokens / 2 + 16;
    uint64_t total = 0;
    uint32_t stream_bytes[4];
    for (int j = 0; j < 4; j++)
        total += stream_bytes[j] = get_le32(data + 4 + tokens / 2 + 4 * j);
    if (uint64_t(end - stream) < total)
        return false;
    if (!decode_table(length, tokens, t, scratch.table))
        return false;
    BitReader in[4] = {
        BitReader(stream, stream_bytes[0]), BitReader(stream + stream_bytes[0], stream_bytes[1]),
        BitReader(stream + stream_bytes[0] + stream_bytes[1], stream_bytes[2]),
        BitReader(stream + stream_bytes[0] + stream_bytes[1] + stream_bytes[2], stream_bytes[3])};
    if (!decode_of(predictor, s, in, scratch.table, plane, w, rows, base, bits,
                   scratch.row.get(size_t(w))) ||
        !in[0].sound() || !in[1].sound() || !in[2].sound() || !in[3].sound())
        return false;
    data = stream + total;
    return true;
}

struct Job {
    VidCompactFilter filter;
    int width = 0;
    unsigned blocks = 0;
    uint32_t row_end[kVidCompactMaxBlocks];
    const unsigned char* frame_in = nullptr;
    unsigned char* frame_out = nullptr;
    int stride = 8;
    const unsigned char* stream_at[kVidCompactMaxBlocks];
    uint32_t stream_length[kVidCompactMaxBlocks];
    const VidExpandedBytes* notify = nullptr;
    std::string* report = nullptr;
    unsigned char* region[kVidCompactMaxBlocks]; // where block i is written
};

struct Worker {
    Job* job = nullptr;
    unsigned first = 0, last = 0;
    int work_done = 0;
};

uint32_t row_begin(const Job& job, unsigned i)
{
    return i == 0 ? 0 : job.row_end[i - 1];
}

size_t row_bytes(const Job& job)
{
    return size_t(job.width) * size_t(vid_compact_pixel_bytes(job.filter));
}

// The most bytes block i takes.
size_t block_room(const Job& job, unsigned i)
{
    const size_t n = size_t(job.width) * size_t(job.row_end[i] - row_begin(job, i));
    return job.filter == VidCompactFilter::rgb
               ? 3 * plane_room(n, 8)
               : plane_room(n, job.filter == VidCompactFilter::bayer16 ? 16 : 8);
}

// Writes block i at job.region[i]; its length into job.stream_length[i].
bool encode_block(Job& job, unsigned i, Scratch& scratch)
{
    const uint32_t r0 = row_begin(job, i);
    const int rows = int(job.row_end[i] - r0), w = job.width;
    const size_t n = size_t(w) * size_t(rows);
    const unsigned char* in = job.frame_in + size_t(r0) * row_bytes(job);
    unsigned char* out = job.region[i];
    size_t length = 0;
    switch (job.filter) {
    case VidCompactFilter::bayer16: {
        uint16_t* samples = scratch.samples.get(n);
        for (size_t k = 0; k < n; k++)
            samples[k] = uint16_t(in[2 * k] | in[2 * k + 1] << 8);
        length = encode_plane(samples, w, rows, 16, true, job.stride, scratch, out);
        break;
    }
    case VidCompactFilter::bayer8:
        length = encode_plane(in, w, rows, 8, true, job.stride, scratch, out);
        break;
    case VidCompactFilter::rgb:
    default: {
        uint8_t *g = scratch.planes.get(3 * n), *r = g + n, *b = r + n;
        for (size_t k = 0; k < n; k++) {
            g[k] = in[3 * k + 1];
            r[k] = uint8_t(in[3 * k] - in[3 * k + 1]);
            b[k] = uint8_t(in[3 * k + 2] - in[3 * k + 1]);
        }
        for (int p = 0; p < 3; p++)
            length += encode_plane(g + size_t(p) * n, w, rows, 8, false, job.stride, scratch,
                                   out + length);
    }
    }
    job.stream_length[i] = uint32_t(length);
    return true;
}

bool decode_block(const Job& job, unsigned i, Scratch& scratch)
{
    const uint32_t r0 = row_begin(job, i);
    const int rows = int(job.row_end[i] - r0), w = job.width;
    const size_t n = size_t(w) * size_t(rows);
    unsigned char* out = job.frame_out + size_t(r0) * row_bytes(job);
    const unsigned char* data = job.stream_at[i];
    const unsigned char* end = data + job.stream_length[i];
    switch (job.filter) {
    case VidCompactFilter::bayer16: {
        uint16_t* samples = scratch.samples.get(n);
        if (!decode_plane(data, end, samples, w, rows, 16, scratch))
            return false;
        for (size_t k = 0; k < n; k++) {
            out[2 * k] = uint8_t(samples[k]);
            out[2 * k + 1] = uint8_t(samples[k] >> 8);
        }
        break;
    }
    case VidCompactFilter::bayer8:
        if (!decode_plane(data, end, out, w, rows, 8, scratch))
            return false;
        break;
    case VidCompactFilter::rgb:
    default: {
        uint8_t* g = scratch.planes.get(3 * n);
        for (int p = 0; p < 3; p++)
            if (!decode_plane(data, end, g + size_t(p) * n, w, rows, 8, scratch))
                return false;
        const uint8_t *r = g + n, *b = r + n;
        for (size_t k = 0; k < n; k++) {
            out[3 * k] = uint8_t(r[k] + g[k]);
            out[3 * k + 1] = g[k];
            out[3 * k + 2] = uint8_t(b[k] + g[k]);
        }
    }
    }
    return data == end;
}

void* compress_worker(void* arg)
{
    Worker& w = *static_cast<Worker*>(arg);
    w.work_done = 1;
    try {
        std::unique_ptr<Scratch> scratch(new Scratch);
        for (unsigned i = w.first; i < w.last; i++)
            if (!encode_block(*w.job, i, *scratch))
                w.work_done = 0;
    } catch (const std::bad_alloc&) {
        w.work_done = 0;
    }
    return nullptr;
}

void* expand_worker(void* arg)
{
    Worker& w = *static_cast<Worker*>(arg);
    Job& job = *w.job;
    w.work_done = 1;
    try {
        std::unique_ptr<Scratch> scratch(new Scratch);
        for (unsigned i = w.first; i < w.last; i++)
            if (!decode_block(job, i, *scratch))
                w.work_done = 0;
    } catch (const std::bad_alloc&) {
        w.work_done = -1;
    }
    if (w.work_done == 1 && w.first < w.last && job.notify != nullptr &&
        job.notify->ready != nullptr)
        job.notify->ready(job.notify->context,
                          (unsigned long)(size_t(row_begin(job, w.first)) * row_bytes(job)),
                          (unsigned long)(size_t(job.row_end[w.last - 1]) * row_bytes(job)));
    return nullptr;
}

// Runs the blocks on up to `cores` workers; 1 when all did their work, 0 when one failed, -1
// when memory ran out, -2 when a worker could not start.
int run(Job& job, void* (*entry)(void*), int cores)
{
    if (cores < 1)
        cores = get_num_processing_cores();
    int threads = std::max(1, std::min(cores, int(job.blocks)));
    threads = std::min(threads, kVidMaxWorkers);
    Worker workers[kVidCompactMaxBlocks];
    const unsigned per = (job.blocks + unsigned(threads) - 1) / unsigned(threads);
    for (int t = 0; t < threads; t++) {
        workers[t].job = &job;
        workers[t].first = std::min(per * unsigned(t), job.blocks);
        workers[t].last = std::min(per * unsigned(t + 1), job.blocks);
    }
    if (!VID_FAN_OUT(threads, entry, workers, job.report))
        return -2;
    int result = 1;
    for (int t = 0; t < threads; t++)
        result = std::min(result, workers[t].work_done);
    return result;
}

} // namespace

bool vid_is_compact2_record(const unsigned char* head, unsigned long available)
{
    return head != nullptr && available >= sizeof kMarker && memcmp(head, kMarker, 8) == 0;
}

bool vid_compact2_head(const unsigned char* head, unsigned long available, VidCompactHead& out)
{
    return vid_is_compact2_record(head, available) &&
           vid_compact_head_of_version(head, available, kLayoutVersion, out);
}

int vid_compact2_compress(unsigned char* record, unsigned long& record_size,
                          const unsigned char* frame, int width, int height,
                          VidCompactFilter filter, int compression_effort, std::string* report,
                          int cores)
{
    if (record == nullptr || frame == nullptr || width < 1 || height < 1 || width > 0xFFFF ||
        height > 0xFFFF || compression_effort < min_compression_effort ||
        compression_effort > max_compression_effort)
        return VID_CODEC_BLOCK_FAILED;
    Job job;
    job.filter = filter;
    job.width = width;
    job.blocks = vid_compact_block_count(uint64_t(row_bytes(job)) * uint64_t(height), height);
    for (unsigned i = 0; i < job.blocks; i++)
        job.row_end[i] = uint32_t(uint64_t(height) * (i + 1) / job.blocks);
    job.frame_in = frame;
    // How many rows the choice of predictor looks at: more with the effort.
    job.stride = compression_effort <= 2 ? 16 : compression_effort <= 6 ? 8 : 2;
    job.report = report;
    // Each block writes into its own stretch of the record, as long as it can take; the
    // stretches are closed up afterwards.
    uint64_t room = kVidCompactHeadBytes + 8ull * job.blocks;
    for (unsigned i = 0; i < job.blocks; i++) {
        job.region[i] = record + room;
        room += block_room(job, i);
    }
    if (room > record_size)
        return VID_CODEC_BLOCK_FAILED;
    if (run(job, compress_worker, cores) != 1)
        return VID_CODEC_BLOCK_FAILED;
    uint64_t total = kVidCompactHeadBytes + 8ull * job.blocks;
    for (unsigned i = 0; i < job.blocks; i++)
        total += job.stream_length[i];
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
        put_le32(record + kVidCompactHeadBytes + 4 * (job.blocks + i), job.stream_length[i]);
        memmove(at, job.region[i], job.stream_length[i]);
        at += job.stream_length[i];
    }
    record_size = (unsigned long)total;
    return VID_CODEC_OK;
}

int vid_compact2_expand(unsigned char* frame, unsigned long frame_size, const unsigned char* record,
                        unsigned long record_size, const VidExpandedBytes* notify,
                        std::string* report, int cores)
{
    VidCompactHead head;
    if (frame == nullptr || !vid_compact2_head(record, record_size, head) ||
        head.length != int64_t(record_size))
        return VID_CODEC_DATA_ERROR;
    if (head.expanded_bytes != frame_size)
        return VID_CODEC_BUF_ERROR;
    Job job;
    job.filter = head.filter;
    job.width = int(head.width);
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
    }
    const int result = run(job, expand_worker, cores);
    return result == 1 ? VID_CODEC_OK : result == -1 ? VID_CODEC_MEM_ERROR : VID_CODEC_BLOCK_FAILED;
}
