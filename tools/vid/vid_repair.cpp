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
#include "vid_records.h"
#include "vid_salvage.h"
#include "vid_files.h"

const VidSubcommand vid_repair_command = {
    "repair",
    "IN OUT",
    "Rebuilds a readable VID file OUT from IN, a file left unfinished (a writer that was\n"
    "killed, also one from before writers kept their files readable, whose header and table\n"
    "are all zeros) or damaged. Every frame that reads intact through IN's table is kept as it\n"
    "is (black zero-length records and plain zlib streams too); only where table entries\n"
    "point outside the records, and behind the frames the header counts (a writer that\n"
    "outgrew its table), is IN scanned for records that expand to one whole frame. Every\n"
    "frame dropped is listed on standard error with its number and reason.\n"
    "The frame size comes from IN's header when it has one, else from --size (RGB frames\n"
    "unless --bayer8 or --bayer16 says the records hold one- or two-byte Bayer samples).\n"
    "Without either, the sizes that fit the records are listed.\n"
    "IN is never changed; OUT is written under a temporary name beside it and renamed when\n"
    "complete (a device or named pipe is written into directly).\n",
    {
        {"--size", nullptr, "WxH", "the frame size, for an IN whose header gives none"},
        {"--bayer8", nullptr, nullptr, "with --size: the records hold one-byte Bayer samples"},
        {"--bayer16", nullptr, nullptr, "with --size: the records hold two-byte Bayer samples"},
        {"--keep-numbering", nullptr, nullptr,
         "a black (zero-length) frame in place of each dropped frame, so that later frames "
         "keep their numbers"},
    },
    "Exit status: 0 when OUT was written, 1 on failure, 2 usage error.\n",
    2,
    "IN and OUT are both needed"};

namespace {

struct Geometry {
    int width = 0, height = 0;
    bool bayer = false, two_bytes = true;
    bool known() const { return width > 0 && height > 0; }
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

int vid_repair_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_repair_command, argc, argv, args);
    if (status >= 0)
        return status;
    if (args.operands.size() > 2)
        return vid_cli_usage_error("repair", "more than IN and OUT given");
    const char* in = args.operands[0];
    const char* out = args.operands[1];
    Geometry given;
    if (const char* size = args.value("--size")) {
        char x = 0, tail = 0;
        if (sscanf(size, "%d%c%d%c", &given.width, &x, &given.height, &tail) != 3 ||
            (x != 'x' && x != 'X') || given.width < 1 || given.height < 1 ||
            given.width > kVidMaxWriterWidth || given.height > kVidMaxHeight)
            return vid_cli_usage_error("repair", "--size needs WxH within 36863x65535");
    }
    const bool keep_numbering = args.has("--keep-numbering");
    if (args.has("--bayer8") && args.has("--bayer16"))
        return vid_cli_usage_error("repair", "--bayer8 and --bayer16 exclude each other");
    given.bayer = args.has("--bayer8") || args.has("--bayer16");
    given.two_bytes = !args.has("--bayer8");
    if (given.bayer && !given.known())
        return vid_cli_usage_error("repair", "--bayer8/--bayer16 go with --size");
    VidPathKind in_kind = vid_path_kind(in);
    if (in_kind != VidPathKind::regular) {
        fprintf(
            stderr, "vid repair: %s: %s\n", in,
            in_kind == VidPathKind::missing
                ? strerror(errno)
                : (std::string("is ") + vid_path_kind_text(in_kind) + ", not a VID file").c_str());
        return 1;
    }
    if (vid_same_path(in, out)) {
        fprintf(stderr, "vid repair: %s is IN itself; IN is never changed\n", out);
        return 1;
    }

    VidRepairOptions options;
    options.width = given.width;
    options.height = given.height;
    options.bayer = given.bayer;
    options.two_bytes = given.two_bytes;
    options.keep_numbering = keep_numbering;
    VidProgress progress("scan", 1000);
    g_progress = &progress;
    VidRepairPlan plan;
    VidError error;
    bool planned = vid_repair_plan(in, options, plan, error, scan_progress);
    progress.done();
    g_progress = nullptr;
    if (!planned) {
        fprintf(stderr, "vid repair: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    Geometry g;
    g.width = plan.width;
    g.height = plan.height;
    g.bayer = plan.bayer;
    g.two_bytes = plan.two_bytes;
    if (!g.known() && plan.common_record_bytes > 0) {
        fprintf(stderr,
                "vid repair: %s has no frame size in its header; its records expand to %" PRIu64
                " bytes. Give one of these (or another) to vid repair:\n%s",
                in, plan.common_record_bytes, candidate_sizes(plan.common_record_bytes).c_str());
        return 1;
    }
    // Every frame dropped is said, with its number where the table gave it one.
    size_t listed = 0;
    for (const VidRepairDropped& d : plan.dropped) {
        if (listed++ >= 64) {
            fprintf(stderr, "vid repair: %s: ... and %" PRId64 " more dropped\n", in,
                    int64_t(plan.dropped.size()) - 64 + plan.dropped_unlisted);
            break;
        }
        if (d.frame >= 0)
            fprintf(stderr,
                    "vid repair: %s: frame %" PRId64 " (offset %" PRId64 ") dropped%s: %s\n", in,
                    d.frame, d.offset, keep_numbering ? ", black in its place" : "",
                    d.reason.c_str());
        else
            fprintf(stderr, "vid repair: %s: record at offset %" PRId64 " dropped: %s\n", in,
                    d.offset, d.reason.c_str());
    }
    bool any_frame = false;
    for (const VidSalvageRecord& r : plan.records)
        any_frame = any_frame || r.length > 0 || plan.from_table > 0;
    if (plan.records.empty() || !g.known() || !any_frame) {
        fprintf(stderr, "vid repair: %s: no intact frame found; nothing to keep\n", in);
        return 1;
    }
    if (!vid_salvage_write(in, out, g.width, g.height, g.bayer, g.two_bytes, plan.records, error)) {
        fprintf(stderr, "vid repair: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    int64_t kept = int64_t(plan.records.size());
    printf("%s: kept %" PRId64 " frames of %d x %d %s (%" PRId64 " through the table, %" PRId64
           " found by scanning)",
           out, kept, g.width, g.height, vid_kind_text(vid_kind_of(g.bayer, g.two_bytes)),
           plan.from_table, plan.from_scan);
    if (!plan.dropped.empty())
        printf("; dropped %" PRId64 " (listed on standard error)",
               int64_t(plan.dropped.size()) + plan.dropped_unlisted);
    if (plan.torn_tail >= 0)
        printf("; dropped a record cut short at offset %" PRId64, plan.torn_tail);
    printf("\n");
    return 0;
}
