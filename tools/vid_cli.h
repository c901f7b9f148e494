// Shared plumbing of the vid subcommands: usage and help, a report catcher for the
// container, a progress bar, and files written under a temporary name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Prints usage to standard output and returns 0.
int vid_cli_help(const char* usage);
// Prints "vid SUB: PROBLEM" and a pointer to "vid SUB --help" on stderr; returns 2.
int vid_cli_usage_error(const char* sub, const std::string& problem);
// Squeezes a container report into one line in place: "Name:123 " prefixes, CR/LF runs and
// the error banner become single spaces.
void vid_cli_condense(char* text);

// True (and options_ended set) when argv[i] is the "--" that ends the options: every later
// argument is a name, even one that begins with "-".
bool vid_cli_end_of_options(int argc, char** argv, int i, bool& options_ended);

// Gives a VidHeader a stream of its own for its reports, so that a subcommand can put the
// reason of a failure into its own one-line message.
class VidReaderText {
  public:
    VidReaderText();
    ~VidReaderText();
    VidReaderText(const VidReaderText&) = delete;
    VidReaderText& operator=(const VidReaderText&) = delete;
    FILE* stream() const { return stream_; }
    // The reports since the last call, condensed to one line, or `fallback` if none; with
    // the system's reason (strerror(error_number)) added when it is not already said.
    std::string text(const char* fallback, int error_number = 0);

  private:
    FILE* stream_;
    int64_t read_until_ = 0;
};

// A progress bar on stderr, drawn only when stderr is a terminal.
class VidProgress {
  public:
    VidProgress(const char* what, int64_t total);
    void update(int64_t done);
    void done();

  private:
    const char* what_;
    int64_t total_;
    bool shown_;
    int last_percent_ = -1;
};

// Creates a temporary file in the folder of `path` (its name: path + ".partial<n>").
// Returns the open stream, or null with `error` naming the file and the reason.
FILE* vid_cli_create_temporary(const std::string& path, std::string& temp_name, std::string& error);
// Closes the temporary file and, when ok, renames it to `path`; otherwise, or when closing
// or renaming fails, removes it. Returns true when `path` now holds the complete file;
// `error` names the file and the reason otherwise.
bool vid_cli_finish_temporary(FILE* f, const std::string& temp_name, const std::string& path,
                              bool ok, std::string& error);
