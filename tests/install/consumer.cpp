// A program of someone else's that links the installed core: opens a VID file and reads a
// frame. Built by scripts/check-install.sh with find_package and with pkg-config.
#include <cstdio>
#include <vid/VidHeader.h>

int main(int argc, char** argv)
{
    VidHeader clip(argc > 1 ? argv[1] : "", stderr);
    if (!clip.isOpen() || !clip.readFrameFromVideoFile(0))
        return 1;
    printf("%d x %d, %d frames, first pixel %d\n", clip.width, clip.height, clip.num_frames,
           clip.pixmap[0]);
    return 0;
}
