// Recording a camera into a clip: frames from a source (a camera's stream, or a synthetic one)
// are moved by an acquisition thread into a queue and written by the caller's thread, each
// compressed on the codec's workers. Acquisition never waits for the writer: a source that
// finds all its buffers in the queue drops the frame and counts it (a recorder drop). Frames
// that arrive damaged and camera frame ids that never arrive are counted apart, so that a
// user knows whether to blame the link or the disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vid_pixel_format.h"
#include "vid_result.h"

// One frame as a source hands it over; the buffer stays the source's until release().
struct VidSourceFrame {
    const unsigned char* data = nullptr;
    size_t size = 0;
    uint64_t frame_id = 0;    // the camera's frame (block) id
    int64_t timestamp_ns = 0; // the camera's timestamp
    bool complete = true;     // false: the frame arrived damaged or in part
    void* handle = nullptr;   // the source's own
};

class VidFrameSource {
  public:
    virtual ~VidFrameSource() = default;
    // Starts acquisition; false with `error` in plain words.
    virtual bool start(std::string& error) = 0;
    // The next frame, waiting at most timeout_ms; false when none came.
    virtual bool next(VidSourceFrame& frame, int timeout_ms) = 0;
    // Gives a frame's buffer back to the source.
    virtual void release(VidSourceFrame& frame) = 0;
    virtual void stop() = 0;
    // Frames the source dropped because every buffer was taken (counted from the start).
    virtual uint64_t underruns() = 0;
    // Damaged frames the source counted itself (for comparison; 0 when it keeps none).
    virtual uint64_t failures() { return 0; }
    virtual int buffers() const = 0;
    // The largest frame id before the ids wrap to 1 (GigE Vision: 65535); 0: they do not.
    virtual uint64_t id_wrap() const { return 0; }
    // Sends a software trigger (sources triggered by software).
    virtual void trigger() {}
};

// Frame ids that never arrived: `count` ids from `first_id`, after clip frame `after_frame`
// (-1: before the first).
struct VidIdGap {
    int64_t after_frame = -1;
    uint64_t first_id = 0;
    uint64_t count = 0;
};

// Follows a camera's frame ids and counts the ones that never came (ids wrap at `wrap`, to 1,
// when it is not 0).
class VidIdTracker {
  public:
    explicit VidIdTracker(uint64_t wrap) : wrap_(wrap) {}
    // A frame with this id arrived after clip frame `after_frame`; returns the ids skipped.
    uint64_t see(uint64_t id, int64_t after_frame);
    uint64_t missing() const { return missing_; }
    const std::vector<VidIdGap>& gaps() const { return gaps_; }

  private:
    uint64_t wrap_;
    bool seen_ = false;
    uint64_t last_ = 0, missing_ = 0;
    std::vector<VidIdGap> gaps_;
};

struct VidRecordStatus {
    int64_t frames = 0;          // written
    double seconds = 0;          // since the first frame
    uint64_t raw_bytes = 0;      // of the frames written, as the clip stores them
    uint64_t stored_bytes = 0;   // their records
    uint64_t recorder_drops = 0; // no free buffer (the recorder fell behind)
    uint64_t incomplete = 0;     // arrived damaged or in part (link or camera)
    uint64_t missing = 0;        // ids that never arrived and the recorder did not drop
    int queued = 0, buffers = 0; // frames waiting for the writer, of the source's buffers
    bool final = false;          // the last call, after the finish
};

struct VidRecordOptions {
    std::string path;
    VidPixelFormat format;
    int width = 0, height = 0;
    int64_t frames = 0;    // stop after this many frames written (0: no count)
    double duration_s = 0; // stop after this long from the first frame (0: no limit)
    double frame_rate = 0; // the camera's (0: unknown)
    bool compact = true;
    int effort = 2;
    std::string metadata = "{}"; // a JSON object: the camera's description
    // Set (by a signal handler, another thread) to end the recording with a finished file.
    const std::atomic<bool>* stop = nullptr;
    // Software trigger: the recorder sends triggers at frame_rate (or 10 per second).
    bool software_trigger = false;
    // Called on the recording thread about every progress_interval_s, at once when a drop
    // count changes, and once at the end.
    std::function<void(const VidRecordStatus&)> progress;
    double progress_interval_s = 0.5;
    // Stops when no frame came for this long (0: waits for ever).
    double no_frame_timeout_s = 10;
};

struct VidRecordSummary {
    VidRecordStatus status;
    std::vector<VidIdGap> gaps;
    uint64_t source_failures = 0; // the source's own count of damaged frames
    std::string ended_by;         // "frames", "duration", "stop", "no frames", "error"
};

// Records from `source` (not yet started) into options.path. True with a finished file and
// the summary; false with `error` (the file then keeps every frame written, as after a crash).
bool vid_record(VidFrameSource& source, const VidRecordOptions& options, VidRecordSummary& summary,
                VidError& error);
// The summary as a JSON object: counts by cause and the gaps (at most `most_gaps` listed).
std::string vid_record_drops_json(const VidRecordSummary& summary, size_t most_gaps = 1000);
