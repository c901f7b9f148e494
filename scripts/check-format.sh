#!/usr/bin/env bash
# Checks every C++ source against .clang-format; fails naming the files that differ.
# Fix with: clang-format -i <file>
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.cc' '*.h' '*.inc')
else
    mapfile -t files < <(find core tools mex tests bench -name '*.cpp' -o -name '*.cc' -o -name '*.h' -o -name '*.inc')
fi
clang-format --dry-run --Werror "${files[@]}"
echo "format: ${#files[@]} files follow .clang-format"
