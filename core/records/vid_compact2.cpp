// Second-generation compact records (vid_compact2.h): prediction and prefix codes per block
// and plane, the blocks on the codec's workers.
#include "vid_compact2.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

#include "le_bytes.h"
#include "report.h"
#include "threading.h"

#if defined(__GNUC__) || defined(__clang__)
#define VID_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define VID_ALWAYS_INLINE __forceinline
#endif

namespace {

// Two-byte samples are little-endian in frames and records: where the processor is too, they
// move as they are.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
const bool kLittleEndian = false;
#else
const bool kLittleEndian = true;
#endif
const unsigned char kMarker[8] = {0x83, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18};
const unsigned kLayoutVersion = 2;
// The first byte of a plane whose samples are stored as they are (two-byte ones little-endian),
// with three 0 bytes after it.
const unsigned char kStored = 0xFF;
// Token probabilities are kept in 1/2048 (the tables of four contexts fit a processor's first
// cache); the coder's state stays in [2^15, 2^31) (where the encoder's reciprocals are exact)
// and moves 16 bits at a time.
const int kScaleBits = 11;
const uint32_t kScale = 1u << kScaleBits;
const uint32_t kStateLow = 1u << 15;
const int kMostTokens = 256;
const int kMostContexts = 8;
// A coded plane's head: predictor, layout, base, context count, the thresholds.
const int kPlaneHead = 5 + (kMostContexts - 1);
// Fine histogram of zigzag differences: exact below 4096, above by highest bit and the two
// bits below it (enough for every token layout, whose k is at most 7 and m at most 2).
const int kFineBins = 4096 + 4 * 4;

struct Layout {
    int k, m;
};
const Layout kLayouts[] = {{3, 1}, {5, 2}, {7, 2}};

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
    return (1 << t.k) + (bits > t.k ? (bits - t.k) << t.m : 0);
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

// The signed difference of a zigzag number, as a 32-bit pattern (without a branch).
inline uint32_t unzigzag(uint32_t u)
{
    return (u >> 1) ^ (0u - (u & 1));
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

// ---- bits ----

// Extra bits, written forward from the least significant bit of each byte.
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
    VID_ALWAYS_INLINE void refill()
    {
        if (end - at >= 8) {
            acc |= get_le64(at) << count;
            at += (63 - count) >> 3;
            count |= 56;
            return;
        }
        refill_at_end();
    }
    void refill_at_end()
    {
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
    // n bits (at most 15) when count is known to hold them
    inline uint32_t take_loaded(int n)
    {
        const uint32_t v = uint32_t(acc & ((1u << n) - 1));
        acc >>= n;
        count -= n;
        return v;
    }
    inline uint32_t take(int n) // n at most 16
    {
        if (count < 16)
            refill();
        const uint32_t v = uint32_t(acc & ((1u << n) - 1));
        acc >>= n;
        count -= n;
        return v;
    }
    // True when no bit beyond the stream was consumed.
    bool sound() const { return phantom * 8 <= count; }
};

// ---- token statistics ----

// How busy the row above is around a column: q = 2 u(x) + u(x - 1) + u(x + 1) from its zigzag
// values (the row's ends repeat their own), at most 4095; its level 0 to 47: q below 16, else
// by the highest bit and the two below it.
const int kLevels = 48;
const uint32_t kBusiest = 4095;

inline uint32_t busy(const uint16_t* above, int x, int w)
{
    const uint32_t q = 2u * above[x] + above[x > 0 ? x - 1 : x] + above[x + 1 < w ? x + 1 : x];
    return q < kBusiest ? q : kBusiest;
}

inline int level_of(uint32_t q)
{
    if (q < 16)
        return int(q);
    const int n = highest_bit(q);
    return 16 + (n - 4) * 4 + int((q >> (n - 2)) & 3);
}

// level_of for every q up to kBusiest.
const uint8_t* levels()
{
    static uint8_t table[kBusiest + 1];
    static const bool made = [] {
        for (uint32_t q = 0; q <= kBusiest; q++)
            table[q] = uint8_t(level_of(q));
        return true;
    }();
    (void)made;
    return table;
}

// The contexts of a row: for each column the context of its q (one look-up a column).
void row_contexts(const uint16_t* above, int w, const uint8_t* context_of_q, uint8_t* context)
{
    if (w == 1) {
        context[0] = context_of_q[busy(above, 0, w)];
        return;
    }
    context[0] = context_of_q[busy(above, 0, w)];
    for (int x = 1; x < w - 1; x++) {
        const uint32_t q = 2u * above[x] + above[x - 1] + above[x + 1];
        context[x] = context_of_q[q < kBusiest ? q : kBusiest];
    }
    context[w - 1] = context_of_q[busy(above, w - 1, w)];
}

// Token counts scaled to frequencies that add up to kScale, every counted token at least 1.
void normalise(const uint32_t* count, int tokens, uint32_t* freq)
{
    uint64_t total = 0;
    for (int t = 0; t < tokens; t++)
        total += count[t];
    if (total == 0) {
        std::fill(freq, freq + tokens, 0u);
        freq[0] = kScale;
        return;
    }
    int64_t sum = 0;
    for (int t = 0; t < tokens; t++) {
        freq[t] = count[t] == 0
                      ? 0
                      : std::max<uint32_t>(
                            1, uint32_t((uint64_t(count[t]) * kScale + total / 2) / total));
        sum += freq[t];
    }
    while (sum != int64_t(kScale)) {
        // the commonest token takes the difference, one step at a time
        int top = 0;
        for (int t = 1; t < tokens; t++)
            if (freq[t] > freq[top])
                top = t;
        if (sum > int64_t(kScale)) {
            const uint32_t step = std::min<uint32_t>(freq[top] - 1, uint32_t(sum - kScale));
            freq[top] -= step;
            sum -= step;
            if (step == 0) { // every token at 1: cannot happen with at most 256 tokens
                break;
            }
        } else {
            freq[top] += uint32_t(kScale - sum);
            sum = kScale;
        }
    }
}

// The encoder's view of a token: the reciprocal of its frequency for a division-free step.
struct EncodeSymbol {
    uint32_t x_max; // states at or above this move 16 bits out first
    uint32_t rcp;   // reciprocal of the frequency
    uint32_t bias;  // cumulative frequency (and the correction for frequency 1)
    uint16_t cmpl;  // kScale - frequency
    uint16_t shift;
};

EncodeSymbol encode_symbol(uint32_t start, uint32_t freq)
{
    EncodeSymbol e;
    const uint64_t x_max = uint64_t((kStateLow >> kScaleBits) << 16) * freq;
    e.x_max = x_max > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(x_max);
    e.cmpl = uint16_t(kScale - freq);
    if (freq < 2) {
        // x * 1 is x: with the reciprocal 2^32 - 1 and no shift, q = x - 1 and the bias adds
        // the missing kScale - 1.
        e.rcp = ~0u;
        e.shift = 0;
        e.bias = start + kScale - 1;
    } else {
        uint32_t shift = 0;
        while (freq > (1u << shift))
            shift++;
        e.rcp = uint32_t(((uint64_t(1) << (shift + 31)) + freq - 1) / freq);
        e.shift = uint16_t(shift - 1);
        e.bias = start;
    }
    return e;
}

// Encodes one token, the state moving 16 bits into the stream that grows downwards from *ptr.
inline void rans_put(uint32_t& x, unsigned char*& ptr, const EncodeSymbol& e)
{
    if (x >= e.x_max) {
        ptr -= 2;
        ptr[0] = uint8_t(x);
        ptr[1] = uint8_t(x >> 8);
        x >>= 16;
    }
    const uint32_t q = uint32_t((uint64_t(x) * e.rcp) >> 32) >> e.shift;
    x += e.bias + q * e.cmpl;
}

// ---- planes ----

// A context's decoding table: for each of the kScale slots, the token (8 bits), its frequency
// (12) and the slot's place within the token's range (11).
void decode_table(const uint32_t* freq, int tokens, uint32_t* table)
{
    uint32_t start = 0;
    for (int t = 0; t < tokens; t++) {
        for (uint32_t i = 0; i < freq[t]; i++)
            table[start + i] = uint32_t(t) | freq[t] << 8 | i << 20;
        start += freq[t];
    }
}

// What a plane's coder needs besides its predictor: the token layout, the contexts' thresholds
// on the activity level (a sample's context counts the thresholds its level exceeds) and their
// tables.
struct Coder {
    Layout layout{3, 1};
    int tokens = 0, contexts = 1;
    int threshold[kMostContexts - 1] = {0};
    uint32_t token_base[kMostTokens];
    uint8_t token_bits[kMostTokens];
    // the context of each activity level, and of each q
    uint8_t context_of[kLevels];
    uint8_t context_of_q[kBusiest + 1];
    void finish_layout(int bits)
    {
        tokens = token_count(layout, bits);
        for (int t = 0; t < tokens; t++) {
            if (t < (1 << layout.k)) {
                token_base[t] = uint32_t(t);
                token_bits[t] = 0;
                continue;
            }
            const int n = ((t - (1 << layout.k)) >> layout.m) + layout.k;
            const uint32_t top = uint32_t(t - (1 << layout.k)) & ((1u << layout.m) - 1);
            token_bits[t] = uint8_t(n - layout.m);
            token_base[t] = ((1u << layout.m) | top) << token_bits[t];
        }
        for (int level = 0; level < kLevels; level++) {
            int c = 0;
            for (int i = 0; i + 1 < contexts; i++)
                c += level > threshold[i];
            context_of[level] = uint8_t(c);
        }
        if (contexts > 1) {
            const uint8_t* level_of_q = levels();
            for (uint32_t q = 0; q <= kBusiest; q++)
                context_of_q[q] = context_of[level_of_q[q]];
        }
    }
};

// Predictors 1 to 5 from the sample a to the left, b above, c above-left and d above-right
// (b where the row ends): a; b; the median edge detector; the mean of a and b, rounded up;
// (2a + 2b + d - c + 2) / 4 rounded down (like every prediction, taken mod 2^bits).
template <int P, class T> inline uint32_t formula(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    if (P == 1)
        return a;
    if (P == 2)
        return b;
    if (P == 3)
        return med(a, b, c);
    if (P == 4)
        return (a + b + 1) >> 1;
    return uint32_t((2 * int(a) + 2 * int(b) + int(d) - int(c) + 2) >> 2);
}

// The prediction of sample x of a row of w, given the row, the row s above (null in the block's
// first s rows) and the predictor.
template <int P, int S, class T>
inline uint32_t predict(const T* row, const T* up, int x, int w, uint32_t base)
{
    if (P == 0)
        return base;
    if (up == nullptr)
        return x >= S ? row[x - S] : base;
    if (x < S)
        return up[x];
    return formula<P, T>(row[x - S], up[x], up[x - S], x + S < w ? up[x + S] : up[x]);
}

// Calls f(P, S) with the predictor and distance as compile-time constants (predictor 0 does not
// depend on the distance).
template <class F>
auto with_predictor(int p, int s, F&& f)
    -> decltype(f(std::integral_constant<int, 0>(), std::integral_constant<int, 1>()))
{
    typedef std::integral_constant<int, 1> S1;
    typedef std::integral_constant<int, 2> S2;
    switch (s == 2 ? p + 8 : p) {
    case 1:
        return f(std::integral_constant<int, 1>(), S1());
    case 2:
        return f(std::integral_constant<int, 2>(), S1());
    case 3:
        return f(std::integral_constant<int, 3>(), S1());
    case 4:
        return f(std::integral_constant<int, 4>(), S1());
    case 5:
        return f(std::integral_constant<int, 5>(), S1());
    case 9:
        return f(std::integral_constant<int, 1>(), S2());
    case 10:
        return f(std::integral_constant<int, 2>(), S2());
    case 11:
        return f(std::integral_constant<int, 3>(), S2());
    case 12:
        return f(std::integral_constant<int, 4>(), S2());
    case 13:
        return f(std::integral_constant<int, 5>(), S2());
    default:
        return f(std::integral_constant<int, 0>(), S1());
    }
}

// Samples of a row from their zigzag values, the prediction's neighbours in registers.
template <int P, int S, class T>
void predict_row(T* row, const T* up, const uint16_t* u, int w, uint32_t base, uint32_t mask)
{
    int x = 0;
    if (P == 0) {
        for (; x < w; x++)
            row[x] = T((base + unzigzag(u[x])) & mask);
        return;
    }
    if (up == nullptr) {
        // in a block's first rows the sample s to the left
        for (; x < w; x++) {
            const uint32_t p = x < S ? base : row[x - S];
            row[x] = T((p + unzigzag(u[x])) & mask);
        }
        return;
    }
    for (; x < S && x < w; x++)
        row[x] = T((up[x] + unzigzag(u[x])) & mask);
    if (P == 2) {
        for (; x < w; x++)
            row[x] = T((up[x] + unzigzag(u[x])) & mask);
        return;
    }
    // Left and above-left of each of the S interleaved chains, kept in registers; above-right
    // exists up to w - S.
    uint32_t left0 = row[x - S], up_left0 = up[x - S];
    uint32_t left1 = S == 2 ? row[x - 1] : 0, up_left1 = S == 2 ? up[x - 1] : 0;
    for (; x + 2 * S <= w; x += S) {
        const uint32_t b0 = up[x];
        const uint32_t v0 = (formula<P, T>(left0, b0, up_left0, up[x + S]) + unzigzag(u[x])) & mask;
        row[x] = T(v0);
        left0 = v0;
        up_left0 = b0;
        if (S == 2) {
            const uint32_t b1 = up[x + 1];
            const uint32_t v1 =
                (formula<P, T>(left1, b1, up_left1, up[x + 3]) + unzigzag(u[x + 1])) & mask;
            row[x + 1] = T(v1);
            left1 = v1;
            up_left1 = b1;
        }
    }
    for (; x < w; x++)
        row[x] = T((predict<P, S>(row, up, x, w, base) + unzigzag(u[x])) & mask);
}

// Token streams: four rANS states side by side (column x of every row in state x mod 4), their
// 16-bit words in four stretches that lie back to back; a corrupt stream may read into the next
// stretch but never beyond the last (each stretch's end is checked once the plane is done).
struct TokenStreams {
    uint32_t x[4];
    const unsigned char* at[4];
    const unsigned char* end; // of the last stretch
};

// Column x of every row: its token from state x mod 4, its extra bits from one bit stream in
// column order. A row's tokens are taken first (their contexts come from the row above), then
// the row is predicted.
template <int P, int S, class T>
bool decode_rows(TokenStreams& in, BitReader& bits_in, const uint32_t* tables, const Coder& coder,
                 T* plane, int w, int rows, uint32_t base, int bits, uint16_t* u, uint16_t* above,
                 uint8_t* context, const uint16_t* guide, uint16_t* keep)
{
    static const unsigned char zero_word[2] = {0, 0};
    const uint32_t mask = (1u << bits) - 1;
    uint32_t x0 = in.x[0], x1 = in.x[1], x2 = in.x[2], x3 = in.x[3];
    const unsigned char *a0 = in.at[0], *a1 = in.at[1], *a2 = in.at[2], *a3 = in.at[3];
    const unsigned char* const end = in.end;
    BitReader b = bits_in;
    const uint32_t* base_of = coder.token_base;
    const uint8_t* bits_of_token = coder.token_bits;
    std::fill(above, above + w, uint16_t(0));
    std::fill(context, context + w, uint8_t(0));
    // One token: the state's slot picks it; the state moves 16 bits in when it falls low (a
    // stream that ends early reads zeros and is refused at the end).
    auto take = [&](uint32_t& state, const unsigned char*& at, int column) -> uint32_t {
        const uint32_t e = tables[size_t(context[column]) * kScale + (state & (kScale - 1))];
        state = (e >> 8 & 0xFFF) * (state >> kScaleBits) + (e >> 20);
        if (state < kStateLow) {
            const unsigned char* p = end - at >= 2 ? at : zero_word;
            state = state << 16 | uint32_t(p[0] | p[1] << 8);
            at += 2;
        }
        return e & 0xFF;
    };
    // The same where the row cannot reach the end (each token moves at most 2 bytes in), without
    // a branch: whether the state takes a word in is a coin toss the processor cannot predict.
    auto take_inside = [&](uint32_t& state, const unsigned char*& at, int column) -> uint32_t {
        const uint32_t e = tables[size_t(context[column]) * kScale + (state & (kScale - 1))];
        state = (e >> 8 & 0xFFF) * (state >> kScaleBits) + (e >> 20);
        const uint32_t low = state < kStateLow;
        const uint32_t word = uint32_t(at[0] | at[1] << 8);
        state = low ? state << 16 | word : state;
        at += 2 * low;
        return e & 0xFF;
    };
    const ptrdiff_t row_reach = 2 * (ptrdiff_t(w) / 4 + 1);
    for (int y = 0; y < rows; y++) {
        T* row = plane + size_t(y) * size_t(w);
        const T* up = y >= S ? row - size_t(S) * size_t(w) : nullptr;
        if (coder.contexts > 1 && guide != nullptr)
            row_contexts(guide + size_t(y) * size_t(w), w, coder.context_of_q, context);
        else if (coder.contexts > 1 && y > 0)
            row_contexts(above, w, coder.context_of_q, context);
        int x = 0;
        if (end - a0 >= row_reach && end - a1 >= row_reach && end - a2 >= row_reach &&
            end - a3 >= row_reach)
            for (; x + 4 <= w; x += 4) {
                const uint32_t t0 = take_inside(x0, a0, x), t1 = take_inside(x1, a1, x + 1);
                const uint32_t t2 = take_inside(x2, a2, x + 2), t3 = take_inside(x3, a3, x + 3);
                b.refill();
                u[x] = uint16_t(base_of[t0] + b.take_loaded(bits_of_token[t0]));
                u[x + 1] = uint16_t(base_of[t1] + b.take_loaded(bits_of_token[t1]));
                u[x + 2] = uint16_t(base_of[t2] + b.take_loaded(bits_of_token[t2]));
                if (b.count < 15)
                    b.refill();
                u[x + 3] = uint16_t(base_of[t3] + b.take_loaded(bits_of_token[t3]));
            }
        for (; x + 4 <= w; x += 4) {
            const uint32_t t0 = take(x0, a0, x), t1 = take(x1, a1, x + 1);
            const uint32_t t2 = take(x2, a2, x + 2), t3 = take(x3, a3, x + 3);
            if (b.count < 45)
                b.refill();
            u[x] = uint16_t(base_of[t0] + b.take_loaded(bits_of_token[t0]));
            u[x + 1] = uint16_t(base_of[t1] + b.take_loaded(bits_of_token[t1]));
            u[x + 2] = uint16_t(base_of[t2] + b.take_loaded(bits_of_token[t2]));
            if (b.count < 15)
                b.refill();
            u[x + 3] = uint16_t(base_of[t3] + b.take_loaded(bits_of_token[t3]));
        }
        for (int i = 0; x < w; x++, i++) {
            const uint32_t t = i == 0   ? take(x0, a0, x)
                               : i == 1 ? take(x1, a1, x)
                                        : take(x2, a2, x);
            u[x] = uint16_t(base_of[t] + b.take(bits_of_token[t]));
        }
        predict_row<P, S>(row, up, u, w, base, mask);
        if (keep != nullptr)
            memcpy(keep + size_t(y) * size_t(w), u, size_t(w) * sizeof *u);
        std::swap(u, above);
    }
    in.x[0] = x0;
    in.x[1] = x1;
    in.x[2] = x2;
    in.x[3] = x3;
    in.at[0] = a0;
    in.at[1] = a1;
    in.at[2] = a2;
    in.at[3] = a3;
    bits_in = b;
    return true;
}

// The zigzag number of v - p, mod 2^(bits of T).
template <class T> inline uint16_t zigzag_of(T v, uint32_t p)
{
    typedef typename std::make_signed<T>::type Signed;
    const Signed d = Signed(T(v - T(p)));
    return uint16_t(T((uint32_t(d) << 1) ^ uint32_t(d >> (8 * sizeof(T) - 1))));
}

// Every sample's zigzag difference from its prediction (the rows' inner loops have no branch
// and vectorise: every neighbour is already known).
template <int P, int S, class T>
void residual_row(const T* row, const T* up, int w, uint32_t base, uint16_t* out)
{
    int x = 0;
    if (P == 0) {
        for (; x < w; x++)
            out[x] = zigzag_of(row[x], base);
        return;
    }
    for (; x < S && x < w; x++)
        out[x] = zigzag_of(row[x], up == nullptr ? base : up[x]);
    if (up == nullptr) {
        for (; x < w; x++)
            out[x] = zigzag_of(row[x], row[x - S]);
        return;
    }
    for (; x + S < w; x++)
        out[x] = zigzag_of(row[x], formula<P, T>(row[x - S], up[x], up[x - S], up[x + S]));
    for (; x < w; x++)
        out[x] = zigzag_of(row[x], formula<P, T>(row[x - S], up[x], up[x - S], up[x]));
}

template <int P, int S, class T>
void residuals(const T* plane, int w, int rows, uint32_t base, int /*bits*/, uint16_t* u)
{
    for (int y = 0; y < rows; y++) {
        const T* row = plane + size_t(y) * size_t(w);
        residual_row<P, S>(row, y >= S ? row - size_t(S) * size_t(w) : nullptr, w, base,
                           u + size_t(y) * size_t(w));
    }
}

template <class T>
void residuals_of(int predictor, int s, const T* plane, int w, int rows, uint32_t base, int bits,
                  uint16_t* u)
{
    with_predictor(predictor, s, [&](auto p, auto d) {
        residuals<decltype(p)::value, decltype(d)::value>(plane, w, rows, base, bits, u);
    });
}

template <class T>
bool decode_of(int predictor, int s, TokenStreams& in, BitReader& bin, const uint32_t* table,
               const Coder& coder, T* plane, int w, int rows, uint32_t base, int bits, uint16_t* u,
               uint16_t* above, uint8_t* context, const uint16_t* guide, uint16_t* keep)
{
    return with_predictor(predictor, s, [&](auto p, auto d) {
        return decode_rows<decltype(p)::value, decltype(d)::value>(
            in, bin, table, coder, plane, w, rows, base, bits, u, above, context, guide, keep);
    });
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

// Counts the differences of one row under predictor P at distance S into a fine histogram
// (`u`: room for the row's differences).
template <int P, int S, class T>
void histogram_row(const T* row, const T* up, int w, uint32_t base, uint16_t* u, uint32_t* h)
{
    residual_row<P, S>(row, up, w, base, u);
    for (int x = 0; x < w; x++)
        h[sizeof(T) == 1 ? u[x] : fine_bin(u[x])]++;
}

// Picks the predictor, neighbour distance and token layout of a plane from every `stride`-th
// row: the cheapest by their differences' entropy, where the predictors that chain each sample
// to the one before it (left, median; slower to expand) must win by more than `chain_margin`.
template <class T>
Choice choose(const T* plane, int w, int rows, uint32_t base, int bits, bool two_distances,
              int stride, double chain_margin, std::vector<uint32_t>& fine, uint16_t* u)
{
    struct Candidate {
        int p, s;
    };
    std::vector<Candidate> candidates = {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}};
    if (two_distances)
        candidates.insert(candidates.end(), {{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}});
    const int bins = bits == 8 ? 256 : kFineBins;
    fine.assign(candidates.size() * size_t(bins), 0);
    for (size_t c = 0; c < candidates.size(); c++) {
        uint32_t* h = fine.data() + c * size_t(bins);
        const int s = candidates[c].s;
        for (int y = 2 < rows ? 2 : 0; y < rows; y += stride) {
            const T* row = plane + size_t(y) * size_t(w);
            const T* up = y >= s ? row - size_t(s) * size_t(w) : nullptr;
            with_predictor(candidates[c].p, s, [&](auto p, auto d) {
                histogram_row<decltype(p)::value, decltype(d)::value>(row, up, w, base, u, h);
            });
        }
    }
    Choice best;
    double best_cost = -1;
    for (size_t c = 0; c < candidates.size(); c++)
        for (Layout t : kLayouts) {
            const bool chained = candidates[c].p != 0 && candidates[c].p != 2;
            const double cost = layout_cost(fine.data() + c * size_t(bins), bins, t, bits) *
                                (chained ? 1.0 + chain_margin : 1.0);
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
    // The bytes its buffers hold.
    size_t bytes() const
    {
        return samples.size * 2 + residual.size * 2 + planes.size + rows.size * 2 + context.size +
               tokens.size + token_of.size + extra.size + guide.size * 2 + fine.capacity() * 4;
    }
    Buffer<uint16_t> samples, residual;
    Buffer<uint8_t> planes;       // RGB: G, R - G, B - G
    Buffer<uint16_t> rows;        // two rows of zigzag values
    Buffer<uint8_t> context;      // a row's contexts (decoding) or every sample's (encoding)
    Buffer<unsigned char> tokens; // token streams while they are written
    Buffer<uint8_t> token_of;     // each sample's token
    Buffer<unsigned char> extra;  // the extra-bit stream while it is written
    Buffer<uint16_t> guide;       // RGB: the differences of R - G, for the contexts of B - G
    std::vector<uint32_t> fine;
    uint32_t tables[kMostContexts * kScale];
};

// Writes a plane at `out` (room: plane_room(...) bytes); returns the bytes written.
template <class T>
// guide: the zigzag differences of the plane before (RGB), whose row y then gives the contexts
// of row y; on return *coded tells whether the plane was coded (its differences are then in
// scratch.residual).
size_t encode_plane(const T* plane, int w, int rows, int bits, bool two_distances, int stride,
                    int most_contexts, double chain_margin, const uint16_t* guide, bool* coded_out,
                    Scratch& scratch, unsigned char* out)
{
    const size_t n = size_t(w) * size_t(rows);
    // The base: the mean of the sampled rows.
    uint64_t sum = 0, taken = 0;
    for (int y = 0; y < rows; y += stride)
        for (int x = 0; x < w; x++, taken++)
            sum += plane[size_t(y) * size_t(w) + size_t(x)];
    const uint32_t base = taken != 0 ? uint32_t((sum + taken / 2) / taken) : 0;
    uint16_t* residual = scratch.residual.get(n);
    const Choice c = choose(plane, w, rows, base, bits, two_distances, stride, chain_margin,
                            scratch.fine, residual);
    residuals_of(c.predictor, c.s, plane, w, rows, base, bits, residual);
    Coder coder;
    coder.layout = c.layout;
    // Contexts: the activity levels split at their quartiles (fewer where levels repeat).
    uint8_t* level = scratch.context.get(n);
    if (most_contexts > 1) {
        uint64_t histogram[kLevels] = {0};
        const uint8_t* level_of_q = levels();
        if (guide == nullptr)
            std::fill(level, level + w, uint8_t(0));
        for (int y = guide == nullptr ? 1 : 0; y < rows; y++) {
            const uint16_t* source = guide != nullptr ? guide + size_t(y) * size_t(w)
                                                      : residual + size_t(y - 1) * size_t(w);
            uint8_t* l = level + size_t(y) * size_t(w);
            l[0] = level_of_q[busy(source, 0, w)];
            for (int x = 1; x < w - 1; x++) {
                const uint32_t q = 2u * source[x] + source[x - 1] + source[x + 1];
                l[x] = level_of_q[q < kBusiest ? q : kBusiest];
            }
            l[w - 1] = level_of_q[busy(source, w - 1, w)];
            for (int x = 0; x < w; x++)
                histogram[l[x]]++;
        }
        if (guide == nullptr)
            histogram[0] += uint64_t(w);
        uint64_t seen = 0;
        int q = 1, level_at = 0;
        for (int v = 0; v < kLevels && q < most_contexts; v++) {
            seen += histogram[v];
            while (q < most_contexts && seen * uint64_t(most_contexts) >= uint64_t(q) * n) {
                if (v < kLevels - 1 && (coder.contexts == 1 || v > level_at)) {
                    coder.threshold[coder.contexts - 1] = v;
                    coder.contexts++;
                    level_at = v;
                }
                q++;
            }
        }
    }
    coder.finish_layout(bits);
    const int tokens = coder.tokens;
    // Each sample's token and context, their counts, and the extra bits (their stream is in
    // column order, so it is written here at once).
    // (Counted in two halves: consecutive samples often share a token, and one counter would
    // wait for its own last increment.)
    uint32_t count[kMostContexts][kMostTokens] = {{0}},
             count_odd[kMostContexts][kMostTokens] = {{0}};
    uint64_t extra_bits = 0;
    unsigned char* extra_stream = scratch.extra.get(n * 2 + 16);
    BitWriter extra_writer(extra_stream);
    // A sample's context counts the thresholds its level exceeds (a pass a threshold, on bytes).
    if (coder.contexts > 1) {
        uint8_t* ctx = scratch.token_of.get(2 * n) + n;
        std::fill(ctx, ctx + n, uint8_t(0));
        for (int i = 0; i + 1 < coder.contexts; i++) {
            const uint8_t t = uint8_t(coder.threshold[i]);
            for (size_t j = 0; j < n; j++)
                ctx[j] = uint8_t(ctx[j] + (level[j] > t));
        }
        memcpy(level, ctx, n);
    } else {
        std::fill(level, level + n, uint8_t(0));
    }
    uint8_t* token_of = scratch.token_of.get(2 * n);
    auto one = [&](size_t i, uint32_t(*counts)[kMostTokens]) {
        const Token k = tokenize(residual[i], c.layout);
        token_of[i] = uint8_t(k.token);
        counts[level[i]][k.token]++;
        extra_bits += uint64_t(k.extra_bits);
        extra_writer.put(k.extra, k.extra_bits);
    };
    size_t pair = 0;
    for (; pair + 2 <= n; pair += 2) {
        one(pair, count);
        one(pair + 1, count_odd);
    }
    if (pair < n)
        one(pair, count);
    extra_writer.finish();
    for (int ctx = 0; ctx < coder.contexts; ctx++)
        for (int t = 0; t < tokens; t++)
            count[ctx][t] += count_odd[ctx][t];
    const size_t extra_bytes = size_t(extra_writer.at - extra_stream);
    uint32_t freq[kMostContexts][kMostTokens];
    double cost = 0;
    for (int ctx = 0; ctx < coder.contexts; ctx++) {
        normalise(count[ctx], tokens, freq[ctx]);
        for (int t = 0; t < tokens; t++)
            if (count[ctx][t] != 0)
                cost += double(count[ctx][t]) * (kScaleBits - std::log2(double(freq[ctx][t])));
    }
    const size_t stored = 4 + n * size_t(bits / 8);
    cost += double(extra_bits);
    // The head, the contexts' frequencies and the streams' lengths, put together first.
    unsigned char head[kPlaneHead + kMostContexts * (1 + 2 * kMostTokens)];
    size_t coded = 0, head_size = 0;
    if (cost / 8 < double(stored)) {
        head[0] = uint8_t(c.predictor | c.s << 4);
        head[1] = uint8_t(c.layout.k | c.layout.m << 4);
        head[2] = uint8_t(base);
        head[3] = uint8_t(base >> 8);
        head[4] = uint8_t(coder.contexts | (guide != nullptr && coder.contexts > 1 ? 0x80 : 0));
        for (int i = 0; i + 1 < kMostContexts; i++)
            head[5 + i] = uint8_t(i + 1 < coder.contexts ? coder.threshold[i] : 0);
        unsigned char* at = head + kPlaneHead;
        for (int ctx = 0; ctx < coder.contexts; ctx++) {
            int used = tokens;
            while (used > 1 && freq[ctx][used - 1] == 0)
                used--;
            *at++ = uint8_t(used - 1);
            for (int t = 0; t < used; t++) {
                const uint32_t v = freq[ctx][t];
                if (v < 128) {
                    *at++ = uint8_t(v);
                } else {
                    *at++ = uint8_t(0x80 | (v & 0x7F));
                    *at++ = uint8_t(v >> 7);
                }
            }
        }
        head_size = size_t(at - head);
        coded = head_size + 20;
    }
    // Token streams: each coded from its last token back to its first, into its own stretch of
    // scratch growing downwards (at most 2 bytes a token, and 4 for the final state).
    const size_t room = 2 * (n / 4 + 1) + 8;
    unsigned char* scratch_tokens = coded != 0 ? scratch.tokens.get(4 * room) : nullptr;
    unsigned char* token_start[4] = {nullptr, nullptr, nullptr, nullptr};
    size_t token_length[4] = {0, 0, 0, 0};
    if (coded != 0) {
        EncodeSymbol symbols[kMostContexts][kMostTokens];
        for (int ctx = 0; ctx < coder.contexts; ctx++) {
            uint32_t start = 0;
            for (int t = 0; t < tokens; t++) {
                symbols[ctx][t] = encode_symbol(start, freq[ctx][t] != 0 ? freq[ctx][t] : 1);
                start += freq[ctx][t];
            }
        }
        // The four streams side by side, from the last token back to the first: four
        // independent chains.
        uint32_t s0 = kStateLow, s1 = kStateLow, s2 = kStateLow, s3 = kStateLow;
        unsigned char *p0 = scratch_tokens + room, *p1 = p0 + room, *p2 = p1 + room,
                      *p3 = p2 + room;
        for (int y = rows - 1; y >= 0; y--) {
            const uint8_t* r = token_of + size_t(y) * size_t(w);
            const uint8_t* l = level + size_t(y) * size_t(w);
            int x = w - 1;
            for (; x >= 0 && (x & 3) != 3; x--) {
                const EncodeSymbol& e = symbols[l[x]][r[x]];
                if ((x & 3) == 0)
                    rans_put(s0, p0, e);
                else if ((x & 3) == 1)
                    rans_put(s1, p1, e);
                else
                    rans_put(s2, p2, e);
            }
            for (; x >= 3; x -= 4) {
                rans_put(s3, p3, symbols[l[x]][r[x]]);
                rans_put(s2, p2, symbols[l[x - 1]][r[x - 1]]);
                rans_put(s1, p1, symbols[l[x - 2]][r[x - 2]]);
                rans_put(s0, p0, symbols[l[x - 3]][r[x - 3]]);
            }
        }
        const uint32_t state[4] = {s0, s1, s2, s3};
        unsigned char* ptr[4] = {p0, p1, p2, p3};
        for (int j = 0; j < 4; j++) {
            ptr[j] -= 4;
            put_le32(ptr[j], state[j]);
            token_start[j] = ptr[j];
            token_length[j] = size_t(scratch_tokens + size_t(j + 1) * room - ptr[j]);
            coded += token_length[j];
        }
        coded += extra_bytes;
    }
    if (coded == 0 || coded >= stored) {
        // Coding would not pay: the samples as they are.
        out[0] = kStored;
        out[1] = out[2] = out[3] = 0;
        unsigned char* at = out + 4;
        for (size_t i = 0; i < n; i++) {
            *at++ = uint8_t(plane[i]);
            if (bits == 16)
                *at++ = uint8_t(plane[i] >> 8);
        }
        *coded_out = false;
        return stored;
    }
    *coded_out = true;
    memcpy(out, head, head_size);
    unsigned char* lengths = out + head_size;
    unsigned char* at = lengths + 20;
    for (int j = 0; j < 4; j++) {
        memcpy(at, token_start[j], token_length[j]);
        put_le32(lengths + 4 * j, uint32_t(token_length[j]));
        at += token_length[j];
    }
    memcpy(at, extra_stream, extra_bytes);
    put_le32(lengths + 16, uint32_t(extra_bytes));
    return size_t(at + extra_bytes - out);
}

// The most bytes a plane of n samples takes (its samples stored, or a coded stream that is
// shorter).
size_t plane_room(size_t n, int bits)
{
    return 4 + n * size_t(bits / 8);
}

template <class T>
// guide: the kept differences of the plane before (null when it has none); keep: where this
// plane's differences go (or null); *coded: whether the plane was coded.
bool decode_plane(const unsigned char*& data, const unsigned char* end, T* plane, int w, int rows,
                  int bits, const uint16_t* guide, uint16_t* keep, bool* coded, Scratch& scratch)
{
    *coded = false;
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
    Coder coder;
    coder.layout = Layout{data[1] & 15, data[1] >> 4};
    const uint32_t base = uint32_t(data[2] | data[3] << 8);
    const Layout t = coder.layout;
    if (predictor > 5 || s < 1 || s > 2 || t.k > 7 || t.m > 2 || t.m > t.k || base >> bits != 0 ||
        end - data < kPlaneHead)
        return false;
    coder.contexts = data[4] & 0x7F;
    const bool guided = data[4] & 0x80;
    if (coder.contexts < 1 || coder.contexts > kMostContexts ||
        (guided && (guide == nullptr || coder.contexts < 2)))
        return false;
    for (int i = 0; i + 1 < kMostContexts; i++) {
        const int v = data[5 + i];
        if (i + 1 < coder.contexts) {
            if (v > kLevels - 2 || (i > 0 && v <= coder.threshold[i - 1]))
                return false;
            coder.threshold[i] = v;
        } else if (v != 0) {
            return false;
        }
    }
    coder.finish_layout(bits);
    const unsigned char* at = data + kPlaneHead;
    for (int ctx = 0; ctx < coder.contexts; ctx++) {
        if (at >= end)
            return false;
        const int used = *at++ + 1;
        if (used > coder.tokens)
            return false;
        uint32_t freq[kMostTokens] = {0}, sum = 0;
        for (int k = 0; k < used; k++) {
            if (at >= end)
                return false;
            uint32_t v = *at++;
            if (v & 0x80) {
                if (at >= end)
                    return false;
                v = (v & 0x7F) | uint32_t(*at++) << 7;
            }
            freq[k] = v;
            sum += v;
            if (sum > kScale)
                return false;
        }
        if (sum != kScale)
            return false;
        decode_table(freq, coder.tokens, scratch.tables + size_t(ctx) * kScale);
    }
    if (end - at < 20)
        return false;
    uint32_t length[5];
    uint64_t total = 0;
    for (int j = 0; j < 5; j++)
        total += length[j] = get_le32(at + 4 * j);
    at += 20;
    if (uint64_t(end - at) < total)
        return false;
    TokenStreams tokens_in;
    const unsigned char* stretch = at;
    const unsigned char* stretch_end[4];
    for (int j = 0; j < 4; j++) {
        if (length[j] < 4)
            return false;
        tokens_in.x[j] = get_le32(stretch);
        tokens_in.at[j] = stretch + 4;
        stretch += length[j];
        stretch_end[j] = stretch;
    }
    tokens_in.end = stretch;
    BitReader bits_in(stretch, length[4]);
    uint16_t* rows_buffer = scratch.rows.get(2 * size_t(w));
    if (!decode_of(predictor, s, tokens_in, bits_in, scratch.tables, coder, plane, w, rows, base,
                   bits, rows_buffer, rows_buffer + w, scratch.context.get(size_t(w)),
                   guided ? guide : nullptr, keep))
        return false;
    for (int j = 0; j < 4; j++)
        if (tokens_in.at[j] != stretch_end[j] || tokens_in.x[j] != kStateLow)
            return false;
    if (!bits_in.sound())
        return false;
    data = at + total;
    *coded = true;
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
    int contexts = kMostContexts; // at most
    double chain_margin = 0;
    const unsigned char* stream_at[kVidCompactMaxBlocks];
    uint32_t stream_length[kVidCompactMaxBlocks];
    const VidExpandedBytes* notify = nullptr;
    std::string* report = nullptr;
    unsigned char* region[kVidCompactMaxBlocks]; // where block i is written
    // Compression: the next block a worker takes (blocks go to whichever worker is free, so
    // that a worker slowed by other work on its processor does not hold the frame up).
    std::atomic<unsigned> next_block{0};
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
    bool coded = false;
    switch (job.filter) {
    case VidCompactFilter::bayer16: {
        uint16_t* samples = scratch.samples.get(n);
        if (kLittleEndian)
            memcpy(samples, in, 2 * n);
        else
            for (size_t k = 0; k < n; k++)
                samples[k] = uint16_t(in[2 * k] | in[2 * k + 1] << 8);
        length = encode_plane(samples, w, rows, 16, true, job.stride, job.contexts,
                              job.chain_margin, nullptr, &coded, scratch, out);
        break;
    }
    case VidCompactFilter::bayer8:
        length = encode_plane(in, w, rows, 8, true, job.stride, job.contexts, job.chain_margin,
                              nullptr, &coded, scratch, out);
        break;
    case VidCompactFilter::rgb:
    default: {
        uint8_t *g = scratch.planes.get(3 * n), *r = g + n, *b = r + n;
        for (size_t k = 0; k < n; k++) {
            g[k] = in[3 * k + 1];
            r[k] = uint8_t(in[3 * k] - in[3 * k + 1]);
            b[k] = uint8_t(in[3 * k + 2] - in[3 * k + 1]);
        }
        // B - G takes its contexts from the differences of R - G on the same row, when R - G
        // was coded: the two move together.
        uint16_t* guide = scratch.guide.get(n);
        for (int p = 0; p < 3; p++) {
            length += encode_plane(g + size_t(p) * n, w, rows, 8, false, job.stride, job.contexts,
                                   job.chain_margin, p == 2 && coded ? guide : nullptr, &coded,
                                   scratch, out + length);
            if (p == 1 && coded)
                memcpy(guide, scratch.residual.get(n), n * sizeof *guide);
        }
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
        bool coded;
        if (!decode_plane(data, end, samples, w, rows, 16, nullptr, nullptr, &coded, scratch))
            return false;
        if (kLittleEndian) {
            memcpy(out, samples, 2 * n);
        } else {
            for (size_t k = 0; k < n; k++) {
                out[2 * k] = uint8_t(samples[k]);
                out[2 * k + 1] = uint8_t(samples[k] >> 8);
            }
        }
        break;
    }
    case VidCompactFilter::bayer8: {
        bool coded;
        if (!decode_plane(data, end, out, w, rows, 8, nullptr, nullptr, &coded, scratch))
            return false;
        break;
    }
    case VidCompactFilter::rgb:
    default: {
        uint8_t* g = scratch.planes.get(3 * n);
        uint16_t* guide = scratch.guide.get(n);
        bool coded = false;
        for (int p = 0; p < 3; p++)
            if (!decode_plane(data, end, g + size_t(p) * n, w, rows, 8,
                              p == 2 && coded ? guide : nullptr, p == 1 ? guide : nullptr, &coded,
                              scratch))
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

// Workers' scratch kept between frames (a frame's buffers would otherwise be mapped and
// faulted in again for every frame, which halves the speed on small frames): at most 16,
// none larger than a frame of 4096 x 4096 two-byte samples needs, 256 MiB in all.
const size_t kKeptScratchBytes = size_t(96) << 20;
const size_t kKeptScratchTotal = size_t(256) << 20;
const size_t kKeptScratchCount = 16;
std::mutex g_kept_mutex;
std::vector<std::unique_ptr<Scratch>>& kept_scratch()
{
    static std::vector<std::unique_ptr<Scratch>> kept;
    return kept;
}

std::unique_ptr<Scratch> take_scratch()
{
    {
        std::lock_guard<std::mutex> lock(g_kept_mutex);
        std::vector<std::unique_ptr<Scratch>>& kept = kept_scratch();
        if (!kept.empty()) {
            std::unique_ptr<Scratch> s = std::move(kept.back());
            kept.pop_back();
            return s;
        }
    }
    return std::unique_ptr<Scratch>(new Scratch);
}

void give_back(std::unique_ptr<Scratch> s)
{
    if (!s || s->bytes() > kKeptScratchBytes)
        return;
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    std::vector<std::unique_ptr<Scratch>>& kept = kept_scratch();
    size_t total = s->bytes();
    for (const std::unique_ptr<Scratch>& k : kept)
        total += k->bytes();
    if (kept.size() < kKeptScratchCount && total <= kKeptScratchTotal)
        kept.push_back(std::move(s));
}

void* compress_worker(void* arg)
{
    Worker& w = *static_cast<Worker*>(arg);
    w.work_done = 1;
    try {
        std::unique_ptr<Scratch> scratch = take_scratch();
        for (unsigned i; (i = w.job->next_block.fetch_add(1)) < w.job->blocks;)
            if (!encode_block(*w.job, i, *scratch))
                w.work_done = 0;
        give_back(std::move(scratch));
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
        std::unique_ptr<Scratch> scratch = take_scratch();
        for (unsigned i = w.first; i < w.last; i++)
            if (!decode_block(job, i, *scratch))
                w.work_done = 0;
        give_back(std::move(scratch));
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
    // Contexts: none at effort 1, four (their tables fit the first cache) up to 6, eight above.
    job.contexts = compression_effort <= 1 ? 1 : compression_effort <= 6 ? 4 : kMostContexts;
    // Below the highest efforts a chained predictor must save 3% on samples to be worth its
    // slower reads (RGB planes gain more from them than they cost).
    job.chain_margin = compression_effort <= 6 && filter != VidCompactFilter::rgb ? 0.03 : 0.0;
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
