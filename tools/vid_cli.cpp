// Shared plumbing of the vid subcommands; see vid_cli.h.
#include "vid_cli.h"

#include "file_offset.h"

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
    std::string in = text, out;
    for (size_t i = 0; i < in.size(); i++) {
        char c = in[i];
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
        if (c == ' ' && (out.empty() || out.back() == ' '))
            continue;
        out += c;
    }
    const char* banner = "Framewise error ";
    size_t at;
    while ((at = out.find(banner)) != std::string::npos)
        out.erase(at, strlen(banner));
    // Drop "Source:123 " prefixes: the place in our sources means nothing to a user.
    std::string clean;
    size_t i = 0;
    while (i < out.size()) {
        size_t space = out.find(' ', i);
        std::string word =
            out.substr(i, space == std::string::npos ? std::string::npos : space - i);
        size_t colon = word.find(':');
        bool place = colon != std::string::npos && colon > 0 && colon + 1 < word.size() &&
                     word.find_first_not_of("0123456789", colon + 1) == std::string::npos;
        if (!place)
            clean += (clean.empty() ? "" : " ") + word;
        if (space == std::string::npos)
            break;
        i = space + 1;
    }
    while (!clean.empty() && clean.back() == ' ')
        clean.pop_back();
    snprintf(text, in.size() + 1, "%s", clean.c_str());
}

VidReaderText::VidReaderText() : stream_(tmpfile()) {}

VidReaderText::~VidReaderText()
{
    if (stream_)
        fclose(stream_);
}

std::string VidReaderText::text(const char* fallback)
{
    if (stream_ == nullptr)
        return fallback;
    std::vector<char> buffer(4096, '\0');
    rewind(stream_);
    size_t got = fread(buffer.data(), 1, buffer.size() - 1, stream_);
    buffer[got] = '\0';
    // Start afresh for the next report.
    fclose(stream_);
    stream_ = tmpfile();
    vid_cli_condense(buffer.data());
    return buffer[0] ? std::string(buffer.data()) : std::string(fallback);
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
