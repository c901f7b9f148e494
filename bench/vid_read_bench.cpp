// Reference side of the clipReadMex benchmark: writes the 640 x 480 RGB test file, and times
// VidHeader reading its frames in C++ alone (expansion into pixmap, no conversion), so that
// clipReadMex's frames per second in Octave can be set beside it in the same run.
//
//   vid_read_bench write <file> <frames>   write <frames> frames of 640 x 480
//   vid_read_bench writebayer <file> <frames> write <frames> 1600 x 1200 two-byte Bayer frames
//   vid_read_bench rewrite <file> <passes> read every frame into memory, then time VidHeader
//                                          writing them again (to <file>.rewrite.vid),
//                                          <passes> times; prints "writer_frames_per_second"
//   vid_read_bench read <file> <passes>    read every frame <passes> times; prints
//                                          "cpp_frames_per_second <value>" and the time of
//                                          the conversion to MATLAB's double layout alone,
//                                          "conversion_ms_per_frame <value>"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "VidHeader.h"
#include "le_bytes.h"
#include "compress_uncompress_MT.h"
#include "vid_format.h"
#include "vid_image_layout.h"

namespace {

const int kWidth = 640;
const int kHeight = 480;

// Camera-like content: smooth gradients, a moving disc and mild noise, so that blocks
// compress about as well as real footage does.
void fill_frame(unsigned char* pixmap, int frame)
{
    unsigned int noise = 12345u + unsigned(frame);
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++) {
            noise = noise * 1103515245u + 12345u;
            int n = int((noise >> 16) & 7);
            int dx = x - (100 + 4 * frame) % kWidth, dy = y - 240;
            bool disc = dx * dx + dy * dy < 80 * 80;
            unsigned char* p = pixmap + (size_t(y) * kWidth + x) * 3;
            p[0] = (unsigned char)((disc ? 220 : x * 255 / kWidth) + n);
            p[1] = (unsigned char)((disc ? 40 : y * 255 / kHeight) + n);
            p[2] = (unsigned char)(((x + y + frame) & 127) + n);
        }
}

int write_file(const char* name, int frames)
{
    VidHeader writer(name, stderr, kWidth, kHeight, frames);
    if (!writer.isOpen())
        return 1;
    for (int k = 0; k < frames; k++) {
        fill_frame(writer.pixmap, k);
        if (!writer.writeNextFrameToVideoFile())
            return 1;
    }
    return 0; // the destructor finishes the file
}

int read_file(const char* name, int passes)
{
    VidHeader reader(name, stderr);
    if (!reader.isOpen() || reader.num_frames < 1)
        return 1;
    unsigned long checksum = 0;
    auto start = std::chrono::steady_clock::now();
    for (int p = 0; p < passes; p++)
        for (int k = 0; k < reader.num_frames; k++) {
            if (!reader.readFrameFromVideoFile(k))
                return 1;
            checksum += reader.pixmap[size_t(k) * 3 % size_t(reader.pixmap_size)];
        }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("cpp_frames_per_second %.2f\n", double(passes) * reader.num_frames / seconds);

    // The conversion clipReadMex does after each read, on the last frame read.
    double* planes = new (std::nothrow) double[size_t(reader.pixmap_size)];
    if (planes == nullptr)
        return 1;
    const int conversions = 100;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < conversions; i++) {
        vid_pixmap_to_planes(reader.pixmap, size_t(reader.width), size_t(reader.height), planes);
        checksum += (unsigned long)planes[size_t(i) % size_t(reader.pixmap_size)];
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("conversion_ms_per_frame %.3f\n", 1000 * seconds / conversions);
    delete[] planes;
    fprintf(stderr, "(checksum %lu)\n", checksum);
    return 0;
}

// A two-byte Bayer file (the writer makes RGB files only): header, table and blocked records
// assembled here from the format's rules.
int write_bayer_file(const char* name, int frames)
{
    const int w = 1600, h = 1200;
    FILE* f = fopen(name, "wb");
    if (f == nullptr)
        return 1;
    std::vector<unsigned char> mosaic(size_t(w) * h * 2), record(mosaic.size() * 2 + 1024);
    std::vector<int64_t> offsets;
    unsigned char header[kVidHeaderBytes];
    vid_encode_header(header, w, h, frames, true, true);
    bool ok = fwrite(header, 1, sizeof header, f) == sizeof header &&
              fseek(f, long(kVidHeaderBytes + kVidTableEntryBytes * frames), SEEK_SET) == 0;
    int64_t at = kVidHeaderBytes + kVidTableEntryBytes * int64_t(frames);
    unsigned int noise = 99;
    for (int k = 0; ok && k < frames; k++) {
        for (size_t i = 0; i < size_t(w) * h; i++) {
            noise = noise * 1103515245u + 12345u;
            unsigned v = unsigned(800 + (i % w) / 2 + (i / w) / 3 + 30 * k + ((noise >> 16) & 15));
            mosaic[2 * i] = (unsigned char)(v & 255);
            mosaic[2 * i + 1] = (unsigned char)(v >> 8);
        }
        unsigned long size = record.size();
        ok = compress_MT(record.data(), size, mosaic.data(), mosaic.size()) == 0 &&
             fwrite(record.data(), 1, size, f) == size;
        offsets.push_back(at);
        at += int64_t(size);
    }
    ok = ok && fseek(f, kVidHeaderBytes, SEEK_SET) == 0;
    for (int64_t o : offsets) {
        unsigned char e[8];
        put_le64(e, uint64_t(o));
        ok = ok && fwrite(e, 1, 8, f) == 8;
    }
    ok = fclose(f) == 0 && ok;
    return ok ? 0 : 1;
}

// The writer alone on frames already in memory: what `vid import` is measured against.
int rewrite_file(const char* name, int passes)
{
    VidHeader reader(name, stderr);
    if (!reader.isOpen() || reader.num_frames < 1)
        return 1;
    const size_t bytes = size_t(reader.pixmap_size);
    unsigned char* frames = new (std::nothrow) unsigned char[bytes * size_t(reader.num_frames)];
    if (frames == nullptr)
        return 1;
    for (int k = 0; k < reader.num_frames; k++) {
        if (!reader.readFrameFromVideoFile(k))
            return 1;
        memcpy(frames + bytes * size_t(k), reader.pixmap, bytes);
    }
    char out[4200];
    snprintf(out, sizeof out, "%s.rewrite.vid", name);
    double best = 0;
    for (int p = 0; p < passes; p++) {
        auto start = std::chrono::steady_clock::now();
        {
            VidHeader writer(out, stderr, reader.width, reader.height, reader.num_frames);
            for (int k = 0; k < reader.num_frames; k++) {
                memcpy(writer.pixmap, frames + bytes * size_t(k), bytes);
                if (!writer.writeNextFrameToVideoFile())
                    return 1;
            }
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (reader.num_frames / seconds > best)
            best = reader.num_frames / seconds;
    }
    remove(out);
    delete[] frames;
    printf("writer_frames_per_second %.2f\n", best);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || atoi(argv[3]) < 1) {
        fprintf(stderr, "usage: vid_read_bench write <file> <frames> | read <file> <passes> | "
                        "rewrite <file> <passes>\n");
        return 1;
    }
    if (strcmp(argv[1], "write") == 0)
        return write_file(argv[2], atoi(argv[3]));
    if (strcmp(argv[1], "read") == 0)
        return read_file(argv[2], atoi(argv[3]));
    if (strcmp(argv[1], "writebayer") == 0)
        return write_bayer_file(argv[2], atoi(argv[3]));
    if (strcmp(argv[1], "rewrite") == 0)
        return rewrite_file(argv[2], atoi(argv[3]));
    fprintf(stderr, "unknown mode %s\n", argv[1]);
    return 1;
}
