// GenICam cameras (GigE Vision, USB3 Vision) through Aravis: listing them, setting one up and
// taking its frames as a recorder's source (vid_recorder.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vid_recorder.h"

struct VidCameraInfo {
    std::string id, vendor, model, serial, transport, address;
    std::vector<std::string> pixel_formats;
};

// Every camera Aravis sees (with its in-process fake camera "Fake_1" when include_fake); false
// with `error` when one could not be asked for its pixel formats (it is listed without them).
std::vector<VidCameraInfo> vid_cameras(bool include_fake, std::string& error);

struct VidCameraSettings {
    std::string id;           // empty: the first camera
    std::string pixel_format; // empty: as the camera is set
    int width = 0, height = 0;
    int x = -1, y = -1;                                        // -1: as the camera is set
    double frame_rate = 0;                                     // 0: as the camera is set
    double exposure_us = 0;                                    // 0: as the camera is set
    double gain_db = -1;                                       // below 0: as the camera is set
    std::string trigger;                                       // "", "software" or a line ("Line1")
    std::vector<std::pair<std::string, std::string>> features; // FEATURE=VALUE, in order
    int buffers = 0;    // 0: at least a second of frames within a memory bound
    bool resend = true; // GigE Vision: ask for lost packets again
    // Called with the ArvCamera* once it is set up, before its stream is made (tests reach the
    // in-process fake camera through it).
    std::function<void(void*)> prepare;
};

class VidCamera : public VidFrameSource {
  public:
    // Opens and sets up the camera; null with `error` (one line in plain words) when it is
    // absent, busy, refuses a setting or has a pixel format no clip holds.
    static std::unique_ptr<VidCamera> open(const VidCameraSettings& settings, std::string& error);
    ~VidCamera() override;

    bool start(std::string& error) override;
    bool next(VidSourceFrame& frame, int timeout_ms) override;
    void release(VidSourceFrame& frame) override;
    void stop() override;
    uint64_t underruns() override;
    uint64_t failures() override;
    int buffers() const override { return buffers_; }
    uint64_t id_wrap() const override { return id_wrap_; }
    void trigger() override;

    const VidPixelFormat& format() const { return format_; }
    int width() const { return width_; }
    int height() const { return height_; }
    double frame_rate() const { return frame_rate_; }
    bool software_trigger() const { return software_trigger_; }
    // The camera's description for the clip's metadata (a JSON object).
    std::string metadata() const;
    // The ArvCamera* (for tests that reach the fake camera).
    void* native() const { return camera_; }

  private:
    VidCamera() = default;
    void* camera_ = nullptr; // ArvCamera*
    void* stream_ = nullptr; // ArvStream*
    VidPixelFormat format_;
    int width_ = 0, height_ = 0, buffers_ = 0;
    size_t payload_ = 0;
    double frame_rate_ = 0, exposure_us_ = 0, gain_db_ = 0;
    bool software_trigger_ = false, acquiring_ = false;
    uint64_t id_wrap_ = 0;
    std::string vendor_, model_, serial_, id_, trigger_, transport_;
};
