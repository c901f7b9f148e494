// file_statistics and read_frame (read-frame.h); the two-byte demosaic is in bayer16.cpp.
#include "read-frame.h"

#include <cstdio>

#include "le_bytes.h"
#include "vid_format.h"

int file_statistics(char* path, int* num_frames, int* width, int* height)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        perror(path);
        return -1;
    }
    unsigned char header[kVidHeaderBytes];
    if (fread(header, sizeof header, 1, f) != 1) {
        if (ferror(f))
            perror(path);
        else
            fprintf(stderr, "%s: unexpected end of file\n", path);
        fclose(f);
        return -1;
    }
    // The fields as stored: the width field itself (not the width it stands for) and the
    // signed count.
    const VidFileHeader fields = vid_decode_header(header);
    if (width)
        *width = fields.two_bytes ? fields.width : fields.width + kVidWidthFieldBase;
    if (height)
        *height = fields.height;
    if (num_frames)
        *num_frames = fields.count_field;
    fclose(f);
    return 0;
}

int read_frame(char*, int, int*, int*)
{
    return 0;
}
