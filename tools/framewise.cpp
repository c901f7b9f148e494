// framewise: expands every frame of one VID file into ./frames/NNNNN.ppm (binary PPM).
//
// The plainest client of VidHeader: open a reader, read each frame by number, dump pixmap.
// Each report of the container is printed as it comes (vid_show_report, the command-line
// build of errbox) and the run goes on; a frame that fails to read is still dumped (black: a failed
// read clears pixmap). ./frames is created when it is missing. Exit status: 0 once every frame was
// read and written; 1 for a wrong argument count, a file that did not open completely or holds no
// frames, or when any frame could not be read or written (after all frames, with a one-line
// summary).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>

#include "VidHeader.h"
#include "errbox.h"
#include "vid_files.h"
#include "vid_version.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "Requires VID format filepath as the input argument.\n");
        return 1;
    }
    if (strcmp(argv[1], "--version") == 0) {
        printf("framewise %s\n", VID_VERSION_STRING);
        return 0;
    }
    if (strcmp(argv[1], "--help") == 0) {
        printf("usage: framewise FILE.vid\n\n"
               "Dumps every frame of a VID file as a binary PPM image into ./frames (created when\n"
               "missing), named by the 0-based frame number with at least five digits; Bayer\n"
               "frames are demosaiced. Each image is written under a temporary name and renamed\n"
               "when complete. For ranges, PNG, raw streams or Bayer samples use vid export.\n\n"
               "Exit status: 0 when every frame was read and written, 1 otherwise.\n");
        return 0;
    }

    VidHeader* reader = new (std::nothrow) VidHeader(argv[1], nullptr);
    if (reader == nullptr) {
        fprintf(stderr, "%s:%d Unable to allocate the video reader\n", __FILE__, __LINE__);
        return 1;
    }
    // A null record buffer marks every failed opening, including a short offsets table,
    // whose reader keeps the announced frame count but has nothing to read frames with.
    if (!reader->isOpen()) {
        vid_show_report(*reader, nullptr);
        delete reader;
        return 1;
    }
    if (reader->num_frames == 0) {
        fprintf(stderr, "%s holds no frames.\n", argv[1]);
        delete reader;
        return 1;
    }
    // A missing ./frames is created; if that fails, every image write reports it below.
    if (mkdir("./frames", 0777) != 0 && errno != EEXIST)
        fprintf(stderr, "Unable to create the folder ./frames: %s\n", strerror(errno));

    // An image write that fails leaves its failure in the reader's result.
    char image_name[1000];
    int failed = 0;
    for (int i = 0; i < reader->num_frames; i++) {
        bool ok = reader->readFrameFromVideoFile(i);
        vid_show_report(*reader, nullptr);
        snprintf(image_name, sizeof image_name, "./frames/%05d.ppm", i);
        reader->writePPMimage(image_name, reader->pixmap);
        vid_show_report(*reader, nullptr);
        if (!ok || reader->result != VidResult::ok)
            failed++;
        if (i % 20 == 1) {
            printf("Uncompressing frame %u to %s...\r", unsigned(i), image_name);
            fflush(stdout);
        }
    }
    int frames = reader->num_frames;
    delete reader;
    // One sync for every image: dumping runs at the disk's speed, and every image is on the
    // disk when the run ends.
    if (failed == 0 && vid_sync_file_system("./frames") != 0) {
        fprintf(stderr, "Unable to put the images in ./frames on the disk: %s\n", strerror(errno));
        return 1;
    }
    if (failed > 0) {
        fprintf(stderr, "%d of %d frames could not be read or written\n", failed, frames);
        return 1;
    }
    return 0;
}
