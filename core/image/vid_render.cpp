// Rendering described clips; see vid_render.h.
#include "vid_render.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "bayer_simd.h"
#include "vid_render_path.h"
#include "report.h"
#include "threading.h"

namespace {

// Rows per worker of at least this many; no more workers than processors.
const int kMinRowsPerWorker = 64;

// The colour transform after the demosaic: gains, then the matrix (camera RGB to sRGB).
struct Transform {
    bool plain = true;     // gains and matrix both identity
    bool diagonal = false; // gains alone (no matrix), not all 1
    float m[9];
};

Transform transform_of(const VidSensor& s)
{
    Transform t;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) {
            const double matrix = s.has_matrix ? s.matrix[3 * r + c] : (r == c ? 1.0 : 0.0);
            t.m[3 * r + c] = float(matrix * s.gains[c]);
        }
    for (int i = 0; i < 9; i++)
        if (t.m[i] != (i % 4 == 0 ? 1.0f : 0.0f))
            t.plain = false;
    t.diagonal = !t.plain && !s.has_matrix;
    return t;
}

inline int reflect(int i, int n)
{
    if (i < 0)
        i = -i;
    if (i >= n)
        i = 2 * n - 2 - i;
    return i < 0 ? 0 : i >= n ? n - 1 : i;
}

inline int clamp16i(int v)
{
    return v < 0 ? 0 : v > 65535 ? 65535 : v;
}

struct Job {
    const VidSensor* sensor;
    const unsigned char* samples;
    int sample_bytes, width, height;
    uint16_t* plane; // the normalised samples, width * height
    Transform transform;
    // Output: 8-bit (out8; to8 the curve's table, null for linear) or 16-bit (out16),
    // `channels` per pixel.
    unsigned char* out8 = nullptr;
    const unsigned char* to8 = nullptr; // 4096 entries: value >> 4 to a byte
    uint16_t* out16 = nullptr;
    int channels = 3;
    // Two-byte samples in the host's order, one black level, no matrix, linear output: the
    // samples are demosaiced as they are and the levels applied on the way out.
    bool direct = false;
    // The normalised plane's top value: 65535, or 32767 for the 8-bit row kernel.
    float top = 65535.0f;
    // The vectorised 8-bit row kernel (linear bytes, no matrix), when the processor has one:
    // over raw samples of at most 15 bits (direct) or the 15-bit plane; output byte
    // (value - fast_black) * fast_k / 32768 (Q15), fast_kf the same factors for the pixels
    // it leaves.
    int (*fast8)(const uint16_t* const*, int, int, int, int, int, const short*,
                 unsigned char*) = nullptr;
    int fast_black = 0;
    short fast_k[3] = {0, 0, 0};
    float fast_kf[3] = {0, 0, 0};
};

struct Band {
    const Job* job;
    int first, last; // rows
    int stage;       // 0: normalise, 1: demosaic and write
};

// The row kernels: plain loops over whole rows that the compiler vectorises; on x86-64 with
// the GNU toolchain each is also built for AVX2 and picked at run time (not in sanitizer
// builds: the pick runs before their runtime is up).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__) &&         \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define VID_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define VID_ROW_KERNEL
#endif

// One row of samples (two-byte ones already in the host's order) to 0..top:
// (sample - black) * scale, with each column's black and scale given.
template <class Sample>
VID_ROW_KERNEL void normalise_row(const Sample* __restrict src, int width,
                                  const float* __restrict black, const float* __restrict scale,
                                  float top, uint16_t* __restrict dst)
{
    for (int x = 0; x < width; x++) {
        const float n = (float(src[x]) - black[x]) * scale[x] + 0.5f;
        dst[x] = uint16_t(int(std::min(top, std::max(0.0f, n))));
    }
}

void normalise(const Job& j, int y0, int y1)
{
    const VidSensor& s = *j.sensor;
    const size_t w = size_t(j.width);
    // Per column of even and odd rows: the site's black level and scale; and a row of
    // two-byte samples in the host's order.
    std::unique_ptr<float[]> sites(new (std::nothrow) float[4 * w]);
    std::unique_ptr<uint16_t[]> row(new (std::nothrow) uint16_t[w]);
    if (!sites || !row)
        return;
    for (size_t x = 0; x < w; x++)
        for (int odd_row = 0; odd_row < 2; odd_row++) {
            const int site = odd_row * 2 + int(x & 1);
            sites[size_t(odd_row) * 2 * w + x] = float(s.black[site]);
            sites[size_t(odd_row) * 2 * w + w + x] = float(j.top / (s.white - s.black[site]));
        }
    for (int y = y0; y < y1; y++) {
        const float* black = sites.get() + size_t(y & 1) * 2 * w;
        uint16_t* dst = j.plane + size_t(y) * w;
        const unsigned char* src = j.samples + size_t(j.sample_bytes) * size_t(y) * w;
        if (j.sample_bytes == 2) {
            for (size_t x = 0; x < w; x++)
                row[x] = uint16_t(src[2 * x] | (src[2 * x + 1] << 8));
            normalise_row(row.get(), j.width, black, black + w, j.top, dst);
        } else {
            normalise_row(src, j.width, black, black + w, j.top, dst);
        }
    }
}

// The 5 x 5 neighbourhood of a pixel: the sample itself, its neighbours one and two away
// across and along, and the sum of the four diagonal ones.
struct Neighbours {
    int c, n1, s1, w1, e1, n2, s2, w2, e2, diag;
};

// Gradient-corrected bilinear interpolation of one pixel: every formula, the site's taken (no
// branch, so that the row loop vectorises). green: the pixel is a green site; red_row: the
// row's other colour is red.
inline void interpolate(const Neighbours& p, int green, int red_row, uint16_t& R, uint16_t& G,
                        uint16_t& B)
{
    const int cross2 = p.n2 + p.s2 + p.w2 + p.e2;
    const int g_rb = clamp16i((4 * p.c + 2 * (p.n1 + p.s1 + p.w1 + p.e1) - cross2 + 4) >> 3);
    const int rb_diag = clamp16i((12 * p.c + 4 * p.diag - 3 * cross2 + 8) >> 4);
    const int across = clamp16i(
        (10 * p.c + 8 * (p.w1 + p.e1) - 2 * (p.w2 + p.e2) - 2 * p.diag + (p.n2 + p.s2) + 8) >> 4);
    const int along = clamp16i(
        (10 * p.c + 8 * (p.n1 + p.s1) - 2 * (p.n2 + p.s2) - 2 * p.diag + (p.w2 + p.e2) + 8) >> 4);
    const int own = green ? across : p.c;      // the row's other colour
    const int other = green ? along : rb_diag; // the colour of the rows above and below
    G = uint16_t(green ? p.c : g_rb);
    R = uint16_t(red_row ? own : other);
    B = uint16_t(red_row ? other : own);
}

// The interior pixels [2, width - 2) of a row. r[0..4]: rows y-2 .. y+2; green_x: parity of
// the row's green columns.
VID_ROW_KERNEL void demosaic_row(const uint16_t* const* r, int width, int green_x, int red_row,
                                 uint16_t* __restrict R, uint16_t* __restrict G,
                                 uint16_t* __restrict B)
{
    const uint16_t* __restrict r0 = r[0];
    const uint16_t* __restrict r1 = r[1];
    const uint16_t* __restrict r2 = r[2];
    const uint16_t* __restrict r3 = r[3];
    const uint16_t* __restrict r4 = r[4];
    for (int x = 2; x < width - 2; x++) {
        const Neighbours p{
            r2[x], r1[x], r3[x],     r2[x - 1], r2[x + 1],
            r0[x], r4[x], r2[x - 2], r2[x + 2], r1[x - 1] + r1[x + 1] + r3[x - 1] + r3[x + 1]};
        interpolate(p, (x & 1) == green_x, red_row, R[x], G[x], B[x]);
    }
}

// The same for one pixel anywhere in the row, the borders mirrored.
void demosaic_pixel(const uint16_t* const* r, int width, int x, int green_x, int red_row,
                    uint16_t* R, uint16_t* G, uint16_t* B)
{
    const int xm2 = reflect(x - 2, width), xm1 = reflect(x - 1, width);
    const int xp1 = reflect(x + 1, width), xp2 = reflect(x + 2, width);
    const Neighbours p{
        r[2][x], r[1][x], r[3][x],   r[2][xm1], r[2][xp1],
        r[0][x], r[4][x], r[2][xm2], r[2][xp2], r[1][xm1] + r[1][xp1] + r[3][xm1] + r[3][xp1]};
    interpolate(p, (x & 1) == green_x, red_row, R[x], G[x], B[x]);
}

// One row of R, G, B planes through gains alone (a transform without a matrix), in place.
VID_ROW_KERNEL void gains_row(float gr, float gg, float gb, uint16_t* __restrict R,
                              uint16_t* __restrict G, uint16_t* __restrict B, int width)
{
    for (int x = 0; x < width; x++) {
        R[x] = uint16_t(int(std::min(65535.0f, float(R[x]) * gr) + 0.5f));
        G[x] = uint16_t(int(std::min(65535.0f, float(G[x]) * gg) + 0.5f));
        B[x] = uint16_t(int(std::min(65535.0f, float(B[x]) * gb) + 0.5f));
    }
}

// One row of R, G, B planes through the colour transform, in place.
VID_ROW_KERNEL void transform_row(const Transform& t, uint16_t* __restrict R,
                                  uint16_t* __restrict G, uint16_t* __restrict B, int width)
{
    const float m0 = t.m[0], m1 = t.m[1], m2 = t.m[2], m3 = t.m[3], m4 = t.m[4], m5 = t.m[5],
                m6 = t.m[6], m7 = t.m[7], m8 = t.m[8];
    for (int x = 0; x < width; x++) {
        const float fr = float(R[x]), fg = float(G[x]), fb = float(B[x]);
        const float r = std::min(65535.0f, std::max(0.0f, m0 * fr + m1 * fg + m2 * fb));
        const float g = std::min(65535.0f, std::max(0.0f, m3 * fr + m4 * fg + m5 * fb));
        const float b = std::min(65535.0f, std::max(0.0f, m6 * fr + m7 * fg + m8 * fb));
        R[x] = uint16_t(int(r + 0.5f));
        G[x] = uint16_t(int(g + 0.5f));
        B[x] = uint16_t(int(b + 0.5f));
    }
}

// One row of R, G, B planes interleaved, as 16 bits or as bytes (linear: value * 255 / 65535,
// rounded; or through the curve's table).
VID_ROW_KERNEL void interleave16(const uint16_t* __restrict R, const uint16_t* __restrict G,
                                 const uint16_t* __restrict B, int width, uint16_t* __restrict out)
{
    for (int x = 0; x < width; x++) {
        out[3 * x] = R[x];
        out[3 * x + 1] = G[x];
        out[3 * x + 2] = B[x];
    }
}

VID_ROW_KERNEL void interleave8(const uint16_t* __restrict R, const uint16_t* __restrict G,
                                const uint16_t* __restrict B, int width, const unsigned char* to8,
                                unsigned char* __restrict out)
{
    const float k = 255.0f / 65535.0f;
    if (to8 == nullptr)
        for (int x = 0; x < width; x++) {
            out[3 * x] = uint8_t(int(float(R[x]) * k + 0.5f));
            out[3 * x + 1] = uint8_t(int(float(G[x]) * k + 0.5f));
            out[3 * x + 2] = uint8_t(int(float(B[x]) * k + 0.5f));
        }
    else
        for (int x = 0; x < width; x++) {
            out[3 * x] = to8[R[x] >> 4];
            out[3 * x + 1] = to8[G[x] >> 4];
            out[3 * x + 2] = to8[B[x] >> 4];
        }
}

// 16-bit values to bytes, as interleave8 does.
VID_ROW_KERNEL void bytes_row(const uint16_t* __restrict in, size_t count, const unsigned char* to8,
                              unsigned char* __restrict out)
{
    const float k = 255.0f / 65535.0f;
    if (to8 == nullptr)
        for (size_t i = 0; i < count; i++)
            out[i] = uint8_t(int(float(in[i]) * k + 0.5f));
    else
        for (size_t i = 0; i < count; i++)
            out[i] = to8[in[i] >> 4];
}

// The 8-bit value of each 16-bit value >> 4 on the sRGB curve.
const unsigned char* table8()
{
    static unsigned char curve[4096];
    static const bool made = [] {
        for (int i = 0; i < 4096; i++) {
            const double v = (i + 0.5) / 4096.0;
            const double s = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
            curve[i] = (unsigned char)std::lround(std::min(255.0, s * 255.0));
        }
        curve[0] = 0;
        curve[4095] = 255;
        return true;
    }();
    (void)made;
    return curve;
}

void mono_rows(const Job& j, int y0, int y1)
{
    const float gain = float(j.sensor->gains[1]);
    std::unique_ptr<uint16_t[]> row(new (std::nothrow) uint16_t[size_t(j.width) * 3]);
    if (!row)
        return;
    for (int y = y0; y < y1; y++) {
        const uint16_t* in = j.plane + size_t(y) * size_t(j.width);
        for (int x = 0; x < j.width; x++) {
            const float v = std::min(65535.0f, float(in[x]) * gain);
            for (int c = 0; c < j.channels; c++)
                row[size_t(x) * size_t(j.channels) + size_t(c)] = uint16_t(v + 0.5f);
        }
        const size_t count = size_t(j.width) * size_t(j.channels);
        const size_t at = size_t(y) * count;
        if (j.out16 != nullptr)
            memcpy(j.out16 + at, row.get(), count * sizeof(uint16_t));
        else
            bytes_row(row.get(), count, j.to8, j.out8 + at);
    }
}

// One row of R, G, B planes of raw samples straight to the output: (value - black) * k[c],
// clamped, then 8 bits linear or 16 bits, interleaved (the direct path: no normalised plane).
VID_ROW_KERNEL void direct_row(const uint16_t* __restrict R, const uint16_t* __restrict G,
                               const uint16_t* __restrict B, int width, float black, const float* k,
                               unsigned char* __restrict out8, uint16_t* __restrict out16)
{
    const float kr = k[0], kg = k[1], kb = k[2];
    if (out16 != nullptr)
        for (int x = 0; x < width; x++) {
            out16[3 * x] = uint16_t(
                int(std::min(65535.0f, std::max(0.0f, (float(R[x]) - black) * kr)) + 0.5f));
            out16[3 * x + 1] = uint16_t(
                int(std::min(65535.0f, std::max(0.0f, (float(G[x]) - black) * kg)) + 0.5f));
            out16[3 * x + 2] = uint16_t(
                int(std::min(65535.0f, std::max(0.0f, (float(B[x]) - black) * kb)) + 0.5f));
        }
    else
        for (int x = 0; x < width; x++) {
            out8[3 * x] =
                uint8_t(int(std::min(255.0f, std::max(0.0f, (float(R[x]) - black) * kr)) + 0.5f));
            out8[3 * x + 1] =
                uint8_t(int(std::min(255.0f, std::max(0.0f, (float(G[x]) - black) * kg)) + 0.5f));
            out8[3 * x + 2] =
                uint8_t(int(std::min(255.0f, std::max(0.0f, (float(B[x]) - black) * kb)) + 0.5f));
        }
}

void demosaic_rows(const Job& j, int y0, int y1)
{
    const int w = j.width, h = j.height;
    const VidCfa cfa = j.sensor->cfa;
    std::unique_ptr<uint16_t[]> planes(new (std::nothrow) uint16_t[3 * size_t(w)]);
    if (!planes)
        return;
    uint16_t *R = planes.get(), *G = R + w, *B = G + w;
    for (int y = y0; y < y1; y++) {
        const uint16_t* r[5];
        for (int d = -2; d <= 2; d++)
            r[d + 2] = j.plane + size_t(reflect(y + d, h)) * size_t(w);
        const int red_row = vid_cfa_site(cfa, 0, y) == 'R' || vid_cfa_site(cfa, 1, y) == 'R';
        const int green_x = vid_cfa_site(cfa, 0, y) == 'G' ? 0 : 1;
        const size_t at = size_t(y) * size_t(w) * 3;
        if (j.fast8 != nullptr) {
            unsigned char* out = j.out8 + at;
            const int done = j.fast8(r, 2, w, green_x, red_row, j.fast_black, j.fast_k, out);
            // the borders and what the kernel left, one pixel at a time
            for (int x = 0; x < w; x = x == 1 ? std::max(2, done) : x + 1) {
                demosaic_pixel(r, w, x, green_x, red_row, R, G, B);
                const uint16_t v[3] = {R[x], G[x], B[x]};
                for (int c = 0; c < 3; c++) {
                    const float f =
                        (float(std::min<int>(v[c], 32767)) - float(j.fast_black)) * j.fast_kf[c];
                    out[3 * x + c] = uint8_t(int(std::min(255.0f, std::max(0.0f, f)) + 0.5f));
                }
            }
            continue;
        }
        demosaic_row(r, w, green_x, red_row, R, G, B);
        for (int x = 0; x < std::min(2, w); x++)
            demosaic_pixel(r, w, x, green_x, red_row, R, G, B);
        for (int x = std::max(2, w - 2); x < w; x++)
            demosaic_pixel(r, w, x, green_x, red_row, R, G, B);
        if (j.direct) {
            // Levels and gains at once: the demosaic is linear, and the black level is one.
            const float scale = float(65535.0 / (j.sensor->white - j.sensor->black[0])) *
                                (j.out16 != nullptr ? 1.0f : 255.0f / 65535.0f);
            const float k[3] = {scale * j.transform.m[0], scale * j.transform.m[4],
                                scale * j.transform.m[8]};
            direct_row(R, G, B, w, float(j.sensor->black[0]), k, j.out16 ? nullptr : j.out8 + at,
                       j.out16 ? j.out16 + at : nullptr);
            continue;
        }
        if (j.transform.diagonal)
            gains_row(j.transform.m[0], j.transform.m[4], j.transform.m[8], R, G, B, w);
        else if (!j.transform.plain)
            transform_row(j.transform, R, G, B, w);
        if (j.out16 != nullptr)
            interleave16(R, G, B, w, j.out16 + at);
        else
            interleave8(R, G, B, w, j.to8, j.out8 + at);
    }
}

// The vectorised 8-bit kernel for 8-bit linear output without a matrix, when the processor
// has one and every channel's factor stays below 1 (more than 8 significant bits after gains).
void choose_fast8(Job& j, BayerPath path)
{
    int (*kernel)(const uint16_t* const*, int, int, int, int, int, const short*, unsigned char*) =
        nullptr;
#if defined(VID_X86_KERNELS)
    if (path == BAYER_PATH_AVX2 && bayer_path_available(BAYER_PATH_AVX2))
        kernel = render8_row_avx2;
    else if (path >= BAYER_PATH_SSE41 && bayer_path_available(BAYER_PATH_SSE41))
        kernel = render8_row_sse41;
#else
    (void)path;
#endif
    const VidSensor& s = *j.sensor;
    if (kernel == nullptr || j.out8 == nullptr || j.to8 != nullptr || s.cfa == VidCfa::none ||
        s.has_matrix || j.channels != 3)
        return;
    // Raw samples when they fit in 15 bits, else the plane normalised to 15 bits.
    const bool raw = j.direct && s.white <= 32767 && s.black[0] == std::floor(s.black[0]);
    const double black = raw ? s.black[0] : 0, span = raw ? s.white - s.black[0] : 32767;
    for (int c = 0; c < 3; c++) {
        const double k = 255.0 / span * s.gains[c];
        if (!(k >= 0 && k * 32768 < 32767.5))
            return;
        j.fast_k[c] = short(std::lround(k * 32768));
        j.fast_kf[c] = float(k);
    }
    j.fast8 = kernel;
    j.fast_black = int(black);
    j.direct = raw;
    if (!raw)
        j.top = 32767.0f;
}

void* run_band(void* arg)
{
    const Band& b = *static_cast<const Band*>(arg);
    const Job& j = *b.job;
    if (b.stage == 0)
        normalise(j, b.first, b.last);
    else if (j.sensor->cfa == VidCfa::none)
        mono_rows(j, b.first, b.last);
    else
        demosaic_rows(j, b.first, b.last);
    return nullptr;
}

bool render(Job& j, BayerPath path, std::string* report)
{
    VID_FAIL_IF(j.width < 1 || j.height < 1 || (j.sample_bytes != 1 && j.sample_bytes != 2), false,
                report, "cannot render frames of %d x %d pixels of %d-byte samples\n", j.width,
                j.height, j.sample_bytes);
    VID_FAIL_IF(j.channels != 3 && !(j.channels == 1 && j.sensor->cfa == VidCfa::none), false,
                report, "a frame with a colour-filter pattern renders to three channels\n");
    j.transform = transform_of(*j.sensor);
    const uint16_t probe = 1;
    const bool little = *reinterpret_cast<const unsigned char*>(&probe) == 1;
    const double* b = j.sensor->black;
    j.direct = j.sample_bytes == 2 && little && j.sensor->cfa != VidCfa::none &&
               !j.sensor->has_matrix && j.to8 == nullptr && b[0] == b[1] && b[0] == b[2] &&
               b[0] == b[3] && reinterpret_cast<uintptr_t>(j.samples) % alignof(uint16_t) == 0;
    choose_fast8(j, path);
    std::unique_ptr<uint16_t[]> plane;
    if (j.direct) {
        j.plane = const_cast<uint16_t*>(reinterpret_cast<const uint16_t*>(j.samples));
    } else {
        plane.reset(new (std::nothrow) uint16_t[size_t(j.width) * size_t(j.height)]);
        VID_FAIL_IF(!plane, false, report, "out of memory for a frame of %d x %d pixels\n", j.width,
                    j.height);
        j.plane = plane.get();
    }
    int workers = std::min(get_num_processing_cores(), kVidMaxWorkers);
    workers = std::max(1, std::min(workers, j.height / kMinRowsPerWorker));
    Band bands[kVidMaxWorkers];
    for (int stage = j.direct ? 1 : 0; stage < 2; stage++) {
        for (int i = 0; i < workers; i++)
            bands[i] = Band{&j, int(int64_t(j.height) * i / workers),
                            int(int64_t(j.height) * (i + 1) / workers), stage};
        // A worker that could not start leaves its rows: they are done here afterwards.
        std::string ignored;
        if (!VID_FAN_OUT(workers, run_band, bands, &ignored))
            for (int i = 1; i < workers; i++)
                run_band(&bands[i]);
    }
    return true;
}

} // namespace

bool vid_render8(const VidSensor& sensor, const unsigned char* samples, int sample_bytes, int width,
                 int height, unsigned char* out, int channels, bool srgb, std::string* report)
{
    Job j{&sensor, samples, sample_bytes, width, height, nullptr, {}};
    j.out8 = out;
    j.to8 = srgb ? table8() : nullptr; // linear values are scaled in the row kernels
    j.channels = channels;
    return render(j, bayer_best_path(), report);
}

bool vid_render8_on_path(const VidSensor& sensor, const unsigned char* samples, int sample_bytes,
                         int width, int height, unsigned char* out, int channels, bool srgb,
                         BayerPath path, std::string* report)
{
    Job j{&sensor, samples, sample_bytes, width, height, nullptr, {}};
    j.out8 = out;
    j.to8 = srgb ? table8() : nullptr;
    j.channels = channels;
    return render(j, path, report);
}

bool vid_render16(const VidSensor& sensor, const unsigned char* samples, int sample_bytes,
                  int width, int height, uint16_t* out, int channels, std::string* report)
{
    Job j{&sensor, samples, sample_bytes, width, height, nullptr, {}};
    j.out16 = out;
    j.channels = channels;
    return render(j, BAYER_PATH_PORTABLE, report);
}
