// Writes the Bayer VID files that the Octave tests read, and next to each frame the RGB
// image that the C++ demosaic makes of the same mosaic, so that the tests can compare
// clipReadMex's result with it byte for byte.
//
//   make_octave_test_data <directory>
//
// bayer16.vid: 40 x 30 two-byte samples, 3 frames (width field 40);
// bayer8.vid:  40 x 30 one-byte samples, 3 frames (width field 40 + 0x8FFF);
// <file>_<k>.rgb: frame k demosaiced, width x height x 3 bytes, rows from the top, R G B.
#include <cstdio>
#include <string>
#include <vector>

#include "bayer_interpolate_MT.h"
#include "compress_uncompress_MT.h"
#include "le_bytes.h"

namespace {

const int kWidth = 40;
const int kHeight = 30;
const int kFrames = 3;

bool write_all(const std::string& path, const std::vector<unsigned char>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        perror(path.c_str());
        return false;
    }
    bool ok = bytes.empty() || fwrite(bytes.data(), bytes.size(), 1, f) == 1;
    if (fclose(f) != 0)
        ok = false;
    if (!ok)
        fprintf(stderr, "%s: write failed\n", path.c_str());
    return ok;
}

// A mosaic with structure in both directions and frame-dependent content: a gradient, a
// moving diagonal edge and a fine checker, within 12 bits for two-byte samples.
std::vector<unsigned char> make_mosaic(int frame, int bytes_per_sample)
{
    std::vector<unsigned char> m(size_t(kWidth) * kHeight * bytes_per_sample);
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++) {
            int v = 40 * x + 25 * y + ((x + y + 4 * frame) % 11 < 5 ? 900 : 0) +
                    ((x ^ y) & 1) * 150 + frame * 300;
            v %= 4096;
            size_t i = size_t(y) * kWidth + x;
            if (bytes_per_sample == 2)
                put_le16(&m[2 * i], uint16_t(v));
            else
                m[i] = uint8_t(v >> 4);
        }
    return m;
}

bool make_file(const std::string& dir, const char* stem, int bytes_per_sample)
{
    std::vector<std::vector<unsigned char>> records;
    for (int k = 0; k < kFrames; k++) {
        std::vector<unsigned char> mosaic = make_mosaic(k, bytes_per_sample);
        std::vector<unsigned char> record(2 * mosaic.size() + 1024);
        unsigned long size = record.size();
        if (compress_MT(record.data(), size, mosaic.data(), mosaic.size()) != 0) {
            fprintf(stderr, "compress_MT failed for %s frame %d\n", stem, k);
            return false;
        }
        record.resize(size);
        records.push_back(record);

        std::vector<unsigned char> rgb(size_t(kWidth) * kHeight * 3);
        bayer_interpolate_MT(mosaic.data(), rgb.data(), kWidth, kHeight,
                             bytes_per_sample == 2 ? 1 : 0);
        if (!write_all(dir + "/" + stem + "_" + std::to_string(k) + ".rgb", rgb))
            return false;
    }

    std::vector<unsigned char> file(8 + 8 * kFrames);
    put_le16(&file[0], uint16_t(bytes_per_sample == 2 ? kWidth : kWidth + 0x8FFF));
    put_le16(&file[2], uint16_t(kHeight));
    put_le32(&file[4], uint32_t(kFrames)); // positive count: Bayer frames
    for (int k = 0; k < kFrames; k++) {
        put_le64(&file[8 + 8 * k], uint64_t(file.size()));
        file.insert(file.end(), records[k].begin(), records[k].end());
    }
    return write_all(dir + "/" + stem + ".vid", file);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_octave_test_data <directory>\n");
        return 1;
    }
    std::string dir = argv[1];
    return make_file(dir, "bayer16", 2) && make_file(dir, "bayer8", 1) ? 0 : 1;
}
