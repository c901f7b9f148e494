// Movies for talks: frames piped into the ffmpeg on the PATH, which writes H.264 (yuv420p)
// into an MP4 under a temporary name beside the output; the movie takes its name only when
// ffmpeg has finished it. POSIX systems; the Windows build says it cannot.
#pragma once

#include <cstdio>
#include <string>

// Lets writes into a closed pipe fail with EPIPE instead of ending the program (SIGPIPE).
void vid_ignore_broken_pipes();

class MovieEncoder {
  public:
    MovieEncoder() = default;
    MovieEncoder(const MovieEncoder&) = delete;
    MovieEncoder& operator=(const MovieEncoder&) = delete;
    ~MovieEncoder(); // an unfinished movie is abandoned: ffmpeg stopped, the temporary removed

    // Starts ffmpeg for width x height rgb24 frames (both even: yuv420p needs them so) at `fps`
    // into `out` (CRF `quality`, +faststart). False with `error` in one line.
    bool start(const std::string& out, int width, int height, double fps, int quality,
               std::string& error);
    // Where the frames go (rgb24, rows from the top).
    FILE* input() const { return input_; }
    const std::string& name() const { return out_; }
    // Closes the input and waits for ffmpeg. With `complete` and ffmpeg's success the movie is
    // synced and renamed into place; otherwise it is removed. False with `error` (ffmpeg's
    // missing or its own last words) when no movie was made.
    bool finish(bool complete, std::string& error);

  private:
    std::string out_, temp_, log_;
    FILE* input_ = nullptr;
    long pid_ = -1;
};
