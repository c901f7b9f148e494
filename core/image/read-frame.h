// A stand-alone VID header reader, and the two-byte demosaic that has always been declared
// beside it (bayer16.h).
#pragma once

#include "bayer16.h"

// Reads the raw 8-byte header of the VID file at path: width field (bytes 0-1), height
// (bytes 2-3) and the signed frame count (bytes 4-7), little-endian, uncorrected. Each
// output pointer may be null. Returns 0, or -1 after printing the reason to stderr when the
// file cannot be opened or is shorter than 8 bytes.
int file_statistics(char* path, int* num_frames, int* width, int* height);

// Does nothing and returns 0.
int read_frame(char* path, int frame_number, int* width, int* height);
