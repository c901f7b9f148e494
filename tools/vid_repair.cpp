// vid repair: a readable VID file from the records of an unfinished or damaged one.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>

#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_format.h"
#include "vid_salvage.h"

namespace {

const char kUsage[] =
    "usage: vid repair IN OUT [--size WxH] [--bayer8|--bayer16]\n"
    "\n"
    "Rebuilds a readable VID file OUT from IN, a file left unfinished (a writer that was\n"
    "killed, also one from before writers kept their files readable, whose header and table\n"
    "are all zeros) or damaged. IN is scanned for records; every record that expands to one\n"
    "whole frame is kept, in order, and OUT gets a header and a table for exactly those.\n"
    "The frame size comes from IN's header when it has one, else from --size (RGB frames\n"
    "unless --bayer8 or --bayer16 says the records hold one- or two-byte Bayer samples).\n"
    "Without either, the sizes that fit the records are listed.\n"
    "IN is never changed; OUT is written under a temporary name beside it and renamed when\n"
    "complete.\n"
    "\n"
    "Exit status: 0 when OUT was written, 1 on failure, 2 usage error.\n";

struct Geometry {
    int width = 0, height = 0;
    bool bayer = false, two_bytes = true;
    bool known() const { return width > 0 && height > 0; }
    uint64_t frame_bytes() const
    {
        VidFileHeader h;
        h.width = width;
        h.height = height;
        h.bayer = bayer;
        h.two_bytes = two_bytes;
        return uint64_t(vid_expanded_frame_bytes(h));
    }
};

VidProgress* g_progress = nullptr;
void scan_progress(int64_t done, int64_t total)
{
    if (g_progress && total > 0)
        g_progress->update(done * 1000 / total);
}

// Width x height pairs a frame of `bytes` could have: both sides at least 8, aspect between
// 1:4 and 4:1, most square first, at most 12.
std::string candidate_sizes(uint64_t bytes)
{
    std::string out;
    int listed = 0;
    for (int per_pixel : {3, 2, 1}) {
        if (bytes % unsigned(per_pixel) != 0)
            continue;
        uint64_t pixels = bytes / unsigned(per_pixel);
        std::multimap<double, std::string> found;
        for (uint64_t h = 8; h * h <= pixels * 4 && h <= uint64_t(kVidMaxHeight); h++) {
            if (pixels % h != 0)
                continue;
            uint64_t w = pixels / h;
            if (w < 8 || w > uint64_t(kVidMaxWriterWidth) || w * 4 < h || h * 4 < w)
                continue;
            double skew = w > h ? double(w) / double(h) : double(h) / double(w);
            const char* kind = per_pixel == 3 ? "" : per_pixel == 2 ? " --bayer16" : " --bayer8";
            found.emplace(skew, "  --size " + std::to_string(w) + "x" + std::to_string(h) + kind);
        }
        for (const auto& f : found) {
            if (listed++ >= 12)
                break;
            out += f.second + "\n";
        }
    }
    return out;
}

} // namespace

const char* vid_repair_usage()
{
    return kUsage;
}

int vid_repair_main(int argc, char** argv)
{
    const char* in = nullptr;
    const char* out = nullptr;
    Geometry given;
    int kind_flags = 0;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h")
            return vid_cli_help(kUsage);
        if (a == "--size") {
            char x = 0, tail = 0;
            if (i + 1 >= argc ||
                sscanf(argv[++i], "%d%c%d%c", &given.width, &x, &given.height, &tail) != 3 ||
                (x != 'x' && x != 'X') || given.width < 1 || given.height < 1 ||
                given.width > kVidMaxWriterWidth || given.height > kVidMaxHeight)
                return vid_cli_usage_error("repair", "--size needs WxH within 36863x65535");
        } else if (a == "--bayer8" || a == "--bayer16") {
            given.bayer = true;
            given.two_bytes = a == "--bayer16";
            kind_flags++;
        } else if (a.size() > 1 && a[0] == '-') {
            return vid_cli_usage_error("repair", "unknown option " + a);
        } else if (in == nullptr) {
            in = argv[i];
        } else if (out == nullptr) {
            out = argv[i];
        } else {
            return vid_cli_usage_error("repair", "more than IN and OUT given");
        }
    }
    if (in == nullptr || out == nullptr)
        return vid_cli_usage_error("repair", "IN and OUT are both needed");
    if (kind_flags > 1)
        return vid_cli_usage_error("repair", "--bayer8 and --bayer16 exclude each other");
    if (kind_flags > 0 && !given.known())
        return vid_cli_usage_error("repair", "--bayer8/--bayer16 go with --size");
    struct stat in_stat, out_stat;
    if (stat(in, &in_stat) != 0) {
        fprintf(stderr, "vid repair: %s: %s\n", in, strerror(errno));
        return 1;
    }
    // Systems without file numbers (Windows reports 0) cannot be checked this way.
    if (stat(out, &out_stat) == 0 && in_stat.st_ino != 0 && out_stat.st_dev == in_stat.st_dev &&
        out_stat.st_ino == in_stat.st_ino) {
        fprintf(stderr, "vid repair: %s is IN itself; IN is never changed\n", out);
        return 1;
    }

    // Geometry: from --size, else from IN's header where it has one.
    Geometry g = given;
    if (!g.known()) {
        FILE* f = fopen(in, "rb");
        unsigned char raw[kVidHeaderBytes];
        if (f != nullptr && fread(raw, 1, sizeof raw, f) == sizeof raw) {
            VidFileHeader h = vid_decode_header(raw);
            g.width = h.width;
            g.height = h.height;
            g.two_bytes = h.two_bytes;
            // A writer stopped before its first count leaves count 0 (which reads as Bayer):
            // the records' size settles the kind below.
            g.bayer = h.count_field > 0 || !h.two_bytes;
        }
        if (f != nullptr)
            fclose(f);
    }

    VidProgress progress("scan", 1000);
    g_progress = &progress;
    VidSalvageScan scan;
    std::string error;
    bool scanned = vid_salvage_scan(in, 0, scan, error, scan_progress);
    progress.done();
    g_progress = nullptr;
    if (!scanned) {
        fprintf(stderr, "vid repair: %s\n", error.c_str());
        return 1;
    }
    if (scan.records.empty()) {
        fprintf(stderr, "vid repair: %s: no intact record found; nothing to keep\n", in);
        return 1;
    }
    // The size most records expand to is the frame's.
    std::map<uint64_t, int> sizes;
    for (const VidSalvageRecord& r : scan.records)
        sizes[r.expanded_bytes]++;
    uint64_t common = 0;
    int most = 0;
    for (const auto& s : sizes)
        if (s.second > most) {
            most = s.second;
            common = s.first;
        }
    if (!g.known()) {
        fprintf(stderr,
                "vid repair: %s has no frame size in its header; its records expand to %" PRIu64
                " bytes. Give one of these (or another) to vid repair:\n%s",
                in, common, candidate_sizes(common).c_str());
        return 1;
    }
    if (!given.known() && g.frame_bytes() != common) {
        // The header's width and height with the kind the records' size tells.
        Geometry rgb = g, b16 = g, b8 = g;
        rgb.bayer = false;
        b16.bayer = true;
        b16.two_bytes = true;
        b8.bayer = true;
        b8.two_bytes = false;
        for (const Geometry& k : {rgb, b16, b8})
            if (k.frame_bytes() == common)
                g = k;
    }
    const uint64_t frame_bytes = g.frame_bytes();
    std::vector<VidSalvageRecord> kept;
    std::vector<int64_t> dropped = scan.damaged;
    for (const VidSalvageRecord& r : scan.records) {
        // Readers refuse records longer than twice the frame: such a record is not kept.
        if (r.expanded_bytes == frame_bytes && uint64_t(r.length) <= 2 * frame_bytes)
            kept.push_back(r);
        else
            dropped.push_back(r.offset);
    }
    if (kept.empty()) {
        fprintf(stderr,
                "vid repair: %s: no record expands to a %d x %d %s frame (%" PRIu64
                " bytes); the records hold %" PRIu64 " bytes each\n",
                in, g.width, g.height, g.bayer ? "Bayer" : "RGB", frame_bytes, common);
        return 1;
    }
    if (!vid_salvage_write(in, out, g.width, g.height, g.bayer, g.two_bytes, kept, error)) {
        fprintf(stderr, "vid repair: %s\n", error.c_str());
        return 1;
    }
    printf("%s: kept %zu frames of %d x %d %s", out, kept.size(), g.width, g.height,
           g.bayer ? (g.two_bytes ? "Bayer two-byte" : "Bayer one-byte") : "RGB");
    if (!dropped.empty()) {
        printf("; dropped %zu damaged record%s at offset%s", dropped.size(),
               dropped.size() == 1 ? "" : "s", dropped.size() == 1 ? "" : "s");
        for (size_t i = 0; i < dropped.size() && i < 8; i++)
            printf(" %" PRId64, dropped[i]);
        if (dropped.size() > 8)
            printf(" ...");
    }
    if (scan.torn_tail >= 0)
        printf("; dropped a record cut short at offset %" PRId64, scan.torn_tail);
    printf("\n");
    return 0;
}
