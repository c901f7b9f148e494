# Cross-build for Windows (x86_64) with the posix thread-model mingw-w64 compilers.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
