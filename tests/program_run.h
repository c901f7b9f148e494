// A program of the build run as a real process through the shell, in a folder of the test's
// own: its exit status and what it wrote on standard output and standard error. The one
// harness of the tests of the command-line programs (vid_cli_fixture.h builds on it).
#pragma once

#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "vid_test_files.h"

namespace vidtest {

struct Outcome {
    int status = -1; // the exit status, -1 when the program did not exit
    std::string out, err;
};

// The program's path in the build (VID_BIN_DIR, else the current folder).
inline std::string bin_path(const char* program)
{
    const char* bin = getenv("VID_BIN_DIR");
    return std::string(bin ? bin : ".") + "/" + program;
}

inline std::string text_of(const std::string& path)
{
    Bytes b = read_file(path);
    return std::string(b.begin(), b.end());
}

// Runs the shell command line `line` in the folder `dir`. What it writes on standard output
// and error (where the line does not send it elsewhere) is kept in dir/.out and dir/.err.
inline Outcome run_in(const std::string& dir, const std::string& line)
{
    Outcome r;
    const std::string command = "cd '" + dir + "' && (" + line + ") > .out 2> .err";
    int raw = system(command.c_str());
    if (raw != -1 && WIFEXITED(raw))
        r.status = WEXITSTATUS(raw);
    r.out = text_of(dir + "/.out");
    r.err = text_of(dir + "/.err");
    return r;
}

} // namespace vidtest
