// The clip block (vid_clip.h): reading, building and checking it.
#include "vid_clip.h"

#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>

#include "vid_files.h"
#include "le_bytes.h"
#include "vid_json.h"

namespace {

const unsigned char kMagic[8] = {0x89, 'V', 'I', 'D', 'C', 'L', 'I', 'P'};

uint64_t double_bits(double d)
{
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    return bits;
}

double bits_double(uint64_t bits)
{
    double d;
    memcpy(&d, &bits, sizeof d);
    return d;
}

uint32_t block_crc(const unsigned char* metadata, size_t length, const unsigned char* trailer)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt: metadata is bounded well below 4 GiB.
    if (length > 0)
        crc = crc32(crc, metadata, uInt(length));
    crc = crc32(crc, trailer, 76);
    return uint32_t(crc);
}

bool read_at(FILE* f, int64_t at, void* to, size_t bytes)
{
    return vid_fseek(f, at, SEEK_SET) == 0 && fread(to, 1, bytes, f) == bytes;
}

VidClip damaged(VidClip clip, const std::string& why)
{
    clip.present = false;
    clip.damaged = true;
    clip.problem = why;
    return clip;
}

// A field of an intact block that breaks its rules: the block keeps its timestamps.
void field_damaged(VidClip& clip, const std::string& why)
{
    clip.damaged = true;
    clip.problem += (clip.problem.empty() ? "" : "; ") + why;
}

bool rate_allowed(double rate)
{
    return rate == 0 || (rate >= kVidClipMinFrameRate && rate <= kVidClipMaxFrameRate);
}

bool printable_ascii(const char* text, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (text[i] < 0x20 || text[i] > 0x7e)
            return false;
    return true;
}

} // namespace

VidClip vid_read_clip(FILE* f, int64_t file_size, int64_t frames)
{
    VidClip clip;
    unsigned char entry[kVidTableEntryBytes];
    if (f == nullptr || file_size < vid_table_end(1) + kVidClipTrailerBytes ||
        !read_at(f, kVidHeaderBytes, entry, sizeof entry))
        return clip;
    // Entry 0 may hold anything: it is checked before any arithmetic on it.
    const int64_t first_record = int64_t(get_le64(entry));
    if (first_record > file_size ||
        first_record < vid_table_end(frames > 0 ? frames : 1) + kVidClipTrailerBytes)
        return clip;
    const int64_t trailer_at = first_record - kVidClipTrailerBytes;
    unsigned char t[kVidClipTrailerBytes];
    if (!read_at(f, trailer_at, t, sizeof t) || memcmp(t, kMagic, sizeof kMagic) != 0)
        return clip;

    const uint32_t version = get_le32(t + 8);
    clip.flags = get_le32(t + 12);
    const int64_t block_bytes = int64_t(get_le64(t + 16));
    clip.slots = int64_t(get_le64(t + 24));
    clip.frame_rate = bits_double(get_le64(t + 32));
    const int64_t metadata_bytes = get_le32(t + 72);
    if (version == 0 || version > kVidClipLayoutVersion)
        return damaged(
            clip, "its layout version " + std::to_string(version) +
                      (version == 0 ? " is not a layout version" : " is newer than this reader's"));
    // Every length is checked against the room the block has before anything is sized by it.
    const int64_t room = trailer_at - kVidHeaderBytes;
    if (clip.slots < 0 || clip.slots > room / 8 || metadata_bytes > kVidClipMaxMetadataBytes ||
        block_bytes != 8 * clip.slots + metadata_bytes + kVidClipTrailerBytes ||
        block_bytes > first_record - vid_table_end(frames > 0 ? frames : 1))
        return damaged(clip, "its lengths do not fit the file");
    clip.block_at = first_record - block_bytes;
    if ((clip.block_at - kVidHeaderBytes) % kVidTableEntryBytes != 0)
        return damaged(clip, "it does not start at a table entry's end");

    std::string metadata(size_t(metadata_bytes), '\0');
    if (metadata_bytes > 0 &&
        !read_at(f, trailer_at - metadata_bytes, &metadata[0], size_t(metadata_bytes)))
        return damaged(clip, "its metadata cannot be read");
    if (get_le32(t + 76) !=
        block_crc(reinterpret_cast<const unsigned char*>(metadata.data()), metadata.size(), t))
        return damaged(clip, "its checksum does not match");
    clip.present = true;
    if (!std::isfinite(clip.frame_rate) || !rate_allowed(clip.frame_rate)) {
        field_damaged(clip, "its frame rate is not a rate");
        clip.frame_rate = 0;
    }
    const char* start = reinterpret_cast<const char*>(t + 40);
    const size_t start_length = strnlen(start, kVidClipStartTimeBytes);
    if (printable_ascii(start, start_length)) {
        clip.start_time.assign(start, start_length);
        clip.start_field.assign(start, kVidClipStartTimeBytes);
    } else {
        field_damaged(clip, "its start time is not printable ASCII");
    }
    std::string why;
    if (!metadata.empty() && !vid_json_object_check(metadata, why))
        field_damaged(clip, why);
    else
        clip.metadata.swap(metadata);
    // Spaces behind the object are room a recorder kept for what it writes at its finish:
    // not part of what readers are given.
    size_t end = clip.metadata.size();
    while (end > 0 && clip.metadata[end - 1] == ' ')
        end--;
    clip.metadata_room = clip.metadata.size() - end;
    clip.metadata.resize(end);
    return clip;
}

bool vid_read_timestamps_range(FILE* f, const VidClip& clip, int64_t first, int64_t count,
                               std::vector<int64_t>& out)
{
    out.assign(size_t(count > 0 ? count : 0), kVidNoTimestamp);
    if (!clip.present || first < 0 || first >= clip.slots || count <= 0)
        return true;
    const int64_t stored = count < clip.slots - first ? count : clip.slots - first;
    std::vector<unsigned char> raw(size_t(stored) * 8);
    if (!read_at(f, clip.block_at + 8 * first, raw.data(), raw.size()))
        return false;
    for (int64_t k = 0; k < stored; k++)
        out[size_t(k)] = int64_t(get_le64(&raw[size_t(k) * 8]));
    return true;
}

bool vid_read_timestamps(FILE* f, const VidClip& clip, int64_t count, std::vector<int64_t>& out)
{
    return vid_read_timestamps_range(f, clip, 0, count, out);
}

namespace {

// The 80-byte trailer of a block of `slots` timestamp slots, its CRC over the metadata too.
// The metadata as stored: the text and the room behind it.
std::string stored_metadata(const VidClip& clip)
{
    return clip.metadata_room == 0 ? clip.metadata
                                   : clip.metadata + std::string(clip.metadata_room, ' ');
}

void make_trailer(const VidClip& clip, int64_t slots, unsigned char* t)
{
    const std::string metadata = stored_metadata(clip);
    memset(t, 0, kVidClipTrailerBytes);
    memcpy(t, kMagic, sizeof kMagic);
    put_le32(t + 8, kVidClipLayoutVersion);
    put_le32(t + 12, clip.flags);
    put_le64(t + 16, uint64_t(8 * slots + int64_t(metadata.size()) + kVidClipTrailerBytes));
    put_le64(t + 24, uint64_t(slots));
    put_le64(t + 32, double_bits(clip.frame_rate));
    if (clip.start_field.size() == size_t(kVidClipStartTimeBytes))
        memcpy(t + 40, clip.start_field.data(), kVidClipStartTimeBytes);
    else
        memcpy(t + 40, clip.start_time.data(),
               clip.start_time.size() < size_t(kVidClipStartTimeBytes)
                   ? clip.start_time.size()
                   : size_t(kVidClipStartTimeBytes));
    put_le32(t + 72, uint32_t(metadata.size()));
    put_le32(t + 76, block_crc(reinterpret_cast<const unsigned char*>(metadata.data()),
                               metadata.size(), t));
}

} // namespace

std::vector<unsigned char> vid_clip_block(const VidClip& clip,
                                          const std::vector<int64_t>& timestamps, int64_t slots)
{
    const size_t stamps = size_t(slots) * 8;
    const std::string metadata = stored_metadata(clip);
    std::vector<unsigned char> block(stamps + metadata.size() + kVidClipTrailerBytes, 0);
    for (int64_t k = 0; k < slots; k++)
        put_le64(&block[size_t(k) * 8],
                 uint64_t(size_t(k) < timestamps.size() ? timestamps[size_t(k)] : kVidNoTimestamp));
    if (!metadata.empty())
        memcpy(&block[stamps], metadata.data(), metadata.size());
    make_trailer(clip, slots, &block[stamps + metadata.size()]);
    return block;
}

std::string vid_clip_check(double frame_rate, const char* start_time, const char* metadata)
{
    if (!std::isfinite(frame_rate) || frame_rate < 0)
        return "the frame rate must be a finite number of frames per second, 0 or more";
    if (!rate_allowed(frame_rate))
        return "the frame rate must be 0 (unknown) or 1e-6 to 1e9 frames per second";
    if (start_time != nullptr) {
        size_t n = strlen(start_time);
        if (n > size_t(kVidClipStartTimeBytes))
            return "the start time is longer than 32 characters";
        if (!printable_ascii(start_time, n))
            return "the start time is not plain ASCII (ISO 8601, as 2026-12-10T08:15:02Z)";
    }
    if (metadata != nullptr && *metadata != '\0') {
        size_t n = strlen(metadata);
        if (int64_t(n) > kVidClipMaxMetadataBytes)
            return "the metadata is larger than 16 MiB";
        std::string why;
        if (!vid_json_object_check(metadata, why))
            return why;
    }
    return "";
}

std::string vid_clip_new_identity(const std::string& start_time)
{
    std::string field(size_t(kVidClipStartTimeBytes), '\0');
    memcpy(&field[0], start_time.data(),
           start_time.size() < field.size() ? start_time.size() : field.size());
    // A start time shorter than 31 characters leaves room behind its NUL; the random bytes
    // are mixed with the clock, so that a weak random device still gives distinct files.
    std::random_device device;
    std::seed_seq seed{device(),
                       device(),
                       device(),
                       device(),
                       unsigned(vid_clock_now_ns()),
                       unsigned(uint64_t(vid_clock_now_ns()) >> 32)};
    std::mt19937 mix(seed);
    for (size_t i = start_time.size() + 1; i < field.size(); i++)
        field[i] = char(mix() & 0xff);
    return field;
}

bool vid_clip_same_recording(const VidClip& a, const VidClip& b)
{
    return a.present && b.present && a.start_field.size() == size_t(kVidClipStartTimeBytes) &&
           a.start_field == b.start_field;
}

int64_t vid_clock_now_ns()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

std::string vid_iso8601_utc(int64_t ns)
{
    int64_t seconds = ns / 1000000000;
    int64_t rest = ns % 1000000000;
    if (rest < 0) {
        rest += 1000000000;
        seconds--;
    }
    time_t t = time_t(seconds);
    struct tm parts;
    if (!vid_gmtime(t, parts))
        return "";
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", parts.tm_year + 1900,
             parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
             int(rest / 1000));
    return text;
}

bool vid_clip_mark_finished(FILE* f, int64_t block_at, int64_t slots)
{
    if (block_at <= 0)
        return true;
    // The block as a reader finds it, then its trailer again with the mark.
    int64_t size = -1;
    if (fflush(f) == 0 && vid_fseek(f, 0, SEEK_END) == 0)
        size = vid_ftell(f);
    VidClip clip = vid_read_clip(f, size, 0);
    if (!clip.present || clip.block_at != block_at || clip.slots != slots)
        return false;
    clip.flags |= kVidClipFinished;
    unsigned char t[kVidClipTrailerBytes];
    make_trailer(clip, slots, t);
    const int64_t trailer_at = block_at + 8 * slots + int64_t(stored_metadata(clip).size());
    return vid_fseek(f, trailer_at, SEEK_SET) == 0 && fwrite(t, 1, sizeof t, f) == sizeof t;
}

bool vid_clip_replace_metadata(FILE* f, const std::string& metadata)
{
    int64_t size = -1;
    if (fflush(f) == 0 && vid_fseek(f, 0, SEEK_END) == 0)
        size = vid_ftell(f);
    VidClip clip = vid_read_clip(f, size, 0);
    const size_t stored = clip.metadata.size() + clip.metadata_room;
    if (!clip.present || clip.damaged || metadata.size() > stored)
        return false;
    clip.metadata = metadata;
    clip.metadata_room = stored - metadata.size();
    const std::string text = stored_metadata(clip);
    unsigned char t[kVidClipTrailerBytes];
    make_trailer(clip, clip.slots, t);
    const int64_t at = clip.block_at + 8 * clip.slots;
    return vid_fseek(f, at, SEEK_SET) == 0 &&
           fwrite(text.data(), 1, text.size(), f) == text.size() &&
           fwrite(t, 1, sizeof t, f) == sizeof t && fflush(f) == 0 && vid_sync(f) == 0;
}
