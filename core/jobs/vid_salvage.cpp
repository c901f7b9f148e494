// Salvaging VID files; see vid_salvage.h.
#include "vid_salvage.h"

#include "vid_clip.h"
#include "vid_compact.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "vid_files.h"
#include "le_bytes.h"
#include "report.h"
#include "vid_format.h"
#include "vid_output_file.h"
#include "vid_record.h"
#include "vid_records.h"

namespace {

const size_t kWindow = size_t(4) << 20;
// The longest head of a record of either format.
const size_t kLongestHead = kVidRecordLongestHead;

// A record's length as its head announces it, classic or compact; -1 without a sound head.
int64_t announced_length(const unsigned char* head, size_t available)
{
    return vid_record_head(head, available).length;
}

// A failure of the salvage path, in the shape every part of the core reports.
bool fail(VidError& error, VidResult result, const char* path, const std::string& detail,
          int error_number)
{
    error = vid_error(result, path, detail, error_number);
    return false;
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

  private:
    FILE* f_;
};

// Reads `n` bytes at `offset`; false on a short read.
bool read_at(FILE* f, int64_t offset, unsigned char* out, size_t n)
{
    return vid_fseek(f, offset, SEEK_SET) == 0 && fread(out, 1, n, f) == n;
}

// Sequential reading through a window of the file: each byte is read from the file once
// while the scan moves forward.
class Window {
  public:
    Window(FILE* f, int64_t to) : f_(f), to_(to), buffer_(kWindow) {}
    // Bytes from `pos` on (at most to - pos), at least `need` of them when the file has them.
    // Null on a read error.
    const unsigned char* at(int64_t pos, size_t need, size_t& available)
    {
        need = size_t(std::min<int64_t>(int64_t(need), to_ - pos));
        if (pos < start_ || pos + int64_t(need) > start_ + int64_t(length_)) {
            size_t n = size_t(std::min<int64_t>(int64_t(buffer_.size()), to_ - pos));
            if (!read_at(f_, pos, buffer_.data(), n))
                return nullptr;
            start_ = pos;
            length_ = n;
        }
        available = size_t(start_ + int64_t(length_) - pos);
        return buffer_.data() + (pos - start_);
    }

  private:
    FILE* f_;
    int64_t to_;
    std::vector<unsigned char> buffer_;
    int64_t start_ = 0;
    size_t length_ = 0;
};

// The expanded size a blocked-compress header announces (its last block end), or 0.
uint64_t announced_total(const unsigned char* head, size_t available)
{
    return vid_record_head(head, available).expanded_bytes;
}

void note_damaged(VidSalvageScan& scan, int64_t offset)
{
    if (scan.damaged.size() < kVidSalvageListed)
        scan.damaged.push_back(offset);
    else
        scan.damaged_unlisted++;
}

struct Candidate {
    int64_t offset, length;
    uint64_t total;
};

// Finds every marker-led header in [from, to) in one pass; `visit` decides where the search
// goes on (returns the next offset to search from). Returns false on a read error.
template <class Visit>
bool each_candidate(FILE* f, int64_t from, int64_t to, VidSalvageScan& scan, VidError& error,
                    const char* path, void (*progress)(int64_t, int64_t), Visit visit)
{
    Window window(f, to);
    int64_t at = from;
    int64_t reported = -1;
    const size_t marker_bytes = 1 + sizeof kVidRecordMarkerRest;
    while (at + int64_t(marker_bytes) <= to) {
        if (progress && at - reported >= int64_t(1) << 20) {
            progress(at, to);
            reported = at;
        }
        size_t available = 0;
        const unsigned char* p = window.at(at, kLongestHead, available);
        if (p == nullptr) {
            return fail(error, VidResult::read_failed, path, "at offset " + std::to_string(at),
                        errno);
        }
        // Classic and compact markers differ in their first byte alone.
        const unsigned char* found = nullptr;
        for (const unsigned char* q = p + 1; q + marker_bytes - 1 <= p + available; q++) {
            q = static_cast<const unsigned char*>(memchr(
                q, kVidRecordMarkerRest[0], size_t(p + available - (marker_bytes - 1) + 1 - q)));
            if (q == nullptr)
                break;
            if ((q[-1] == kVidClassicMarkerFirst || q[-1] == kVidCompactMarkerFirst) &&
                memcmp(q, kVidRecordMarkerRest, sizeof kVidRecordMarkerRest) == 0) {
                found = q - 1;
                break;
            }
        }
        if (found == nullptr) {
            at += int64_t(available - marker_bytes + 1);
            continue;
        }
        int64_t candidate = at + (found - p);
        size_t head_bytes = 0;
        const unsigned char* head = window.at(candidate, kLongestHead, head_bytes);
        if (head == nullptr) {
            return fail(error, VidResult::read_failed, path,
                        "at offset " + std::to_string(candidate), errno);
        }
        head_bytes = std::min(head_bytes, kLongestHead);
        int64_t length = announced_length(head, head_bytes);
        if (length < 0) {
            // A marker without a whole header: cut off by the end of the file, or noise.
            if (head_bytes < kLongestHead && candidate + int64_t(kLongestHead) > to)
                scan.torn_tail = scan.torn_tail < 0 ? candidate : scan.torn_tail;
            else
                note_damaged(scan, candidate);
            at = candidate + 1;
            continue;
        }
        if (length > to - candidate) {
            scan.torn_tail = candidate; // runs past the end: a writer stopped inside it
            at = candidate + 1;
            continue;
        }
        at = visit(Candidate{candidate, length, announced_total(head, head_bytes)});
    }
    if (progress)
        progress(to, to);
    return true;
}

} // namespace

bool vid_salvage_scan_range(const char* path, int64_t from, int64_t to, uint64_t frame_bytes,
                            VidSalvageScan& scan, VidError& error,
                            void (*progress)(int64_t, int64_t))
{
    File file(fopen(path, "rb"));
    if (file.get() == nullptr)
        return fail(error, vid_result_of_errno(errno, VidResult::read_failed), path, "", errno);
    int64_t size = -1;
    if (vid_fseek(file.get(), 0, SEEK_END) == 0)
        size = vid_ftell(file.get());
    if (size < 0) {
        return fail(error, VidResult::read_failed, path, "its size is not known", errno);
    }
    scan = VidSalvageScan();
    scan.file_size = size;
    if (to < 0 || to > size)
        to = size;
    from = std::max<int64_t>(from, kVidHeaderBytes);

    if (frame_bytes == 0) {
        // The frame size is the size most headers announce; nothing is expanded to learn it.
        std::map<uint64_t, int64_t> totals;
        VidSalvageScan first_pass;
        if (!each_candidate(file.get(), from, to, first_pass, error, path, nullptr,
                            [&](const Candidate& c) {
                                // Forged headers may announce a new size each: the sizes
                                // counted are bounded, a real file's comes early.
                                auto it = totals.find(c.total);
                                if (it != totals.end())
                                    it->second++;
                                else if (totals.size() < 4096)
                                    totals[c.total] = 1;
                                return c.offset + 1;
                            }))
            return false;
        int64_t most = 0;
        for (const auto& t : totals)
            if (t.second > most && t.first > 0 && t.first <= uint64_t(kVidMaxFrameBytes)) {
                most = t.second;
                frame_bytes = t.first;
            }
        if (frame_bytes == 0) {
            scan.damaged = first_pass.damaged;
            scan.damaged_unlisted = first_pass.damaged_unlisted;
            scan.torn_tail = first_pass.torn_tail;
            return true;
        }
    }

    std::unique_ptr<unsigned char[]> frame(new (std::nothrow) unsigned char[size_t(frame_bytes)]);
    if (!frame) {
        return fail(error, VidResult::out_of_memory, path,
                    "a frame of " + std::to_string(frame_bytes) + " bytes", 0);
    }
    std::vector<unsigned char> record;
    // Expanding candidates that lie inside a record that failed is what a hostile file could
    // multiply; it is bounded by a few times the bytes scanned.
    int64_t budget = 4 * (to - from) + (int64_t(64) << 20);
    int64_t failed_end = -1;
    bool read_failed = false;
    bool ok = each_candidate(
        file.get(), from, to, scan, error, path, progress, [&](const Candidate& c) -> int64_t {
            if (c.total != frame_bytes || uint64_t(c.length) > 2 * frame_bytes ||
                (c.offset < failed_end && c.length > budget)) {
                note_damaged(scan, c.offset);
                return c.offset + 1;
            }
            record.resize(size_t(c.length));
            if (!read_at(file.get(), c.offset, record.data(), record.size())) {
                read_failed = true;
                return to; // ends the scan
            }
            unsigned char* out = frame.get();
            unsigned long out_size = (unsigned long)frame_bytes;
            int rc = vid_record_expand(out, out_size, record.data(), (unsigned long)c.length, 0, 0,
                                       VidKind::none);
            budget -= c.length;
            if (rc != VID_CODEC_OK || out_size != frame_bytes) {
                note_damaged(scan, c.offset);
                failed_end = std::max(failed_end, c.offset + c.length);
                return c.offset + 1;
            }
            scan.records.push_back(VidSalvageRecord{c.offset, c.length, frame_bytes});
            return c.offset + c.length;
        });
    if (ok && read_failed) {
        return fail(error, VidResult::read_failed, path, "a record", errno);
    }
    return ok;
}

bool vid_salvage_scan(const char* path, uint64_t frame_bytes, VidSalvageScan& scan, VidError& error,
                      void (*progress)(int64_t, int64_t))
{
    return vid_salvage_scan_range(path, kVidHeaderBytes, -1, frame_bytes, scan, error, progress);
}

namespace {

uint64_t frame_bytes_of(int width, int height, bool bayer, bool two_bytes)
{
    return uint64_t(vid_expanded_frame_bytes(width, height, bayer, two_bytes));
}

void add_scanned(VidRepairPlan& plan, const VidSalvageScan& scan)
{
    for (const VidSalvageRecord& r : scan.records)
        plan.records.push_back(r);
    plan.from_scan += int64_t(scan.records.size());
    for (int64_t offset : scan.damaged)
        plan.dropped.push_back({-1, offset, "a record that does not expand to a whole frame"});
    plan.dropped_unlisted += scan.damaged_unlisted;
    if (scan.torn_tail >= 0)
        plan.torn_tail = scan.torn_tail;
}

// The file's header when it can be read, with the kind a killed writer's count of 0 leaves
// open settled by the records' size (`records_bytes`).
void settle_geometry(const char* path, const VidRepairOptions& options, VidRepairPlan& plan)
{
    plan.width = options.width;
    plan.height = options.height;
    plan.bayer = options.bayer;
    plan.two_bytes = options.two_bytes;
    if (plan.width > 0 && plan.height > 0)
        return;
    File f(fopen(path, "rb"));
    unsigned char raw[kVidHeaderBytes];
    if (f.get() != nullptr && fread(raw, 1, sizeof raw, f.get()) == sizeof raw) {
        VidFileHeader h = vid_decode_header(raw);
        plan.width = h.width;
        plan.height = h.height;
        plan.two_bytes = h.two_bytes;
        // A writer stopped before its first count leaves count 0 (which reads as Bayer).
        plan.bayer = h.count_field > 0 || !h.two_bytes;
    }
}

} // namespace

bool vid_repair_plan(const char* path, const VidRepairOptions& options, VidRepairPlan& plan,
                     VidError& error, void (*progress)(int64_t, int64_t))
{
    plan = VidRepairPlan();
    settle_geometry(path, options, plan);
    const bool given = options.width > 0 && options.height > 0;

    // The table first, read by the same reader every program uses: what it reads intact is
    // kept as it is.
    std::unique_ptr<VidHeader> reader(new (std::nothrow) VidHeader(path, nullptr));
    bool table = reader && reader->isOpen() && reader->num_frames > 0 &&
                 (!given || (reader->width == options.width && reader->height == options.height &&
                             (reader->vid_is_bayer_interpolated == 1) == options.bayer &&
                             (reader->vid_uses_two_bytes_per_pixel == 1) == options.two_bytes));
    if (!table) {
        reader.reset();
        uint64_t frame_bytes =
            plan.width > 0 && plan.height > 0
                ? frame_bytes_of(plan.width, plan.height, plan.bayer, plan.two_bytes)
                : 0;
        VidSalvageScan scan;
        // Without a size given, the records tell the size (and the header's width and height
        // the kind, when they fit).
        if (!vid_salvage_scan(path, given ? frame_bytes : 0, scan, error, progress))
            return false;
        plan.common_record_bytes = scan.records.empty() ? 0 : scan.records[0].expanded_bytes;
        if (!given && plan.width > 0 && plan.height > 0 &&
            plan.common_record_bytes != frame_bytes) {
            for (int kind = 0; kind < 3; kind++) {
                bool bayer = kind > 0, two = kind != 2;
                if (frame_bytes_of(plan.width, plan.height, bayer, two) ==
                    plan.common_record_bytes) {
                    plan.bayer = bayer;
                    plan.two_bytes = two;
                }
            }
        }
        if (plan.width > 0 && plan.height > 0 &&
            frame_bytes_of(plan.width, plan.height, plan.bayer, plan.two_bytes) !=
                plan.common_record_bytes &&
            !scan.records.empty()) {
            // The records are of another size than the header's frames: keep nothing of them.
            for (const VidSalvageRecord& r : scan.records)
                plan.dropped.push_back({-1, r.offset, "a record of another frame size"});
            scan.records.clear();
        }
        add_scanned(plan, scan);
        return true;
    }

    VidHeader& v = *reader;
    plan.width = v.width;
    plan.height = v.height;
    plan.bayer = v.vid_is_bayer_interpolated == 1;
    plan.two_bytes = v.vid_uses_two_bytes_per_pixel == 1;
    const uint64_t frame_bytes = uint64_t(v.uncompressed_buffer_size);
    const int64_t table_end = kVidHeaderBytes + kVidTableEntryBytes * int64_t(v.num_frames);
    int64_t size = -1;
    if (vid_fseek(v.videoFile, 0, SEEK_END) == 0)
        size = vid_ftell(v.videoFile);
    const int n = v.num_frames;
    int64_t records_end = table_end; // where the last record read through the table ends
    bool ok = true;
    for (int k = 0; k < n && ok;) {
        if (progress)
            progress(records_end, size);
        int64_t length = v.recordBytes(k);
        if (length >= 0) {
            bool intact = v.readFrameFromVideoFile(k);
            if (intact) {
                plan.records.push_back(VidSalvageRecord{v.offsets[k], length, frame_bytes, k});
                plan.from_table++;
            } else {
                VidError why = v.lastError();
                why.file.clear();
                why.frame = -1;
                plan.dropped.push_back({k, v.offsets[k], vid_error_message(why)});
                if (options.keep_numbering)
                    plan.records.push_back(VidSalvageRecord{v.offsets[k], 0, frame_bytes, k});
            }
            records_end = std::max(records_end, v.offsets[k] + length);
            k++;
            continue;
        }
        // Entries k .. j - 1 give no record within the file: scan between the records around
        // them for theirs.
        int j = k + 1;
        while (j < n && v.recordBytes(j) < 0)
            j++;
        int64_t to = j < n ? v.offsets[j] : size;
        VidSalvageScan scan;
        ok = to <= records_end ||
             vid_salvage_scan_range(path, records_end, to, frame_bytes, scan, error, nullptr);
        size_t found = 0;
        for (int f = k; f < j; f++) {
            if (found < scan.records.size()) {
                plan.records.push_back(scan.records[found++]);
                plan.records.back().frame = f;
                plan.from_scan++;
                continue;
            }
            plan.dropped.push_back({f, v.offsets[f],
                                    "its table entry points outside the file's records and no "
                                    "record was found for it"});
            if (options.keep_numbering)
                plan.records.push_back(VidSalvageRecord{records_end, 0, frame_bytes, f});
        }
        // Behind the last entry, every further record found belongs to the file too.
        for (; j == n && found < scan.records.size(); found++) {
            plan.records.push_back(scan.records[found]);
            plan.from_scan++;
        }
        if (scan.torn_tail >= 0)
            plan.torn_tail = scan.torn_tail;
        if (!scan.records.empty())
            records_end =
                std::max(records_end, scan.records.back().offset + scan.records.back().length);
        else if (j < n)
            records_end = std::max(records_end, to);
        else
            records_end = size;
        k = j;
    }
    reader.reset();
    if (!ok)
        return false;
    // Frames behind the table's last one: a writer that grew its table and was stopped.
    if (records_end < size) {
        VidSalvageScan scan;
        if (!vid_salvage_scan_range(path, records_end, size, frame_bytes, scan, error, progress))
            return false;
        add_scanned(plan, scan);
    }
    return true;
}

bool vid_salvage_write(const char* in_path, const char* out_path, int width, int height, bool bayer,
                       bool two_bytes, const std::vector<VidSalvageRecord>& records,
                       VidError& error)
{
    File in(fopen(in_path, "rb"));
    if (in.get() == nullptr)
        return fail(error, vid_result_of_errno(errno, VidResult::read_failed), in_path, "", errno);
    VidOutputFile out;
    std::string why;
    if (!out.open(out_path, why))
        return fail(error, vid_result_of_errno(out.error_number(), VidResult::write_failed),
                    out_path, "", out.error_number());
    std::vector<VidRecordSpan> spans;
    for (const VidSalvageRecord& r : records)
        spans.push_back({r.offset, r.length});
    // An intact clip block comes along: its metadata, and the kept frames' timestamps.
    std::vector<unsigned char> block;
    unsigned char raw[kVidHeaderBytes];
    int64_t size = -1;
    if (vid_fseek(in.get(), 0, SEEK_END) == 0)
        size = vid_ftell(in.get());
    if (size >= kVidHeaderBytes && vid_fseek(in.get(), 0, SEEK_SET) == 0 &&
        fread(raw, 1, sizeof raw, in.get()) == sizeof raw) {
        const VidFileHeader header = vid_decode_header(raw);
        VidClip clip = vid_read_clip(in.get(), size, header.num_frames);
        std::vector<int64_t> stamps, kept;
        if (clip.present && vid_read_timestamps(in.get(), clip, clip.slots, stamps)) {
            for (const VidSalvageRecord& r : records)
                kept.push_back(r.frame >= 0 && r.frame < int64_t(stamps.size())
                                   ? stamps[size_t(r.frame)]
                                   : kVidNoTimestamp);
            // The repaired file is complete: its writer, vid repair, finished it.
            clip.flags |= kVidClipFinished;
            block = vid_clip_block(clip, kept, int64_t(records.size()));
        }
    }
    if (!vid_write_records(in.get(), out.stream(), width, height, bayer, two_bytes, spans, error,
                           &block)) {
        out.abandon();
        error.file = error.result == VidResult::read_failed ? in_path : out_path;
        return false;
    }
    // A repaired file replaces what may be the only copy of a recording: on the disk first.
    if (!out.commit(why))
        return fail(error, VidResult::write_failed, out_path, "", out.error_number());
    return true;
}
