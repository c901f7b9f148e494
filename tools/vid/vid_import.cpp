// vid import: a VID file of RGB frames or Bayer mosaics from images or from a raw stream.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "VidHeader.h"
#include "vid_files.h"
#include "compress_uncompress_MT.h"
#include "image_io.h"
#include "vid_cli.h"
#include "vid_commands.h"
#include "vid_clip.h"
#include "vid_json.h"
#include "vid_kind.h"
#include "vid_records.h"
#include "vid_output_file.h"
#include "vid_format.h"
#include "vid_pixel_format.h"
#include "vid_sensor.h"
#include "vid_ser.h"
#if VID_HAVE_TIFF
#include "tiff_io.h"
#else
#include <cstddef>
inline bool tiff_is(const unsigned char* h, size_t n)
{
    return n >= 4 && ((h[0] == 'I' && h[1] == 'I') || (h[0] == 'M' && h[1] == 'M'));
}
#endif

const VidSubcommand vid_import_command = {
    "import",
    "OUT.vid (IMAGE... | STACK.tif | CLIP.ser | --size WxH -|RAWFILE)",
    "Builds an RGB VID file from a raw rgb24 stream (rows from the top, frames back to back)\n"
    "read from standard input (-) or RAWFILE and cut into W x H frames, or from PNG/PPM/PGM\n"
    "images taken in the order given (all of one size; 8-bit; gray is spread to RGB), or from\n"
    "one multi-page TIFF (8- or 16-bit gray as mono8/mono16, or mosaics with --kind bayer16\n"
    "--cfa RGGB; 8-bit RGB; an ImageJ stack's frame interval as the rate) or SER file (its kind,\n"
    "pattern, depth and times).\n"
    "--kind bayer16 or bayer8 builds a file of raw Bayer mosaics instead, stored as given:\n"
    "from a stream of two-byte little-endian (or one-byte) samples, or from 16-bit (8-bit)\n"
    "gray PNG/PGM images, as vid export --mosaic writes them; mono16 and mono8 the same for\n"
    "a mono sensor. --meta cfa=RGGB --meta bit_depth=12 describes the sensor.\n"
    "--frame-rate and --meta keep the clip's rate and metadata in OUT; frame k is stamped\n"
    "k / R seconds when the rate is given, with the times of --timestamps FILE.csv (what vid\n"
    "export --timestamps writes) when that is given, else with no time (none is invented).\n"
    "--packing reads a stream of packed 10- or 12-bit samples (the GenICam layouts) into\n"
    "two-byte ones.\n"
    "OUT is written under a temporary name in its folder and renamed when complete. An OUT\n"
    "that exists must be a VID file (else --force), and never one of the inputs. A stream\n"
    "that ends inside a frame keeps every whole frame (OUT is written) and exits 1; when a\n"
    "stream's file cannot be finished, what was written is kept under the temporary name,\n"
    "which the message gives. -- ends the options: every later argument is a name.\n",
    {
        {"--size", nullptr, "WxH", "the frame size of a raw stream (- or RAWFILE)"},
        {"--frames", nullptr, "N",
         "frames to expect from a stream (reserves the table, at most 1048576 entries up "
         "front; the stream may still end earlier or run on)"},
        {"--effort", nullptr, "E",
         "compression effort 1 (fastest) to 9 (smallest, the default); 2 is about twice as "
         "fast as 9 at the same size"},
        {"--force", nullptr, nullptr, "replace OUT even when it exists and is not a VID file"},
        {"--kind", nullptr, "K",
         "rgb (the default), bayer16 or mono16 (two-byte samples), bayer8 or mono8 (one-byte "
         "samples)"},
        {"--frame-rate", nullptr, "R", "the clip's frame rate in frames per second"},
        {"--records", nullptr, "classic|compact",
         "classic records (the default; every version reads them) or compact ones (camera "
         "frames a quarter to a third smaller and faster to read; older readers refuse them)"},
        {"--cfa", nullptr, "RGGB|BGGR|GRBG|GBRG",
         "the mosaics' pattern (as --meta cfa=...), for --kind bayer16 or bayer8"},
        {"--timestamps", nullptr, "FILE.csv",
         "the frames' timestamps, as vid export --timestamps writes them (frame, "
         "timestamp_ns, ...; one row a frame, in order)"},
        {"--packing", nullptr, "10p|12p|10packed|12packed",
         "a stream of packed samples (with --kind bayer16 or mono16): 10p, 12p one little-endian "
         "bit stream (Mono12p, BayerRG12p, ...), 12packed and 10packed two samples in three bytes "
         "(Mono12Packed, ...); bit_depth is set to 10 or 12 unless --meta gives it"},
        {"--meta", nullptr, "KEY=VALUE",
         "clip metadata, once per key (camera, exposure_us, bit_depth, gains, trigger_frame, "
         "description, ...); VALUE is taken as JSON when it is valid JSON (a number, true, "
         "false, null, \"text\", an array or an object, nested at most 64 deep), else as "
         "text; an array or object that is not valid JSON is refused"},
    },
    "Exit status: 0 success, 1 failure, 2 usage error.\n",
    0,
    ""};

namespace {

struct Options {
    std::string out;
    std::vector<std::string> inputs;
    int width = 0, height = 0;
    bool stream = false;
    long frames = -1;
    int effort = max_compression_effort;
    bool force = false;
    VidKind kind = VidKind::rgb;
    double frame_rate = 0;
    bool clip_block = false; // --frame-rate or --meta given
    bool compact = false;
    std::string metadata;        // a JSON object
    std::vector<int64_t> stamps; // --timestamps, one a frame (kVidNoTimestamp: none)
    bool stamps_given = false;
    std::string stamps_file;
    VidPixelFormat packed; // packing none: samples as they are
};

// The timestamps of a CSV as vid export --timestamps writes it: a header line, then
// "frame,timestamp_ns[,...]" a row, the time empty where a frame has none.
bool read_timestamps_csv(const std::string& path, std::vector<int64_t>& out, std::string& error)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = path + ": " + strerror(errno);
        return false;
    }
    char line[512];
    long row = 0;
    bool ok = true;
    while (ok && fgets(line, sizeof line, f) != nullptr) {
        row++;
        if (strchr(line, '\n') == nullptr && !feof(f)) {
            error = path + ": row " + std::to_string(row) + " is longer than a timestamp's row";
            ok = false;
            break;
        }
        if (row == 1 && (line[0] < '0' || line[0] > '9'))
            continue; // the header
        char* end = nullptr;
        errno = 0;
        strtol(line, &end, 10);
        if (end == line || *end != ',' || errno != 0) {
            error = path + ": row " + std::to_string(row) + " does not start with a frame number";
            ok = false;
            break;
        }
        const char* t = end + 1;
        if (*t == ',' || *t == '\n' || *t == '\r' || *t == '\0') {
            out.push_back(kVidNoTimestamp);
            continue;
        }
        errno = 0;
        const long long v = strtoll(t, &end, 10);
        if (end == t || (*end != ',' && *end != '\n' && *end != '\r' && *end != '\0') ||
            errno != 0 || v == kVidNoTimestamp) {
            error = path + ": row " + std::to_string(row) + " has no timestamp in nanoseconds";
            ok = false;
            break;
        }
        out.push_back(int64_t(v));
        if (out.size() > size_t(INT32_MAX)) {
            error = path + ": more rows than a clip has frames";
            ok = false;
        }
    }
    if (ok && ferror(f)) {
        error = path + ": " + strerror(errno);
        ok = false;
    }
    fclose(f);
    return ok;
}

// Bytes of one frame as stored: RGB 3 per pixel, mosaics 1 or 2 per sample.
size_t stored_frame_bytes(const Options& o, int width, int height)
{
    return size_t(vid_expanded_frame_bytes(width, height, o.kind != VidKind::rgb,
                                           vid_kind_sample_bytes(o.kind) == 2));
}

bool parse_size(const char* text, int& w, int& h)
{
    char x = 0;
    char tail = 0;
    return sscanf(text, "%d%c%d%c", &w, &x, &h, &tail) == 3 && (x == 'x' || x == 'X') && w > 0 &&
           h > 0;
}

int parse(int argc, char** argv, Options& o)
{
    VidArgs args;
    int status = vid_cli_parse(vid_import_command, argc, argv, args);
    if (status >= 0)
        return status;
    for (const char* operand : args.operands)
        (o.out.empty() ? o.out : o.inputs.emplace_back()) = operand;
    o.force = args.has("--force");
    if (const char* v = args.value("--size")) {
        if (!parse_size(v, o.width, o.height))
            return vid_cli_usage_error("import", std::string("bad size ") + v +
                                                     " (expected WxH, e.g. 640x480)");
        o.stream = true;
    }
    if (const char* v = args.value("--frames")) {
        char* end = nullptr;
        errno = 0;
        o.frames = strtol(v, &end, 10);
        if (*end == '\0' && errno == 0 && o.frames > INT32_MAX)
            o.frames = INT32_MAX; // a hint: the table is bounded anyway
        if (*v == '\0' || *end != '\0' || errno != 0 || o.frames < 0)
            return vid_cli_usage_error("import", std::string("bad frame count ") + v);
    }
    if (const char* v = args.value("--effort")) {
        char* end = nullptr;
        o.effort = int(strtol(v, &end, 10));
        if (*v == '\0' || *end != '\0' || o.effort < min_compression_effort ||
            o.effort > max_compression_effort)
            return vid_cli_usage_error("import", std::string("compression effort ") + v +
                                                     " is not one of 1 to 9");
    }
    if (const char* v = args.value("--kind")) {
        if (!vid_kind_parse(v, o.kind))
            return vid_cli_usage_error("import",
                                       std::string("kind ") + v +
                                           " is not rgb, bayer16, bayer8, mono16 or mono8");
        // Mono frames are told apart by their clip block's sensor description.
        if (vid_kind_is_mono(o.kind))
            o.clip_block = true;
    }
    if (const char* v = args.value("--frame-rate")) {
        char* end = nullptr;
        o.frame_rate = strtod(v, &end);
        if (*v == '\0' || *end != '\0' || !(o.frame_rate > 0) || o.frame_rate > 1e12)
            return vid_cli_usage_error("import", std::string("bad frame rate ") + v +
                                                     " (frames per second, above 0)");
        o.clip_block = true;
    }
    if (const char* v = args.value("--records")) {
        std::string r = v;
        if (r != "classic" && r != "compact")
            return vid_cli_usage_error("import", "records are classic or compact, not " + r);
        o.compact = r == "compact";
    }
    if (const char* v = args.value("--timestamps")) {
        std::string why;
        if (!read_timestamps_csv(v, o.stamps, why)) {
            fprintf(stderr, "vid import: %s\n", why.c_str());
            return 1;
        }
        o.stamps_given = true;
        o.stamps_file = v;
        o.clip_block = true;
    }
    if (const char* v = args.value("--packing")) {
        const std::string p = v;
        const char* name = p == "10p"        ? "Mono10p"
                           : p == "12p"      ? "Mono12p"
                           : p == "10packed" ? "Mono10Packed"
                           : p == "12packed" ? "Mono12Packed"
                                             : nullptr;
        if (name == nullptr)
            return vid_cli_usage_error("import",
                                       "packing is 10p, 12p, 10packed or 12packed, not " + p);
        if (o.kind != VidKind::bayer16 && o.kind != VidKind::mono16)
            return vid_cli_usage_error("import", "--packing needs --kind bayer16 or mono16");
        if (!o.stream)
            return vid_cli_usage_error("import", "--packing reads a stream: give --size WxH");
        vid_pixel_format_find(name, o.packed);
        o.packed.kind = o.kind;
        o.clip_block = true;
    }
    std::string members;
    bool depth_given = false;
    if (const char* v = args.value("--cfa")) {
        members = "\"cfa\": " + vid_cli_json_string(v);
        o.clip_block = true;
    }
    for (const char* v : args.values("--meta")) {
        std::string key, value, why;
        if (!vid_cli_key_value(v, key, value, why))
            return vid_cli_usage_error(
                "import", std::string("bad metadata ") + v +
                              (why == "expected KEY=VALUE" ? " (" + why + ")" : ": " + why));
        members += (members.empty() ? "" : ", ") + vid_cli_json_string(key.c_str()) + ": " + value;
        depth_given = depth_given || key == "bit_depth";
        o.clip_block = true;
    }
    if (o.packed.packing != VidPacking::none && !depth_given)
        members += (members.empty() ? "" : ", ") + std::string("\"bit_depth\": ") +
                   std::to_string(o.packed.bits);
    o.metadata = "{" + members + "}";
    if (o.out.empty())
        return vid_cli_usage_error("import", "no OUT.vid given");
    if (o.inputs.empty())
        return vid_cli_usage_error("import", "no input given (IMAGE... or --size WxH -|RAWFILE)");
    if (o.stream && o.inputs.size() != 1)
        return vid_cli_usage_error("import", "--size takes one stream: - or RAWFILE");
    return -1;
}

// OUT may replace a VID file, never anything else unless --force says so, and never one of
// the inputs. A forgotten OUT (`vid import 00000.ppm 00001.ppm`) is so caught before the
// first image is overwritten. Prints the reason and returns false when OUT is refused.
bool out_is_replaceable(const Options& o)
{
    const char* out = o.out.c_str();
    VidPathKind kind = vid_path_kind(out);
    if (kind == VidPathKind::missing)
        return true;
    if (kind != VidPathKind::regular) {
        fprintf(stderr, "vid import: %s: is %s; OUT must be a VID file to write\n", out,
                vid_path_kind_text(kind));
        return false;
    }
    for (const std::string& input : o.inputs) {
        if (vid_same_path(input.c_str(), out)) {
            fprintf(stderr, "vid import: %s is also an input; give the VID file to write first\n",
                    out);
            return false;
        }
    }
    if (o.force)
        return true;
    VidHeader existing(out, nullptr);
    if (!existing.isOpen()) {
        fprintf(stderr,
                "vid import: %s exists and is not a VID file (was the name of the file to write "
                "forgotten?); --force replaces it\n",
                out);
        return false;
    }
    return true;
}

// The writer of OUT: its file lies under a temporary name in OUT's folder until finish() gives
// it the name (VidRecording::named_at_finish). A stream cannot be read twice: when its file
// cannot be finished or named, the temporary file is kept with everything written so far and
// the message names it.
class Output {
  public:
    Output(const Options& o, int width, int height, long reserve, bool keep_on_failure)
        : out_(o.out), keep_on_failure_(keep_on_failure)
    {
        // Without --frame-rate or --meta the file is what the classic writer makes.
        VidRecording recording;
        recording.kind = o.kind;
        recording.effort = o.effort;
        recording.compact = o.compact;
        recording.clip_block = o.clip_block;
        recording.frame_rate = o.frame_rate;
        recording.metadata = o.metadata.c_str();
        recording.named_at_finish = true;
        recording.host_clock_times = false; // an import invents no times
        stamps_given_ = o.stamps_given;
        stamps_ = o.stamps.size();
        stamps_file_ = o.stamps_file;
        frame_rate_ = o.stamps_given ? 0 : o.frame_rate;
        writer_ = new VidHeader(out_.c_str(), nullptr, width, height,
                                vid_hinted_table_entries(reserve), recording);
        if (!writer_->isOpen()) {
            fprintf(stderr, "vid import: %s: cannot create the file: %s\n", out_.c_str(),
                    reason().c_str());
            delete writer_;
            writer_ = nullptr;
            return;
        }
        temp_ = writer_->videoFileName;
        writer_->growTableWhenFull();
        if (o.stamps_given && !writer_->giveTimestamps(o.stamps.data(), int64_t(o.stamps.size()))) {
            fprintf(stderr, "vid import: %s: out of memory for the timestamps\n", out_.c_str());
            delete writer_;
            writer_ = nullptr;
            remove(temp_.c_str());
        }
    }
    ~Output()
    {
        if (writer_ != nullptr) { // not finished
            if (keep_on_failure_ && writer_->current_frame > 0) {
                finish_kept("the import failed");
            } else {
                delete writer_;
                remove(temp_.c_str());
            }
        }
    }
    bool ok() const { return writer_ != nullptr; }
    unsigned char* pixels() { return writer_->pixmap; }
    long frames() const { return writer_ ? writer_->current_frame : frames_; }

    bool append()
    {
        // With a rate, frame k was taken k / R seconds into the clip.
        const int64_t stamp =
            frame_rate_ > 0 ? int64_t(double(writer_->current_frame) * 1e9 / frame_rate_ + 0.5)
                            : kVidNoTimestamp;
        if (writer_->writeNextFrameToVideoFile(stamp))
            return true;
        fprintf(stderr, "vid import: %s: frame %ld cannot be written: %s\n", out_.c_str(), frames(),
                reason().c_str());
        return false;
    }

    // Finishes the file (one rewrite if the table grew), syncs it and gives it OUT's name.
    bool finish()
    {
        if (stamps_given_ && size_t(writer_->current_frame) != stamps_) {
            fprintf(stderr,
                    "vid import: %s: %s gives %zu timestamps for %d frames; nothing "
                    "written\n",
                    out_.c_str(), stamps_file_.c_str(), stamps_, writer_->current_frame);
            keep_on_failure_ = false;
            return false;
        }
        frames_ = writer_->current_frame;
        const bool finished = writer_->finish();
        const std::string why = finished ? "" : reason();
        const std::string kept = writer_->videoFileName; // the temporary name, when not named
        const int reserved = writer_->num_frames;
        // Finished but not named: the file under the temporary name is complete.
        const bool complete =
            !finished && writer_->lastError().detail.rfind("it is kept, complete", 0) == 0;
        delete writer_;
        writer_ = nullptr;
        if (finished)
            return true;
        if (!keep_on_failure_) {
            fprintf(stderr, "vid import: %s: cannot finish the file: %s\n", out_.c_str(),
                    why.c_str());
            remove(kept.c_str());
        } else if (complete) {
            fprintf(stderr, "vid import: %s: cannot give the finished file its name: %s\n",
                    out_.c_str(), why.c_str());
        } else {
            fprintf(stderr,
                    "vid import: %s: cannot finish the file: %s. The %ld frames written are "
                    "kept in %s: its first %d frames read as they are, and vid repair %s "
                    "FIXED.vid recovers all of them\n",
                    out_.c_str(), why.c_str(), frames_, kept.c_str(),
                    frames_ < reserved ? int(frames_) : reserved, kept.c_str());
        }
        return false;
    }

  private:
    // Why the writer failed, in plain words, without the temporary name (the messages name
    // OUT) and with the system's reason where it refused.
    std::string reason() const
    {
        VidError error = writer_->lastError();
        error.file.clear();
        error.frame = -1;
        return vid_error_message(error);
    }

    // After a failure with frames written from a stream: the file is finished as far as it
    // goes and kept under its temporary name.
    void finish_kept(const char* what)
    {
        frames_ = writer_->current_frame;
        bool finished = writer_->finish();
        std::string why = finished ? "" : reason();
        delete writer_;
        writer_ = nullptr;
        fprintf(
            stderr, "vid import: %s: %s; the %ld frames written before are kept in %s%s%s\n",
            out_.c_str(), what, frames_, temp_.c_str(),
            finished ? "" : " (vid repair recovers them: ", finished ? "" : (why + ")").c_str());
    }

    std::string out_, temp_, stamps_file_;
    bool keep_on_failure_, stamps_given_ = false;
    size_t stamps_ = 0;
    double frame_rate_ = 0;
    long frames_ = 0;
    VidHeader* writer_ = nullptr;
};

int import_images(const Options& o)
{
    const int sample_bytes = vid_kind_sample_bytes(o.kind);
    auto read = [&](const std::string& path, ImageSamples& image, std::string& error) {
        return o.kind == VidKind::rgb ? read_rgb_image(path, image, error)
                                      : read_mosaic_image(path, sample_bytes, image, error);
    };
    ImageSamples first;
    std::string error;
    if (!read(o.inputs[0], first, error)) {
        fprintf(stderr, "vid import: %s\n", error.c_str());
        return 1;
    }
    Output out(o, first.width, first.height, long(o.inputs.size()), false);
    if (!out.ok())
        return 1;
    VidProgress progress("import", long(o.inputs.size()));
    ImageSamples image;
    for (size_t i = 0; i < o.inputs.size(); i++) {
        progress.update(long(i));
        const ImageSamples* frame = &first;
        if (i > 0) {
            if (!read(o.inputs[i], image, error)) {
                fprintf(stderr, "vid import: %s\n", error.c_str());
                return 1;
            }
            if (image.width != first.width || image.height != first.height) {
                fprintf(stderr, "vid import: %s: %d x %d pixels, but %s has %d x %d\n",
                        o.inputs[i].c_str(), image.width, image.height, o.inputs[0].c_str(),
                        first.width, first.height);
                return 1;
            }
            frame = &image;
        }
        memcpy(out.pixels(), frame->rgb.data(), frame->rgb.size());
        if (!out.append())
            return 1;
    }
    progress.done();
    return out.finish() ? 0 : 1;
}

// Before a file of a known count of frames is read: the timestamps given fit it (else said).
// (Output::finish checks a stream's count at its end.)
bool timestamps_fit(const Options& o, int64_t frames)
{
    if (!o.stamps_given || o.stamps.size() == size_t(frames))
        return true;
    fprintf(stderr, "vid import: %s: %s gives %zu timestamps for %lld frames; nothing written\n",
            o.out.c_str(), o.stamps_file.c_str(), o.stamps.size(), (long long)frames);
    return false;
}

// A SER file: its kind, pattern and depth from its header, its times from its trailer, its
// observer, instrument and telescope into the metadata (keys given with --meta win).
int import_ser(const Options& given)
{
    const std::string& path = given.inputs[0];
    FILE* in = nullptr;
    VidSerInfo info;
    VidError error;
    if (!vid_ser_open(path, in, info, error)) {
        fprintf(stderr, "vid import: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    Options o = given;
    o.kind = info.kind;
    o.clip_block = true;
    // --meta keys win: the file's go in only where --meta gave none.
    std::string why;
    std::string metadata = given.metadata.empty() ? "{}" : given.metadata;
    auto put = [&](const char* key, const std::string& value) {
        vid_json_with_key(metadata, key, value, false, why);
    };
    if (info.kind != VidKind::rgb) {
        put("cfa", std::string("\"") + vid_cfa_name(info.cfa) + "\"");
        put("bit_depth", std::to_string(info.depth));
    }
    if (!info.observer.empty())
        put("observer", vid_cli_json_string(info.observer.c_str()));
    if (!info.instrument.empty())
        put("instrument", vid_cli_json_string(info.instrument.c_str()));
    if (!info.telescope.empty())
        put("telescope", vid_cli_json_string(info.telescope.c_str()));
    o.metadata = metadata;
    if (!info.timestamps_ns.empty() && !given.stamps_given) {
        o.stamps = info.timestamps_ns;
        o.stamps_given = true;
        o.stamps_file = path + "'s trailer";
    }
    if (!timestamps_fit(o, info.frames)) {
        fclose(in);
        return 1;
    }
    int status = 0;
    {
        Output out(o, info.width, info.height, long(info.frames), false);
        if (!out.ok()) {
            fclose(in);
            return 1;
        }
        VidProgress progress("import", long(info.frames));
        for (int64_t k = 0; k < info.frames && status == 0; k++) {
            progress.update(long(k));
            if (!vid_ser_read_frame(in, info, k, out.pixels(), error, path)) {
                fprintf(stderr, "vid import: %s\n", vid_error_message(error).c_str());
                status = 1;
            } else if (!out.append()) {
                status = 1;
            }
        }
        progress.done();
        if (status == 0 && !out.finish())
            status = 1;
    }
    fclose(in);
    return status;
}

#if VID_HAVE_TIFF
// A multi-page TIFF: 8- or 16-bit gray as mono8/mono16 (or the --kind bayer8/bayer16 of the
// same width), 8-bit RGB as rgb; an ImageJ stack's frame interval as the frame rate.
int import_tiff(const Options& given)
{
    TiffReader tiff;
    std::string error;
    if (!tiff.open(given.inputs[0], error)) {
        fprintf(stderr, "vid import: %s\n", error.c_str());
        return 1;
    }
    Options o = given;
    const bool asked = given.kind != VidKind::rgb;
    if (tiff.channels == 3) {
        if (asked) {
            fprintf(stderr, "vid import: %s holds RGB pages; --kind %s takes gray ones\n",
                    given.inputs[0].c_str(), vid_kind_name(given.kind));
            return 1;
        }
        o.kind = VidKind::rgb;
    } else {
        o.kind = tiff.bits == 16 ? VidKind::mono16 : VidKind::mono8;
        if (asked) {
            if (vid_kind_sample_bytes(given.kind) != tiff.bits / 8) {
                fprintf(stderr, "vid import: %s holds %d-bit pages; --kind %s takes %d-bit ones\n",
                        given.inputs[0].c_str(), tiff.bits, vid_kind_name(given.kind),
                        8 * vid_kind_sample_bytes(given.kind));
                return 1;
            }
            o.kind = given.kind;
        }
        o.clip_block = true;
    }
    if (o.frame_rate <= 0 && tiff.frame_interval > 0) {
        o.frame_rate = 1 / tiff.frame_interval;
        o.clip_block = true;
    }
    if (!timestamps_fit(o, tiff.pages))
        return 1;
    Output out(o, tiff.width, tiff.height, long(tiff.pages), false);
    if (!out.ok())
        return 1;
    VidProgress progress("import", long(tiff.pages));
    for (int64_t k = 0; k < tiff.pages; k++) {
        progress.update(long(k));
        if (!tiff.read(out.pixels(), error)) {
            fprintf(stderr, "vid import: %s\n", error.c_str());
            return 1;
        }
        if (!out.append())
            return 1;
    }
    progress.done();
    return out.finish() ? 0 : 1;
}
#endif

int import_stream(const Options& o)
{
    const std::string& name = o.inputs[0];
    const bool from_stdin = name == "-";
    if (from_stdin)
        vid_binary_stream(stdin);
    FILE* in = from_stdin ? stdin : fopen(name.c_str(), "rb");
    if (in == nullptr) {
        fprintf(stderr, "vid import: %s: %s\n", name.c_str(), strerror(errno));
        return 1;
    }
    const bool packed = o.packed.packing != VidPacking::none;
    const size_t frame_bytes =
        packed ? size_t(o.height) * vid_pixel_format_row_bytes(o.packed, o.width)
               : stored_frame_bytes(o, o.width, o.height);
    std::vector<unsigned char> packed_frame(packed ? frame_bytes : 0);
    long expected = o.frames;
    struct stat st;
    if (expected < 0 && !from_stdin && fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode))
        expected = long(st.st_size / off_t(frame_bytes));
    const char* label = from_stdin ? "standard input" : name.c_str();
    int status = 0;
    {
        Output out(o, o.width, o.height, expected > 0 ? expected : 1024, true);
        if (!out.ok()) {
            if (!from_stdin)
                fclose(in);
            return 1;
        }
        VidProgress progress("import", expected > 0 ? expected : 0);
        size_t got = 0;
        for (;;) {
            got = fread(packed ? packed_frame.data() : out.pixels(), 1, frame_bytes, in);
            if (got < frame_bytes)
                break;
            if (packed)
                vid_pixel_format_convert(o.packed, o.width, o.height, packed_frame.data(),
                                         vid_pixel_format_row_bytes(o.packed, o.width),
                                         out.pixels());
            if (!out.append()) {
                status = 1;
                break;
            }
            progress.update(out.frames());
        }
        progress.done();
        bool read_error = ferror(in) != 0;
        int read_errno = errno;
        if (status == 0 && read_error) {
            fprintf(stderr, "vid import: %s: %s\n", label, strerror(read_errno));
            status = 1;
        } else if (status == 0 && got > 0 && out.frames() == 0) {
            fprintf(stderr,
                    "vid import: %s: the stream ends %zu bytes into its first frame (a "
                    "frame is %zu bytes); nothing written\n",
                    label, got, frame_bytes);
            status = 1;
        } else if (status == 0 && got > 0) {
            // A short last frame: keep every whole frame, say so, and fail.
            long kept = out.frames();
            if (out.finish())
                fprintf(stderr,
                        "vid import: %s: the stream ends %zu bytes into frame %ld (a frame is "
                        "%zu bytes); %s keeps the %ld whole frames before it\n",
                        label, got, kept, frame_bytes, o.out.c_str(), kept);
            status = 1;
        } else if (status == 0 && out.frames() == 0) {
            fprintf(stderr, "vid import: %s: no frames in the stream\n", label);
            status = 1;
        } else if (status == 0 && !out.finish()) {
            status = 1;
        }
    }
    if (!from_stdin)
        fclose(in);
    return status;
}

} // namespace

int vid_import_main(int argc, char** argv)
{
    Options o;
    int status = parse(argc, argv, o);
    if (status >= 0)
        return status;
    if (!out_is_replaceable(o))
        return 1;
    if (!o.stream && o.inputs.size() == 1) {
        unsigned char head[14] = {0};
        FILE* f = fopen(o.inputs[0].c_str(), "rb");
        const size_t n = f != nullptr ? fread(head, 1, sizeof head, f) : 0;
        if (f != nullptr)
            fclose(f);
        if (vid_is_ser(head, n))
            return import_ser(o);
        if (tiff_is(head, n)) {
#if VID_HAVE_TIFF
            return import_tiff(o);
#else
            fprintf(stderr,
                    "vid import: %s: this build reads no TIFF (libtiff is not part of it)\n",
                    o.inputs[0].c_str());
            return 1;
#endif
        }
    }
    return o.stream ? import_stream(o) : import_images(o);
}
