// Builders of VID files for tests, fuzz seeds, benchmarks and the shipped sample.
//
// The files are assembled straight from the format (8-byte header, 64-bit offsets table,
// one compress_MT record per frame), independently of VidHeader, so that readers can be
// checked against files they did not write, and so that Bayer files (which the system never
// writes) can be made at all. Everything is header-only and uses only the standard library
// and the codec; no test framework.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "compress_uncompress_MT.h"
#include "le_bytes.h"

namespace vidtest {

using Bytes = std::vector<uint8_t>;

// Deterministic RGB frame content: smooth gradients plus a frame-dependent pattern, so that
// every frame differs and compresses to a few blocks of realistic size.
inline Bytes make_rgb_frame(int width, int height, int seed)
{
    Bytes frame(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            uint8_t* p = &frame[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[0] = uint8_t(x * 255 / (width > 1 ? width - 1 : 1) + seed);
            p[1] = uint8_t(y * 255 / (height > 1 ? height - 1 : 1) + 7 * seed);
            p[2] = uint8_t((x ^ y) + 31 * seed);
        }
    return frame;
}

// Deterministic Bayer mosaic of `bytes_per_sample` (1 or 2, little-endian) bytes per sample.
// Two-byte samples use the full 16 bits now and then, so byte order matters.
inline Bytes make_bayer_frame(int width, int height, int bytes_per_sample, int seed)
{
    Bytes frame(size_t(width) * size_t(height) * size_t(bytes_per_sample));
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            size_t at = (size_t(y) * size_t(width) + size_t(x)) * size_t(bytes_per_sample);
            uint32_t v = uint32_t(x * 3 + y * 5 + seed * 11) % 1024;
            if ((x + y + seed) % 97 == 0)
                v = 0xFEDC;
            if (bytes_per_sample == 1)
                frame[at] = uint8_t(v);
            else
                put_le16(&frame[at], uint16_t(v));
        }
    return frame;
}

// Pseudo-random bytes (a fixed linear congruential sequence): incompressible frame content.
inline Bytes make_noise(size_t size, uint32_t seed)
{
    Bytes out(size);
    uint32_t s = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; i++) {
        s = s * 1664525u + 1013904223u;
        out[i] = uint8_t(s >> 24);
    }
    return out;
}

// One frame record: the blocked-compress buffer of `frame`. Returns an empty vector when
// compress_MT fails (the capacity given is twice the frame plus room for the buffer header).
inline Bytes compress_record(const Bytes& frame)
{
    unsigned long capacity = (unsigned long)(frame.size() * 2 + 256);
    Bytes record(capacity);
    Bytes input(frame); // compress_MT takes a non-const pointer
    if (input.empty() ||
        compress_MT(record.data(), capacity, input.data(), (unsigned long)input.size()) != 0)
        return Bytes();
    record.resize(capacity);
    return record;
}

// Width field for a frame width: Bayer one-byte files (and nothing else) add 0x8FFF.
inline uint16_t width_field(int width, bool one_byte_bayer)
{
    return uint16_t(one_byte_bayer ? width + 0x8FFF : width);
}

// Assembles a VID file: header, `table_entries` offsets (at least records.size(); the
// entries past the records follow the system writer's rule: the end of the last record,
// then 8 + 8 * table_entries), and the records back to back.
inline Bytes assemble_vid(uint16_t width_field_value, uint16_t height, int32_t count_field,
                          const std::vector<Bytes>& records, size_t table_entries = 0)
{
    if (table_entries < records.size())
        table_entries = records.size();
    uint64_t first_record = 8 + 8 * uint64_t(table_entries);
    Bytes file(first_record);
    put_le16(&file[0], width_field_value);
    put_le16(&file[2], height);
    put_le32(&file[4], uint32_t(count_field));
    uint64_t at = first_record;
    for (size_t i = 0; i < table_entries; i++) {
        // Entries up to the number of records point at the records and just behind the last.
        uint64_t entry = i <= records.size() ? at : first_record;
        put_le64(&file[8 + 8 * i], entry);
        if (i < records.size())
            at += records[i].size();
    }
    for (const Bytes& r : records)
        file.insert(file.end(), r.begin(), r.end());
    return file;
}

// A complete file and the expanded frames it holds (RGB bytes or Bayer mosaics).
struct VidFile {
    Bytes bytes;
    std::vector<Bytes> frames;
};

// An RGB file of `num_frames` frames as the system's writer lays it out.
inline VidFile make_rgb_vid(int width, int height, int num_frames, size_t table_entries = 0)
{
    VidFile v;
    std::vector<Bytes> records;
    for (int i = 0; i < num_frames; i++) {
        v.frames.push_back(make_rgb_frame(width, height, i));
        records.push_back(compress_record(v.frames.back()));
    }
    v.bytes = assemble_vid(width_field(width, false), uint16_t(height), -num_frames, records,
                           table_entries);
    return v;
}

// A Bayer file of `num_frames` mosaics of 1 or 2 bytes per sample.
inline VidFile make_bayer_vid(int width, int height, int bytes_per_sample, int num_frames)
{
    VidFile v;
    std::vector<Bytes> records;
    for (int i = 0; i < num_frames; i++) {
        v.frames.push_back(make_bayer_frame(width, height, bytes_per_sample, i));
        records.push_back(compress_record(v.frames.back()));
    }
    v.bytes = assemble_vid(width_field(width, bytes_per_sample == 1), uint16_t(height), num_frames,
                           records);
    return v;
}

// Header and table field access on an assembled file.
inline void set_count_field(Bytes& file, int32_t count)
{
    put_le32(&file[4], uint32_t(count));
}
inline void set_table_entry(Bytes& file, size_t i, int64_t value)
{
    put_le64(&file[8 + 8 * i], uint64_t(value));
}
inline int64_t table_entry(const Bytes& file, size_t i)
{
    return int64_t(get_le64(&file[8 + 8 * i]));
}

inline bool write_file(const std::string& path, const Bytes& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), bytes.size(), 1, f) == 1;
    return fclose(f) == 0 && ok;
}

inline Bytes read_file(const std::string& path)
{
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return out;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        out.insert(out.end(), chunk, chunk + n);
    fclose(f);
    return out;
}

// A fresh private directory under the system's temporary directory, removed with everything
// in it when the object goes out of scope.
class TempDir {
  public:
    TempDir()
    {
        // std::filesystem rather than mkdtemp and rm -rf: the Windows builds run these tests
        // too. temp_directory_path honours TMPDIR (POSIX) or TMP/TEMP (Windows).
        std::error_code ec;
        std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        if (ec)
            return;
        std::random_device entropy;
        for (int attempt = 0; attempt < 100 && path_.empty(); attempt++) {
            std::filesystem::path p = base / ("vidtest." + std::to_string(entropy()));
            if (std::filesystem::create_directory(p, ec) && !ec)
                path_ = p.string();
        }
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

} // namespace vidtest
