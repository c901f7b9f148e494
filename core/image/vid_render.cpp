// Rendering described clips; see vid_render.h.
#include "vid_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "report.h"
#include "threading.h"

namespace {

// Rows per worker of at least this many; no more workers than processors.
const int kMinRowsPerWorker = 64;

// The colour transform after the demosaic: gains, then the matrix (camera RGB to sRGB).
struct Transform {
    bool plain = true; // gains and matrix both identity
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

inline uint16_t clamp16(float v)
{
    return v <= 0.0f ? 0 : v >= 65535.0f ? 65535 : uint16_t(v + 0.5f);
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
    // Output: 8-bit (out8, with its table) or 16-bit (out16), `channels` per pixel.
    unsigned char* out8 = nullptr;
    const unsigned char* to8 = nullptr; // 65536 / 16 entries: value >> 4 to a byte
    uint16_t* out16 = nullptr;
    int channels = 3;
};

struct Band {
    const Job* job;
    int first, last; // rows
    int stage;       // 0: normalise, 1: demosaic and write
};

void normalise(const Job& j, int y0, int y1)
{
    const VidSensor& s = *j.sensor;
    float scale[4], black[4];
    for (int i = 0; i < 4; i++) {
        black[i] = float(s.black[i]);
        scale[i] = float(65535.0 / (s.white - s.black[i]));
    }
    for (int y = y0; y < y1; y++) {
        const int row = (y & 1) * 2;
        uint16_t* dst = j.plane + size_t(y) * size_t(j.width);
        if (j.sample_bytes == 2) {
            const unsigned char* src = j.samples + 2 * size_t(y) * size_t(j.width);
            for (int x = 0; x < j.width; x++) {
                const int site = row + (x & 1);
                const float v = float(src[2 * x] | (src[2 * x + 1] << 8));
                dst[x] = clamp16((v - black[site]) * scale[site]);
            }
        } else {
            const unsigned char* src = j.samples + size_t(y) * size_t(j.width);
            for (int x = 0; x < j.width; x++) {
                const int site = row + (x & 1);
                dst[x] = clamp16((float(src[x]) - black[site]) * scale[site]);
            }
        }
    }
}

// Writes one pixel's linear values (0..65535) through the transform and the output's depth.
inline void put(const Job& j, size_t at, int r, int g, int b)
{
    if (!j.transform.plain) {
        const float* m = j.transform.m;
        const float fr = float(r), fg = float(g), fb = float(b);
        r = clamp16(m[0] * fr + m[1] * fg + m[2] * fb);
        g = clamp16(m[3] * fr + m[4] * fg + m[5] * fb);
        b = clamp16(m[6] * fr + m[7] * fg + m[8] * fb);
    }
    if (j.out16 != nullptr) {
        uint16_t* o = j.out16 + at * 3;
        o[0] = uint16_t(r);
        o[1] = uint16_t(g);
        o[2] = uint16_t(b);
    } else {
        unsigned char* o = j.out8 + at * 3;
        o[0] = j.to8[r >> 4];
        o[1] = j.to8[g >> 4];
        o[2] = j.to8[b >> 4];
    }
}

void mono_rows(const Job& j, int y0, int y1)
{
    const float gain = float(j.sensor->gains[1]);
    for (int y = y0; y < y1; y++)
        for (int x = 0; x < j.width; x++) {
            const size_t at = size_t(y) * size_t(j.width) + size_t(x);
            int v = j.plane[at];
            if (gain != 1.0f)
                v = clamp16(float(v) * gain);
            for (int c = 0; c < j.channels; c++) {
                if (j.out16 != nullptr)
                    j.out16[at * size_t(j.channels) + size_t(c)] = uint16_t(v);
                else
                    j.out8[at * size_t(j.channels) + size_t(c)] = j.to8[v >> 4];
            }
        }
}

// Gradient-corrected bilinear interpolation (5 x 5) of the pixels of rows [y0, y1).
void demosaic_rows(const Job& j, int y0, int y1)
{
    const int w = j.width, h = j.height;
    const VidCfa cfa = j.sensor->cfa;
    for (int y = y0; y < y1; y++) {
        const uint16_t* r[5];
        for (int d = -2; d <= 2; d++)
            r[d + 2] = j.plane + size_t(reflect(y + d, h)) * size_t(w);
        // Whether this row holds red (else blue) besides green.
        const bool red_row = vid_cfa_site(cfa, 0, y) == 'R' || vid_cfa_site(cfa, 1, y) == 'R';
        const int green_x = vid_cfa_site(cfa, 0, y) == 'G' ? 0 : 1; // parity of green columns
        for (int x = 0; x < w; x++) {
            int xm2, xm1, xp1, xp2;
            if (x >= 2 && x < w - 2) {
                xm2 = x - 2, xm1 = x - 1, xp1 = x + 1, xp2 = x + 2;
            } else {
                xm2 = reflect(x - 2, w), xm1 = reflect(x - 1, w);
                xp1 = reflect(x + 1, w), xp2 = reflect(x + 2, w);
            }
            const int c = r[2][x];
            const int n1 = r[1][x], s1 = r[3][x], w1 = r[2][xm1], e1 = r[2][xp1];
            const int n2 = r[0][x], s2 = r[4][x], w2 = r[2][xm2], e2 = r[2][xp2];
            const int diag = r[1][xm1] + r[1][xp1] + r[3][xm1] + r[3][xp1];
            const size_t at = size_t(y) * size_t(w) + size_t(x);
            int red, green, blue;
            if ((x & 1) == green_x) {
                green = c;
                // Colour of the row's other site from the sides, the other from above and below.
                const int across = clamp16i(
                    (10 * c + 8 * (w1 + e1) - 2 * (w2 + e2) - 2 * diag + (n2 + s2) + 8) >> 4);
                const int along = clamp16i(
                    (10 * c + 8 * (n1 + s1) - 2 * (n2 + s2) - 2 * diag + (w2 + e2) + 8) >> 4);
                red = red_row ? across : along;
                blue = red_row ? along : across;
            } else {
                green = clamp16i((4 * c + 2 * (n1 + s1 + w1 + e1) - (n2 + s2 + w2 + e2) + 4) >> 3);
                const int other = clamp16i((12 * c + 4 * diag - 3 * (n2 + s2 + w2 + e2) + 8) >> 4);
                red = red_row ? c : other;
                blue = red_row ? other : c;
            }
            put(j, at, red, green, blue);
        }
    }
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

// The 8-bit value of each 16-bit value >> 4: linear, or the sRGB curve.
const unsigned char* table8(bool srgb)
{
    static unsigned char linear[4096], curve[4096];
    static const bool made = [] {
        for (int i = 0; i < 4096; i++) {
            const double v = (i + 0.5) / 4096.0;
            linear[i] = (unsigned char)std::lround(v * 255.0 > 255.0 ? 255.0 : v * 255.0);
            const double s = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
            curve[i] = (unsigned char)std::lround(std::min(255.0, s * 255.0));
        }
        linear[0] = curve[0] = 0;
        linear[4095] = curve[4095] = 255;
        return true;
    }();
    (void)made;
    return srgb ? curve : linear;
}

bool render(Job& j, std::string* report)
{
    VID_FAIL_IF(j.width < 1 || j.height < 1 || (j.sample_bytes != 1 && j.sample_bytes != 2), false,
                report, "cannot render frames of %d x %d pixels of %d-byte samples\n", j.width,
                j.height, j.sample_bytes);
    VID_FAIL_IF(j.channels != 3 && !(j.channels == 1 && j.sensor->cfa == VidCfa::none), false,
                report, "a frame with a colour-filter pattern renders to three channels\n");
    std::unique_ptr<uint16_t[]> plane(new (std::nothrow)
                                          uint16_t[size_t(j.width) * size_t(j.height)]);
    VID_FAIL_IF(!plane, false, report, "out of memory for a frame of %d x %d pixels\n", j.width,
                j.height);
    j.plane = plane.get();
    j.transform = transform_of(*j.sensor);
    int workers = std::min(get_num_processing_cores(), kVidMaxWorkers);
    workers = std::max(1, std::min(workers, j.height / kMinRowsPerWorker));
    Band bands[kVidMaxWorkers];
    for (int stage = 0; stage < 2; stage++) {
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
    j.to8 = table8(srgb);
    j.channels = channels;
    return render(j, report);
}

bool vid_render16(const VidSensor& sensor, const unsigned char* samples, int sample_bytes,
                  int width, int height, uint16_t* out, int channels, std::string* report)
{
    Job j{&sensor, samples, sample_bytes, width, height, nullptr, {}};
    j.out16 = out;
    j.channels = channels;
    return render(j, report);
}
