// make_sample_vid: writes the small Bayer VID file that the demo dumps with framewise.
//
// Usage: make_sample_vid <output.vid>
// The clip is 160 x 120 pixels, 12 frames, two-byte samples: a colour gradient with a bright
// disc moving across it, mosaiced for the demosaic's arrangement at this width (blue-green
// over green-red) and scaled by the inverse of its channel gains, so that the images come out
// with their intended colours. Records are made with compress_MT, as every VID record is.
#include <cmath>
#include <cstdio>

#include "vid_test_files.h"

namespace {

const int kWidth = 160, kHeight = 120, kFrames = 12;

// The scene at (x, y) in frame t, as 8-bit red, green, blue.
// The background gradient steps every 4 pixels, which keeps the shipped file small.
void scene(int x, int y, int t, double rgb[3])
{
    int gx = x / 4 * 4, gy = y / 4 * 4;
    rgb[0] = 40 + 180.0 * gx / (kWidth - 1);
    rgb[1] = 60 + 120.0 * gy / (kHeight - 1);
    rgb[2] = 200 - 150.0 * gx / (kWidth - 1);
    double cx = 20 + t * (kWidth - 40) / double(kFrames - 1), cy = kHeight / 2.0;
    double d = std::hypot(x - cx, y - cy);
    if (d < 22) {
        double k = d < 18 ? 1.0 : (22 - d) / 4;
        rgb[0] += (250 - rgb[0]) * k;
        rgb[1] += (230 - rgb[1]) * k;
        rgb[2] += (60 - rgb[2]) * k;
    }
}

vidtest::Bytes mosaic(int t)
{
    // Site letters of "bGgr": (even x, even y) blue, (odd, odd) red, the other two green.
    // Samples are divided by the gains 0.25, 0.3325 and 0.7625 that map them back to bytes.
    const double inverse_gain[3] = {4.0, 1.0 / 0.3325, 1.0 / 0.7625};
    vidtest::Bytes frame(size_t(kWidth) * kHeight * 2);
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++) {
            double rgb[3];
            scene(x, y, t, rgb);
            int channel = (x % 2 == 0 && y % 2 == 0) ? 2 : (x % 2 == 1 && y % 2 == 1) ? 0 : 1;
            double v = (rgb[channel] + 0.5) * inverse_gain[channel];
            put_le16(&frame[(size_t(y) * kWidth + size_t(x)) * 2], uint16_t(v));
        }
    return frame;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "Usage: make_sample_vid <output.vid>\n");
        return 1;
    }
    std::vector<vidtest::Bytes> records;
    for (int t = 0; t < kFrames; t++) {
        vidtest::Bytes frame = mosaic(t);
        records.push_back(vidtest::compress_record(frame));
        if (records.back().empty() || records.back().size() > 2 * frame.size()) {
            fprintf(stderr, "%s:%d cannot compress frame %d\n", __FILE__, __LINE__, t);
            return 1;
        }
    }
    vidtest::Bytes file =
        vidtest::assemble_vid(vidtest::width_field(kWidth, false), kHeight, kFrames, records);
    if (!vidtest::write_file(argv[1], file)) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
