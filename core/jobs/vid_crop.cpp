// Cropping, trimming and merging clips into a new VID file; see vid_crop.h.
#include "vid_crop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "VidHeader.h"
#include "vid_files.h"
#include "vid_crop_plan.h"
#include "vid_output_file.h"
#include "vid_json.h"
#include "vid_kind.h"
#include "vid_read.h"
#include "vid_records.h"
#include "vid_sensor.h"

namespace {

bool refuse(VidError& error, VidResult result, const std::string& file, const std::string& detail,
            int error_number = 0)
{
    error = vid_error(result, file, detail, error_number);
    return false;
}

// A reader (or the writer) as the merge loop uses it, frames pictured by the clip's
// description into a buffer of its own (the writer's: its pixmap).
struct Pictured {
    VidHeader* v;
    VidPicture picture;
    std::vector<unsigned char> rgb;
    int width, height, pixmap_size;
    unsigned char* pixmap;
    VidError failure;

    Pictured(VidHeader* vid, const VidPicture& p)
        : v(vid), picture(p), width(vid->width), height(vid->height),
          pixmap_size(vid->file_open_read_or_write == 1 ? vid->pixmap_size
                                                        : 3 * vid->width * vid->height),
          pixmap(vid->file_open_read_or_write == 1 ? vid->pixmap : nullptr)
    {
    }
    bool readFrameFromVideoFile(int k)
    {
        rgb.resize(size_t(pixmap_size));
        pixmap = rgb.data();
        return vid_read_picture(*v, k, picture, pixmap, 3, false, failure);
    }
    bool writeNextFrameToVideoFile() { return v->writeNextFrameToVideoFile(); }
};

// The pattern of a mosaic cut out at (left, top) of one of pattern `cfa`.
VidCfa shifted(VidCfa cfa, int left, int top)
{
    const char tile[5] = {vid_cfa_site(cfa, left, top), vid_cfa_site(cfa, left + 1, top),
                          vid_cfa_site(cfa, left, top + 1), vid_cfa_site(cfa, left + 1, top + 1),
                          0};
    VidCfa out = VidCfa::none;
    vid_cfa_parse(tile, out);
    return out;
}

// The metadata of a cut-out of samples: the input's, with the pattern the box starts on. An
// input without a description is given the one its samples were always pictured by (the
// pattern, and for two-byte samples the 10 bits and gains of the fixed demosaic), since the
// rule that picks a pattern by the frame's width would not hold for the new width.
bool samples_metadata(VidHeader& r, VidKind kind, const clip_crop::CropBox& box,
                      std::string& metadata, std::string& why)
{
    const VidSensor sensor = vid_sensor(r, kind);
    if (vid_kind_is_mono(kind))
        return true; // its "cfa": "none" comes along
    bool ok = vid_json_with_key(
        metadata, "cfa", std::string("\"") + vid_cfa_name(shifted(sensor.cfa, box.l, box.t)) + "\"",
        true, why);
    if (ok && !sensor.described && kind == VidKind::bayer16)
        ok = vid_json_with_key(metadata, "bit_depth", "10", true, why) &&
             vid_json_with_key(metadata, "gains", "[1, 1.33, 3.05]", true, why);
    return ok;
}

// A crop of Bayer or mono clips that keeps their samples: the exact boxes one after the
// other, the pattern adjusted to where the box starts, the description and timestamps carried.
bool crop_samples(const std::string& out, const std::vector<VidCropInput>& inputs,
                  const VidCropOptions& options, const std::vector<clip_crop::InputPlan>& plans,
                  const std::vector<VidHeader*>& readers, VidKind kind, VidCropOutcome& outcome,
                  VidError& error, VidCropProgress progress, void* context)
{
    const int k = int(readers.size());
    const clip_crop::CropBox& first = plans[0].box;
    VidCfa cfa = VidCfa::none;
    for (int i = 0; i < k; i++) {
        const VidKind theirs = vid_kind(*readers[size_t(i)]);
        const clip_crop::CropBox& b = plans[size_t(i)].box;
        if (theirs != kind)
            return refuse(error, VidResult::bad_argument, inputs[size_t(i)].path,
                          std::string("its frames are ") + vid_kind_text(theirs) + ", not " +
                              vid_kind_text(kind) + " as the first input's; --rgb crops any");
        if (b.w != first.w || b.h != first.h)
            return refuse(error, VidResult::bad_argument, inputs[size_t(i)].path,
                          "its box differs in size from the first input's; samples are kept only "
                          "one clip after another (--rgb merges any)");
        const VidCfa here = shifted(vid_sensor(*readers[size_t(i)], kind).cfa, b.l, b.t);
        if (i > 0 && here != cfa)
            return refuse(error, VidResult::bad_argument, inputs[size_t(i)].path,
                          std::string("its box starts on pattern ") + vid_cfa_name(here) +
                              ", the first input's on " + vid_cfa_name(cfa));
        cfa = here;
    }
    if (options.layout != VidCropLayout::sequence && k > 1)
        return refuse(error, VidResult::bad_argument, out,
                      "samples are kept only one clip after another; --rgb merges side by side or "
                      "stacked");
    int64_t frames = 0;
    for (const auto& p : plans)
        frames += p.range.length();
    if (frames < 1)
        return refuse(error, VidResult::bad_argument, out, "the frame ranges hold no frames");

    VidClip clip;
    std::vector<int64_t> stamps;
    const bool block = vid_crop_clip(const_cast<VidHeader* const*>(readers.data()), plans.data(), k,
                                     true, clip, stamps);
    std::string metadata = block ? clip.metadata : "{}";
    std::string why;
    if (!samples_metadata(*readers[0], kind, first, metadata, why))
        return refuse(error, VidResult::bad_argument, out, why);
    VidRecording recording;
    recording.kind = kind;
    recording.effort = options.effort;
    recording.clip_block = true;
    recording.frame_rate = clip.frame_rate;
    recording.start_time = block ? clip.start_time.c_str() : nullptr;
    recording.metadata = metadata.c_str();
    recording.named_at_finish = true;
    stamps.resize(size_t(frames), kVidNoTimestamp);
    VidHeader writer(out.c_str(), nullptr, first.w, first.h, int(frames), recording);
    if (!writer.isOpen()) {
        error = writer.lastError();
        error.file = out;
        return false;
    }
    VidAbandonUnfinished unfinished(writer);
    if (!writer.giveTimestamps(stamps.data(), int64_t(stamps.size())))
        return refuse(error, VidResult::out_of_memory, out, "");
    const size_t bpp = size_t(vid_kind_sample_bytes(kind));
    int64_t done = 0;
    for (int i = 0; i < k; i++) {
        VidHeader& r = *readers[size_t(i)];
        const clip_crop::InputPlan& p = plans[size_t(i)];
        std::vector<unsigned char> frame(size_t(r.width) * size_t(r.height) * bpp);
        for (int f = p.range.start; f < p.range.end; f++) {
            if (!vid_read_mosaic(r, f, frame.data(), false, error))
                return false;
            for (int y = 0; y < p.box.h; y++)
                memcpy(writer.pixmap + size_t(y) * size_t(p.box.w) * bpp,
                       frame.data() +
                           (size_t(p.box.t + y) * size_t(r.width) + size_t(p.box.l)) * bpp,
                       size_t(p.box.w) * bpp);
            if (!writer.writeNextFrameToVideoFile()) {
                error = writer.lastError();
                error.file = out;
                return false;
            }
            if (progress != nullptr)
                progress(context, ++done, frames);
        }
    }
    if (!writer.finish()) {
        error = writer.lastError();
        error.file = out;
        return false;
    }
    outcome.width = first.w;
    outcome.height = first.h;
    outcome.frames = frames;
    return true;
}

} // namespace

bool vid_crop(const std::string& out, const std::vector<VidCropInput>& inputs,
              const VidCropOptions& options, VidCropOutcome& outcome, VidError& error,
              VidCropProgress progress, void* context)
{
    using namespace clip_crop;
    if (inputs.empty())
        return refuse(error, VidResult::bad_argument, out, "no input given");
    if (options.gap < 0)
        return refuse(error, VidResult::bad_argument, out, "the gap is negative");
    for (const VidCropInput& in : inputs)
        if (vid_same_path(in.path.c_str(), out.c_str()))
            return refuse(error, VidResult::bad_argument, out,
                          "it is also an input; inputs are never changed");
    VidPathKind out_kind = vid_path_kind(out.c_str());
    if (out_kind != VidPathKind::missing && out_kind != VidPathKind::regular)
        return refuse(error, VidResult::not_regular, out,
                      std::string("it is ") + vid_path_kind_text(out_kind) +
                          "; the output must be a VID file");
    if (out_kind == VidPathKind::regular && !options.replace_any) {
        VidHeader existing(out.c_str(), nullptr);
        if (!existing.isOpen())
            return refuse(error, VidResult::bad_argument, out,
                          "it exists and is not a VID file; it is replaced only when asked to");
    }

    // Readers, plans and the output's geometry.
    const int k = int(inputs.size());
    std::vector<std::unique_ptr<VidHeader>> readers;
    std::vector<VidHeader*> reader_list;
    std::vector<InputPlan> plans(inputs.size());
    for (int i = 0; i < k; i++) {
        const VidCropInput& in = inputs[size_t(i)];
        readers.emplace_back(new VidHeader(in.path.c_str(), nullptr));
        VidHeader& r = *readers.back();
        if (!r.isOpen()) {
            error = r.lastError();
            return false;
        }
        if (r.width < 1 || r.height < 1)
            return refuse(error, VidResult::not_vid_file, in.path, "its frames hold no pixels");
        reader_list.push_back(&r);
        plans[size_t(i)].range = clamp_range(double(in.first), double(in.last), r.num_frames);
        double box[4] = {double(in.left), double(in.top), double(in.width), double(in.height)};
        CropBox& b = plans[size_t(i)].box;
        set_bounds(in.boxed ? box : nullptr, 0, r, b.l, b.t, b.w, b.h);
        // What was cut to the input's frames is said, never done silently.
        const FrameRange& got = plans[size_t(i)].range;
        const bool open_end = in.last == INT64_MAX;
        if (got.start != in.first || (!open_end && got.end != in.last))
            outcome.clamped.push_back(in.path + ": frames " + std::to_string(in.first) + ":" +
                                      (open_end ? std::string() : std::to_string(in.last)) +
                                      " of its " + std::to_string(r.num_frames) + " taken as " +
                                      std::to_string(got.start) + ":" + std::to_string(got.end));
        if (in.boxed && (b.l != in.left || b.t != in.top || b.w != in.width || b.h != in.height))
            outcome.clamped.push_back(
                in.path + ": box " + std::to_string(in.left) + "," + std::to_string(in.top) + "," +
                std::to_string(in.width) + "," + std::to_string(in.height) + " of its " +
                std::to_string(r.width) + " x " + std::to_string(r.height) + " pixels taken as " +
                std::to_string(b.l) + "," + std::to_string(b.t) + "," + std::to_string(b.w) + "," +
                std::to_string(b.h));
    }
    // Bayer and mono clips keep their samples unless rendered RGB is asked for.
    const VidKind first_kind = vid_kind(*reader_list[0]);
    if (vid_kind_has_samples(first_kind) && !options.rgb)
        return crop_samples(out, inputs, options, plans, reader_list, first_kind, outcome, error,
                            progress, context);
    const int mode = options.layout == VidCropLayout::side_by_side ? kHorizontal
                     : options.layout == VidCropLayout::stacked    ? kVertical
                                                                   : kSequential;
    const OutputGeometry geo = output_geometry(mode, options.gap, plans.data(), k);
    const int64_t frames = output_frame_count(mode, plans.data(), k);
    if (geo.width8 < 8 || geo.height8 < 8)
        return refuse(error, VidResult::bad_argument, out, "the boxes hold no pixels");
    if (!geo.fits())
        return refuse(error, VidResult::bad_argument, out,
                      "an output frame of " + std::to_string(geo.width8) + " x " +
                          std::to_string(geo.height8) + " pixels does not fit a VID file");
    if (frames < 1)
        return refuse(error, VidResult::bad_argument, out, "the frame ranges hold no frames");
    if (frames > INT32_MAX)
        return refuse(error, VidResult::bad_argument, out, "more frames than a VID file holds");

    VidClip clip;
    std::vector<int64_t> stamps;
    VidRecording recording;
    recording.effort = options.effort;
    recording.clip_block =
        vid_crop_clip(reader_list.data(), plans.data(), k, mode == kSequential, clip, stamps);
    if (recording.clip_block)
        stamps.resize(size_t(frames), kVidNoTimestamp);
    recording.frame_rate = clip.frame_rate;
    recording.start_time = clip.start_time.c_str();
    recording.metadata = clip.metadata.c_str();
    // OUT takes its name only when complete; until then the file lies beside it.
    recording.named_at_finish = true;
    VidHeader writer(out.c_str(), nullptr, int(geo.width8), int(geo.height8), int(frames),
                     recording);
    if (!writer.isOpen()) {
        error = writer.lastError();
        error.file = out;
        return false;
    }
    VidAbandonUnfinished unfinished(writer); // an unfinished crop leaves nothing behind
    if (!writer.giveTimestamps(stamps.data(), int64_t(stamps.size())))
        return refuse(error, VidResult::out_of_memory, out, "");

    MergePlan plan;
    plan.mode = mode;
    plan.gap = options.gap;
    plan.out_width = int(geo.width8);
    plan.out_height = int(geo.height8);
    plan.num_frames = int(frames);
    memcpy(plan.rgb, options.background, 3);
    plan.centre_across = true;
    // Inputs that describe their sensor are pictured by their description; when none does,
    // every frame is read as clipCropMex reads it.
    std::vector<Pictured> pictured;
    bool described = false;
    for (VidHeader* r : reader_list) {
        pictured.push_back(Pictured(r, vid_picture(*r)));
        described = described || pictured.back().picture.sensor.described;
    }
    MergeResult merged;
    if (described) {
        Pictured out_pictured(&writer, VidPicture());
        std::vector<Pictured*> list;
        for (Pictured& p : pictured)
            list.push_back(&p);
        merged = merge_frames(plan, plans.data(), list.data(), k, out_pictured,
                              MergeProgress{progress, context});
        if (merged.status == MergeResult::kReadFailed) {
            error = pictured[size_t(merged.input)].failure;
            return false;
        }
    } else {
        merged = merge_frames(plan, plans.data(), reader_list.data(), k, writer,
                              MergeProgress{progress, context});
    }
    if (merged.status == MergeResult::kReadFailed) {
        error = reader_list[size_t(merged.input)]->lastError();
        return false;
    }
    if (merged.status != MergeResult::kOk) {
        error = writer.lastError();
        if (error.result == VidResult::ok)
            error = VidError{VidResult::write_failed, 0, -1, "", "a box fell outside its frame"};
        error.file = out;
        return false;
    }
    if (!writer.finish()) {
        error = writer.lastError();
        error.file = out;
        return false;
    }
    outcome.width = plan.out_width;
    outcome.height = plan.out_height;
    outcome.frames = frames;
    return true;
}

bool vid_crop_clip(VidHeader* const* readers, const clip_crop::InputPlan* plans, int k,
                   bool sequence, VidClip& clip, std::vector<int64_t>& stamps)
{
    stamps.clear();
    if (k < 1)
        return false;
    clip = vid_read_clip(*readers[0]);
    if (!clip.present)
        return false;
    clip.flags = 0;
    for (int i = 0; i < (sequence ? k : 1); i++) {
        const clip_crop::InputPlan& in = plans[i];
        std::vector<int64_t> own;
        const VidClip theirs = i == 0 ? clip : vid_read_clip(*readers[i]);
        if (!vid_read_timestamps(*readers[i], theirs, own))
            own.assign(size_t(readers[i]->num_frames), kVidNoTimestamp);
        for (int j = 0; j < in.range.length(); j++) {
            const int64_t f = int64_t(in.range.start) + j;
            stamps.push_back(f >= 0 && f < int64_t(own.size()) ? own[size_t(f)] : kVidNoTimestamp);
        }
    }
    return true;
}
