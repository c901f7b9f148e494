// blockexpand: expands a file that holds exactly one blocked-compress buffer into a file of
// the expanded bytes, then deletes the compressed file.
//
//   blockexpand P     writes P cut before its first ".zlib", or "P.unzlib" when P has none
//
// The input is deleted only after the output has been written and closed completely; on
// any failure the input stays and the program ends with status 1. Single-threaded except
// for the codec's own workers.
#include "compress_uncompress_MT.h"
#include "file_offset.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

const char* source_name()
{
    const char* name = __FILE__;
    for (const char* p = __FILE__; *p; p++)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return name;
}

// The input's length is held in a signed 32-bit number; larger files are refused.
const int64_t max_input_size = INT64_C(0x7FFFFFFF);

// Everything the program opened or allocated, released on every way out.
struct Resources {
    FILE* input = nullptr;
    FILE* output = nullptr;
    char* output_name = nullptr;
    unsigned char* compressed = nullptr;
    unsigned char* expanded = nullptr;

    ~Resources()
    {
        if (input)
            fclose(input);
        if (output)
            fclose(output);
        delete[] output_name;
        delete[] compressed;
        delete[] expanded;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "Usage: blockexpand <file to expand>\n.");
        return 1;
    }
    const char* input_name = argv[1];
    Resources r;

    // P cut before its first ".zlib", else P followed by ".unzlib".
    const size_t name_room = strlen(input_name) + 20;
    r.output_name = new (std::nothrow) char[name_room];
    if (!r.output_name) {
        fprintf(stderr, "%s:%d Out of memory.\n", source_name(), __LINE__);
        return 1;
    }
    if (const char* zlib = strstr(input_name, ".zlib")) {
        size_t keep = size_t(zlib - input_name);
        memcpy(r.output_name, input_name, keep);
        r.output_name[keep] = '\0';
    } else {
        snprintf(r.output_name, name_room, "%s.unzlib", input_name);
    }

    r.input = fopen(input_name, "rb");
    if (!r.input) {
        fprintf(stderr, "%s:%d Unable to open input file in 'rb' mode.\n%s\n", source_name(),
                __LINE__, input_name);
        return 1;
    }
    r.output = fopen(r.output_name, "wb");
    if (!r.output) {
        fprintf(stderr, "%s:%d Unable to open output file in 'wb' mode.\n%s\n", source_name(),
                __LINE__, r.output_name);
        return 1;
    }

    if (vid_fseek(r.input, 0, SEEK_END) != 0) {
        fprintf(stderr, "%s:%d Unable to find the length of the input file.\n%s\n",
                source_name(), __LINE__, input_name);
        return 1;
    }
    const int64_t input_size = vid_ftell(r.input);
    if (input_size < 0 || vid_fseek(r.input, 0, SEEK_SET) != 0) {
        fprintf(stderr, "%s:%d Unable to find the length of the input file.\n%s\n",
                source_name(), __LINE__, input_name);
        return 1;
    }
    if (input_size > max_input_size) {
        fprintf(stderr, "%s:%d The input file has %lld bytes; files of 2^31 bytes or more are not handled.\n%s\n",
                source_name(), __LINE__, (long long)input_size, input_name);
        return 1;
    }
    r.compressed = new (std::nothrow) unsigned char[size_t(input_size)];
    if (!r.compressed) {
        fprintf(stderr, "%s:%d Out of memory for %lld input bytes.\n", source_name(), __LINE__,
                (long long)input_size);
        return 1;
    }
    if (fread(r.compressed, 1, size_t(input_size), r.input) != size_t(input_size)) {
        fprintf(stderr, "%s:%d Unable to read the input file.\n%s\n", source_name(), __LINE__,
                input_name);
        return 1;
    }
    FILE* input = r.input;
    r.input = nullptr;
    if (fclose(input) != 0) {
        fprintf(stderr, "%s:%d Unable to close the input file.\n%s\n", source_name(), __LINE__,
                input_name);
        return 1;
    }

    unsigned long out_file_size = 0;
    int rc = uncompress_MT(r.expanded, out_file_size, r.compressed,
                           (unsigned long)input_size);
    if (rc != 0) {
        fprintf(stderr, "%s:%d Could not decompress, uncompress_MT gives out_file_size = %lu bytes.\n",
                source_name(), __LINE__, out_file_size);
        return 1;
    }

    if (out_file_size > 0 &&
        fwrite(r.expanded, 1, out_file_size, r.output) != out_file_size) {
        fprintf(stderr, "%s:%d Unable to write the output file.\n%s\n", source_name(), __LINE__,
                r.output_name);
        return 1;
    }
    FILE* output = r.output;
    r.output = nullptr;
    if (fclose(output) != 0) {
        fprintf(stderr, "%s:%d Unable to write and close the output file.\n%s\n", source_name(),
                __LINE__, r.output_name);
        return 1;
    }
    if (unlink(input_name) != 0) {
        fprintf(stderr, "%s:%d Unable to delete the input file.\n%s\n", source_name(), __LINE__,
                input_name);
        return 1;
    }
    return 0;
}
