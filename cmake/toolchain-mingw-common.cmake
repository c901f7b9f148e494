# Shared part of the mingw-w64 toolchain files: cross-builds for Windows with the
# mingw-w64 compilers of the posix thread model (GoogleTest needs std::mutex, which the
# win32 model lacks; the system's own workers still use the Win32 thread API). Runtimes
# are linked statically, so a program or MEX module needs nothing beyond the Windows
# system DLLs (and libmx/libmex for a MEX module).
# The including toolchain file sets CMAKE_SYSTEM_PROCESSOR (x86_64 or i686).
set(CMAKE_SYSTEM_NAME Windows)
set(VID_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER   ${VID_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VID_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${VID_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL      ${VID_MINGW_TRIPLET}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${VID_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib from libz-mingw-w64-dev, the static archive rather than the zlib1.dll import library.
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run through Wine (64-bit only: 32-bit programs cannot run on our machines).
find_program(VID_WINE_EXECUTABLE wine)
if(VID_WINE_EXECUTABLE AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VID_WINE_EXECUTABLE})
endif()
