// Demosaics mosaics of arbitrary small sizes and contents, both sample widths, every tile
// value and every runnable kernel path, and checks each result against the plain per-pixel
// reference; the threaded driver runs on the same frame. Buffers are exactly as large as
// the sizes say, so the sanitizers see any access outside them.
//
// Input: byte 0 width - 1 (0..63 used), byte 1 height - 1, byte 2 the mode (bit 0 two-byte
// samples, bits 1-4 tile value - 4 for the one-byte routines, bit 5 custom gains), bytes
// 3-14 three little-endian float gains when bit 5 is set; the rest fills the mosaic,
// repeated as needed.
#include <cstdint>
#include <cstring>
#include <vector>

#include "bayer.h"
#include "bayer_interpolate_MT.h"
#include "bayer_simd.h"
#include "demosaic_reference.h"
#include "read-frame.h"

namespace {

float float_at(const uint8_t* p)
{
    uint32_t bits =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 15)
        return 0;
    const int w = 1 + (data[0] & 63), h = 1 + (data[1] & 63);
    const int two = data[2] & 1;
    const int tile = int((data[2] >> 1) & 15) - 4; // -4 .. 11
    float gains[3] = {1.0f, 1.33f, 3.05f};
    if (data[2] & 32)
        for (int i = 0; i < 3; i++)
            gains[i] = float_at(data + 3 + 4 * i);
    const uint8_t* content = data + 15;
    const size_t content_size = size - 15;

    std::vector<unsigned char> mosaic(size_t(w) * h * (two ? 2 : 1));
    for (size_t i = 0; i < mosaic.size(); i++)
        mosaic[i] = content_size ? content[i % content_size] : 0;

    std::vector<unsigned char> want(3 * size_t(w) * h, 0x5A);
    if (two)
        ref_bayer_interpolate_frame(mosaic.data(), want.data(), w, h, gains[0], gains[1], gains[2]);
    else
        ref_gp_bayer_decode(mosaic.data(), w, h, want.data(), BayerTile(tile));

    white_balance(gains[0], gains[1], gains[2]);
    for (BayerPath path : {BAYER_PATH_PORTABLE, BAYER_PATH_SSE41, BAYER_PATH_AVX2}) {
        if (!bayer_path_available(path))
            continue;
        std::vector<unsigned char> got(3 * size_t(w) * h, 0x5A);
        if (two)
            bayer_interpolate_frame_on_path(mosaic.data(), got.data(), w, h, path);
        else
            gp_bayer_decode_on_path(mosaic.data(), w, h, got.data(), tile, path);
        check(got == want);
    }

    // The driver: below 250 rows one worker demosaics the whole frame (arrangement 3 for
    // one-byte samples).
    std::vector<unsigned char> frame(3 * size_t(w) * h, 0);
    bayer_interpolate_MT(mosaic.data(), frame.data(), unsigned(w), unsigned(h), two);
    if (!two) {
        want.assign(want.size(), 0);
        ref_gp_bayer_decode(mosaic.data(), w, h, want.data(), BAYER_TILE_GRBG);
    }
    check(frame == want);
    white_balance(1.0f, 1.33f, 3.05f);
    return 0;
}
