// VidHeader: one open VID file, for reading or for writing, with the buffers one frame needs
// on its way between the file and an image in memory.
//
// A VID file is an 8-byte header (width field, height, signed frame count; little-endian),
// a table of 64-bit record offsets, and one record per frame (classic or compact:
// vid_record.h), with a recording's clip block between the table and record 0 (vid_clip.h).
// A reader loads the whole table at opening and reads any frame by number into `pixmap`
// (its frame buffers come with the first read: frameBuffers), demosaicing Bayer frames, or
// takes a frame's samples as stored. A writer appends the frame in `pixmap` (RGB, or a Bayer
// writer's mosaic) and makes each frame part of the file as it is written: record, timestamp,
// table entry, then the header's count; finish() (or the destructor) completes the file.
//
// The class is a plain record: public fields in a fixed order, no virtual functions and no
// pointer into itself, so that a byte copy of an open object (the MATLAB handle) can run
// every operation. Used by one thread at a time.
//
// The object never prints and never raises: an operation that fails returns false (a
// constructor leaves an object that is not isOpen()), with its report formatted into
// errMessage ("VidHeader:<line> <text>", report_pending set), what the codec and the demosaic
// reported on the way in prior_reports, and the failure as data beside them (result,
// error_number, error_frame, error_detail; lastError()). The front ends show it their way:
// the command-line programs print it (vid_show_report.h), the MEX functions raise it, the
// bindings turn lastError() into their own errors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "vid_format.h"
#include "vid_result.h"

struct VidExpandedBytes; // compress_uncompress_MT.h

class VidHeader;
// Abandons a writer at the end of a scope unless it was finished: for jobs whose every early
// return must leave no partial output (declare it right after the writer).
class VidAbandonUnfinished;

// What a writer of the recording interfaces is asked to make.
struct VidRecording {
    VidKind kind = VidKind::rgb;
    int effort = 9;                   // compression effort, 1 (fastest) to 9 (smallest)
    bool compact = false;             // compact records (vid_compact.h) instead of classic ones
    bool clip_block = true;           // false: no block, the bytes of the classic writer
    double frame_rate = 0;            // frames per second; 0: unknown
    const char* start_time = nullptr; // ISO 8601 UTC; null or "": the creation time
    const char* metadata = nullptr;   // a JSON object; null or "": {}
    // The file lies under a temporary name beside its own (videoFileName holds that name)
    // until finish() succeeds, which then syncs it and gives it its name: a file that is not
    // complete never takes the name (vid import). The destructor of a writer never finished
    // completes the file but leaves it under the temporary name.
    bool named_at_finish = false;
    // A frame written without a timestamp takes the host's clock; false: it keeps none
    // (kVidNoTimestamp), as an import of frames whose times are not known.
    bool host_clock_times = true;
    // The 32-byte start-time field of the recording this file is a copy of (vid convert): its
    // start time and identity are kept. Empty: a new recording, with a new identity.
    std::string same_recording;
};

class VidHeader {
  public:
    char videoFileName[5000];         // path, always NUL-terminated
    char errMessage[10000];           // text of the most recent report
    FILE* videoFile;                  // the open file, or null
    int file_open_read_or_write;      // 0 reader, 1 writer
    int vid_is_bayer_interpolated;    // 1: Bayer frames, uncompressed_buffer is its own allocation
    int vid_uses_two_bytes_per_pixel; // Bayer: 1 two-byte samples, 0 one-byte samples
    int width;
    int height;
    int num_frames;    // reader: frames in the file; writer: frames reserved
    int current_frame; // writer: frames written; reader: next frame for readNextFrameFromVideoFile
    int pixmap_size;   // width * 3 * height
    int start_frame_number;
    int end_frame_number;
    double set_brightness;
    int64_t* offsets;                       // num_frames record offsets (the file's table)
    unsigned long compressed_buffer_size;   // 2 * uncompressed_buffer_size
    unsigned long uncompressed_buffer_size; // one expanded frame
    unsigned char* compressed_buffer;       // one record; null in every failed state
    unsigned char* uncompressed_buffer;     // one expanded frame (== pixmap for RGB)
    unsigned char* pixmap;                  // the RGB frame, rows from the top, R G B
    FILE* error_outfile;                    // where a program shows reports, may be null
    int compression_effort;                 // writer: 1 (fastest) to 9 (zlib level 9)
    int table_grows;                        // writer: frames beyond num_frames are taken
    int64_t file_bytes; // reader: the file's size at opening (the last record's end)
    // The most recent failure, as data (lastError). Every report rewrites these fields, so the
    // MATLAB handle's checksum leaves them out, as it leaves out errMessage.
    int error_number;   // errno where the system refused, else 0
    VidResult result;   // its kind; ok after a clean open, read or write
    int error_frame;    // its 0-based frame, or -1
    int report_pending; // 1: errMessage holds a report of the last operation, not yet shown
    // What the codec and the demosaic reported during the last operation, in order, shown
    // before errMessage: "<file>:<line> <text>" lines (a longer text is cut).
    char prior_reports[2048];
    char error_detail[1024]; // what makes it specific, in plain words, or ""
    // A writer's clip block (vid_clip.h): where it starts (0: the file has none), its timestamp
    // slots, and the timestamps of every frame written (timestamps_room allocated).
    int64_t clip_block_at;
    int64_t clip_slots;
    int64_t* timestamps;
    int64_t timestamps_room;
    // A writer's timestamps for frames written without one (owned; freed with the object):
    // frame k takes given_timestamps[k] while k < given_timestamps_count (a copy of clips).
    int64_t* given_timestamps;
    int64_t given_timestamps_count;
    // Writer: 1 when frames are written as compact records (vid_compact.h), 0 for classic ones.
    int compact_records;
    // Writer: 1 when frames written without a timestamp take the host's clock, 0 when they keep
    // none (VidRecording::host_clock_times).
    int host_clock_times = 1;
    // A writer named at its finish (VidRecording::named_at_finish): the name it takes then
    // (owned), else null.
    char* final_name;
    // Hands the writer its frames' timestamps (copied); false when out of memory.
    bool giveTimestamps(const int64_t* stamps, int64_t count);

    // Empty object; no deliverable uses it.
    VidHeader();
    // Opens an existing file for reading.
    VidHeader(const char* inVideoFileName, FILE* in_error_outfile);
    // Creates (truncates) a file for writing out_num_frames frames of out_width x out_height,
    // compressing each frame at compression_effort (see compress_MT_at_effort; 9 gives the
    // bytes of every earlier writer). An effort outside 1 to 9 is refused before the file is
    // created.
    VidHeader(const char* outVideoFileName, FILE* in_error_outfile, int out_width, int out_height,
              int out_num_frames, int compression_effort = 9);
    // Creates a writer of the recording interfaces: RGB frames or Bayer mosaics (one or two
    // bytes per sample, stored as given in pixmap, pixmap_size bytes, two-byte samples
    // little-endian), with a clip block (timestamps, frame rate, start time, metadata) unless
    // recording.clip_block is false. Refused arguments leave any existing file untouched.
    VidHeader(const char* outVideoFileName, FILE* in_error_outfile, int out_width, int out_height,
              int out_num_frames, const VidRecording& recording);
    // Finishes a writer (header and table), closes the file and releases the buffers. A failure
    // to finish is kept as the object's last report, which nobody then reads: call finish()
    // first to learn it.
    ~VidHeader();

    // True once the object is completely open (a reader that read its header and table, or
    // a writer that made its file); false after a failed opening, and after the release.
    bool isOpen() const { return compressed_buffer != nullptr; }

    // Reads frame frame_number (0-based) into pixmap.
    bool readFrameFromVideoFile(int frame_number);
    // The same, telling `notify` (when not null) on the codec's workers of the pixmap bytes
    // that are final while the rest still expands (VidExpandedBytes), in files of RGB frames;
    // nothing is told of Bayer frames. On true, all of pixmap is final, told or not.
    bool readFrameFromVideoFile(int frame_number, const VidExpandedBytes* notify);
    // A frame's samples as stored, into uncompressed_buffer, without the demosaic: for Bayer
    // files the mosaic (one or two bytes per sample, little-endian), for RGB files the frame
    // (then in pixmap too). For Bayer files pixmap holds no frame afterwards.
    bool readSamplesFromVideoFile(int frame_number);
    // The length of frame frame_number's record as a read would take it (0: a black frame),
    // or -1 when the frame is out of range or its table entries do not give a record within
    // the file. Reads nothing but the last record's header; reports nothing.
    int64_t recordBytes(int frame_number);
    // A reader's frame buffers (pixmap, and a Bayer file's expansion buffer where its records
    // can expand to a frame), made at the first read that needs them, so that opening a file
    // never costs frame-sized memory. True when pixmap is there; false otherwise, with an
    // out-of-memory report unless `report` is false (then nothing is shown: a caller that
    // must release first says it). Every read calls it; callers that hand pixmap to the codec
    // before a read, or that keep the object's bytes unchanged by reads (the MEX handles),
    // call it first.
    bool frameBuffers(bool report = true);
    // Reads frame current_frame and advances current_frame on success.
    bool readNextFrameFromVideoFile();
    // Compresses the frame in pixmap (RGB, or a Bayer writer's mosaic) and appends it as frame
    // current_frame. A writer with a clip block records the host's clock as its timestamp.
    bool writeNextFrameToVideoFile();
    // The same with the frame's timestamp in nanoseconds (kVidNoTimestamp: the host's clock);
    // a writer without a clip block ignores it.
    bool writeNextFrameToVideoFile(int64_t timestamp_ns);
    // Appends a record made elsewhere as frame current_frame, exactly as the two calls above
    // store theirs: one vid_record_make gives for this writer's kind, records and effort (a
    // recorder compresses the next frame while this one is stored). Frames whose record this
    // writer's buffer could not hold are refused.
    bool writeRecordToVideoFile(const unsigned char* record, unsigned long size,
                                int64_t timestamp_ns);
    // Finishes a writer now: header and table (or the one rewrite of a table that grew), then
    // closes the file; the destructor then only releases the buffers. Returns false, with the
    // report kept and error_number set where the system refused, when the file could not be
    // finished: it then keeps what it had (every frame in its table readable, the frames
    // beyond a grown table behind them, where `vid repair` finds them). A reader, or a writer
    // finished before, returns true.
    bool finish();
    // Gives up a writer without finishing it (or after its finish failed): closes its file and
    // releases the buffers. A writer named at its finish also removes its file, which never
    // had the name; any other writer's file keeps every frame written (as after a crash).
    void abandon();
    // Writes the header (count -current_frame) and the whole offsets table.
    bool writeFrameOffsetsToFile();
    // Lets a writer take more frames than it reserved, for callers that cannot know the
    // count in advance. Frames beyond num_frames are appended behind the others; while the
    // writer runs the file reads as its first num_frames frames (the rest lie behind them,
    // where `vid repair` finds them), and finishing rewrites the file once, with a table of
    // exactly the frames written, under a temporary name that then replaces it. A writer
    // that stays within num_frames finishes exactly as one without this call.
    void growTableWhenFull();

    // The most recent failure as data (kind, errno, frame, file, detail): what the programs
    // and bindings turn into their own errors. result is VidResult::ok when there was none.
    VidError lastError() const;
    // The most recent report's text without its "VidHeader:<line> " place.
    const char* reportText() const;
    // Hands the last operation's reports to `show` (what the codec and the demosaic reported,
    // then errMessage, each only when there is one) and marks them shown; true when there was
    // a report of the container's. Front ends call it to print or raise what went wrong.
    template <class Show> bool takeReports(Show show)
    {
        const bool pending = report_pending != 0;
        report_pending = 0;
        if (prior_reports[0] != '\0')
            show(prior_reports, false);
        prior_reports[0] = '\0';
        if (pending)
            show(errMessage, true);
        return pending;
    }

  private:
    bool readFrame(int frame_number, const VidExpandedBytes* notify, bool demosaic);
    bool storeRecord(const unsigned char* record, unsigned long size, int64_t timestamp_ns);
    void createWriter(const char* name, FILE* error_outfile, int width, int height, int frames,
                      const VidRecording& recording);

  public:
    // Dump a buffer of this object's width x height as binary PPM (RGB) or PGM (one byte).
    // result is VidResult::ok afterwards when the image was written.
    void writePPMimage(const char* imgFileName, unsigned char* write_pixmap);
    void writePGMimage(const char* imgFileName, unsigned char* write_pixmap);
};

class VidAbandonUnfinished {
  public:
    explicit VidAbandonUnfinished(VidHeader& writer) : writer_(writer) {}
    ~VidAbandonUnfinished()
    {
        if (writer_.videoFile != nullptr || writer_.final_name != nullptr)
            writer_.abandon();
    }
    VidAbandonUnfinished(const VidAbandonUnfinished&) = delete;
    VidAbandonUnfinished& operator=(const VidAbandonUnfinished&) = delete;

  private:
    VidHeader& writer_;
};
