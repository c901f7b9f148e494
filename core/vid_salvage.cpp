// Salvaging VID files; see vid_salvage.h.
#include "vid_salvage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "compress_uncompress_MT.h"
#include "file_offset.h"
#include "le_bytes.h"
#include "vid_format.h"

namespace {

const size_t kChunk = size_t(4) << 20;
const unsigned char kMarker[8] = {0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0x27, 0x18};
const size_t kLongestHead = 12 + 8 * 8;

std::string reason_text(int error_number)
{
    return error_number != 0 ? std::string(": ") + strerror(error_number) : std::string();
}

class File {
  public:
    explicit File(FILE* f) : f_(f) {}
    ~File()
    {
        if (f_)
            fclose(f_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    FILE* get() const { return f_; }
    FILE* release()
    {
        FILE* f = f_;
        f_ = nullptr;
        return f;
    }

  private:
    FILE* f_;
};

// Reads `n` bytes at `offset`; false on a short read.
bool read_at(FILE* f, int64_t offset, unsigned char* out, size_t n)
{
    return vid_fseek(f, offset, SEEK_SET) == 0 && fread(out, 1, n, f) == n;
}

} // namespace

bool vid_salvage_scan(const char* path, uint64_t frame_bytes, VidSalvageScan& scan,
                      std::string& error, void (*progress)(int64_t, int64_t))
{
    File file(fopen(path, "rb"));
    if (file.get() == nullptr) {
        error = std::string(path) + reason_text(errno);
        return false;
    }
    int64_t size = -1;
    if (vid_fseek(file.get(), 0, SEEK_END) == 0)
        size = vid_ftell(file.get());
    if (size < 0) {
        error = std::string(path) + ": cannot find the file's size" + reason_text(errno);
        return false;
    }
    scan = VidSalvageScan();
    scan.file_size = size;

    std::vector<unsigned char> window(kChunk + sizeof kMarker);
    std::vector<unsigned char> record;
    // `at`: the file offset where the search goes on.
    int64_t at = kVidHeaderBytes;
    while (at + int64_t(sizeof kMarker) <= size) {
        if (progress)
            progress(at, size);
        size_t n = size_t(size - at < int64_t(window.size()) ? size - at : int64_t(window.size()));
        if (!read_at(file.get(), at, window.data(), n)) {
            error = std::string(path) + ": cannot read at offset " + std::to_string(at) +
                    reason_text(errno);
            return false;
        }
        const unsigned char* found = nullptr;
        for (size_t i = 0; i + sizeof kMarker <= n; i++) {
            if (window[i] == kMarker[0] && memcmp(&window[i], kMarker, sizeof kMarker) == 0) {
                found = &window[i];
                break;
            }
        }
        if (found == nullptr) {
            at += int64_t(n - sizeof kMarker + 1);
            continue;
        }
        int64_t candidate = at + (found - window.data());
        unsigned char head[kLongestHead];
        size_t head_bytes =
            size - candidate < int64_t(sizeof head) ? size_t(size - candidate) : sizeof head;
        if (!read_at(file.get(), candidate, head, head_bytes)) {
            error = std::string(path) + ": cannot read at offset " + std::to_string(candidate);
            return false;
        }
        int64_t length = blocked_compress_length(head, (unsigned long)head_bytes);
        if (length < 0) {
            // A marker without a whole header: cut off by the end of the file, or noise.
            if (head_bytes < sizeof head && candidate + 12 + 8 * 8 > size)
                scan.torn_tail = scan.torn_tail < 0 ? candidate : scan.torn_tail;
            else
                scan.damaged.push_back(candidate);
            at = candidate + 1;
            continue;
        }
        if (length > size - candidate) {
            scan.torn_tail = candidate; // runs past the end: a writer stopped inside it
            at = candidate + 1;
            continue;
        }
        record.resize(size_t(length));
        if (!read_at(file.get(), candidate, record.data(), record.size())) {
            error = std::string(path) + ": cannot read at offset " + std::to_string(candidate);
            return false;
        }
        unsigned char* expanded = nullptr;
        unsigned long expanded_size = 0;
        int rc = uncompress_MT(expanded, expanded_size, record.data(), (unsigned long)length);
        delete[] expanded;
        if (rc != VID_CODEC_OK || (frame_bytes > 0 && expanded_size != frame_bytes)) {
            scan.damaged.push_back(candidate);
            at = candidate + 1;
            continue;
        }
        VidSalvageRecord kept;
        kept.offset = candidate;
        kept.length = length;
        kept.expanded_bytes = expanded_size;
        scan.records.push_back(kept);
        at = candidate + length;
    }
    if (progress)
        progress(size, size);
    return true;
}

bool vid_salvage_write(const char* in_path, const char* out_path, int width, int height, bool bayer,
                       bool two_bytes, const std::vector<VidSalvageRecord>& records,
                       std::string& error)
{
    File in(fopen(in_path, "rb"));
    if (in.get() == nullptr) {
        error = std::string(in_path) + reason_text(errno);
        return false;
    }
    std::string temp;
    FILE* created = nullptr;
    for (int attempt = 0; attempt < 1000 && created == nullptr; attempt++) {
        temp = std::string(out_path) + ".partial" + std::to_string(attempt);
        created = vid_fopen_new(temp.c_str());
        if (created == nullptr && errno != EEXIST)
            break;
    }
    if (created == nullptr) {
        error = std::string(out_path) + ": cannot create a file there" + reason_text(errno);
        return false;
    }
    File out(created);

    const int64_t frames = int64_t(records.size());
    unsigned char header[kVidHeaderBytes];
    vid_encode_header(header, width, height, frames, bayer, two_bytes);
    bool ok = fwrite(header, 1, sizeof header, out.get()) == sizeof header;
    int64_t next = kVidHeaderBytes + kVidTableEntryBytes * frames;
    for (const VidSalvageRecord& r : records) {
        unsigned char entry[kVidTableEntryBytes];
        put_le64(entry, uint64_t(next));
        ok = ok && fwrite(entry, 1, sizeof entry, out.get()) == sizeof entry;
        next += r.length;
    }
    std::vector<unsigned char> buffer;
    for (const VidSalvageRecord& r : records) {
        buffer.resize(size_t(r.length));
        ok = ok && read_at(in.get(), r.offset, buffer.data(), buffer.size()) &&
             fwrite(buffer.data(), 1, buffer.size(), out.get()) == buffer.size();
    }
    int write_error = ok ? 0 : errno;
    FILE* f = out.release();
    // A repaired file replaces what may be the only copy of a recording: on the disk first.
    ok = fflush(f) == 0 && vid_sync(f) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (ok && vid_replace_file(temp.c_str(), out_path) != 0) {
        write_error = errno;
        ok = false;
    }
    if (!ok) {
        remove(temp.c_str());
        error = std::string(out_path) + ": cannot write" + reason_text(write_error);
        return false;
    }
    return true;
}
