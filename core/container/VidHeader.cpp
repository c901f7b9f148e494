// VidHeader: opening, reading, writing and finishing VID files.
//
// The file's layout and rules are in vid_format.h, a record's format and the table in
// vid_record.h, the clip block in vid_clip.h; the failure's data and the report macros in
// vid_header_report.h; the finish's one rewrite of the file in vid_header_files.cpp. Every
// member of the class is defined here.
//
// Every report is formatted into errMessage as "VidHeader:<line> <text>" and kept for the
// front end, which shows it after the operation returned (takeReports). A constructor that
// fails releases whatever it had opened or allocated (pointers not allocated stay null).
#include "VidHeader.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bayer_interpolate_MT.h"
#include "compress_uncompress_MT.h"
#include "le_bytes.h"
#include "vid_files.h"
#include "vid_clip.h"
#include "vid_compact.h"
#include "vid_record.h"
#include "vid_output_file.h"
#include "vid_format.h"
#include "vid_json.h"
#include "vid_kind.h"
#include "vid_sensor.h"
#include "vid_header_report.h"
#include "vid_result.h"

namespace {

// The smallest RGB frame whose record always fits the record buffer of twice its size. A frame
// of S <= 76800 bytes is one block: a 20-byte buffer header plus one zlib stream of at most
// S + (S >> 12) + (S >> 14) + 13 bytes (zlib's bound for incompressible data). 2S holds that
// from S = 33 on; larger frames have several blocks and even wider margins.
const int kMinWritableFrameBytes = 33;

// The empty state shared by all constructors: no file, no buffers, every size 0 (a plain
// record: all of it zeros first), a Bayer reader's flags and the strongest effort.
void clear_fields(VidHeader& v)
{
    memset(static_cast<void*>(&v), 0, sizeof v);
    v.vid_is_bayer_interpolated = 1;
    v.vid_uses_two_bytes_per_pixel = 1;
    v.compression_effort = max_compression_effort;
    vid_header_clear_failure(v);
}

// Closes the file and frees every buffer the object owns, leaving the pointers null.
// Returns false when closing the file failed.
bool release(VidHeader& v)
{
    bool closed = true;
    if (v.videoFile != nullptr && fclose(v.videoFile) != 0)
        closed = false;
    v.videoFile = nullptr;
    // For RGB frames the expanded frame is pixmap itself and is freed once, as pixmap.
    if (v.vid_is_bayer_interpolated == 1 && v.uncompressed_buffer != v.pixmap)
        delete[] v.uncompressed_buffer;
    v.uncompressed_buffer = nullptr;
    delete[] v.pixmap;
    v.pixmap = nullptr;
    delete[] v.compressed_buffer;
    v.compressed_buffer = nullptr;
    delete[] v.offsets;
    v.offsets = nullptr;
    delete[] v.timestamps;
    v.timestamps = nullptr;
    delete[] v.given_timestamps;
    v.given_timestamps = nullptr;
    delete[] v.final_name;
    v.final_name = nullptr;
    return closed;
}

// Copies the path into videoFileName. A path that does not fit (with its terminator) is cut,
// terminated, and refused: opening the cut path could reach another file.
bool copy_name(VidHeader& v, const char* name)
{
    if (name == nullptr)
        return false;
    size_t length = strnlen(name, sizeof v.videoFileName);
    if (length == sizeof v.videoFileName) {
        memcpy(v.videoFileName, name, sizeof v.videoFileName - 1);
        v.videoFileName[sizeof v.videoFileName - 1] = '\0';
        return false;
    }
    memcpy(v.videoFileName, name, length + 1);
    return true;
}

// Writes the header (count -current_frame, the frames actually written) and all num_frames
// table entries. Formats a report into errMessage and returns false on failure; shows nothing.
bool write_header_and_table(VidHeader& v)
{
    if (v.videoFile == nullptr || v.offsets == nullptr || v.file_open_read_or_write != 1) {
        VID_FORMAT(v, VidResult::not_open, -1, nullptr,
                   "video file is not open for writing \n %s \n", v.videoFileName);
        return false;
    }
    // A writer whose table grew has more frames than entries: the file it runs into reads as
    // its first num_frames frames until finishing rewrites it.
    int frames_in_table = v.current_frame < v.num_frames ? v.current_frame : v.num_frames;
    unsigned char header[kVidHeaderBytes];
    vid_encode_header(header, v.width, v.height, frames_in_table, v.vid_is_bayer_interpolated == 1,
                      v.vid_uses_two_bytes_per_pixel == 1);
    if (vid_fseek(v.videoFile, 0, SEEK_SET) != 0 ||
        fwrite(header, 1, sizeof header, v.videoFile) != sizeof header) {
        v.error_number = errno;
        VID_FORMAT(v, VidResult::write_failed, -1, nullptr,
                   "Unable to write header to video file \n %s \n", v.videoFileName);
        return false;
    }
    // The table directly follows the header, so after the header the stream stands at entry 0.
    if (!vid_write_table(v.videoFile, v.offsets, v.num_frames)) {
        v.error_number = errno;
        VID_FORMAT(v, VidResult::write_failed, -1, nullptr,
                   "Error writing offsets to video file \n %s \n", v.videoFileName);
        return false;
    }
    // Records and table may still sit in the stream's buffer; a failed flush loses them.
    if (fflush(v.videoFile) != 0) {
        v.error_number = errno;
        VID_FORMAT(v, VidResult::write_failed, -1, nullptr, "Unable to flush video file \n %s \n",
                   v.videoFileName);
        return false;
    }
    return true;
}

} // namespace

// In a constructor: when cond holds, releases what the object opened, reports and returns.
#define VID_REFUSE_OPENING_IF(cond, result, frame, detail, format, ...)                            \
    do {                                                                                           \
        if (cond) {                                                                                \
            release(*this);                                                                        \
            VID_REPORT(*this, result, frame, detail, format, __VA_ARGS__);                         \
            return;                                                                                \
        }                                                                                          \
    } while (0)

VidHeader::VidHeader()
{
    clear_fields(*this);
}

VidHeader::VidHeader(const char* inVideoFileName, FILE* in_error_outfile)
{
    clear_fields(*this);
    error_outfile = in_error_outfile;
    file_open_read_or_write = 0;
    if (!copy_name(*this, inVideoFileName)) {
        VID_REPORT(*this, VidResult::bad_argument, -1, "the path is missing or too long",
                   "video file name missing or longer than %d bytes \n %s \n",
                   int(sizeof videoFileName) - 1, videoFileName);
        return;
    }

    // Only regular files are opened: a pipe would block the open (and every read) until some
    // writer came, and a device is no recording.
    VidPathKind kind = VidPathKind::regular;
    videoFile = vid_fopen_regular(videoFileName, kind);
    if (videoFile == nullptr) {
        // A folder keeps the system's EISDIR; a pipe or device is refused by us, not the system.
        error_number = kind == VidPathKind::regular || kind == VidPathKind::folder ? errno : 0;
        if (kind != VidPathKind::regular)
            VID_REPORT(
                *this, VidResult::not_regular, -1,
                (std::string("it is ") + vid_path_kind_text(kind) + ", not a VID file").c_str(),
                "Unable to open following video file in  'rb' mode \r\n %s \r\n (it is "
                "%s, not a VID file)\r\n",
                videoFileName, vid_path_kind_text(kind));
        else
            VID_REPORT(*this, vid_result_of_errno(error_number, VidResult::read_failed), -1,
                       nullptr, "Unable to open following video file in  'rb' mode \r\n %s \r\n",
                       videoFileName);
        return;
    }
    unsigned char header[kVidHeaderBytes];
    VID_REFUSE_OPENING_IF(fread(header, 1, sizeof header, videoFile) != sizeof header,
                          VidResult::not_vid_file, -1, "it is shorter than the 8-byte header",
                          "Unable to read from video file \n %s \n", videoFileName);

    const VidFileHeader fields = vid_decode_header(header);
    const int32_t count_field = fields.count_field;
    const int two_bytes = fields.two_bytes ? 1 : 0;
    width = fields.width;
    height = fields.height;
    vid_uses_two_bytes_per_pixel = two_bytes;

    // Refuse what the fields cannot hold before anything is sized from the header.
    VID_REFUSE_OPENING_IF(count_field == INT32_MIN, VidResult::not_vid_file, -1,
                          "its frame count field is out of range",
                          "frame count field %" PRId32 " of video file is out of range \n %s \n",
                          count_field, videoFileName);
    int64_t frame_bytes = int64_t(width) * 3 * int64_t(height);
    VID_REFUSE_OPENING_IF(frame_bytes > kVidMaxFrameBytes, VidResult::not_vid_file, -1,
                          (std::to_string(width) + " x " + std::to_string(height) +
                           " pixel frames exceed 2^31 - 1 bytes")
                              .c_str(),
                          "frames of %d x %d pixels in video file exceed 2^31 - 1 bytes \n %s \n",
                          width, height, videoFileName);
    num_frames = count_field < 0 ? -count_field : count_field;
    vid_is_bayer_interpolated = count_field < 0 ? 0 : 1;
    pixmap_size = int(frame_bytes);
    uncompressed_buffer_size = vid_is_bayer_interpolated
                                   ? (unsigned long)(width * height) << two_bytes
                                   : (unsigned long)pixmap_size;
    current_frame = 0;
    start_frame_number = 0;
    end_frame_number = num_frames;

    // The table must lie within the file: this bounds its allocation by the file's size.
    int64_t file_size = -1;
    if (vid_fseek(videoFile, 0, SEEK_END) == 0)
        file_size = vid_ftell(videoFile);
    file_bytes = file_size;
    VID_REFUSE_OPENING_IF(file_size < kVidHeaderBytes, VidResult::not_vid_file, -1,
                          "it is shorter than the 8-byte header",
                          "Unable to read from video file \n %s \n", videoFileName);
    VID_REFUSE_OPENING_IF(int64_t(num_frames) > (file_size - kVidHeaderBytes) / kVidTableEntryBytes,
                          VidResult::not_vid_file, -1,
                          ("a table of " + std::to_string(num_frames) +
                           " entries does not fit in its " + std::to_string(file_size) + " bytes")
                              .c_str(),
                          "Error reading offsets to video file \n %s \n"
                          " (a table of %d entries does not fit in a file of %" PRId64 " bytes)\n",
                          videoFileName, num_frames, file_size);

    // Buffers are sized by what the file can justify. No record is longer than the bytes
    // behind the table, so the record buffer never exceeds them; frame buffers come with the
    // first read that needs them (frameBuffers).
    const int64_t table_end = vid_table_end(num_frames);
    const int64_t longest_record = file_size - table_end;
    const bool no_frames = num_frames == 0;
    offsets = new (std::nothrow) int64_t[no_frames ? 1 : size_t(num_frames)];
    VID_REFUSE_OPENING_IF(offsets == nullptr, VidResult::out_of_memory, -1, nullptr,
                          "Unable to allocate the frame buffers for video file \n %s \n",
                          videoFileName);

    bool table_read = vid_fseek(videoFile, kVidHeaderBytes, SEEK_SET) == 0 &&
                      vid_read_table(videoFile, offsets, num_frames);
    VID_REFUSE_OPENING_IF(!table_read, VidResult::read_failed, -1, "it ends inside its table",
                          "Error reading offsets to video file \n %s \n", videoFileName);

    // The record buffer comes last: a non-null compressed_buffer marks a complete opening.
    uint64_t record_room = 2 * uint64_t(uncompressed_buffer_size);
    if (uint64_t(longest_record > 0 ? longest_record : 1) < record_room)
        record_room = uint64_t(longest_record > 0 ? longest_record : 1);
    compressed_buffer_size = (unsigned long)record_room;
    compressed_buffer = new (std::nothrow) unsigned char[compressed_buffer_size];
    VID_REFUSE_OPENING_IF(compressed_buffer == nullptr, VidResult::out_of_memory, -1, nullptr,
                          "Unable to allocate the frame buffers for video file \n %s \n",
                          videoFileName);
}

VidHeader::VidHeader(const char* outVideoFileName, FILE* in_error_outfile, int out_width,
                     int out_height, int out_num_frames, int out_compression_effort)
{
    VidRecording classic;
    classic.effort = out_compression_effort;
    classic.clip_block = false;
    createWriter(outVideoFileName, in_error_outfile, out_width, out_height, out_num_frames,
                 classic);
}

VidHeader::VidHeader(const char* outVideoFileName, FILE* in_error_outfile, int out_width,
                     int out_height, int out_num_frames, const VidRecording& recording)
{
    createWriter(outVideoFileName, in_error_outfile, out_width, out_height, out_num_frames,
                 recording);
}

namespace {

// What a writer is asked for, checked before anything is allocated or created, so that a
// refused writer leaves any existing file of that name untouched. Shows the report and
// returns false when refused.
// A writer's sensor description holds: the metadata's sensor keys describe frames of the asked
// kind, and a mono writer's metadata says its pattern is none (added when it does not), which
// needs the clip block. `metadata` then holds what `stored` points at.
bool sensor_request_holds(VidHeader& v, int w, const VidRecording& asked, VidRecording& stored,
                          std::string& metadata)
{
    const bool mono = vid_kind_is_mono(asked.kind);
    if (mono && !asked.clip_block) {
        VID_REPORT(v, VidResult::bad_argument, -1, "mono frames need the clip block",
                   "cannot write mono frames without the clip block to video file \n %s \n",
                   v.videoFileName);
        return false;
    }
    if (!asked.clip_block)
        return true;
    metadata = asked.metadata != nullptr && *asked.metadata != '\0' ? asked.metadata : "{}";
    std::string why;
    // (Spaces behind the object are room a recorder keeps for its finish: kept.)
    const size_t room = metadata.size() - metadata.find_last_not_of(' ') - 1;
    if (mono && !vid_json_with_key(metadata, "cfa", "\"none\"", false, why)) {
        VID_REPORT(v, VidResult::bad_argument, -1, why.c_str(), "%s for video file \n %s \n",
                   why.c_str(), v.videoFileName);
        return false;
    }
    if (mono)
        metadata.append(room, ' ');
    VidSensor sensor;
    if (!vid_sensor_parse(metadata, asked.kind, w, sensor, why)) {
        VID_REPORT(v, VidResult::bad_argument, -1, why.c_str(), "%s for video file \n %s \n",
                   why.c_str(), v.videoFileName);
        return false;
    }
    stored.metadata = metadata.c_str();
    return true;
}

bool writer_request_holds(VidHeader& v, int w, int h, int frames, const VidRecording& recording)
{
    const bool bayer = recording.kind == VidKind::bayer8 || recording.kind == VidKind::bayer16;
    const bool two_bytes = recording.kind != VidKind::bayer8;
    // Widths above 0x8FFF would read back reduced by 0x8FFF.
    if (bayer && !two_bytes && (w < 1 || w > kVidMaxBayer8Width || h < 1 || h > kVidMaxHeight)) {
        VID_REPORT(v, VidResult::bad_argument, -1,
                   "one-byte Bayer frames must be 1 to 28672 pixels wide and 1 to 65535 high",
                   "cannot write one-byte Bayer frames of %d x %d pixels (width 1 to 28672, "
                   "height 1 to 65535) to video file \n %s \n",
                   w, h, v.videoFileName);
        return false;
    }
    if (w < 1 || w > kVidMaxWriterWidth || h < 1 || h > kVidMaxHeight) {
        VID_REPORT(v, VidResult::bad_argument, -1,
                   "frames must be 1 to 36863 pixels wide and 1 to 65535 high",
                   "cannot write frames of %d x %d pixels (width 1 to 36863, height 1 to 65535)"
                   " to video file \n %s \n",
                   w, h, v.videoFileName);
        return false;
    }
    // Readers hold a Bayer frame demosaiced too: its RGB size is bounded as an RGB frame's.
    const int64_t frame_bytes = int64_t(w) * 3 * int64_t(h);
    const int64_t record_bytes =
        bayer ? vid_expanded_frame_bytes(w, h, true, two_bytes) : frame_bytes;
    if (frame_bytes > kVidMaxFrameBytes || record_bytes < kMinWritableFrameBytes) {
        VID_REPORT(v, VidResult::bad_argument, -1, "a frame must hold 33 to 2^31 - 1 bytes",
                   "cannot write frames of %d x %d pixels: a frame must hold %d to 2^31 - 1 "
                   "bytes \n %s \n",
                   w, h, kMinWritableFrameBytes, v.videoFileName);
        return false;
    }
    if (frames < 0) {
        VID_REPORT(v, VidResult::bad_argument, -1, "a negative number of frames cannot be reserved",
                   "cannot reserve %d frames in video file \n %s \n", frames, v.videoFileName);
        return false;
    }
    if (recording.effort < min_compression_effort || recording.effort > max_compression_effort) {
        VID_REPORT(v, VidResult::bad_argument, -1, "the compression effort must be one of 1 to 9",
                   "compression effort %d is not one of 1 to 9 for video file \n %s \n",
                   recording.effort, v.videoFileName);
        return false;
    }
    if (recording.clip_block) {
        const std::string refused =
            vid_clip_check(recording.frame_rate, recording.start_time, recording.metadata);
        if (!refused.empty()) {
            VID_REPORT(v, VidResult::bad_argument, -1, refused.c_str(),
                       "%s for video file \n %s \n", refused.c_str(), v.videoFileName);
            return false;
        }
    }
    return true;
}

// What a new writer holds before it becomes the object's: its buffers, the clip block and
// the file under its temporary name. Released by the destructor unless taken.
struct NewWriter {
    unsigned char* pixmap = nullptr;
    int64_t* offsets = nullptr;
    unsigned char* record = nullptr;
    int64_t* timestamps = nullptr;
    std::vector<unsigned char> block;
    FILE* file = nullptr;
    std::string temp; // empty: the file is written under its own name
    VidPathKind path_kind = VidPathKind::missing;

    ~NewWriter() { release(); }
    // Frees what is still held and removes the temporary file.
    void release()
    {
        delete[] pixmap;
        delete[] offsets;
        delete[] record;
        delete[] timestamps;
        pixmap = record = nullptr;
        offsets = timestamps = nullptr;
        std::vector<unsigned char>().swap(block);
        if (file != nullptr)
            fclose(file);
        file = nullptr;
        if (!temp.empty())
            remove(temp.c_str());
        temp.clear();
    }
};

// The buffers of a writer of `entries` table entries, and its clip block. False on no memory.
bool allocate_writer(const VidHeader& v, size_t entries, const VidRecording& recording,
                     NewWriter& w)
{
    w.pixmap = new (std::nothrow) unsigned char[size_t(v.pixmap_size)];
    w.offsets = new (std::nothrow) int64_t[entries];
    w.record = new (std::nothrow) unsigned char[v.compressed_buffer_size];
    if (w.pixmap == nullptr || w.offsets == nullptr || w.record == nullptr)
        return false;
    if (!recording.clip_block)
        return true;
    VidClip clip;
    clip.frame_rate = recording.frame_rate;
    clip.start_time = recording.start_time != nullptr && *recording.start_time != '\0'
                          ? std::string(recording.start_time)
                          : vid_iso8601_utc(vid_clock_now_ns());
    clip.start_field = recording.same_recording.size() == size_t(kVidClipStartTimeBytes)
                           ? recording.same_recording
                           : vid_clip_new_identity(clip.start_time);
    clip.metadata = recording.metadata != nullptr && *recording.metadata != '\0'
                        ? std::string(recording.metadata)
                        : std::string("{}");
    try {
        w.block = vid_clip_block(clip, {}, int64_t(entries));
    } catch (const std::bad_alloc&) {
        return false;
    }
    w.timestamps = new (std::nothrow) int64_t[entries];
    return w.timestamps != nullptr;
}

// Creates the writer's file. It takes its name only once it is a readable, empty VID file:
// header, table and block go under a temporary name beside it (a follower or reader that
// finds the name never finds fewer than 8 bytes, nor a file of another recording half
// replaced). A device, a pipe or a symbolic link is written directly, as is a file the user
// may write in a folder where nothing may be created. False with errno set.
// A writer named at its finish always goes under a temporary name where the name is a file's
// (a symbolic link is then replaced, never written through: it may lead to the very file a
// conversion reads).
bool create_writer_file(const char* name, bool named_at_finish, NewWriter& w)
{
    w.path_kind = vid_path_kind(name);
    const bool link = vid_is_symbolic_link(name);
    const bool file = w.path_kind == VidPathKind::missing || w.path_kind == VidPathKind::regular;
    int why = 0;
    if ((!link || named_at_finish) && file)
        w.file = vid_create_beside(name, w.temp, why);
    if (named_at_finish && file) {
        if (w.file == nullptr)
            errno = why;
    } else if (w.file == nullptr && (link || w.path_kind != VidPathKind::missing)) {
        w.temp.clear();
        w.file = fopen(name, "w+b"); // read access too: see the finish
    } else if (w.file == nullptr && why != 0) {
        errno = why;
    }
    return w.file != nullptr;
}

// Gives a file written under a temporary name its own: a file that had the name is replaced
// only by a complete one, synced first. The writer then reopens it by name, with read access
// too (a writer whose table grew copies its records when it finishes). False with errno set.
bool name_writer_file(const char* name, NewWriter& w, FILE*& file)
{
    bool ok = fflush(file) == 0 && (w.path_kind != VidPathKind::regular || vid_sync(file) == 0);
    int why = errno;
    ok = fclose(file) == 0 && ok;
    file = nullptr;
    if (ok && vid_replace_file(w.temp.c_str(), name) != 0) {
        why = errno;
        ok = false;
    }
    if (ok)
        w.temp.clear();
    file = ok ? fopen(name, "r+b") : nullptr;
    if (file == nullptr)
        errno = ok ? errno : why;
    return file != nullptr;
}

} // namespace

void VidHeader::createWriter(const char* outVideoFileName, FILE* in_error_outfile, int out_width,
                             int out_height, int out_num_frames, const VidRecording& asked)
{
    // Mono frames are stored as the Bayer kind of their sample width.
    VidRecording recording = asked;
    recording.kind = vid_kind_stored(asked.kind);
    const bool bayer = recording.kind == VidKind::bayer8 || recording.kind == VidKind::bayer16;
    const bool two_bytes = recording.kind != VidKind::bayer8;
    clear_fields(*this);
    error_outfile = in_error_outfile;
    file_open_read_or_write = 1;
    vid_is_bayer_interpolated = bayer ? 1 : 0;
    vid_uses_two_bytes_per_pixel = two_bytes ? 1 : 0;
    width = out_width;
    height = out_height;
    num_frames = out_num_frames;
    end_frame_number = out_num_frames;
    if (!copy_name(*this, outVideoFileName)) {
        VID_REPORT(*this, VidResult::bad_argument, -1, "the path is missing or too long",
                   "video file name missing or longer than %d bytes \n %s \n",
                   int(sizeof videoFileName) - 1, videoFileName);
        return;
    }
    std::string metadata;
    if (!sensor_request_holds(*this, out_width, asked, recording, metadata) ||
        !writer_request_holds(*this, out_width, out_height, out_num_frames, recording))
        return;
    compression_effort = recording.effort;
    compact_records = recording.compact ? 1 : 0;
    host_clock_times = recording.host_clock_times ? 1 : 0;

    // A Bayer writer takes the mosaic as stored in pixmap (which is the record's input), so
    // pixmap_size is the mosaic's size there.
    pixmap_size = int(vid_expanded_frame_bytes(out_width, out_height, bayer, two_bytes));
    uncompressed_buffer_size = (unsigned long)pixmap_size;
    compressed_buffer_size = 2 * uncompressed_buffer_size;
    // A writer reserved for no frames still keeps one entry: where record 0 would start. With a
    // clip block that entry is written, so that readers find the block.
    if (recording.clip_block && out_num_frames < 1)
        out_num_frames = 1;
    num_frames = out_num_frames;
    end_frame_number = out_num_frames;
    const size_t table_entries = out_num_frames > 0 ? size_t(out_num_frames) : 1;
    NewWriter w;
    if (!allocate_writer(*this, table_entries, recording, w)) {
        w.release();
        VID_REPORT(*this, VidResult::out_of_memory, -1, nullptr,
                   "Unable to allocate the frame buffers for video file \n %s \n", videoFileName);
        return;
    }
    if (!create_writer_file(videoFileName, recording.named_at_finish, w)) {
        error_number = errno;
        w.release();
        VID_REPORT(*this, vid_result_of_errno(error_number, VidResult::write_failed), -1, nullptr,
                   "Unable to open following video file in  'wb' mode \r\n %s \r\n", videoFileName);
        return;
    }

    // Record 0 starts right behind the reserved table and the clip block; every unused entry
    // points there too.
    const int64_t first_record = vid_table_end(out_num_frames) + int64_t(w.block.size());
    for (size_t i = 0; i < table_entries; i++)
        w.offsets[i] = first_record;
    if (recording.clip_block) {
        clip_block_at = vid_table_end(out_num_frames);
        clip_slots = out_num_frames;
        timestamps_room = int64_t(table_entries);
    }
    current_frame = 0;
    start_frame_number = 0;
    pixmap = uncompressed_buffer = w.pixmap;
    offsets = w.offsets;
    compressed_buffer = w.record;
    timestamps = w.timestamps;
    videoFile = w.file;
    w.pixmap = w.record = nullptr;
    w.offsets = w.timestamps = nullptr;
    w.file = nullptr;

    // From here on the file is always readable: header (frame count 0) and the reserved
    // table now, and each frame made part of the file as it is written.
    bool written = write_header_and_table(*this);
    if (written && !w.block.empty()) {
        written = fwrite(w.block.data(), 1, w.block.size(), videoFile) == w.block.size() &&
                  fflush(videoFile) == 0;
        if (!written) {
            error_number = errno;
            VID_FORMAT(*this, VidResult::write_failed, -1, nullptr,
                       "Unable to write the clip block to video file \n %s \n", videoFileName);
        }
    }
    if (written && !w.temp.empty() && recording.named_at_finish) {
        // The file keeps its temporary name until finish(); reopened with read access too, as
        // by name_writer_file.
        const size_t n = strlen(videoFileName) + 1;
        final_name = new (std::nothrow) char[n];
        written = fflush(videoFile) == 0;
        written = fclose(videoFile) == 0 && written;
        videoFile = written ? fopen(w.temp.c_str(), "r+b") : nullptr;
        written =
            videoFile != nullptr && final_name != nullptr && w.temp.size() < sizeof videoFileName;
        if (written) {
            memcpy(final_name, videoFileName, n);
            snprintf(videoFileName, sizeof videoFileName, "%s", w.temp.c_str());
            w.temp.clear();
        } else {
            error_number = errno;
            VID_FORMAT(*this, vid_result_of_errno(error_number, VidResult::write_failed), -1,
                       nullptr, "Unable to open following video file in  'wb' mode \r\n %s \r\n",
                       videoFileName);
        }
    } else if (written && !w.temp.empty() && !name_writer_file(videoFileName, w, videoFile)) {
        written = false;
        error_number = errno;
        VID_FORMAT(*this, vid_result_of_errno(error_number, VidResult::write_failed), -1, nullptr,
                   "Unable to open following video file in  'wb' mode \r\n %s \r\n", videoFileName);
    }
    if (!written) {
        release(*this);
        w.release(); // the temporary file, if any
        compressed_buffer = nullptr;
        vid_header_show_report(*this);
        return;
    }
}

namespace {

// Finishes an open writer and closes its file. Formats a report and returns false on failure;
// shows nothing. The file is closed either way.
bool finish_writer(VidHeader& v)
{
    // A file whose name another file took meanwhile (another recording to the same name) is
    // rewritten beside that one, never over it.
    const bool replaced =
        v.videoFile != nullptr && !vid_path_names_file(v.videoFileName, v.videoFile);
    bool finished = replaced || (v.table_grows && v.current_frame > v.num_frames)
                        ? vid_header_rewrite_exact_table(v)
                        : write_header_and_table(v);
    // The block says the writer finished (a grown rewrite wrote its new file so already): the
    // file is complete from here on, whatever the compaction below meets.
    if (finished && v.videoFile != nullptr && v.clip_block_at > 0) {
        finished = vid_clip_mark_finished(v.videoFile, v.clip_block_at, v.clip_slots) &&
                   fflush(v.videoFile) == 0;
        if (!finished) {
            v.error_number = errno;
            VID_FORMAT(v, VidResult::write_failed, -1, nullptr,
                       "Unable to write the clip block to video file \n %s \n", v.videoFileName);
        }
    }
    // A recording keeps little unused table: past 64 KiB or 1% of the file (the larger), its
    // finish rewrites it once with an exact table (and block).
    if (finished && v.clip_block_at > 0 && v.videoFile != nullptr &&
        v.current_frame < v.num_frames) {
        const int64_t unused = 2 * kVidTableEntryBytes * int64_t(v.num_frames - v.current_frame);
        int64_t size = -1;
        if (fflush(v.videoFile) == 0 && vid_fseek(v.videoFile, 0, SEEK_END) == 0)
            size = vid_ftell(v.videoFile);
        if (size > 0 && unused > (int64_t(64) << 10) && unused > size / 100)
            finished = vid_header_rewrite_exact_table(v);
    }
    if (v.videoFile != nullptr) {
        int closed = fclose(v.videoFile);
        int why = errno;
        v.videoFile = nullptr;
        if (closed != 0 && finished) {
            v.error_number = why;
            VID_FORMAT(v, VidResult::write_failed, -1, nullptr,
                       "Unable to close video file \n %s \n", v.videoFileName);
            finished = false;
        }
    }
    return finished;
}

// A writer named at its finish takes its name once its file is complete (synced, then renamed;
// a grown table's rewrite may have named it already). False, with a report, when it could not:
// the complete file is then kept under its temporary name.
bool name_finished_file(VidHeader& v)
{
    if (v.final_name == nullptr)
        return true;
    int why = 0;
    if (!vid_commit_beside(v.videoFileName, v.final_name, why)) {
        v.error_number = why;
        const std::string detail = std::string("it is kept, complete, as ") + v.videoFileName;
        VID_FORMAT(v, vid_result_of_errno(why, VidResult::write_failed), -1, detail.c_str(),
                   "Unable to give the finished video file its name \n %s \n (%s); %s\n",
                   v.final_name, strerror(why), detail.c_str());
        return false;
    }
    snprintf(v.videoFileName, sizeof v.videoFileName, "%s", v.final_name);
    delete[] v.final_name;
    v.final_name = nullptr;
    return true;
}

} // namespace

VidHeader::~VidHeader()
{
    bool writer = file_open_read_or_write == 1 && videoFile != nullptr;
    bool finished = !writer || finish_writer(*this);
    release(*this);
    if (!finished)
        vid_header_show_report(*this);
}

bool VidHeader::finish()
{
    if (file_open_read_or_write != 1 || videoFile == nullptr)
        return true;
    vid_header_clear_failure(*this);
    if (finish_writer(*this) && name_finished_file(*this))
        return true;
    vid_header_show_report(*this);
    return false;
}

void VidHeader::abandon()
{
    if (file_open_read_or_write != 1 || (videoFile == nullptr && final_name == nullptr))
        return;
    const bool unnamed = final_name != nullptr;
    if (videoFile != nullptr)
        fclose(videoFile);
    videoFile = nullptr;
    if (unnamed)
        remove(videoFileName);
    release(*this);
}

bool VidHeader::frameBuffers(bool report)
{
    if (pixmap != nullptr && (vid_is_bayer_interpolated != 1 || uncompressed_buffer != nullptr))
        return true;
    // pixmap is not cleared here: every read clears it first, and leaving the fresh pages
    // untouched keeps a file that announces a large frame cheap.
    if (pixmap == nullptr)
        pixmap = new (std::nothrow) unsigned char[size_t(pixmap_size)];
    if (pixmap == nullptr) {
        if (report)
            VID_REPORT(*this, VidResult::out_of_memory, -1, nullptr,
                       "Unable to allocate the frame buffers for video file \n %s \n",
                       videoFileName);
        return false;
    }
    if (vid_is_bayer_interpolated != 1) {
        uncompressed_buffer = pixmap;
        return true;
    }
    // A Bayer frame's expansion buffer exists only when the longest record could expand to a
    // whole frame (deflate expands at most about 1032:1); without it only zero-length records
    // (black frames) can be read. No record is longer than the bytes behind the table.
    const int64_t longest_record = file_bytes - vid_table_end(num_frames);
    const bool expandable = longest_record > 0 && uint64_t(uncompressed_buffer_size) <=
                                                      uint64_t(longest_record) * 1040 + 4096;
    if (expandable)
        uncompressed_buffer = new (std::nothrow) unsigned char[uncompressed_buffer_size];
    if (expandable && uncompressed_buffer == nullptr) {
        if (report)
            VID_REPORT(*this, VidResult::out_of_memory, -1, nullptr,
                       "Unable to allocate the frame buffers for video file \n %s \n",
                       videoFileName);
        return false;
    }
    return true;
}

bool VidHeader::readFrameFromVideoFile(int frame_number)
{
    return readFrameFromVideoFile(frame_number, nullptr);
}

bool VidHeader::readFrameFromVideoFile(int frame_number, const VidExpandedBytes* notify)
{
    return readFrame(frame_number, notify, true);
}

bool VidHeader::readSamplesFromVideoFile(int frame_number)
{
    return readFrame(frame_number, nullptr, false);
}

// A failed read leaves a black frame in pixmap, never the previous frame or a part.
#define VID_READ_FAILS(result, frame, detail, format, ...)                                         \
    do {                                                                                           \
        memset(pixmap, 0, size_t(pixmap_size));                                                    \
        VID_REPORT(*this, result, frame, detail, format, __VA_ARGS__);                             \
    } while (0)

bool VidHeader::readFrame(int frame_number, const VidExpandedBytes* notify, bool demosaic)
{
    if (compressed_buffer == nullptr || videoFile == nullptr || file_open_read_or_write != 0) {
        VID_REPORT(*this, VidResult::not_open, -1, "it is not open for reading",
                   "video file is not open for reading \n %s\n", videoFileName);
        return false;
    }
    vid_header_clear_failure(*this);
    if (frame_number < 0 || frame_number >= num_frames) {
        VID_REPORT(*this, VidResult::frame_out_of_range, frame_number,
                   ("the file holds " + std::to_string(num_frames) + " frames").c_str(),
                   "asked frameNumber %d > num_frames %d\n", frame_number, num_frames);
        return false;
    }
    if (!frameBuffers())
        return false;

    int64_t start = offsets[frame_number];
    if (vid_fseek(videoFile, start, SEEK_SET) != 0) {
        VID_REPORT(*this, VidResult::read_failed, frame_number, "its record cannot be reached",
                   "cannot seek to offset for frame_number %d in video_file \n %s\n", frame_number,
                   videoFileName);
        return false;
    }
    int64_t end;
    if (frame_number < num_frames - 1) {
        end = offsets[frame_number + 1];
    } else {
        end = start <= file_bytes ? vid_record_end(videoFile, start, file_bytes) : file_bytes;
        // pixmap is not cleared here: an expansion overwrites it whole, and every failure
        // clears it.
        if (vid_fseek(videoFile, start, SEEK_SET) != 0) {
            VID_REPORT(*this, VidResult::read_failed, frame_number, "its record cannot be reached",
                       "cannot seek to offset for frame_number %d in video_file \n %s\n",
                       frame_number, videoFileName);
            return false;
        }
    }
    // Only a damaged table gives a record that runs backwards or outgrows the record buffer;
    // start >= 0 here since the seek to it succeeded, so end - start cannot overflow.
    if (end < start || uint64_t(end - start) > compressed_buffer_size) {
        VID_READ_FAILS(VidResult::damaged_record, frame_number,
                       "its table entries give no record within the file",
                       "record of frame_number %d in video_file \n %s\n runs from offset %" PRId64
                       " to %" PRId64 ", outside 0 to %lu bytes\n",
                       frame_number, videoFileName, start, end, compressed_buffer_size);
        return false;
    }
    unsigned long length = (unsigned long)(end - start);
    if (length == 0) {
        // A zero-length record is a black frame (and a mosaic of zeros).
        if (vid_is_bayer_interpolated == 1 && uncompressed_buffer != nullptr)
            memset(uncompressed_buffer, 0, uncompressed_buffer_size);
        memset(pixmap, 0, size_t(pixmap_size));
        return true;
    }
    if (uncompressed_buffer == nullptr) {
        VID_READ_FAILS(VidResult::damaged_record, frame_number,
                       ("its record of " + std::to_string(length) +
                        " bytes cannot expand to the frame's " +
                        std::to_string(uncompressed_buffer_size) + " bytes")
                           .c_str(),
                       "record of frame_number %d in video_file \n %s\n (%lu bytes) cannot expand "
                       "to a frame of %lu bytes\n",
                       frame_number, videoFileName, length, uncompressed_buffer_size);
        return false;
    }

    if (fread(compressed_buffer, length, 1, videoFile) != 1) {
        error_number = ferror(videoFile) ? errno : 0;
        VID_READ_FAILS(VidResult::read_failed, frame_number,
                       error_number != 0 ? nullptr : "the file ends inside its record",
                       "cannot read frame_number %d in video_file \n %s\n", frame_number,
                       videoFileName);
        return false;
    }
    unsigned char* expanded = uncompressed_buffer;
    unsigned long expanded_size = uncompressed_buffer_size;
    // RGB records expand straight into pixmap, so what the codec finishes is final there.
    std::string codec_report;
    const int codec = vid_record_expand(
        expanded, expanded_size, compressed_buffer, length, width, height,
        vid_kind_of(vid_is_bayer_interpolated == 1, vid_uses_two_bytes_per_pixel == 1),
        expanded == pixmap ? notify : nullptr, &codec_report);
    vid_header_keep_prior(*this, codec_report);
    if (codec != 0 || expanded_size != uncompressed_buffer_size) {
        // Whatever the failed expansion left in the frame is not shown as this frame.
        const std::string detail = codec == VID_CODEC_MEM_ERROR
                                       ? std::string("its record could not be expanded")
                                       : "its record does not expand to the frame's " +
                                             std::to_string(uncompressed_buffer_size) + " bytes";
        VID_READ_FAILS(codec == VID_CODEC_MEM_ERROR ? VidResult::out_of_memory
                                                    : VidResult::damaged_record,
                       frame_number, detail.c_str(),
                       "error uncompressing frame_number %d in video: \n", frame_number);
        return false;
    }

    if (vid_is_bayer_interpolated == 1 && demosaic) {
        // The demosaic needs a neighbour on every side: a 1-pixel-wide or -high mosaic would be
        // read out of bounds, so such frames stay black and are reported.
        if (width < 2 || height < 2) {
            VID_READ_FAILS(VidResult::not_vid_file, frame_number,
                           "Bayer frames below 2 x 2 pixels cannot be demosaiced",
                           "cannot demosaic frame_number %d: Bayer frames of %d x %d pixels are "
                           "below 2 x 2\n",
                           frame_number, width, height);
            return false;
        }
        std::string demosaic_report;
        const bool demosaiced =
            vid_demosaic(uncompressed_buffer, pixmap, unsigned(width), unsigned(height),
                         vid_uses_two_bytes_per_pixel ? 1 : 0, &demosaic_report);
        vid_header_keep_prior(*this, demosaic_report);
        if (!demosaiced) {
            VID_READ_FAILS(VidResult::out_of_memory, frame_number, "the demosaic could not run",
                           "cannot demosaic frame_number %d in video_file \n %s\n", frame_number,
                           videoFileName);
            return false;
        }
    }
    return true;
}

bool VidHeader::readNextFrameFromVideoFile()
{
    bool read = readFrameFromVideoFile(current_frame);
    if (read)
        current_frame++;
    return read;
}

bool VidHeader::writeNextFrameToVideoFile()
{
    return writeNextFrameToVideoFile(kVidNoTimestamp);
}

bool VidHeader::writeNextFrameToVideoFile(int64_t timestamp_ns)
{
    if (compressed_buffer == nullptr || videoFile == nullptr || file_open_read_or_write != 1) {
        VID_REPORT(*this, VidResult::not_open, -1, "it is not open for writing",
                   "video file is not open for writing \n %s \n", videoFileName);
        return false;
    }
    if (current_frame >= num_frames && !table_grows) {
        VID_REPORT(*this, VidResult::frame_out_of_range, current_frame,
                   ("the file reserved " + std::to_string(num_frames) + " frames").c_str(),
                   "asked frameNumber %d > num_frames %d\n", current_frame, num_frames);
        return false;
    }
    vid_header_clear_failure(*this);
    if (current_frame == INT32_MAX) {
        VID_REPORT(*this, VidResult::frame_out_of_range, current_frame,
                   "the file holds the most frames it can",
                   "video file holds the most frames it can \n %s\n", videoFileName);
        return false;
    }

    // Classic records are made in a cleared buffer (the bytes every writer wrote); compact
    // records write every byte of theirs, and clearing twice a frame's bytes for each frame
    // costs a recorder a tenth of its time.
    if (compact_records == 0)
        memset(compressed_buffer, 0, compressed_buffer_size);
    unsigned long size = compressed_buffer_size;
    // A frame whose compact record would not fit (the smallest frames) goes as a classic one.
    const VidKind kind =
        vid_kind_of(vid_is_bayer_interpolated == 1, vid_uses_two_bytes_per_pixel == 1);
    std::string codec_report;
    const int made = vid_record_make(compressed_buffer, size, uncompressed_buffer,
                                     uncompressed_buffer_size, width, height, kind,
                                     compact_records != 0, compression_effort, &codec_report);
    vid_header_keep_prior(*this, codec_report);
    if (made != VID_CODEC_OK || size > compressed_buffer_size) {
        VID_REPORT(*this, VidResult::out_of_memory, current_frame,
                   "the frame could not be compressed",
                   "cannot compress current_frame %d for video_file \n %s\n", current_frame,
                   videoFileName);
        return false;
    }
    return storeRecord(compressed_buffer, size, timestamp_ns);
}

bool VidHeader::writeRecordToVideoFile(const unsigned char* record, unsigned long size,
                                       int64_t timestamp_ns)
{
    if (compressed_buffer == nullptr || videoFile == nullptr || file_open_read_or_write != 1) {
        VID_REPORT(*this, VidResult::not_open, -1, "it is not open for writing",
                   "video file is not open for writing \n %s \n", videoFileName);
        return false;
    }
    if ((current_frame >= num_frames && !table_grows) || current_frame == INT32_MAX) {
        VID_REPORT(*this, VidResult::frame_out_of_range, current_frame,
                   ("the file reserved " + std::to_string(num_frames) + " frames").c_str(),
                   "asked frameNumber %d > num_frames %d\n", current_frame, num_frames);
        return false;
    }
    if (record == nullptr || size == 0 || size > compressed_buffer_size) {
        VID_REPORT(
            *this, VidResult::bad_argument, current_frame, "no record of this writer's frames",
            "bad record for current_frame %d in video_file \n %s\n", current_frame, videoFileName);
        return false;
    }
    vid_header_clear_failure(*this);
    return storeRecord(record, size, timestamp_ns);
}

bool VidHeader::storeRecord(const unsigned char* record, unsigned long size, int64_t timestamp_ns)
{
    // Frames beyond the table go behind the others, at the end of the file.
    int seek = current_frame < num_frames ? vid_fseek(videoFile, offsets[current_frame], SEEK_SET)
                                          : vid_fseek(videoFile, 0, SEEK_END);
    if (seek != 0) {
        VID_REPORT(*this, VidResult::write_failed, current_frame, nullptr,
                   "cannot seek to offset for current_frame %d in video_file \n %s\n",
                   current_frame, videoFileName);
        return false;
    }
    if (fwrite(record, size, 1, videoFile) != 1) {
        error_number = errno;
        VID_REPORT(*this, VidResult::write_failed, current_frame, nullptr,
                   "cannot write current_frame %d in video_file \n %s\n", current_frame,
                   videoFileName);
        return false;
    }
    // The frame becomes part of the file in the order a reader can rely on whenever the
    // process stops: the record (above), then its end in the table, then the header's count,
    // then the stream's buffer handed to the system. A process killed at any moment leaves a
    // file that reads every frame whose write had returned; the bytes of a frame cut short
    // lie behind the last whole record, where readers ignore them.
    bool in_table = current_frame < num_frames;
    bool ok = true;
    if (timestamps != nullptr) {
        // The frame's time goes in before the table and the count make the frame part of the
        // file; frames beyond the block's slots keep theirs for the finish's rewrite.
        if (timestamp_ns == kVidNoTimestamp)
            timestamp_ns = current_frame < given_timestamps_count ? given_timestamps[current_frame]
                           : host_clock_times != 0                ? vid_clock_now_ns()
                                                                  : kVidNoTimestamp;
        if (current_frame >= timestamps_room) {
            int64_t room = 2 * timestamps_room;
            int64_t* grown = new (std::nothrow) int64_t[size_t(room)];
            if (grown == nullptr) {
                VID_REPORT(*this, VidResult::out_of_memory, current_frame, nullptr,
                           "cannot keep the timestamp of current_frame %d for video_file \n %s\n",
                           current_frame, videoFileName);
                return false;
            }
            memcpy(grown, timestamps, size_t(timestamps_room) * sizeof *grown);
            delete[] timestamps;
            timestamps = grown;
            timestamps_room = room;
        }
        timestamps[current_frame] = timestamp_ns;
        if (current_frame < clip_slots) {
            unsigned char stamp[8];
            put_le64(stamp, uint64_t(timestamp_ns));
            ok = vid_fseek(videoFile, clip_block_at + 8 * int64_t(current_frame), SEEK_SET) == 0 &&
                 fwrite(stamp, sizeof stamp, 1, videoFile) == 1;
        }
    }
    if (ok && current_frame < num_frames - 1) {
        offsets[current_frame + 1] = offsets[current_frame] + int64_t(size);
        unsigned char entry[kVidTableEntryBytes];
        put_le64(entry, uint64_t(offsets[current_frame + 1]));
        ok =
            vid_fseek(videoFile, kVidHeaderBytes + kVidTableEntryBytes * int64_t(current_frame + 1),
                      SEEK_SET) == 0 &&
            fwrite(entry, sizeof entry, 1, videoFile) == 1;
    }
    if (ok && in_table) {
        unsigned char count[4];
        const int64_t counted = current_frame + 1;
        put_le32(count, uint32_t(vid_is_bayer_interpolated == 1 ? counted : -counted));
        ok = vid_fseek(videoFile, 4, SEEK_SET) == 0 &&
             fwrite(count, sizeof count, 1, videoFile) == 1;
    }
    if (!ok || fflush(videoFile) != 0) {
        error_number = errno;
        VID_REPORT(*this, VidResult::write_failed, current_frame, nullptr,
                   "cannot write current_frame %d in video_file \n %s\n", current_frame,
                   videoFileName);
        return false;
    }
    current_frame++;
    return true;
}

bool VidHeader::giveTimestamps(const int64_t* stamps, int64_t count)
{
    int64_t* copy = count > 0 ? new (std::nothrow) int64_t[size_t(count)] : nullptr;
    if (count > 0 && copy == nullptr)
        return false;
    if (count > 0)
        memcpy(copy, stamps, size_t(count) * sizeof *copy);
    delete[] given_timestamps;
    given_timestamps = copy;
    given_timestamps_count = count > 0 ? count : 0;
    return true;
}

void VidHeader::growTableWhenFull()
{
    if (file_open_read_or_write == 1)
        table_grows = 1;
}

bool VidHeader::writeFrameOffsetsToFile()
{
    if (!write_header_and_table(*this)) {
        vid_header_show_report(*this);
        return false;
    }
    return true;
}

int64_t VidHeader::recordBytes(int frame_number)
{
    if (compressed_buffer == nullptr || videoFile == nullptr || file_open_read_or_write != 0 ||
        frame_number < 0 || frame_number >= num_frames)
        return -1;
    int64_t start = offsets[frame_number];
    int64_t end = -1;
    if (frame_number < num_frames - 1) {
        end = offsets[frame_number + 1];
        return start >= kVidHeaderBytes && end >= start ? end - start : -1;
    }
    if (start < kVidHeaderBytes || start > file_bytes)
        return -1;
    return vid_record_end(videoFile, start, file_bytes) - start;
}

VidError VidHeader::lastError() const
{
    return vid_error(result, videoFileName, error_detail, error_number, error_frame);
}

const char* VidHeader::reportText() const
{
    const size_t name = strlen(kVidReportName);
    if (strncmp(errMessage, kVidReportName, name) != 0 || errMessage[name] != ':')
        return errMessage;
    const char* p = errMessage + name + 1;
    while (*p >= '0' && *p <= '9')
        p++;
    return *p == ' ' ? p + 1 : errMessage;
}

namespace {

// Writes a width x height image of `channels` bytes per pixel as binary PPM (3) or PGM (1).
// The image is written under a temporary name beside `name` and takes that name only when
// complete, so a full disk never leaves a partial image under the final name.
void write_image(VidHeader& v, const char* name, const unsigned char* data, const char* magic,
                 int channels)
{
    vid_header_clear_failure(v);
    char temp[sizeof v.videoFileName + 32] = {0};
    FILE* image = nullptr;
    if (name != nullptr && strlen(name) < sizeof v.videoFileName) {
        for (int attempt = 0; attempt < 100 && image == nullptr; attempt++) {
            snprintf(temp, sizeof temp, "%s.partial%d", name, attempt);
            image = vid_fopen_new(temp);
            if (image == nullptr && errno != EEXIST)
                break;
        }
    }
    if (image == nullptr) {
        v.error_number = errno;
        VID_REPORT(v, vid_result_of_errno(v.error_number, VidResult::write_failed), -1, nullptr,
                   "Unable to open file to write image \r\n %s", name ? name : "");
        return;
    }
    size_t bytes = 0;
    if (v.width > 0 && v.height > 0)
        bytes = size_t(v.width) * size_t(v.height) * size_t(channels);
    bool ok = fprintf(image, "%s\n%d %d\n255\n", magic, v.width, v.height) > 0;
    if (ok && bytes > 0)
        ok = data != nullptr && fwrite(data, bytes, 1, image) == 1;
    // Flushed, then renamed: the name never holds a partial image. An image is not synced on
    // its own (a clip dumps thousands): the caller syncs once after the last one
    // (vid_sync_file_system). No object with a destructor here: the MATLAB build's report
    // does not unwind.
    ok = fflush(image) == 0 && ok;
    int why = ok ? 0 : errno;
    if (fclose(image) != 0 && ok) {
        ok = false;
        why = errno;
    }
    if (ok && vid_replace_file(temp, name) != 0) {
        ok = false;
        why = errno;
    }
    if (!ok) {
        remove(temp);
        v.error_number = why;
        VID_REPORT(v, VidResult::write_failed, -1, nullptr, "Unable to write image to file \r\n %s",
                   name);
    }
}

} // namespace

void VidHeader::writePPMimage(const char* imgFileName, unsigned char* write_pixmap)
{
    write_image(*this, imgFileName, write_pixmap, "P6", 3);
}

void VidHeader::writePGMimage(const char* imgFileName, unsigned char* write_pixmap)
{
    write_image(*this, imgFileName, write_pixmap, "P5", 1);
}
