// Shared plumbing of the vid subcommands: the option table with its usage and parser, the
// container's failures in one line, JSON strings and a progress bar. Files written under a
// temporary name go through vid_output_file.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <vector>

#include "vid_result.h"

class VidHeader;

// One option of a subcommand: its name ("--frames"), another spelling or null ("-o" beside
// "--output"), the value it takes as the usage shows it (null for a flag), one help line.
struct VidOption {
    const char* name;
    const char* alias;
    const char* value;
    const char* help;
};

// A subcommand's command line: its name, its operands as the usage line shows them
// ("FILE..."), what it does (the text between the usage line and the options), its options,
// and what follows them (exit status). The usage and --help are made from this table.
struct VidSubcommand {
    const char* name;
    const char* operands;
    const char* description;
    std::vector<VidOption> options;
    const char* epilogue;
    size_t min_operands; // fewer is a usage error, worded `too_few`
    const char* too_few;
};

// A parsed command line: the operands in order, and each option's values in order (a flag
// holds one empty value per time it was given), by the option's name.
struct VidArgs {
    std::vector<const char*> operands;
    std::vector<std::pair<const char*, const char*>> given;
    bool has(const char* name) const;
    // The last value given for `name`, or null.
    const char* value(const char* name) const;
    std::vector<const char*> values(const char* name) const;
};

// The usage text: "usage: vid NAME OPERANDS [OPTIONS]", the description, one line per option.
std::string vid_cli_usage_text(const VidSubcommand& sub);
// Parses argv[1..argc-1] by the table: "--name VALUE", "--name=VALUE", flags, "--" (every later
// argument is an operand, even one that begins with "-"), "-" (an operand: standard input or
// output). Returns -1 when the command goes on, 0 after printing --help / -h, 2 after a usage
// error ("unknown option X", "X needs a value", fewer operands than the table asks) printed on
// stderr.
int vid_cli_parse(const VidSubcommand& sub, int argc, char** argv, VidArgs& args);

// A frame range "A:B" (frames A to B-1), "A:" or ":B" (one end open: last is -1 for the
// end), or "A" (frame A alone). False for anything else or a negative number.
bool vid_cli_parse_range(const char* text, long& first, long& last);

// Prints "vid SUB: PROBLEM" and a pointer to "vid SUB --help" on stderr; returns 2.
int vid_cli_usage_error(const char* sub, const std::string& problem);

// What `vid info --json` prints for one file, as one JSON object and a newline.
std::string vid_info_json(const char* path);

// A failure of the container in one line: file, frame (0-based), reason, the system's reason.
std::string vid_cli_error(const VidHeader& v);

// JSON string with the characters JSON requires escaped. File names are bytes: a byte that
// is not part of well-formed UTF-8 is written as \udcXX (XX the byte), the escape Python's
// os.fsdecode uses for it, so the output is always valid JSON and the name can be restored.
std::string vid_cli_json_string(const char* text);
// `text` for a terminal: control characters (C0, DEL and C1) escaped as \n, \t, \xNN or
// \u00NN, so that stored bytes never drive the terminal; everything else as it is.
std::string vid_cli_printable(const std::string& text);
// b - a in seconds, for any two timestamps: exact where the difference fits 64 bits, in
// doubles where it does not (the int64 extremes).
inline double vid_cli_seconds_between(int64_t a, int64_t b)
{
    int64_t d = 0;
    if (!__builtin_sub_overflow(b, a, &d))
        return double(d) / 1e9;
    return (double(b) - double(a)) / 1e9;
}

// A progress bar on stderr, drawn only when stderr is a terminal.
class VidProgress {
  public:
    VidProgress(const char* what, int64_t total);
    void update(int64_t done);
    // For work whose total is known only once it runs.
    void update(int64_t done, int64_t total);
    void done();

  private:
    const char* what_;
    int64_t total_;
    bool shown_;
    int last_percent_ = -1;
};

// A KEY=VALUE value as JSON: a value that is valid JSON (a number, true, false, null, a string
// in quotes, an array, an object) as written, other text as a JSON string. False with `why`
// for a value that starts as an array or object but is no valid JSON.
bool vid_cli_json_value(const std::string& v, std::string& out, std::string& why);
// A KEY=VALUE argument: its key, and its value as JSON (vid_cli_json_value). False with
// `why` ("expected KEY=VALUE", or what is wrong with the value).
bool vid_cli_key_value(const char* argument, std::string& key, std::string& value,
                       std::string& why);
