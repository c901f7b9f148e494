// Shared plumbing of the vid subcommands; see vid_cli.h.
#include "vid_cli.h"

#include "file_offset.h"
#include "report.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

int vid_cli_help(const char* usage)
{
    fputs(usage, stdout);
    return 0;
}

int vid_cli_usage_error(const char* sub, const std::string& problem)
{
    fprintf(stderr, "vid %s: %s (see vid %s --help)\n", sub, problem.c_str(), sub);
    return 2;
}

void vid_cli_condense(char* text)
{
    std::string clean = vid_report_plain(text);
    memcpy(text, clean.c_str(), clean.size() + 1); // never longer than the text
}

bool vid_cli_end_of_options(int argc, char** argv, int i, bool& options_ended)
{
    (void)argc;
    if (!options_ended && strcmp(argv[i], "--") == 0) {
        options_ended = true;
        return true;
    }
    return false;
}

VidReaderText::VidReaderText() : stream_(tmpfile()) {}

VidReaderText::~VidReaderText()
{
    if (stream_)
        fclose(stream_);
}

std::string VidReaderText::text(const char* fallback, int error_number)
{
    std::string report;
    if (stream_ != nullptr && fflush(stream_) == 0) {
        // The reader keeps writing into this stream: it is read from where the last call
        // stopped, never closed or replaced while the reader lives.
        int64_t end = vid_ftell(stream_);
        if (end > read_until_ && vid_fseek(stream_, read_until_, SEEK_SET) == 0) {
            std::vector<char> buffer(size_t(end - read_until_) + 1, '\0');
            size_t got = fread(buffer.data(), 1, buffer.size() - 1, stream_);
            buffer[got] = '\0';
            report = vid_report_plain(buffer.data());
        }
        vid_fseek(stream_, 0, SEEK_END);
        read_until_ = end > read_until_ ? end : read_until_;
    }
    if (report.empty())
        report = fallback;
    if (error_number != 0) {
        std::string reason = strerror(error_number);
        if (report.find(reason) == std::string::npos)
            report += (report.empty() ? "" : ": ") + reason;
    }
    return report;
}

VidProgress::VidProgress(const char* what, int64_t total)
    : what_(what), total_(total), shown_(vid_is_terminal(stderr) && total > 1)
{
}

void VidProgress::update(int64_t done)
{
    if (!shown_)
        return;
    int percent = int(100 * done / total_);
    if (percent == last_percent_)
        return;
    last_percent_ = percent;
    char bar[31];
    int filled = percent * 30 / 100;
    for (int i = 0; i < 30; i++)
        bar[i] = i < filled ? '#' : '.';
    bar[30] = '\0';
    fprintf(stderr, "\r%s [%s] %3d%% (%lld/%lld)", what_, bar, percent, (long long)done,
            (long long)total_);
}

void VidProgress::done()
{
    if (shown_ && last_percent_ >= 0)
        fprintf(stderr, "\r%*s\r", 70, "");
}

FILE* vid_cli_create_temporary(const std::string& path, std::string& temp_name, std::string& error)
{
    // A name beside `path` that nothing has yet: the file is created exclusively.
    for (int attempt = 0; attempt < 1000; attempt++) {
        temp_name = path + ".partial" + std::to_string(attempt);
        FILE* f = vid_fopen_new(temp_name.c_str());
        if (f != nullptr)
            return f;
        if (errno != EEXIST)
            break;
    }
    error = path + ": cannot create a file there: " + strerror(errno);
    temp_name.clear();
    return nullptr;
}

bool vid_cli_finish_temporary(FILE* f, const std::string& temp_name, const std::string& path,
                              bool ok, std::string& error)
{
    int write_error = ferror(f) ? errno : 0;
    if (fclose(f) != 0 && ok) {
        ok = false;
        error = path + ": cannot write: " + strerror(errno);
    }
    if (ok && write_error != 0) {
        ok = false;
        error = path + ": cannot write: " + strerror(write_error);
    }
    if (ok && vid_replace_file(temp_name.c_str(), path.c_str()) != 0) {
        ok = false;
        error = path + ": cannot rename the finished file into place: " + strerror(errno);
    }
    if (!ok)
        remove(temp_name.c_str());
    return ok;
}
