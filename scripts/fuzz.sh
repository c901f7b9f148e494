#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer)
# into build/fuzz and runs each target found there for a bounded time.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [more libFuzzer arguments...]
# Each target's growing corpus lives in build/fuzz/corpus/<target>; it also reads the
# regression inputs in tests/fuzz/corpus/<target>. Inputs that fail are written to
# build/fuzz/artifacts/<target>/ and make the script fail: fix the fault, then copy the
# input into tests/fuzz/corpus/<target>/ so that CTest replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
JOBS=${JOBS:-2}
dir=build/fuzz
sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -g"

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVID_BUILD_FUZZ=ON -DVID_BUILD_MEX=OFF -DVID_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j "$JOBS" --target vid_fuzz_targets

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
failed=()
for bin in "$dir"/bin/fuzz_*; do
    [ -x "$bin" ] || continue
    name=${bin##*/fuzz_}
    mkdir -p "$dir/corpus/$name" "$dir/artifacts/$name"
    seeds="tests/fuzz/corpus/$name"
    [ -d "$seeds" ] || seeds=""
    # A target's own libFuzzer options, if any, one line in tests/fuzz/<target>.flags.
    flags=()
    [ -f "tests/fuzz/$name.flags" ] && read -r -a flags < "tests/fuzz/$name.flags"
    echo "=== $name: $seconds s"
    # -close_fd_mask=2 silences the codec's reports (libFuzzer keeps its own output).
    if ! "$bin" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=2 \
            -artifact_prefix="$dir/artifacts/$name/" "${flags[@]}" "$@" "$dir/corpus/$name" $seeds \
            > "$dir/$name.log" 2>&1; then
        failed+=("$name")
        tail -n 40 "$dir/$name.log"
    fi
    grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$dir/$name.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found failures in: ${failed[*]} (inputs in $dir/artifacts/)"
    exit 1
fi
echo "=== fuzzing found nothing"
