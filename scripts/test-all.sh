#!/usr/bin/env bash
# Checks the formatting of every C++ file, then builds and runs the whole suite three times: a plain release build, AddressSanitizer with
# UndefinedBehaviorSanitizer, and the threaded suites under ThreadSanitizer. Any failure or
# sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}

run_pass() {
    local dir=$1 label_args=$2; shift 2
    echo "=== $dir: configure and build"
    mkdir -p "$dir"
    cmake -S . -B "$dir" -DVID_WERROR=ON "$@" > "$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; exit 1; }
    cmake --build "$dir" -j "$JOBS"
    echo "=== $dir: tests"
    # shellcheck disable=SC2086
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$JOBS" $label_args
}

scripts/check-format.sh

mkdir -p build
run_pass build "" -DCMAKE_BUILD_TYPE=Release

export ASAN_OPTIONS=abort_on_error=0:halt_on_error=1:detect_leaks=1:exitcode=23
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=24
run_pass build/asan "" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVID_SANITIZE=address

export TSAN_OPTIONS=halt_on_error=1:exitcode=25:second_deadlock_stack=1
run_pass build/tsan "-L threaded" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVID_SANITIZE=thread

echo "=== all three passes succeeded"
