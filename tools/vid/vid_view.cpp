// vid view: a clip in the browser. A small HTTP server on 127.0.0.1 serves its own page and the
// frames of the one file it opened: JPEG while the slider moves or the clip plays, exact PNG once
// it stops, the clip's facts as JSON. cpp-httplib does the HTTP, libturbojpeg the JPEG.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include "VidHeader.h"
#include "image_io.h"
#include "le_bytes.h"
#include "vid_cli.h"
#include "vid_clip.h"
#include "vid_kind.h"
#include "vid_commands.h"
#include "vid_follow.h"
#include "vid_read.h"
#include "vid_records.h"
#include "vid_view_page.h"

const VidSubcommand vid_view_command = {
    "view",
    "FILE",
    "Shows FILE in the browser: starts a small HTTP server bound to 127.0.0.1 (a free port\n"
    "unless --port), prints its address with a random token on the first line, opens it with\n"
    "xdg-open unless --no-open, and runs until interrupted (Ctrl-C). The server answers only\n"
    "requests that carry the token (?token=T, or the cookie the page gets with it) and name\n"
    "127.0.0.1 or localhost with its port as their host, so neither another user of the\n"
    "machine nor a web page of another site can read the clip. The page scrubs through the frames\n"
    "(JPEG while the slider moves, the exact pixels as PNG once it stops), plays at the\n"
    "clip's frame rate, zooms to 16:1 with visible pixels, reads out the pixel under the\n"
    "cursor (and a Bayer file's raw sample and its colour site), shows the frame's timestamp\n"
    "and the clip's metadata, and follows a recording in progress (live). Scripts may use the\n"
    "server too: /frame/K.png, /frame/K.jpg, /info (the keys of vid info --json),\n"
    "/sample/K?x=X&y=Y, /frames (the count now, for following).\n",
    {
        {"--port", nullptr, "N",
         "the port to listen on (default: a free one); a port that "
         "is taken is refused"},
        {"--no-open", nullptr, nullptr, "do not open the page in a browser"},
    },
    "Exit status: 0 after an interrupt, 1 when FILE cannot be opened or the port not bound,\n"
    "2 usage error.\n",
    1,
    "no FILE given"};

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int)
{
    g_stop = true;
}

// How the page asks a frame of samples to be shown: black and white points in sensor units
// (-1: the clip's own) and the sRGB curve on or off.
struct Levels {
    int black = -1, white = -1;
    bool gamma = false;
    bool operator==(const Levels& o) const
    {
        return black == o.black && white == o.white && gamma == o.gamma;
    }
};

// The file, opened once, and the last frame read (a PNG after a JPEG of the same frame costs
// no second read). Requests come from several connections: one at a time here.
struct FrameCache {
    std::mutex lock;
    VidHeader* reader = nullptr;
    VidPicture picture; // a clip that describes its sensor is pictured by the description
    int cached = -1;
    Levels cached_levels;
    std::vector<unsigned char> rgb;

    // Frame k as RGB; a Bayer or mono clip's with the levels asked for (any levels, or the
    // curve, make it pictured through its description, the defaults of its kind filling in).
    bool frame(int k, std::string& error, const Levels& levels = Levels())
    {
        if (k == cached && levels == cached_levels)
            return true;
        rgb.resize(size_t(reader->pixmap_size));
        VidError failure;
        VidPicture asked = picture;
        const bool leveled = !(levels == Levels()) && vid_kind_has_samples(picture.kind);
        if (leveled) {
            asked.sensor.described = true;
            asked.srgb = levels.gamma;
            if (levels.black >= 0)
                for (double& b : asked.sensor.black)
                    b = levels.black;
            if (levels.white > 0)
                asked.sensor.white = levels.white;
            for (double& b : asked.sensor.black)
                b = std::min(b, asked.sensor.white - 1);
        }
        const bool read = leveled
                              ? vid_read_picture(*reader, k, asked, rgb.data(), 3, false, failure)
                              : vid_read_rgb(*reader, k, 1, rgb.data(), 1, failure, &picture);
        if (!read) {
            error = vid_error_message(failure);
            cached = -1;
            return false;
        }
        cached = k;
        cached_levels = levels;
        return true;
    }

    // frame(k), or the reader's failure as a 500 answer.
    bool frame_or_answer(int k, httplib::Response& res, const Levels& levels = Levels())
    {
        std::string error;
        if (frame(k, error, levels))
            return true;
        res.status = 500;
        res.set_content(error, "text/plain");
        return false;
    }
};

// Frame k's samples as stored (host order), or the reader's failure as a 500 answer.
bool samples_or_answer(VidHeader& reader, int k, std::vector<unsigned char>& samples,
                       httplib::Response& res)
{
    samples.resize(reader.uncompressed_buffer_size);
    VidError failure;
    if (vid_read_mosaic(reader, k, samples.data(), true, failure))
        return true;
    res.status = 500;
    res.set_content(vid_error_message(failure), "text/plain");
    return false;
}

// The histogram of a frame's samples (host order when two bytes): 256 bins over 0 to
// 2^bits - 1, and the 0.1 and 99.9 percentiles of the samples.
std::string histogram_json(const std::vector<unsigned char>& samples, bool two, int bits)
{
    const size_t n = two ? samples.size() / 2 : samples.size();
    const uint32_t top = (1u << bits) - 1;
    std::vector<uint64_t> fine(size_t(top) + 1, 0);
    for (size_t i = 0; i < n; i++) {
        uint32_t v = two ? reinterpret_cast<const uint16_t*>(samples.data())[i] : samples[i];
        fine[std::min(v, top)]++;
    }
    uint64_t bins[256] = {};
    for (uint32_t v = 0; v <= top; v++)
        bins[uint64_t(v) * 256 / (uint64_t(top) + 1)] += fine[v];
    uint32_t low = 0, high = top;
    uint64_t seen = 0;
    bool low_found = false;
    for (uint32_t v = 0; v <= top; v++) {
        seen += fine[v];
        if (!low_found && seen * 1000 > n) {
            low = v;
            low_found = true;
        }
        if (seen * 1000 >= n * 999) {
            high = v;
            break;
        }
    }
    std::string json = "{\"bits\": " + std::to_string(bits) + ", \"low\": " + std::to_string(low) +
                       ", \"high\": " + std::to_string(high) + ", \"bins\": [";
    for (int i = 0; i < 256; i++)
        json += (i ? ", " : "") + std::to_string(bins[i]);
    return json + "]}";
}

// A token of 128 random bits as 32 hexadecimal digits.
std::string new_token()
{
    std::random_device device;
    std::string token;
    char hex[12];
    for (int i = 0; i < 4; i++) {
        snprintf(hex, sizeof hex, "%08x", unsigned(device()));
        token += hex;
    }
    return token;
}

// Equal in time independent of where the texts first differ.
bool same_secret(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); i++)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// The value of cookie `name` in a Cookie header, or "".
std::string cookie_value(const std::string& header, const std::string& name)
{
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos)
            end = header.size();
        size_t start = header.find_first_not_of(' ', at);
        if (start < end && header.compare(start, name.size() + 1, name + "=") == 0)
            return header.substr(start + name.size() + 1, end - start - name.size() - 1);
        at = end + 1;
    }
    return "";
}

bool frame_number(const std::string& text, int& k)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    k = atoi(text.c_str());
    return true;
}

void open_browser(const std::string& url)
{
    const pid_t pid = fork();
    if (pid == 0) {
        // Detached, quiet: a missing xdg-open or browser is no failure of the server.
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execlp("xdg-open", "xdg-open", url.c_str(), (char*)nullptr);
        _exit(127);
    }
}

// Enough workers that a few slow or idle connections never hold the page's requests up,
// and short timeouts that give their workers back; no SO_REUSEPORT (cpp-httplib's default
// sets it): a port another server holds is refused instead of shared with it.
void configure(httplib::Server& server)
{
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_read_timeout(2, 0);
    server.set_write_timeout(5, 0);
    server.set_keep_alive_timeout(2);
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    });
}

// Who may ask: requests that name this server as their host (a page of another site that
// rebinds its name to 127.0.0.1 names its own) and carry the token (other users of the
// machine do not have it).
struct Doors {
    std::string token = new_token();
    std::string cookie; // the token's cookie, named for the port (cookies ignore ports)
    std::vector<std::string> hosts;

    void open_on(int port)
    {
        hosts = {"127.0.0.1:" + std::to_string(port), "localhost:" + std::to_string(port)};
        cookie = "vid_view_token_" + std::to_string(port);
    }
};

void guard(httplib::Server& server, const Doors* doors)
{
    server.set_pre_routing_handler([doors](const httplib::Request& req, httplib::Response& res) {
        const std::string host = req.get_header_value("Host");
        bool host_ok = false;
        for (const std::string& h : doors->hosts)
            host_ok = host_ok || host == h;
        if (!host_ok) {
            res.status = 403;
            res.set_content("vid view answers only requests for 127.0.0.1 or localhost\n",
                            "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        const bool in_query = same_secret(req.get_param_value("token"), doors->token);
        if (!in_query && !same_secret(cookie_value(req.get_header_value("Cookie"), doors->cookie),
                                      doors->token)) {
            res.status = 403;
            res.set_content("vid view needs the token of the address it printed\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (in_query)
            res.set_header("Set-Cookie", doors->cookie + "=" + doors->token +
                                             "; Path=/; HttpOnly; SameSite=Strict");
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

// The page, the clip's facts and its frames. Handlers run on the server's threads; the file
// is read by one of them at a time.
void serve(httplib::Server& server, FrameCache* cache)
{
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kVidViewPage, "text/html; charset=utf-8");
        res.set_header("Cache-Control", "no-store");
    });
    server.Get("/info", [cache](const httplib::Request&, httplib::Response& res) {
        VidHeader& reader = *cache->reader;
        std::lock_guard<std::mutex> hold(cache->lock);
        res.set_content(vid_info_json(reader.videoFileName), "application/json");
    });
    // The frame count now (a recording in progress grows), its timestamps and whether its
    // writer finished: what the live view asks for.
    server.Get("/frames", [cache](const httplib::Request&, httplib::Response& res) {
        VidHeader& reader = *cache->reader;
        std::lock_guard<std::mutex> hold(cache->lock);
        VidError error;
        if (!vid_refresh(reader, error)) {
            res.status = 500;
            res.set_content(vid_error_message(error), "text/plain");
            return;
        }
        const VidClip block = vid_read_clip(reader);
        const char* kind = vid_kind_name(vid_kind(reader));
        res.set_content(
            std::string("{\"frames\": ") + std::to_string(reader.num_frames) + ", \"kind\": " +
                (kind ? "\"" + std::string(kind) + "\"" : "null") + ", \"finished\": " +
                (block.present ? ((block.flags & kVidClipFinished) ? "true" : "false") : "null") +
                "}",
            "application/json");
    });
    server.Get(R"(/frame/(\d+)\.(png|jpg))", [cache](const httplib::Request& req,
                                                     httplib::Response& res) {
        VidHeader& reader = *cache->reader;
        int k = 0;
        if (!frame_number(req.matches[1], k)) {
            res.status = 404;
            return;
        }
        // The file is read by one request at a time; the frame is encoded outside the lock, on
        // as many of the server's threads as ask at once.
        std::vector<unsigned char> rgb;
        std::vector<int64_t> stamp;
        int width = 0, height = 0;
        {
            std::lock_guard<std::mutex> hold(cache->lock);
            if (k >= reader.num_frames || reader.width < 1 || reader.height < 1) {
                res.status = 404;
                res.set_content("no frame " + std::to_string(k) + " in the clip's " +
                                    std::to_string(reader.num_frames),
                                "text/plain");
                return;
            }
            Levels levels;
            int value = 0;
            if (frame_number(req.get_param_value("black"), value))
                levels.black = value;
            if (frame_number(req.get_param_value("white"), value))
                levels.white = value;
            levels.gamma = req.get_param_value("gamma") == "1";
            if (!cache->frame_or_answer(k, res, levels))
                return;
            rgb = cache->rgb;
            width = reader.width;
            height = reader.height;
            // The frame's timestamp travels with it.
            const VidClip block = vid_read_clip(reader);
            if (!block.present || !vid_read_timestamps_range(reader.videoFile, block, k, 1, stamp))
                stamp.clear();
        }
        std::vector<unsigned char> image;
        const bool png = req.matches[2] == "png";
        const bool made = png ? encode_png(width, height, rgb.data(), image)
                              : encode_jpeg(width, height, rgb.data(), 85, image);
        if (!made) {
            res.status = 500;
            return;
        }
        if (!stamp.empty() && stamp[0] != kVidNoTimestamp)
            res.set_header("X-Vid-Timestamp", std::to_string(stamp[0]));
        res.set_header("Cache-Control", "no-store");
        res.set_content(reinterpret_cast<const char*>(image.data()), image.size(),
                        png ? "image/png" : "image/jpeg");
    });
    server.Get(R"(/sample/(\d+))", [cache](const httplib::Request& req, httplib::Response& res) {
        VidHeader& reader = *cache->reader;
        int k = 0, x = 0, y = 0;
        if (!frame_number(req.matches[1], k) || !frame_number(req.get_param_value("x"), x) ||
            !frame_number(req.get_param_value("y"), y)) {
            res.status = 400;
            return;
        }
        std::lock_guard<std::mutex> hold(cache->lock);
        if (k >= reader.num_frames || x >= reader.width || y >= reader.height) {
            res.status = 404;
            return;
        }
        if (!cache->frame_or_answer(k, res))
            return;
        const unsigned char* p = &cache->rgb[(size_t(y) * size_t(reader.width) + size_t(x)) * 3];
        std::string json = "{\"frame\": " + std::to_string(k) + ", \"x\": " + std::to_string(x) +
                           ", \"y\": " + std::to_string(y) + ", \"rgb\": [" + std::to_string(p[0]) +
                           ", " + std::to_string(p[1]) + ", " + std::to_string(p[2]) + "]";
        const VidKind kind = cache->picture.kind;
        if (vid_kind_has_samples(kind)) {
            std::vector<unsigned char> samples;
            if (!samples_or_answer(reader, k, samples, res))
                return;
            const size_t at = size_t(y) * size_t(reader.width) + size_t(x);
            unsigned value = vid_kind_sample_bytes(kind) == 2
                                 ? unsigned(reinterpret_cast<const uint16_t*>(samples.data())[at])
                                 : samples[at];
            const char site = vid_cfa_site(cache->picture.sensor.cfa, x, y);
            json += ", \"raw\": " + std::to_string(value) + ", \"site\": \"" +
                    (site ? std::string(1, site) : std::string("mono")) + "\"";
        }
        res.set_content(json + "}", "application/json");
    });
    // A frame's samples as a histogram of 256 bins over the sensor's range (0 to 2^bits - 1),
    // with the 0.1 and 99.9 percentiles: what the page's levels and automatic stretch use.
    server.Get(R"(/histogram/(\d+))", [cache](const httplib::Request& req, httplib::Response& res) {
        VidHeader& reader = *cache->reader;
        int k = 0;
        if (!frame_number(req.matches[1], k)) {
            res.status = 400;
            return;
        }
        std::lock_guard<std::mutex> hold(cache->lock);
        const VidKind kind = cache->picture.kind;
        if (k >= reader.num_frames || !vid_kind_has_samples(kind)) {
            res.status = 404;
            return;
        }
        std::vector<unsigned char> samples;
        if (!samples_or_answer(reader, k, samples, res))
            return;
        res.set_content(histogram_json(samples, vid_kind_sample_bytes(kind) == 2,
                                       cache->picture.sensor.bit_depth),
                        "application/json");
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(std::to_string(res.status) + "\n", "text/plain");
    });
}

} // namespace

int vid_view_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_view_command, argc, argv, args);
    if (status >= 0)
        return status;
    if (args.operands.size() != 1)
        return vid_cli_usage_error("view", "give one FILE");
    const char* path = args.operands[0];
    int port = 0;
    if (const char* v = args.value("--port")) {
        char* end = nullptr;
        long p = strtol(v, &end, 10);
        if (*v == '\0' || *end != '\0' || p < 1 || p > 65535)
            return vid_cli_usage_error("view", std::string("bad port ") + v);
        port = int(p);
    }
    VidHeader reader(path, nullptr);
    if (!reader.isOpen()) {
        fprintf(stderr, "vid view: %s\n", vid_cli_error(reader).c_str());
        return 1;
    }
    FrameCache cache;
    cache.reader = &reader;
    cache.picture = vid_picture(reader);

    httplib::Server server;
    configure(server);
    Doors doors;
    guard(server, &doors);
    serve(server, &cache);

    const bool bound = port > 0 ? server.bind_to_port("127.0.0.1", port)
                                : (port = server.bind_to_any_port("127.0.0.1")) > 0;
    if (!bound) {
        fprintf(stderr, "vid view: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    doors.open_on(port);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/?token=" + doors.token;
    printf("%s\n", url.c_str());
    fflush(stdout);
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    signal(SIGPIPE, SIG_IGN);
    std::thread watcher([&server] {
        while (!g_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        server.stop();
    });
    if (!args.has("--no-open"))
        open_browser(url);
    server.listen_after_bind();
    g_stop = true;
    watcher.join();
    fprintf(stderr, "vid view: stopped\n");
    return 0;
}
