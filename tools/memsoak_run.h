// The memory soak behind the memsoak program: fill a large test area with short runs of
// random bytes on one filler thread per processor, then, again and again, compress a window
// of it at a random place into the compressed area with compress_MT and expand the result
// back over the same window with uncompress_MT. All output goes to the standard error stream.
//
// The program runs the soak with the fixed sizes of memsoak_fixed_sizes(); the sizes are
// parameters so that the same loop, fillers and codec cycle can run on a few megabytes.
//
// Threads: the filler threads of a pass share the process-wide rand() generator (glibc's
// is locked) and write disjoint shares of the test area; the main thread seeds the
// generator, starts them all and joins them all before the first cycle of the pass.
// lrand48() is used by the main thread alone and is never seeded.
#pragma once

#include "threading.h"

#include <cstdint>

#include "compress_uncompress_MT.h"

// Work record of one filler thread: it fills [start_offset, end_offset) of buffer.
struct Random_values_datastruct {
    int64_t start_offset = 0;
    int64_t end_offset = 0;
    unsigned char* buffer = nullptr; // the start of the test area
};

// Filler thread entry; thread_arg is the thread's Random_values_datastruct. Writes its
// share as runs of equal bytes: for each run it draws r1 = rand(), run length
// (20 * r1) / RAND_MAX (0 to 19, 20 only for r1 == RAND_MAX), cut at the share's end, and
// r2 = rand() (drawn also for an empty run) whose low 8 bits are the byte value.
// Returns null.
void* set_random_values_thread(void* thread_arg);

// Cuts a test area of area_size bytes into num_threads shares: with s = ceil(area_size /
// num_threads), share i is [min(s * i, area_size), min(s * (i + 1), area_size)). The
// shares are disjoint, in order, and cover the area exactly; shares past the end are empty.
// records must hold num_threads entries; num_threads >= 1, area_size >= 0.
void divide_into_fill_shares(Random_values_datastruct* records, int num_threads,
                             unsigned char* buffer, int64_t area_size);

// Draws the start of the next window: 120 * lrand48(), drawn again while the window of
// window_size bytes would end past test_area_size. Requires window_size <= test_area_size;
// the fewer places fit, the more draws it takes (2^31 / (places that fit) on average).
int64_t draw_window_offset(int64_t test_area_size, int64_t window_size);

// The most memory this process can be given, in bytes: physical memory plus swap, lowered
// to the soft limits on address space and data size and to a memory limit of the control
// group the process runs in, when the system reports one. A request beyond it can only be
// met by overcommitting memory that filling it would then exhaust.
uint64_t memory_ceiling();

// The quantities of one soak. The test area is memory_size - compressed_area_size bytes.
struct MemsoakSizes {
    int64_t memory_size;          // bytes under test: compressed area plus test area
    int64_t compressed_area_size; // receives compress_MT's output; also its capacity
    int64_t window_size;          // bytes compressed and expanded in each cycle
    int passes;                   // each refills the test area
    int cycles_per_pass;
    int num_processors; // filler threads per pass
    // Starts a filler thread; null means start_processing_thread. Lets tests exercise the
    // path of a filler thread that cannot be started.
    int (*start_thread)(THREAD_HANDLE& handle, void* (*entry)(void*), void* arg);
};

// The program's fixed quantities: 515396075400 bytes under test (120 * (2^32 - 1)), a
// compressed area and window of 2^31 - 1 bytes, 500 passes of 20 cycles with seeds 12345,
// 12358, ..., and one filler thread per processor online.
MemsoakSizes memsoak_fixed_sizes();

// Runs the soak and returns the exit status: 0 after every cycle succeeded, 1 after the
// first failure (an area that cannot be allocated, a filler thread that cannot be started,
// a failed compress_MT or uncompress_MT, or sizes that do not describe a soak), each with
// its report on the standard error stream. Nothing is printed before an allocation report.
// Everything allocated is released before it returns.
int run_memsoak(const MemsoakSizes& sizes);
