// Movies on Windows: this build starts no ffmpeg; see vid_movie.h.
#include "vid_movie.h"

void vid_ignore_broken_pipes() {}

MovieEncoder::~MovieEncoder() {}

bool MovieEncoder::start(const std::string&, int, int, double, int, std::string& error)
{
    error = "MP4 movies are made through ffmpeg on Linux; this Windows build cannot (export "
            "--format raw and run ffmpeg on it)";
    return false;
}

bool MovieEncoder::finish(bool, std::string& error)
{
    error = "no movie was started";
    return false;
}
