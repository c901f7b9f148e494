// framewise: expands every frame of one VID file into ./frames/NNNNN.ppm (binary PPM).
//
// The plainest client of VidHeader: open a reader, read each frame by number, dump pixmap.
// Reports of the container are printed by the command-line build of displayMessageBox and
// the run goes on; a frame that fails to read is still dumped from what pixmap then holds.
// Exit status: 0 once every frame was processed; 1 for a wrong argument count or a file that
// did not open completely or holds no frames.
#include <cstdio>
#include <new>

#include "VidHeader.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "Requires VID format filepath as the input argument.\n");
        return 1;
    }

    VidHeader* reader = new (std::nothrow) VidHeader(argv[1], nullptr);
    if (reader == nullptr) {
        fprintf(stderr, "%s:%d Unable to allocate the video reader\n", __FILE__, __LINE__);
        return 1;
    }
    // A null record buffer marks every failed opening, including a short offsets table,
    // whose reader keeps the announced frame count but has nothing to read frames with.
    if (reader->num_frames == 0 || reader->compressed_buffer == nullptr) {
        delete reader;
        return 1;
    }

    char image_name[1000];
    for (int i = 0; i < reader->num_frames; i++) {
        reader->readFrameFromVideoFile(i);
        snprintf(image_name, sizeof image_name, "./frames/%05d.ppm", i);
        reader->writePPMimage(image_name, reader->pixmap);
        if (i % 20 == 1) {
            printf("Uncompressing frame %u to %s...\r", unsigned(i), image_name);
            fflush(stdout);
        }
    }
    delete reader;
    return 0;
}
