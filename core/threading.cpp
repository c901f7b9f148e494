// The worker fan-out of the codec and the demosaic: the only code of the core that knows
// which thread API the platform has (POSIX threads, or the Win32 thread API on Windows).
#include "threading.h"

#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <type_traits>
#include <process.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32

static_assert(std::is_same<HANDLE, THREAD_HANDLE>::value, "THREAD_HANDLE must be a HANDLE");

int get_num_processing_cores()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors >= 1 ? int(info.dwNumberOfProcessors) : 1;
}

namespace {
// CreateThread wants DWORD WINAPI f(LPVOID); the workers are void* f(void*). Casting one to
// the other corrupts the stack on x86 (different calling conventions), so each start goes
// through this adapter with a small heap record that the worker frees itself.
struct ThreadStart {
    void* (*entry)(void*);
    void* arg;
};

DWORD WINAPI thread_start_adapter(LPVOID p)
{
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    start.entry(start.arg);
    return 0;
}
} // namespace

int start_processing_thread(THREAD_HANDLE& handle, void* (*entry)(void*), void* arg)
{
    handle = 0;
    ThreadStart* start = new (std::nothrow) ThreadStart{entry, arg};
    if (!start)
        return ENOMEM;
    HANDLE h = CreateThread(nullptr, 0, thread_start_adapter, start, 0, nullptr);
    if (!h) {
        delete start;
        return int(GetLastError() ? GetLastError() : 1);
    }
    handle = h;
    return 0;
}

void join_processing_threads(int num_threads, THREAD_HANDLE* threads)
{
    // WaitForMultipleObjects fails at once on a null handle: pass only started workers.
    HANDLE started[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    for (int i = 0; i < num_threads && count < MAXIMUM_WAIT_OBJECTS; i++)
        if (threads[i])
            started[count++] = threads[i];
    // Should the combined wait fail, wait for each worker alone: the caller frees the work
    // records right after this returns, so no worker may still be running then.
    if (count > 0 && WaitForMultipleObjects(count, started, TRUE, INFINITE) == WAIT_FAILED)
        for (DWORD i = 0; i < count; i++)
            WaitForSingleObject(started[i], INFINITE);
    for (DWORD i = 0; i < count; i++)
        CloseHandle(started[i]);
}

void report_thread_start_failure(int, int, const char*, int) {}

#else

int get_num_processing_cores()
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n >= 1 ? int(n) : 1; // an unknown count (-1) or 0 still gives one worker
}

int start_processing_thread(THREAD_HANDLE& handle, void* (*entry)(void*), void* arg)
{
    int rc = pthread_create(&handle, nullptr, entry, arg);
    if (rc != 0)
        handle = 0;
    return rc;
}

void join_processing_threads(int num_threads, THREAD_HANDLE* threads)
{
    for (int i = 0; i < num_threads; i++)
        if (threads[i] != 0)
            pthread_join(threads[i], nullptr);
}

void report_thread_start_failure(int error_number, int thread_id, const char* file, int line)
{
    // pthread_create returns its error instead of setting errno; the text is perror's.
    vid_report_printf("ERROR *** Unable to create a new thread : %s\n threadid %d, %s:%d.\n",
                      strerror(error_number), thread_id, file, line);
}

#endif

int vid_process_id()
{
#ifdef _WIN32
    return _getpid();
#else
    return int(getpid());
#endif
}
