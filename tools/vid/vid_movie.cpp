// Movies through ffmpeg, a child process fed through a pipe (POSIX); see vid_movie.h.
#include "vid_movie.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "vid_output_file.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The last non-empty line of a file, at most 300 bytes of it.
std::string last_line(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return "";
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        text.append(chunk, n);
        if (text.size() > 65536)
            text.erase(0, text.size() - 65536);
    }
    fclose(f);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    size_t start = text.find_last_of("\r\n");
    std::string line = start == std::string::npos ? text : text.substr(start + 1);
    return line.size() > 300 ? line.substr(line.size() - 300) : line;
}

} // namespace

void vid_ignore_broken_pipes()
{
    signal(SIGPIPE, SIG_IGN);
}

MovieEncoder::~MovieEncoder()
{
    std::string ignored;
    if (pid_ > 0 || input_ != nullptr)
        finish(false, ignored);
}

bool MovieEncoder::start(const std::string& out, int width, int height, double fps, int quality,
                         std::string& error)
{
    out_ = out;
    int why = 0;
    FILE* placeholder = vid_create_beside(out, temp_, why);
    if (placeholder == nullptr) {
        error = out + ": cannot create a file beside it: " + strerror(why);
        return false;
    }
    fclose(placeholder);
    log_ = temp_ + ".log";
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        error = std::string("cannot make a pipe for ffmpeg: ") + strerror(errno);
        remove(temp_.c_str());
        return false;
    }
    char size[64], rate[64], crf[16];
    snprintf(size, sizeof size, "%dx%d", width, height);
    snprintf(rate, sizeof rate, "%.6g", fps);
    snprintf(crf, sizeof crf, "%d", quality);
    std::vector<std::string> args = {
        "ffmpeg",    "-hide_banner", "-loglevel", "error", "-y", "-f",       "rawvideo",
        "-pix_fmt",  "rgb24",        "-s",        size,    "-r", rate,       "-i",
        "-",         "-c:v",         "libx264",   "-crf",  crf,  "-pix_fmt", "yuv420p",
        "-movflags", "+faststart",   "-f",        "mp4",   temp_};
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("cannot start ffmpeg: ") + strerror(errno);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        remove(temp_.c_str());
        return false;
    }
    if (pid == 0) {
        // The child: frames on standard input, ffmpeg's words into the log.
        dup2(pipe_fds[0], 0);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        int log = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            dup2(log, 2);
            dup2(log, 1);
            close(log);
        }
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execvp("ffmpeg", argv.data());
        _exit(127); // not found (or not runnable)
    }
    close(pipe_fds[0]);
    pid_ = long(pid);
    input_ = fdopen(pipe_fds[1], "wb");
    if (input_ == nullptr) {
        close(pipe_fds[1]);
        std::string ignored;
        finish(false, ignored);
        error = "cannot write to ffmpeg";
        return false;
    }
    return true;
}

bool MovieEncoder::finish(bool complete, std::string& error)
{
    if (input_ != nullptr && fclose(input_) != 0)
        complete = false;
    input_ = nullptr;
    int status = 0;
    if (pid_ > 0) {
        while (waitpid(pid_t(pid_), &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    const bool ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const bool missing = WIFEXITED(status) && WEXITSTATUS(status) == 127;
    std::string words = last_line(log_);
    remove(log_.c_str());
    if (missing) {
        error = "ffmpeg was not found on the PATH (install it, e.g. Debian's ffmpeg, to make "
                "MP4 movies)";
    } else if (!ran) {
        error = "ffmpeg stopped early" +
                (WIFEXITED(status) ? " (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                                   : std::string(" (killed by a signal)")) +
                (words.empty() ? "" : ": " + words);
    } else if (complete) {
        int why = 0;
        if (vid_commit_beside(temp_, out_, why))
            return true;
        error = out_ + ": cannot put the movie in place: " + strerror(why);
    }
    remove(temp_.c_str());
    if (error.empty())
        error = "the movie was not finished";
    return false;
}
