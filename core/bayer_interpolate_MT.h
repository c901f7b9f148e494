// Multi-threaded demosaic of one Bayer frame into RGB.
#pragma once

// Demosaics a frame_width x frame_height mosaic of (1 + vid_uses_two_bytes_per_pixel) bytes
// per sample into 3 * frame_width * frame_height RGB bytes. The flag must be 0 or 1.
// Returns after every worker has finished.
void bayer_interpolate_MT(unsigned char* frame_uniterpolated_buffer, unsigned char* frame_pixmap,
                          unsigned int frame_width, unsigned int frame_height,
                          int vid_uses_two_bytes_per_pixel);
