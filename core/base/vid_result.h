// What went wrong, as data: the one shape in which the container, the read path and the salvage
// path hand a failure to the programs and the bindings. Each front end turns it into its own
// error (an exit status, a Python exception, a MATLAB identifier) by the result code, and
// into its message with vid_error_message; none of them reads the report's text to find out
// what happened.
#pragma once

#include <string>

// The kinds of failure. The values are stable: bindings and tests may store them.
enum class VidResult : int {
    ok = 0,
    not_found = 1,          // the path names nothing (ENOENT, ENOTDIR) or no path was given
    not_permitted = 2,      // the system refused access (EACCES, EPERM, EROFS)
    not_regular = 3,        // a folder, pipe or device where a file was wanted
    not_vid_file = 4,       // the header or the table describes no VID file
    damaged_record = 5,     // a record that does not give its frame
    frame_out_of_range = 6, // a frame number outside the file's frames
    read_failed = 7,        // the system failed a read, or the file ended early
    write_failed = 8,       // the system failed a write, a flush, a sync or a rename
    out_of_memory = 9,      // a buffer the file needs could not be allocated
    bad_argument = 10,      // a caller's value, refused before anything was touched
    not_open = 11,          // the object is not open for this operation
};

// A failure: its kind, the errno where the system refused (else 0), the 0-based frame it
// concerns (else -1), the file, and what makes it specific in plain words (may be empty).
struct VidError {
    VidResult result = VidResult::ok;
    int error_number = 0;
    int frame = -1;
    std::string file;
    std::string detail;
};

// A failure of `result` for `file`, with its detail, the system's errno and the frame.
VidError vid_error(VidResult result, const std::string& file, const std::string& detail,
                   int error_number = 0, int frame = -1);

// The kind in plain words ("not a VID file").
const char* vid_result_words(VidResult result);
// The kind the system's errno tells, or `otherwise` when it tells none of ours.
VidResult vid_result_of_errno(int error_number, VidResult otherwise);

// One line naming the file, the frame in the caller's numbering (frame + frame_base: 0 for
// the programs, Python and clipReadMex, 1 for VidReader), the reason and the system's reason:
//   "clip.vid: frame 40: damaged record (its record does not expand to the frame's 921600
//   bytes)"
//   "nofile.vid: No such file or directory"
std::string vid_error_message(const VidError& error, int frame_base = 0);
