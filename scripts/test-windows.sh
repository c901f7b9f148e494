#!/usr/bin/env bash
# Cross-builds the core, its unit tests and the MEX modules for Windows x64 and x86 with
# mingw-w64, checks every module's import and export tables, and runs the x64 tests under
# Wine with one warm Wine server. The x86 build is compiled, linked and its tables checked;
# 32-bit Windows programs cannot run on our machines, so its tests are not run.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
ROOT=$PWD
OUT=${VID_WINDOWS_BUILD:-build/windows}
GTEST_SRC=/usr/src/googletest
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}

# GoogleTest for one target, built once per build tree from the system's sources.
build_gtest() {
    local arch=$1 toolchain=$2 prefix=$OUT/gtest-$1
    if [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then return; fi
    echo "=== $arch: GoogleTest"
    cmake -S "$GTEST_SRC" -B "$OUT/gtest-$arch-build" -DCMAKE_TOOLCHAIN_FILE="$ROOT/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$ROOT/$prefix" \
        > "$OUT/gtest-$arch.log" 2>&1 || { cat "$OUT/gtest-$arch.log"; exit 1; }
    cmake --build "$OUT/gtest-$arch-build" -j "$JOBS" >> "$OUT/gtest-$arch.log" 2>&1 \
        || { cat "$OUT/gtest-$arch.log"; exit 1; }
    cmake --install "$OUT/gtest-$arch-build" >> "$OUT/gtest-$arch.log" 2>&1
}

build_arch() {
    local arch=$1 toolchain=$2
    build_gtest "$arch" "$toolchain"
    echo "=== $arch: configure and build"
    cmake -S . -B "$OUT/$arch" -DCMAKE_TOOLCHAIN_FILE="$ROOT/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DVID_WERROR=ON -DVID_USE_LIBDEFLATE=OFF \
        -DGTest_DIR="$ROOT/$OUT/gtest-$arch/lib/cmake/GTest" \
        > "$OUT/$arch.configure.log" 2>&1 || { cat "$OUT/$arch.configure.log"; exit 1; }
    cmake --build "$OUT/$arch" -j "$JOBS"
}

mkdir -p "$OUT"
build_arch x64 cmake/toolchain-mingw-x86_64.cmake
build_arch x86 cmake/toolchain-mingw-i686.cmake

# The x86 tables are checked directly: CTest would try to list the tests of the 32-bit
# programs, which cannot run here.
echo "=== x86: import and export tables (its programs cannot run here)"
tests/windows/check-pe-tables.sh i686-w64-mingw32-objdump mex mex "$OUT"/x86/mex-win/*.mexw32
tests/windows/check-pe-tables.sh i686-w64-mingw32-objdump mex program "$OUT/x86/bin"

# One Wine server for the whole run. The first run creates the prefix; the warm-up run's
# output goes to /dev/null, since Wine's background services would otherwise keep CTest's
# output pipe open.
echo "=== x64: tests under Wine"
trap 'wineserver -k 2>/dev/null || true' EXIT
[ -d "$WINEPREFIX" ] || wine wineboot --init > /dev/null 2>&1 || true
wineserver -p 2>/dev/null || true  # already running is fine
warm=$(ls "$OUT"/x64/bin/*.exe | head -n 1)
wine "$warm" --gtest_list_tests > /dev/null 2>&1 || true
ctest --test-dir "$OUT/x64" --output-on-failure -j "$JOBS"
echo "=== Windows builds: all checks passed"
