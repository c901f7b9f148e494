// Multi-threaded demosaic of one Bayer frame into RGB.
//
// bayer_interpolate_MT cuts the frame into horizontal slices of an even number of rows (so
// every slice keeps the frame's colour-filter phase) and demosaics each slice on a worker of
// its own, as a complete image: no row outside a slice is read, so only the rows next to a
// slice boundary depend on where the boundaries fall. Two-byte samples go through
// bayer_interpolate_frame (edge-directed, with the channel gains), one-byte samples through
// gp_bayer_decode with tile arrangement 3 (green-red over blue-green).
//
// Each call starts its own workers (at most 8, by the frame height, never more than the
// processors online) and joins them all before it returns. Worker i reads only the input
// rows and writes only the output rows of slice i; the join is the only synchronisation.
#pragma once

#include <string>

// Work record of one worker: one slice of the frame.
class Bayer_MT_datastruct {
  public:
    unsigned int slice_start_row;               // first frame row of the slice
    unsigned int slice_height;                  // rows in the slice
    unsigned int slice_width;                   // bytes per input row
    unsigned int frame_width;                   // pixels per row
    unsigned char* slice_uninterpolated_buffer; // first input byte of the slice; not owned
    unsigned char* slice_pixmap;                // first output byte of the slice; not owned
    int vid_uses_two_bytes_per_pixel;           // 1 two-byte samples, 0 one-byte samples
    int work_done;                              // set to 1 by the worker when its slice is done

    Bayer_MT_datastruct() : frame_width(0) { init(); }

    // Clears the record; frame_width is left as it is.
    void init();

    // Fills the record for slice threadid: rows row_partitions[threadid] up to (not
    // including) row_partitions[threadid + 1] of the frame, whose input and output start at
    // frame_uninterpolated_buffer and frame_pixmap. The caller has checked that the frame's
    // byte counts fit the address space.
    void init_thread_data(unsigned int threadid, unsigned int in_frame_width,
                          unsigned int* row_partitions, unsigned char* frame_uninterpolated_buffer,
                          unsigned char* frame_pixmap, int in_vid_uses_two_bytes_per_pixel);

    // Demosaics the slice as a whole image, then sets work_done.
    void bayer_interpolate();
};

// Worker entry: runs bayer_interpolate() on the Bayer_MT_datastruct at thread_arg and
// returns null.
void* bayer_interpolate_thread(void* thread_arg);

// Number of workers for a frame of frame_height rows on num_cores processors: 1 below 250
// rows, then at most 2 (below 500), 4 (below 1500) or 8. A processor count below 1 is taken
// as 1.
unsigned int bayer_num_threads(unsigned int frame_height, int num_cores);

// Fills row_partitions[0..num_threads] with the slice boundaries: slices of
// ceil(frame_height / num_threads) rows rounded up to even, the last one shorter.
// num_threads must be at least 1.
void bayer_row_partitions(unsigned int frame_height, unsigned int num_threads,
                          unsigned int* row_partitions);

// Demosaics a frame_width x frame_height mosaic of (1 + vid_uses_two_bytes_per_pixel) bytes
// per sample into 3 * frame_width * frame_height RGB bytes. The flag must be 0 or 1.
// Returns after every worker has finished: true when every slice was demosaiced. A slice
// whose worker cannot be started is reported on stderr and keeps its former output, and the
// call returns false. A frame whose byte counts do not fit the address space (or whose width
// does not fit the per-row byte count) is reported on stderr, nothing is written and the
// call returns false; so does a flag other than 0 or 1. A frame of width or height 1 is
// demosaiced by the border rules of the routines.
bool bayer_interpolate_MT(unsigned char* frame_uninterpolated_buffer, unsigned char* frame_pixmap,
                          unsigned int frame_width, unsigned int frame_height,
                          int vid_uses_two_bytes_per_pixel);

// bayer_interpolate_MT with its reports appended to *report (null: dropped) instead of printed:
// the form the core calls.
bool vid_demosaic(const unsigned char* mosaic, unsigned char* rgb, unsigned int frame_width,
                  unsigned int frame_height, int vid_uses_two_bytes_per_pixel, std::string* report);
