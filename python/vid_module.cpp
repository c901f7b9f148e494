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

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>

#include "VidHeader.h"
#include "compress_uncompress_MT.h"
#include "report.h"
#include "vid_version.h"

namespace py = pybind11;

namespace {

py::object g_os_error;    // raised with (errno, message) when the system gave an errno
py::object g_value_error; // raised with (message) otherwise

[[noreturn]] void raise(int error_number, const std::string& message)
{
    py::object type = error_number != 0 ? g_os_error : g_value_error;
    if (!type)
        throw std::runtime_error(message);
    py::object instance = error_number != 0 ? type(error_number, message) : type(py::str(message));
    PyErr_SetObject(type.ptr(), instance.ptr());
    throw py::error_already_set();
}

// A report of the container in plain words: without the "VidHeader:<line> " place and
// without line breaks.
std::string plain(const char* report)
{
    std::string out;
    for (const char* p = report; *p; p++) {
        char c = (*p == '\r' || *p == '\n' || *p == '\t') ? ' ' : *p;
        if (c == ' ' && (out.empty() || out.back() == ' '))
            continue;
        out += c;
    }
    if (out.compare(0, 10, "VidHeader:") == 0) {
        size_t space = out.find(' ');
        out = space == std::string::npos ? std::string() : out.substr(space + 1);
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The reports of the codec and the demosaic on this thread, kept for the duration of a call.
class Quiet {
  public:
    Quiet() : previous_(vid_report_capture(&text_)) {}
    ~Quiet() { vid_report_capture(previous_); }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

  private:
    std::string text_;
    std::string* previous_;
};

// A stream for the container's reports (their text is read from errMessage).
FILE* sink()
{
    static FILE* f = tmpfile();
    return f;
}

class Reader {
  public:
    explicit Reader(const std::string& path)
    {
        Quiet quiet;
        errno = 0;
        vid_.reset(new VidHeader(path.c_str(), sink()));
        int error_number = errno;
        if (vid_->compressed_buffer == nullptr) {
            // Only a file the system would not open carries the system's reason.
            bool not_opened =
                vid_->videoFile == nullptr && strstr(vid_->errMessage, "Unable to open") != nullptr;
            std::string message = plain(vid_->errMessage);
            vid_.reset();
            raise(not_opened ? (error_number ? error_number : ENOENT) : 0,
                  message.empty() ? path + ": not a VID file" : message);
        }
    }

    int frames() const { return vid_ ? vid_->num_frames : 0; }
    int width() const { return vid_ ? vid_->width : 0; }
    int height() const { return vid_ ? vid_->height : 0; }
    std::string kind() const
    {
        if (!vid_ || !vid_->vid_is_bayer_interpolated)
            return "rgb";
        return vid_->vid_uses_two_bytes_per_pixel ? "bayer16" : "bayer8";
    }

    // Frames [first, first + count) into a (count, h, w, 3) uint8 array: one copy each.
    // workers 0 chooses: frames are decoded side by side only where the machine has more
    // processors than a frame has blocks (each frame already keeps that many busy), each
    // further worker with a reader of its own.
    py::array_t<uint8_t> read(int first, int count, int workers)
    {
        VidHeader& v = open_vid();
        if (count < 1 || first < 0 || first > v.num_frames - count)
            throw py::index_error("frame index out of range");
        py::array_t<uint8_t> out(
            {py::ssize_t(count), py::ssize_t(v.height), py::ssize_t(v.width), py::ssize_t(3)});
        uint8_t* data = out.mutable_data();
        const size_t frame = size_t(v.pixmap_size);
        if (workers <= 0) {
            const uint64_t blocks = std::min<uint64_t>(
                max_compress_MT_blocks, (uint64_t(v.uncompressed_buffer_size) + 76799) / 76800);
            workers = int(std::max<uint64_t>(1, uint64_t(get_num_processing_cores()) / blocks));
        }
        workers = std::max(1, std::min(workers, count));
        std::vector<std::string> failures(static_cast<size_t>(workers));
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            // Worker i reads frames first + i, first + i + workers, ...; worker 0 is this
            // thread with this reader.
            auto run = [&](int i, VidHeader* reader) {
                Quiet quiet;
                for (int k = i; k < count && failures[size_t(i)].empty(); k += workers) {
                    if (reader->readFrameFromVideoFile(first + k))
                        memcpy(data + frame * size_t(k), reader->pixmap, frame);
                    else
                        failures[size_t(i)] = plain(reader->errMessage);
                }
            };
            std::vector<std::unique_ptr<VidHeader>> others;
            std::vector<std::thread> threads;
            for (int i = 1; i < workers; i++) {
                others.emplace_back(new VidHeader(v.videoFileName, sink()));
                if (others.back()->compressed_buffer == nullptr) {
                    failures[size_t(i)] = plain(others.back()->errMessage);
                    continue;
                }
                threads.emplace_back(run, i, others.back().get());
            }
            run(0, &v);
            for (std::thread& t : threads)
                t.join();
        }
        for (const std::string& failure : failures)
            if (!failure.empty())
                raise(0, failure);
        return out;
    }

    // A Bayer frame's samples as stored: (h, w) uint16 or uint8.
    py::array mosaic(int k)
    {
        VidHeader& v = open_vid();
        if (!v.vid_is_bayer_interpolated)
            raise(0, std::string(v.videoFileName) + " holds RGB frames, not Bayer mosaics");
        if (k < 0 || k >= v.num_frames)
            throw py::index_error("frame index out of range");
        const bool two = v.vid_uses_two_bytes_per_pixel == 1;
        py::array out = two ? py::array(py::dtype::of<uint16_t>(), {v.height, v.width})
                            : py::array(py::dtype::of<uint8_t>(), {v.height, v.width});
        std::string failure;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            Quiet quiet;
            if (!v.readFrameFromVideoFile(k)) {
                failure = plain(v.errMessage);
            } else if (v.uncompressed_buffer == nullptr) {
                memset(out.mutable_data(), 0, size_t(out.nbytes())); // a black frame
            } else if (two) {
                uint16_t* dst = static_cast<uint16_t*>(out.mutable_data());
                const unsigned char* s = v.uncompressed_buffer;
                for (size_t i = 0; i < size_t(v.width) * size_t(v.height); i++)
                    dst[i] = uint16_t(s[2 * i] | s[2 * i + 1] << 8);
            } else {
                memcpy(out.mutable_data(), v.uncompressed_buffer,
                       size_t(v.width) * size_t(v.height));
            }
        }
        if (!failure.empty())
            raise(0, failure);
        return out;
    }

    void close()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        vid_.reset();
    }

  private:
    VidHeader& open_vid()
    {
        if (!vid_)
            raise(0, "the file was closed");
        return *vid_;
    }

    std::unique_ptr<VidHeader> vid_;
    std::mutex mutex_;
};

class Writer {
  public:
    Writer(const std::string& path, int width, int height, int reserve, int effort)
    {
        if (effort < min_compression_effort || effort > max_compression_effort)
            raise(0, "compression effort " + std::to_string(effort) + " is not one of 1 to 9");
        if (reserve < 1)
            raise(0, "frames_reserved must be at least 1");
        Quiet quiet;
        reports_ = tmpfile();
        errno = 0;
        vid_.reset(new VidHeader(path.c_str(), reports_ ? reports_ : sink(), width, height, reserve,
                                 effort));
        int error_number = errno;
        if (vid_->compressed_buffer == nullptr) {
            bool not_opened = strstr(vid_->errMessage, "Unable to open") != nullptr;
            std::string message = plain(vid_->errMessage);
            vid_.reset();
            if (reports_)
                fclose(reports_);
            reports_ = nullptr;
            raise(not_opened ? (error_number ? error_number : EIO) : 0, message);
        }
        vid_->growTableWhenFull();
    }

    // One frame of exactly h * w * 3 contiguous bytes (the Python side checks and converts).
    void append(py::buffer frame)
    {
        VidHeader& v = open_vid();
        py::buffer_info info = frame.request();
        if (size_t(info.size) * size_t(info.itemsize) != size_t(v.pixmap_size))
            raise(0, "a frame must hold height * width * 3 bytes");
        std::string failure;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            Quiet quiet;
            memcpy(v.pixmap, info.ptr, size_t(v.pixmap_size));
            if (!v.writeNextFrameToVideoFile())
                failure = plain(v.errMessage);
        }
        if (!failure.empty())
            raise(0, failure);
    }

    int frames() const { return vid_ ? vid_->current_frame : 0; }

    // Finishes the file (header and table; a table that grew is rewritten once).
    void close()
    {
        std::unique_ptr<VidHeader> finishing;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finishing.swap(vid_);
        }
        if (!finishing)
            return;
        long before = reports_ ? ftell(reports_) : 0;
        {
            py::gil_scoped_release unlocked;
            Quiet quiet;
            finishing.reset(); // a failure to finish is reported into reports_
        }
        std::string failure;
        if (reports_ && fflush(reports_) == 0 && ftell(reports_) > before &&
            fseek(reports_, before, SEEK_SET) == 0) {
            char text[2048] = {0};
            size_t got = fread(text, 1, sizeof text - 1, reports_);
            text[got] = '\0';
            failure = plain(text);
        }
        if (!failure.empty())
            raise(0, "the file could not be finished: " + failure);
    }

    ~Writer()
    {
        try {
            vid_.reset();
        } catch (...) {
        }
        if (reports_)
            fclose(reports_);
    }

  private:
    VidHeader& open_vid()
    {
        if (!vid_)
            raise(0, "the writer was closed");
        return *vid_;
    }

    std::unique_ptr<VidHeader> vid_;
    std::mutex mutex_;
    FILE* reports_ = nullptr; // the container's reports about this file
};

} // namespace

PYBIND11_MODULE(_vid, m)
{
    m.doc() = "The compiled part of the vid package (see vid/__init__.py).";
    m.def("_set_errors", [](py::object os_error, py::object value_error) {
        g_os_error = os_error;
        g_value_error = value_error;
    });
    m.attr("__version__") = VID_VERSION_STRING;
    py::class_<Reader>(m, "Reader")
        .def(py::init<const std::string&>())
        .def_property_readonly("frames", &Reader::frames)
        .def_property_readonly("width", &Reader::width)
        .def_property_readonly("height", &Reader::height)
        .def_property_readonly("kind", &Reader::kind)
        .def("read", &Reader::read, py::arg("first"), py::arg("count"), py::arg("workers") = 0)
        .def("mosaic", &Reader::mosaic)
        .def("close", &Reader::close);
    py::class_<Writer>(m, "Writer")
        .def(py::init<const std::string&, int, int, int, int>())
        .def("append", &Writer::append)
        .def_property_readonly("frames", &Writer::frames)
        .def("close", &Writer::close);
}
