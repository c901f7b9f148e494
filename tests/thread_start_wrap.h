// Makes a chosen worker start fail, for the tests of what the codec and the demosaic do when a
// worker cannot start. A test program linked with -Wl,--wrap=pthread_create includes this in
// one source: every thread start then comes here, and start number `refused_start` (counted
// from 0 by `thread_starts`) fails with EAGAIN.
#pragma once

#include <cerrno>
#include <pthread.h>

namespace vidtest {
inline int thread_starts = 0;
inline int refused_start = -1; // -1: none
} // namespace vidtest

extern "C" int __real_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

extern "C" int __wrap_pthread_create(pthread_t* t, const pthread_attr_t* a, void* (*f)(void*),
                                     void* arg)
{
    if (vidtest::thread_starts++ == vidtest::refused_start)
        return EAGAIN;
    return __real_pthread_create(t, a, f, arg);
}
