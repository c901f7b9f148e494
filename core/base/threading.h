// The worker fan-out of the codec, the demosaic, the compact records and the read path, and
// the process identity: the only platform-dependent code of the core besides vid_files.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "report.h"

#ifdef _WIN32
// A Win32 HANDLE, which is void*. <windows.h> stays inside the thread layer's source: its
// macros (near, far, min, max, ...) would otherwise reach every unit that uses the codec.
typedef void* THREAD_HANDLE;
#else
#include <pthread.h>
typedef pthread_t THREAD_HANDLE;
#endif

// Number of processors online at the moment of the call, at least 1.
int get_num_processing_cores();

// Starts a worker running entry(arg) with default attributes. On success stores its
// handle and returns 0; on failure stores 0 in the handle and returns the platform's
// error number (nonzero). Callers report the failure themselves.
int start_processing_thread(THREAD_HANDLE& handle, void* (*entry)(void*), void* arg);

// Waits for the workers whose handle is not 0 and releases their handles. POSIX joins
// them in index order; Windows waits for all started ones at once.
void join_processing_threads(int num_threads, THREAD_HANDLE* threads);

// Appends to *report (when not null) the text for a worker that could not be started (the
// platform's error text behind "ERROR *** Unable to create a new thread ", then the worker
// index and the reporting place). Windows builds append nothing.
void describe_thread_start_failure(std::string* report, int error_number, int thread_id,
                                   const char* file, int line);

// Most workers one fan-out runs (the codec takes 8, the demosaic 8, the compact records one
// per block, the read path one per processor).
constexpr int kVidMaxWorkers = 64;

// The fan-out every parallel part of the core uses: runs entry(record i) for i in [0, count)
// (count clamped to 1 .. kVidMaxWorkers), record 0 on the calling thread and the others on
// workers started in index order, and returns once every started worker has been joined.
// Allocates nothing. A worker that cannot start leaves its record as it was; the failure is
// appended to *report (when not null) as "ERROR *** Unable to create a new thread : <reason>\n
// threadid <i>, <file>:<line>.\n" (file and line: the caller's, see VID_FAN_OUT) and the call
// returns false. The records are `record_bytes` apart from `records`.
bool vid_fan_out_at(int count, void* (*entry)(void*), void* records, size_t record_bytes,
                    std::string* report, const char* file, int line);
// vid_fan_out_at over an array of records, naming the calling source's place.
#define VID_FAN_OUT(count, entry, records, report)                                                 \
    vid_fan_out_at(count, entry, records, sizeof *(records), report, VID_SOURCE_NAME, __LINE__)

// The process's id (getpid or _getpid).
int vid_process_id();
