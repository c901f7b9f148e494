# Cross-build for Windows (i686) with the posix thread-model mingw-w64 compilers.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
