// The worker fan-out shared by the codec and the demosaic, and the process identity: the
// only platform-dependent code of the core besides vid_files.h.
#pragma once

#include <cstdint>

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

// Prints the report for a worker that could not be started (the platform's error text
// behind "ERROR *** Unable to create a new thread ", then the worker index and the
// reporting place). Windows builds do not report this.
void report_thread_start_failure(int error_number, int thread_id, const char* file, int line);

// Joins every started worker, frees the handle array and the record array (after calling
// init() on every record) and sets both pointers to null. Returns 1 when every record's
// work_done is nonzero, else 0. WorkRecord needs a member work_done and init().
template <class WorkRecord>
int wait_until_processing_threads_are_done_then_cleanup(int num_threads, THREAD_HANDLE*& threads,
                                                        WorkRecord*& thread_para)
{
    join_processing_threads(num_threads, threads);
    int verdict = 1;
    for (int i = 0; i < num_threads; i++)
        if (!thread_para[i].work_done)
            verdict = 0;
    delete[] threads;
    threads = nullptr;
    for (int i = 0; i < num_threads; i++)
        thread_para[i].init();
    delete[] thread_para;
    thread_para = nullptr;
    return verdict;
}

// The process's id (getpid or _getpid).
int vid_process_id();
