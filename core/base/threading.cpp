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

#include <atomic>
#include <chrono>
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
DWORD WINAPI fan_out_adapter(LPVOID p)
{
    const ThreadStart* start = static_cast<const ThreadStart*>(p);
    start->entry(start->arg);
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

void describe_thread_start_failure(std::string*, int, int, const char*, int) {}

namespace {
// The fan-out's starts: the adapter's record lives in the caller's frame until the join.
int start_worker(HANDLE& handle, ThreadStart& start)
{
    handle = CreateThread(nullptr, 0, fan_out_adapter, &start, 0, nullptr);
    return handle ? 0 : int(GetLastError() ? GetLastError() : 1);
}
} // namespace

#else

int get_num_processing_cores()
{
    // The system reads a file for the count; a recorder asks for it for every frame, so the
    // count is asked again at most once a second.
    static std::atomic<int> known(0);
    static std::atomic<int64_t> asked_at(0);
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    const int cached = known.load(std::memory_order_relaxed);
    if (cached >= 1 && now - asked_at.load(std::memory_order_relaxed) < 1000)
        return cached;
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    const int count = n >= 1 ? int(n) : 1; // an unknown count (-1) or 0 still gives one worker
    known.store(count, std::memory_order_relaxed);
    asked_at.store(now, std::memory_order_relaxed);
    return count;
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

void describe_thread_start_failure(std::string* report, int error_number, int thread_id,
                                   const char* file, int line)
{
    // pthread_create returns its error instead of setting errno; the text is perror's.
    vid_report_add(report, "ERROR *** Unable to create a new thread : %s\n threadid %d, %s:%d.\n",
                   strerror(error_number), thread_id, file, line);
}

namespace {
struct ThreadStart {
    void* (*entry)(void*);
    void* arg;
};

int start_worker(pthread_t& handle, ThreadStart& start)
{
    return pthread_create(&handle, nullptr, start.entry, start.arg);
}
} // namespace

#endif

bool vid_fan_out_at(int count, void* (*entry)(void*), void* records, size_t record_bytes,
                    std::string* report, const char* file, int line)
{
    if (count < 1)
        count = 1;
    if (count > kVidMaxWorkers)
        count = kVidMaxWorkers;
    unsigned char* base = static_cast<unsigned char*>(records);
    THREAD_HANDLE handles[kVidMaxWorkers];
    ThreadStart starts[kVidMaxWorkers];
    bool started[kVidMaxWorkers] = {};
    bool all = true;
    for (int i = 1; i < count; i++) {
        starts[i] = ThreadStart{entry, base + size_t(i) * record_bytes};
        const int rc = start_worker(handles[i], starts[i]);
        started[i] = rc == 0;
        if (rc != 0) {
            describe_thread_start_failure(report, rc, i, file, line);
            all = false;
        }
    }
    entry(base);
    for (int i = 1; i < count; i++)
        if (started[i]) {
#ifdef _WIN32
            WaitForSingleObject(handles[i], INFINITE);
            CloseHandle(handles[i]);
#else
            pthread_join(handles[i], nullptr);
#endif
        }
    return all;
}

int vid_process_id()
{
#ifdef _WIN32
    return _getpid();
#else
    return int(getpid());
#endif
}
