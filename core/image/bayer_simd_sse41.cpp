// Demosaic row kernels for processors with SSE4.1: eight 16-bit lanes per step. Built with
// -msse4.1 (see core/CMakeLists.txt) and called only after a run-time check, so nothing in
// this file may be shared with code built for the baseline: it includes no C++ library
// header and keeps its helpers internal.
#include "bayer_simd.h"

#if defined(VID_X86_KERNELS)

#include <immintrin.h>

namespace {

// Interleave tables: bytes 0-7 of the first operand hold red, 8-15 green; the second
// operand holds blue in bytes 0-7. The pair (kRgToRgb0, kBToRgb0) gives output bytes 0-15,
// (kRgToRgb1, kBToRgb1) output bytes 16-23 in its low half.
alignas(16) const
    signed char kRgToRgb0[16] = {0, 8, -128, 1, 9, -128, 2, 10, -128, 3, 11, -128, 4, 12, -128, 5};
alignas(16) const signed char kBToRgb0[16] = {-128, -128, 0,    -128, -128, 1,    -128, -128,
                                              2,    -128, -128, 3,    -128, -128, 4,    -128};
alignas(16) const signed char kRgToRgb1[16] = {13,   -128, 6,    14,   -128, 7,    15,   -128,
                                               -128, -128, -128, -128, -128, -128, -128, -128};
alignas(16) const signed char kBToRgb1[16] = {-128, 5,    -128, -128, 6,    -128, -128, 7,
                                              -128, -128, -128, -128, -128, -128, -128, -128};

struct V {
    typedef __m128i T;
    static const int N = 8;
    static T load16(const unsigned char* p) { return _mm_loadu_si128((const __m128i*)p); }
    static T load8(const unsigned char* p)
    {
        return _mm_cvtepu8_epi16(_mm_loadl_epi64((const __m128i*)p));
    }
    static T set1(int v) { return _mm_set1_epi16(short(v)); }
    static T zero() { return _mm_setzero_si128(); }
    static T add(T a, T b) { return _mm_add_epi16(a, b); }
    static T sub(T a, T b) { return _mm_sub_epi16(a, b); }
    static T andv(T a, T b) { return _mm_and_si128(a, b); }
    static T xorv(T a, T b) { return _mm_xor_si128(a, b); }
    static T srli1(T a) { return _mm_srli_epi16(a, 1); }
    static T srli2(T a) { return _mm_srli_epi16(a, 2); }
    static T adds_u(T a, T b) { return _mm_adds_epu16(a, b); }
    static T subs_u(T a, T b) { return _mm_subs_epu16(a, b); }
    static T max_u(T a, T b) { return _mm_max_epu16(a, b); }
    static T min_u(T a, T b) { return _mm_min_epu16(a, b); }
    static T avg_u(T a, T b) { return _mm_avg_epu16(a, b); }
    static T adds_s(T a, T b) { return _mm_adds_epi16(a, b); }
    static T max_s(T a, T b) { return _mm_max_epi16(a, b); }
    template <int n> static T srai(T a) { return _mm_srai_epi16(a, n); }
    static T mulhrs(T a, T b) { return _mm_mulhrs_epi16(a, b); }
    static T mullo(T a, T b) { return _mm_mullo_epi16(a, b); }
    static T mulhi_u(T a, T b) { return _mm_mulhi_epu16(a, b); }
    static T eq(T a, T b) { return _mm_cmpeq_epi16(a, b); }
    static T gt(T a, T b) { return _mm_cmpgt_epi16(a, b); }
    static T not_zero(T a) { return _mm_xor_si128(_mm_cmpeq_epi16(a, zero()), set1(-1)); }
    // Lanes of b where mask is set, of a elsewhere.
    static T select(T mask, T b, T a) { return _mm_blendv_epi8(a, b, mask); }
    // Even lanes from a, odd lanes from b.
    static T even_odd(T a, T b) { return _mm_blend_epi16(a, b, 0xAA); }

    // c * gain rounded to single precision, then clamped to 0..255 and truncated; max
    // returns its second operand when the product is not a number, so that becomes 0.
    static T scale(T c, float gain)
    {
        const __m128 k = _mm_set1_ps(gain), lo = _mm_setzero_ps(), hi = _mm_set1_ps(255.0f);
        __m128 p0 = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvtepu16_epi32(c)), k);
        __m128 p1 = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvtepu16_epi32(_mm_srli_si128(c, 8))), k);
        p0 = _mm_min_ps(_mm_max_ps(p0, lo), hi);
        p1 = _mm_min_ps(_mm_max_ps(p1, lo), hi);
        return _mm_packus_epi32(_mm_cvttps_epi32(p0), _mm_cvttps_epi32(p1));
    }

    // Writes 8 pixels (24 bytes) from lanes holding values 0..255.
    static void store_rgb(unsigned char* out, T r, T g, T b)
    {
        const __m128i rg = _mm_packus_epi16(r, g), bb = _mm_packus_epi16(b, b);
        const __m128i out0 =
            _mm_or_si128(_mm_shuffle_epi8(rg, _mm_load_si128((const __m128i*)kRgToRgb0)),
                         _mm_shuffle_epi8(bb, _mm_load_si128((const __m128i*)kBToRgb0)));
        const __m128i out1 =
            _mm_or_si128(_mm_shuffle_epi8(rg, _mm_load_si128((const __m128i*)kRgToRgb1)),
                         _mm_shuffle_epi8(bb, _mm_load_si128((const __m128i*)kBToRgb1)));
        _mm_storeu_si128((__m128i*)out, out0);
        _mm_storel_epi64((__m128i*)(out + 16), out1);
    }
};

} // namespace

#include "bayer_kernels.inc"

int demosaic16_row_sse41(const unsigned char* const rows[5], unsigned char* out_row, int x,
                         int x_end, int bg_row, const float gains[3])
{
    return demosaic16_row(rows, out_row, x, x_end, bg_row, gains);
}

int tile_row_sse41(const unsigned char* up, const unsigned char* mid, const unsigned char* down,
                   unsigned char* out_row, int x, int x_end, int colour_parity, int colour_is_red)
{
    return tile_row(up, mid, down, out_row, x, x_end, colour_parity, colour_is_red);
}

int render8_row_sse41(const uint16_t* const rows[5], int x, int width, int green_x, int red_row,
                      int black, const short k[3], unsigned char* out_row)
{
    return render8_row(rows, x, width, green_x, red_row, black, k, out_row);
}

#endif
