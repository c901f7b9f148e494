// vid watch: follows a recording while it is written: frames, rate, gaps and stored MB/s.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "VidHeader.h"
#include "vid_files.h"
#include "vid_cli.h"
#include "vid_clip.h"
#include "vid_commands.h"
#include "vid_follow.h"
#include "vid_records.h"

const VidSubcommand vid_watch_command = {
    "watch",
    "FILE",
    "Follows FILE while a writer appends to it (waiting for it to appear first): the frames,\n"
    "the frames per second over the last second, the gaps between frames by their timestamps\n"
    "(steps above 1.5 frame periods) and the stored MB/s. On a terminal one live line, else a\n"
    "plain line each interval. Ends when the writer has finished the file (its clip block\n"
    "says so), or after --idle seconds without a new frame.\n",
    {
        {"--idle", nullptr, "S", "end after S seconds without a new frame (default: never)"},
        {"--interval", nullptr, "S", "seconds between looks (default 0.25)"},
    },
    "Exit status: 0 when the writer finished or the idle time passed, 1 when the file did\n"
    "not appear within the idle time, became unreadable or was replaced by another recording,\n"
    "2 usage error.\n",
    1,
    "no FILE given"};

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

bool number(const char* text, double& out)
{
    char* end = nullptr;
    out = strtod(text, &end);
    return *text != '\0' && *end == '\0' && out > 0 && out < 1e9;
}

// Steps between timestamps above 1.5 periods, the period being the nominal one or the median.
struct Gaps {
    int64_t count = 0;
    double largest = 0;
    std::vector<double> steps; // recent steps in seconds, for the median
    int64_t last = kVidNoTimestamp;

    void add(int64_t t, double rate)
    {
        if (t == kVidNoTimestamp) {
            last = t;
            return;
        }
        if (last != kVidNoTimestamp) {
            const double step = vid_cli_seconds_between(last, t);
            steps.push_back(step);
            if (steps.size() > 256)
                steps.erase(steps.begin());
            std::vector<double> sorted = steps;
            std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
            const double period = rate > 0 ? 1 / rate : sorted[sorted.size() / 2];
            if (period > 0 && step > 1.5 * period) {
                count++;
                largest = std::max(largest, step);
            }
        }
        last = t;
    }
};

} // namespace

int vid_watch_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_watch_command, argc, argv, args);
    if (status >= 0)
        return status;
    if (args.operands.size() != 1)
        return vid_cli_usage_error("watch", "give one FILE");
    const char* path = args.operands[0];
    double idle = -1, interval = 0.25;
    if (const char* v = args.value("--idle"))
        if (!number(v, idle))
            return vid_cli_usage_error("watch", std::string("bad idle time ") + v);
    if (const char* v = args.value("--interval"))
        if (!number(v, interval))
            return vid_cli_usage_error("watch", std::string("bad interval ") + v);
    const bool live = vid_is_terminal(stdout);
    const auto pause = std::chrono::duration<double>(interval);

    // The file may not be there yet: the recording is about to start.
    const Clock::time_point started = Clock::now();
    bool said_waiting = false;
    while (vid_path_kind(path) == VidPathKind::missing) {
        if (!said_waiting)
            fprintf(stderr, "vid watch: waiting for %s to appear\n", path);
        said_waiting = true;
        if (idle > 0 && seconds(Clock::now() - started) > idle) {
            fprintf(stderr, "vid watch: %s did not appear within %g s\n", path, idle);
            return 1;
        }
        std::this_thread::sleep_for(pause);
    }
    VidHeader reader(path, nullptr);
    if (!reader.isOpen()) {
        fprintf(stderr, "vid watch: %s\n", vid_cli_error(reader).c_str());
        return 1;
    }

    std::deque<std::pair<Clock::time_point, std::pair<int64_t, int64_t>>> history; // frames, bytes
    Gaps gaps;
    int64_t seen = 0;
    Clock::time_point last_frame = Clock::now(), last_line = Clock::time_point();
    for (;;) {
        VidError error;
        if (!vid_refresh(reader, error)) {
            if (live)
                printf("\n");
            fprintf(stderr, "vid watch: %s\n", vid_error_message(error).c_str());
            return 1;
        }
        const Clock::time_point now = Clock::now();
        const int64_t frames = reader.num_frames;
        const VidClip clip = vid_read_clip(reader);
        if (frames > seen) {
            std::vector<int64_t> stamps;
            if (clip.present &&
                vid_read_timestamps_range(reader.videoFile, clip, seen, frames - seen, stamps))
                for (int64_t t : stamps)
                    gaps.add(t, clip.frame_rate);
            seen = frames;
            last_frame = now;
        }
        history.push_back({now, {frames, reader.file_bytes}});
        while (history.size() > 2 && seconds(now - history.front().first) > 1.0)
            history.pop_front();
        const double span = seconds(now - history.front().first);
        const double fps = span > 0 ? double(frames - history.front().second.first) / span : 0;
        const double mbs =
            span > 0 ? double(reader.file_bytes - history.front().second.second) / span / 1e6 : 0;
        const bool finished = clip.present && (clip.flags & kVidClipFinished) != 0;
        const bool idle_over = idle > 0 && seconds(now - last_frame) > idle;
        char line[256];
        snprintf(line, sizeof line,
                 "%s: %" PRId64 " frames, %.1f frames/s, %" PRId64 " gaps%s, %.1f MB/s stored%s",
                 vid_cli_printable(path).c_str(), frames, fps, gaps.count,
                 gaps.count > 0 ? (" (largest " + std::to_string(gaps.largest) + " s)").c_str()
                                : "",
                 mbs, finished ? ", finished" : "");
        if (live) {
            printf("\r%s\033[K", line);
            fflush(stdout);
        } else if (finished || idle_over || seconds(now - last_line) >= 1.0) {
            printf("%s\n", line);
            fflush(stdout);
            last_line = now;
        }
        if (finished) {
            // The mark comes after the last frame: one more look, then done.
            if (vid_refresh(reader, error) && reader.num_frames > frames)
                continue;
            if (live)
                printf("\n");
            return 0;
        }
        if (idle_over) {
            if (live)
                printf("\n");
            fprintf(stderr, "vid watch: no new frame for %g s; %" PRId64 " frames\n", idle, frames);
            return 0;
        }
        std::this_thread::sleep_for(pause);
    }
}
