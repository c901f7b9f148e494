// Recording a camera into a clip (vid_recorder.h).
#include "vid_recorder.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_files.h"
#include "vid_json.h"
#include "vid_kind.h"
#include "vid_record.h"

namespace {

typedef std::chrono::steady_clock Clock;

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Room kept in the metadata for what is learnt at the finish (the drop summary).
const size_t kSummaryRoom = 64 * 1024;

// Stores the records the recording thread makes, in order, on a thread of its own: while frame
// k is written with its timestamp, table entry and count, frame k + 1 is compressed. Three
// buffers: one being made, one handed over, one being written.
class Storer {
  public:
    Storer(VidHeader& writer, size_t room) : writer_(writer)
    {
        for (std::vector<unsigned char>& b : buffer_)
            b.resize(room);
        thread_ = std::thread([this] { run(); });
    }
    ~Storer() { finish(); }
    Storer(const Storer&) = delete;
    Storer& operator=(const Storer&) = delete;
    // Where the next record is made, and its room.
    unsigned char* next_buffer() { return buffer_[next_].data(); }
    unsigned long room() const { return (unsigned long)buffer_[0].size(); }
    // Hands over the record made in next_buffer(); false once a store failed.
    bool hand(unsigned long size, int64_t timestamp_ns)
    {
        std::unique_lock<std::mutex> lock(m_);
        changed_.wait(lock, [this] { return !pending_ || failed_; });
        if (failed_)
            return false;
        pending_ = true;
        pending_index_ = next_;
        pending_size_ = size;
        pending_time_ = timestamp_ns;
        changed_.notify_all();
        next_ = (next_ + 1) % 3;
        return true;
    }
    // Waits until every record handed over is stored; false when one failed (error()).
    bool finish()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
            changed_.notify_all();
        }
        if (thread_.joinable())
            thread_.join();
        return !failed_;
    }
    const VidError& error() const { return error_; }

  private:
    void run()
    {
        for (;;) {
            int index;
            unsigned long size;
            int64_t time;
            {
                std::unique_lock<std::mutex> lock(m_);
                changed_.wait(lock, [this] { return pending_ || stop_; });
                if (!pending_)
                    return;
                index = pending_index_;
                size = pending_size_;
                time = pending_time_;
                pending_ = false;
                changed_.notify_all();
            }
            if (!writer_.writeRecordToVideoFile(buffer_[index].data(), size, time)) {
                std::lock_guard<std::mutex> lock(m_);
                failed_ = true;
                error_ = writer_.lastError();
                changed_.notify_all();
                return;
            }
        }
    }
    VidHeader& writer_;
    std::vector<unsigned char> buffer_[3];
    int next_ = 0, pending_index_ = 0;
    unsigned long pending_size_ = 0;
    int64_t pending_time_ = 0;
    bool pending_ = false, stop_ = false, failed_ = false;
    VidError error_;
    std::mutex m_;
    std::condition_variable changed_;
    std::thread thread_;
};

} // namespace

uint64_t VidIdTracker::see(uint64_t id, int64_t after_frame)
{
    uint64_t skipped = 0;
    if (seen_) {
        if (wrap_ != 0) {
            // ids run 1 .. wrap and then 1 again; a step back or a jump of more than half the
            // cycle is a restart or a reordering, not a gap
            const uint64_t expected = last_ >= wrap_ ? 1 : last_ + 1;
            if (id >= 1 && id <= wrap_ && expected >= 1) {
                const uint64_t d = (id + wrap_ - expected) % wrap_;
                if (d < wrap_ / 2)
                    skipped = d;
            }
        } else if (id > last_) {
            skipped = id - last_ - 1;
        }
    }
    if (skipped != 0) {
        VidIdGap gap;
        gap.after_frame = after_frame;
        gap.first_id = wrap_ != 0 && last_ >= wrap_ ? 1 : last_ + 1;
        gap.count = skipped;
        gaps_.push_back(gap);
        missing_ += skipped;
    }
    seen_ = true;
    last_ = id;
    return skipped;
}

std::string vid_record_drops_json(const VidRecordSummary& summary, size_t most_gaps)
{
    const VidRecordStatus& s = summary.status;
    std::string j = "{\"recorder\": " + std::to_string(s.recorder_drops) +
                    ", \"incomplete\": " + std::to_string(s.incomplete) +
                    ", \"missing\": " + std::to_string(s.missing) + ", \"gaps\": [";
    for (size_t i = 0; i < summary.gaps.size() && i < most_gaps; i++) {
        const VidIdGap& g = summary.gaps[i];
        j += std::string(i ? ", " : "") + "{\"after_frame\": " + std::to_string(g.after_frame) +
             ", \"first_id\": " + std::to_string(g.first_id) +
             ", \"count\": " + std::to_string(g.count) + "}";
    }
    j += "]";
    if (summary.gaps.size() > most_gaps)
        j += ", \"gaps_not_listed\": " + std::to_string(summary.gaps.size() - most_gaps);
    return j + "}";
}

bool vid_record(VidFrameSource& source, const VidRecordOptions& o, VidRecordSummary& summary,
                VidError& error)
{
    summary = VidRecordSummary();
    const size_t frame_bytes = size_t(o.height) * vid_pixel_format_row_bytes(o.format, o.width);
    if (o.path.empty() || o.width < 1 || o.height < 1 || o.format.kind == VidKind::none) {
        error = vid_error(VidResult::bad_argument, o.path, "no file, size or pixel format");
        return false;
    }
    // The clip's metadata: the caller's, the sensor's description, and room for the drops.
    std::string metadata = o.metadata.empty() ? "{}" : o.metadata, why;
    if (!vid_json_object_check(metadata, why) ||
        (o.format.kind != VidKind::rgb &&
         !vid_json_with_key(metadata, "cfa", std::string("\"") + vid_cfa_name(o.format.cfa) + "\"",
                            true, why)) ||
        !vid_json_with_key(metadata, "bit_depth", std::to_string(o.format.bits), true, why) ||
        !vid_json_with_key(metadata, "drops", "null", true, why)) {
        error = vid_error(VidResult::bad_argument, o.path, "metadata: " + why);
        return false;
    }
    metadata = vid_json_compact(metadata) + std::string(kSummaryRoom, ' ');

    std::string start_error;
    if (!source.start(start_error)) {
        error = vid_error(VidResult::bad_argument, o.path, start_error);
        summary.ended_by = "error";
        return false;
    }
    std::mutex m;
    std::condition_variable ready;
    std::deque<VidSourceFrame> queue;
    bool quit = false;
    std::thread acquisition([&] {
        const double rate = o.frame_rate > 0 ? o.frame_rate : 10;
        const auto period =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        auto next_trigger = Clock::now();
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m);
                if (quit)
                    break;
            }
            if (o.software_trigger && Clock::now() >= next_trigger) {
                source.trigger();
                next_trigger += period;
            }
            VidSourceFrame f;
            if (source.next(f, o.software_trigger ? 5 : 50)) {
                std::lock_guard<std::mutex> lock(m);
                queue.push_back(f);
                ready.notify_one();
            }
        }
    });

    std::unique_ptr<VidHeader> writer;
    std::unique_ptr<Storer> storer;
    std::vector<unsigned char> unpacked; // a packed format's frame as the clip stores it
    const VidKind stored_kind = vid_kind_stored(o.format.kind);
    VidIdTracker ids(source.id_wrap());
    VidRecordStatus& st = summary.status;
    st.buffers = source.buffers();
    const auto started = Clock::now();
    auto first_frame = started, last_frame = started, last_progress = started;
    bool have_first = false, failed = false;
    uint64_t shown_drops = 0;
    auto asked_source = started - std::chrono::seconds(1);
    auto report = [&](bool force) {
        // The source's count takes its lock, which its own thread may hold while it fills a
        // buffer: asked at most 20 times a second, and at the end.
        if (force || Clock::now() - asked_source >= std::chrono::milliseconds(50)) {
            st.recorder_drops = source.underruns();
            asked_source = Clock::now();
        }
        st.missing = ids.missing() > st.recorder_drops ? ids.missing() - st.recorder_drops : 0;
        st.seconds = have_first ? seconds_since(first_frame) : 0;
        const uint64_t drops = st.recorder_drops + st.incomplete + st.missing;
        // A new drop is shown at once, yet at most five times a second.
        const double since = seconds_since(last_progress);
        if (o.progress &&
            (force || since >= o.progress_interval_s || (drops != shown_drops && since >= 0.2))) {
            o.progress(st);
            last_progress = Clock::now();
            shown_drops = drops;
        }
    };
    // Writes one frame; false on a failure of the file.
    auto write = [&](VidSourceFrame& f) -> bool {
        ids.see(f.frame_id, st.frames - 1);
        if (!f.complete || f.data == nullptr || f.size < frame_bytes) {
            st.incomplete++;
            return true;
        }
        if (!writer) {
            VidRecording rec;
            rec.kind = o.format.kind;
            rec.compact = o.compact;
            rec.effort = o.effort;
            rec.frame_rate =
                o.frame_rate > 0 && o.frame_rate <= kVidClipMaxFrameRate ? o.frame_rate : 0;
            const std::string start = vid_iso8601_utc(vid_clock_now_ns());
            rec.start_time = start.c_str();
            rec.metadata = metadata.c_str();
            int64_t reserve = o.frames > 0 ? o.frames : 4096;
            if (o.frames <= 0 && o.duration_s > 0 && o.frame_rate > 0)
                reserve = int64_t(o.duration_s * o.frame_rate * 1.25) + 16;
            writer.reset(new VidHeader(o.path.c_str(), nullptr, o.width, o.height,
                                       vid_hinted_table_entries(reserve), rec));
            if (!writer->isOpen()) {
                error = writer->lastError();
                return false;
            }
            if (o.frames <= 0 || o.frames > kVidMaxHintedTableEntries)
                writer->growTableWhenFull();
            storer.reset(new Storer(*writer, writer->compressed_buffer_size));
        }
        // Unpacked formats are compressed straight from the camera's buffer.
        const size_t stored_bytes =
            size_t(o.height) * vid_pixel_format_stored_row_bytes(o.format, o.width);
        const unsigned char* samples = f.data;
        if (o.format.packing != VidPacking::none) {
            unpacked.resize(stored_bytes);
            vid_pixel_format_convert(o.format, o.width, o.height, f.data,
                                     vid_pixel_format_row_bytes(o.format, o.width),
                                     unpacked.data());
            samples = unpacked.data();
        }
        unsigned long size = storer->room();
        if (vid_record_make(storer->next_buffer(), size, samples, (unsigned long)stored_bytes,
                            o.width, o.height, stored_kind, o.compact, o.effort) != VID_CODEC_OK ||
            size > storer->room()) {
            error = vid_error(VidResult::out_of_memory, o.path, "the frame could not be compressed",
                              0, int(st.frames));
            return false;
        }
        if (!storer->hand(size, f.timestamp_ns)) {
            error = storer->error();
            return false;
        }
        if (!have_first) {
            have_first = true;
            first_frame = Clock::now();
        }
        st.frames++;
        st.raw_bytes += uint64_t(o.height) * vid_pixel_format_stored_row_bytes(o.format, o.width);
        st.stored_bytes += uint64_t(size);
        return true;
    };

    for (;;) {
        VidSourceFrame f;
        bool got = false;
        {
            std::unique_lock<std::mutex> lock(m);
            ready.wait_for(lock, std::chrono::milliseconds(50), [&] { return !queue.empty(); });
            if (!queue.empty()) {
                f = queue.front();
                queue.pop_front();
                got = true;
            }
            st.queued = int(queue.size());
        }
        if (got) {
            last_frame = Clock::now();
            const bool ok = write(f);
            source.release(f);
            if (!ok) {
                failed = true;
                summary.ended_by = "error";
                break;
            }
        }
        report(false);
        if (o.frames > 0 && st.frames >= o.frames) {
            summary.ended_by = "frames";
            break;
        }
        if (o.duration_s > 0 && have_first && seconds_since(first_frame) >= o.duration_s) {
            summary.ended_by = "duration";
            break;
        }
        if (o.stop != nullptr && o.stop->load()) {
            summary.ended_by = "stop";
            break;
        }
        if (o.no_frame_timeout_s > 0 && seconds_since(last_frame) >= o.no_frame_timeout_s) {
            summary.ended_by = "no frames";
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m);
        quit = true;
    }
    acquisition.join();
    source.stop();
    // Frames acquired before a stop are written; past a frame count they are not wanted.
    while (!queue.empty()) {
        VidSourceFrame f = queue.front();
        queue.pop_front();
        if (summary.ended_by == "frames") {
            // not wanted, yet counted as they arrived
            ids.see(f.frame_id, st.frames - 1);
            if (!f.complete)
                st.incomplete++;
        } else if (!failed && !write(f)) {
            failed = true;
        }
        source.release(f);
    }
    st.queued = 0;
    summary.source_failures = source.failures();
    report(true);
    summary.gaps = ids.gaps();
    if (!writer) {
        if (!failed)
            error = vid_error(VidResult::read_failed, o.path,
                              "no frame came from the camera; nothing was written");
        summary.ended_by = failed ? "error" : summary.ended_by;
        if (o.progress) {
            st.final = true;
            o.progress(st);
        }
        return false;
    }
    if (storer && !storer->finish() && !failed) {
        error = storer->error();
        failed = true;
    }
    if (failed) {
        writer->abandon();
        return false;
    }
    if (!writer->finish()) {
        error = writer->lastError();
        writer->abandon();
        return false;
    }
    writer.reset();
    // The drop summary into the metadata's room, in place.
    std::string final_metadata = metadata.substr(0, metadata.size() - kSummaryRoom);
    std::string drops = vid_record_drops_json(summary);
    for (size_t most = 1000; drops.size() + final_metadata.size() > metadata.size() && most > 0;
         most /= 2)
        drops = vid_record_drops_json(summary, most);
    FILE* f = fopen(o.path.c_str(), "r+b");
    const bool replaced = f != nullptr &&
                          vid_json_with_key(final_metadata, "drops", drops, true, why) &&
                          vid_clip_replace_metadata(f, vid_json_compact(final_metadata));
    if (f != nullptr)
        fclose(f);
    if (!replaced) {
        error = vid_error(VidResult::write_failed, o.path,
                          "the frames are written but the drop summary could not be");
        return false;
    }
    st.final = true;
    if (o.progress)
        o.progress(st);
    return true;
}
