// vid export: frames of a VID file as PNG or PPM images, or as one raw stream for encoders.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "VidHeader.h"
#include "vid_files.h"
#include "image_io.h"
#include "vid_clip.h"
#include "vid_movie.h"
#include "vid_output_file.h"
#include "vid_kind.h"
#include "vid_read.h"
#include "vid_cli.h"
#include "vid_ser.h"
#if VID_HAVE_TIFF
#include "tiff_io.h"
#endif
#include "vid_sensor.h"
#include "vid_commands.h"
#include "vid_records.h"

const VidSubcommand vid_export_command = {
    "export",
    "FILE",
    "Writes frames A to B-1 (0-based, default all; A: or :B leave one end open) of FILE.\n"
    "  png, ppm  one image per frame, NNNNN.png / NNNNN.ppm (the frame number), into DIR\n"
    "            (default: FILE's name without .vid, in the current folder; created)\n"
    "  raw       the frames back to back, rgb24, rows from the top, into FILE or onto\n"
    "            standard output with -o - (for a video encoder on a pipe)\n"
    "  mp4       a movie for talks (-o OUT.mp4, default FILE's name with .mp4): H.264 in\n"
    "            yuv420p through the ffmpeg on the PATH, odd sizes padded by a pixel, at the\n"
    "            clip's frame rate (30 when it has none) or --fps; Bayer files demosaiced\n"
    "PNG images are written at zlib level 1.\n",
    {
        {"--frames", nullptr, "A:B", "frames A to B-1 (A, A: or :B as well)"},
        {"--format", nullptr, "png|ppm|raw|mp4|ser|tiff",
         "images (default png), one raw stream, a movie, a SER file (samples as stored, the "
         "pattern as its colour id, the times in its trailer) or one multi-page TIFF (samples as "
         "stored, 16-bit for two-byte kinds, ImageJ's stack description with the frame "
         "interval; BigTIFF above 4 GB)"},
        {"--bigtiff", nullptr, nullptr, "tiff: BigTIFF even below 4 GB"},
        {"--fps", nullptr, "R", "mp4: frames per second (default: the clip's rate, else 30)"},
        {"--quality", nullptr, "Q",
         "mp4: x264's constant rate factor, 0 (lossless) to 51 (worst); default 18"},
        {"--mosaic", nullptr, nullptr,
         "Bayer files only: the samples as stored, without demosaic and gains: 16-bit gray "
         "PNG/PGM for two-byte samples, 8-bit for one-byte ones; with raw, the samples as "
         "stored (two-byte samples little-endian)"},
        {"--depth", nullptr, "8|16",
         "pictures of 8 bits (default) or 16 bits linear (PNG, PPM/PGM, raw little-endian)"},
        {"--srgb", nullptr, nullptr,
         "8-bit pictures of a clip that describes its sensor on the sRGB curve (else linear)"},
        {"--output", "-o", "DIR|FILE|-", "where the images or the stream go"},
        {"--timestamps", nullptr, "FILE.csv",
         "the frames' timestamps as CSV (frame, timestamp_ns, seconds from the first frame "
         "exported); alone it writes only the CSV, with --format or -o the frames too"},
    },
    "Exit status: 0 when every frame was written, 1 otherwise, 2 usage error.\n",
    1,
    "no FILE given"};

namespace {

// Frames [first, last)'s timestamps as CSV into `path` (written whole or not at all).
bool write_timestamps(VidHeader& reader, const char* file, const char* path, long first, long last)
{
    const VidClip clip = vid_read_clip(reader);
    if (!clip.present) {
        fprintf(stderr, "vid export: %s: %s\n", file,
                clip.damaged ? ("its clip block is damaged (" + clip.problem + ")").c_str()
                             : "the file keeps no timestamps");
        return false;
    }
    std::vector<int64_t> stamps;
    if (!vid_read_timestamps(reader, clip, stamps)) {
        fprintf(stderr, "vid export: %s: its timestamps cannot be read: %s\n", file,
                strerror(errno));
        return false;
    }
    VidOutputFile out;
    std::string error;
    if (!out.open(path, error)) {
        fprintf(stderr, "vid export: %s\n", error.c_str());
        return false;
    }
    FILE* f = out.stream();
    bool ok = fprintf(f, "frame,timestamp_ns,seconds\n") > 0;
    const int64_t origin = stamps[size_t(first)];
    for (long k = first; ok && k < last; k++) {
        const int64_t t = stamps[size_t(k)];
        if (t == kVidNoTimestamp || origin == kVidNoTimestamp)
            ok = fprintf(f, "%ld,,\n", k) > 0;
        else
            ok = fprintf(f, "%ld,%" PRId64 ",%.9f\n", k, t, vid_cli_seconds_between(origin, t)) > 0;
    }
    if (!ok || !out.commit(error)) {
        fprintf(stderr, "vid export: %s: %s\n", path,
                error.empty() ? strerror(errno) : error.c_str());
        return false;
    }
    return true;
}

enum class Format { png, ppm, raw, mp4, ser, tiff };

// The frame rates a movie is made at (ffmpeg and players take no others).
constexpr double kMovieMinRate = 0.01;
constexpr double kMovieMaxRate = 1000;

struct Options {
    const char* file = nullptr;
    Format format = Format::png;
    bool mosaic = false;
    std::string out;
    bool out_given = false;
    long first = 0;
    long last = -1; // exclusive; -1: to the end
    const char* timestamps = nullptr;
    bool frames_too = true;
    double fps = 0; // mp4: 0 takes the clip's rate
    int quality = 18;
    int depth = 8;     // pictures of 8 or 16 bits (16: linear)
    bool srgb = false; // 8-bit pictures on the sRGB curve
    bool bigtiff = false;
};

// The default folder: the file's name without its folder and without ".vid".
std::string default_folder(const char* file)
{
    std::string name = file;
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".vid") == 0)
        name.resize(name.size() - 4);
    else
        name += "-frames";
    return name;
}

int parse(int argc, char** argv, Options& o)
{
    VidArgs args;
    int status = vid_cli_parse(vid_export_command, argc, argv, args);
    if (status >= 0)
        return status;
    if (args.operands.size() > 1)
        return vid_cli_usage_error("export", "more than one FILE given");
    o.file = args.operands[0];
    if (const char* v = args.value("--frames"))
        if (!vid_cli_parse_range(v, o.first, o.last))
            return vid_cli_usage_error("export", std::string("bad frame range ") + v);
    if (const char* v = args.value("--format")) {
        std::string f = v;
        if (f == "png")
            o.format = Format::png;
        else if (f == "ppm")
            o.format = Format::ppm;
        else if (f == "raw")
            o.format = Format::raw;
        else if (f == "mp4")
            o.format = Format::mp4;
        else if (f == "ser")
            o.format = Format::ser;
        else if (f == "tiff" || f == "tif")
            o.format = Format::tiff;
        else
            return vid_cli_usage_error("export", "unknown format " + f);
    }
    o.mosaic = args.has("--mosaic");
    if (const char* v = args.value("--output")) {
        o.out = v;
        o.out_given = true;
    }
    if (const char* v = args.value("--fps")) {
        char* end = nullptr;
        o.fps = strtod(v, &end);
        if (*v == '\0' || *end != '\0' || !(o.fps >= kMovieMinRate) || o.fps > kMovieMaxRate)
            return vid_cli_usage_error("export", std::string("bad frame rate ") + v +
                                                     " (a movie plays 0.01 to 1000 frames/s)");
    }
    if (const char* v = args.value("--quality")) {
        char* end = nullptr;
        o.quality = int(strtol(v, &end, 10));
        if (*v == '\0' || *end != '\0' || o.quality < 0 || o.quality > 51)
            return vid_cli_usage_error("export",
                                       std::string("quality ") + v + " is not one of 0 to 51");
    }
    if (o.format == Format::mp4 && o.mosaic)
        return vid_cli_usage_error("export", "--mosaic makes no movie (mp4 takes RGB frames)");
    if (const char* v = args.value("--depth")) {
        const std::string d = v;
        if (d != "8" && d != "16")
            return vid_cli_usage_error("export", "depth " + d + " is not 8 or 16");
        o.depth = d == "16" ? 16 : 8;
    }
    o.srgb = args.has("--srgb");
    o.bigtiff = args.has("--bigtiff");
    if (o.depth == 16 && (o.format == Format::mp4 || o.mosaic || o.srgb))
        return vid_cli_usage_error("export", "--depth 16 gives linear PNG, PPM or raw pictures");
    if (o.format == Format::mp4 && o.out == "-")
        return vid_cli_usage_error("export", "mp4 needs a file (-o OUT.mp4), not -");
    o.timestamps = args.value("--timestamps");
    o.frames_too = o.timestamps == nullptr || args.has("--format") || o.out_given;
    if (o.format != Format::raw && o.out == "-")
        return vid_cli_usage_error("export", "-o - (standard output) takes --format raw only");
    if (o.format == Format::raw && !o.out_given)
        return vid_cli_usage_error("export", "--format raw needs -o FILE or -o -");
    if (o.format == Format::ser && (!o.out_given || o.out == "-" || o.depth == 16 || o.srgb))
        return vid_cli_usage_error("export",
                                   "--format ser needs -o OUT.ser (its samples as stored)");
    return -1; // go on
}

bool make_folder(const std::string& dir)
{
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        fprintf(stderr, "vid export: %s: exists and is not a folder\n", dir.c_str());
        return false;
    }
    if (vid_make_directory(dir.c_str()) != 0) {
        fprintf(stderr, "vid export: %s: cannot create the folder: %s\n", dir.c_str(),
                strerror(errno));
        return false;
    }
    return true;
}

} // namespace

// Starts ffmpeg for the movie: at --fps, else the clip's rate (within what a movie plays),
// else 30 frames/s (said). False with the reason on standard error.
bool start_movie(const Options& o, VidHeader& reader, MovieEncoder& movie)
{
    const VidClip clip = vid_read_clip(reader);
    double fps = o.fps;
    if (fps <= 0 && clip.present && clip.frame_rate > 0) {
        fps = clip.frame_rate;
        if (fps < kMovieMinRate || fps > kMovieMaxRate) {
            fprintf(stderr,
                    "vid export: %s: its frame rate of %g frames/s is outside what a movie "
                    "plays (0.01 to 1000 frames/s); give one with --fps\n",
                    o.file, fps);
            return false;
        }
    }
    if (fps <= 0) {
        fps = 30;
        printf("%s: the clip keeps no frame rate: the movie runs at 30 frames/s (--fps "
               "sets one)\n",
               o.file);
    }
    const std::string out = o.out_given ? o.out : default_folder(o.file) + ".mp4";
    std::string error;
    const int w = reader.width, h = reader.height;
    if (!movie.start(out, w + w % 2, h + h % 2, fps, o.quality, error)) {
        fprintf(stderr, "vid export: %s\n", error.c_str());
        return false;
    }
    return true;
}

// An RGB frame of odd width or height grown by one pixel, a copy of the last column or row:
// a black edge would bleed into the colours of its neighbours through yuv420p's shared
// chroma. Returns the grown frame, in `padded`.
const unsigned char* grown_to_even(const unsigned char* data, int w, int h,
                                   std::vector<unsigned char>& padded)
{
    padded.resize(size_t(w + w % 2) * size_t(h + h % 2) * 3);
    const size_t in_row = size_t(w) * 3, out_row = size_t(w + w % 2) * 3;
    for (int y = 0; y < h + h % 2; y++) {
        const unsigned char* src = data + size_t(y < h ? y : h - 1) * in_row;
        unsigned char* dst = &padded[size_t(y) * out_row];
        memcpy(dst, src, in_row);
        if (w % 2)
            memcpy(dst + in_row, src + in_row - 3, 3);
    }
    return padded.data();
}

// Why frame k could not be written to the stream (ffmpeg's own words come with its end).
void say_write_failure(const Options& o, int why, long k, long first)
{
    if (o.format == Format::mp4)
        return;
    if (why == EPIPE && o.out == "-" && k > first)
        fprintf(stderr, "vid export: the reader of standard output stopped after frame %ld\n",
                k - 1);
    else if (why == EPIPE && o.out == "-")
        fprintf(stderr, "vid export: the reader of standard output stopped before frame %ld\n", k);
    else
        fprintf(stderr, "vid export: %s: cannot write: %s\n",
                o.out == "-" ? "standard output" : o.out.c_str(), strerror(why));
}

// Where the frames go: ffmpeg's input, a raw stream (a file whole or not at all, a device or
// a pipe directly, standard output), or a folder of images.
struct Sink {
    FILE* raw = nullptr;
    VidOutputFile raw_file;
    std::string folder;
    MovieEncoder movie;
};

bool open_sink(const Options& o, VidHeader& reader, Sink& sink)
{
    if (o.format == Format::mp4) {
        if (!start_movie(o, reader, sink.movie))
            return false;
        sink.raw = sink.movie.input();
    } else if (o.format == Format::raw) {
        if (o.out == "-") {
            sink.raw = stdout;
            vid_binary_stream(stdout);
        } else {
            std::string error;
            if (!sink.raw_file.open(o.out, error)) {
                fprintf(stderr, "vid export: %s\n", error.c_str());
                return false;
            }
            sink.raw = sink.raw_file.stream();
        }
    } else {
        sink.folder = o.out_given ? o.out : default_folder(o.file);
        if (!make_folder(sink.folder))
            return false;
    }
    return true;
}

// Completes the movie or the stream (a failed one is given up). False with the reason said.
bool close_sink(const Options& o, Sink& sink, bool raw_ok, long failed, long first, long last)
{
    if (o.format == Format::mp4) {
        std::string error;
        if (!sink.movie.finish(raw_ok, error)) {
            fprintf(stderr, "vid export: %s\n", error.c_str());
            return false;
        }
        if (raw_ok && failed == 0)
            printf("%s: %ld frames\n", sink.movie.name().c_str(), last - first);
    } else if (sink.raw != nullptr && sink.raw != stdout) {
        std::string error;
        if (!raw_ok) {
            sink.raw_file.abandon();
        } else if (!sink.raw_file.commit(error)) {
            fprintf(stderr, "vid export: %s\n", error.c_str());
            return false;
        }
    } else if (sink.raw == stdout && fflush(stdout) != 0) {
        if (errno == EPIPE)
            fprintf(stderr, "vid export: the reader of standard output stopped after frame %ld\n",
                    last - 1);
        else
            fprintf(stderr, "vid export: standard output: %s\n", strerror(errno));
        return false;
    }
    return true;
}

// Frames [first, last) as stored (a Bayer or mono file's samples, an RGB file's frames), each
// handed to put(k, bytes), with progress; false once a frame cannot be read (said) or put
// refuses it (put says why).
template <class Put> bool each_stored_frame(VidHeader& reader, long first, long last, Put put)
{
    const bool samples = reader.vid_is_bayer_interpolated == 1;
    VidProgress progress("export", last - first);
    for (long k = first; k < last; k++) {
        progress.update(k - first);
        if (!(samples ? reader.readSamplesFromVideoFile(int(k))
                      : reader.readFrameFromVideoFile(int(k)))) {
            fprintf(stderr, "vid export: %s\n", vid_cli_error(reader).c_str());
            return false;
        }
        if (!put(k, samples ? reader.uncompressed_buffer : reader.pixmap))
            return false;
    }
    progress.done();
    return true;
}

// Frames [first, last) as a SER file: mosaics and mono samples as stored with their pattern as
// the colour id and their bit depth, RGB frames as RGB, each frame's time in the trailer.
int export_ser(const Options& o, VidHeader& reader, long first, long last)
{
    const bool bayer = reader.vid_is_bayer_interpolated == 1;
    const bool two = bayer && reader.vid_uses_two_bytes_per_pixel == 1;
    const VidClip clip = vid_read_clip(reader);
    VidKind kind = vid_kind_of(bayer, two);
    VidSensor sensor = vid_sensor_default(kind, reader.width);
    std::string why;
    if (clip.present && bayer) {
        if (vid_sensor_says_mono(clip.metadata))
            kind = two ? VidKind::mono16 : VidKind::mono8;
        if (!vid_sensor_parse(clip.metadata, kind, reader.width, sensor, why))
            sensor = vid_sensor_default(kind, reader.width);
    }
    std::vector<int64_t> stamps;
    if (clip.present && !vid_read_timestamps(reader, clip, stamps))
        stamps.clear();
    int64_t start = 0;
    for (long k = first; k < last && size_t(k) < stamps.size() && start == 0; k++)
        if (stamps[size_t(k)] != kVidNoTimestamp && stamps[size_t(k)] > 0)
            start = stamps[size_t(k)];
    VidSerWriter ser;
    VidError error;
    if (!ser.open(o.out, reader.width, reader.height, kind, sensor.cfa,
                  bayer ? sensor.bit_depth : 8, last - first, start, error)) {
        fprintf(stderr, "vid export: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    const bool written =
        each_stored_frame(reader, first, last, [&](long k, const unsigned char* f) {
            const int64_t t = size_t(k) < stamps.size() ? stamps[size_t(k)] : kVidNoTimestamp;
            if (ser.write(f, t, error))
                return true;
            fprintf(stderr, "vid export: %s\n", vid_error_message(error).c_str());
            return false;
        });
    if (!written)
        return 1;
    if (!ser.finish(error)) {
        fprintf(stderr, "vid export: %s\n", vid_error_message(error).c_str());
        return 1;
    }
    printf("%s: %ld frames\n", o.out.c_str(), last - first);
    return 0;
}

#if VID_HAVE_TIFF
// Frames [first, last) as one multi-page TIFF: mosaics and mono samples as stored (16-bit for
// two-byte kinds), RGB frames as RGB; ImageJ's description with the frame interval.
int export_tiff(const Options& o, VidHeader& reader, long first, long last)
{
    const bool bayer = reader.vid_is_bayer_interpolated == 1;
    const bool two = bayer && reader.vid_uses_two_bytes_per_pixel == 1;
    const VidClip clip = vid_read_clip(reader);
    TiffWriter tiff;
    std::string error;
    if (!tiff.open(o.out, reader.width, reader.height, bayer ? 1 : 3, two ? 16 : 8, last - first,
                   clip.present && clip.frame_rate > 0 ? 1 / clip.frame_rate : 0, error,
                   o.bigtiff)) {
        fprintf(stderr, "vid export: %s\n", error.c_str());
        return 1;
    }
    const bool written = each_stored_frame(reader, first, last, [&](long, const unsigned char* f) {
        if (tiff.write(f, error))
            return true;
        fprintf(stderr, "vid export: %s\n", error.c_str());
        return false;
    });
    if (!written)
        return 1;
    if (!tiff.finish(error)) {
        fprintf(stderr, "vid export: %s\n", error.c_str());
        return 1;
    }
    printf("%s: %ld frames\n", o.out.c_str(), last - first);
    return 0;
}
#endif

// Frame k as an image in `folder` (PNG, PPM, or PGM for mosaics). False with the reason said
// and errno set.
bool write_image(const Options& o, const std::string& folder, long k, int w, int h, bool two_bytes,
                 const unsigned char* data, const uint16_t* samples, int channels)
{
    char name[32];
    snprintf(name, sizeof name, "/%05ld.%s", k, o.format == Format::png ? "png" : "ppm");
    std::string path = folder + name;
    if (o.mosaic)
        path.replace(path.size() - 3, 3, o.format == Format::png ? "png" : "pgm");
    if (channels == 1)
        path.replace(path.size() - 3, 3, o.format == Format::png ? "png" : "pgm");
    const int depth = o.mosaic ? (two_bytes ? 16 : 8) : o.depth;
    std::string error;
    const bool ok = o.format == Format::png
                        ? write_png(path, w, h, channels, depth, data, samples, error)
                        : write_pnm(path, w, h, channels, depth, data, samples, error);
    if (!ok) {
        const int why = errno;
        fprintf(stderr, "vid export: %s\n", error.c_str());
        errno = why;
    }
    return ok;
}

int vid_export_main(int argc, char** argv)
{
    // A reader of standard output (or ffmpeg) that stops early is a failure to report, not a
    // signal that ends the program mid-sentence.
    vid_ignore_broken_pipes();
    Options o;
    int status = parse(argc, argv, o);
    if (status >= 0)
        return status;

    VidHeader reader(o.file, nullptr);
    if (!reader.isOpen()) {
        fprintf(stderr, "vid export: %s\n", vid_cli_error(reader).c_str());
        return 1;
    }
    const bool bayer = reader.vid_is_bayer_interpolated == 1;
    if (o.mosaic && !bayer) {
        fprintf(stderr, "vid export: %s: --mosaic needs a Bayer file; this one holds RGB frames\n",
                o.file);
        return 1;
    }
    long frames = reader.num_frames;
    long last = o.last < 0 || o.last > frames ? frames : o.last;
    long first = o.first;
    if (first >= last) {
        fprintf(stderr, "vid export: %s: no frames in %ld:%ld (the file has %ld)\n", o.file,
                o.first, o.last < 0 ? frames : o.last, frames);
        return 1;
    }

    // The frames are exported even when their timestamps cannot be: the exit status tells.
    const bool stamps_ok =
        o.timestamps == nullptr || write_timestamps(reader, o.file, o.timestamps, first, last);
    if (!o.frames_too)
        return stamps_ok ? 0 : 1;
    if (o.format == Format::ser)
        return export_ser(o, reader, first, last) == 0 && stamps_ok ? 0 : 1;
    if (o.format == Format::tiff) {
#if VID_HAVE_TIFF
        return export_tiff(o, reader, first, last) == 0 && stamps_ok ? 0 : 1;
#else
        fprintf(stderr, "vid export: this build writes no TIFF (libtiff is not part of it)\n");
        return 1;
#endif
    }

    const int w = reader.width, h = reader.height;
    const bool two_bytes = reader.vid_uses_two_bytes_per_pixel == 1;
    Sink sink;
    if (!open_sink(o, reader, sink))
        return 1;
    FILE* raw = sink.raw;

    // Mosaics are read into a buffer of their own: zero-length records (black frames) give
    // zeros there, whether or not the reader has an expansion buffer.
    std::vector<uint16_t> samples;
    std::vector<unsigned char> stored;
    if (o.mosaic && two_bytes)
        samples.resize(size_t(w) * size_t(h));
    if (o.mosaic)
        stored.resize(size_t(reader.uncompressed_buffer_size));
    std::vector<unsigned char> rgb; // RGB frames come through the core's read path
    if (!o.mosaic)
        rgb.resize(size_t(reader.pixmap_size));
    // A clip that describes its sensor is pictured by the description; a mono clip as gray
    // images, 16-bit and sRGB pictures one frame at a time.
    VidPicture picture = vid_picture(reader);
    picture.srgb = o.srgb;
    const bool mono = vid_kind_is_mono(picture.kind);
    const int channels = o.mosaic || mono ? 1 : 3;
    const bool one_by_one = !o.mosaic && (o.depth == 16 || mono || o.srgb);
    std::vector<uint16_t> picture16(one_by_one && o.depth == 16 ? size_t(w) * size_t(h) * 3 : 0);
    if (one_by_one && mono && o.format == Format::mp4)
        rgb.resize(size_t(reader.pixmap_size)); // a movie takes RGB: the gray spread
    std::vector<unsigned char> padded;          // mp4 frames of odd sizes, grown by a pixel
    VidProgress progress("export", last - first);
    long failed = 0;
    bool raw_ok = true;
    for (long k = first; k < last && raw_ok; k++) {
        progress.update(k - first);
        VidError failure;
        bool read = true;
        const unsigned char* data = o.mosaic ? stored.data() : rgb.data();
        if (o.mosaic) {
            read = vid_read_mosaic(reader, int(k), stored.data(), o.format == Format::raw, failure);
            if (read && two_bytes && o.format != Format::raw)
                memcpy(samples.data(), stored.data(), stored.size());
        } else if (one_by_one && o.depth == 16) {
            read = vid_read_picture(reader, int(k), picture, picture16.data(), channels, true,
                                    failure);
            data = reinterpret_cast<const unsigned char*>(picture16.data());
        } else if (one_by_one && o.format != Format::mp4) {
            read = vid_read_picture(reader, int(k), picture, rgb.data(), channels, false, failure);
        } else {
            read = vid_read_picture(reader, int(k), picture, rgb.data(), 3, false, failure);
        }
        if (!read) {
            fprintf(stderr, "vid export: %s\n", vid_error_message(failure).c_str());
            failed++;
            if (o.format == Format::raw) {
                raw_ok = false; // a gap would shift every later frame of the stream
            }
            continue;
        }
        size_t bytes = o.mosaic ? stored.size() : size_t(reader.pixmap_size);
        if (one_by_one && o.format != Format::mp4)
            bytes = size_t(w) * size_t(h) * size_t(channels) * (o.depth == 16 ? 2 : 1);
        if (one_by_one && o.depth == 16 && o.format == Format::raw)
            vid_store_samples16(picture16.data(), bytes / 2); // little-endian, as stored samples
        if (o.format == Format::mp4 && (w % 2 || h % 2)) {
            data = grown_to_even(data, w, h, padded);
            bytes = padded.size();
        }
        if (o.format == Format::raw || o.format == Format::mp4) {
            if (fwrite(data, 1, bytes, raw) != bytes) {
                say_write_failure(o, errno, k, first);
                raw_ok = false;
                failed += last - k; // this frame and every later one are missing
            }
            continue;
        }
        const uint16_t* deep = o.mosaic ? samples.data() : picture16.data();
        if (!write_image(o, sink.folder, k, w, h, two_bytes, data, deep, channels)) {
            failed++;
            if (errno == ENOSPC || errno == EACCES || errno == EROFS) {
                failed += last - k - 1; // every further image would fail the same way
                break;
            }
        }
    }
    progress.done();

    if (!close_sink(o, sink, raw_ok, failed, first, last))
        return 1;
    if (failed > 0 || !raw_ok) {
        fprintf(stderr, "vid export: %s: %ld of %ld frames could not be exported\n", o.file, failed,
                last - first);
        return 1;
    }
    return stamps_ok ? 0 : 1;
}
