// vid info: what a VID file holds, as text or as one JSON object per file.
#include "vid_cli.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "VidHeader.h"
#include "vid_clip.h"
#include "vid_commands.h"
#include "vid_format.h"
#include "vid_json.h"
#include "vid_records.h"

const VidSubcommand vid_info_command = {
    "info",
    "FILE...",
    "Prints, for each VID file: its kind (RGB, Bayer one-byte, Bayer two-byte), width,\n"
    "height, frames, the table entries reserved, the file size, bytes per frame raw and\n"
    "stored with the compression ratio, and its state: \"complete\"; \"empty\" for a file\n"
    "without frames and with nothing behind its table (no kind is claimed); \"unfinished\"\n"
    "when bytes follow the last whole record (a writer stopped in the middle of a frame, or\n"
    "whole frames beyond the table of a writer that outgrew it); \"truncated\" when records\n"
    "its table announces are missing or cut (the file lost its end); how many frames are\n"
    "classic records, compact ones and black frames. A recording also shows\n"
    "its frame rate and duration, its first and last timestamps, the gaps between frames\n"
    "(frames more than 1.5 frame periods apart: how many, and the largest, with its frame\n"
    "numbers), its start time and metadata.\n",
    {
        {"--json", nullptr, nullptr,
         "one JSON object per file and line, keys: file, kind, width, height, frames, "
         "table_entries, file_size, frame_bytes, stored_bytes_per_frame, ratio, state, "
         "frames_beyond_table, frames_missing, frames_cut, records ({classic, compact, black}: "
         "frames of each kind of record), clip_block (present, absent or "
         "damaged), frame_rate, duration, start_time, first_timestamp, last_timestamp "
         "(nanoseconds), gaps, frames_in_gaps (frames the gaps leave out), largest_gap "
         "({from_frame, to_frame, seconds}), metadata, finished "
         "(null where the file does not say; kind is null for an empty file); a "
         "file that cannot be read gives {\"file\": ..., \"error\": ...}. Bytes of a file name "
         "that are not UTF-8 are written as \\udcXX, as Python's os.fsdecode gives them."},
    },
    "Exit status: 0 when every file was read and none is truncated, 1 otherwise, 2 usage\n"
    "error.\n",
    1,
    "no FILE given"};

namespace {

// What a recording's timestamps tell: their span and the gaps between frames. Steps are
// taken in doubles: any two int64 times have a difference there, the extremes included.
struct Timing {
    bool known = false;
    int64_t stamped = 0; // frames with a timestamp
    int64_t first = 0, last = 0;
    double period = 0;      // seconds: the nominal one, or the median step
    int64_t gaps = 0;       // steps above 1.5 periods
    int64_t missing = 0;    // frames the gaps leave out, by the period
    int64_t gap_frame = -1; // the largest gap ends at this frame
    double gap_seconds = 0;
};

Timing timing_of(const std::vector<int64_t>& stamps, double rate)
{
    Timing t;
    std::vector<double> steps;
    for (size_t k = 0; k < stamps.size(); k++) {
        if (stamps[k] == kVidNoTimestamp)
            continue;
        if (!t.known)
            t.first = stamps[k];
        t.known = true;
        t.last = stamps[k];
        t.stamped++;
        if (k > 0 && stamps[k - 1] != kVidNoTimestamp)
            steps.push_back(vid_cli_seconds_between(stamps[k - 1], stamps[k]));
    }
    if (!t.known)
        return t;
    if (rate > 0) {
        t.period = 1.0 / rate;
    } else if (!steps.empty()) {
        std::vector<double> sorted = steps;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        t.period = sorted[sorted.size() / 2];
    }
    if (!(t.period > 0) || !std::isfinite(t.period))
        return t;
    for (size_t k = 1; k < stamps.size(); k++) {
        if (stamps[k] == kVidNoTimestamp || stamps[k - 1] == kVidNoTimestamp)
            continue;
        const double step = vid_cli_seconds_between(stamps[k - 1], stamps[k]);
        if (step > 1.5 * t.period) {
            t.gaps++;
            const double left_out = std::round(step / t.period) - 1;
            t.missing += left_out < 1 ? 1 : left_out > 9e18 ? INT64_MAX / 2 : int64_t(left_out);
            if (t.missing > INT64_MAX / 2)
                t.missing = INT64_MAX / 2;
            if (step > t.gap_seconds) {
                t.gap_seconds = step;
                t.gap_frame = int64_t(k);
            }
        }
    }
    return t;
}

std::string json_number(double d)
{
    if (!std::isfinite(d))
        return "null";
    char text[64];
    snprintf(text, sizeof text, "%.17g", d);
    return text;
}

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n >= int(sizeof text)) {
        std::vector<char> big(size_t(n) + 1);
        va_start(args, format);
        vsnprintf(big.data(), big.size(), format, args);
        va_end(args);
        out.append(big.data(), size_t(n));
    } else if (n > 0) {
        out.append(text, size_t(n));
    }
}

// What vid info says of one open file, worked out once for both its forms.
struct Facts {
    std::string path;
    int width = 0, height = 0;
    VidFileState file;
    int64_t frames = 0, lost = 0;
    VidKind kind = VidKind::none;
    VidClip clip;
    Timing timing;
    VidRecordKinds records;
    const char* block = "absent";
    double duration = -1; // seconds; -1 unknown
    std::string metadata_json;
    int64_t frame_bytes = 0, stored = 0;
    double ratio = 0;
    std::string kind_json;
    VidSensor sensor;
    const char* state = "";
};

Facts facts_of(VidHeader& reader, const char* path)
{
    Facts f;
    f.path = path;
    f.width = reader.width;
    f.height = reader.height;
    f.file = vid_file_state(reader);
    const VidFileState& file = f.file;
    const int64_t frames = f.frames = reader.num_frames;
    const int64_t lost = f.lost = file.frames_missing + file.frames_cut;
    f.kind = vid_kind(reader);
    f.sensor = vid_sensor(reader, f.kind);
    // Records begin behind the table (and a recording's clip block): where entry 0 says.
    int64_t table_end = vid_table_end(file.table_entries);
    if (frames > 0 && reader.offsets[0] >= table_end && reader.offsets[0] <= file.file_size)
        table_end = reader.offsets[0];
    f.clip = vid_read_clip(reader);
    const VidClip& clip = f.clip;
    std::vector<int64_t> stamps;
    if (clip.present && !vid_read_timestamps(reader, clip, stamps))
        stamps.clear();
    f.timing = timing_of(stamps, clip.frame_rate);
    const Timing& timing = f.timing;
    f.records = vid_record_kinds(reader);
    f.block = clip.damaged ? "damaged" : clip.present ? "present" : "absent";
    // The duration the timestamps span (plus one period) where they tell it, else frames by
    // the nominal rate.
    double& duration = f.duration;
    if (timing.known && timing.stamped > 1 && timing.period > 0)
        duration = vid_cli_seconds_between(timing.first, timing.last) + timing.period;
    else if (clip.present && clip.frame_rate > 0)
        duration = double(frames) / clip.frame_rate;
    f.metadata_json =
        clip.present && !clip.metadata.empty() ? vid_json_compact(clip.metadata) : "null";
    // The records' end: behind the last record's own announced length, whole records of a
    // writer that outgrew its table, or bytes of one cut short.
    int64_t records_end =
        frames > 0 && file.tail.records_end > 0 ? file.tail.records_end : file.file_size;
    const int64_t frame_bytes = f.frame_bytes = int64_t(reader.uncompressed_buffer_size);
    // Bytes per stored frame over the frames the file still holds.
    // Whole frames beyond a full table are stored frames too.
    const int64_t stored_frames = frames - lost + file.tail.whole_records;
    const int64_t stored = f.stored =
        stored_frames > 0 && table_end <= records_end && records_end <= file.file_size
            ? (records_end - table_end) / stored_frames
            : 0;
    f.ratio = stored > 0 ? double(frame_bytes) / double(stored) : 0.0;
    const char* kind_name = vid_kind_name(f.kind);
    f.kind_json = kind_name ? std::string("\"") + kind_name + "\"" : "null";
    f.state = vid_state_name(file.state);
    return f;
}

// The JSON object of one file, on one line.
std::string json_of(const Facts& f)
{
    const VidFileState& file = f.file;
    const int64_t frames = f.frames;
    const VidClip& clip = f.clip;
    const Timing& timing = f.timing;
    const VidRecordKinds& records = f.records;
    const double duration = f.duration;
    const char* path = f.path.c_str();
    const char* block = f.block;
    const std::string& metadata_json = f.metadata_json;
    const std::string& kind_json = f.kind_json;
    const char* state = f.state;
    std::string object;
    appendf(object,
            "{\"file\": %s, \"kind\": %s, \"width\": %d, \"height\": %d, "
            "\"frames\": %" PRId64 ", \"table_entries\": %" PRId64 ", \"file_size\": %" PRId64
            ", \"frame_bytes\": %" PRId64 ", \"stored_bytes_per_frame\": %" PRId64
            ", \"ratio\": %.4f, \"state\": \"%s\", \"frames_beyond_table\": %" PRId64
            ", \"frames_missing\": %" PRId64 ", \"frames_cut\": %" PRId64,
            vid_cli_json_string(path).c_str(), kind_json.c_str(), f.width, f.height, frames,
            file.table_entries, file.file_size, f.frame_bytes, f.stored, f.ratio, state,
            file.tail.whole_records, file.frames_missing, file.frames_cut);
    const bool rate = clip.present && clip.frame_rate > 0;
    std::string gap = "null";
    if (timing.gap_frame > 0)
        gap = "{\"from_frame\": " + std::to_string(timing.gap_frame - 1) +
              ", \"to_frame\": " + std::to_string(timing.gap_frame) +
              ", \"seconds\": " + json_number(timing.gap_seconds) + "}";
    appendf(object,
            ", \"records\": {\"classic\": %" PRId64 ", \"compact\": %" PRId64
            ", \"black\": %" PRId64 "}",
            records.classic, records.compact, records.black);
    appendf(object,
            ", \"clip_block\": \"%s\", \"frame_rate\": %s, \"duration\": %s, "
            "\"start_time\": %s, \"first_timestamp\": %s, \"last_timestamp\": %s, "
            "\"gaps\": %s, \"frames_in_gaps\": %s, \"largest_gap\": %s, \"metadata\": %s, "
            "\"sensor\": %s, \"finished\": %s}\n",
            block, rate ? json_number(clip.frame_rate).c_str() : "null",
            duration >= 0 ? json_number(duration).c_str() : "null",
            clip.present && !clip.start_time.empty()
                ? vid_cli_json_string(clip.start_time.c_str()).c_str()
                : "null",
            timing.known ? std::to_string(timing.first).c_str() : "null",
            timing.known ? std::to_string(timing.last).c_str() : "null",
            timing.known && timing.period > 0 ? std::to_string(timing.gaps).c_str() : "null",
            timing.known && timing.period > 0 ? std::to_string(timing.missing).c_str() : "null",
            gap.c_str(), metadata_json.c_str(),
            f.sensor.described ? vid_sensor_json(f.sensor).c_str() : "null",
            clip.present ? ((clip.flags & kVidClipFinished) ? "true" : "false") : "null");
    return object;
}

// The text of one file, for a person.
void print_text(const Facts& f)
{
    const VidFileState& file = f.file;
    const int64_t frames = f.frames;
    const int64_t lost = f.lost;
    const VidKind kind = f.kind;
    const VidClip& clip = f.clip;
    const Timing& timing = f.timing;
    const VidRecordKinds& records = f.records;
    const double duration = f.duration;
    const char* path = f.path.c_str();
    const char* state = f.state;
    std::string state_text = state;
    if (file.state == VidState::truncated)
        state_text = "truncated (" + std::to_string(lost) + " of " + std::to_string(frames) +
                     " frames missing or cut: the file ends at byte " +
                     std::to_string(file.file_size) +
                     " before records its table announces; vid repair keeps the rest)";
    else if (file.state == VidState::unfinished && file.tail.whole_records > 0)
        state_text = "unfinished (" + std::to_string(file.tail.whole_records) +
                     " whole frames lie beyond the table: a writer that outgrew its "
                     "table was stopped; vid repair recovers them)";
    else if (file.state == VidState::unfinished && frames == 0)
        state_text = "unfinished (bytes behind an empty table: a writer was stopped; "
                     "vid repair recovers what can be)";
    else if (file.state == VidState::unfinished)
        state_text = "unfinished (bytes after the last whole record: a writer stopped "
                     "mid-frame; vid repair recovers what can be)";
    printf("%s\n"
           "  kind           %s\n"
           "  size           %d x %d\n"
           "  frames         %" PRId64 " (table entries reserved: %" PRId64 ")\n"
           "  file size      %" PRId64 " bytes\n"
           "  bytes/frame    %" PRId64 " raw, %" PRId64 " stored (ratio %.2f)\n"
           "  state          %s\n",
           vid_cli_printable(path).c_str(),
           kind == VidKind::none ? "none (the file holds no frames)" : vid_kind_text(kind), f.width,
           f.height, frames, file.table_entries, file.file_size, f.frame_bytes, f.stored, f.ratio,
           state_text.c_str());
    if (frames > 0)
        printf("  records        %" PRId64 " classic, %" PRId64 " compact, %" PRId64 " black%s\n",
               records.classic, records.compact, records.black,
               records.compact > 0 ? " (compact records need a reader of this version or "
                                     "later; vid convert --records classic makes a file "
                                     "for older ones)"
                                   : "");
    if (f.sensor.described)
        printf("  sensor         %s\n", vid_sensor_text(f.sensor).c_str());
    else if (vid_kind_has_samples(kind))
        printf("  sensor         not described (pictured as ever; vid meta --set cfa=... "
               "describes it)\n");
    if (clip.damaged)
        printf("  clip block     damaged (%s); the frames read as ever%s\n",
               vid_cli_printable(clip.problem).c_str(),
               clip.present ? ", and so do the timestamps" : "");
    if (clip.present) {
        printf("  writer         %s\n", (clip.flags & kVidClipFinished)
                                            ? "finished"
                                            : "not finished: still recording, or stopped "
                                              "before it finished");
        if (clip.frame_rate > 0)
            printf("  frame rate     %g frames/s\n", clip.frame_rate);
        else
            printf("  frame rate     unknown\n");
        if (duration >= 0)
            printf("  duration       %.3f s%s\n", duration,
                   timing.known && timing.stamped > 1 && timing.period > 0
                       ? " (the timestamps' span and one period)"
                       : " (frames at the nominal rate)");
        if (!clip.start_time.empty())
            printf("  started        %s\n", vid_cli_printable(clip.start_time).c_str());
        if (timing.known)
            printf("  timestamps     %" PRId64 " to %" PRId64 " ns (%.6f s apart)%s\n",
                   timing.first, timing.last, vid_cli_seconds_between(timing.first, timing.last),
                   timing.stamped < frames
                       ? (", " + std::to_string(frames - timing.stamped) + " of " +
                          std::to_string(frames) + " frames without one")
                             .c_str()
                       : "");
        if (timing.known && timing.period > 0 && timing.gaps == 0)
            printf("  gaps           none (no frames more than 1.5 periods apart)\n");
        else if (timing.known && timing.period > 0)
            printf("  gaps           %" PRId64 ", about %" PRId64 " frames missing (frames "
                   "more than 1.5 periods apart; the largest %.6f s, between frames %" PRId64
                   " and %" PRId64 ")\n",
                   timing.gaps, timing.missing, timing.gap_seconds, timing.gap_frame - 1,
                   timing.gap_frame);
        printf("  metadata       %s\n",
               clip.metadata.empty() ? "none" : vid_cli_printable(clip.metadata).c_str());
    }
}

// One file; false when it cannot be opened as a VID file (the reason is on stderr and, with
// --json, in an object of its own on stdout) or lost records its table announces. With
// `capture` the JSON object goes there instead, and nothing is printed.
bool describe(const char* path, bool json, std::string* capture = nullptr)
{
    VidHeader reader(path, nullptr);
    if (!reader.isOpen()) {
        std::string why = vid_cli_error(reader);
        if (capture == nullptr)
            fprintf(stderr, "vid info: %s\n", why.c_str());
        std::string object;
        appendf(object, "{\"file\": %s, \"error\": %s}\n", vid_cli_json_string(path).c_str(),
                vid_cli_json_string(why.c_str()).c_str());
        if (capture != nullptr)
            *capture = object;
        else if (json)
            fputs(object.c_str(), stdout);
        return false;
    }

    const Facts f = facts_of(reader, path);
    if (json) {
        const std::string object = json_of(f);
        if (capture != nullptr)
            *capture = object;
        else
            fputs(object.c_str(), stdout);
    } else {
        print_text(f);
    }
    return f.file.state != VidState::truncated;
}

} // namespace

int vid_info_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_info_command, argc, argv, args);
    if (status >= 0)
        return status;
    bool all = true;
    for (const char* file : args.operands)
        all = describe(file, args.has("--json")) && all;
    return all ? 0 : 1;
}

std::string vid_info_json(const char* path)
{
    std::string object;
    describe(path, true, &object);
    return object;
}
