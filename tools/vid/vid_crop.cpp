// vid crop: frames, boxes and several clips into one new VID file (trim, crop, merge).
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_crop.h"

const VidSubcommand vid_crop_command = {
    "crop",
    "OUT.vid IN.vid...",
    "Writes OUT from frames and boxes of the inputs: one input trimmed (--frames) or cropped\n"
    "(--box), or several merged side by side, stacked, or one after the other (the default).\n"
    "--frames and --box given once hold for every input, given once per input for each in\n"
    "order. The output frame is the boxes (and gaps) rounded up to multiples of 8, centred,\n"
    "on the background where no box lands (white one after the other); side by side and\n"
    "stacked, it has as many frames as the longest range, shorter inputs leaving background.\n"
    "These are the rules of clipCropMex. Bayer and mono clips keep their samples instead: the\n"
    "exact box, one clip after another, the colour-filter pattern adjusted to where the box\n"
    "starts, the sensor description and timestamps carried (--rgb: rendered RGB by the rules\n"
    "above). OUT is written under a temporary name beside it,\n"
    "synced and renamed when complete; an OUT that exists must be a VID file (else --force)\n"
    "and never one of the inputs.\n",
    {
        {"--frames", nullptr, "A:B", "frames A to B-1 (0-based; A: or :B leave an end open)"},
        {"--box", nullptr, "L,T,W,H", "the box of W x H pixels whose top left is column L, row T"},
        {"--side-by-side", nullptr, nullptr, "merge the inputs left to right"},
        {"--stacked", nullptr, nullptr, "merge the inputs top to bottom"},
        {"--sequence", nullptr, nullptr, "the inputs' frames one after the other (default)"},
        {"--gap", nullptr, "G", "pixels of background between neighbours (default 0)"},
        {"--background", nullptr, "R,G,B", "the background colour (default 255,255,255)"},
        {"--effort", nullptr, "E", "compression effort 1 (fastest) to 9 (smallest, default)"},
        {"--force", nullptr, nullptr, "replace OUT even when it exists and is not a VID file"},
        {"--rgb", nullptr, nullptr, "Bayer and mono inputs: rendered RGB instead of samples"},
    },
    "Exit status: 0 when OUT was written, 1 on failure, 2 usage error.\n",
    2,
    "OUT and at least one IN are needed"};

namespace {

bool whole(const char* text, long low, long high, long& out)
{
    char* end = nullptr;
    out = strtol(text, &end, 10);
    return end != text && (*end == '\0' || *end == ',') && out >= low && out <= high;
}

// "a,b,c[,d]": `count` whole numbers within [low, high].
bool numbers(const char* text, int count, long low, long high, long* out)
{
    const char* p = text;
    for (int i = 0; i < count; i++) {
        if (!whole(p, low, high, out[i]))
            return false;
        const char* comma = p;
        while (*comma && *comma != ',')
            comma++;
        if ((*comma == ',') != (i + 1 < count))
            return false;
        p = comma + 1;
    }
    return true;
}

VidProgress* g_progress = nullptr;
void told(void*, int64_t done, int64_t total)
{
    if (g_progress)
        g_progress->update(done, total);
}

} // namespace

int vid_crop_main(int argc, char** argv)
{
    VidArgs args;
    int status = vid_cli_parse(vid_crop_command, argc, argv, args);
    if (status >= 0)
        return status;
    const std::string out = args.operands[0];
    std::vector<VidCropInput> inputs(args.operands.size() - 1);
    for (size_t i = 0; i < inputs.size(); i++)
        inputs[i].path = args.operands[i + 1];

    const std::vector<const char*> frames = args.values("--frames");
    const std::vector<const char*> boxes = args.values("--box");
    if (frames.size() > 1 && frames.size() != inputs.size())
        return vid_cli_usage_error("crop", "--frames is given once, or once per input");
    if (boxes.size() > 1 && boxes.size() != inputs.size())
        return vid_cli_usage_error("crop", "--box is given once, or once per input");
    for (size_t i = 0; i < inputs.size(); i++) {
        if (!frames.empty()) {
            const char* text = frames[frames.size() == 1 ? 0 : i];
            long first = 0, last = -1;
            if (!vid_cli_parse_range(text, first, last))
                return vid_cli_usage_error("crop", std::string("bad frame range ") + text);
            inputs[i].first = first;
            inputs[i].last = last < 0 ? INT64_MAX : last;
        }
        if (!boxes.empty()) {
            const char* text = boxes[boxes.size() == 1 ? 0 : i];
            long b[4];
            if (!numbers(text, 4, 0, 65535, b) || b[2] < 1 || b[3] < 1)
                return vid_cli_usage_error("crop", std::string("bad box ") + text +
                                                       " (expected L,T,W,H, W and H from 1)");
            inputs[i].boxed = true;
            inputs[i].left = int(b[0]);
            inputs[i].top = int(b[1]);
            inputs[i].width = int(b[2]);
            inputs[i].height = int(b[3]);
        }
    }
    VidCropOptions options;
    const int layouts =
        int(args.has("--side-by-side")) + int(args.has("--stacked")) + int(args.has("--sequence"));
    if (layouts > 1)
        return vid_cli_usage_error("crop", "--side-by-side, --stacked and --sequence exclude "
                                           "each other");
    if (args.has("--side-by-side"))
        options.layout = VidCropLayout::side_by_side;
    if (args.has("--stacked"))
        options.layout = VidCropLayout::stacked;
    long value = 0;
    if (const char* v = args.value("--gap")) {
        if (!numbers(v, 1, 0, 65535, &value))
            return vid_cli_usage_error("crop", std::string("bad gap ") + v);
        options.gap = int(value);
    }
    if (const char* v = args.value("--background")) {
        long rgb[3];
        if (!numbers(v, 3, 0, 255, rgb))
            return vid_cli_usage_error("crop", std::string("bad colour ") + v +
                                                   " (expected R,G,B from 0 to 255)");
        for (int c = 0; c < 3; c++)
            options.background[c] = static_cast<unsigned char>(rgb[c]);
    }
    if (const char* v = args.value("--effort")) {
        if (!numbers(v, 1, 1, 9, &value))
            return vid_cli_usage_error("crop", std::string("compression effort ") + v +
                                                   " is not one of 1 to 9");
        options.effort = int(value);
    }
    options.replace_any = args.has("--force");
    options.rgb = args.has("--rgb");

    VidCropOutcome outcome;
    VidError error;
    VidProgress progress("crop", 0);
    g_progress = &progress;
    bool written = vid_crop(out, inputs, options, outcome, error, told, nullptr);
    progress.done();
    g_progress = nullptr;
    if (!written) {
        fprintf(stderr, "vid crop: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    for (const std::string& line : outcome.clamped)
        fprintf(stderr, "vid crop: note: %s\n", vid_cli_printable(line).c_str());
    printf("%s: %" PRId64 " frames of %d x %d\n", out.c_str(), outcome.frames, outcome.width,
           outcome.height);
    return 0;
}
