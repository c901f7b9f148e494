// _vid: the compiled part of the Python package `vid`, over the core's VidHeader.
//
// A Reader or Writer owns one VidHeader and a mutex: one object may be used from several
// threads (calls are serialised), and the GIL is released while frames are expanded,
// demosaiced or compressed, so threads working on different files run in parallel. Nothing
// is printed: the container's reports go to a scratch stream and come back as exceptions
// (the classes that vid/__init__.py registers through _set_errors), and the codec's reports
// are captured per thread.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>
#include <atomic>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "report.h"
#include "vid_clip.h"
#include "vid_follow.h"
#include "vid_format.h"
#include "vid_crop.h"
#include "vid_kind.h"
#include "vid_meta.h"
#include "vid_read.h"
#include "vid_records.h"
#include "vid_result.h"
#include "vid_version.h"
#ifdef VID_HAVE_ARAVIS
#include "vid_camera.h"
#include "vid_json.h"
#endif

namespace py = pybind11;

namespace {

py::object g_make_error; // vid/__init__.py's _error(result, errno, message): the exception
                         // its table gives for the result code (and the errno)

// Raises the exception for a failure of kind `result`, the system's errno where it gave one.
[[noreturn]] void raise_result(VidResult result, int error_number, const std::string& message)
{
    if (!g_make_error)
        throw std::runtime_error(message);
    // Messages hold file names, which are bytes: decoded as os.fsdecode does, never refused.
    py::object text = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeFSDefaultAndSize(message.data(), py::ssize_t(message.size())));
    if (!text)
        throw py::error_already_set();
    py::object instance = g_make_error(int(result), error_number, text);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance.ptr())), instance.ptr());
    throw py::error_already_set();
}

// A refusal of the binding's own: the system's errno where there is one, else an argument.
[[noreturn]] void raise(int error_number, const std::string& message)
{
    raise_result(error_number != 0 ? vid_result_of_errno(error_number, VidResult::read_failed)
                                   : VidResult::bad_argument,
                 error_number, message);
}

// Paths come as bytes (os.fsencode): refused, as Python's open() refuses them, when they hold
// a NUL (the C library would stop at it and reach another file) or do not fit the name field.
void check_path(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        raise(0, "embedded null byte in the path");
    if (path.empty())
        raise(ENOENT, "an empty path names no file");
    if (path.size() >= sizeof(VidHeader::videoFileName))
        raise(ENAMETOOLONG, "the path is " + std::to_string(path.size()) + " bytes long; " +
                                std::to_string(sizeof(VidHeader::videoFileName) - 1) +
                                " is the longest a VID file's name may be");
}

// A failure of the core as the exception its kind calls for: an OSError with errno where the
// system refused, IndexError for a frame outside the clip, else ValueError; the message names
// the file, the frame (0-based, as Python counts) and the reason.
[[noreturn]] void raise_error(const VidError& error, const std::string& before = "")
{
    raise_result(error.result, error.error_number, before + vid_error_message(error, 0));
}

const char kClosed[] = "the clip is closed";

class Reader {
  public:
    explicit Reader(const std::string& path)
    {
        check_path(path);
        vid_.reset(new VidHeader(path.c_str(), nullptr));
        if (!vid_->isOpen()) {
            const VidError error = vid_->lastError();
            vid_.reset();
            raise_error(error);
        }
        frames_ = vid_->num_frames;
        width_ = vid_->width;
        height_ = vid_->height;
        frame_bytes_ = size_t(vid_->pixmap_size);
        picture_ = vid_picture(*vid_);
        const char* kind = vid_kind_name(picture_.kind);
        kind_ = kind != nullptr ? kind : "";
    }

    int frames() const { return open_or_raise(), frames_; }
    int width() const { return open_or_raise(), width_; }
    int height() const { return open_or_raise(), height_; }
    bool closed() const { return closed_; }
    // "" for a file without frames and nothing behind its table: no kind is claimed.
    py::object kind() const
    {
        open_or_raise();
        return kind_.empty() ? py::object(py::none()) : py::object(py::str(kind_));
    }

    // Frames [first, first + count) into a (count, h, w, 3) uint8 array, each row copied
    // once as it is final. workers 0 leaves the frame-parallel policy to the core.
    py::array_t<uint8_t> read(int first, int count, int workers)
    {
        open_or_raise();
        if (count < 1 || first < 0 || first > frames_ - count)
            raise_result(VidResult::frame_out_of_range, 0,
                         "frames " + std::to_string(first) + " to " +
                             std::to_string(int64_t(first) + count - 1) +
                             " are outside the clip's " + std::to_string(frames_) + " frames");
        if (width_ == 0 || height_ == 0)
            raise(0, "the clip's frames of " + std::to_string(width_) + " x " +
                         std::to_string(height_) + " pixels hold no pixels");
        py::array_t<uint8_t> out(
            {py::ssize_t(count), py::ssize_t(height_), py::ssize_t(width_), py::ssize_t(3)});
        uint8_t* data = out.mutable_data();
        with_reader([&](VidHeader& v, VidError& failure) {
            return vid_read_rgb(v, first, count, data, workers, failure, &picture_);
        });
        return out;
    }

    // Frame k as the clip's picture: (h, w, 3), or (h, w) for mono clips; uint8, or uint16
    // linear with sixteen; srgb: 8-bit values with the sRGB curve.
    py::array picture(int k, bool sixteen, bool srgb)
    {
        open_or_raise();
        if (k < 0 || k >= frames_)
            raise_result(VidResult::frame_out_of_range, 0,
                         "frame " + std::to_string(k) + " is outside the clip's " +
                             std::to_string(frames_) + " frames");
        const bool mono = vid_kind_is_mono(picture_.kind);
        std::vector<py::ssize_t> shape{py::ssize_t(height_), py::ssize_t(width_)};
        if (!mono)
            shape.push_back(3);
        py::array out = sixteen ? py::array(py::dtype::of<uint16_t>(), shape)
                                : py::array(py::dtype::of<uint8_t>(), shape);
        void* data = out.mutable_data();
        VidPicture asked = picture_;
        asked.srgb = srgb;
        with_reader([&](VidHeader& v, VidError& failure) {
            return vid_read_picture(v, k, asked, data, mono ? 1 : 3, sixteen, failure);
        });
        return out;
    }

    // The sensor description as JSON (every key), or None when the clip has none.
    py::object sensor() const
    {
        open_or_raise();
        if (!picture_.sensor.described)
            return py::none();
        return py::str(vid_sensor_json(picture_.sensor));
    }

    // A Bayer frame's samples as stored: (h, w) uint16 or uint8.
    py::array mosaic(int k)
    {
        open_or_raise();
        if (kind_ == "rgb")
            raise(0, path() + " holds RGB frames, not samples");
        if (k < 0 || k >= frames_)
            raise_result(VidResult::frame_out_of_range, 0,
                         "frame " + std::to_string(k) + " is outside the clip's " +
                             std::to_string(frames_) + " frames");
        const bool two = kind_ == "bayer16" || kind_ == "mono16";
        py::array out = two ? py::array(py::dtype::of<uint16_t>(), {height_, width_})
                            : py::array(py::dtype::of<uint8_t>(), {height_, width_});
        void* data = out.mutable_data();
        with_reader([&](VidHeader& v, VidError& failure) {
            return vid_read_mosaic(v, k, data, true, failure);
        });
        return out;
    }

    // The clip block: (present, damaged, problem, frame_rate, start_time, metadata, flags).
    py::dict clip()
    {
        VidClip clip;
        with_reader([&](VidHeader& v, VidError&) {
            clip = vid_read_clip(v);
            return true;
        });
        // By name: the layer above knows nothing of the block's layout or flag bits.
        py::dict out;
        out["present"] = clip.present;
        out["damaged"] = clip.damaged;
        out["problem"] = clip.problem;
        out["frame_rate"] = clip.frame_rate;
        out["start_time"] = clip.start_time;
        out["metadata"] = py::bytes(clip.metadata);
        out["finished"] = (clip.flags & kVidClipFinished) != 0;
        return out;
    }

    // Frames [first, first + count)'s timestamps (count -1: to the last frame) as
    // {"nanoseconds": int64 array, "missing": bool array}: a frame the file keeps no time for
    // is missing (its nanoseconds then mean nothing).
    py::dict timestamps(int64_t first, int64_t count)
    {
        std::vector<int64_t> stamps;
        with_reader([&](VidHeader& v, VidError& failure) {
            if (count < 0 || count > v.num_frames - first)
                count = first < v.num_frames ? v.num_frames - first : 0;
            if (vid_read_timestamps_range(v.videoFile, vid_read_clip(v), first, count, stamps))
                return true;
            failure = vid_error(VidResult::read_failed, v.videoFileName,
                                "its timestamps cannot be read", errno != 0 ? errno : EIO);
            return false;
        });
        py::array_t<int64_t> ns(py::ssize_t(stamps.size()));
        py::array_t<bool> missing(py::ssize_t(stamps.size()));
        int64_t* n = ns.mutable_data();
        bool* m = missing.mutable_data();
        for (size_t i = 0; i < stamps.size(); i++) {
            m[i] = stamps[i] == kVidNoTimestamp;
            n[i] = m[i] ? 0 : stamps[i];
        }
        py::dict out;
        out["nanoseconds"] = ns;
        out["missing"] = missing;
        return out;
    }

    // Takes in the frames a running writer appended since (vid_follow.h); the frame count.
    int refresh()
    {
        open_or_raise();
        with_reader([&](VidHeader& v, VidError& failure) {
            if (!vid_refresh(v, failure))
                return false;
            frames_ = v.num_frames;
            picture_ = vid_picture(v);
            const char* kind = vid_kind_name(picture_.kind);
            kind_ = kind != nullptr ? kind : "";
            return true;
        });
        return frames_;
    }

    void close()
    {
        std::unique_ptr<VidHeader> closing;
        {
            py::gil_scoped_release unlocked; // a read in progress holds the lock
            std::lock_guard<std::mutex> lock(mutex_);
            closing.swap(vid_);
            closed_ = true;
        }
    }

  private:
    // Runs call(reader, failure) on the open reader with the GIL released, under the reader's
    // lock (closing takes the same lock: a call either finishes on the open reader or finds it
    // closed, never a freed one); then raises for a closed reader, or for the failure a call
    // that returned false left.
    template <class Call> void with_reader(Call call)
    {
        VidError failure;
        bool ok = false, was_closed = false;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            if (!vid_) {
                was_closed = true;
            } else {
                ok = call(*vid_, failure);
            }
        }
        if (was_closed)
            raise_result(VidResult::not_open, 0, kClosed);
        if (!ok)
            raise_error(failure);
    }

    void open_or_raise() const
    {
        if (closed_)
            raise_result(VidResult::not_open, 0, kClosed);
    }
    std::string path() const { return vid_ ? vid_->videoFileName : std::string(); }

    std::unique_ptr<VidHeader> vid_;
    std::mutex mutex_;
    std::atomic<bool> closed_{false};
    std::atomic<int> frames_{0};
    int width_ = 0, height_ = 0;
    size_t frame_bytes_ = 0;
    std::string kind_;
    VidPicture picture_;
};

class Writer {
  public:
    Writer(const std::string& path, int width, int height, int64_t reserve, int effort,
           const std::string& kind, double frame_rate, const std::string& start_time,
           const std::string& metadata, bool compact)
    {
        check_path(path);
        if (effort < min_compression_effort || effort > max_compression_effort)
            raise(0, "compression effort " + std::to_string(effort) + " is not one of 1 to 9");
        if (reserve < 1)
            raise(0, "frames_reserved must be at least 1");
        VidRecording recording;
        if (!vid_kind_parse(kind.c_str(), recording.kind))
            raise(0, "kind is one of rgb, bayer8, bayer16, not " + kind);
        recording.effort = effort;
        recording.compact = compact;
        recording.frame_rate = frame_rate;
        recording.start_time = start_time.c_str();
        recording.metadata = metadata.c_str();
        // The reservation is a hint: a bounded table up front, frames beyond it still taken.
        vid_.reset(new VidHeader(path.c_str(), nullptr, width, height,
                                 vid_hinted_table_entries(reserve), recording));
        if (!vid_->isOpen()) {
            const VidError error = vid_->lastError();
            vid_.reset();
            raise_error(error);
        }
        vid_->growTableWhenFull();
    }

    // One frame of exactly the file's frame bytes, contiguous (the Python side checks: h * w *
    // 3 bytes, or the mosaic's h * w samples in the host's order), and its timestamp in
    // nanoseconds (None: the host's clock).
    void append(py::buffer frame, std::optional<int64_t> timestamp)
    {
        py::buffer_info info = frame.request();
        VidError failure;
        bool was_closed = false, wrong_size = false;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            if (!vid_) {
                was_closed = true;
            } else if (size_t(info.size) * size_t(info.itemsize) != size_t(vid_->pixmap_size)) {
                wrong_size = true;
            } else {
                memcpy(vid_->pixmap, info.ptr, size_t(vid_->pixmap_size));
                if (info.itemsize == 2)
                    vid_store_samples16(vid_->pixmap, size_t(vid_->pixmap_size) / 2);
                if (!vid_->writeNextFrameToVideoFile(timestamp ? *timestamp : kVidNoTimestamp))
                    failure = vid_->lastError();
            }
        }
        if (was_closed)
            raise(0, "the writer is closed");
        if (wrong_size)
            raise(0, "a frame must hold the file's frame bytes");
        if (failure.result != VidResult::ok)
            raise_error(failure);
    }

    int frames()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return vid_ ? vid_->current_frame : frames_;
    }

    // Finishes the file (header and table; a table that grew is rewritten once). On failure
    // the file keeps what it had and the error says why.
    void close()
    {
        std::unique_ptr<VidHeader> finishing;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            finishing.swap(vid_);
        }
        if (!finishing)
            return;
        frames_ = finishing->current_frame;
        bool finished = true;
        VidError failure;
        {
            py::gil_scoped_release unlocked;
            finished = finishing->finish();
            if (!finished)
                failure = finishing->lastError();
            finishing.reset();
        }
        if (!finished)
            raise_error(failure, "the file could not be finished: ");
    }

    ~Writer()
    {
        try {
            vid_.reset();
        } catch (...) {
        }
    }

  private:
    std::unique_ptr<VidHeader> vid_;
    std::mutex mutex_;
    int frames_ = 0;
};

// vid.crop's work (the checks and defaults are in vid/__init__.py): each input is (path,
// first, last, boxed, left, top, width, height); layout 0 side by side, 1 stacked, 2 one after
// the other. Gives (frames, height, width) of the file written.
using CropInput = std::tuple<std::string, int64_t, int64_t, bool, int, int, int, int>;
py::tuple crop(const std::string& out, const std::vector<CropInput>& given, int layout, int gap,
               std::tuple<int, int, int> background, int effort, bool replace_any, bool rgb)
{
    check_path(out);
    std::vector<VidCropInput> inputs;
    for (const CropInput& g : given) {
        VidCropInput in;
        std::tie(in.path, in.first, in.last, in.boxed, in.left, in.top, in.width, in.height) = g;
        check_path(in.path);
        inputs.push_back(in);
    }
    VidCropOptions options;
    options.layout = layout == 0   ? VidCropLayout::side_by_side
                     : layout == 1 ? VidCropLayout::stacked
                                   : VidCropLayout::sequence;
    options.gap = gap;
    options.background[0] = static_cast<unsigned char>(std::get<0>(background));
    options.background[1] = static_cast<unsigned char>(std::get<1>(background));
    options.background[2] = static_cast<unsigned char>(std::get<2>(background));
    options.effort = effort;
    options.replace_any = replace_any;
    options.rgb = rgb;
    VidCropOutcome outcome;
    VidError error;
    bool written = false;
    {
        py::gil_scoped_release unlocked;
        written = vid_crop(out, inputs, options, outcome, error);
    }
    if (!written)
        raise_error(error);
    return py::make_tuple(outcome.frames, outcome.height, outcome.width);
}

} // namespace

// Sets (key, JSON value) pairs and removes keys of a file's metadata; returns the new metadata.
std::string set_metadata(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& set,
                         const std::vector<std::string>& unset)
{
    check_path(path);
    VidError error;
    std::string metadata;
    bool done = false;
    {
        py::gil_scoped_release unlocked;
        done = vid_set_metadata(path, set, unset, error, &metadata);
    }
    if (!done)
        raise_error(error);
    return metadata;
}

#ifdef VID_HAVE_ARAVIS
namespace {

py::list cameras(bool include_fake)
{
    std::string error;
    std::vector<VidCameraInfo> list;
    {
        py::gil_scoped_release unlocked;
        list = vid_cameras(include_fake, error);
    }
    py::list out;
    for (const VidCameraInfo& c : list) {
        py::dict d;
        d["id"] = c.id;
        d["vendor"] = c.vendor;
        d["model"] = c.model;
        d["serial"] = c.serial;
        d["transport"] = c.transport;
        d["address"] = c.address;
        d["pixel_formats"] = c.pixel_formats;
        out.append(d);
    }
    return out;
}

// Sets the camera up and records (vid.record); the summary as a dict. Ctrl-C ends the recording
// with a finished file.
py::dict record(const std::string& path, const VidCameraSettings& settings, int64_t frames,
                double duration, bool compact, int effort, const std::string& metadata,
                py::object progress)
{
    check_path(path);
    std::string why;
    std::unique_ptr<VidCamera> camera;
    {
        py::gil_scoped_release unlocked;
        camera = VidCamera::open(settings, why);
    }
    if (!camera)
        throw std::runtime_error(why);
    VidRecordOptions o;
    o.path = path;
    o.format = camera->format();
    o.width = camera->width();
    o.height = camera->height();
    o.frame_rate = camera->frame_rate();
    o.frames = frames;
    o.duration_s = duration;
    o.compact = compact;
    o.effort = effort;
    o.software_trigger = camera->software_trigger();
    o.metadata = camera->metadata();
    if (!metadata.empty()) {
        // the caller's keys over the camera's
        std::string object = o.metadata;
        for (const auto& kv :
             py::module_::import("json").attr("loads")(metadata).cast<py::dict>()) {
            const std::string key = py::str(kv.first);
            const std::string value =
                py::module_::import("json").attr("dumps")(kv.second).cast<std::string>();
            if (!vid_json_with_key(object, key, value, true, why))
                throw py::value_error("metadata: " + why);
        }
        o.metadata = object;
    }
    std::atomic<bool> stop(false);
    o.stop = &stop;
    o.progress_interval_s = 1;
    o.progress = [&](const VidRecordStatus& st) {
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) {
            PyErr_Clear();
            stop = true;
        }
        if (!progress.is_none() && !st.final) {
            try {
                progress(st.frames, st.seconds, st.recorder_drops + st.incomplete + st.missing);
            } catch (py::error_already_set&) {
                stop = true;
            }
        }
    };
    VidRecordSummary summary;
    VidError error;
    bool ok = false;
    {
        py::gil_scoped_release unlocked;
        ok = vid_record(*camera, o, summary, error);
    }
    if (!ok)
        raise_error(error);
    const VidRecordStatus& st = summary.status;
    py::dict d;
    d["path"] = path;
    d["frames"] = st.frames;
    d["seconds"] = st.seconds;
    d["frames_per_second"] = st.seconds > 0 ? double(st.frames) / st.seconds : 0.0;
    d["raw_bytes"] = st.raw_bytes;
    d["stored_bytes"] = st.stored_bytes;
    d["ratio"] = st.stored_bytes ? double(st.raw_bytes) / double(st.stored_bytes) : 0.0;
    py::dict drops;
    drops["recorder"] = st.recorder_drops;
    drops["incomplete"] = st.incomplete;
    drops["missing"] = st.missing;
    d["drops"] = drops;
    d["camera_stream_damaged"] = summary.source_failures;
    d["ended_by"] = summary.ended_by;
    d["pixel_format"] = std::string(o.format.name);
    d["width"] = o.width;
    d["height"] = o.height;
    d["frame_rate"] = o.frame_rate;
    return d;
}

} // namespace
#endif

PYBIND11_MODULE(_vid, m)
{
    m.doc() = "The compiled part of the vid package (see vid/__init__.py).";
    m.def("_set_errors", [](py::object make_error) { g_make_error = make_error; });
    m.attr("__version__") = VID_VERSION_STRING;
    m.def("crop", &crop);
    m.def("set_metadata", &set_metadata);
#ifdef VID_HAVE_ARAVIS
    m.def("cameras", &cameras);
    py::class_<VidCameraSettings>(m, "CameraSettings")
        .def(py::init<>())
        .def_readwrite("id", &VidCameraSettings::id)
        .def_readwrite("pixel_format", &VidCameraSettings::pixel_format)
        .def_readwrite("width", &VidCameraSettings::width)
        .def_readwrite("height", &VidCameraSettings::height)
        .def_readwrite("x", &VidCameraSettings::x)
        .def_readwrite("y", &VidCameraSettings::y)
        .def_readwrite("frame_rate", &VidCameraSettings::frame_rate)
        .def_readwrite("exposure_us", &VidCameraSettings::exposure_us)
        .def_readwrite("gain_db", &VidCameraSettings::gain_db)
        .def_readwrite("trigger", &VidCameraSettings::trigger)
        .def_readwrite("features", &VidCameraSettings::features)
        .def_readwrite("buffers", &VidCameraSettings::buffers)
        .def_readwrite("resend", &VidCameraSettings::resend);
    m.def("record", &record);
#endif
    py::class_<Reader>(m, "Reader")
        .def(py::init<const std::string&>())
        .def_property_readonly("frames", &Reader::frames)
        .def_property_readonly("width", &Reader::width)
        .def_property_readonly("height", &Reader::height)
        .def_property_readonly("kind", &Reader::kind)
        .def_property_readonly("closed", &Reader::closed)
        .def("read", &Reader::read, py::arg("first"), py::arg("count"), py::arg("workers") = 0)
        .def("mosaic", &Reader::mosaic)
        .def("picture", &Reader::picture, py::arg("k"), py::arg("sixteen") = false,
             py::arg("srgb") = false)
        .def("sensor", &Reader::sensor)
        .def("clip", &Reader::clip)
        .def("timestamps", &Reader::timestamps, py::arg("first") = 0, py::arg("count") = -1)
        .def("refresh", &Reader::refresh)
        .def("close", &Reader::close);
    py::class_<Writer>(m, "Writer")
        .def(py::init<const std::string&, int, int, int64_t, int, const std::string&, double,
                      const std::string&, const std::string&, bool>())
        .def("append", &Writer::append)
        .def_property_readonly("frames", &Writer::frames)
        .def("close", &Writer::close);
}
