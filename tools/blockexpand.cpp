// blockexpand: expands a file that holds exactly one blocked-compress buffer into a file of
// the expanded bytes, then deletes the compressed file.
//
//   blockexpand P     writes P's folder + P's file name cut before its first ".zlib", or
//                     "P.unzlib" when the file name has none
//
// The input is expanded first; the output is written under a temporary name in its folder
// and renamed into place only once it is complete, and the input is deleted only after
// that rename. On any failure the input, an existing output and the folder stay as they
// were (no empty or partial file under any name) and the program ends with status 1.
// Single-threaded except for the codec's own workers.
#include "compress_uncompress_MT.h"
#include "print_report.h"
#include "vid_files.h"
#include "vid_version.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The input's length is held in a signed 32-bit number; larger files are refused.
const int64_t max_input_size = INT64_C(0x7FFFFFFF);

// Everything the program opened or allocated, released on every way out.
struct Resources {
    FILE* input = nullptr;
    FILE* output = nullptr;
    char* output_name = nullptr;
    char* temp_name = nullptr; // the output while it is written; removed unless renamed
    unsigned char* compressed = nullptr;
    unsigned char* expanded = nullptr;

    ~Resources()
    {
        if (input)
            fclose(input);
        if (output)
            fclose(output);
        if (temp_name && temp_name[0])
            unlink(temp_name);
        delete[] temp_name;
        delete[] output_name;
        delete[] compressed;
        delete[] expanded;
    }
};

// Makes a rename in the folder of `path` durable (best effort: some file systems cannot sync
// a folder, and the output's data is already on the disk).
void sync_folder_of(const char* path)
{
    const char* slash = strrchr(path, '/');
    std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
    int fd = open(folder.c_str(), O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "Usage: blockexpand <file to expand>\n.");
        return 1;
    }
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("blockexpand %s\n", VID_VERSION_STRING);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        printf(
            "usage: blockexpand FILE\n\n"
            "Expands FILE, whose whole content is one blocked-compress buffer, into FILE's name\n"
            "cut before the file name's first .zlib (or FILE.unzlib when it has none), written\n"
            "under a temporary name, synced and renamed into place; only then is FILE deleted.\n"
            "On any failure FILE and an existing output stay as they were.\n\n"
            "Exit status: 0 on success, 1 on any failure.\n");
        return 0;
    }
    const char* input_name = argv[1];
    Resources r;

    // The cut happens in the file name only: a ".zlib" in a folder name must not move the
    // output out of the input's folder. P's file name cut before its first ".zlib", else P
    // followed by ".unzlib".
    const size_t name_room = strlen(input_name) + 20;
    r.output_name = new (std::nothrow) char[name_room];
    r.temp_name = new (std::nothrow) char[name_room + 20];
    VID_RETURN_IF(!r.output_name || !r.temp_name, 1, "Out of memory.\n");
    r.temp_name[0] = '\0';
    const char* file_name = strrchr(input_name, '/');
    file_name = file_name ? file_name + 1 : input_name;
    if (const char* zlib = strstr(file_name, ".zlib")) {
        size_t keep = size_t(zlib - input_name);
        memcpy(r.output_name, input_name, keep);
        r.output_name[keep] = '\0';
    } else {
        snprintf(r.output_name, name_room, "%s.unzlib", input_name);
    }

    r.input = fopen(input_name, "rb");
    VID_RETURN_IF(!r.input, 1, "Unable to open input file in 'rb' mode.\n%s\n%s\n", input_name,
                  strerror(errno));
    struct stat input_stat;
    VID_RETURN_IF(fstat(fileno(r.input), &input_stat) == 0 && S_ISDIR(input_stat.st_mode), 1,
                  "The input is a directory, not a file.\n%s\n", input_name);

    VID_RETURN_IF(vid_fseek(r.input, 0, SEEK_END) != 0, 1,
                  "Unable to find the length of the input file.\n%s\n", input_name);
    const int64_t input_size = vid_ftell(r.input);
    VID_RETURN_IF(input_size < 0 || vid_fseek(r.input, 0, SEEK_SET) != 0, 1,
                  "Unable to find the length of the input file.\n%s\n", input_name);
    if (input_size > max_input_size) {
        VID_REPORT_STDERR(
            "The input file has %lld bytes; files of 2^31 bytes or more are not handled.\n%s\n",
            (long long)input_size, input_name);
        return 1;
    }
    r.compressed = new (std::nothrow) unsigned char[size_t(input_size ? input_size : 1)];
    VID_RETURN_IF(!r.compressed, 1, "Out of memory for %lld input bytes.\n", (long long)input_size);
    VID_RETURN_IF(fread(r.compressed, 1, size_t(input_size), r.input) != size_t(input_size), 1,
                  "Unable to read the input file.\n%s\n", input_name);
    FILE* input = r.input;
    r.input = nullptr;
    VID_RETURN_IF(fclose(input) != 0, 1, "Unable to close the input file.\n%s\n", input_name);

    unsigned long out_file_size = 0;
    int rc = uncompress_MT(r.expanded, out_file_size, r.compressed, (unsigned long)input_size);
    VID_RETURN_IF(rc != 0, 1,
                  "Could not decompress, uncompress_MT gives out_file_size = %lu bytes.\n",
                  out_file_size);

    // Only now, with the whole output in memory, is anything created: a temporary file in the
    // output's folder, renamed over the output once it is complete. A rename replaces a
    // symbolic link itself, never the file it points to (which may be the input).
    snprintf(r.temp_name, name_room + 20, "%s.partial-XXXXXX", r.output_name);
    int fd = r.output_name[0] != '\0' ? mkstemp(r.temp_name) : -1;
    if (fd < 0) {
        int reason = r.output_name[0] != '\0' ? errno : ENOENT;
        r.temp_name[0] = '\0';
        VID_REPORT_STDERR("Unable to open output file in 'wb' mode.\n%s\n%s\n", r.output_name,
                          strerror(reason));
        return 1;
    }
    // mkstemp makes the file private: give it the permissions of the file it replaces, as
    // writing over that file in place did, or those a newly created file gets.
    struct stat replaced;
    if (lstat(r.output_name, &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        fchmod(fd, replaced.st_mode & 07777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    r.output = fdopen(fd, "wb");
    if (!r.output) {
        close(fd);
        VID_REPORT_STDERR("Unable to open output file in 'wb' mode.\n%s\n%s\n", r.output_name,
                          strerror(errno));
        return 1;
    }
    VID_RETURN_IF(out_file_size > 0 &&
                      fwrite(r.expanded, 1, out_file_size, r.output) != out_file_size,
                  1, "Unable to write the output file.\n%s\n%s\n", r.output_name, strerror(errno));
    // The input is deleted below: the output must be on the disk first, data and name.
    VID_RETURN_IF(fflush(r.output) != 0 || vid_sync(r.output) != 0, 1,
                  "Unable to write and close the output file.\n%s\n%s\n", r.output_name,
                  strerror(errno));
    FILE* output = r.output;
    r.output = nullptr;
    VID_RETURN_IF(fclose(output) != 0, 1, "Unable to write and close the output file.\n%s\n%s\n",
                  r.output_name, strerror(errno));
    VID_RETURN_IF(rename(r.temp_name, r.output_name) != 0, 1,
                  "Unable to write and close the output file.\n%s\n%s\n", r.output_name,
                  strerror(errno));
    r.temp_name[0] = '\0'; // renamed: nothing to remove any more
    sync_folder_of(r.output_name);
    VID_RETURN_IF(unlink(input_name) != 0, 1, "Unable to delete the input file.\n%s\n%s\n",
                  input_name, strerror(errno));
    return 0;
}
