// vid cameras and vid record: GenICam cameras through Aravis, recorded straight into a clip.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "vid_camera.h"
#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_json.h"

const VidSubcommand vid_cameras_command = {
    "cameras",
    "",
    "Lists every GenICam camera (GigE Vision, USB3 Vision) that Aravis sees: id, vendor,\n"
    "model, serial, transport, address and the pixel formats it offers.\n",
    {
        {"--json", nullptr, nullptr, "one JSON array of objects instead of lines"},
        {"--fake", nullptr, nullptr, "include Aravis's in-process fake camera (Fake_1)"},
    },
    "Exit status: 0 success, 1 failure, 2 usage error.\n",
    0,
    nullptr};

const VidSubcommand vid_record_command = {
    "record",
    "OUT.vid",
    "Records a camera into OUT.vid until --frames frames are written, --duration seconds have\n"
    "passed, or Ctrl-C / SIGTERM (each ends with a finished file). Acquisition runs on its own\n"
    "thread and only moves the camera's buffers; frames are compressed on the codec's workers.\n"
    "When every buffer waits for the writer the camera's next frame is dropped: a recorder\n"
    "drop (the disk or the effort cannot keep up). Frames that arrive damaged count as\n"
    "incomplete and camera frame ids that never arrive as missing (the camera or the link).\n"
    "Each frame keeps the camera's timestamp; the metadata keeps the camera, its settings and,\n"
    "at the finish, the drops with the gaps in the frame ids. Packed formats (Mono12p,\n"
    "BayerRG12Packed, ...) are stored as two-byte samples.\n",
    {
        {"--camera", nullptr, "ID", "the camera's id (vid cameras); default: the first"},
        {"--frames", nullptr, "N", "stop after N frames"},
        {"--duration", nullptr, "S", "stop after S seconds"},
        {"--pixel-format", nullptr, "F", "Mono8, Mono12p, BayerRG12, RGB8, ..."},
        {"--size", nullptr, "WxH", "the region's size"},
        {"--offset", nullptr, "X,Y", "the region's offset"},
        {"--frame-rate", nullptr, "R", "frames per second"},
        {"--exposure", nullptr, "US", "exposure in microseconds"},
        {"--gain", nullptr, "DB", "gain in dB"},
        {"--trigger", nullptr, "software|LINE",
         "triggered acquisition (software: at --frame-rate)"},
        {"--set", nullptr, "FEATURE=VALUE", "any GenICam feature, before acquisition (repeatable)"},
        {"--records", nullptr, "compact|classic",
         "compact (default) or classic records (for the five MEX functions)"},
        {"--effort", nullptr, "E", "compression effort 1-9 (default 2)"},
        {"--buffers", nullptr, "N", "camera buffers (default: a second of frames, at most 1 GiB)"},
        {"--meta", nullptr, "KEY=VALUE", "a metadata key (repeatable)"},
        {"--no-resend", nullptr, nullptr, "GigE Vision: do not ask for lost packets again"},
    },
    "Exit status: 0 success (the file is finished), 1 failure, 2 usage error.\n",
    1,
    "OUT.vid is needed"};

namespace {

std::atomic<bool> g_stop(false);

void on_signal(int)
{
    g_stop.store(true);
}

bool parse_number(const char* v, double& out)
{
    char* end = nullptr;
    out = strtod(v, &end);
    return *v != '\0' && *end == '\0' && out == out;
}

bool parse_pair(const char* v, char sep, int& a, int& b)
{
    char* end = nullptr;
    const long x = strtol(v, &end, 10);
    if (end == v || *end != sep)
        return false;
    const char* second = end + 1;
    const long y = strtol(second, &end, 10);
    if (end == second || *end != '\0' || x < 0 || y < 0 || x > 1000000 || y > 1000000)
        return false;
    a = int(x);
    b = int(y);
    return true;
}

std::string status_line(const VidRecordStatus& s)
{
    char b[256];
    const double fps = s.seconds > 0 ? double(s.frames) / s.seconds : 0;
    snprintf(b, sizeof b,
             "%lld frames, %.1f frames/s, %.1f MB/s stored, ratio %.2f; drops: recorder %llu, "
             "incomplete %llu, missing %llu; buffers waiting %d of %d",
             (long long)s.frames, fps, s.seconds > 0 ? double(s.stored_bytes) / s.seconds / 1e6 : 0,
             s.stored_bytes ? double(s.raw_bytes) / double(s.stored_bytes) : 0,
             (unsigned long long)s.recorder_drops, (unsigned long long)s.incomplete,
             (unsigned long long)s.missing, s.queued, s.buffers);
    return b;
}

} // namespace

int vid_cameras_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_cameras_command, argc, argv, args);
    if (status >= 0)
        return status;
    if (!args.operands.empty())
        return vid_cli_usage_error("cameras", "no operands are taken");
    std::string error;
    const std::vector<VidCameraInfo> list = vid_cameras(args.has("--fake"), error);
    if (args.has("--json")) {
        printf("[");
        for (size_t i = 0; i < list.size(); i++) {
            const VidCameraInfo& c = list[i];
            std::string formats;
            for (size_t k = 0; k < c.pixel_formats.size(); k++)
                formats += (k ? ", " : "") + vid_cli_json_string(c.pixel_formats[k].c_str());
            printf("%s{\"id\": %s, \"vendor\": %s, \"model\": %s, \"serial\": %s, \"transport\": "
                   "%s, \"address\": %s, \"pixel_formats\": [%s]}",
                   i ? ", " : "", vid_cli_json_string(c.id.c_str()).c_str(),
                   vid_cli_json_string(c.vendor.c_str()).c_str(),
                   vid_cli_json_string(c.model.c_str()).c_str(),
                   vid_cli_json_string(c.serial.c_str()).c_str(),
                   vid_cli_json_string(c.transport.c_str()).c_str(),
                   vid_cli_json_string(c.address.c_str()).c_str(), formats.c_str());
        }
        printf("]\n");
    } else {
        if (list.empty())
            printf("no camera found\n");
        for (const VidCameraInfo& c : list) {
            std::string formats;
            for (size_t k = 0; k < c.pixel_formats.size(); k++)
                formats += (k ? " " : "") + c.pixel_formats[k];
            printf("%s\n  %s %s, serial %s, %s %s\n  pixel formats: %s\n",
                   vid_cli_printable(c.id).c_str(), vid_cli_printable(c.vendor).c_str(),
                   vid_cli_printable(c.model).c_str(), vid_cli_printable(c.serial).c_str(),
                   vid_cli_printable(c.transport).c_str(), vid_cli_printable(c.address).c_str(),
                   vid_cli_printable(formats).c_str());
        }
    }
    if (!error.empty())
        fprintf(stderr, "vid cameras: %s\n", error.c_str());
    return 0;
}

int vid_record_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_record_command, argc, argv, args);
    if (status >= 0)
        return status;
    if (args.operands.size() != 1)
        return vid_cli_usage_error("record", "give one OUT.vid");
    VidCameraSettings s;
    VidRecordOptions o;
    o.path = args.operands[0];
    double v = 0;
    if (const char* x = args.value("--camera"))
        s.id = x;
    if (const char* x = args.value("--frames")) {
        if (!parse_number(x, v) || v < 1 || v != double(int64_t(v)))
            return vid_cli_usage_error("record", std::string("bad --frames ") + x);
        o.frames = int64_t(v);
    }
    if (const char* x = args.value("--duration")) {
        if (!parse_number(x, v) || !(v > 0))
            return vid_cli_usage_error("record", std::string("bad --duration ") + x);
        o.duration_s = v;
    }
    if (const char* x = args.value("--pixel-format"))
        s.pixel_format = x;
    if (const char* x = args.value("--size"))
        if (!parse_pair(x, 'x', s.width, s.height) || s.width < 1 || s.height < 1)
            return vid_cli_usage_error("record", std::string("bad --size ") + x + " (WxH)");
    if (const char* x = args.value("--offset"))
        if (!parse_pair(x, ',', s.x, s.y))
            return vid_cli_usage_error("record", std::string("bad --offset ") + x + " (X,Y)");
    if (const char* x = args.value("--frame-rate")) {
        if (!parse_number(x, s.frame_rate) || !(s.frame_rate > 0))
            return vid_cli_usage_error("record", std::string("bad --frame-rate ") + x);
    }
    if (const char* x = args.value("--exposure")) {
        if (!parse_number(x, s.exposure_us) || !(s.exposure_us > 0))
            return vid_cli_usage_error("record", std::string("bad --exposure ") + x);
    }
    if (const char* x = args.value("--gain")) {
        if (!parse_number(x, s.gain_db) || s.gain_db < 0)
            return vid_cli_usage_error("record", std::string("bad --gain ") + x);
    }
    if (const char* x = args.value("--trigger"))
        s.trigger = x;
    for (const char* x : args.values("--set")) {
        const char* eq = strchr(x, '=');
        if (eq == nullptr || eq == x)
            return vid_cli_usage_error("record",
                                       std::string("bad --set ") + x + " (FEATURE=VALUE)");
        s.features.emplace_back(std::string(x, eq), std::string(eq + 1));
    }
    if (const char* x = args.value("--records")) {
        if (strcmp(x, "compact") != 0 && strcmp(x, "classic") != 0)
            return vid_cli_usage_error("record", std::string("bad --records ") + x);
        o.compact = strcmp(x, "compact") == 0;
    }
    if (const char* x = args.value("--effort")) {
        if (!parse_number(x, v) || v < 1 || v > 9 || v != double(int(v)))
            return vid_cli_usage_error("record", std::string("bad --effort ") + x + " (1-9)");
        o.effort = int(v);
    }
    if (const char* x = args.value("--buffers")) {
        if (!parse_number(x, v) || v < 2 || v > 100000 || v != double(int(v)))
            return vid_cli_usage_error("record", std::string("bad --buffers ") + x);
        s.buffers = int(v);
    }
    s.resend = !args.has("--no-resend");
    std::string error;
    std::unique_ptr<VidCamera> camera = VidCamera::open(s, error);
    if (!camera) {
        fprintf(stderr, "vid record: %s\n", error.c_str());
        return 1;
    }
    o.metadata = camera->metadata();
    for (const char* x : args.values("--meta")) {
        std::string key, value, why;
        if (!vid_cli_key_value(x, key, value, why) ||
            !vid_json_with_key(o.metadata, key, value, true, why))
            return vid_cli_usage_error("record", std::string("bad --meta ") + x + ": " + why);
    }
    o.format = camera->format();
    o.width = camera->width();
    o.height = camera->height();
    o.frame_rate = camera->frame_rate();
    o.software_trigger = camera->software_trigger();
    o.stop = &g_stop;
    const bool terminal = isatty(fileno(stderr)) != 0;
    o.progress_interval_s = terminal ? 0.25 : 5;
    o.progress = [terminal](const VidRecordStatus& st) {
        if (st.final)
            return;
        if (terminal)
            fprintf(stderr, "\r\033[K%s", status_line(st).c_str());
        else
            fprintf(stderr, "vid record: %s\n", status_line(st).c_str());
        fflush(stderr);
    };
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    fprintf(stderr, "vid record: %s, %s %dx%d at %.4g frames/s into %s (Ctrl-C ends)\n",
            s.id.empty() ? "the first camera" : s.id.c_str(), o.format.name, o.width, o.height,
            o.frame_rate, o.path.c_str());
    VidRecordSummary summary;
    VidError verror;
    const bool ok = vid_record(*camera, o, summary, verror);
    if (terminal)
        fprintf(stderr, "\n");
    const VidRecordStatus& st = summary.status;
    if (st.frames > 0 || ok)
        printf("%s: %s\n", o.path.c_str(), status_line(st).c_str());
    if (!ok) {
        fprintf(stderr, "vid record: %s\n", vid_error_message(verror).c_str());
        return 1;
    }
    printf("ended by %s in %.2f s; the camera's stream counted %llu damaged frames and %llu "
           "frames without a free buffer\n",
           summary.ended_by.c_str(), st.seconds, (unsigned long long)summary.source_failures,
           (unsigned long long)st.recorder_drops);
    return 0;
}
