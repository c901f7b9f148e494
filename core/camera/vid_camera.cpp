// GenICam cameras through Aravis (vid_camera.h).
#include "vid_camera.h"

#include <arv.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

ArvCamera* cam(void* p)
{
    return static_cast<ArvCamera*>(p);
}

ArvStream* stream_of(void* p)
{
    return static_cast<ArvStream*>(p);
}

// Takes a GError's text and frees it.
std::string take(GError*& e)
{
    std::string s = e != nullptr && e->message != nullptr ? e->message : "unknown failure";
    g_clear_error(&e);
    return s;
}

std::string json_string(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char u[8];
            snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string number(double v)
{
    char b[32];
    snprintf(b, sizeof b, "%.10g", v);
    return b;
}

const char* text_or_empty(const char* s)
{
    return s != nullptr ? s : "";
}

// Aravis's in-process fake camera is reached only when asked for.
void devices(bool include_fake)
{
    if (include_fake)
        arv_enable_interface("Fake");
    arv_update_device_list();
}

// Memory the buffers of one camera may take.
const size_t kBufferMemory = size_t(1) << 30;

} // namespace

std::vector<VidCameraInfo> vid_cameras(bool include_fake, std::string& error)
{
    devices(include_fake);
    std::vector<VidCameraInfo> list;
    const unsigned n = arv_get_n_devices();
    for (unsigned i = 0; i < n; i++) {
        VidCameraInfo c;
        c.id = text_or_empty(arv_get_device_id(i));
        c.vendor = text_or_empty(arv_get_device_vendor(i));
        c.model = text_or_empty(arv_get_device_model(i));
        c.serial = text_or_empty(arv_get_device_serial_nbr(i));
        c.transport = text_or_empty(arv_get_device_protocol(i));
        c.address = text_or_empty(arv_get_device_address(i));
        GError* e = nullptr;
        ArvCamera* camera = arv_camera_new(c.id.c_str(), &e);
        if (camera != nullptr) {
            guint count = 0;
            const char** names =
                arv_camera_dup_available_pixel_formats_as_strings(camera, &count, &e);
            for (guint k = 0; names != nullptr && k < count; k++)
                c.pixel_formats.push_back(text_or_empty(names[k]));
            g_free(names);
            g_object_unref(camera);
        }
        if (e != nullptr)
            error = c.id + ": " + take(e);
        list.push_back(c);
    }
    return list;
}

std::unique_ptr<VidCamera> VidCamera::open(const VidCameraSettings& s, std::string& error)
{
    devices(s.id.compare(0, 4, "Fake") == 0);
    if (s.id.empty() && arv_get_n_devices() == 0) {
        error = "no camera found (vid cameras lists the cameras Aravis sees)";
        return nullptr;
    }
    std::unique_ptr<VidCamera> c(new VidCamera);
    GError* e = nullptr;
    const std::string name = s.id.empty() ? text_or_empty(arv_get_device_id(0)) : s.id;
    ArvCamera* camera = arv_camera_new(name.c_str(), &e);
    if (camera == nullptr) {
        error = "camera " + name + ": " + take(e);
        return nullptr;
    }
    c->camera_ = camera;
    c->id_ = name;
    c->vendor_ = text_or_empty(arv_camera_get_vendor_name(camera, nullptr));
    c->model_ = text_or_empty(arv_camera_get_model_name(camera, nullptr));
    c->serial_ = text_or_empty(arv_camera_get_device_serial_number(camera, nullptr));
    const bool gige = arv_camera_is_gv_device(camera);
    c->transport_ = gige ? "GigEVision" : arv_camera_is_uv_device(camera) ? "USB3Vision" : "Fake";
    auto fail = [&](const std::string& what) {
        error = "camera " + name + ": " + what;
        return nullptr;
    };
    // A GigE Vision camera takes settings from one controller: without that privilege this
    // program would disturb another's recording, so it stops here.
    if (gige) {
        ArvGvDevice* device = ARV_GV_DEVICE(arv_camera_get_device(camera));
        if (!arv_gv_device_is_controller(device))
            return fail("busy: another program controls it");
    }
    if (!s.pixel_format.empty()) {
        VidPixelFormat f;
        if (!vid_pixel_format_find(s.pixel_format, f))
            return fail("pixel format " + s.pixel_format +
                        " cannot be stored in a clip; clips take " + vid_pixel_format_names());
        arv_camera_set_pixel_format_from_string(camera, f.name, &e);
        if (e != nullptr)
            return fail("pixel format " + s.pixel_format + ": " + take(e));
    }
    const std::string current = text_or_empty(arv_camera_get_pixel_format_as_string(camera, &e));
    if (e != nullptr)
        return fail("pixel format: " + take(e));
    if (!vid_pixel_format_find(current, c->format_)) {
        std::string offered;
        guint count = 0;
        const char** names =
            arv_camera_dup_available_pixel_formats_as_strings(camera, &count, nullptr);
        VidPixelFormat any;
        for (guint k = 0; names != nullptr && k < count; k++)
            if (vid_pixel_format_find(text_or_empty(names[k]), any))
                offered += std::string(offered.empty() ? "" : ", ") + names[k];
        g_free(names);
        return fail("its pixel format " + current +
                    " cannot be stored in a clip; choose one with "
                    "--pixel-format (" +
                    (offered.empty() ? "it offers none a clip takes" : "it offers " + offered) +
                    ")");
    }
    // Region: what is given over what is set.
    gint x = 0, y = 0, w = 0, h = 0;
    arv_camera_get_region(camera, &x, &y, &w, &h, &e);
    if (e != nullptr)
        return fail("region: " + take(e));
    if (s.width > 0 || s.height > 0 || s.x >= 0 || s.y >= 0) {
        arv_camera_set_region(camera, s.x >= 0 ? s.x : x, s.y >= 0 ? s.y : y,
                              s.width > 0 ? s.width : w, s.height > 0 ? s.height : h, &e);
        if (e != nullptr)
            return fail("region: " + take(e));
        arv_camera_get_region(camera, &x, &y, &w, &h, &e);
        if (e != nullptr)
            return fail("region: " + take(e));
    }
    c->width_ = w;
    c->height_ = h;
    if (s.exposure_us > 0) {
        arv_camera_set_exposure_time(camera, s.exposure_us, &e);
        if (e != nullptr)
            return fail("exposure: " + take(e));
    }
    if (s.gain_db >= 0) {
        arv_camera_set_gain(camera, s.gain_db, &e);
        if (e != nullptr)
            return fail("gain: " + take(e));
    }
    if (!s.trigger.empty()) {
        c->software_trigger_ = s.trigger == "software" || s.trigger == "Software";
        arv_camera_set_trigger(camera, c->software_trigger_ ? "Software" : s.trigger.c_str(), &e);
        if (e != nullptr)
            return fail("trigger " + s.trigger + ": " + take(e));
        c->trigger_ = c->software_trigger_ ? "software" : s.trigger;
    }
    if (s.frame_rate > 0) {
        arv_camera_set_frame_rate(camera, s.frame_rate, &e);
        if (e != nullptr)
            return fail("frame rate: " + take(e));
    }
    for (const auto& f : s.features) {
        const std::string one = f.first + "=" + f.second;
        if (arv_device_get_feature(arv_camera_get_device(camera), f.first.c_str()) == nullptr)
            return fail("unknown feature " + f.first);
        arv_device_set_features_from_string(arv_camera_get_device(camera), one.c_str(), &e);
        if (e != nullptr)
            return fail("feature " + one + ": " + take(e));
    }
    if (arv_camera_is_frame_rate_available(camera, nullptr))
        c->frame_rate_ = arv_camera_get_frame_rate(camera, nullptr);
    if (c->frame_rate_ <= 0 && s.frame_rate > 0)
        c->frame_rate_ = s.frame_rate;
    if (arv_camera_is_exposure_time_available(camera, nullptr))
        c->exposure_us_ = arv_camera_get_exposure_time(camera, nullptr);
    if (arv_camera_is_gain_available(camera, nullptr))
        c->gain_db_ = arv_camera_get_gain(camera, nullptr);
    // GigE Vision: the packet socket delivers nothing on loopback and needs privileges; ids
    // are 16 bits.
    if (gige) {
        arv_camera_gv_set_stream_options(camera, ARV_GV_STREAM_OPTION_PACKET_SOCKET_DISABLED);
        c->id_wrap_ = 65535;
    } else if (c->transport_ == "Fake") {
        c->id_wrap_ = 65535;
    }
    if (s.prepare)
        s.prepare(camera);
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &e);
    if (stream == nullptr)
        return fail("stream: " + take(e));
    c->stream_ = stream;
    if (gige)
        g_object_set(stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, "packet-resend",
                     s.resend ? ARV_GV_STREAM_PACKET_RESEND_ALWAYS
                              : ARV_GV_STREAM_PACKET_RESEND_NEVER,
                     nullptr);
    c->payload_ = arv_camera_get_payload(camera, &e);
    if (e != nullptr || c->payload_ == 0)
        return fail("payload: " + (e != nullptr ? take(e) : std::string("0 bytes")));
    const size_t needed = size_t(h) * vid_pixel_format_row_bytes(c->format_, w);
    if (c->payload_ < needed)
        return fail("its payload of " + std::to_string(c->payload_) + " bytes is short of a " +
                    std::to_string(w) + " x " + std::to_string(h) + " " + current + " frame");
    int n = s.buffers;
    if (n <= 0) {
        const double rate = c->frame_rate_ > 0 ? c->frame_rate_ : 25;
        n = std::max(16, int(std::ceil(rate)));
        n = int(std::min<size_t>(size_t(n), std::max<size_t>(4, kBufferMemory / c->payload_)));
    }
    for (int i = 0; i < n; i++) {
        ArvBuffer* b = arv_buffer_new_allocate(c->payload_);
        if (b == nullptr)
            return fail("out of memory for its buffers");
        arv_stream_push_buffer(stream, b);
    }
    c->buffers_ = n;
    return c;
}

VidCamera::~VidCamera()
{
    if (acquiring_)
        stop();
    if (stream_ != nullptr)
        g_object_unref(stream_of(stream_));
    if (camera_ != nullptr)
        g_object_unref(cam(camera_));
}

bool VidCamera::start(std::string& error)
{
    GError* e = nullptr;
    arv_camera_set_acquisition_mode(cam(camera_), ARV_ACQUISITION_MODE_CONTINUOUS, &e);
    if (e == nullptr)
        arv_camera_start_acquisition(cam(camera_), &e);
    if (e != nullptr) {
        error = "camera " + id_ + ": acquisition did not start: " + take(e);
        return false;
    }
    acquiring_ = true;
    return true;
}

bool VidCamera::next(VidSourceFrame& f, int timeout_ms)
{
    ArvBuffer* b = arv_stream_timeout_pop_buffer(stream_of(stream_), guint64(timeout_ms) * 1000);
    if (b == nullptr)
        return false;
    f = VidSourceFrame();
    f.handle = b;
    f.complete = arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS;
    size_t size = 0;
    f.data = static_cast<const unsigned char*>(arv_buffer_get_data(b, &size));
    // A buffer filled without its size said (the in-process fake's own patterns) holds its
    // whole payload.
    f.size = size != 0 ? size : f.complete ? payload_ : 0;
    f.frame_id = arv_buffer_get_frame_id(b);
    const guint64 t = arv_buffer_get_timestamp(b);
    f.timestamp_ns = int64_t(t != 0 ? t : arv_buffer_get_system_timestamp(b));
    return true;
}

void VidCamera::release(VidSourceFrame& f)
{
    if (f.handle != nullptr)
        arv_stream_push_buffer(stream_of(stream_), static_cast<ArvBuffer*>(f.handle));
    f.handle = nullptr;
}

void VidCamera::stop()
{
    if (acquiring_)
        arv_camera_stop_acquisition(cam(camera_), nullptr);
    acquiring_ = false;
}

uint64_t VidCamera::underruns()
{
    guint64 done = 0, failed = 0, under = 0;
    arv_stream_get_statistics(stream_of(stream_), &done, &failed, &under);
    return under;
}

uint64_t VidCamera::failures()
{
    guint64 done = 0, failed = 0, under = 0;
    arv_stream_get_statistics(stream_of(stream_), &done, &failed, &under);
    return failed;
}

void VidCamera::trigger()
{
    arv_camera_software_trigger(cam(camera_), nullptr);
}

std::string VidCamera::metadata() const
{
    std::string j = "{\"camera\": " + json_string(vendor_ + " " + model_) +
                    ", \"camera_vendor\": " + json_string(vendor_) +
                    ", \"camera_model\": " + json_string(model_) +
                    ", \"camera_serial\": " + json_string(serial_) +
                    ", \"camera_id\": " + json_string(id_) +
                    ", \"transport\": " + json_string(transport_) +
                    ", \"pixel_format\": " + json_string(format_.name) +
                    ", \"trigger\": " + json_string(trigger_.empty() ? "free run" : trigger_);
    if (exposure_us_ > 0)
        j += ", \"exposure_us\": " + number(exposure_us_);
    j += ", \"gain_db\": " + number(gain_db_);
    if (frame_rate_ > 0)
        j += ", \"camera_frame_rate\": " + number(frame_rate_);
    return j + "}";
}
