// SER (the astronomy capture format, version 3): mono, Bayer and RGB/BGR frames of 8 or 16
// bits, back to back behind a 178-byte header, with a trailer of per-frame UTC times. Reading
// checks every field against the file's size before any frame is taken; writing keeps the
// output under a temporary name until it is complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vid_format.h"
#include "vid_result.h"
#include "vid_sensor.h"

constexpr int kVidSerHeaderBytes = 178;
// 100 ns ticks from 0001-01-01 to the UNIX epoch.
constexpr int64_t kVidSerUnixEpochTicks = 621355968000000000;

struct VidSerInfo {
    int color_id = 0;          // 0 mono, 8-11 Bayer RGGB GRBG GBRG BGGR, 100 RGB, 101 BGR
    bool little_endian = true; // two-byte samples (the header's flag as Siril reads it: 0)
    int width = 0, height = 0, depth = 8;
    int64_t frames = 0;
    std::string observer, instrument, telescope;
    int64_t date_utc_ticks = 0;
    VidKind kind = VidKind::none; // what a clip stores
    VidCfa cfa = VidCfa::none;
    size_t frame_bytes = 0;             // as stored in the SER file
    std::vector<int64_t> timestamps_ns; // UNIX ns, kVidNoTimestamp where none (empty: no trailer)
};

// Opens and checks a SER file: false with `error` (naming the file and the reason) for
// anything that is not a whole SER file this system can hold.
bool vid_ser_open(const std::string& path, FILE*& f, VidSerInfo& info, VidError& error);
// Frame k's samples as a clip stores them (two-byte ones little-endian, BGR turned to RGB).
bool vid_ser_read_frame(FILE* f, const VidSerInfo& info, int64_t k, unsigned char* out,
                        VidError& error, const std::string& path);
// True for the bytes of a SER file's start.
bool vid_is_ser(const unsigned char* head, size_t n);

// Writes SER frames one by one: the header when opened (the frame count is known then, so
// that a pipe can take the file too), the trailer of times at the finish; under a temporary
// name until the finish (vid_output_file.h).
class VidSerWriter {
  public:
    VidSerWriter();
    ~VidSerWriter();
    VidSerWriter(const VidSerWriter&) = delete;
    VidSerWriter& operator=(const VidSerWriter&) = delete;
    // kind and cfa give the ColorID; depth the significant bits (1 to 8 for one-byte kinds, 9
    // to 16 for two-byte ones); start_ns the recording's start (UNIX ns, 0: unknown).
    bool open(const std::string& path, int width, int height, VidKind kind, VidCfa cfa, int depth,
              int64_t frames, int64_t start_ns, VidError& error);
    // A frame as a clip stores it; timestamp in UNIX ns (kVidNoTimestamp: none).
    bool write(const unsigned char* frame, int64_t timestamp_ns, VidError& error);
    // The trailer (when any frame has a time), flush, sync, rename.
    bool finish(VidError& error);

  private:
    struct Out;
    Out* out_;
    std::string path_;
    size_t frame_bytes_ = 0;
    bool rgb_ = false;
    int64_t frames_ = 0, written_ = 0;
    std::vector<int64_t> ticks_;
    bool any_time_ = false;
};
